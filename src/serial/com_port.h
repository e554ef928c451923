#pragma once
// TComPort: the program's serial line. One instance lives in the main window;
// the rest of the program opens and closes it through Active, sends with
// Write, and takes received bytes with ReadAvailable from its OnRxChar handler.
//
// All calls and property changes come from the UI thread. The event thread
// only waits for line events; with SynchronizeEvents (the default) the
// handlers run on the UI thread (see com_sync.h).

#include "com_error.h"
#include "com_types.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class TComDevice;
class TComThread;
class TCustomComPort;
struct TLineSettings;

// Changing any property of the four groups re-applies that group at once
// while the port is open.
class TFlowControl {
public:
    explicit TFlowControl(TCustomComPort& Owner) : FOwner(Owner) {}
    TDTRControl DTR() const { return FDTR; }
    void SetDTR(TDTRControl Value);
    TRTSControl RTS() const { return FRTS; }
    void SetRTS(TRTSControl Value);
    TXOnXOffControl XOnXOff() const { return FXOnXOff; }
    void SetXOnXOff(TXOnXOffControl Value);
    uint16_t XOnLimit() const { return FXOnLimit; }
    void SetXOnLimit(uint16_t Value);
    uint16_t XOffLimit() const { return FXOffLimit; }
    void SetXOffLimit(uint16_t Value);

private:
    TCustomComPort& FOwner;
    TDTRControl FDTR = dcDefault;
    TRTSControl FRTS = rcDefault;
    TXOnXOffControl FXOnXOff = xcDefault;
    uint16_t FXOnLimit = 0;
    uint16_t FXOffLimit = 0;
};

class TCharacters {
public:
    explicit TCharacters(TCustomComPort& Owner) : FOwner(Owner) {}
    char XOn() const { return FXOn; }
    void SetXOn(char Value);
    char XOff() const { return FXOff; }
    void SetXOff(char Value);
    char Error() const { return FError; }
    void SetError(char Value);
    char Eof() const { return FEof; }
    void SetEof(char Value);
    // The character whose arrival raises OnRxFlag.
    char Event() const { return FEvent; }
    void SetEvent(char Value);

private:
    TCustomComPort& FOwner;
    char FXOn = 17, FXOff = 19, FError = 0, FEof = 0, FEvent = 0;
};

class TBufferSizes {
public:
    explicit TBufferSizes(TCustomComPort& Owner) : FOwner(Owner) {}
    int32_t Input() const { return FInput; }
    void SetInput(int32_t Value);
    int32_t Output() const { return FOutput; }
    void SetOutput(int32_t Value);

private:
    TCustomComPort& FOwner;
    int32_t FInput = 4096, FOutput = 2048;
};

// Milliseconds; 0 switches a limit off. A read may take ReadConstant +
// ReadMultiplier * length in all and ReadInterval between two bytes.
class TTimeouts {
public:
    explicit TTimeouts(TCustomComPort& Owner) : FOwner(Owner) {}
    int32_t ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int32_t Value);
    int32_t ReadMultiplier() const { return FReadMultiplier; }
    void SetReadMultiplier(int32_t Value);
    int32_t ReadConstant() const { return FReadConstant; }
    void SetReadConstant(int32_t Value);
    int32_t WriteMultiplier() const { return FWriteMultiplier; }
    void SetWriteMultiplier(int32_t Value);
    int32_t WriteConstant() const { return FWriteConstant; }
    void SetWriteConstant(int32_t Value);

private:
    TCustomComPort& FOwner;
    int32_t FReadInterval = 0, FReadMultiplier = 0, FReadConstant = 0;
    int32_t FWriteMultiplier = 0, FWriteConstant = 0;
};

class TCustomComPort : public TObject {
public:
    explicit TCustomComPort(TObject* Owner = nullptr);
    ~TCustomComPort() override;
    TCustomComPort(const TCustomComPort&) = delete;
    TCustomComPort& operator=(const TCustomComPort&) = delete;

