#include "sim_options.h"

#include "diameter_defaults.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace metersim {

namespace {

std::vector<std::string_view> Split(std::string_view text)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos)
            return parts;
        start = colon + 1;
    }
}

template <typename T>
T ParseInteger(std::string_view text, T min, T max, const char* what)
{
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < (long long)min ||
        v > (long long)max)
        throw UsageError(std::string(what) + " must be an integer from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not \"" + std::string(text) + "\"");
    return T(v);
}

double ParseReal(std::string_view text, const char* what)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        throw UsageError(std::string(what) + " must be a number, not \"" + std::string(text) + "\"");
    return v;
}

void ExpectParts(const std::vector<std::string_view>& parts, size_t min, size_t max, std::string_view text,
                 const char* form)
{
    if (parts.size() < min || parts.size() > max)
        throw UsageError("expected " + std::string(form) + ", not \"" + std::string(text) + "\"");
}

double OptionalReal(const std::vector<std::string_view>& parts, size_t i, const char* what)
{
    return parts.size() > i ? ParseReal(parts[i], what) : 0.0;
}

MeterSpec& MeterOf(std::vector<MeterSpec>& meters, SerialNumber serial, const std::string& option)
{
    for (auto& m : meters)
        if (m.serial == serial)
            return m;
    throw UsageError(option + ": no --meter with serial number " + std::to_string(serial));
}

}  // namespace

SerialNumber ParseSerial(std::string_view text)
{
    return ParseInteger<SerialNumber>(text, 1, 65535, "a serial number");
}

uint32_t ParseCounter(std::string_view text)
{
    return ParseInteger<uint32_t>(text, 0, std::numeric_limits<uint32_t>::max(), "a counter");
}

std::pair<SerialNumber, std::string_view> SplitSerial(std::string_view text)
{
    const size_t colon = text.find(':');
    const SerialNumber serial = ParseSerial(text.substr(0, colon));
    return {serial, colon == std::string_view::npos ? std::string_view{} : text.substr(colon + 1)};
}

void ApplyFault(std::string_view text, FaultSpec& fault)
{
    const auto parts = Split(text);
    const std::string_view kind = parts[0];
    auto count = [&](size_t i, int def, int min, int max, const char* what) {
        return parts.size() > i ? ParseInteger<int>(parts[i], min, max, what) : def;
    };
    const size_t maxParts = kind == "split" ? 3 : (kind == "nth" || kind == "short" || kind == "long" ||
                                                   kind == "garbage" || kind == "late")
                                                      ? 2
                                                      : 1;
    ExpectParts(parts, kind == "nth" ? 2 : 1, maxParts, text, "a fault KIND[:ARG] (see --help)");
    if (kind == "none")
        fault = FaultSpec{};
    else if (kind == "silent")
        fault.silent = true;
    else if (kind == "nth")
        fault.answerFromSend = count(1, 1, 1, 1000, "nth");
    else if (kind == "badsum")
        fault.badChecksum = true;
    else if (kind == "wrongtype")
        fault.wrongDeviceType = true;
    else if (kind == "short")
        fault.cutBytes = count(1, 1, 1, 1000, "short");
    else if (kind == "long")
        fault.extraBytes = count(1, 1, 1, 1000, "long");
    else if (kind == "garbage")
        fault.garbageBytes = count(1, 3, 1, 1000, "garbage");
    else if (kind == "late")
        fault.lateMs = count(1, 2500, 0, 600000, "late");
    else if (kind == "split") {
        fault.splitPieces = count(1, 2, 2, 62, "split pieces");
        fault.splitGapMs = count(2, 20, 0, 60000, "split gap");
    } else
        throw UsageError("unknown fault \"" + std::string(kind) + "\" (see --help)");
}

FlowProfile ParseConstantFlow(std::string_view text)
{
    const auto p = Split(text);
    ExpectParts(p, 1, 2, text, "M3H[:NOISE]");
    return FlowProfile::Constant(ParseReal(p[0], "flow"), OptionalReal(p, 1, "noise"));
}

FlowProfile ParseSineFlow(std::string_view text)
{
    const auto p = Split(text);
    ExpectParts(p, 3, 4, text, "BASE:AMPLITUDE:PERIOD_S[:NOISE]");
    return FlowProfile::Sine(ParseReal(p[0], "base"), ParseReal(p[1], "amplitude"), ParseReal(p[2], "period"),
                             OptionalReal(p, 3, "noise"));
}

