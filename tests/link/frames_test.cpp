#include "frames.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::vector<uint8_t> V(std::initializer_list<int> bytes)
{
    std::vector<uint8_t> v;
    for (int b : bytes)
        v.push_back(uint8_t(b));
    return v;
}

template <size_t N>
std::vector<uint8_t> V(const std::array<uint8_t, N>& a)
{
    return {a.begin(), a.end()};
}

DeviceConfig SampleConfig()
{
    DeviceConfig c;
    for (int i = 0; i < kConfigValueCount; ++i)
        c.SetValue(i, 0.5f + float(i) * 1.25f);
    c.Dy = 0.08f;
    c.Tail = {0x12, 0x34, 0x56};
    return c;
}

TEST(Requests, WorkedExamplesByteForByte)
{
    EXPECT_EQ(V(BuildRequest(0, kCmdIdentify)), V({0x06, 0x00, 0x00, 0x00, 0x00, 0xFA}));
    EXPECT_EQ(V(BuildRequest(12345, kCmdReadState)), V({0x06, 0xE6, 0x39, 0x30, 0x06, 0xA5}));
    EXPECT_EQ(V(BuildRequest(12345, kCmdReadConfig)), V({0x06, 0xE6, 0x39, 0x30, 0x05, 0xA6}));
    EXPECT_EQ(V(BuildRequest(12345, kCmdResetCounter)), V({0x06, 0xE6, 0x39, 0x30, 0x08, 0xA3}));
}

TEST(Requests, SerialZeroCarriesDeviceTypeZeroOthersCarry230)
{
    for (uint8_t cmd : {kCmdIdentify, kCmdReadConfig, kCmdReadState, kCmdResetCounter}) {
        const auto zero = BuildRequest(0, cmd);
        EXPECT_EQ(zero[1], 0);
        EXPECT_EQ(zero[2], 0);
        EXPECT_EQ(zero[3], 0);
        EXPECT_EQ(zero[4], cmd);
        EXPECT_TRUE(CheckFrameChecksum(zero.data(), kRequestLength));
        for (SerialNumber n : {SerialNumber(1), SerialNumber(256), SerialNumber(65535)}) {
            const auto f = BuildRequest(n, cmd);
            EXPECT_EQ(f[0], 6);
            EXPECT_EQ(f[1], 230) << n;
            EXPECT_EQ(f[2] | (f[3] << 8), n);
            EXPECT_TRUE(CheckFrameChecksum(f.data(), kRequestLength));
        }
    }
}

TEST(WriteFrame, LayoutAndTypeAlways230)
{
    const DeviceConfig c = SampleConfig();
    uint8_t payload[kDeviceConfigLength];
    EncodeDeviceConfig(c, payload);
    for (SerialNumber target : {SerialNumber(0), SerialNumber(100)}) {
        const auto f = BuildWriteConfigFrame(target, 0xBEEF, c);
        EXPECT_EQ(f[0], 62);
        EXPECT_EQ(f[1], 230) << "target " << target;
        EXPECT_EQ(ReadU16LE(&f[2]), target);
        EXPECT_EQ(f[4], kCmdWriteConfig);
        EXPECT_EQ(f[5], 0xEF);
        EXPECT_EQ(f[6], 0xBE);
        EXPECT_EQ(0, std::memcmp(&f[7], payload, 54)) << "configuration bytes 0..53 at 7..60";
        EXPECT_TRUE(CheckFrameChecksum(f.data(), kWriteConfigFrameLength));
    }
}

TEST(WriteFrame, ChecksumIgnoresConfigurationOffset54)
{
    DeviceConfig c = SampleConfig();
    std::vector<std::vector<uint8_t>> frames;
    for (int last : {0x00, 0x7F, 0xFF}) {
        c.Tail[2] = uint8_t(last);
        const auto f = BuildWriteConfigFrame(7, 7, c);
        EXPECT_EQ(f[61], FrameChecksum(f.data(), 62)) << last;
        frames.push_back(V(f));
    }
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(frames[0], frames[2]);
}

