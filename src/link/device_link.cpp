#include "device_link.h"

#include "exchange_trace.h"
#include "messages.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstring>

namespace {

// Marks the exchange busy for its whole duration, also when it ends by an error.
class BusyScope {
public:
    explicit BusyScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~BusyScope() { m_flag = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& m_flag;
};

// A checksum or device-type failure: ends the exchange through the catch-all.
struct ExchangeAbort {};

QString Sn(SerialNumber n) { return QStringLiteral("SN ") + QString::number(n); }

LinkOperation Operation(LinkOperation::Kind kind, SerialNumber n)
{
    LinkOperation op;
    op.kind = kind;
    op.serial = n;
    return op;
}

}  // namespace

DeviceLink::DeviceLink(QObject* parent) : QObject(parent)
{
    m_timer.setObjectName(QStringLiteral("Timer1"));
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the wait is a promise to the meter.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kReplyWaitMs);
    connect(&m_timer, &QTimer::timeout, this, &DeviceLink::Timer1Timer);

    // The meters' line: 9600 8N1, DTR and RTS on, 2000 ms total read limit.
    m_port.BeginLoading();
    m_port.SetBaudRate(br9600);
    m_port.SetDataBits(db8);
    m_port.SetParity(paNone);
    m_port.SetStopBits(sb1);
    m_port.FlowControl().SetDTR(dcEnable);
    m_port.FlowControl().SetRTS(rcEnable);
    m_port.Timeouts().SetReadConstant(2000);
    m_port.SetOnRxChar([this](TObject*) { ComPort1RxChar(); });
    m_port.Loaded();
}

DeviceLink::~DeviceLink()
{
    m_port.Close();
}

