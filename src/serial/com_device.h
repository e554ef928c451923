#pragma once
// The operating system behind the serial port component. Every OS call of the
// component sits in one backend file; the component keeps the sequences, the
// event mask, the dispatch and the error path.
//
// Operations return 0 on success or the system's error code; the component
// turns a code into EComError (the "result rule").

#include "com_types.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The line settings the component governs. An empty optional is a Default
// member: that setting of the driver is left as it is.
struct TLineSettings {
    std::optional<uint32_t> BaudRate;  // bit/s
    std::optional<int> DataBits;       // 4..8
    std::optional<TParity> Parity;     // never paDefault
    std::optional<TStopBits> StopBits; // never sbDefault
    char XOnChar = 17, XOffChar = 19, ErrorChar = 0, EofChar = 0, EventChar = 0;
    TDTRControl DTR = dcDefault;
    TRTSControl RTS = rcDefault;
    TXOnXOffControl XOnXOff = xcDefault;
    uint16_t XOnLimit = 0, XOffLimit = 0;
    TOptions Options;
};

// Milliseconds; 0 switches a limit off. A ReadInterval of -1 (all bits set)
// with both read multipliers 0 and ReadConstant 0 makes a read return at once
// with what is there.
struct TTimeoutValues {
    int32_t ReadInterval = 0, ReadMultiplier = 0, ReadConstant = 0;
    int32_t WriteMultiplier = 0, WriteConstant = 0;
};

enum class TPurge { Input, Output };

class TComDevice {
public:
    virtual ~TComDevice() = default;

    // The completion signals and wake-up descriptors; exist from open step 4
    // to close step 4.
    virtual int CreateSignals() = 0;
    virtual void CloseSignals() = 0;

    virtual int Open(const std::string& Name) = 0;
    virtual bool IsOpen() const = 0;
    virtual void Close() = 0;

    // Aborts pending transfers of that direction and drops buffered bytes.
    virtual int Purge(TPurge What) = 0;
    virtual int SetupBuffers(int32_t Input, int32_t Output) = 0;
    virtual int ApplyLine(const TLineSettings& Settings) = 0;
    virtual int ApplyTimeouts(const TTimeoutValues& Timeouts) = 0;

    // Setting the mask, also to 0, ends a pending WaitEvent (with 0).
    virtual int SetEventMask(uint32_t Mask) = 0;
    // Event thread: blocks until a masked event happened. Never spins: a
    // device that went away is no longer waited on.
    virtual uint32_t WaitEvent() = 0;

    // Transfers: Start* begins one (it may complete at once), Wait* blocks
    // until the pending one has ended and gives the bytes it moved.
    virtual int StartRead(void* Buffer, int32_t Length) = 0;
    virtual bool ReadPending() const = 0;
    virtual int WaitRead(int32_t& Transferred) = 0;
    virtual int StartWrite(const void* Buffer, int32_t Length) = 0;
    virtual bool WritePending() const = 0;
    virtual int WaitWrite(int32_t& Transferred) = 0;

    // Bytes a read can take at once; also clears the line error state.
    virtual int InputCount(int32_t& Count) = 0;
    // The line errors since they were last cleared; clears them.
    virtual int LineErrors(TLineErrors& Errors) = 0;
    virtual int ModemStatus(TModemStatus& Status) = 0;
};

std::unique_ptr<TComDevice> CreateComDevice();

// The system's message text for an error code.
std::string SystemErrorText(int Code);

// Process priority class: Save returns the current class (a backend value),
// Set changes it; both best effort, as the open sequence ignores failures.
int SaveProcessPriority();
void SetProcessPriority(TPriorityClass Class);
void RestoreProcessPriority(int Saved);