FlowProfile ParseRampFlow(std::string_view text)
{
    const auto p = Split(text);
    ExpectParts(p, 3, 4, text, "FROM:TO:SECONDS[:NOISE]");
    return FlowProfile::Ramp(ParseReal(p[0], "from"), ParseReal(p[1], "to"), ParseReal(p[2], "seconds"),
                             OptionalReal(p, 3, "noise"));
}

std::string DescribeFault(const FaultSpec& f)
{
    std::string s;
    auto add = [&](const std::string& part) { s += (s.empty() ? "" : " ") + part; };
    if (f.silent)
        add("silent");
    if (f.answerFromSend > 1)
        add("nth:" + std::to_string(f.answerFromSend));
    if (f.badChecksum)
        add("badsum");
    if (f.wrongDeviceType)
        add("wrongtype");
    if (f.cutBytes > 0)
        add("short:" + std::to_string(f.cutBytes));
    if (f.extraBytes > 0)
        add("long:" + std::to_string(f.extraBytes));
    if (f.garbageBytes > 0)
        add("garbage:" + std::to_string(f.garbageBytes));
    if (f.lateMs > 0)
        add("late:" + std::to_string(f.lateMs));
    if (f.splitPieces > 1)
        add("split:" + std::to_string(f.splitPieces) + ":" + std::to_string(f.splitGapMs));
    return s.empty() ? "none" : s;
}

SimOptions ParseCommandLine(const std::vector<std::string>& args)
{
    SimOptions o;
    // Per-meter options may come before their --meter: apply them after.
    std::vector<std::pair<std::string, std::string>> perMeter;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--link") {
            o.link = value();
        } else if (a == "--meter") {
            const std::string& v = value();
            const auto [serial, rest] = SplitSerial(v);
            if (rest.empty())
                throw UsageError("--meter expects SERIAL:DIAMETER_INDEX, not \"" + v + "\"");
            for (const auto& m : o.meters)
                if (m.serial == serial)
                    throw UsageError("--meter " + v + ": serial number used twice");
            MeterSpec m;
            m.serial = serial;
            m.diameterIndex = ParseInteger<int>(rest, 0, kDiameterCount - 1, "a diameter index");
            o.meters.push_back(m);
        } else if (a == "--flow" || a == "--sine" || a == "--ramp" || a == "--counter" || a == "--hours" ||
                   a == "--fault" || a == "--blocked") {
            perMeter.emplace_back(a, value());
        } else if (a == "--pace") {
            o.bench.pace = true;
        } else if (a == "--reply-delay") {
            o.bench.replyDelayMs = ParseInteger<int>(value(), 0, 60000, "--reply-delay");
        } else if (a == "--silence") {
            o.bench.silenceMs = ParseInteger<int>(value(), 1, 60000, "--silence");
        } else if (a == "--no-reset-ack") {
            o.bench.resetAck = false;
        } else if (a == "--seed") {
            o.bench.seed = ParseInteger<uint32_t>(value(), 0, std::numeric_limits<uint32_t>::max(), "--seed");
        } else if (a == "--time-scale") {
            o.bench.timeScale = ParseReal(value(), "--time-scale");
            if (o.bench.timeScale <= 0)
                throw UsageError("--time-scale must be above 0");
        } else if (a == "--verbose" || a == "-v") {
            o.verbose = true;
        } else {
            throw UsageError("unknown option \"" + a + "\" (see --help)");
        }
    }
    if (o.help)
        return o;
    if (o.link.empty())
        throw UsageError("--link PATH is required");
    if (o.meters.empty())
        throw UsageError("at least one --meter SERIAL:DIAMETER_INDEX is required");

    for (const auto& [option, v] : perMeter) {
        const auto [serial, rest] = SplitSerial(v);
        MeterSpec& m = MeterOf(o.meters, serial, option);
        if (option == "--blocked") {
            if (!rest.empty())
                throw UsageError("--blocked expects SERIAL, not \"" + v + "\"");
            m.blocked = true;
            continue;
        }
        if (rest.empty())
            throw UsageError(option + " " + v + ": value missing after the serial number");
        if (option == "--flow")
            m.flow = ParseConstantFlow(rest);
        else if (option == "--sine")
            m.flow = ParseSineFlow(rest);
        else if (option == "--ramp")
            m.flow = ParseRampFlow(rest);
        else if (option == "--counter")
            m.counter = ParseCounter(rest);
        else if (option == "--hours")
            m.hours = float(ParseReal(rest, "--hours"));
        else if (option == "--fault")
            ApplyFault(rest, m.fault);
    }
    return o;
}

