#include "meter_bench.h"

#include "diameter_defaults.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <numbers>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace metersim {

FlowProfile FlowProfile::Constant(double m3h, double noise)
{
    FlowProfile f;
    f.base = m3h;
    f.noise = noise;
    return f;
}

FlowProfile FlowProfile::Sine(double base, double amplitude, double periodSeconds, double noise)
{
    FlowProfile f;
    f.shape = FlowShape::Sine;
    f.base = base;
    f.amplitude = amplitude;
    f.period = periodSeconds;
    f.noise = noise;
    return f;
}

FlowProfile FlowProfile::Ramp(double from, double to, double seconds, double noise)
{
    FlowProfile f;
    f.shape = FlowShape::Ramp;
    f.base = from;
    f.target = to;
    f.period = seconds;
    f.noise = noise;
    return f;
}

double FlowProfile::At(double t) const
{
    switch (shape) {
    case FlowShape::Constant:
        break;
    case FlowShape::Sine:
        if (period > 0)
            return base + amplitude * std::sin(2 * std::numbers::pi * t / period);
        break;
    case FlowShape::Ramp:
        if (period <= 0 || t >= period)
            return target;
        if (t <= 0)
            return base;
        return base + (target - base) * t / period;
    }
    return base;
}

namespace {

constexpr uint8_t kWrongDeviceType = kDeviceType + 1;
constexpr uint8_t kExtraByte = 0x55;
constexpr uint8_t kGarbageByte = 0xFF;
// Reply lengths, counting every byte including the checksum.
constexpr int kIdentifyReplyLength = 6;
constexpr int kWriteReplyLength = 7;
constexpr int kConfigReplyLength = 62;
constexpr int kStateReplyLength = kStateOffset + kDeviceStateLength + 1;  // 32
constexpr int kResetAckLength = 6;
// Keeps a typo on the command line from asking for gigabytes.
constexpr int kMaxFaultBytes = 4096;

std::system_error SysError(const std::string& what)
{
    return std::system_error(errno, std::generic_category(), what);
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        s += b;
    }
    return s;
}

timespec ToTimespec(Clock::time_point t)
{
    // steady_clock is CLOCK_MONOTONIC with glibc.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    return timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

timespec ToTimespec(std::chrono::nanoseconds d)
{
    if (d.count() < 0)
        d = {};
    return timespec{time_t(d.count() / 1'000'000'000), long(d.count() % 1'000'000'000)};
}

struct SimMeter {
    SerialNumber serial = 0;
    int diameterIndex = 0;
    DeviceConfig config;
    bool blocked = false;
    FaultSpec fault;

    FlowProfile flow;
    double flowEpoch = 0;      // simulated second the profile started
    uint32_t counterBase = 0;
    double units = 0;          // counter units accumulated on top of counterBase
    double integratedTo = 0;   // simulated second up to which `units` is done
    float hoursBase = 0;
    double hoursEpoch = 0;
    std::mt19937 rng;

    std::vector<uint8_t> lastRequest;  // for counting identical requests in a row
    int sameCount = 0;

    DeviceState lastReported;
    int requests = 0, replies = 0, writes = 0, resets = 0;

    void Integrate(double now)
    {
        if (now <= integratedTo)
            return;
        const double dt = now - integratedTo;
        double m3 = 0;
        if (flow.shape == FlowShape::Constant) {
            m3 = std::max(flow.base, 0.0) * dt / 3600;
        } else {
            // Midpoint rule, fine enough for the slow shapes a bench uses;
            // reverse flow does not count.
            const double step = flow.period > 0 ? flow.period / 200 : dt;
            const int n = int(std::clamp(std::ceil(dt / step), 1.0, 20000.0));
            const double h = dt / n;
            for (int i = 0; i < n; ++i)
                m3 += std::max(flow.At(integratedTo + (i + 0.5) * h - flowEpoch), 0.0) * h / 3600;
        }
        units += m3 * VolumeScale(config.Dy);
        integratedTo = now;
    }

    uint32_t Counter() const
    {
        const double whole = std::fmod(std::floor(units), 4294967296.0);
        return uint32_t(counterBase + uint32_t(whole));  // wraps like the meter's own register
    }

    DeviceState State(double now, bool withNoise)
    {
        Integrate(now);
        DeviceState s;
        double q = flow.At(now - flowEpoch);
        if (withNoise && flow.noise > 0)
            q += std::uniform_real_distribution<double>(-flow.noise, flow.noise)(rng);
        s.FlowRate = float(q);
        s.VolumeCounter = Counter();
        s.OperatingHours = float(hoursBase + (now - hoursEpoch) / 3600);
        return s;
    }

    void SetCounter(double now, uint32_t value)
    {
        Integrate(now);
        counterBase = value;
        units = 0;
    }

    MeterSnapshot Snapshot(double now)
    {
        MeterSnapshot s;
        s.serial = serial;
        s.diameterIndex = diameterIndex;
        s.config = config;
        s.state = State(now, false);
        s.lastReported = lastReported;
        s.flow = flow;
        s.blocked = blocked;
        s.fault = fault;
        s.requests = requests;
        s.replies = replies;
        s.writes = writes;
        s.resets = resets;
        return s;
    }
};

struct TimedByte {
    uint8_t b;
    Clock::time_point t;
};

}  // namespace

