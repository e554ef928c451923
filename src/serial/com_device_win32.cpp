// The serial port on Windows: the Win32 communications services, overlapped
// transfers and an overlapped event wait. Every operating-system call of the
// serial component on Windows is here.
//
// The event wait is started overlapped and waited on together with a wake-up
// event of our own, rather than as a plain blocking WaitCommEvent:
// - a blocking call on a handle opened for overlapped I/O is not defined;
// - SetCommMask ends only a wait that is already pending. A mask set just
//   before the thread enters the wait (close does that) would leave it
//   blocked with an empty mask; the wake-up event stays set until it is seen;
// - a device that went away may never end a pending wait, and neither
//   CancelIoEx nor SetCommMask is guaranteed to end it then (wine refuses
//   both). The thread still wakes, and a wait that cannot be ended is given
//   up with its record, so Close cannot hang on it.
// All strings are UTF-8 in the program; names and texts cross the API as
// UTF-16.

#include "com_device_win32.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace {

constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;   // 0x0A
constexpr DWORD kPurgeOutput = PURGE_TXABORT | PURGE_TXCLEAR;  // 0x05
// How long closing waits for a pending event wait to end once it was told
// to, per attempt; a device that is still there ends it in microseconds.
constexpr DWORD kSettleMs = 100;
constexpr int kSettleAttempts = 5;

