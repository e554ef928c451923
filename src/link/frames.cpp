#include "frames.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

uint16_t ReadU16LE(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t ReadU32LE(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

float ReadFloatLE(const uint8_t* p)
{
    return std::bit_cast<float>(ReadU32LE(p));
}

void WriteU16LE(uint16_t v, uint8_t* p)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void WriteU32LE(uint32_t v, uint8_t* p)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void WriteFloatLE(float v, uint8_t* p)
{
    static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);
    WriteU32LE(std::bit_cast<uint32_t>(v), p);
}

uint8_t FrameChecksum(const uint8_t* frame, int n)
{
    uint8_t sum = 0;
    for (int i = 0; i < n - 1; ++i)
        sum = uint8_t(sum + frame[i]);
    return uint8_t(-sum);
}

void SetFrameChecksum(uint8_t* frame, int n)
{
    if (n > 0)
        frame[n - 1] = FrameChecksum(frame, n);
}

bool CheckFrameChecksum(const uint8_t* bytes, int n)
{
    return n > 0 && bytes[n - 1] == FrameChecksum(bytes, n);
}

DeviceState DecodeDeviceState(const uint8_t* p)
{
    DeviceState s;
    s.FlowRate = ReadFloatLE(p);
    s.VolumeCounter = ReadU32LE(p + 4);
    s.OperatingHours = ReadFloatLE(p + 8);
    std::memcpy(s.Reserved.data(), p + 12, s.Reserved.size());
    return s;
}

void EncodeDeviceState(const DeviceState& s, uint8_t* p)
{
    WriteFloatLE(s.FlowRate, p);
    WriteU32LE(s.VolumeCounter, p + 4);
    WriteFloatLE(s.OperatingHours, p + 8);
    std::memcpy(p + 12, s.Reserved.data(), s.Reserved.size());
}

namespace {

constexpr float DeviceConfig::*kValueFields[kConfigValueCount] = {
    &DeviceConfig::Dy,  &DeviceConfig::Ves, &DeviceConfig::K0,  &DeviceConfig::K1,  &DeviceConfig::K2,
    &DeviceConfig::K3,  &DeviceConfig::K4,  &DeviceConfig::FL0, &DeviceConfig::FL1, &DeviceConfig::FL2,
    &DeviceConfig::FL3, &DeviceConfig::FL4, &DeviceConfig::MainCal,
};

void CheckValueIndex(int i)
{
    if (i < 0 || i >= kConfigValueCount)
        throw std::out_of_range("configuration value number " + std::to_string(i) + " is not 0..12");
}

}  // namespace

float DeviceConfig::Value(int i) const
{
    CheckValueIndex(i);
    return this->*kValueFields[i];
}

void DeviceConfig::SetValue(int i, float v)
{
    CheckValueIndex(i);
    this->*kValueFields[i] = v;
}

DeviceConfig DecodeDeviceConfig(const uint8_t* p)
{
    DeviceConfig c;
    for (int i = 0; i < kConfigValueCount; ++i)
        c.SetValue(i, ReadFloatLE(p + 4 * i));
    std::memcpy(c.Tail.data(), p + 4 * kConfigValueCount, c.Tail.size());
    return c;
}

void EncodeDeviceConfig(const DeviceConfig& c, uint8_t* p)
{
    for (int i = 0; i < kConfigValueCount; ++i)
        WriteFloatLE(c.Value(i), p + 4 * i);
    std::memcpy(p + 4 * kConfigValueCount, c.Tail.data(), c.Tail.size());
}

std::array<uint8_t, kRequestLength> BuildRequest(SerialNumber n, uint8_t command)
{
    std::array<uint8_t, kRequestLength> f{};
    f[0] = kRequestLength;
    f[1] = n == 0 ? 0 : kDeviceType;
    WriteU16LE(n, &f[2]);
    f[4] = command;
    SetFrameChecksum(f.data(), kRequestLength);
    return f;
}

std::array<uint8_t, kWriteConfigFrameLength> BuildWriteConfigFrame(SerialNumber target, SerialNumber newSerial,
                                                                   const DeviceConfig& c)
{
    std::array<uint8_t, kWriteConfigFrameLength> f{};
    f[0] = kWriteConfigFrameLength;
    f[1] = kDeviceType;
    WriteU16LE(target, &f[2]);
    f[4] = kCmdWriteConfig;
    WriteU16LE(newSerial, &f[kNewSerialOffset]);
    EncodeDeviceConfig(c, &f[kConfigOffset]);
    SetFrameChecksum(f.data(), kWriteConfigFrameLength);
    return f;
}

int VolumeScale(float Dy)
{
    // A float has 24 significant bits and 1000 needs 10, so the product is
    // exact in double; nearbyint rounds half to even in the default mode.
    // 0.04f is slightly below 0.04 and still lands on 40.
    const double mm = std::nearbyint(double(Dy) * 1000.0);
    if (mm < 40)
        return 100;
    if (mm <= 150)
        return 10;
    return 1;
}

const std::array<const char*, kConfigValueCount> kConfigValueKeys = {
    "Dy", "Ves", "K0", "K1", "K2", "K3", "K4", "FL0", "FL1", "FL2", "FL3", "FL4", "MainCal",
};
