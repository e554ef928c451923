#pragma once
// The virtual meter bench as the Windows tests see it. The harness
// (scripts/ci-windows.sh) runs the bench on the Linux side on a pty, maps the
// pty to a wine COM port and tells the tests where everything is:
//   ZRM_WIN_PORT       the COM port ("COM7")
//   ZRM_BENCH_CONTROL  the bench's command FIFO (a Linux path)
//   ZRM_BENCH_LINK     the bench's link to the pty (a Linux path)

#include <cstdint>
#include <optional>
#include <string>

// The meters the harness puts on the line: serial number and diameter index.
constexpr uint16_t kMeterA = 12345; // Ду 50
constexpr uint16_t kMeterB = 777;   // Ду 32
// No meter carries this one: requests to it get no reply.
constexpr uint16_t kNoMeter = 4321;

struct TBenchSetup {
    std::string Port;
    std::string Control;
    std::string Link;
};

// Empty when the program does not run under the harness.
std::optional<TBenchSetup> BenchSetup();

// One command line to the bench ("unplug", "replug", "fault 777:silent").
void BenchCommand(const TBenchSetup& Bench, const std::string& Line);
// Waits up to 5 s for the bench's link to appear (true) or go (false).
bool WaitForLink(const TBenchSetup& Bench, bool Present);

// A Linux path as a Windows program under wine opens it (drive Z: is /).
std::wstring WinePath(const std::string& LinuxPath);

// CPU time of this process so far (user + kernel), in milliseconds.
double ProcessCpuMs();
