// The bench over a real pseudo-terminal: the test opens the linked slave as
// the scanner would and talks frames built with zrm_frames.

#include "line_client.h"

#include "diameter_defaults.h"
#include "frames.h"
#include "meter_bench.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace metersim;
using namespace testline;

namespace {

constexpr SerialNumber kSerial = 12345;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

bool ValidFrame(const Bytes& b)
{
    return !b.empty() && b[0] == b.size() && CheckFrameChecksum(b.data(), int(b.size()));
}

class BenchTest : public ::testing::Test {
protected:
    std::string Link() const { return dir / "ttyZRM"; }

    MeterBench& Start(std::vector<MeterSpec> meters, BenchOptions options = {})
    {
        bench = std::make_unique<MeterBench>(Link(), std::move(options));
        for (const auto& m : meters)
            bench->AddMeter(m);
        bench->Start();
        client = std::make_unique<LineClient>(Link());
        EXPECT_TRUE(client->IsOpen()) << Link();
        return *bench;
    }

    static MeterSpec Meter(SerialNumber serial, int diameter = 0)
    {
        MeterSpec m;
        m.serial = serial;
        m.diameterIndex = diameter;
        return m;
    }

    TempDir dir;
    std::unique_ptr<MeterBench> bench;
    std::unique_ptr<LineClient> client;
};

// ---- the five commands ----

TEST_F(BenchTest, IdentifyByAddressAndLoneMeterBySerialZero)
{
    Start({Meter(4321, 4)});
    for (SerialNumber asked : {SerialNumber(4321), SerialNumber(0)}) {
        const Bytes r = client->Ask(BuildRequest(asked, kCmdIdentify));
        ASSERT_TRUE(ValidFrame(r)) << "asked " << asked;
        EXPECT_EQ(r.size(), 6u);
        EXPECT_EQ(r[1], kDeviceType);
        EXPECT_EQ(ReadU16LE(&r[2]), 4321) << "asked " << asked;
    }
}

TEST_F(BenchTest, ReadStateCarriesFlowCounterAndHours)
{
    MeterSpec m = Meter(kSerial, 3);
    m.flow = FlowProfile::Constant(2.5);
    m.counter = 1000;
    m.hours = 10.5f;
    Start({m});
    const Bytes r = client->Ask(BuildRequest(kSerial, kCmdReadState));
    ASSERT_TRUE(ValidFrame(r));
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(r[1], kDeviceType);
    EXPECT_EQ(r[4], kCmdReadState);
    const DeviceState s = DecodeDeviceState(&r[kStateOffset]);
    EXPECT_EQ(s.FlowRate, 2.5f);
    // 2.5 m3/h for well under a second: at most a few tenths of a litre.
    EXPECT_EQ(s.VolumeCounter, 1000u);
    EXPECT_GE(s.OperatingHours, 10.5f);
    EXPECT_LT(s.OperatingHours, 10.51f);

    uint8_t reported[kDeviceStateLength];
    EncodeDeviceState(bench->Meter(kSerial).lastReported, reported);
    EXPECT_TRUE(std::equal(reported, reported + kDeviceStateLength, &r[kStateOffset]))
        << "the bench remembers the state it sent";
}

TEST_F(BenchTest, ReadConfigIsTheDiameterDefaultWithChecksumLast)
{
    Start({Meter(kSerial, 9)});
    const Bytes r = client->Ask(BuildRequest(kSerial, kCmdReadConfig));
    ASSERT_TRUE(ValidFrame(r));
    ASSERT_EQ(r.size(), 62u);
    EXPECT_EQ(ReadU16LE(&r[2]), kSerial);
    const DeviceConfig c = DecodeDeviceConfig(&r[kConfigOffset]);
    const DeviceConfig expected = DefaultConfigFor(9);
    for (int i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(c.Value(i), expected.Value(i)) << i;
    EXPECT_EQ(c.FL4, 125.0f);
    EXPECT_EQ(c.Tail[2], r[61]) << "the configuration's last byte is the reply's checksum";
}

TEST_F(BenchTest, WriteConfigStoresConfigurationAndNewSerial)
{
    Start({Meter(100, 0)});
    DeviceConfig c = DefaultConfigFor(5);
    c.K0 = 1.05f;
    c.MainCal = 0.987f;
    c.Tail = {0xAB, 0xCD, 0x00};
    const auto frame = BuildWriteConfigFrame(100, 200, c);
    const Bytes r = client->Ask(frame);
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(r.size(), 7u);
    EXPECT_NE(r[kWriteStatusOffset], kWriteStatusBlocked);

    const MeterSnapshot m = bench->Meter(200);
    for (int i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(m.config.Value(i), c.Value(i)) << i;
    EXPECT_EQ(m.config.Tail[0], 0xAB);
    EXPECT_EQ(m.config.Tail[1], 0xCD);
    EXPECT_EQ(m.config.Tail[2], frame[61]) << "offset 54 arrives as the frame's checksum";
    EXPECT_EQ(m.writes, 1);
    EXPECT_THROW(bench->Meter(100), std::out_of_range);

    client->Send(BuildRequest(100, kCmdIdentify));
    EXPECT_TRUE(client->ReadAll(150ms, 150ms).empty()) << "nobody carries 100 any more";
    const Bytes back = client->Ask(BuildRequest(200, kCmdReadConfig));
    ASSERT_TRUE(ValidFrame(back));
    const DeviceConfig read = DecodeDeviceConfig(&back[kConfigOffset]);
    EXPECT_EQ(read.K0, 1.05f);
    EXPECT_EQ(read.MainCal, 0.987f);
    EXPECT_EQ(read.Tail[0], 0xAB) << "bytes 52-53 come back as written";
    EXPECT_EQ(read.Tail[1], 0xCD);
}

TEST_F(BenchTest, BlockedMeterRefusesWritesUntilUnblocked)
{
    MeterSpec m = Meter(100, 2);
    m.blocked = true;
    Start({m});
    DeviceConfig c = DefaultConfigFor(2);
    c.K1 = 2.0f;
    Bytes r = client->Ask(BuildWriteConfigFrame(100, 300, c));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(r[kWriteStatusOffset], kWriteStatusBlocked);
    EXPECT_EQ(bench->Meter(100).config, DefaultConfigFor(2)) << "nothing changed";

    bench->SetBlocked(100, false);
    r = client->Ask(BuildWriteConfigFrame(100, 300, c));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(r[kWriteStatusOffset], 0);
    EXPECT_EQ(bench->Meter(300).config.K1, 2.0f);
}

TEST_F(BenchTest, ResetClearsTheCounterAndIsAcknowledged)
{
    MeterSpec m = Meter(kSerial, 1);
    m.counter = 5000;
    Start({m});
    ASSERT_EQ(bench->Meter(kSerial).state.VolumeCounter, 5000u);
    const Bytes ack = client->Ask(BuildRequest(kSerial, kCmdResetCounter));
    ASSERT_TRUE(ValidFrame(ack));
    EXPECT_EQ(ack.size(), 6u);
    EXPECT_EQ(ack[4], kCmdResetCounter);
    EXPECT_EQ(bench->Meter(kSerial).resets, 1);
    const Bytes r = client->Ask(BuildRequest(kSerial, kCmdReadState));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(DecodeDeviceState(&r[kStateOffset]).VolumeCounter, 0u);
}

TEST_F(BenchTest, ResetWithoutAcknowledgementStillClears)
{
    MeterSpec m = Meter(kSerial, 1);
    m.counter = 5000;
    BenchOptions o;
    o.resetAck = false;
    Start({m}, o);
    client->Send(BuildRequest(kSerial, kCmdResetCounter));
    EXPECT_TRUE(client->ReadAll(150ms, 150ms).empty());
    EXPECT_EQ(bench->Meter(kSerial).state.VolumeCounter, 0u);
}

// ---- simulated quantities ----

TEST_F(BenchTest, CounterGrowsByVolumeTimesVolumeScale)
{
    // 360 simulated seconds per real second: 36 m3/h gives 3.6 m3 a second,
    // 360 counter units for Ду 15 (scale 100), 3.6 for Ду 200 (scale 1).
    BenchOptions o;
    o.timeScale = 360;
    MeterSpec small = Meter(15, 0), large = Meter(200, 8);
    small.flow = large.flow = FlowProfile::Constant(36);
    small.hours = 7;
    Start({small, large}, o);

    const auto t1 = Clock::now();
    const MeterSnapshot s1 = bench->Meter(15), l1 = bench->Meter(200);
    std::this_thread::sleep_for(500ms);
    const MeterSnapshot s2 = bench->Meter(15), l2 = bench->Meter(200);
    const double seconds = std::chrono::duration<double>(Clock::now() - t1).count();

    const double units = double(s2.state.VolumeCounter - s1.state.VolumeCounter);
    EXPECT_NEAR(units, 360 * seconds, 360 * 0.02 + 2);
    const double largeUnits = double(l2.state.VolumeCounter - l1.state.VolumeCounter);
    EXPECT_NEAR(largeUnits, 3.6 * seconds, 1.01);
    EXPECT_NEAR(s2.state.OperatingHours - 7.0f, 0.1 * seconds, 0.01) << "hours grow with simulated time";

    // A new diameter changes the scale from then on: Ду 200 counts whole m3.
    DeviceConfig c = s2.config;
    c.Dy = 0.2f;
    ASSERT_TRUE(ValidFrame(client->Ask(BuildWriteConfigFrame(15, 15, c))));
    const MeterSnapshot s3 = bench->Meter(15);
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(bench->Meter(15).state.VolumeCounter - s3.state.VolumeCounter, 3u);
}

TEST_F(BenchTest, CounterWrapsAsAnUnsigned32BitRegister)
{
    BenchOptions o;
    o.timeScale = 3600;  // 36 m3/h: 36 m3 a second, 3600 units at scale 100
    MeterSpec m = Meter(1, 0);
    m.counter = 4294967295u;
    m.flow = FlowProfile::Constant(36);
    Start({m}, o);
    std::this_thread::sleep_for(100ms);
    const uint32_t c = bench->Meter(1).state.VolumeCounter;
    EXPECT_LT(c, 3600u) << "wrapped past 4294967295";
}

TEST_F(BenchTest, NoiseIsReproducibleForASeed)
{
    auto readings = [&](uint32_t seed) {
        BenchOptions o;
        o.seed = seed;
        MeterSpec m = Meter(7, 2);
        m.flow = FlowProfile::Constant(3.0, 0.5);
        Start({m}, o);
        std::vector<float> flows;
        for (int i = 0; i < 8; ++i) {
            const Bytes r = client->Ask(BuildRequest(7, kCmdReadState));
            EXPECT_TRUE(ValidFrame(r));
            if (ValidFrame(r))
                flows.push_back(DecodeDeviceState(&r[kStateOffset]).FlowRate);
        }
        client.reset();
        bench.reset();
        return flows;
    };
    const auto a = readings(42), b = readings(42), c = readings(43);
    ASSERT_EQ(a.size(), 8u);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    for (float f : a) {
        EXPECT_GE(f, 2.5f);
        EXPECT_LE(f, 3.5f);
    }
    EXPECT_NE(*std::min_element(a.begin(), a.end()), *std::max_element(a.begin(), a.end()));
}

TEST(FlowProfile, Shapes)
{
    EXPECT_EQ(FlowProfile::Constant(4).At(1000), 4);
    const auto sine = FlowProfile::Sine(10, 2, 8);
    EXPECT_NEAR(sine.At(0), 10, 1e-12);
    EXPECT_NEAR(sine.At(2), 12, 1e-12);
    EXPECT_NEAR(sine.At(6), 8, 1e-12);
    const auto ramp = FlowProfile::Ramp(1, 5, 4);
    EXPECT_EQ(ramp.At(-1), 1);
    EXPECT_EQ(ramp.At(1), 2);
    EXPECT_EQ(ramp.At(4), 5);
    EXPECT_EQ(ramp.At(100), 5);
}

TEST_F(BenchTest, SetFlowAtRunTime)
{
    BenchOptions o;
    o.timeScale = 100;
    MeterSpec m = Meter(5, 4);
    Start({m}, o);
    bench->SetFlow(5, FlowProfile::Ramp(0, 10, 10));  // 0.1 s real to full flow
    std::this_thread::sleep_for(200ms);
    const Bytes r = client->Ask(BuildRequest(5, kCmdReadState));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(DecodeDeviceState(&r[kStateOffset]).FlowRate, 10.0f);
}

// ---- addressing ----

TEST_F(BenchTest, SerialZeroWithSeveralMetersCollides)
{
    Start({Meter(1, 0), Meter(2, 0)});
    client->Send(BuildRequest(0, kCmdIdentify));
    const Bytes r = client->ReadAll();
    ASSERT_FALSE(r.empty()) << "both meters drive the line";
    EXPECT_FALSE(CheckFrameChecksum(r.data(), int(r.size())));
    ASSERT_TRUE(bench->WaitForSent(1, 100ms));
    EXPECT_EQ(bench->Sent().back().from.size(), 2u);

    // Even identical replies do not add up to a valid frame: give both the
    // same serial number and configuration through serial 0, then ask.
    client->Send(BuildWriteConfigFrame(0, 9, DefaultConfigFor(0)));
    EXPECT_FALSE(ValidFrame(client->ReadAll()));
    EXPECT_EQ(bench->Meters()[0].serial, 9);
    EXPECT_EQ(bench->Meters()[1].serial, 9);
    client->Send(BuildRequest(9, kCmdReadConfig));
    const Bytes same = client->ReadAll();
    ASSERT_EQ(same.size(), 62u);
    EXPECT_FALSE(CheckFrameChecksum(same.data(), 62));
}

TEST_F(BenchTest, SerialZeroWithOneSilentMeterIsAnsweredCleanly)
{
    MeterSpec quiet = Meter(1, 0);
    quiet.fault.silent = true;
    Start({quiet, Meter(2, 0)});
    const Bytes r = client->Ask(BuildRequest(0, kCmdIdentify));
    ASSERT_TRUE(ValidFrame(r)) << "one driver, no collision";
    EXPECT_EQ(ReadU16LE(&r[2]), 2);
}

TEST_F(BenchTest, RequestsNoMeterTakesGetNoAnswer)
{
    Start({Meter(kSerial, 0)});
    Bytes badSum = ToBytes(BuildRequest(kSerial, kCmdIdentify));
    badSum[5] ^= 0x01;
    Bytes wrongType = ToBytes(BuildRequest(kSerial, kCmdIdentify));
    wrongType[1] = 0;
    SetFrameChecksum(wrongType.data(), 6);
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"unknown serial", ToBytes(BuildRequest(999, kCmdIdentify))},
        {"bad checksum", badSum},
        {"device type 0 to a non-zero serial", wrongType},
        {"unknown command", ToBytes(BuildRequest(kSerial, 7))},
        {"write command in a 6-byte frame", ToBytes(BuildRequest(kSerial, kCmdWriteConfig))},
    };
    for (const auto& [what, frame] : cases) {
        client->Send(frame);
        EXPECT_TRUE(client->ReadAll(150ms, 150ms).empty()) << what;
    }
    EXPECT_TRUE(bench->Sent().empty());
    // Still alive afterwards.
    EXPECT_TRUE(ValidFrame(client->Ask(BuildRequest(kSerial, kCmdIdentify))));
}

// ---- faults ----

struct FaultCase {
    const char* name;
    FaultSpec fault;
    std::function<void(const Bytes&)> check;
};

TEST_F(BenchTest, EachByteFaultShapesTheReply)
{
    auto withFault = [](auto set) {
        FaultSpec f;
        set(f);
        return f;
    };
    const std::vector<FaultCase> cases = {
        {"silent", withFault([](FaultSpec& f) { f.silent = true; }), [](const Bytes& r) { EXPECT_TRUE(r.empty()); }},
        {"bad checksum", withFault([](FaultSpec& f) { f.badChecksum = true; }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 32u);
             EXPECT_EQ(r[1], kDeviceType);
             EXPECT_FALSE(CheckFrameChecksum(r.data(), 32));
         }},
        {"wrong device type", withFault([](FaultSpec& f) { f.wrongDeviceType = true; }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 32u);
             EXPECT_TRUE(CheckFrameChecksum(r.data(), 32)) << "only the type is wrong";
             EXPECT_NE(r[1], kDeviceType);
         }},
        {"short", withFault([](FaultSpec& f) { f.cutBytes = 3; }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 29u);
             EXPECT_EQ(r[0], 32) << "the length byte still promises 32";
         }},
        {"over-long", withFault([](FaultSpec& f) { f.extraBytes = 2; }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 34u);
             EXPECT_EQ(r[0], 32);
             EXPECT_TRUE(CheckFrameChecksum(r.data(), 32));
             EXPECT_FALSE(CheckFrameChecksum(r.data(), 34)) << "the extra bytes spoil the sum";
         }},
        {"garbage before", withFault([](FaultSpec& f) { f.garbageBytes = 3; }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 35u);
             EXPECT_EQ(Bytes(r.begin(), r.begin() + 3), Bytes(3, 0xFF));
             EXPECT_TRUE(ValidFrame(Bytes(r.begin() + 3, r.end())));
         }},
        {"combined: wrong type and short", withFault([](FaultSpec& f) {
             f.wrongDeviceType = true;
             f.cutBytes = 1;
         }),
         [](const Bytes& r) {
             ASSERT_EQ(r.size(), 31u);
             EXPECT_EQ(r[1], kDeviceType + 1);
         }},
    };
    Start({Meter(kSerial, 3)});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bench->SetFault(kSerial, c.fault);
        client->Send(BuildRequest(kSerial, kCmdReadState));
        c.check(client->ReadAll(100ms, 400ms));
    }
    bench->ClearFault(kSerial);
    EXPECT_TRUE(ValidFrame(client->Ask(BuildRequest(kSerial, kCmdReadState)))) << "cleared at run time";
}

