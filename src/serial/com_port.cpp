#include "com_port.h"

#include "com_device.h"
#include "com_thread.h"
#include "sync_call.h"

#include <system_error>

namespace {

// Indexed by TBaudRate; brDefault has no rate.
constexpr uint32_t kBaudRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,   10400,
                                   14400, 19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};
static_assert(std::size(kBaudRates) == br256000 + 1);

// Stores Value if it differs and runs Apply, which re-applies the group
// while the port is open.
template <typename T, typename F>
void Change(T& Field, const T& Value, F Apply)
{
    if (Field == Value)
        return;
    Field = Value;
    Apply();
}

} // namespace

// --- settings groups -------------------------------------------------------

#define ZRM_LINE_SETTER(Class, Name, Type)                                                         \
    void Class::Set##Name(Type Value)                                                              \
    {                                                                                              \
        Change(F##Name, Value, [this] {                                                            \
            if (FOwner.Active())                                                                   \
                FOwner.ApplyLineSettings();                                                        \
        });                                                                                        \
    }

ZRM_LINE_SETTER(TFlowControl, DTR, TDTRControl)
ZRM_LINE_SETTER(TFlowControl, RTS, TRTSControl)
ZRM_LINE_SETTER(TFlowControl, XOnXOff, TXOnXOffControl)
ZRM_LINE_SETTER(TFlowControl, XOnLimit, uint16_t)
ZRM_LINE_SETTER(TFlowControl, XOffLimit, uint16_t)
ZRM_LINE_SETTER(TCharacters, XOn, char)
ZRM_LINE_SETTER(TCharacters, XOff, char)
ZRM_LINE_SETTER(TCharacters, Error, char)
ZRM_LINE_SETTER(TCharacters, Eof, char)
ZRM_LINE_SETTER(TCharacters, Event, char)
#undef ZRM_LINE_SETTER

void TBufferSizes::SetInput(int32_t Value)
{
    Change(FInput, Value, [this] { if (FOwner.Active()) FOwner.ApplyBufferSizes(); });
}
void TBufferSizes::SetOutput(int32_t Value)
{
    Change(FOutput, Value, [this] { if (FOwner.Active()) FOwner.ApplyBufferSizes(); });
}

#define ZRM_TIMEOUT_SETTER(Name)                                                                   \
    void TTimeouts::Set##Name(int32_t Value)                                                       \
    {                                                                                              \
        Change(F##Name, Value, [this] {                                                            \
            if (FOwner.Active())                                                                   \
                FOwner.ApplyTimeouts();                                                            \
        });                                                                                        \
    }

ZRM_TIMEOUT_SETTER(ReadInterval)
ZRM_TIMEOUT_SETTER(ReadMultiplier)
ZRM_TIMEOUT_SETTER(ReadConstant)
ZRM_TIMEOUT_SETTER(WriteMultiplier)
ZRM_TIMEOUT_SETTER(WriteConstant)
#undef ZRM_TIMEOUT_SETTER

// --- the port ----------------------------------------------------------------

TCustomComPort::TCustomComPort(TObject* Owner) : TCustomComPort(Owner, CreateComDevice()) {}

TCustomComPort::TCustomComPort(TObject* Owner, std::unique_ptr<TComDevice> Device)
    : FOwner(Owner), FDevice(std::move(Device))
{
}

TCustomComPort::~TCustomComPort()
{
    CloseSequence();
}

void TCustomComPort::Loaded()
{
    FLoading = false;
    SetActive(FActiveRecorded);
}

std::string TCustomComPort::About() const
{
    return "TComPort: serial line component with an event thread, for the ZRM scanner";
}

bool TCustomComPort::Active() const { return FDevice->IsOpen(); }

void TCustomComPort::SetActive(bool Value)
{
    FActiveRecorded = Value;
    if (FLoading || Value == Active())
        return;
    if (Value)
        Open();
    else
        Close();
}

void TCustomComPort::SetBaudRate(TBaudRate Value)
{
    Change(FBaudRate, Value, [this] { if (Active()) ApplyLineSettings(); });
}
void TCustomComPort::SetDataBits(TDataBits Value)
{
    Change(FDataBits, Value, [this] { if (Active()) ApplyLineSettings(); });
}
void TCustomComPort::SetParity(TParity Value)
{
    Change(FParity, Value, [this] { if (Active()) ApplyLineSettings(); });
}
void TCustomComPort::SetStopBits(TStopBits Value)
{
    Change(FStopBits, Value, [this] { if (Active()) ApplyLineSettings(); });
}
void TCustomComPort::SetOptions(TOptions Value)
{
    Change(FOptions, Value, [this] { if (Active()) ApplyLineSettings(); });
}

