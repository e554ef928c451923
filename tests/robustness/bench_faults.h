#pragma once
// The faults of the virtual bench as the robustness suites inject them, what
// the user must be told under each, and the check that the program never
// talks over a request still within its reply window. Shared by the
// link-level suite and the window suite, so both judge by the same rules.

#include "frames.h"
#include "meter_bench.h"
#include "scripted_messages.h"

#include <string>
#include <vector>

enum class Fault {
    Silence, NthSend, BadChecksum, WrongType, Short, OverLong, Split, Late, Garbage, Collision,
    UnplugMidReply, UnplugIdle, Replug
};
inline constexpr Fault kAllFaults[] = {
    Fault::Silence, Fault::NthSend, Fault::BadChecksum, Fault::WrongType, Fault::Short, Fault::OverLong,
    Fault::Split, Fault::Late, Fault::Garbage, Fault::Collision, Fault::UnplugMidReply, Fault::UnplugIdle,
    Fault::Replug};
const char* FaultName(Fault f);

// The device operations as the program runs them.
enum class Op { Identify, ReadState, ReadConfig, WriteConfig, ResetCounter };
const char* OpName(Op op);

// What the user must be told.
enum class Outcome { Ok, NoReply, Garbled, WrongType, PortFailure };
Outcome Expected(Fault f, Op op);

// The boxes an operation shows for an outcome, addressed to meter n. A
// successful operation shows none, except the write and the reset, which
// report success.
std::vector<ShownMessage> Boxes(Op op, Outcome outcome, SerialNumber n);

constexpr SerialNumber kFaultyMeter = 512;
constexpr SerialNumber kOtherMeter = 555;  // joins the line for the collision
constexpr double kFaultyMeterFlow = 2.5;
// An answer this late misses the first reply window and lands in the second.
constexpr int kLateMs = 2500;
// Unplugged this long after the operation starts, while the reply is held back.
constexpr int kUnplugAfterMs = 300;

// The meters on the line for the fault, and the serial number the program
// must address: 0 for the collision, where two meters answer the broadcast
// number at once.
std::vector<metersim::MeterSpec> FaultyMeters(Fault f);
SerialNumber FaultTarget(Fault f);
// The line faults that act before the operation: unplugged, or unplugged and
// plugged in again (the program's port still on the old line).
void BreakLine(Fault f, metersim::MeterBench& bench);
// The fault ends: meters behave, the line is plugged in. True when the
// program must open its port again to recover.
bool EndFault(Fault f, metersim::MeterBench& bench);

// Empty when each request left after the previous one was answered or its
// reply window had closed; else what went wrong.
std::string RequestOverlaps(const metersim::MeterBench& bench);
