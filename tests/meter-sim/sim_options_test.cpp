#include "sim_options.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace metersim;

namespace {

TEST(SimOptions, FaultTextsCombine)
{
    struct Case {
        const char* text;
        FaultSpec expected;
    };
    auto f = [](auto set) {
        FaultSpec s;
        set(s);
        return s;
    };
    const Case cases[] = {
        {"silent", f([](FaultSpec& s) { s.silent = true; })},
        {"nth:3", f([](FaultSpec& s) { s.answerFromSend = 3; })},
        {"badsum", f([](FaultSpec& s) { s.badChecksum = true; })},
        {"wrongtype", f([](FaultSpec& s) { s.wrongDeviceType = true; })},
        {"short", f([](FaultSpec& s) { s.cutBytes = 1; })},
        {"short:5", f([](FaultSpec& s) { s.cutBytes = 5; })},
        {"long:2", f([](FaultSpec& s) { s.extraBytes = 2; })},
        {"garbage", f([](FaultSpec& s) { s.garbageBytes = 3; })},
        {"late", f([](FaultSpec& s) { s.lateMs = 2500; })},
        {"late:2100", f([](FaultSpec& s) { s.lateMs = 2100; })},
        {"split", f([](FaultSpec& s) { s.splitPieces = 2; })},
        {"split:4:15", f([](FaultSpec& s) {
             s.splitPieces = 4;
             s.splitGapMs = 15;
         })},
    };
    for (const auto& c : cases) {
        FaultSpec s;
        ApplyFault(c.text, s);
        EXPECT_EQ(s, c.expected) << c.text;
        EXPECT_EQ(DescribeFault(s), std::string(c.text) == "split" ? "split:2:20"
                                    : std::string(c.text) == "short"   ? "short:1"
                                    : std::string(c.text) == "garbage" ? "garbage:3"
                                    : std::string(c.text) == "late"    ? "late:2500"
                                                                       : c.text);
    }
    FaultSpec s;
    ApplyFault("badsum", s);
    ApplyFault("late:3000", s);
    EXPECT_TRUE(s.badChecksum);
    EXPECT_EQ(s.lateMs, 3000);
    ApplyFault("none", s);
    EXPECT_FALSE(s.Any());
}

TEST(SimOptions, BadFaultTextsAreRefused)
{
    for (const char* text : {"", "melt", "nth", "nth:0", "nth:x", "short:-1", "badsum:1", "split:1", "late:1:2",
                             "garbage:2x"}) {
        FaultSpec s;
        EXPECT_THROW(ApplyFault(text, s), UsageError) << text;
    }
}

TEST(SimOptions, CommandLineWithPerMeterOptionsInAnyOrder)
{
    // Under a comma-decimal locale a dot must still be the decimal point.
    const char* had = std::setlocale(LC_ALL, "");
    (void)had;
    const SimOptions o = ParseCommandLine({"--flow", "10:2.5:0.1", "--link", "/tmp/x", "--meter", "10:3",
                                           "--meter", "65535:9", "--counter", "65535:4294967295", "--hours",
                                           "10:12.75", "--sine", "65535:5:1.5:30", "--blocked", "10", "--fault",
                                           "10:nth:2", "--fault", "10:late:2200", "--pace", "--seed", "7",
                                           "--time-scale", "60", "--no-reset-ack", "--reply-delay", "0"});
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(o.link, "/tmp/x");
    ASSERT_EQ(o.meters.size(), 2u);
    const MeterSpec& a = o.meters[0];
    EXPECT_EQ(a.serial, 10);
    EXPECT_EQ(a.diameterIndex, 3);
    EXPECT_EQ(a.flow, FlowProfile::Constant(2.5, 0.1));
    EXPECT_EQ(a.hours, 12.75f);
    EXPECT_TRUE(a.blocked);
    EXPECT_EQ(a.fault.answerFromSend, 2);
    EXPECT_EQ(a.fault.lateMs, 2200);
    const MeterSpec& b = o.meters[1];
    EXPECT_EQ(b.serial, 65535);
    EXPECT_EQ(b.counter, 4294967295u);
    EXPECT_EQ(b.flow, FlowProfile::Sine(5, 1.5, 30));
    EXPECT_FALSE(b.blocked);
    EXPECT_TRUE(o.bench.pace);
    EXPECT_EQ(o.bench.seed, 7u);
    EXPECT_EQ(o.bench.timeScale, 60);
    EXPECT_FALSE(o.bench.resetAck);
    EXPECT_EQ(o.bench.replyDelayMs, 0);
}

TEST(SimOptions, CommandLineErrors)
{
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--link"},
        {"--link", "/tmp/x"},
        {"--link", "/tmp/x", "--meter", "1"},
        {"--link", "/tmp/x", "--meter", "65536:0"},
        {"--link", "/tmp/x", "--meter", "1:0", "--meter", "1:2"},
        {"--link", "/tmp/x", "--meter", "1:0", "--counter", "1:4294967296"},
        {"--link", "/tmp/x", "--meter", "1:0", "--flow", "1:2,5"},
        {"--link", "/tmp/x", "--meter", "1:0", "--flow", "1"},
        {"--link", "/tmp/x", "--meter", "1:0", "--ramp", "1:0:5"},
        {"--link", "/tmp/x", "--meter", "1:0", "--blocked", "1:yes"},
        {"--link", "/tmp/x", "--meter", "1:0", "--time-scale", "0"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(ParseCommandLine(args), UsageError) << (args.empty() ? "" : args.back());
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
}

}  // namespace