std::string HelpText()
{
    return R"(Usage: zrm-meter-sim --link PATH --meter SERIAL:DIAMETER_INDEX [--meter ...] [options]

Simulates ZRM flow meters on one RS-485 line. The line is a pseudo-terminal
whose slave side is linked at PATH; point the scanner's port at PATH. Every
meter answers the scanner's frames (identify 0, write configuration 4, read
configuration 5, read state 6, reset counter 8) at 9600 8N1.

Meters:
  --meter SERIAL:DIAMETER_INDEX  add a meter; SERIAL 1..65535, DIAMETER_INDEX
                                 0..9 for Du 15, 25, 32, 40, 50, 80, 100, 150,
                                 200, 300 (its default configuration)
  --flow SERIAL:M3H[:NOISE]      constant flow in m3/h (default 0) plus uniform
                                 noise in [-NOISE, +NOISE]
  --sine SERIAL:BASE:AMPLITUDE:PERIOD_S[:NOISE]
                                 flow BASE + AMPLITUDE*sin(2*pi*t/PERIOD_S)
  --ramp SERIAL:FROM:TO:SECONDS[:NOISE]
                                 flow from FROM to TO in SECONDS, then held
  --counter SERIAL:N             starting volume counter, 0..4294967295; it
                                 grows by flow * time * VolumeScale(Dy)
  --hours SERIAL:H               starting operating hours; they grow with time
  --blocked SERIAL               refuse configuration writes (reply status 1)
  --fault SERIAL:KIND[:ARG[:ARG2]]
                                 inject a fault; repeat to combine faults:
      silent                     hear nothing, answer nothing
      nth:N                      act only on the N-th identical request in a
                                 row (counted again after each answer)
      badsum                     reply checksum off by one
      wrongtype                  reply device type 231 (checksum consistent)
      short[:N]                  reply without its last N bytes (default 1)
      long[:N]                   N bytes 0x55 after the checksum (default 1)
      garbage[:N]                N bytes 0xFF before the reply (default 3)
      late[:MS]                  reply MS later than usual (default 2500)
      split[:PIECES[:GAP_MS]]    reply in PIECES parts GAP_MS apart (2, 20)
      none                       clear the faults given before it

Line:
  --link PATH          where to link the pseudo-terminal (required); a stale
                       symbolic link there is replaced, removed again on exit
  --pace               byte timing of a real 9600 bit/s line (1.04 ms per
                       byte) for requests received and replies sent
  --reply-delay MS     from a request's last byte to the reply (default 5)
  --silence MS         drop a partial frame after MS without bytes (default 50)
  --no-reset-ack       do not answer the reset-counter command
  --seed N             seed of the flow noise (default 1)
  --time-scale X       simulated seconds per real second (default 1)
  --verbose, -v        log every frame to standard error
  --help, -h           this text

Replies (length byte = total length including the checksum; bytes 2-3 are
the meter's serial number, byte 4 the command):
  identify 6 bytes; write configuration 7 (byte 5: 1 = blocked, 0 = done);
  read configuration 62 (configuration at 7..61, its last byte replaced by
  the checksum); read state 32 (state at 5..30); reset counter 6, unless
  --no-reset-ack. A request to serial number 0 is answered by every meter:
  with more than one on the line the replies collide (byte-wise OR, never a
  valid frame). Bad checksums, unknown serial numbers and unknown commands
  get no answer.

Commands on standard input while running (one per line):
  fault SERIAL:KIND[:ARG...]   clear SERIAL   block SERIAL   unblock SERIAL
  flow SERIAL:M3H[:NOISE]      sine SERIAL:...  ramp SERIAL:...
  counter SERIAL:N             unplug   replug   status   quit

SIGINT or SIGTERM stops the simulator and removes the link. Exit status: 0 on
a clean stop, 2 on a usage error, 1 when the line cannot be opened.
)";
}

}  // namespace metersim