    TObject* Owner() const { return FOwner; }

    // Loading from the owner's definition: between BeginLoading and Loaded,
    // setting Active only records the value; Loaded applies it.
    void BeginLoading() { FLoading = true; }
    virtual void Loaded();
    bool Loading() const { return FLoading; }

    // --- properties -------------------------------------------------------
    std::string About() const;
    void SetAbout(const std::string&) {}

    bool Active() const;
    void SetActive(bool Value);

    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate Value);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits Value);
    TParity Parity() const { return FParity; }
    void SetParity(TParity Value);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits Value);
    TOptions Options() const { return FOptions; }
    void SetOptions(TOptions Value);

    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string& Value);

    TPriorityClass PriorityClass() const { return FPriorityClass; }
    void SetPriorityClass(TPriorityClass Value);
    bool SynchronizeEvents() const { return FSynchronizeEvents; }
    void SetSynchronizeEvents(bool Value);

    TFlowControl& FlowControl() { return FFlowControl; }
    const TFlowControl& FlowControl() const { return FFlowControl; }
    TCharacters& Characters() { return FCharacters; }
    const TCharacters& Characters() const { return FCharacters; }
    TBufferSizes& BufferSizes() { return FBufferSizes; }
    const TBufferSizes& BufferSizes() const { return FBufferSizes; }
    TTimeouts& Timeouts() { return FTimeouts; }
    const TTimeouts& Timeouts() const { return FTimeouts; }

    // Reading clears the errors in the driver.
    TLineErrors LineErrors();
    TModemStatus ModemStatus();

    // --- operations -------------------------------------------------------
    virtual void Open();
    void Close();

    void Write(const void* Buffer, int32_t Length, bool WaitOnCompletion);
    void Read(void* Buffer, int32_t Length, bool WaitOnCompletion);
    // Every byte waiting at the moment of the call, oldest first; never waits
    // for bytes to arrive.
    std::string ReadAvailable();
    // Bytes waiting in the receive buffer; also clears the line error state.
    int32_t InputCount();
    void ClearInput();
    void ClearOutput();

    // --- events -----------------------------------------------------------
    const TReadWriteEvent& AfterRead() const { return FAfterRead; }
    void SetAfterRead(TReadWriteEvent Value) { FAfterRead = std::move(Value); }
    const TReadWriteEvent& AfterWrite() const { return FAfterWrite; }
    void SetAfterWrite(TReadWriteEvent Value) { FAfterWrite = std::move(Value); }
    const TReadWriteEvent& BeforeRead() const { return FBeforeRead; }
    void SetBeforeRead(TReadWriteEvent Value) { FBeforeRead = std::move(Value); }
    const TReadWriteEvent& BeforeWrite() const { return FBeforeWrite; }
    void SetBeforeWrite(TReadWriteEvent Value) { FBeforeWrite = std::move(Value); }
    const TComErrorEvent& OnError() const { return FOnError; }
    void SetOnError(TComErrorEvent Value) { FOnError = std::move(Value); }

    // The line events: setting one re-applies the event mask while open.
    const TNotifyEvent& OnBreak() const { return FOnBreak; }
    void SetOnBreak(TNotifyEvent Value);
    const TNotifyEvent& OnCTSChange() const { return FOnCTSChange; }
    void SetOnCTSChange(TNotifyEvent Value);
    const TNotifyEvent& OnDSRChange() const { return FOnDSRChange; }
    void SetOnDSRChange(TNotifyEvent Value);
    const TNotifyEvent& OnEvent1() const { return FOnEvent1; }
    void SetOnEvent1(TNotifyEvent Value);
    const TNotifyEvent& OnEvent2() const { return FOnEvent2; }
    void SetOnEvent2(TNotifyEvent Value);
    const TLineErrorEvent& OnLineError() const { return FOnLineError; }
    void SetOnLineError(TLineErrorEvent Value);
    const TNotifyEvent& OnPrinterError() const { return FOnPrinterError; }
    void SetOnPrinterError(TNotifyEvent Value);
    const TNotifyEvent& OnRing() const { return FOnRing; }
    void SetOnRing(TNotifyEvent Value);
    const TNotifyEvent& OnRLSDChange() const { return FOnRLSDChange; }
    void SetOnRLSDChange(TNotifyEvent Value);
    const TNotifyEvent& OnRx80PercFull() const { return FOnRx80PercFull; }
    void SetOnRx80PercFull(TNotifyEvent Value);
    const TNotifyEvent& OnRxChar() const { return FOnRxChar; }
    void SetOnRxChar(TNotifyEvent Value);
    const TNotifyEvent& OnRxFlag() const { return FOnRxFlag; }
    void SetOnRxFlag(TNotifyEvent Value);
    const TNotifyEvent& OnTxEmpty() const { return FOnTxEmpty; }
    void SetOnTxEmpty(TNotifyEvent Value);

    // The mask of line events the assigned handlers ask for.
    uint32_t EventMask() const;

