#pragma once
// The meters' wire protocol: request frames, the write-configuration frame,
// the additive checksum that ends every frame, and the two payloads (state
// and configuration). Pure data handling, no port and no Qt.
//
// Everything on the wire is little-endian; reals are IEEE 754 single
// precision. The codecs here produce the same bytes on any host.

#include <array>
#include <cstdint>

using SerialNumber = uint16_t;

// Identifies a ZRM meter. Requests to serial number 0 carry 0 instead.
constexpr uint8_t kDeviceType = 230;

constexpr uint8_t kCmdIdentify = 0;
constexpr uint8_t kCmdWriteConfig = 4;
constexpr uint8_t kCmdReadConfig = 5;
constexpr uint8_t kCmdReadState = 6;
constexpr uint8_t kCmdResetCounter = 8;

constexpr int kRequestLength = 6;
constexpr int kWriteConfigFrameLength = 62;
constexpr int kDeviceStateLength = 26;
constexpr int kDeviceConfigLength = 55;

// Fixed positions in frames.
constexpr int kNewSerialOffset = 5;     // write frame: the serial number to take on
constexpr int kConfigOffset = 7;        // write frame and configuration reply
constexpr int kStateOffset = 5;         // state reply
constexpr int kWriteStatusOffset = 5;   // write reply: 1 = changes blocked
constexpr uint8_t kWriteStatusBlocked = 1;

constexpr int kConfigValueCount = 13;

// The thirteen values' names, by value number, as the .coef file and the
// journal key them.
extern const std::array<const char*, kConfigValueCount> kConfigValueKeys;

// Little-endian scalars, independent of the host's byte order.
uint16_t ReadU16LE(const uint8_t* p);
uint32_t ReadU32LE(const uint8_t* p);
float ReadFloatLE(const uint8_t* p);
void WriteU16LE(uint16_t v, uint8_t* p);
void WriteU32LE(uint32_t v, uint8_t* p);
void WriteFloatLE(float v, uint8_t* p);

// (256 - sum of bytes 0..n-2) mod 256. A frame is valid exactly when all of
// its n bytes add up to 0 modulo 256.
uint8_t FrameChecksum(const uint8_t* frame, int n);
// Writes the checksum of bytes 0..n-2 into byte n-1 (nothing when n < 1).
void SetFrameChecksum(uint8_t* frame, int n);
// n is the count actually received, not the frame's length byte. An empty
// input is never valid.
bool CheckFrameChecksum(const uint8_t* bytes, int n);

struct DeviceState {
    float FlowRate = 0;           // m3/h
    uint32_t VolumeCounter = 0;   // units of 1/VolumeScale m3
    float OperatingHours = 0;
    std::array<uint8_t, 14> Reserved{};
};

DeviceState DecodeDeviceState(const uint8_t* p);   // 26 bytes
void EncodeDeviceState(const DeviceState& s, uint8_t* p);

struct DeviceConfig {
    float Dy = 0;   // nominal diameter, metres
    float Ves = 0;  // output pulse weight
    float K0 = 0, K1 = 0, K2 = 0, K3 = 0, K4 = 0;
    float FL0 = 0, FL1 = 0, FL2 = 0, FL3 = 0, FL4 = 0;
    float MainCal = 0;
    // Bytes 52..54: two carried unchanged from a read into the next write,
    // then the byte that sits where a 62-byte frame has its checksum.
    std::array<uint8_t, 3> Tail{};

    // The thirteen values by number 0..12 (Dy, Ves, K0..K4, FL0..FL4,
    // MainCal). Throws std::out_of_range outside 0..12.
    float Value(int i) const;
    void SetValue(int i, float v);

    bool operator==(const DeviceConfig&) const = default;
};

DeviceConfig DecodeDeviceConfig(const uint8_t* p);   // 55 bytes
void EncodeDeviceConfig(const DeviceConfig& c, uint8_t* p);

// Six bytes: length, device type (0 when n is 0), serial number, command,
// checksum.
std::array<uint8_t, kRequestLength> BuildRequest(SerialNumber n, uint8_t command);

// Device type 230 even for target 0. The configuration's 55 bytes go to
// 7..61 and the checksum then overwrites byte 61, so the configuration's
// last byte never leaves the program.
std::array<uint8_t, kWriteConfigFrameLength> BuildWriteConfigFrame(SerialNumber target, SerialNumber newSerial,
                                                                   const DeviceConfig& c);

// Counter units per cubic metre (100, 10 or 1) for a nominal diameter in
// metres: below 40 mm 100, 40..150 mm 10, above 1. The millimetres are the
// exact product of the single-precision Dy and 1000, rounded half to even.
// A non-finite Dy gives 1 (NaN) or the value its sign implies.
int VolumeScale(float Dy);