TEST_F(BenchTest, LateReplyComesAfterItsDelay)
{
    MeterSpec m = Meter(kSerial, 0);
    m.fault.lateMs = 300;
    Start({m});
    const auto sent = Clock::now();
    client->Send(BuildRequest(kSerial, kCmdIdentify));
    const auto chunks = client->ReadChunks(100ms, 1500ms);
    ASSERT_FALSE(chunks.empty());
    EXPECT_GE(Ms(chunks.front().t - sent), 290);
    EXPECT_LT(Ms(chunks.front().t - sent), 900);
    Bytes all;
    for (const auto& c : chunks)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_TRUE(ValidFrame(all));
}

TEST_F(BenchTest, SplitReplyArrivesInPiecesWithGaps)
{
    MeterSpec m = Meter(kSerial, 0);
    m.fault.splitPieces = 3;
    m.fault.splitGapMs = 80;
    Start({m});
    client->Send(BuildRequest(kSerial, kCmdReadConfig));
    const auto chunks = client->ReadChunks(200ms, 1500ms);
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].bytes.size() + chunks[1].bytes.size() + chunks[2].bytes.size(), 62u);
    for (size_t i = 1; i < chunks.size(); ++i)
        EXPECT_GE(Ms(chunks[i].t - chunks[i - 1].t), 40) << "gap " << i;
    Bytes all;
    for (const auto& c : chunks)
        all.insert(all.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_TRUE(ValidFrame(all));
}

