// Round trip of the program's read-state exchange through the serial
// component, as the program makes it: a 6-byte request written with
// WaitOnCompletion, the 32-byte reply collected by OnRxChar handlers on the
// "UI thread" (the main thread pumping the event calls). Built for Linux
// (POSIX backend) and for Windows (Win32 backend, run under wine), run
// against the same unpaced bench.
//
//   bench-exchange DEVICE [SERIAL [COUNT]]     (defaults: 12345, 1000)

#include "frames.h"
#include "line_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-exchange DEVICE [SERIAL [COUNT]]\n");
        return 2;
    }
    const std::string device = argv[1];
    const auto serial = static_cast<uint16_t>(argc > 2 ? std::atoi(argv[2]) : 12345);
    const int count = argc > 3 ? std::atoi(argv[3]) : 1000;
    const int warmup = 20;

    try {
        TMeterLine line(device);
        line.Port().Open();
        const auto request = BuildRequest(serial, kCmdReadState);
        std::vector<double> times;
        times.reserve(size_t(count));
        int failed = 0;
        for (int i = 0; i < warmup + count; ++i) {
            const auto start = std::chrono::steady_clock::now();
            std::string reply = line.Exchange(request.data(), int(request.size()), 32, Millis(2000));
            const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            if (!IsReply(reply, 32, serial, kCmdReadState)) {
                ++failed;
                continue;
            }
            if (i >= warmup)
                times.push_back(ms);
        }
        line.Port().Close();
        if (times.empty()) {
            std::fprintf(stderr, "bench-exchange: no exchange succeeded\n");
            return 1;
        }
        std::sort(times.begin(), times.end());
        auto at = [&](double q) { return times[std::min(times.size() - 1, size_t(q * double(times.size())))]; };
        std::printf("%s: %zu read-state exchanges, median %.3f ms, p95 %.3f ms, max %.3f ms, %d failed\n",
                    device.c_str(), times.size(), at(0.5), at(0.95), times.back(), failed);
        return failed == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-exchange: %s\n", e.what());
        return 1;
    }
}