void TCustomComPort::RefuseWhileOpen()
{
    if (Active())
        RaiseError(0, SOpenPort);
}

void TCustomComPort::SetDeviceName(const std::string& Value)
{
    if (Value == FDeviceName)
        return;
    RefuseWhileOpen();
    FDeviceName = Value;
}

void TCustomComPort::SetPriorityClass(TPriorityClass Value)
{
    if (Value == FPriorityClass)
        return;
    RefuseWhileOpen();
    FPriorityClass = Value;
}

void TCustomComPort::SetSynchronizeEvents(bool Value)
{
    if (Value == FSynchronizeEvents)
        return;
    RefuseWhileOpen();
    FSynchronizeEvents = Value;
}

TLineErrors TCustomComPort::LineErrors()
{
    TLineErrors errors;
    Check(FDevice->LineErrors(errors));
    return errors;
}

TModemStatus TCustomComPort::ModemStatus()
{
    if (!Active())
        RaiseError(0, SClosedPort);
    TModemStatus status;
    Check(FDevice->ModemStatus(status));
    return status;
}

// --- error path ----------------------------------------------------------------

void TCustomComPort::Check(int Code)
{
    if (Code != 0)
        RaiseError(Code, SystemErrorText(Code));
}

void TCustomComPort::RaiseError(int32_t Code, const std::string& Message)
{
    EComError error(Code, Message);
    if (FOnError) {
        TComAction action = caRaise;
        TComErrorEvent handler = FOnError;
        handler(this, error, action);
        if (action == caAbort)
            throw EComAbort();
    }
    throw error;
}

// --- open and close ------------------------------------------------------------

void TCustomComPort::Open()
{
    if (Active())
        return;
    try {
        CloseSequence();
        if (FPriorityClass != pcDefault) {
            FSavedPriority = SaveProcessPriority();
            SetProcessPriority(FPriorityClass);
        }
        Check(FDevice->CreateSignals());
        CreateThread();
        Check(FDevice->Open(FDeviceName));
        ClearInput();
        ClearOutput();
        ApplyBufferSizes();
        ApplyLineSettings();
        ApplyTimeouts();
        ApplyEventMask();
    } catch (...) {
        CloseSequence();
        throw;
    }
}

void TCustomComPort::CreateThread()
{
    try {
        FThread = TComThread::Create(this);
    } catch (const std::system_error&) {
        FThread.reset();
    }
    if (!FThread)
        RaiseError(0, SNoThread);
}

void TCustomComPort::Close() { CloseSequence(); }

// Every step has its own guard, so this runs on a port in any partial state.
// It never fails: a port whose device has gone (an unplugged adapter) must
// still close, or it could never be opened again.
void TCustomComPort::CloseSequence() noexcept
{
    if (FDevice->IsOpen()) {
        FDevice->Purge(TPurge::Input);
        FDevice->Purge(TPurge::Output);
        int32_t moved = 0;
        if (FDevice->ReadPending())
            FDevice->WaitRead(moved);
        if (FDevice->WritePending())
            FDevice->WaitWrite(moved);
    }
    if (FThread) {
        FThread->Terminate();
        FDevice->SetEventMask(0); // ends a pending wait
        if (FThread->Suspended())
            FThread->Resume();
        FThread->WaitFor();
        FThread.reset();
    }
    FDevice->Close();
    FDevice->CloseSignals();
    if (FSavedPriority) {
        RestoreProcessPriority(*FSavedPriority);
        FSavedPriority.reset();
    }
}

// --- applying settings -----------------------------------------------------------

TLineSettings TCustomComPort::LineSettings() const
{
    TLineSettings s;
    if (FBaudRate != brDefault)
        s.BaudRate = kBaudRates[FBaudRate];
    if (FDataBits != dbDefault)
        s.DataBits = 3 + static_cast<int>(FDataBits); // db4 is 1
    if (FParity != paDefault)
        s.Parity = FParity;
    if (FStopBits != sbDefault)
        s.StopBits = FStopBits;
    s.XOnChar = FCharacters.XOn();
    s.XOffChar = FCharacters.XOff();
    s.ErrorChar = FCharacters.Error();
    s.EofChar = FCharacters.Eof();
    s.EventChar = FCharacters.Event();
    s.DTR = FFlowControl.DTR();
    s.RTS = FFlowControl.RTS();
    s.XOnXOff = FFlowControl.XOnXOff();
    s.XOnLimit = FFlowControl.XOnLimit();
    s.XOffLimit = FFlowControl.XOffLimit();
    s.Options = FOptions;
    return s;
}