TEST_F(BenchTest, AnswersOnlyTheNthIdenticalSend)
{
    MeterSpec m = Meter(kSerial, 0);
    m.fault.answerFromSend = 3;
    Start({m});
    const auto a = BuildRequest(kSerial, kCmdReadState);
    const auto b = BuildRequest(kSerial, kCmdIdentify);
    auto answered = [&](const std::array<uint8_t, 6>& frame) {
        client->Send(frame);
        return !client->ReadAll(80ms, 150ms).empty();
    };
    EXPECT_FALSE(answered(a));
    EXPECT_FALSE(answered(a));
    EXPECT_TRUE(answered(a)) << "third send";
    EXPECT_FALSE(answered(a)) << "counting starts again after an answer";
    EXPECT_FALSE(answered(b)) << "a different request restarts the count";
    EXPECT_FALSE(answered(a));
    EXPECT_FALSE(answered(a));
    EXPECT_TRUE(answered(a));
    EXPECT_EQ(bench->Meter(kSerial).requests, 8);
    EXPECT_EQ(bench->Meter(kSerial).replies, 2);
}

// ---- framing and the record ----

TEST_F(BenchTest, ResynchronisesAfterGarbage)
{
    Start({Meter(kSerial, 0)});
    const Bytes request = ToBytes(BuildRequest(kSerial, kCmdIdentify));
    Bytes line = {0x00, 0x17, 0x06};
    line.insert(line.end(), request.begin(), request.end());
    client->Send(line);
    EXPECT_TRUE(ValidFrame(client->ReadReply()));
    const auto rec = bench->Received();
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_FALSE(rec[0].valid);
    EXPECT_EQ(rec[0].bytes, Bytes({0x00, 0x17, 0x06}));
    EXPECT_TRUE(rec[1].valid);
    EXPECT_EQ(rec[1].bytes, request);
}

