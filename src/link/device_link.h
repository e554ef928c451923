#pragma once
// The device link: the one serial port to the meters, the synchronous
// request/reply exchange on the UI thread, and the five device operations.
// Every window talks to the meters through the one DeviceLink the main
// window owns. Operations show their own failures and return false; nothing
// escapes to the caller.

#include "com_port.h"
#include "frames.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>

// One operation that reached the line, as the journal records it. The
// chart windows' polls are not operations and are never reported.
struct LinkOperation {
    enum Kind { Identify, ReadState, ReadConfig, WriteConfig, ResetCounter };
    Kind kind = Identify;
    QString port;
    SerialNumber serial = 0;      // the meter addressed
    bool ok = false;
    bool replied = false;         // a valid reply came (a refused write has one)
    QString message;              // the boxes the operation showed
    SerialNumber found = 0;       // Identify: the serial number that answered
    DeviceState state{};          // ReadState
    DeviceConfig config{};        // ReadConfig: read; WriteConfig: sent
    SerialNumber newSerial = 0;   // WriteConfig
};

class DeviceLink : public QObject {
    Q_OBJECT

public:
    static constexpr int kReplyWaitMs = 2000;
    static constexpr int kMaxSends = 4;
    // Holds the longest reply the program reads (a configuration reply).
    static constexpr int kReceiveBufferSize = 62;

    explicit DeviceLink(QObject* parent = nullptr);
    ~DeviceLink() override;

    TComPort& ComPort1() { return m_port; }
    QString PortName() const { return QString::fromStdString(m_port.DeviceName()); }
    QTimer& Timer1() { return m_timer; }

    // Waits up to interval ms for a complete reply in ReplyBuffer, pumping
    // the UI event queue meanwhile.
    void WaitReply(int interval);
    const QByteArray& ReplyBuffer() const { return m_replyBuffer; }
    bool ReplyTimedOut() const { return m_replyTimedOut; }
    const std::array<uint8_t, kReceiveBufferSize>& ReceiveBuffer() const { return m_rx; }
    const std::array<uint8_t, kWriteConfigFrameLength>& TransmitBuffer() const { return m_tx; }

    // True while an exchange (or a counter reset) is under way; a second one
    // started meanwhile, from a timer or a window opened during the wait, is
    // refused and returns false without touching the running one.
    bool Busy() const { return m_busy; }
    // False, after one information box, while another exchange holds the
    // line. Every operation asks it first; a command that does more than one
    // operation, or changes what the program holds, asks it before it starts,
    // so a refusal sends nothing and changes nothing.
    bool LineFree();

    bool IdentifyDevice(SerialNumber n);
    bool ReadDeviceState(SerialNumber n, DeviceState& destination);
    // The chart windows' poll: a refusal is a failed read without a box (a
    // poll every 200 ms must not raise boxes).
    bool PollDeviceState(SerialNumber n, DeviceState& destination);
    bool ReadDeviceConfig(SerialNumber n, DeviceConfig& destination);
    bool WriteDeviceConfig(SerialNumber target, SerialNumber newSerial, const DeviceConfig& source);
    void ResetDeviceCounter(SerialNumber n);

    // The main window's reads, into its own records.
    bool ReadMainState(SerialNumber n);
    bool ReadMainConfig(SerialNumber n);

    // Called after every operation that reached the line (not after a
    // refusal while the line is busy, nor after a poll).
    std::function<void(const LinkOperation&)> OnOperation;

    // The serial number of the meter last addressed.
    SerialNumber CurrentSerialNumber = 0;
    DeviceState MainState{};
    DeviceConfig MainConfig{};
    int VolumeScale = 0;
    bool ErrorFlag = false;

public slots:
    void ComPort1RxChar();
    void Timer1Timer();

private:
    struct Texts {
        QString noReply;  // after four silent sends
        QString checksum;
        QString deviceType;
        QString failure;  // the catch-all box
    };
    static Texts IdentifyTexts(SerialNumber n);
    static Texts StateTexts(SerialNumber n);
    static Texts ConfigTexts();

    // Sends the frame in the transmit buffer and collects the reply; on a
    // valid reply hands the receive buffer to onReply, whose result is the
    // operation's.
    bool Exchange(int frameLength, const Texts& texts, const std::function<bool()>& onReply);
    // The reads: a plain request naming the command, then Exchange; they
    // differ only in the command, the texts and what they take from the reply.
    bool Read(SerialNumber n, uint8_t command, const Texts& texts, const std::function<bool()>& onReply);

    // Hands op, with the boxes shown since mark, to OnOperation.
    void Report(LinkOperation op, quint64 mark);

    TComPort m_port;
    QTimer m_timer;
    QByteArray m_replyBuffer;
    bool m_replyTimedOut = false;
    bool m_busy = false;
    bool m_polling = false;
    std::array<uint8_t, kWriteConfigFrameLength> m_tx{};
    std::array<uint8_t, kReceiveBufferSize> m_rx{};
};