void TCustomComPort::ApplyBufferSizes()
{
    Check(FDevice->SetupBuffers(FBufferSizes.Input(), FBufferSizes.Output()));
}

void TCustomComPort::ApplyLineSettings() { Check(FDevice->ApplyLine(LineSettings())); }

void TCustomComPort::ApplyTimeouts()
{
    TTimeoutValues t;
    t.ReadInterval = FTimeouts.ReadInterval();
    t.ReadMultiplier = FTimeouts.ReadMultiplier();
    t.ReadConstant = FTimeouts.ReadConstant();
    t.WriteMultiplier = FTimeouts.WriteMultiplier();
    t.WriteConstant = FTimeouts.WriteConstant();
    Check(FDevice->ApplyTimeouts(t));
}

uint32_t TCustomComPort::EventMask() const
{
    static constexpr struct {
        TNotifyEvent TCustomComPort::*Handler;
        uint32_t Bit;
    } kMask[] = {
        {&TCustomComPort::FOnRxChar, EV_RXCHAR},     {&TCustomComPort::FOnRxFlag, EV_RXFLAG},
        {&TCustomComPort::FOnTxEmpty, EV_TXEMPTY},   {&TCustomComPort::FOnCTSChange, EV_CTS},
        {&TCustomComPort::FOnDSRChange, EV_DSR},     {&TCustomComPort::FOnRLSDChange, EV_RLSD},
        {&TCustomComPort::FOnBreak, EV_BREAK},       {&TCustomComPort::FOnRing, EV_RING},
        {&TCustomComPort::FOnPrinterError, EV_PERR}, {&TCustomComPort::FOnRx80PercFull, EV_RX80FULL},
        {&TCustomComPort::FOnEvent1, EV_EVENT1},     {&TCustomComPort::FOnEvent2, EV_EVENT2},
    };
    uint32_t mask = FOnLineError ? EV_ERR : 0;
    for (const auto& m : kMask)
        if (this->*m.Handler)
            mask |= m.Bit;
    return mask;
}

void TCustomComPort::ApplyEventMask()
{
    const uint32_t mask = EventMask();
    if (mask == 0 && FThread && !FThread->Suspended())
        FThread->Suspend();
    Check(FDevice->SetEventMask(mask));
    if (mask != 0 && FThread && FThread->Suspended())
        FThread->Resume();
}

#define ZRM_EVENT_SETTER(Name, Type)                                                               \
    void TCustomComPort::Set##Name(Type Value)                                                     \
    {                                                                                              \
        F##Name = std::move(Value);                                                                \
        if (Active())                                                                              \
            ApplyEventMask();                                                                      \
    }

ZRM_EVENT_SETTER(OnBreak, TNotifyEvent)
ZRM_EVENT_SETTER(OnCTSChange, TNotifyEvent)
ZRM_EVENT_SETTER(OnDSRChange, TNotifyEvent)
ZRM_EVENT_SETTER(OnEvent1, TNotifyEvent)
ZRM_EVENT_SETTER(OnEvent2, TNotifyEvent)
ZRM_EVENT_SETTER(OnLineError, TLineErrorEvent)
ZRM_EVENT_SETTER(OnPrinterError, TNotifyEvent)
ZRM_EVENT_SETTER(OnRing, TNotifyEvent)
ZRM_EVENT_SETTER(OnRLSDChange, TNotifyEvent)
ZRM_EVENT_SETTER(OnRx80PercFull, TNotifyEvent)
ZRM_EVENT_SETTER(OnRxChar, TNotifyEvent)
ZRM_EVENT_SETTER(OnRxFlag, TNotifyEvent)
ZRM_EVENT_SETTER(OnTxEmpty, TNotifyEvent)
#undef ZRM_EVENT_SETTER

// --- transfers -------------------------------------------------------------------