TEST_F(BenchTest, PartialFrameIsDroppedAfterSilence)
{
    Start({Meter(kSerial, 0)});
    const Bytes request = ToBytes(BuildRequest(kSerial, kCmdIdentify));
    client->Send(Bytes(request.begin(), request.begin() + 3));
    std::this_thread::sleep_for(150ms);
    client->Send(request);
    EXPECT_TRUE(ValidFrame(client->ReadReply()));
    EXPECT_TRUE(client->ReadAll(100ms, 200ms).empty()) << "one reply only";
    const auto rec = bench->Received();
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_FALSE(rec[0].valid);
    EXPECT_EQ(rec[0].bytes, Bytes(request.begin(), request.begin() + 3));
    EXPECT_EQ(rec[1].bytes, request);
}

TEST_F(BenchTest, StrayLongFrameStartDoesNotSwallowARequest)
{
    // 0x3E (62) promises a write frame that never comes: after the silence
    // the bench looks again and finds the request behind it.
    Start({Meter(kSerial, 0)});
    const Bytes request = ToBytes(BuildRequest(kSerial, kCmdIdentify));
    Bytes line = {62};
    line.insert(line.end(), request.begin(), request.end());
    client->Send(line);
    EXPECT_TRUE(ValidFrame(client->ReadReply(1000ms)));
    const auto rec = bench->Received();
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_EQ(rec[0].bytes, Bytes{62});
    EXPECT_EQ(rec[1].bytes, request);
}

