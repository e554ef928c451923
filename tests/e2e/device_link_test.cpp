// The device link against the virtual meter bench over a real pseudo-
// terminal: what goes on the wire, what the user is told, what comes back.

#include "diameter_defaults.h"
#include "link_on_bench.h"
#include "scripted_line.h"
#include "test_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using metersim::FaultSpec;
using metersim::FlowProfile;
using metersim::MeterBench;
using metersim::MeterSpec;

namespace {

std::vector<uint8_t> Bytes(const std::array<uint8_t, 6>& a) { return {a.begin(), a.end()}; }

class DeviceLinkTest : public ::testing::Test, protected LinkOnBench {
protected:
    MeterBench& Bench(std::initializer_list<MeterSpec> meters, metersim::BenchOptions options = {})
    {
        bench = std::make_unique<MeterBench>(linkPath, options);
        for (const MeterSpec& m : meters)
            bench->AddMeter(m);
        bench->Start();
        return *bench;
    }

    std::vector<std::vector<uint8_t>> ValidFramesReceived() const
    {
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& f : bench->Received())
            if (f.valid)
                frames.push_back(f.bytes);
        return frames;
    }
};

MeterSpec Meter(SerialNumber serial, int diameter, double flow = 0)
{
    MeterSpec m;
    m.serial = serial;
    m.diameterIndex = diameter;
    m.flow = FlowProfile::Constant(flow);
    return m;
}

TEST_F(DeviceLinkTest, IdentifyZeroFindsTheLoneMeter)
{
    Bench({Meter(4321, 2)});
    OpenPort();
    EXPECT_TRUE(link->IdentifyDevice(0));
    EXPECT_EQ(link->CurrentSerialNumber, 4321);
    EXPECT_EQ(boxes.count(), 0u);
    ASSERT_EQ(ValidFramesReceived().size(), 1u);
    EXPECT_EQ(ValidFramesReceived()[0], (std::vector<uint8_t>{0x06, 0x00, 0x00, 0x00, 0x00, 0xFA}));
}

TEST_F(DeviceLinkTest, ReadsStateAndConfigurationWithFramesByteForByte)
{
    MeterSpec m = Meter(12345, 1, 3.25);
    m.counter = 123456;
    m.hours = 17.5f;
    Bench({m});
    OpenPort();

    ASSERT_TRUE(link->ReadMainState(12345));
    EXPECT_FLOAT_EQ(link->MainState.FlowRate, 3.25f);
    EXPECT_GE(link->MainState.VolumeCounter, 123456u);
    EXPECT_GE(link->MainState.OperatingHours, 17.5f);

    link->VolumeScale = 0;
    ASSERT_TRUE(link->ReadMainConfig(12345));
    EXPECT_EQ(link->MainConfig.Dy, DefaultConfigFor(1).Dy);
    EXPECT_EQ(link->MainConfig.Ves, DefaultConfigFor(1).Ves);
    EXPECT_EQ(link->VolumeScale, 100);  // 25 mm counts hundredths
    EXPECT_FALSE(link->ErrorFlag);
    EXPECT_EQ(boxes.count(), 0u);

    const auto frames = ValidFramesReceived();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], (std::vector<uint8_t>{0x06, 0xE6, 0x39, 0x30, 0x06, 0xA5}));
    EXPECT_EQ(frames[1], (std::vector<uint8_t>{0x06, 0xE6, 0x39, 0x30, 0x05, 0xA6}));
}

TEST_F(DeviceLinkTest, WriteAcceptedTakesTheNewSerialNumber)
{
    Bench({Meter(100, 4)});
    OpenPort();
    DeviceConfig c = DefaultConfigFor(4);
    c.K2 = 1.25f;
    EXPECT_TRUE(link->WriteDeviceConfig(100, 200, c));
    EXPECT_EQ(link->CurrentSerialNumber, 200);
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Information, "Параметры изменены", mbOK}}));
    EXPECT_EQ(bench->Meter(200).config.K2, 1.25f);

    const auto frames = ValidFramesReceived();
    ASSERT_EQ(frames.size(), 1u);
    const auto expected = BuildWriteConfigFrame(100, 200, c);
    EXPECT_EQ(frames[0], std::vector<uint8_t>(expected.begin(), expected.end()));
}

