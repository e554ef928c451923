// zrm-meter-sim: simulated ZRM meters on a pseudo-terminal, for trying the
// scanner without a bench and for its end-to-end tests.

#include "diameter_defaults.h"
#include "meter_bench.h"
#include "sim_options.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

using namespace metersim;

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] ssize_t r = write(g_signalPipe[1], &c, 1);
    errno = saved;
}

void PrintStatus(const MeterBench& bench)
{
    std::printf("line %s -> %s\n", bench.LinkPath().c_str(),
                bench.Plugged() ? bench.SlavePath().c_str() : "(unplugged)");
    for (const auto& m : bench.Meters()) {
        std::printf("meter %u: Dy %.3f, flow %.3f m3/h, counter %u, hours %.4f%s, fault %s, "
                    "requests %d, replies %d\n",
                    unsigned(m.serial), double(m.config.Dy), double(m.state.FlowRate), unsigned(m.state.VolumeCounter),
                    double(m.state.OperatingHours), m.blocked ? ", blocked" : "", DescribeFault(m.fault).c_str(),
                    m.requests, m.replies);
    }
    std::fflush(stdout);
}

// The stored configuration as the meter would send it (bytes 7-61 of a read
// reply), for scripts that check a write byte for byte.
void PrintConfig(const MeterBench& bench, SerialNumber serial)
{
    const auto meter = bench.Meter(serial);
    uint8_t bytes[kDeviceConfigLength];
    EncodeDeviceConfig(meter.config, bytes);
    std::printf("config %u writes %d:", unsigned(serial), meter.writes);
    for (uint8_t b : bytes)
        std::printf(" %02X", unsigned(b));
    std::printf("\n");
    std::fflush(stdout);
}

// Returns false for "quit".
bool RunCommand(MeterBench& bench, const std::string& line)
{
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(line.find_first_not_of(' ', space));
    try {
        if (word.empty())
            return true;
        if (word == "quit" || word == "exit")
            return false;
        if (word == "status")
            PrintStatus(bench);
        else if (word == "config")
            PrintConfig(bench, ParseSerial(rest));
        else if (word == "unplug")
            bench.Unplug();
        else if (word == "replug")
            bench.Replug();
        else if (word == "fault") {
            const auto [serial, kind] = SplitSerial(rest);
            FaultSpec f = bench.Meter(serial).fault;
            ApplyFault(kind, f);
            bench.SetFault(serial, f);
        } else if (word == "clear")
            bench.ClearFault(ParseSerial(rest));
        else if (word == "block" || word == "unblock")
            bench.SetBlocked(ParseSerial(rest), word == "block");
        else if (word == "flow" || word == "sine" || word == "ramp") {
            const auto [serial, v] = SplitSerial(rest);
            bench.SetFlow(serial, word == "flow"   ? ParseConstantFlow(v)
                                  : word == "sine" ? ParseSineFlow(v)
                                                   : ParseRampFlow(v));
        } else if (word == "counter") {
            const auto [serial, v] = SplitSerial(rest);
            bench.SetCounter(serial, ParseCounter(v));
        } else {
            std::fprintf(stderr, "unknown command \"%s\"\n", word.c_str());
            return true;
        }
        std::printf("ok\n");
        std::fflush(stdout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", word.c_str(), e.what());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    SimOptions o;
    try {
        o = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zrm-meter-sim: %s\n", e.what());
        return 2;
    }
    if (o.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    if (o.verbose)
        o.bench.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };

    if (pipe(g_signalPipe) != 0) {
        std::perror("zrm-meter-sim: pipe");
        return 1;
    }
    for (int fd : g_signalPipe)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // In the background a read from the terminal then fails instead of
    // stopping the process.
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    // The bench thread inherits a mask without the stop signals, so they
    // interrupt the loop below rather than the line.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);

    MeterBench bench(o.link, o.bench);
    try {
        for (const auto& m : o.meters)
            bench.AddMeter(m);
        bench.Start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrm-meter-sim: %s\n", e.what());
        return 1;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    std::printf("zrm-meter-sim: %s -> %s,", bench.LinkPath().c_str(), bench.SlavePath().c_str());
    for (const auto& m : o.meters)
        std::printf(" %u (%s)", unsigned(m.serial), DiameterNames[size_t(m.diameterIndex)]);
    std::printf("\n");
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents)
            break;
        if (fds[1].revents) {
            char buf[512];
            const ssize_t n = read(0, buf, sizeof buf);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                stdinOpen = false;  // end of input: keep running until a signal
                continue;
            }
            pending.append(buf, size_t(n));
            bool quit = false;
            for (size_t nl; !quit && (nl = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                quit = !RunCommand(bench, line);
            }
            if (quit)
                break;
        }
    }
    bench.Stop();
    return 0;
}