struct MeterBench::Impl {
    std::string linkPath;
    BenchOptions opt;
    Clock::time_point t0 = Clock::now();

    mutable std::mutex m;
    mutable std::condition_variable cv;

    std::vector<SimMeter> meters;
    std::vector<ReceivedFrame> received;
    size_t validReceived = 0;
    std::vector<SentReply> sent;

    // The line.
    int master = -1;
    int heldSlave = -1;  // keeps the master from seeing a hang-up while no client has the slave open
    bool lineBroken = false;
    std::string slavePath;
    bool plugged = false;

    // The bench thread.
    std::thread thread;
    bool running = false;
    bool stopFlag = false;
    int wake[2] = {-1, -1};
    std::deque<std::function<void()>> commands;

    // Wire in: bytes read but not yet "arrived", then the frame parser.
    std::deque<TimedByte> incoming;
    Clock::time_point lastArrival{};
    std::vector<TimedByte> rx;
    ReceivedFrame garbage;

    // Wire out: bytes due at a time.
    std::multimap<Clock::time_point, std::vector<uint8_t>> out;
    Clock::time_point lineFree{};
    uint64_t dropped = 0;

    double SimSeconds(Clock::time_point t) const
    {
        return std::chrono::duration<double>(t - t0).count() * opt.timeScale;
    }
    double SimNow() const { return SimSeconds(Clock::now()); }

    void Log(const std::string& line)
    {
        if (!opt.log)
            return;
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%9.3f ", std::chrono::duration<double>(Clock::now() - t0).count());
        opt.log(stamp + line);
    }

    SimMeter* Find(SerialNumber serial)
    {
        for (auto& meter : meters)
            if (meter.serial == serial)
                return &meter;
        return nullptr;
    }

    SimMeter& Get(SerialNumber serial)
    {
        if (SimMeter* meter = Find(serial))
            return *meter;
        throw std::out_of_range("no meter with serial number " + std::to_string(serial));
    }

    // ---- line ----

