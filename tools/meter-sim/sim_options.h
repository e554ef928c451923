#pragma once
// Command line and run-time commands of zrm-meter-sim. Numbers are read
// with std::from_chars, so a dot is the decimal point under any locale.

#include "meter_bench.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace metersim {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SimOptions {
    std::string link;
    std::vector<MeterSpec> meters;
    BenchOptions bench;
    bool verbose = false;
    bool help = false;
};

// args without the program name. Throws UsageError with a one-line reason.
SimOptions ParseCommandLine(const std::vector<std::string>& args);

// "KIND[:ARG[:ARG2]]" applied on top of `fault`, so faults combine:
// none, silent, nth:N, badsum, wrongtype, short[:N], long[:N],
// garbage[:N], late[:MS], split[:PIECES[:GAP_MS]]. Throws UsageError.
void ApplyFault(std::string_view text, FaultSpec& fault);

// "M3H[:NOISE]", "BASE:AMPLITUDE:PERIOD_S[:NOISE]", "FROM:TO:SECONDS[:NOISE]".
FlowProfile ParseConstantFlow(std::string_view text);
FlowProfile ParseSineFlow(std::string_view text);
FlowProfile ParseRampFlow(std::string_view text);

// 1..65535. Throws UsageError.
SerialNumber ParseSerial(std::string_view text);
// 0..4294967295. Throws UsageError.
uint32_t ParseCounter(std::string_view text);

// Splits "SERIAL:REST" and parses the serial number.
std::pair<SerialNumber, std::string_view> SplitSerial(std::string_view text);

// One line summary of a fault ("none" when there is none).
std::string DescribeFault(const FaultSpec& fault);

std::string HelpText();

}  // namespace metersim