void DeviceLink::ComPort1RxChar()
{
    const std::string bytes = m_port.ReadAvailable();
    m_replyBuffer.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

void DeviceLink::Timer1Timer()
{
    m_timer.stop();
    m_replyTimedOut = true;
}

void DeviceLink::WaitReply(int interval)
{
    m_timer.stop();
    m_timer.setInterval(interval);
    m_replyTimedOut = false;
    m_timer.start();

    // Whatever arrived before this wait belongs to an earlier request.
    m_replyBuffer.clear();

    for (;;) {
        if (!m_replyBuffer.isEmpty() && m_replyBuffer.size() == static_cast<uint8_t>(m_replyBuffer.at(0))) {
            m_timer.stop();
            return;
        }
        if (m_replyTimedOut)
            return;
        // Sleeps until an event comes: received bytes or the timer.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

DeviceLink::Texts DeviceLink::IdentifyTexts(SerialNumber n)
{
    return {Sn(n) + QStringLiteral(" Нет ответа."), Sn(n) + QStringLiteral("Ошибка CRC8"),
            Sn(n) + QStringLiteral(" Неверный тип прибора"), Sn(n) + QStringLiteral(" Нет ответа")};
}

DeviceLink::Texts DeviceLink::StateTexts(SerialNumber n)
{
    return {Sn(n) + QStringLiteral("Нет ответа."), Sn(n) + QStringLiteral("Ошибка CRC8"),
            Sn(n) + QStringLiteral("Неверный тип прибора"), Sn(n) + QStringLiteral("Нет ответа")};
}

DeviceLink::Texts DeviceLink::ConfigTexts()
{
    return {QStringLiteral("Нет ответа."), QStringLiteral("Ошибка CRC8"), QStringLiteral("Неверный тип прибора"),
            QStringLiteral("Нет ответа")};
}

bool DeviceLink::Exchange(int frameLength, const Texts& texts, const std::function<bool()>& onReply)
{
    try {
        for (int sends = kMaxSends; sends > 0; --sends) {
            m_port.Write(m_tx.data(), frameLength, true);
            TraceFrame(TraceDirection::Sent, m_tx.data(), frameLength);
            WaitReply(kReplyWaitMs);
            TraceReply(m_replyBuffer);
            // Only silence is worth another send; a garbled reply is not retried.
            if (!m_replyBuffer.isEmpty())
                break;
        }
        if (m_replyBuffer.isEmpty()) {
            ShowMessage(MsgKind::Error, texts.noReply);
            return false;
        }

        // A reply longer than any the meters send (noise on the line) is
        // refused as a checksum failure instead of overrunning the buffer;
        // so is one shorter than its own length byte, or than a length and
        // a device type: the values would be read from where the previous
        // reply stood, and a frame that lost its last byte still sums right
        // one time in 256.
        const int count = static_cast<int>(m_replyBuffer.size());
        const bool tooLong = count > kReceiveBufferSize;
        std::memcpy(m_rx.data(), m_replyBuffer.constData(), static_cast<size_t>(std::min(count, kReceiveBufferSize)));

        if (tooLong || count < std::max(2, int(m_rx[0])) || !CheckFrameChecksum(m_rx.data(), count)) {
            ShowMessage(MsgKind::Error, texts.checksum);
            throw ExchangeAbort{};
        }
        if (m_rx[1] != kDeviceType) {
            ShowMessage(MsgKind::Error, texts.deviceType);
            throw ExchangeAbort{};
        }
        return onReply();
    } catch (...) {
        // Checksum, device type, and every port failure (closed, write error).
        ShowMessage(MsgKind::Error, texts.failure);
        return false;
    }
}

bool DeviceLink::LineFree()
{
    if (!m_busy)
        return true;
    ShowMessage(MsgKind::Information, QStringLiteral("Линия связи занята другим обменом с приборами. Повторите "
                                                     "команду, когда он закончится."));
    return false;
}

bool DeviceLink::Read(SerialNumber n, uint8_t command, const Texts& texts, const std::function<bool()>& onReply)
{
    if (!LineFree())
        return false;
    BusyScope busy(m_busy);
    CurrentSerialNumber = n;
    const auto frame = BuildRequest(n, command);
    std::copy(frame.begin(), frame.end(), m_tx.begin());
    return Exchange(kRequestLength, texts, onReply);
}

void DeviceLink::Report(LinkOperation op, quint64 mark)
{
    if (!OnOperation || m_polling)
        return;
    op.port = PortName();
    op.message = ShownMessagesSince(mark);
    OnOperation(op);
}

bool DeviceLink::IdentifyDevice(SerialNumber n)
{
    if (!LineFree())
        return false;
    const quint64 mark = ShownMessageMark();
    LinkOperation op = Operation(LinkOperation::Identify, n);
    op.ok = op.replied = Read(n, kCmdIdentify, IdentifyTexts(n), [this] {
        CurrentSerialNumber = static_cast<SerialNumber>(m_rx[2] | (m_rx[3] << 8));
        return true;
    });
    op.found = op.ok ? CurrentSerialNumber : 0;
    Report(op, mark);
    return op.ok;
}

bool DeviceLink::ReadDeviceState(SerialNumber n, DeviceState& destination)
{
    if (!LineFree())
        return false;
    const quint64 mark = ShownMessageMark();
    LinkOperation op = Operation(LinkOperation::ReadState, n);
    op.ok = op.replied = Read(n, kCmdReadState, StateTexts(n), [this, &destination] {
        destination = DecodeDeviceState(m_rx.data() + 5);
        ErrorFlag = false;
        return true;
    });
    if (op.ok)
        op.state = destination;
    Report(op, mark);
    return op.ok;
}

bool DeviceLink::PollDeviceState(SerialNumber n, DeviceState& destination)
{
    if (m_busy)
        return false;
    m_polling = true;
    const bool ok = ReadDeviceState(n, destination);
    m_polling = false;
    return ok;
}

bool DeviceLink::ReadDeviceConfig(SerialNumber n, DeviceConfig& destination)
{
    if (!LineFree())
        return false;
    const quint64 mark = ShownMessageMark();
    LinkOperation op = Operation(LinkOperation::ReadConfig, n);
    op.ok = op.replied = Read(n, kCmdReadConfig, ConfigTexts(), [this, &destination] {
        destination = DecodeDeviceConfig(m_rx.data() + 7);
        ErrorFlag = false;
        return true;
    });
    if (op.ok)
        op.config = destination;
    Report(op, mark);
    return op.ok;
}

bool DeviceLink::WriteDeviceConfig(SerialNumber target, SerialNumber newSerial, const DeviceConfig& source)
{
    if (!LineFree())
        return false;
    const quint64 mark = ShownMessageMark();
    LinkOperation op = Operation(LinkOperation::WriteConfig, target);
    op.config = source;
    op.newSerial = newSerial;
    {
        BusyScope busy(m_busy);
        CurrentSerialNumber = target;
        m_tx = BuildWriteConfigFrame(target, newSerial, source);
        op.ok = Exchange(kWriteConfigFrameLength, ConfigTexts(), [this, newSerial, &op] {
            op.replied = true;
            ErrorFlag = false;
            if (m_rx[5] == 1) {
                ShowMessage(MsgKind::Plain, QStringLiteral("Изменение параметров блокировано"));
                return false;
            }
            ShowMessage(MsgKind::Information, QStringLiteral("Параметры изменены"));
            CurrentSerialNumber = newSerial;
            return true;
        });
    }
    Report(op, mark);
    return op.ok;
}

void DeviceLink::ResetDeviceCounter(SerialNumber n)
{
    if (!LineFree())
        return;
    const quint64 mark = ShownMessageMark();
    bool written = false;
    {
        BusyScope busy(m_busy);
        CurrentSerialNumber = n;
        const auto frame = BuildRequest(n, kCmdResetCounter);
        std::copy(frame.begin(), frame.end(), m_tx.begin());
        try {
            m_port.Write(m_tx.data(), kRequestLength, true);
            TraceFrame(TraceDirection::Sent, m_tx.data(), kRequestLength);
            written = true;
        } catch (...) {
        }
        // The boxes come after the write so that no box opens inside it.
        if (written)
            ShowMessage(MsgKind::Information, QStringLiteral("ЗРМ очищено"));
        else
            ShowMessage(MsgKind::Error, QStringLiteral("ОШИБКА обращения к порту"));
    }
    LinkOperation op = Operation(LinkOperation::ResetCounter, n);
    op.ok = written;
    Report(op, mark);
}

bool DeviceLink::ReadMainState(SerialNumber n)
{
    return ReadDeviceState(n, MainState);
}

bool DeviceLink::ReadMainConfig(SerialNumber n)
{
    if (!ReadDeviceConfig(n, MainConfig))
        return false;
    VolumeScale = ::VolumeScale(MainConfig.Dy);
    return true;
}