TEST(Checksum, TwosComplementOfTheSum)
{
    const uint8_t allZero[] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(FrameChecksum(allZero, 6), 0) << "a sum of 0 gives 0";
    const uint8_t wraps[] = {0xFF, 0xFF, 0x03, 0};
    EXPECT_EQ(FrameChecksum(wraps, 4), uint8_t(256 - 1));  // 0x201 & 0xFF = 1
    uint8_t f[6] = {6, 1, 2, 3, 4, 0xAA};
    SetFrameChecksum(f, 6);
    EXPECT_EQ(f[5], uint8_t(256 - 16));
    EXPECT_TRUE(CheckFrameChecksum(f, 6));
}

TEST(Checksum, AnyLengthThatSumsToZeroPassesOneAlteredByteFails)
{
    // Lengths other than the frame's own pass too: the count is what came.
    std::vector<uint8_t> reply(31);
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = uint8_t(i * 37 + 11);
    reply[0] = 31;
    reply[1] = 230;
    SetFrameChecksum(reply.data(), int(reply.size()));
    ASSERT_TRUE(CheckFrameChecksum(reply.data(), int(reply.size())));
    for (size_t i = 0; i < reply.size(); ++i) {
        for (int delta : {1, 0x80, 0xFF}) {
            auto bad = reply;
            bad[i] = uint8_t(bad[i] + delta);
            EXPECT_FALSE(CheckFrameChecksum(bad.data(), int(bad.size()))) << "byte " << i << " + " << delta;
        }
    }
    EXPECT_FALSE(CheckFrameChecksum(reply.data(), 0)) << "nothing received is never valid";
    const uint8_t single0[] = {0};
    EXPECT_TRUE(CheckFrameChecksum(single0, 1));
}