TEST_F(DeviceLinkTest, WriteRefusedKeepsTheTargetAndClearsErrorFlag)
{
    MeterSpec m = Meter(100, 4);
    m.blocked = true;
    Bench({m});
    OpenPort();
    link->ErrorFlag = true;
    EXPECT_FALSE(link->WriteDeviceConfig(100, 200, DefaultConfigFor(4)));
    EXPECT_EQ(link->CurrentSerialNumber, 100);
    EXPECT_FALSE(link->ErrorFlag);
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Plain, "Изменение параметров блокировано", mbOK}}));
}

TEST_F(DeviceLinkTest, AnswerOnTheThirdSendIsUsedWithoutAMessage)
{
    MeterSpec m = Meter(512, 0, 1.5);
    m.fault.answerFromSend = 3;
    Bench({m});
    OpenPort();
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(link->ReadMainState(512));
    EXPECT_GE(t.elapsed(), 2 * DeviceLink::kReplyWaitMs);
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(ValidFramesReceived().size(), 3u);
    EXPECT_FLOAT_EQ(link->MainState.FlowRate, 1.5f);
}

TEST_F(DeviceLinkTest, SplitReplyCompletesAcrossSeveralEvents)
{
    MeterSpec m = Meter(7, 3);
    m.fault.splitPieces = 5;
    m.fault.splitGapMs = 30;
    Bench({m});
    OpenPort();
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(link->ReadMainConfig(7));
    EXPECT_LT(t.elapsed(), DeviceLink::kReplyWaitMs);
    EXPECT_EQ(link->MainConfig.Dy, DefaultConfigFor(3).Dy);
    EXPECT_EQ(boxes.count(), 0u);
}

// Faulty replies: the specific box, then the failure box; never a second send.
struct ReplyFaultCase {
    const char* name;
    FaultSpec fault;
    bool config;  // read configuration instead of state
    QStringList texts;
};

class ReplyFaultTest : public DeviceLinkTest, public ::testing::WithParamInterface<ReplyFaultCase> {};

TEST_P(ReplyFaultTest, ShowsTheOperationsTextsAndDoesNotRetry)
{
    const ReplyFaultCase& c = GetParam();
    MeterSpec m = Meter(512, 5, 2);
    m.fault = c.fault;
    Bench({m});
    OpenPort();
    const DeviceConfig before = link->MainConfig;
    const bool ok = c.config ? link->ReadMainConfig(512) : link->ReadMainState(512);
    EXPECT_FALSE(ok);
    EXPECT_EQ(boxes.texts(), c.texts);
    for (const ShownMessage& box : boxes.shown())
        EXPECT_EQ(box.kind, MsgKind::Error);
    EXPECT_EQ(ValidFramesReceived().size(), 1u);
    EXPECT_EQ(link->MainConfig, before);  // a failed read leaves the record alone
}

