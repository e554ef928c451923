#pragma once
// The virtual meter bench: one pseudo-terminal standing for an RS-485 line,
// its slave linked at a stable path, and any number of simulated ZRM meters
// on it that answer the program's frames. Faults can be injected per meter
// and changed while the bench runs; the line can be unplugged and plugged in
// again. Every frame the bench receives is recorded with its wire times so
// tests can check the program's frames byte for byte.
//
// The bench runs its own thread. Every public call is thread-safe.

#include "frames.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace metersim {

using Clock = std::chrono::steady_clock;

// One character on the wire at 9600 bit/s, 8N1: start, 8 data, stop bits.
constexpr std::chrono::nanoseconds kByteTime{10 * 1'000'000'000LL / 9600};

enum class FlowShape { Constant, Sine, Ramp };

// The flow a meter measures, in m3/h, as a function of simulated time since
// the meter was added (or since its profile was last set).
struct FlowProfile {
    FlowShape shape = FlowShape::Constant;
    double base = 0;       // constant flow; the sine's centre; the ramp's start
    double amplitude = 0;  // sine: peak deviation from base
    double target = 0;     // ramp: the flow held after `period` seconds
    double period = 60;    // seconds: the sine's period, the ramp's duration
    double noise = 0;      // each reading adds uniform noise in [-noise, +noise]

    static FlowProfile Constant(double m3h, double noise = 0);
    static FlowProfile Sine(double base, double amplitude, double periodSeconds, double noise = 0);
    static FlowProfile Ramp(double from, double to, double seconds, double noise = 0);

    // The noise-free flow at simulated time t (seconds).
    double At(double t) const;

    bool operator==(const FlowProfile&) const = default;
};

// Misbehaviour of one meter. Byte-level faults combine in this order: wrong
// device type (checksum still right), bad checksum, cut, extra bytes,
// garbage before; then the timing faults (late, split).
struct FaultSpec {
    bool silent = false;       // hears nothing: no reply, no effect
    int answerFromSend = 1;    // acts only on the n-th identical request in a row (counted since its last action)
    bool badChecksum = false;  // last byte off by one
    bool wrongDeviceType = false;  // byte 1 is 231, checksum consistent
    int cutBytes = 0;          // this many bytes missing from the end (at least one byte is sent)
    int extraBytes = 0;        // this many 0x55 bytes after the checksum
    int garbageBytes = 0;      // this many 0xFF bytes before the reply
    int lateMs = 0;            // added to the reply delay
    int splitPieces = 1;       // reply written in this many pieces ...
    int splitGapMs = 20;       // ... this far apart

    bool Any() const { return !(*this == FaultSpec{}); }
    bool operator==(const FaultSpec&) const = default;
};

struct MeterSpec {
    SerialNumber serial = 1;
    int diameterIndex = 0;  // 0..9, "Ду 15".."Ду 300"
    FlowProfile flow;
    uint32_t counter = 0;   // VolumeCounter at start
    float hours = 0;        // OperatingHours at start
    std::optional<DeviceConfig> config;  // default: DefaultConfigFor(diameterIndex)
    bool blocked = false;   // refuses configuration writes (status 1)
    FaultSpec fault;
};

struct MeterSnapshot {
    SerialNumber serial = 0;
    int diameterIndex = 0;
    DeviceConfig config;
    DeviceState state;         // now, noise-free flow
    DeviceState lastReported;  // carried by the last state reply this meter sent
    FlowProfile flow;
    bool blocked = false;
    FaultSpec fault;
    int requests = 0;  // valid frames addressed to it (its serial or 0)
    int replies = 0;   // replies it put on the line (collisions included)
    int writes = 0;    // configuration writes accepted
    int resets = 0;    // counter resets done
};

// Bytes as the bench received them, cut into frames. Invalid entries are
// bytes dropped while resynchronising: garbage, a frame whose checksum
// failed, a partial frame followed by silence.
struct ReceivedFrame {
    std::vector<uint8_t> bytes;
    Clock::time_point firstByte;  // wire arrival of the first and last byte
    Clock::time_point lastByte;
    bool valid = false;           // a 6- or 62-byte frame whose checksum holds
};

struct SentReply {
    std::vector<uint8_t> bytes;        // as put on the line, faults included
    std::vector<SerialNumber> from;    // more than one: a collision
    uint8_t command = 0;
    Clock::time_point start;           // planned: the first bit on the wire, the last byte arrived
    Clock::time_point end;
};

struct BenchOptions {
    bool pace = false;       // 9600 bit/s wire timing in both directions
    int replyDelayMs = 5;    // from a request's last byte to the reply's first
    int silenceMs = 50;      // a partial frame this long without a new byte is dropped
    bool resetAck = true;    // answer command 8 with a 6-byte acknowledgement
    uint32_t seed = 1;       // flow noise; same seed, same sequence per meter
    double timeScale = 1;    // simulated seconds per real second (volume, hours, profiles)
    // One line per event, called on the bench thread with the bench locked:
    // it must not call back into the bench.
    std::function<void(const std::string&)> log;
};

class MeterBench {
public:
    explicit MeterBench(std::string linkPath, BenchOptions options = {});
    ~MeterBench();  // Stop()
    MeterBench(const MeterBench&) = delete;
    MeterBench& operator=(const MeterBench&) = delete;

    // Opens the line, links it and starts answering. A stale symbolic link at
    // the path is replaced; any other file there makes Start throw
    // std::system_error and stays untouched.
    void Start();
    // Stops answering, closes the line and removes the link. Idempotent.
    void Stop();

    // Throws std::invalid_argument for a serial number already on the line
    // and for serial 0 (the broadcast address), std::out_of_range for a
    // diameter index outside 0..9.
    void AddMeter(const MeterSpec& meter);
    // These throw std::out_of_range for a serial number no meter carries.
    void RemoveMeter(SerialNumber serial);
    // Also restarts the meter's count of identical requests.
    void SetFault(SerialNumber serial, const FaultSpec& fault);
    void ClearFault(SerialNumber serial) { SetFault(serial, FaultSpec{}); }
    void SetFlow(SerialNumber serial, const FlowProfile& flow);
    void SetBlocked(SerialNumber serial, bool blocked);
    void SetCounter(SerialNumber serial, uint32_t counter);
    MeterSnapshot Meter(SerialNumber serial) const;
    std::vector<MeterSnapshot> Meters() const;

    std::vector<ReceivedFrame> Received() const;
    std::vector<SentReply> Sent() const;
    void ClearReceived();  // clears both records
    // True once at least `count` valid frames / replies are recorded.
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;
    bool WaitForSent(size_t count, std::chrono::milliseconds timeout) const;
    // Bytes the line could not take (nobody reading and the buffer full).
    uint64_t DroppedOutputBytes() const;

    // Unplug closes the line and removes the link: the far side sees a
    // hang-up. Replug opens a new line at the same link path. Meters keep
    // their state across both.
    void Unplug();
    void Replug();
    bool Plugged() const;

    const std::string& LinkPath() const;
    std::string SlavePath() const;  // empty while unplugged or stopped

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

}  // namespace metersim