TEST(VolumeScale, FromDiameterRoundedToMillimetres)
{
    struct Case {
        float dy;
        int scale;
    };
    const Case cases[] = {
        {0.015f, 100}, {0.025f, 100}, {0.032f, 100},
        {0.0394f, 100},                // 39 mm
        {0.0395f, 10},                 // 39.5000018 mm rounds up
        {0.04f, 10},                   // stored slightly below 0.04, still 40 mm
        {0.0404f, 10}, {0.05f, 10}, {0.1f, 10},
        {0.15f, 10},                   // 150 inclusive
        {0.1504f, 10},                 // 150.4 mm -> 150
        {0.1506f, 1},                  // 150.6 mm -> 151
        {0.2f, 1}, {0.3f, 1},
        {0.0f, 100}, {-0.01f, 100},
        {1e9f, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VolumeScale(c.dy), c.scale) << "Dy " << c.dy;
    ASSERT_LT(double(0.04f), 0.04) << "the case above needs 0.04f below 0.04";
    EXPECT_EQ(VolumeScale(std::numeric_limits<float>::quiet_NaN()), 1);
    EXPECT_EQ(VolumeScale(std::numeric_limits<float>::infinity()), 1);
    EXPECT_EQ(VolumeScale(-std::numeric_limits<float>::infinity()), 100);
}

TEST(DeviceState, DecodesLittleEndianFieldsAndKeepsReservedBytes)
{
    uint8_t p[kDeviceStateLength];
    // 12.5f = 0x41480000, 4294967295, 1.0f = 0x3F800000
    const uint8_t head[] = {0x00, 0x00, 0x48, 0x41, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x3F};
    std::memcpy(p, head, sizeof head);
    for (int i = 12; i < kDeviceStateLength; ++i)
        p[i] = uint8_t(0xA0 + i);
    const DeviceState s = DecodeDeviceState(p);
    EXPECT_EQ(s.FlowRate, 12.5f);
    EXPECT_EQ(s.VolumeCounter, 4294967295u) << "unsigned, never negative";
    EXPECT_EQ(double(s.VolumeCounter) / 100, 42949672.95);
    EXPECT_EQ(s.OperatingHours, 1.0f);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(s.Reserved[size_t(i)], 0xA0 + 12 + i);

    uint8_t back[kDeviceStateLength];
    EncodeDeviceState(s, back);
    EXPECT_EQ(0, std::memcmp(p, back, sizeof p));
}

TEST(DeviceState, RoundTripKeepsExactBitPatterns)
{
    for (float flow : {0.0f, -0.0f, -3.75f, 1e-30f, std::numeric_limits<float>::max(),
                       std::numeric_limits<float>::denorm_min()}) {
        DeviceState s;
        s.FlowRate = flow;
        s.VolumeCounter = 0x80000001u;
        s.OperatingHours = 123456.789f;
        s.Reserved[13] = 0x5A;
        uint8_t p[kDeviceStateLength];
        EncodeDeviceState(s, p);
        const DeviceState r = DecodeDeviceState(p);
        EXPECT_EQ(std::bit_cast<uint32_t>(r.FlowRate), std::bit_cast<uint32_t>(flow));
        EXPECT_EQ(r.VolumeCounter, 0x80000001u);
        EXPECT_EQ(r.OperatingHours, 123456.789f);
        EXPECT_EQ(r.Reserved, s.Reserved);
    }
}

TEST(DeviceConfig, ValuesNumberedInWireOrder)
{
    uint8_t p[kDeviceConfigLength];
    for (int i = 0; i < kConfigValueCount; ++i)
        WriteFloatLE(float(i + 1) * 10.0f, p + 4 * i);
    p[52] = 0xC1;
    p[53] = 0xC2;
    p[54] = 0xC3;
    const DeviceConfig c = DecodeDeviceConfig(p);
    const float named[] = {c.Dy, c.Ves, c.K0, c.K1, c.K2, c.K3, c.K4, c.FL0, c.FL1, c.FL2, c.FL3, c.FL4, c.MainCal};
    for (int i = 0; i < kConfigValueCount; ++i) {
        EXPECT_EQ(named[i], float(i + 1) * 10.0f) << i;
        EXPECT_EQ(c.Value(i), named[i]) << i;
    }
    EXPECT_EQ(c.Tail, (std::array<uint8_t, 3>{0xC1, 0xC2, 0xC3}));

    uint8_t back[kDeviceConfigLength];
    EncodeDeviceConfig(c, back);
    EXPECT_EQ(0, std::memcmp(p, back, sizeof p));
}

TEST(DeviceConfig, SetValueAndOutOfRangeNumbers)
{
    DeviceConfig c;
    c.SetValue(11, 125.0f);
    EXPECT_EQ(c.FL4, 125.0f);
    c.SetValue(0, 0.3f);
    EXPECT_EQ(c.Dy, 0.3f);
    EXPECT_THROW(c.Value(-1), std::out_of_range);
    EXPECT_THROW(c.Value(13), std::out_of_range);
    EXPECT_THROW(c.SetValue(13, 1.0f), std::out_of_range);
}

TEST(Scalars, LittleEndianWhateverTheHost)
{
    uint8_t p[4];
    WriteFloatLE(0.04f, p);  // 0x3D23D70A
    EXPECT_EQ(V({p[0], p[1], p[2], p[3]}), V({0x0A, 0xD7, 0x23, 0x3D}));
    EXPECT_EQ(ReadFloatLE(p), 0.04f);
    WriteU32LE(0x01020304u, p);
    EXPECT_EQ(V({p[0], p[1], p[2], p[3]}), V({4, 3, 2, 1}));
    WriteU16LE(0xABCD, p);
    EXPECT_EQ(p[0], 0xCD);
    EXPECT_EQ(p[1], 0xAB);
    EXPECT_EQ(ReadU16LE(p), 0xABCD);
}

TEST(ConfigReply, ConfigurationFromByte7WithChecksumAsLastByte)
{
    // A 62-byte reply: configuration at 7..61, its last byte being the
    // reply's checksum; decoding keeps that byte as offset 54.
    const DeviceConfig c = SampleConfig();
    std::array<uint8_t, 62> reply{};
    reply[0] = 62;
    reply[1] = 230;
    EncodeDeviceConfig(c, &reply[kConfigOffset]);
    SetFrameChecksum(reply.data(), 62);
    const DeviceConfig d = DecodeDeviceConfig(&reply[kConfigOffset]);
    for (int i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(d.Value(i), c.Value(i));
    EXPECT_EQ(d.Tail[0], 0x12);
    EXPECT_EQ(d.Tail[1], 0x34);
    EXPECT_EQ(d.Tail[2], reply[61]);
}

}  // namespace