FaultSpec BadSum() { FaultSpec f; f.badChecksum = true; return f; }
FaultSpec WrongType() { FaultSpec f; f.wrongDeviceType = true; return f; }
FaultSpec Short() { FaultSpec f; f.cutBytes = 3; return f; }
FaultSpec Long(int n) { FaultSpec f; f.extraBytes = n; return f; }
FaultSpec Garbage() { FaultSpec f; f.garbageBytes = 4; return f; }

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplyFaultTest,
    ::testing::Values(
        ReplyFaultCase{"StateBadChecksum", BadSum(), false, {"SN 512Ошибка CRC8", "SN 512Нет ответа"}},
        ReplyFaultCase{"StateWrongType", WrongType(), false, {"SN 512Неверный тип прибора", "SN 512Нет ответа"}},
        ReplyFaultCase{"StateShort", Short(), false, {"SN 512Ошибка CRC8", "SN 512Нет ответа"}},
        ReplyFaultCase{"StateLong", Long(3), false, {"SN 512Ошибка CRC8", "SN 512Нет ответа"}},
        ReplyFaultCase{"StateGarbageFirst", Garbage(), false, {"SN 512Ошибка CRC8", "SN 512Нет ответа"}},
        ReplyFaultCase{"ConfigBadChecksum", BadSum(), true, {"Ошибка CRC8", "Нет ответа"}},
        ReplyFaultCase{"ConfigWrongType", WrongType(), true, {"Неверный тип прибора", "Нет ответа"}},
        // 62 + 40 bytes: more than the receive buffer holds; refused, never copied past its end.
        ReplyFaultCase{"ConfigOverLong", Long(40), true, {"Ошибка CRC8", "Нет ответа"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(DeviceLinkTest, IdentifyTextsCarryTheirBlanks)
{
    MeterSpec m = Meter(512, 0);
    m.fault.wrongDeviceType = true;
    Bench({m});
    OpenPort();
    EXPECT_FALSE(link->IdentifyDevice(512));
    EXPECT_EQ(boxes.texts(), (QStringList{"SN 512 Неверный тип прибора", "SN 512 Нет ответа"}));
    EXPECT_EQ(link->CurrentSerialNumber, 512);
}

TEST_F(DeviceLinkTest, SilentMeterCostsFourSendsAndOneBox)
{
    MeterSpec m = Meter(512, 0);
    m.fault.silent = true;
    Bench({m});
    OpenPort();
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(link->IdentifyDevice(512));
    EXPECT_GE(t.elapsed(), 4 * DeviceLink::kReplyWaitMs);
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "SN 512 Нет ответа.", mbOK}}));
    const auto frames = ValidFramesReceived();
    ASSERT_EQ(frames.size(), 4u);
    for (const auto& f : frames)
        EXPECT_EQ(f, Bytes(BuildRequest(512, kCmdIdentify)));
}

TEST_F(DeviceLinkTest, SeveralMetersAnsweringSerialZeroCollide)
{
    Bench({Meter(444, 1), Meter(555, 4), Meter(12345, 7)});
    OpenPort();
    EXPECT_FALSE(link->IdentifyDevice(0));
    ASSERT_EQ(boxes.count(), 2u);
    EXPECT_EQ(boxes.texts().last(), "SN 0 Нет ответа");
}

TEST_F(DeviceLinkTest, ClosedPortShowsOnlyTheFailureBoxAtOnce)
{
    Bench({Meter(512, 0)});
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(link->ReadMainState(512));
    EXPECT_LT(t.elapsed(), 500);
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "SN 512Нет ответа", mbOK}}));
    EXPECT_TRUE(bench->Received().empty());
}

TEST_F(DeviceLinkTest, LateAnswersAreDiscardedByTheNextWait)
{
    MeterSpec m = Meter(30, 2, 4);
    m.fault.lateMs = 2300;  // every reply lands in the wait after its own
    Bench({m});
    OpenPort();
    EXPECT_TRUE(link->IdentifyDevice(30));  // the first send's reply completes the second wait
    EXPECT_EQ(ValidFramesReceived().size(), 2u);
    Pump(2600);  // the second send's reply arrives and is delivered now
    bench->ClearFault(30);
    EXPECT_TRUE(link->ReadMainState(30));
    EXPECT_FLOAT_EQ(link->MainState.FlowRate, 4.0f);
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(DeviceLinkTest, SecondExchangeDuringAWaitIsRefusedAndTheFirstGoesOn)
{
    MeterSpec m = Meter(40, 3, 2.5);
    m.fault.lateMs = 300;
    Bench({m});
    OpenPort();
    bool nestedResult = true;
    bool pollResult = true;
    bool nestedRan = false;
    QTimer::singleShot(100, [&] {
        DeviceState s;
        nestedResult = link->ReadDeviceState(40, s);
        pollResult = link->PollDeviceState(40, s);
        nestedRan = true;
    });
    EXPECT_TRUE(link->ReadMainState(40));
    EXPECT_TRUE(nestedRan);
    EXPECT_FALSE(nestedResult);
    EXPECT_FALSE(pollResult);
    EXPECT_EQ(ValidFramesReceived().size(), 1u);
    EXPECT_FLOAT_EQ(link->MainState.FlowRate, 2.5f);
    // The refused one says so, once; the chart polls' read refuses silently.
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Information,
                                                         "Линия связи занята другим обменом с приборами. Повторите "
                                                         "команду, когда он закончится.",
                                                         mbOK}}));
}