void TCustomComPort::WaitForWrite()
{
    if (!FDevice->WritePending())
        return;
    int32_t moved = 0;
    Check(FDevice->WaitWrite(moved));
    if (moved != FWriteLength)
        RaiseError(0, STimeout);
}

void TCustomComPort::WaitForRead()
{
    if (!FDevice->ReadPending())
        return;
    int32_t moved = 0;
    Check(FDevice->WaitRead(moved));
    if (moved != FReadLength)
        RaiseError(0, STimeout);
}

void TCustomComPort::Transfer(bool Reading, const void* Buffer, int32_t Length, bool WaitOnCompletion,
                              const std::function<int()>& Start)
{
    if (!Active())
        RaiseError(0, SClosedPort);
    const auto WaitForTransfer = [this, Reading] { Reading ? WaitForRead() : WaitForWrite(); };
    if (const TReadWriteEvent& before = Reading ? FBeforeRead : FBeforeWrite) {
        TReadWriteEvent handler = before;
        handler(this, Buffer, Length, WaitOnCompletion);
    }
    WaitForTransfer();
    (Reading ? FReadLength : FWriteLength) = Length;
    if (Length > 0) {
        Check(Start());
        if (WaitOnCompletion)
            WaitForTransfer();
    }
    if (const TReadWriteEvent& after = Reading ? FAfterRead : FAfterWrite) {
        TReadWriteEvent handler = after;
        handler(this, Buffer, Length, WaitOnCompletion);
    }
}

void TCustomComPort::Write(const void* Buffer, int32_t Length, bool WaitOnCompletion)
{
    Transfer(false, Buffer, Length, WaitOnCompletion, [&] { return FDevice->StartWrite(Buffer, Length); });
}

void TCustomComPort::Read(void* Buffer, int32_t Length, bool WaitOnCompletion)
{
    Transfer(true, Buffer, Length, WaitOnCompletion, [&] { return FDevice->StartRead(Buffer, Length); });
}

std::string TCustomComPort::ReadAvailable()
{
    WaitForRead();
    const int32_t count = InputCount();
    std::string bytes(size_t(count), '\0');
    Read(bytes.data(), count, true);
    return bytes;
}

int32_t TCustomComPort::InputCount()
{
    int32_t count = 0;
    Check(FDevice->InputCount(count));
    return count;
}

void TCustomComPort::ClearInput()
{
    if (Active())
        Check(FDevice->Purge(TPurge::Input));
}

void TCustomComPort::ClearOutput()
{
    if (Active())
        Check(FDevice->Purge(TPurge::Output));
}

// --- event thread ------------------------------------------------------------------

uint32_t TCustomComPort::WaitForEvent()
{
    FEvents = FDevice->WaitEvent();
    return FEvents;
}

void TCustomComPort::DispatchEvents(uint32_t Events, const std::atomic<bool>& Stopped)
{
    // The handler order is fixed; OnLineError (nullptr here) takes the errors.
    static constexpr struct {
        uint32_t Bit;
        TNotifyEvent TCustomComPort::*Handler;
    } kOrder[] = {
        {EV_BREAK, &TCustomComPort::FOnBreak},         {EV_CTS, &TCustomComPort::FOnCTSChange},
        {EV_DSR, &TCustomComPort::FOnDSRChange},       {EV_ERR, nullptr},
        {EV_EVENT1, &TCustomComPort::FOnEvent1},       {EV_EVENT2, &TCustomComPort::FOnEvent2},
        {EV_PERR, &TCustomComPort::FOnPrinterError},   {EV_RING, &TCustomComPort::FOnRing},
        {EV_RLSD, &TCustomComPort::FOnRLSDChange},     {EV_RX80FULL, &TCustomComPort::FOnRx80PercFull},
        {EV_RXCHAR, &TCustomComPort::FOnRxChar},       {EV_RXFLAG, &TCustomComPort::FOnRxFlag},
        {EV_TXEMPTY, &TCustomComPort::FOnTxEmpty},
    };
    try {
        for (const auto& e : kOrder) {
            if ((Events & e.Bit) == 0)
                continue;
            // Handlers are copied: one may replace itself while it runs.
            if (!e.Handler) {
                if (FOnLineError) {
                    TLineErrorEvent handler = FOnLineError;
                    handler(this, LineErrors());
                }
            } else if (this->*e.Handler) {
                TNotifyEvent handler = this->*e.Handler;
                handler(this);
            }
            if (Stopped)
                return;
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}