TEST_F(BenchTest, RecordsEveryFrameWithWireTimes)
{
    Start({Meter(kSerial, 0), Meter(7, 1)});
    const std::vector<Bytes> frames = {
        ToBytes(BuildRequest(kSerial, kCmdIdentify)),
        ToBytes(BuildWriteConfigFrame(7, 7, DefaultConfigFor(1))),
        ToBytes(BuildRequest(999, kCmdReadState)),  // nobody answers, still recorded
    };
    const auto before = Clock::now();
    for (const auto& f : frames) {
        client->Send(f);
        client->ReadAll(60ms, 300ms);
    }
    ASSERT_TRUE(bench->WaitForReceived(3, 500ms));
    const auto rec = bench->Received();
    ASSERT_EQ(rec.size(), 3u);
    for (size_t i = 0; i < rec.size(); ++i) {
        EXPECT_TRUE(rec[i].valid);
        EXPECT_EQ(rec[i].bytes, frames[i]) << i;
        EXPECT_GE(rec[i].firstByte, before);
        EXPECT_GE(rec[i].lastByte, rec[i].firstByte);
        if (i > 0) {
            EXPECT_GT(rec[i].firstByte, rec[i - 1].lastByte);
        }
    }
    const auto sent = bench->Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].from, std::vector<SerialNumber>{kSerial});
    EXPECT_EQ(sent[1].command, kCmdWriteConfig);
    EXPECT_GE(sent[0].start, rec[0].lastByte) << "a reply follows its request";
    bench->ClearReceived();
    EXPECT_TRUE(bench->Received().empty());
    EXPECT_TRUE(bench->Sent().empty());
}