TEST_F(DeviceLinkTest, ResetCounter)
{
    MeterSpec m = Meter(77, 2);
    m.counter = 5000;
    Bench({m});

    link->ResetDeviceCounter(77);  // port closed: nothing goes out
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "ОШИБКА обращения к порту", mbOK}}));
    EXPECT_TRUE(bench->Received().empty());

    boxes.clear();
    OpenPort();
    link->ResetDeviceCounter(77);
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Information, "ЗРМ очищено", mbOK}}));
    ASSERT_TRUE(bench->WaitForReceived(1, std::chrono::seconds(2)));
    EXPECT_EQ(ValidFramesReceived()[0], (std::vector<uint8_t>{0x06, 0xE6, 0x4D, 0x00, 0x08, 0xBF}));
    EXPECT_EQ(bench->Meter(77).resets, 1);

    // No meter with that number: the command still went out, and says so.
    boxes.clear();
    link->ResetDeviceCounter(78);
    EXPECT_EQ(boxes.texts(), QStringList{"ЗРМ очищено"});
}

// Replies no bench meter sends, from a hand-driven line.
class CraftedReplyTest : public DeviceLinkTest {
protected:
    void SetUp() override
    {
        line = std::make_unique<ScriptedLine>(linkPath);
        OpenPort();
    }
    std::unique_ptr<ScriptedLine> line;
};

std::vector<uint8_t> StateReply(SerialNumber n, float flow)
{
    std::vector<uint8_t> r(32, 0);
    r[0] = 32;
    r[1] = kDeviceType;
    r[2] = n & 0xFF;
    r[3] = n >> 8;
    r[4] = kCmdReadState;
    DeviceState s;
    s.FlowRate = flow;
    EncodeDeviceState(s, r.data() + 5);
    SetFrameChecksum(r.data(), 32);
    return r;
}

TEST_F(CraftedReplyTest, ShortReplyPassingTheChecksumIsRefused)
{
    line->Reply(StateReply(9, 5.0f));
    ASSERT_TRUE(link->ReadMainState(9));
    EXPECT_FLOAT_EQ(link->MainState.FlowRate, 5.0f);

    // Length byte 31 but three bytes that sum to 0 and carry 230: the wait
    // runs out, and the values would come from where the last reply stood.
    line->Reply({31, kDeviceType, 251});
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(link->ReadMainState(9));
    EXPECT_GE(t.elapsed(), DeviceLink::kReplyWaitMs);
    EXPECT_EQ(boxes.texts(), (QStringList{"SN 9Ошибка CRC8", "SN 9Нет ответа"}));
    EXPECT_EQ(line->Requests().size(), 2u);
}

TEST_F(CraftedReplyTest, FirstByteZeroNeverCompletesAndTheChecksumDecides)
{
    line->Reply({0x00, 0x10, 0x20});
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(link->ReadMainState(9));
    EXPECT_GE(t.elapsed(), DeviceLink::kReplyWaitMs);
    EXPECT_EQ(boxes.texts(), (QStringList{"SN 9Ошибка CRC8", "SN 9Нет ответа"}));
    EXPECT_EQ(line->Requests().size(), 1u);
}

}  // namespace
