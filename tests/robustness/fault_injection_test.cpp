// Every device operation against every fault the virtual bench can inject,
// over a real pseudo-terminal. For each pair: the user gets exactly the
// expected Russian boxes, the UI keeps serving events during the wait, a
// poller firing meanwhile (as the windows' timers do) is refused without a
// second request on the line, no request goes out while an earlier one is
// still within its reply window, and the operation works again once the
// fault ends.

#include "device_link.h"
#include "diameter_defaults.h"
#include "meter_bench.h"
#include "qt_serial_events.h"
#include "scripted_messages.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using metersim::FaultSpec;
using metersim::FlowProfile;
using metersim::MeterBench;
using metersim::MeterSpec;
using std::chrono::milliseconds;

namespace {

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(ms - t.elapsed()));
}

enum class Op { Identify, ReadState, ReadConfig, WriteConfig, ResetCounter };
enum class Fault {
    Silence, NthSend, BadChecksum, WrongType, Short, OverLong, Split, Late, Garbage, Collision,
    UnplugMidReply, UnplugIdle, Replug
};

const char* OpName(Op op)
{
    static const char* const names[] = {"Identify", "ReadState", "ReadConfig", "WriteConfig", "ResetCounter"};
    return names[int(op)];
}

const char* FaultName(Fault f)
{
    static const char* const names[] = {"Silence", "NthSend", "BadChecksum", "WrongType", "Short", "OverLong",
                                        "Split", "Late", "Garbage", "Collision", "UnplugMidReply", "UnplugIdle",
                                        "Replug"};
    return names[int(f)];
}

// What the user must be told.
enum class Outcome { Ok, NoReply, Garbled, WrongType, PortFailure };

Outcome Expected(Fault f, Op op)
{
    if (op == Op::ResetCounter) {
        // The reset does not wait for a reply: only a dead port shows.
        return (f == Fault::UnplugIdle || f == Fault::Replug) ? Outcome::PortFailure : Outcome::Ok;
    }
    switch (f) {
    case Fault::Silence: return Outcome::NoReply;
    case Fault::NthSend: case Fault::Split: case Fault::Late: return Outcome::Ok;
    case Fault::BadChecksum: case Fault::Short: case Fault::OverLong: case Fault::Garbage:
    case Fault::Collision: return Outcome::Garbled;
    case Fault::WrongType: return Outcome::WrongType;
    case Fault::UnplugMidReply: case Fault::UnplugIdle: case Fault::Replug: return Outcome::PortFailure;
    }
    return Outcome::Ok;
}

QString Sn(SerialNumber n) { return QStringLiteral("SN ") + QString::number(n); }

// The boxes of each outcome, per operation.
std::vector<ShownMessage> Boxes(Op op, Outcome outcome, SerialNumber n)
{
    const auto E = [](QString t) { return ShownMessage{MsgKind::Error, std::move(t), mbOK}; };
    QString noReply, checksum, type, failure;
    switch (op) {
    case Op::Identify:
        noReply = Sn(n) + " Нет ответа."; checksum = Sn(n) + "Ошибка CRC8";
        type = Sn(n) + " Неверный тип прибора"; failure = Sn(n) + " Нет ответа";
        break;
    case Op::ReadState:
        noReply = Sn(n) + "Нет ответа."; checksum = Sn(n) + "Ошибка CRC8";
        type = Sn(n) + "Неверный тип прибора"; failure = Sn(n) + "Нет ответа";
        break;
    case Op::ReadConfig: case Op::WriteConfig:
        noReply = "Нет ответа."; checksum = "Ошибка CRC8"; type = "Неверный тип прибора"; failure = "Нет ответа";
        break;
    case Op::ResetCounter:
        if (outcome == Outcome::Ok)
            return {{MsgKind::Information, "ЗРМ очищено", mbOK}};
        return {E("ОШИБКА обращения к порту")};
    }
    switch (outcome) {
    case Outcome::Ok:
        if (op == Op::WriteConfig)
            return {{MsgKind::Information, "Параметры изменены", mbOK}};
        return {};
    case Outcome::NoReply: return {E(noReply)};
    case Outcome::Garbled: return {E(checksum), E(failure)};
    case Outcome::WrongType: return {E(type), E(failure)};
    case Outcome::PortFailure: return {E(failure)};
    }
    return {};
}