// ---- wire timing ----

TEST_F(BenchTest, PacedLineMovesAByteEvery1041Microseconds)
{
    BenchOptions o;
    o.pace = true;
    o.replyDelayMs = 2;
    Start({Meter(kSerial, 0)}, o);

    // A 62-byte write frame written at once is received over 61 byte times.
    client->Send(BuildWriteConfigFrame(kSerial, kSerial, DefaultConfigFor(0)));
    ASSERT_TRUE(ValidFrame(client->ReadReply()));
    auto rec = bench->Received();
    ASSERT_EQ(rec.size(), 1u);
    const double receiveMs = Ms(rec[0].lastByte - rec[0].firstByte);
    EXPECT_NEAR(receiveMs, 61 * 1.0417, 3.0);

    // A 62-byte reply reaches the far end at the same pace: its last byte
    // cannot come before the request's 6 bytes, the reply delay and the
    // reply's 62 bytes have been on the wire (a busy machine only adds).
    const auto asked = Clock::now();
    client->Send(BuildRequest(kSerial, kCmdReadConfig));
    const auto chunks = client->ReadChunks(50ms, 1000ms);
    ASSERT_FALSE(chunks.empty());
    size_t total = 0;
    for (const auto& c : chunks)
        total += c.bytes.size();
    ASSERT_EQ(total, 62u);
    const double wireMs = (6 + 62) * 1.0417 + 2;
    const double lastByteMs = Ms(chunks.back().t - asked);
    EXPECT_GT(lastByteMs, wireMs - 1);
    EXPECT_LT(lastByteMs, wireMs + 60);
    EXPECT_GT(chunks.size(), 1u) << "bytes trickle in, not in one block";
    const auto sent = bench->Sent();
    ASSERT_EQ(sent.size(), 2u);
    // From the reply's first bit to its last byte having arrived.
    EXPECT_NEAR(Ms(sent[1].end - sent[1].start), 62 * 1.0417, 0.01);
    rec = bench->Received();
    EXPECT_GE(Ms(sent[1].start - rec[1].lastByte), 2.0) << "reply delay after the last byte";
}