    void OpenLine()
    {
        int fd = posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0)
            throw SysError("posix_openpt");
        char name[128];
        if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
            auto e = SysError("pseudo-terminal setup");
            ::close(fd);
            throw e;
        }
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

        int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0) {
            auto e = SysError(std::string("open ") + name);
            ::close(fd);
            throw e;
        }
        // Raw 8N1: without it the line discipline would echo the bench's
        // replies back to it and translate CR/LF.
        for (int f : {fd, slave}) {
            termios t{};
            if (tcgetattr(f, &t) == 0) {
                cfmakeraw(&t);
                cfsetispeed(&t, B9600);
                cfsetospeed(&t, B9600);
                t.c_cflag &= ~(PARENB | CSTOPB | CSIZE);
                t.c_cflag |= CS8 | CLOCAL | CREAD;
                tcsetattr(f, TCSANOW, &t);
            }
        }
        try {
            PlaceLink(name);
        } catch (...) {
            ::close(slave);
            ::close(fd);
            throw;
        }
        master = fd;
        heldSlave = slave;
        slavePath = name;
        plugged = true;
        lineBroken = false;
        Log("line open: " + linkPath + " -> " + slavePath);
    }

    void PlaceLink(const std::string& target)
    {
        struct stat st {};
        if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            throw std::system_error(EEXIST, std::generic_category(), linkPath + " exists and is not a symbolic link");
        // A new link renamed over the old one: the path never goes missing
        // and a stale link from a killed run is replaced.
        const std::string tmp = linkPath + ".new." + std::to_string(getpid());
        ::unlink(tmp.c_str());
        if (symlink(target.c_str(), tmp.c_str()) != 0)
            throw SysError("symlink " + tmp);
        if (rename(tmp.c_str(), linkPath.c_str()) != 0) {
            auto e = SysError("rename " + tmp + " to " + linkPath);
            ::unlink(tmp.c_str());
            throw e;
        }
    }

    void RemoveLink()
    {
        if (slavePath.empty())
            return;
        char buf[256];
        const ssize_t n = readlink(linkPath.c_str(), buf, sizeof buf - 1);
        // Only our own link: another bench may have taken the path since.
        if (n > 0 && std::string(buf, size_t(n)) == slavePath)
            ::unlink(linkPath.c_str());
    }

    void CloseLine()
    {
        if (master < 0)
            return;
        RemoveLink();
        ::close(master);
        ::close(heldSlave);
        master = heldSlave = -1;
        Log("line closed: " + slavePath);
        slavePath.clear();
        plugged = false;
        incoming.clear();
        rx.clear();
        FlushGarbage();
        out.clear();
    }

    // Runs fn on the bench thread (which owns the descriptors while it
    // runs) and waits for it; rethrows what fn threw.
    void OnBenchThread(std::unique_lock<std::mutex>& lk, const std::function<void()>& fn)
    {
        if (!running) {
            fn();
            return;
        }
        bool done = false;
        std::exception_ptr error;
        commands.push_back([&] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
            done = true;
        });
        Wake();
        cv.wait(lk, [&] { return done; });
        if (error)
            std::rethrow_exception(error);
    }

    void Wake()
    {
        const char c = 1;
        [[maybe_unused]] ssize_t r = ::write(wake[1], &c, 1);
    }

    // ---- bench thread ----

    void Run()
    {
        std::unique_lock lk(m);
        for (;;) {
            while (!commands.empty()) {
                auto c = std::move(commands.front());
                commands.pop_front();
                c();
            }
            cv.notify_all();
            if (stopFlag)
                break;
            ReadInput();
            ProcessIncoming(Clock::now());
            WriteDue(Clock::now());
            const auto deadline = NextDeadline();
            const int fd = lineBroken ? -1 : master;
            lk.unlock();
            WaitUntil(fd, deadline);
            lk.lock();
        }
        // From here on callers run their line commands themselves.
        running = false;
    }

    std::optional<Clock::time_point> NextDeadline() const
    {
        std::optional<Clock::time_point> d;
        auto consider = [&](Clock::time_point t) {
            if (!d || t < *d)
                d = t;
        };
        if (!incoming.empty())
            consider(incoming.front().t);
        else if (const auto heard = LastHeard())
            consider(*heard + std::chrono::milliseconds(opt.silenceMs));
        if (!out.empty())
            consider(out.begin()->first);
        return d;
    }

    void WaitUntil(int fd, std::optional<Clock::time_point> deadline)
    {
        const auto now = Clock::now();
        if (deadline && *deadline - now < std::chrono::milliseconds(2)) {
            // Byte pacing: poll's wake-up is too coarse for 1.04 ms steps.
            // Bytes arriving meanwhile wait in the pty and are read next.
            if (*deadline > now) {
                const timespec ts = ToTimespec(*deadline);
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
                }
            }
            return;
        }
        pollfd fds[2] = {{wake[0], POLLIN, 0}, {fd, POLLIN, 0}};
        timespec ts{};
        if (deadline)
            ts = ToTimespec(std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - now));
        const int r = ppoll(fds, 2, deadline ? &ts : nullptr, nullptr);
        if (r > 0 && (fds[0].revents & POLLIN)) {
            char buf[64];
            while (::read(wake[0], buf, sizeof buf) > 0) {
            }
        }
    }

    void ReadInput()
    {
        if (master < 0 || lineBroken)
            return;
        uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) {
                const auto now = Clock::now();
                for (ssize_t i = 0; i < n; ++i) {
                    // On a paced line a byte has arrived once its ten bits
                    // have, one character time after it could start.
                    Clock::time_point t = now;
                    if (opt.pace)
                        t = std::max(now, lastArrival) + kByteTime;
                    lastArrival = t;
                    incoming.push_back({buf[i], t});
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                // Cannot happen while we hold the slave; never spin on it.
                lineBroken = true;
                Log("line broken");
            }
            return;
        }
    }

    void ProcessIncoming(Clock::time_point now)
    {
        bool moved = false;
        while (!incoming.empty() && incoming.front().t <= now) {
            rx.push_back(incoming.front());
            incoming.pop_front();
            Parse(false);
            moved = true;
        }
        if (moved || !incoming.empty())
            return;
        if (const auto heard = LastHeard(); heard && now >= *heard + std::chrono::milliseconds(opt.silenceMs))
            Parse(true);
    }

    // The last byte still held: unparsed, or dropped but not yet recorded.
    std::optional<Clock::time_point> LastHeard() const
    {
        if (!rx.empty())
            return rx.back().t;
        if (!garbage.bytes.empty())
            return garbage.lastByte;
        return std::nullopt;
    }

    // Frames start with their length, 6 or 62. Bytes that cannot start a
    // valid frame are dropped one at a time until one does; after a silence
    // (final) an unfinished frame is given up the same way. A run of dropped
    // bytes is recorded as one entry, before the next frame or at the
    // silence.
    void Parse(bool final)
    {
        for (;;) {
            if (rx.empty()) {
                if (final)
                    FlushGarbage();
                return;
            }
            const size_t len = rx[0].b;
            if (len != kRequestLength && len != kWriteConfigFrameLength) {
                Drop();
                continue;
            }
            if (rx.size() < len) {
                if (!final)
                    return;
                Drop();
                continue;
            }
            std::vector<uint8_t> bytes(len);
            for (size_t i = 0; i < len; ++i)
                bytes[i] = rx[i].b;
            if (!CheckFrameChecksum(bytes.data(), int(len))) {
                Drop();
                continue;
            }
            FlushGarbage();
            const auto first = rx[0].t, last = rx[len - 1].t;
            rx.erase(rx.begin(), rx.begin() + long(len));
            HandleFrame(bytes, first, last);
        }
    }

    void Drop()
    {
        if (garbage.bytes.empty())
            garbage.firstByte = rx[0].t;
        garbage.lastByte = rx[0].t;
        garbage.bytes.push_back(rx[0].b);
        rx.erase(rx.begin());
    }

    void FlushGarbage()
    {
        if (garbage.bytes.empty())
            return;
        Log("rx dropped " + Hex(garbage.bytes));
        garbage.valid = false;
        received.push_back(std::move(garbage));
        garbage = ReceivedFrame{};
        cv.notify_all();
    }

    void HandleFrame(const std::vector<uint8_t>& f, Clock::time_point first, Clock::time_point last)
    {
        received.push_back({f, first, last, true});
        ++validReceived;
        cv.notify_all();
        Log("rx " + Hex(f));

        const bool request = f.size() == size_t(kRequestLength);
        const SerialNumber target = ReadU16LE(&f[2]);
        const uint8_t type = f[1];
        const uint8_t cmd = f[4];
        bool understood;
        if (request)
            understood = (cmd == kCmdIdentify || cmd == kCmdReadConfig || cmd == kCmdReadState ||
                          cmd == kCmdResetCounter) &&
                         (type == kDeviceType || (target == 0 && type == 0));
        else
            understood = cmd == kCmdWriteConfig && type == kDeviceType;
        if (!understood) {
            Log("   not a request the meters know");
            return;
        }

        const double now = SimSeconds(Clock::now());
        struct Answer {
            SimMeter* meter;
            std::vector<uint8_t> bytes;
        };
        std::vector<Answer> answers;
        for (auto& meter : meters) {
            if (target != 0 && meter.serial != target)
                continue;
            ++meter.requests;
            if (meter.fault.silent)
                continue;
            if (f == meter.lastRequest) {
                ++meter.sameCount;
            } else {
                meter.lastRequest = f;
                meter.sameCount = 1;
            }
            if (meter.sameCount < meter.fault.answerFromSend) {
                Log("   " + std::to_string(meter.serial) + " ignores send " + std::to_string(meter.sameCount));
                continue;
            }
            meter.sameCount = 0;
            meter.lastRequest.clear();
            if (auto reply = Act(meter, f, now)) {
                ApplyByteFaults(*reply, meter.fault);
                answers.push_back({&meter, std::move(*reply)});
            }
        }
        if (answers.empty())
            return;

        SentReply s;
        s.command = cmd;
        auto due = last + std::chrono::milliseconds(opt.replyDelayMs);
        if (answers.size() == 1) {
            const FaultSpec& fault = answers[0].meter->fault;
            s.bytes = std::move(answers[0].bytes);
            due += std::chrono::milliseconds(fault.lateMs);
            Schedule(s, due, fault.splitPieces, fault.splitGapMs);
        } else {
            // Several drivers on one RS-485 pair: the receiver sees the
            // bits of all of them at once. Modelled as a byte-wise OR that
            // is never a valid frame, whatever the replies were.
            int lateMs = 0;
            for (const auto& a : answers) {
                if (a.bytes.size() > s.bytes.size())
                    s.bytes.resize(a.bytes.size(), 0);
                for (size_t i = 0; i < a.bytes.size(); ++i)
                    s.bytes[i] |= a.bytes[i];
                lateMs = std::max(lateMs, a.meter->fault.lateMs);
            }
            if (CheckFrameChecksum(s.bytes.data(), int(s.bytes.size())))
                s.bytes.back() = uint8_t(s.bytes.back() + 1);
            due += std::chrono::milliseconds(lateMs);
            Schedule(s, due, 1, 0);
        }
        for (const auto& a : answers) {
            s.from.push_back(a.meter->serial);
            ++a.meter->replies;
        }
        Log(std::string(s.from.size() > 1 ? "tx collision " : "tx ") + Hex(s.bytes));
        sent.push_back(std::move(s));
        cv.notify_all();
    }

    std::optional<std::vector<uint8_t>> Act(SimMeter& meter, const std::vector<uint8_t>& f, double now)
    {
        const uint8_t cmd = f[4];
        auto header = [&](int len) {
            std::vector<uint8_t> r(size_t(len), 0);
            r[0] = uint8_t(len);
            r[1] = kDeviceType;
            WriteU16LE(meter.serial, &r[2]);
            r[4] = cmd;
            return r;
        };
        std::vector<uint8_t> r;
        switch (cmd) {
        case kCmdIdentify:
            r = header(kIdentifyReplyLength);
            break;
        case kCmdReadState:
            r = header(kStateReplyLength);
            meter.lastReported = meter.State(now, true);
            EncodeDeviceState(meter.lastReported, &r[kStateOffset]);
            break;
        case kCmdReadConfig:
            r = header(kConfigReplyLength);
            WriteU16LE(meter.serial, &r[5]);
            // The configuration's last byte falls on the checksum.
            EncodeDeviceConfig(meter.config, &r[kConfigOffset]);
            break;
        case kCmdWriteConfig:
            if (meter.blocked) {
                r = header(kWriteReplyLength);
                r[kWriteStatusOffset] = kWriteStatusBlocked;
                Log("   " + std::to_string(meter.serial) + " refuses the write: changes blocked");
                break;
            }
            meter.Integrate(now);  // volume so far counts with the old diameter
            meter.config = DecodeDeviceConfig(&f[kConfigOffset]);
            meter.serial = ReadU16LE(&f[kNewSerialOffset]);
            ++meter.writes;
            r = header(kWriteReplyLength);
            r[kWriteStatusOffset] = 0;
            break;
        case kCmdResetCounter:
            meter.SetCounter(now, 0);
            ++meter.resets;
            if (!opt.resetAck)
                return std::nullopt;
            r = header(kResetAckLength);
            break;
        default:
            return std::nullopt;
        }
        SetFrameChecksum(r.data(), int(r.size()));
        return r;
    }

    static void ApplyByteFaults(std::vector<uint8_t>& r, const FaultSpec& fault)
    {
        if (fault.wrongDeviceType) {
            r[1] = kWrongDeviceType;
            SetFrameChecksum(r.data(), int(r.size()));
        }
        if (fault.badChecksum)
            r.back() = uint8_t(r.back() + 1);
        if (fault.cutBytes > 0)
            r.resize(size_t(std::max(1, int(r.size()) - fault.cutBytes)));
        if (fault.extraBytes > 0)
            r.insert(r.end(), size_t(std::min(fault.extraBytes, kMaxFaultBytes)), kExtraByte);
        if (fault.garbageBytes > 0)
            r.insert(r.begin(), size_t(std::min(fault.garbageBytes, kMaxFaultBytes)), kGarbageByte);
    }

    void Schedule(SentReply& s, Clock::time_point due, int pieces, int gapMs)
    {
        const size_t n = s.bytes.size();
        pieces = std::clamp(pieces, 1, int(n));
        Clock::time_point t = due;
        size_t pos = 0;
        for (int k = 0; k < pieces; ++k) {
            const size_t end = n * size_t(k + 1) / size_t(pieces);
            if (k > 0)
                t += std::chrono::milliseconds(gapMs);
            if (opt.pace) {
                t = std::max(t, lineFree);
                for (size_t i = pos; i < end; ++i) {
                    // The byte reaches the far side when its last bit does.
                    if (i == 0)
                        s.start = t;
                    t += kByteTime;
                    s.end = t;
                    out.emplace(t, std::vector<uint8_t>{s.bytes[i]});
                }
                lineFree = t;
            } else {
                if (k == 0)
                    s.start = t;
                s.end = t;
                out.emplace(t, std::vector<uint8_t>(s.bytes.begin() + long(pos), s.bytes.begin() + long(end)));
            }
            pos = end;
        }
    }

    void WriteDue(Clock::time_point now)
    {
        while (!out.empty() && out.begin()->first <= now) {
            const auto& bytes = out.begin()->second;
            ssize_t w = -1;
            if (master >= 0 && !lineBroken) {
                do
                    w = ::write(master, bytes.data(), bytes.size());
                while (w < 0 && errno == EINTR);
            }
            // Nobody reading and the pty buffer full: a real line loses
            // the bytes the same way.
            dropped += w < 0 ? bytes.size() : bytes.size() - size_t(w);
            out.erase(out.begin());
        }
    }
};