std::wstring Widen(const std::string& Text)
{
    if (Text.empty())
        return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t* Text, size_t Length)
{
    if (Length == 0)
        return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, Text, int(Length), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Text, int(Length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

int LastError()
{
    return static_cast<int>(::GetLastError());
}

// The record of one overlapped event wait. The driver writes into it until
// the wait has ended, so it lives on the heap and is given up, not freed,
// when a wait cannot be ended.
struct TWaitRecord {
    OVERLAPPED Overlapped{};
    DWORD Events = 0;
    HANDLE Done = nullptr; // manual reset

    ~TWaitRecord()
    {
        if (Done)
            ::CloseHandle(Done);
    }
};

class TWin32ComDevice final : public TComDevice {
public:
    ~TWin32ComDevice() override
    {
        Close();
        CloseSignals();
    }

    int CreateSignals() override
    {
        CloseSignals();
        // Manual reset and signalled: "no transfer in progress".
        FReadDone = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (!FReadDone)
            return FailSignals();
        FWriteDone = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (!FWriteDone)
            return FailSignals();
        // Auto reset: a doorbell for the event thread; the flags say why.
        FWake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (!FWake)
            return FailSignals();
        FWait = std::make_unique<TWaitRecord>();
        FWait->Done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!FWait->Done)
            return FailSignals();
        return 0;
    }

    void CloseSignals() override
    {
        for (HANDLE* h : {&FReadDone, &FWriteDone, &FWake})
            if (*h) {
                ::CloseHandle(*h);
                *h = nullptr;
            }
        FWait.reset();
    }

    int Open(const std::string& Name) override
    {
        HANDLE h = ::CreateFileW(Widen(Name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return LastError();
        FHandle = h;
        // The driver keeps the line settings after we close: put back the
        // ones we found, so the next program meets the port as it was.
        FSaved = {};
        FSaved.DCBlength = sizeof FSaved;
        FHaveSaved = ::GetCommState(h, &FSaved) != 0;
        FReadPending = false;
        FWritePending = false;
        FWaitFailed = false;
        FCarried = 0;
        return 0;
    }

    bool IsOpen() const override { return FHandle != INVALID_HANDLE_VALUE; }

    void Close() override
    {
        if (FHandle == INVALID_HANDLE_VALUE)
            return;
        if (FHaveSaved)
            ::SetCommState(FHandle, &FSaved);
        FHaveSaved = false;
        ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
        FReadPending = false;
        FWritePending = false;
    }

    int Purge(TPurge What) override
    {
        return ::PurgeComm(FHandle, What == TPurge::Input ? kPurgeInput : kPurgeOutput) ? 0 : LastError();
    }

    int SetupBuffers(int32_t Input, int32_t Output) override
    {
        return ::SetupComm(FHandle, DWORD(Input), DWORD(Output)) ? 0 : LastError();
    }

    int ApplyLine(const TLineSettings& Settings) override
    {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(FHandle, &dcb))
            return LastError();
        ComposeDcb(dcb, Settings);
        return ::SetCommState(FHandle, &dcb) ? 0 : LastError();
    }

    int ApplyTimeouts(const TTimeoutValues& Timeouts) override
    {
        COMMTIMEOUTS t{};
        if (!::GetCommTimeouts(FHandle, &t))
            return LastError();
        t.ReadIntervalTimeout = DWORD(Timeouts.ReadInterval);
        t.ReadTotalTimeoutMultiplier = DWORD(Timeouts.ReadMultiplier);
        t.ReadTotalTimeoutConstant = DWORD(Timeouts.ReadConstant);
        t.WriteTotalTimeoutMultiplier = DWORD(Timeouts.WriteMultiplier);
        t.WriteTotalTimeoutConstant = DWORD(Timeouts.WriteConstant);
        return ::SetCommTimeouts(FHandle, &t) ? 0 : LastError();
    }

    int SetEventMask(uint32_t Mask) override
    {
        std::lock_guard lock(FMaskLock);
        // Flag and doorbell first: a pending wait that SetCommMask ends must
        // already find the reason for it.
        FMask = Mask;
        FMaskChanged = true;
        if (FWake)
            ::SetEvent(FWake);
        if (!::SetCommMask(FHandle, Mask))
            return LastError();
        return FWake ? 0 : ERROR_INVALID_HANDLE;
    }

    uint32_t WaitEvent() override
    {
        RaiseThreadPriority();
        for (;;) {
            uint32_t mask;
            {
                // Under the lock: a mask change is either seen here or
                // complete before the wait below starts, so the wait it ends
                // is never taken for a failure.
                std::lock_guard lock(FMaskLock);
                if (FMaskChanged.exchange(false))
                    return 0;
                mask = FMask;
            }
            if (uint32_t carried = std::exchange(FCarried, 0) & mask)
                return carried;
            if (mask == 0 || FWaitFailed || !FWait) {
                // Nothing to wait for on the device: only for a new mask or
                // for Close.
                ::WaitForSingleObject(FWake, INFINITE);
                continue;
            }

            TWaitRecord& w = *FWait;
            w.Overlapped = {};
            w.Overlapped.hEvent = w.Done;
            w.Events = 0;
            ::ResetEvent(w.Done);
            if (::WaitCommEvent(FHandle, &w.Events, &w.Overlapped)) {
                if (uint32_t events = w.Events & mask)
                    return events;
                continue;
            }
            if (::GetLastError() != ERROR_IO_PENDING) {
                WaitEnded();
                continue;
            }

            HANDLE handles[2] = {w.Done, FWake};
            if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
                DWORD unused = 0;
                if (::GetOverlappedResult(FHandle, &w.Overlapped, &unused, FALSE)) {
                    if (uint32_t events = w.Events & mask)
                        return events;
                } else {
                    WaitEnded();
                }
                continue;
            }
            // Woken while the wait is pending: it has to end before its
            // record can be used again. Events it caught meanwhile are kept
            // for the next wait.
            FCarried |= SettlePendingWait();
        }
    }

    int StartRead(void* Buffer, int32_t Length) override
    {
        // A read done at once (the bytes were there, or its time limits let
        // it return immediately) leaves nothing to wait for.
        return StartTransfer(FRead, FReadDone, FReadPending, false, [&](OVERLAPPED* Record) {
            return ::ReadFile(FHandle, Buffer, DWORD(Length), nullptr, Record);
        });
    }

    bool ReadPending() const override { return FReadPending; }

    int WaitRead(int32_t& Transferred) override
    {
        return Complete(FRead, FReadPending, Transferred);
    }

    int StartWrite(const void* Buffer, int32_t Length) override
    {
        // Pending either way: the completion wait takes the count from the
        // record, as it does for a write that had to wait.
        return StartTransfer(FWrite, FWriteDone, FWritePending, true, [&](OVERLAPPED* Record) {
            return ::WriteFile(FHandle, Buffer, DWORD(Length), nullptr, Record);
        });
    }

    bool WritePending() const override { return FWritePending; }

    int WaitWrite(int32_t& Transferred) override
    {
        return Complete(FWrite, FWritePending, Transferred);
    }

    int InputCount(int32_t& Count) override
    {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(FHandle, &errors, &stat))
            return LastError();
        Count = static_cast<int32_t>(stat.cbInQue);
        return 0;
    }

    int LineErrors(TLineErrors& Errors) override
    {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(FHandle, &errors, &stat))
            return LastError();
        Errors = LineErrorsFromFlags(errors);
        return 0;
    }

    int ModemStatus(TModemStatus& Status) override
    {
        DWORD bits = 0;
        if (!::GetCommModemStatus(FHandle, &bits))
            return LastError();
        Status = ModemStatusFromBits(bits);
        return 0;
    }