TEST_F(BenchTest, UnpacedReplyIsWrittenAtOnce)
{
    Start({Meter(kSerial, 0)});
    client->Send(BuildRequest(kSerial, kCmdReadConfig));
    const auto chunks = client->ReadChunks(50ms, 1000ms);
    ASSERT_FALSE(chunks.empty());
    EXPECT_LT(Ms(chunks.back().t - chunks.front().t), 20);
}

// ---- the line ----

TEST_F(BenchTest, UnplugHangsUpAndRemovesTheLinkReplugRestoresIt)
{
    MeterSpec m = Meter(kSerial, 0);
    m.counter = 77;
    Start({m});
    const std::string firstSlave = bench->SlavePath();
    ASSERT_FALSE(firstSlave.empty());
    ASSERT_TRUE(ValidFrame(client->Ask(BuildRequest(kSerial, kCmdIdentify))));

    bench->Unplug();
    EXPECT_FALSE(bench->Plugged());
    pollfd p{client->Fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR)) << p.revents;
    uint8_t b;
    const ssize_t n = ::read(client->Fd(), &b, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " errno " << errno;
    struct stat st {};
    EXPECT_NE(lstat(Link().c_str(), &st), 0) << "link removed";
    EXPECT_LT(::open(Link().c_str(), O_RDWR | O_NOCTTY), 0);
    EXPECT_EQ(errno, ENOENT);

    bench->Replug();
    EXPECT_TRUE(bench->Plugged());
    LineClient again(Link());
    ASSERT_TRUE(again.IsOpen());
    const Bytes r = again.Ask(BuildRequest(kSerial, kCmdReadState));
    ASSERT_TRUE(ValidFrame(r));
    EXPECT_EQ(DecodeDeviceState(&r[kStateOffset]).VolumeCounter, 77u) << "the meter kept its state";
}

TEST_F(BenchTest, StaleLinkIsReplacedAndRemovedOnStop)
{
    ASSERT_EQ(symlink("/dev/pts/no-such-pty", Link().c_str()), 0);
    Start({Meter(kSerial, 0)});
    EXPECT_TRUE(ValidFrame(client->Ask(BuildRequest(kSerial, kCmdIdentify))));
    client.reset();
    bench->Stop();
    struct stat st {};
    EXPECT_NE(lstat(Link().c_str(), &st), 0);
    bench->Stop();  // idempotent
}

TEST_F(BenchTest, RefusesToReplaceAFileThatIsNoLink)
{
    {
        std::ofstream(Link()) << "keep me";
    }
    MeterBench b(Link());
    b.AddMeter(Meter(1, 0));
    EXPECT_THROW(b.Start(), std::system_error);
    std::ifstream in(Link());
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "keep me");
}

TEST_F(BenchTest, IdleLineCostsNoCpu)
{
    // With the far side closed the master must not wake the bench thread.
    Start({Meter(kSerial, 0)});
    client.reset();
    auto cpu = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3 + u.ru_stime.tv_sec * 1e3 +
               u.ru_stime.tv_usec / 1e3;
    };
    const double before = cpu();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(cpu() - before, 30.0) << "ms of CPU in 300 ms idle";
}

TEST(MeterBenchApi, RejectsBadMeters)
{
    TempDir dir;
    MeterBench b(dir / "line");
    MeterSpec m;
    m.serial = 0;
    EXPECT_THROW(b.AddMeter(m), std::invalid_argument);
    m.serial = 5;
    m.diameterIndex = 10;
    EXPECT_THROW(b.AddMeter(m), std::out_of_range);
    m.diameterIndex = 9;
    b.AddMeter(m);
    EXPECT_THROW(b.AddMeter(m), std::invalid_argument);
    EXPECT_THROW(b.Meter(6), std::out_of_range);
    EXPECT_THROW(b.SetFault(6, FaultSpec{}), std::out_of_range);
    b.RemoveMeter(5);
    EXPECT_TRUE(b.Meters().empty());
}

}  // namespace