protected:
    // For tests and other platforms: a port over a given device.
    TCustomComPort(TObject* Owner, std::unique_ptr<TComDevice> Device);

private:
    friend class TComThread;
    friend class TFlowControl;
    friend class TCharacters;
    friend class TBufferSizes;
    friend class TTimeouts;

    void CloseSequence() noexcept;
    void CreateThread();
    void ApplyBufferSizes();
    void ApplyLineSettings();
    void ApplyTimeouts();
    void ApplyEventMask();
    TLineSettings LineSettings() const;
    void RefuseWhileOpen();

    // The result rule: a failed OS call becomes an EComError.
    void Check(int Code);
    [[noreturn]] void RaiseError(int32_t Code, const std::string& Message);
    void WaitForRead();
    void WaitForWrite();
    // Read and Write: the handlers around the transfer, the wait for the
    // previous one, and Start, which begins this one on the device.
    void Transfer(bool Reading, const void* Buffer, int32_t Length, bool WaitOnCompletion,
                  const std::function<int()>& Start);

    // Event thread.
    uint32_t WaitForEvent();
    // Stopped is the event thread's terminate flag: once a handler has closed
    // or destroyed the port, the dispatch must not touch it again.
    void DispatchEvents(uint32_t Events, const std::atomic<bool>& Stopped);

    TObject* FOwner;
    bool FLoading = false;

    TBaudRate FBaudRate = brDefault;
    TDataBits FDataBits = dbDefault;
    TParity FParity = paDefault;
    TStopBits FStopBits = sbDefault;
    TOptions FOptions;
    std::string FDeviceName = "COM2";
    TPriorityClass FPriorityClass = pcDefault;
    bool FSynchronizeEvents = true;
    TFlowControl FFlowControl{*this};
    TCharacters FCharacters{*this};
    TBufferSizes FBufferSizes{*this};
    TTimeouts FTimeouts{*this};

    // State besides the properties.
    bool FActiveRecorded = false;
    std::unique_ptr<TComDevice> FDevice;
    std::shared_ptr<TComThread> FThread;
    std::atomic<uint32_t> FEvents{0}; // the mask the last wait reported
    int32_t FReadLength = 0;
    int32_t FWriteLength = 0;
    std::optional<int> FSavedPriority;

    TReadWriteEvent FAfterRead, FAfterWrite, FBeforeRead, FBeforeWrite;
    TNotifyEvent FOnBreak, FOnCTSChange, FOnDSRChange;
    TComErrorEvent FOnError;
    TNotifyEvent FOnEvent1, FOnEvent2;
    TLineErrorEvent FOnLineError;
    TNotifyEvent FOnPrinterError, FOnRing, FOnRLSDChange, FOnRx80PercFull, FOnRxChar, FOnRxFlag,
        FOnTxEmpty;
};

// The published face of the port; adds no behaviour.
class TComPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;
};