constexpr SerialNumber kMeter = 512;
constexpr SerialNumber kOther = 555;

class FaultInjection : public ::testing::TestWithParam<std::tuple<Fault, Op>> {
protected:
    FaultInjection()
    {
        InstallQtSerialEventDelivery();
        linkPath = (dir.path() + QStringLiteral("/ttyBench")).toStdString();
    }

    bool Run(Op op, SerialNumber n)
    {
        DeviceState s;
        DeviceConfig c;
        switch (op) {
        case Op::Identify: return link->IdentifyDevice(n);
        case Op::ReadState: return link->ReadDeviceState(n, s);
        case Op::ReadConfig: return link->ReadDeviceConfig(n, c);
        case Op::WriteConfig: return link->WriteDeviceConfig(n, n == 0 ? kMeter : n, DefaultConfigFor(0));
        case Op::ResetCounter: link->ResetDeviceCounter(n); return true;
        }
        return false;
    }

    void Reopen()
    {
        link->ComPort1().Close();
        link->ComPort1().SetDeviceName(linkPath);
        link->ComPort1().Open();
    }

    // Consecutive requests: the later one leaves after a reply came in, or
    // after the earlier one's reply window closed.
    void ExpectOneRequestAtATime()
    {
        std::vector<metersim::ReceivedFrame> requests;
        for (const auto& f : bench->Received())
            if (f.valid)
                requests.push_back(f);
        const auto replies = bench->Sent();
        for (size_t i = 1; i < requests.size(); ++i) {
            // The reset awaits no reply: nothing is outstanding after it.
            if (requests[i - 1].bytes.size() > 4 && requests[i - 1].bytes[4] == kCmdResetCounter)
                continue;
            const auto from = requests[i - 1].lastByte;
            const auto to = requests[i].firstByte;
            bool answered = false;
            for (const auto& r : replies)
                answered = answered || (r.start >= from && r.start <= to);
            const auto gap = std::chrono::duration_cast<milliseconds>(to - from).count();
            EXPECT_TRUE(answered || gap >= DeviceLink::kReplyWaitMs - 100)
                << "request " << i << " went out " << gap << " ms after the previous one, unanswered";
        }
    }

    QTemporaryDir dir;
    std::string linkPath;
    ScopedScriptedMessages boxes;
    std::unique_ptr<MeterBench> bench;
    std::unique_ptr<DeviceLink> link = std::make_unique<DeviceLink>();
};

