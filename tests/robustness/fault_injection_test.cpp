// Every device operation against every fault the virtual bench can inject,
// over a real pseudo-terminal. For each pair: the user gets exactly the
// expected Russian boxes, the UI keeps serving events during the wait, a
// poller firing meanwhile (as the windows' timers do) is refused without a
// second request on the line, no request goes out while an earlier one is
// still within its reply window, and the operation works again once the
// fault ends.

#include "bench_faults.h"
#include "diameter_defaults.h"
#include "link_on_bench.h"
#include "test_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using metersim::MeterBench;
using std::chrono::milliseconds;

namespace {

class FaultInjection : public ::testing::TestWithParam<std::tuple<Fault, Op>>, protected LinkOnBench {
protected:
    bool Run(Op op, SerialNumber n)
    {
        DeviceState s;
        DeviceConfig c;
        switch (op) {
        case Op::Identify: return link->IdentifyDevice(n);
        case Op::ReadState: return link->ReadDeviceState(n, s);
        case Op::ReadConfig: return link->ReadDeviceConfig(n, c);
        case Op::WriteConfig: return link->WriteDeviceConfig(n, n == 0 ? kFaultyMeter : n, DefaultConfigFor(0));
        case Op::ResetCounter: link->ResetDeviceCounter(n); return true;
        }
        return false;
    }

    void Reopen()
    {
        link->ComPort1().Close();
        OpenPort();
    }

    void ExpectOneRequestAtATime() { EXPECT_EQ(RequestOverlaps(*bench), ""); }
};

TEST_P(FaultInjection, ToldSurvivedAndRecovered)
{
    const auto [fault, op] = GetParam();
    if (op == Op::ResetCounter && fault == Fault::UnplugMidReply)
        GTEST_SKIP() << "the reset waits for no reply";

    bench = std::make_unique<MeterBench>(linkPath);
    for (const auto& m : FaultyMeters(fault))
        bench->AddMeter(m);
    const SerialNumber target = FaultTarget(fault);
    bench->Start();
    OpenPort();

    BreakLine(fault, *bench);
    if (fault == Fault::UnplugMidReply)
        QTimer::singleShot(kUnplugAfterMs, [&] { bench->Unplug(); });

    // The windows' pollers: a timer that keeps asking while the exchange waits.
    int ticks = 0, refused = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer poller;
    poller.setInterval(25);
    QObject::connect(&poller, &QTimer::timeout, [&] {
        ++ticks;
        longestGap = std::max(longestGap, sinceTick.restart());
        DeviceState s;
        if (link->Busy() && !link->PollDeviceState(target, s))
            ++refused;
    });
    poller.start();
    const auto requestsBefore = bench->Received().size();

    const Outcome outcome = Expected(fault, op);
    const bool ok = Run(op, target);
    poller.stop();
    longestGap = std::max(longestGap, sinceTick.elapsed());

    if (op != Op::ResetCounter) {  // it reports through its boxes only
        EXPECT_EQ(ok, outcome == Outcome::Ok);
    }
    EXPECT_EQ(boxes.shown(), Boxes(op, outcome, target));
    EXPECT_FALSE(link->Busy());
    EXPECT_EQ(ticks, refused) << "a poll during the exchange was not refused";
    // The UI keeps turning: no gap between timer events beyond a few ticks,
    // except for boxes, which the script answers at once.
    if (op != Op::ResetCounter && fault != Fault::UnplugIdle && fault != Fault::Replug) {
        EXPECT_LT(longestGap, 500) << "the UI stalled for " << longestGap << " ms";
    }
    if (fault == Fault::NthSend && op != Op::ResetCounter) {
        EXPECT_EQ(bench->Received().size() - requestsBefore, 3u);
    }
    if (fault == Fault::Silence && op != Op::ResetCounter) {
        EXPECT_EQ(bench->Received().size() - requestsBefore, size_t(DeviceLink::kMaxSends));
        EXPECT_GT(ticks, 100) << "the poller hardly ran during an 8 s exchange";
    }
    ExpectOneRequestAtATime();

    // The fault ends: the same operation works again. The reset does not
    // wait for its acknowledgement; a user needs longer than the meter to
    // close the box and press again.
    boxes.clear();
    if (op == Op::ResetCounter)
        Pump(100);
    if (fault == Fault::Late)
        Pump(kLateMs + 200);  // the second send's late reply comes and goes
    if (EndFault(fault, *bench))
        Reopen();
    EXPECT_TRUE(Run(op, target));
    EXPECT_EQ(boxes.shown(), Boxes(op, Outcome::Ok, target));
    if (op == Op::ResetCounter) {
        EXPECT_TRUE(bench->WaitForSent(1, milliseconds(2000)));
    }
    ExpectOneRequestAtATime();
}

INSTANTIATE_TEST_SUITE_P(
    AllFaults, FaultInjection,
    ::testing::Combine(::testing::ValuesIn(kAllFaults),
                       ::testing::Values(Op::Identify, Op::ReadState, Op::ReadConfig, Op::WriteConfig,
                                         Op::ResetCounter)),
    [](const auto& param_info) {
        return std::string(FaultName(std::get<0>(param_info.param))) + "_" + OpName(std::get<1>(param_info.param));
    });

}  // namespace