private:
    int FailSignals()
    {
        int err = LastError();
        CloseSignals();
        return err;
    }

    // Starts an overlapped transfer on its record and signal; PendingWhenDone:
    // whether a transfer done at once still leaves its count to Complete.
    template <class Start>
    int StartTransfer(OVERLAPPED& Record, HANDLE Done, bool& Pending, bool PendingWhenDone, Start start)
    {
        Record = {};
        Record.hEvent = Done;
        if (!::ResetEvent(Done))
            return LastError();
        if (start(&Record)) {
            Pending = PendingWhenDone;
            return 0;
        }
        int err = LastError();
        if (err == ERROR_IO_PENDING) {
            Pending = true;
            return 0;
        }
        // No transfer exists: the signal must not say one is in progress.
        Pending = false;
        ::SetEvent(Done);
        return err;
    }

    // A transfer's completion wait. A read that runs out of time ends TRUE
    // with fewer bytes on Windows and FALSE with ERROR_TIMEOUT under wine:
    // both are a completed transfer that moved fewer bytes, which the
    // component reports as "Timeout".
    int Complete(OVERLAPPED& Record, bool& Pending, int32_t& Transferred)
    {
        Transferred = 0;
        if (!Pending)
            return 0;
        Pending = false;
        DWORD moved = 0;
        BOOL ok = ::GetOverlappedResult(FHandle, &Record, &moved, TRUE);
        Transferred = static_cast<int32_t>(moved);
        if (ok)
            return 0;
        int err = LastError();
        return err == ERROR_TIMEOUT ? 0 : err;
    }

    // Event thread. A wait that failed without being asked to end means the
    // device no longer reports events (it went away, or its driver cannot
    // wait): waiting on it again would only fail again, at full speed.
    void WaitEnded()
    {
        if (!FMaskChanged)
            FWaitFailed = true;
    }

    // Event thread: ends the pending wait; the events it reported.
    uint32_t SettlePendingWait()
    {
        TWaitRecord& w = *FWait;
        for (int attempt = 0; attempt < kSettleAttempts; ++attempt) {
            ::CancelIoEx(FHandle, &w.Overlapped);
            {
                // A wait the driver holds ends on any new mask; setting the
                // current one again changes nothing else.
                std::lock_guard lock(FMaskLock);
                ::SetCommMask(FHandle, FMask);
            }
            if (::WaitForSingleObject(w.Done, kSettleMs) == WAIT_OBJECT_0) {
                DWORD unused = 0;
                if (::GetOverlappedResult(FHandle, &w.Overlapped, &unused, FALSE))
                    return w.Events;
                return 0;
            }
        }
        // The device does not answer any more, and the driver may still write
        // into the record one day: it keeps it, deliberately never freed.
        static_cast<void>(FWait.release());
        FWaitFailed = true;
        FWait = std::make_unique<TWaitRecord>();
        FWait->Done = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!FWait->Done)
            FWait.reset();
        return 0;
    }

    static void RaiseThreadPriority()
    {
        // Once per event thread: the thread only waits, and must get the CPU
        // as soon as bytes arrive.
        thread_local bool raised = false;
        if (!raised) {
            ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
            raised = true;
        }
    }

    HANDLE FHandle = INVALID_HANDLE_VALUE;
    DCB FSaved{};
    bool FHaveSaved = false;
    HANDLE FReadDone = nullptr;
    HANDLE FWriteDone = nullptr;
    HANDLE FWake = nullptr;
    std::unique_ptr<TWaitRecord> FWait;

    OVERLAPPED FRead{};
    OVERLAPPED FWrite{};
    bool FReadPending = false;
    bool FWritePending = false;

    std::mutex FMaskLock; // the mask on the device and FMask agree
    std::atomic<uint32_t> FMask{0};
    std::atomic<bool> FMaskChanged{false};
    std::atomic<bool> FWaitFailed{false};
    uint32_t FCarried = 0; // event thread only
};

} // namespace