MeterBench::MeterBench(std::string linkPath, BenchOptions options) : d(std::make_unique<Impl>())
{
    d->linkPath = std::move(linkPath);
    d->opt = std::move(options);
}

MeterBench::~MeterBench()
{
    Stop();
}

void MeterBench::Start()
{
    std::unique_lock lk(d->m);
    if (d->running)
        return;
    if (d->wake[0] < 0) {
        if (pipe(d->wake) != 0)
            throw SysError("pipe");
        for (int fd : d->wake) {
            fcntl(fd, F_SETFD, FD_CLOEXEC);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    if (!d->plugged)
        d->OpenLine();
    d->stopFlag = false;
    d->running = true;
    d->thread = std::thread([this] { d->Run(); });
}

void MeterBench::Stop()
{
    {
        std::unique_lock lk(d->m);
        if (d->running) {
            d->stopFlag = true;
            d->Wake();
        }
    }
    if (d->thread.joinable())
        d->thread.join();
    std::unique_lock lk(d->m);
    d->running = false;
    d->CloseLine();
    for (int& fd : d->wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void MeterBench::AddMeter(const MeterSpec& given)
{
    if (given.serial == 0)
        throw std::invalid_argument("serial number 0 addresses every meter; a meter cannot carry it");
    const DeviceConfig defaults = DefaultConfigFor(given.diameterIndex);  // checks the index
    std::unique_lock lk(d->m);
    if (d->Find(given.serial))
        throw std::invalid_argument("serial number " + std::to_string(given.serial) + " is already on the line");
    SimMeter meter;
    meter.serial = given.serial;
    meter.diameterIndex = given.diameterIndex;
    meter.config = given.config ? *given.config : defaults;
    meter.blocked = given.blocked;
    meter.fault = given.fault;
    meter.flow = given.flow;
    const double now = d->SimNow();
    meter.flowEpoch = meter.integratedTo = meter.hoursEpoch = now;
    meter.counterBase = given.counter;
    meter.hoursBase = given.hours;
    std::seed_seq seq{d->opt.seed, uint32_t(given.serial)};
    meter.rng.seed(seq);
    d->meters.push_back(std::move(meter));
}

void MeterBench::RemoveMeter(SerialNumber serial)
{
    std::unique_lock lk(d->m);
    SimMeter* meter = &d->Get(serial);
    d->meters.erase(d->meters.begin() + (meter - d->meters.data()));
}

void MeterBench::SetFault(SerialNumber serial, const FaultSpec& fault)
{
    std::unique_lock lk(d->m);
    SimMeter& meter = d->Get(serial);
    meter.fault = fault;
    meter.sameCount = 0;
    meter.lastRequest.clear();
}

void MeterBench::SetFlow(SerialNumber serial, const FlowProfile& flow)
{
    std::unique_lock lk(d->m);
    SimMeter& meter = d->Get(serial);
    const double now = d->SimNow();
    meter.Integrate(now);
    meter.flow = flow;
    meter.flowEpoch = now;
}

void MeterBench::SetBlocked(SerialNumber serial, bool blocked)
{
    std::unique_lock lk(d->m);
    d->Get(serial).blocked = blocked;
}

void MeterBench::SetCounter(SerialNumber serial, uint32_t counter)
{
    std::unique_lock lk(d->m);
    d->Get(serial).SetCounter(d->SimNow(), counter);
}

MeterSnapshot MeterBench::Meter(SerialNumber serial) const
{
    std::unique_lock lk(d->m);
    return d->Get(serial).Snapshot(d->SimNow());
}

std::vector<MeterSnapshot> MeterBench::Meters() const
{
    std::unique_lock lk(d->m);
    std::vector<MeterSnapshot> all;
    const double now = d->SimNow();
    for (auto& meter : d->meters)
        all.push_back(meter.Snapshot(now));
    return all;
}

std::vector<ReceivedFrame> MeterBench::Received() const
{
    std::unique_lock lk(d->m);
    return d->received;
}

std::vector<SentReply> MeterBench::Sent() const
{
    std::unique_lock lk(d->m);
    return d->sent;
}

void MeterBench::ClearReceived()
{
    std::unique_lock lk(d->m);
    d->received.clear();
    d->validReceived = 0;
    d->sent.clear();
}

bool MeterBench::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lk(d->m);
    return d->cv.wait_for(lk, timeout, [&] { return d->validReceived >= count; });
}

bool MeterBench::WaitForSent(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lk(d->m);
    return d->cv.wait_for(lk, timeout, [&] { return d->sent.size() >= count; });
}

uint64_t MeterBench::DroppedOutputBytes() const
{
    std::unique_lock lk(d->m);
    return d->dropped;
}

void MeterBench::Unplug()
{
    std::unique_lock lk(d->m);
    d->OnBenchThread(lk, [this] { d->CloseLine(); });
}

void MeterBench::Replug()
{
    std::unique_lock lk(d->m);
    d->OnBenchThread(lk, [this] {
        if (!d->plugged)
            d->OpenLine();
    });
}

bool MeterBench::Plugged() const
{
    std::unique_lock lk(d->m);
    return d->plugged;
}

const std::string& MeterBench::LinkPath() const
{
    return d->linkPath;
}

std::string MeterBench::SlavePath() const
{
    std::unique_lock lk(d->m);
    return d->slavePath;
}

}  // namespace metersim
