#pragma once
// Types of the serial port component: enumerations, sets and event signatures.
// Member order matters: value 0 of every enumeration is its Default member,
// which leaves the driver's own setting untouched.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <type_traits>

struct TObject {
    virtual ~TObject() = default;
};

// A set over an enumeration with at most 32 members: a bit mask with set
// operations, so options read as a list of names (`{opCheckParity}`).
template <typename E>
class TSet {
    static_assert(std::is_enum_v<E>);

public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members)
    {
        for (E m : members)
            Include(m);
    }
    static constexpr TSet FromBits(uint32_t bits)
    {
        TSet s;
        s.FBits = bits;
        return s;
    }

    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr void Include(E m) { FBits |= Bit(m); }
    constexpr void Exclude(E m) { FBits &= ~Bit(m); }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr uint32_t Bits() const { return FBits; }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr uint32_t Bit(E m) { return uint32_t{1} << static_cast<unsigned>(m); }
    uint32_t FBits = 0;
};

enum TBaudRate {
    brDefault, br110, br300, br600, br1200, br2400, br4800, br9600, br10400, br14400,
    br19200, br28800, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits { dbDefault, db4, db5, db6, db7, db8 };
enum TParity { paDefault, paNone, paOdd, paEven, paMark, paSpace };
enum TStopBits { sbDefault, sb1, sb1_5, sb2 };
enum TDTRControl { dcDefault, dcDisable, dcEnable, dcHandshake };
enum TRTSControl { rcDefault, rcDisable, rcEnable, rcHandshake, rcToggle };
enum TXOnXOffControl { xcDefault, xcDisable, xcInput, xcOutput, xcInputOutput };
enum TPriorityClass { pcDefault, pcIdle, pcNormal, pcHigh, pcRealTime };

enum TOption {
    opCheckParity, opOutputCTSFlow, opOutputDSRFlow, opDSRSensitivity,
    opTXContinueOnXOff, opUseErrorChar, opDiscardNullBytes, opAbortOnError
};
using TOptions = TSet<TOption>;

enum TModemStatusValue { msCTS, msDSR, msRing, msRLSD };
using TModemStatus = TSet<TModemStatusValue>;

enum TLineError {
    leBreak, leDeviceNotSelected, leFrame, leIO, leMode, leOutOfPaper, leOverrun,
    leDeviceTimeOut, leRxOverflow, leParity, leTxFull
};
using TLineErrors = TSet<TLineError>;

// caRaise lets an error go on to the caller; caAbort turns it into a silent abort.
enum TComAction { caRaise, caAbort };

// Line event bits, as the event wait reports them.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_PERR = 0x0200;
inline constexpr uint32_t EV_RX80FULL = 0x0400;
inline constexpr uint32_t EV_EVENT1 = 0x0800;
inline constexpr uint32_t EV_EVENT2 = 0x1000;

class TCustomComPort;
class EComError;

using TNotifyEvent = std::function<void(TObject* Sender)>;
// Buffer is the caller's buffer: the bytes to send, or the bytes read so far.
using TReadWriteEvent =
    std::function<void(TObject* Sender, const void* Buffer, int32_t Length, bool WaitOnCompletion)>;
using TComErrorEvent = std::function<void(TCustomComPort* ComPort, EComError& E, TComAction& Action)>;
using TLineErrorEvent = std::function<void(TObject* Sender, TLineErrors LineErrors)>;