TEST_P(FaultInjection, ToldSurvivedAndRecovered)
{
    const auto [fault, op] = GetParam();
    if (op == Op::ResetCounter && fault == Fault::UnplugMidReply)
        GTEST_SKIP() << "the reset waits for no reply";

    bench = std::make_unique<MeterBench>(linkPath);
    MeterSpec m;
    m.serial = kMeter;
    m.diameterIndex = 0;
    m.flow = FlowProfile::Constant(2.5);
    SerialNumber target = kMeter;
    switch (fault) {
    case Fault::Silence: m.fault.silent = true; break;
    case Fault::NthSend: m.fault.answerFromSend = 3; break;
    case Fault::BadChecksum: m.fault.badChecksum = true; break;
    case Fault::WrongType: m.fault.wrongDeviceType = true; break;
    case Fault::Short: m.fault.cutBytes = 1; break;
    case Fault::OverLong: m.fault.extraBytes = 2; break;
    case Fault::Split: m.fault.splitPieces = 3; m.fault.splitGapMs = 30; break;
    case Fault::Late: m.fault.lateMs = 2500; break;
    case Fault::Garbage: m.fault.garbageBytes = 3; break;
    case Fault::UnplugMidReply: m.fault.lateMs = 1000; break;
    case Fault::Collision: {
        target = 0;
        m.blocked = true;  // a write to both keeps their serial numbers
        MeterSpec other = m;
        other.serial = kOther;
        other.diameterIndex = 3;
        bench->AddMeter(other);
        break;
    }
    default: break;
    }
    bench->AddMeter(m);
    bench->Start();
    link->ComPort1().SetDeviceName(linkPath);
    link->ComPort1().Open();

    if (fault == Fault::UnplugIdle)
        bench->Unplug();
    if (fault == Fault::Replug) {
        bench->Unplug();
        Pump(50);
        bench->Replug();
    }
    if (fault == Fault::UnplugMidReply)
        QTimer::singleShot(300, [&] { bench->Unplug(); });

    // The windows' pollers: a timer that keeps asking while the exchange waits.
    int ticks = 0, refused = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer poller;
    poller.setInterval(25);
    QObject::connect(&poller, &QTimer::timeout, [&] {
        ++ticks;
        longestGap = std::max(longestGap, sinceTick.restart());
        DeviceState s;
        if (link->Busy() && !link->ReadDeviceState(target, s))
            ++refused;
    });
    poller.start();
    const auto requestsBefore = bench->Received().size();

    const Outcome outcome = Expected(fault, op);
    const bool ok = Run(op, target);
    poller.stop();
    longestGap = std::max(longestGap, sinceTick.elapsed());

    if (op != Op::ResetCounter) {  // it reports through its boxes only
        EXPECT_EQ(ok, outcome == Outcome::Ok);
    }
    EXPECT_EQ(boxes.shown(), Boxes(op, outcome, target));
    EXPECT_FALSE(link->Busy());
    EXPECT_EQ(ticks, refused) << "a poll during the exchange was not refused";
    // The UI keeps turning: no gap between timer events beyond a few ticks,
    // except for boxes, which the script answers at once.
    if (op != Op::ResetCounter && fault != Fault::UnplugIdle && fault != Fault::Replug) {
        EXPECT_LT(longestGap, 500) << "the UI stalled for " << longestGap << " ms";
    }
    if (fault == Fault::NthSend && op != Op::ResetCounter) {
        EXPECT_EQ(bench->Received().size() - requestsBefore, 3u);
    }
    if (fault == Fault::Silence && op != Op::ResetCounter) {
        EXPECT_EQ(bench->Received().size() - requestsBefore, size_t(DeviceLink::kMaxSends));
        EXPECT_GT(ticks, 100) << "the poller hardly ran during an 8 s exchange";
    }
    ExpectOneRequestAtATime();

    // The fault ends: the same operation works again. The reset does not
    // wait for its acknowledgement; a user needs longer than the meter to
    // close the box and press again.
    boxes.clear();
    if (op == Op::ResetCounter)
        Pump(100);
    switch (fault) {
    case Fault::Late: Pump(2700); break;  // the second send's late reply comes and goes
    case Fault::Collision:
        bench->RemoveMeter(kOther);
        bench->SetBlocked(kMeter, false);
        break;
    case Fault::UnplugMidReply: case Fault::UnplugIdle: case Fault::Replug:
        if (!bench->Plugged())
            bench->Replug();
        Reopen();
        break;
    default: break;
    }
    bench->ClearFault(kMeter);
    EXPECT_TRUE(Run(op, target));
    EXPECT_EQ(boxes.shown(), Boxes(op, Outcome::Ok, target));
    if (op == Op::ResetCounter) {
        EXPECT_TRUE(bench->WaitForSent(1, milliseconds(2000)));
    }
    ExpectOneRequestAtATime();
}

INSTANTIATE_TEST_SUITE_P(
    AllFaults, FaultInjection,
    ::testing::Combine(::testing::Values(Fault::Silence, Fault::NthSend, Fault::BadChecksum, Fault::WrongType,
                                         Fault::Short, Fault::OverLong, Fault::Split, Fault::Late, Fault::Garbage,
                                         Fault::Collision, Fault::UnplugMidReply, Fault::UnplugIdle, Fault::Replug),
                       ::testing::Values(Op::Identify, Op::ReadState, Op::ReadConfig, Op::WriteConfig,
                                         Op::ResetCounter)),
    [](const auto& info) {
        return std::string(FaultName(std::get<0>(info.param))) + "_" + OpName(std::get<1>(info.param));
    });

}  // namespace