void ComposeDcb(DCB& Dcb, const TLineSettings& s)
{
    if (s.BaudRate)
        Dcb.BaudRate = *s.BaudRate;
    if (s.DataBits)
        Dcb.ByteSize = BYTE(*s.DataBits);
    if (s.Parity) // paNone..paSpace: NOPARITY..SPACEPARITY
        Dcb.Parity = BYTE(*s.Parity - paNone);
    if (s.StopBits) // sb1, sb1_5, sb2: ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        Dcb.StopBits = BYTE(*s.StopBits - sb1);

    Dcb.XonChar = s.XOnChar;
    Dcb.XoffChar = s.XOffChar;
    Dcb.ErrorChar = s.ErrorChar;
    Dcb.EofChar = s.EofChar;
    Dcb.EvtChar = s.EventChar;

    if (s.DTR != dcDefault) // DTR_CONTROL_DISABLE, _ENABLE, _HANDSHAKE
        Dcb.fDtrControl = DWORD(s.DTR - dcDisable);
    if (s.RTS != rcDefault) // RTS_CONTROL_DISABLE, _ENABLE, _HANDSHAKE, _TOGGLE
        Dcb.fRtsControl = DWORD(s.RTS - rcDisable);
    if (s.XOnXOff != xcDefault) {
        Dcb.fInX = s.XOnXOff == xcInput || s.XOnXOff == xcInputOutput;
        Dcb.fOutX = s.XOnXOff == xcOutput || s.XOnXOff == xcInputOutput;
    }
    Dcb.XonLim = s.XOnLimit;
    Dcb.XoffLim = s.XOffLimit;

    const TOptions& o = s.Options;
    Dcb.fParity = o.Contains(opCheckParity);
    Dcb.fOutxCtsFlow = o.Contains(opOutputCTSFlow);
    Dcb.fOutxDsrFlow = o.Contains(opOutputDSRFlow);
    Dcb.fDsrSensitivity = o.Contains(opDSRSensitivity);
    Dcb.fTXContinueOnXoff = o.Contains(opTXContinueOnXOff);
    Dcb.fErrorChar = o.Contains(opUseErrorChar);
    Dcb.fNull = o.Contains(opDiscardNullBytes);
    Dcb.fAbortOnError = o.Contains(opAbortOnError);
}

TLineErrors LineErrorsFromFlags(DWORD Flags)
{
    static constexpr struct {
        DWORD Flag;
        TLineError Error;
    } kErrors[] = {
        {CE_BREAK, leBreak},     {CE_DNS, leDeviceNotSelected}, {CE_FRAME, leFrame},
        {CE_IOE, leIO},          {CE_MODE, leMode},             {CE_OOP, leOutOfPaper},
        {CE_OVERRUN, leOverrun}, {CE_PTO, leDeviceTimeOut},     {CE_RXOVER, leRxOverflow},
        {CE_RXPARITY, leParity}, {CE_TXFULL, leTxFull},
    };
    TLineErrors errors;
    for (const auto& e : kErrors)
        if (Flags & e.Flag)
            errors.Include(e.Error);
    return errors;
}

TModemStatus ModemStatusFromBits(DWORD Bits)
{
    TModemStatus status;
    if (Bits & MS_CTS_ON) status.Include(msCTS);
    if (Bits & MS_DSR_ON) status.Include(msDSR);
    if (Bits & MS_RING_ON) status.Include(msRing);
    if (Bits & MS_RLSD_ON) status.Include(msRLSD);
    return status;
}

DWORD PriorityClassValue(TPriorityClass Class)
{
    switch (Class) {
    case pcIdle: return IDLE_PRIORITY_CLASS;
    case pcNormal: return NORMAL_PRIORITY_CLASS;
    case pcHigh: return HIGH_PRIORITY_CLASS;
    case pcRealTime: return REALTIME_PRIORITY_CLASS;
    default: return 0;
    }
}

std::unique_ptr<TComDevice> CreateComDevice() { return std::make_unique<TWin32ComDevice>(); }

std::string SystemErrorText(int Code)
{
    wchar_t buffer[512];
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               DWORD(Code), 0, buffer, DWORD(std::size(buffer)), nullptr);
    // The system's texts end in a full stop and CR LF; the error box adds
    // its own full stop.
    while (n > 0 && (buffer[n - 1] <= L' ' || buffer[n - 1] == L'.'))
        --n;
    if (n == 0)
        return "System error " + std::to_string(Code);
    return Narrow(buffer, n);
}

int SaveProcessPriority()
{
    return static_cast<int>(::GetPriorityClass(::GetCurrentProcess()));
}

void SetProcessPriority(TPriorityClass Class)
{
    if (DWORD value = PriorityClassValue(Class))
        ::SetPriorityClass(::GetCurrentProcess(), value);
}

void RestoreProcessPriority(int Saved)
{
    if (Saved != 0)
        ::SetPriorityClass(::GetCurrentProcess(), DWORD(Saved));
}
