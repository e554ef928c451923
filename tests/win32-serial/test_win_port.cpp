// TComPort over the Win32 backend against the virtual meter bench, on a wine
// COM port mapped to the bench's pty (see win_bench.h). Each case is its own
// process; the cases share the port and so run one at a time.

#include "frames.h"
#include "line_harness.h"
#include "port_list.h"
#include "win_bench.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

double MillisSince(Clock::time_point Start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - Start).count();
}

class PortOnBench : public ::testing::Test {
protected:
    void SetUp() override
    {
        FBench = BenchSetup();
        if (!FBench)
            GTEST_SKIP() << "not under the harness: run scripts/ci-windows.sh";
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        FGuard.emplace(std::string(test->test_suite_name()) + "." + test->name(), 90s);
    }

    std::string Exchange(TMeterLine& Line, uint16_t Serial, uint8_t Command, size_t ReplyLength)
    {
        auto request = BuildRequest(Serial, Command);
        return Line.Exchange(request.data(), int(request.size()), ReplyLength, 3s);
    }

    std::optional<TBenchSetup> FBench;
    std::optional<THangGuard> FGuard;
};

TEST_F(PortOnBench, TheMetersAnswerEveryRequestOfTheProgram)
{
    TMeterLine line(FBench->Port);
    line.Port().Open();
    ASSERT_TRUE(line.Port().Active());
    for (uint16_t serial : {kMeterA, kMeterB}) {
        EXPECT_TRUE(IsReply(Exchange(line, serial, kCmdIdentify, 6), 6, serial, kCmdIdentify)) << serial;
        EXPECT_TRUE(IsReply(Exchange(line, serial, kCmdReadState, 32), 32, serial, kCmdReadState)) << serial;
        EXPECT_TRUE(IsReply(Exchange(line, serial, kCmdReadConfig, 62), 62, serial, kCmdReadConfig)) << serial;
    }
}

TEST_F(PortOnBench, ManyExchangesLoseAndRepeatNoByte)
{
    TMeterLine line(FBench->Port);
    line.Port().Open();
    struct {
        uint16_t Serial;
        uint8_t Command;
        size_t Length;
    } kinds[] = {{kMeterA, kCmdReadState, 32}, {kMeterB, kCmdReadConfig, 62}, {kMeterA, kCmdIdentify, 6}};
    int bad = 0;
    for (int i = 0; i < 300; ++i) {
        const auto& k = kinds[i % 3];
        std::string reply = Exchange(line, k.Serial, k.Command, k.Length);
        if (!IsReply(reply, k.Length, k.Serial, k.Command) && ++bad <= 3)
            ADD_FAILURE() << "exchange " << i << ": " << reply.size() << " bytes";
    }
    EXPECT_EQ(bad, 0);
    // Nothing arrives that no request asked for.
    line.Ui().PumpFor(100ms);
    EXPECT_EQ(line.Received().size(), 0u);
    EXPECT_EQ(line.Port().InputCount(), 0);
}

TEST_F(PortOnBench, AMissingPortFailsWithTheSystemsCodeAndALaterOpenWorks)
{
    TMeterLine line("COM55");
    try {
        line.Port().Open();
        FAIL() << "COM55 opened";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, ERROR_FILE_NOT_FOUND);
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_FALSE(line.Port().Active());
    line.Port().SetDeviceName(FBench->Port);
    line.Port().Open();
    EXPECT_TRUE(IsReply(Exchange(line, kMeterA, kCmdIdentify, 6), 6, kMeterA, kCmdIdentify));
}

TEST_F(PortOnBench, AClosedPortRefusesWithTheDocumentedCodes)
{
    TMeterLine line(FBench->Port);
    uint8_t byte = 0;
    try {
        line.Port().Write(&byte, 1, true);
        FAIL() << "write on a closed port";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, 0);
        EXPECT_STREQ(e.what(), SClosedPort);
    }
    try {
        line.Port().ModemStatus();
        FAIL() << "modem status of a closed port";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, 0);
    }
    // The count is asked for first, of the invalid handle.
    try {
        line.Port().ReadAvailable();
        FAIL() << "ReadAvailable on a closed port";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, ERROR_INVALID_HANDLE);
    }
}

TEST_F(PortOnBench, ReadAvailableNeverWaits)
{
    TMeterLine line(FBench->Port);
    line.Port().Open();
    const auto start = Clock::now();
    EXPECT_EQ(line.Port().ReadAvailable(), "");
    EXPECT_LT(MillisSince(start), 200.0);
}

TEST_F(PortOnBench, AReadThatRunsOutOfTimeRaisesTimeout)
{
    TMeterLine line(FBench->Port);
    line.Port().SetOnRxChar(nullptr); // the test reads itself
    line.Port().Timeouts().SetReadConstant(300);
    line.Port().Open();
    // No byte at all (wine: FALSE with ERROR_TIMEOUT), then a reply shorter
    // than the read (TRUE with fewer bytes): both are the same timeout.
    struct {
        uint16_t Serial;
        const char* Case;
    } cases[] = {{kNoMeter, "no reply"}, {kMeterA, "6 of 10 bytes"}};
    for (const auto& c : cases) {
        auto request = BuildRequest(c.Serial, kCmdIdentify);
        line.Port().Write(request.data(), int(request.size()), true);
        char buffer[10];
        const auto start = Clock::now();
        try {
            line.Port().Read(buffer, sizeof buffer, true);
            ADD_FAILURE() << c.Case << ": the read ended without an error";
        } catch (const EComError& e) {
            EXPECT_EQ(e.ErrorCode, 0) << c.Case << ": " << e.what();
            EXPECT_STREQ(e.what(), STimeout) << c.Case;
        }
        const double took = MillisSince(start);
        EXPECT_GE(took, 250.0) << c.Case;
        EXPECT_LT(took, 1500.0) << c.Case;
    }
    // The line is still usable.
    line.Port().Timeouts().SetReadConstant(2000);
    auto request = BuildRequest(kMeterB, kCmdIdentify);
    line.Port().Write(request.data(), int(request.size()), true);
    char reply[6];
    line.Port().Read(reply, sizeof reply, true);
    EXPECT_TRUE(IsReply(std::string(reply, sizeof reply), 6, kMeterB, kCmdIdentify));
}

TEST_F(PortOnBench, ClearInputDropsWaitingBytes)
{
    TMeterLine line(FBench->Port);
    line.Port().SetOnRxChar(nullptr);
    line.Port().Open();
    auto request = BuildRequest(kMeterA, kCmdReadConfig);
    line.Port().Write(request.data(), int(request.size()), true);
    const auto deadline = Clock::now() + 3s;
    while (line.Port().InputCount() < 62 && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(line.Port().InputCount(), 62);
    line.Port().ClearInput();
    EXPECT_EQ(line.Port().InputCount(), 0);
    EXPECT_EQ(line.Port().ReadAvailable(), "");
}

TEST_F(PortOnBench, ModemLinesFollowDtrAndRts)
{
    // The harness's shim wires the pty's lines back as a null-modem cable:
    // RTS to CTS, DTR to DSR and DCD.
    TMeterLine line(FBench->Port);
    line.Port().Open();
    EXPECT_EQ(line.Port().ModemStatus(), (TModemStatus{msCTS, msDSR, msRLSD}));
    line.Port().FlowControl().SetDTR(dcDisable);
    EXPECT_EQ(line.Port().ModemStatus(), TModemStatus{msCTS});
    line.Port().FlowControl().SetRTS(rcDisable);
    EXPECT_TRUE(line.Port().ModemStatus().Empty());
    line.Port().FlowControl().SetDTR(dcEnable);
    line.Port().FlowControl().SetRTS(rcEnable);
    EXPECT_EQ(line.Port().ModemStatus(), (TModemStatus{msCTS, msDSR, msRLSD}));
    EXPECT_TRUE(line.Port().LineErrors().Empty());
}

TEST_F(PortOnBench, ASpeedChangeWhileOpenKeepsTheLineWorking)
{
    TMeterLine line(FBench->Port);
    line.Port().Open();
    for (TBaudRate rate : {br19200, br115200, br1200, br9600}) {
        line.Port().SetBaudRate(rate);
        EXPECT_TRUE(IsReply(Exchange(line, kMeterB, kCmdIdentify, 6), 6, kMeterB, kCmdIdentify)) << rate;
    }
}

TEST_F(PortOnBench, OpenAndCloseUnderTrafficNeverHang)
{
    TMeterLine line(FBench->Port);
    auto request = BuildRequest(kMeterA, kCmdReadState);
    for (int i = 0; i < 150; ++i) {
        line.Port().Open();
        line.Port().Write(request.data(), int(request.size()), true);
        // Sometimes the reply is taken, sometimes the port closes while its
        // event is still waiting for the UI thread, or before it came.
        if (i % 3 == 0)
            line.Ui().PumpUntil([&] { return line.Received().size() >= 32; }, 2s);
        else if (i % 3 == 1)
            std::this_thread::sleep_for(10ms);
        line.Port().Close();
        ASSERT_FALSE(line.Port().Active()) << "cycle " << i;
        line.Received().clear();
    }
    line.Port().Open();
    EXPECT_TRUE(IsReply(Exchange(line, kMeterA, kCmdReadState, 32), 32, kMeterA, kCmdReadState));
}

TEST_F(PortOnBench, ClosingRightAfterOpeningNeverHangs)
{
    // The close's empty mask often comes while the event thread, just woken
    // by the open, is about to enter its wait.
    TMeterLine line(FBench->Port);
    for (int i = 0; i < 300; ++i) {
        line.Port().Open();
        line.Port().Close();
    }
    line.Port().Open();
    EXPECT_TRUE(IsReply(Exchange(line, kMeterA, kCmdIdentify, 6), 6, kMeterA, kCmdIdentify));
}

TEST_F(PortOnBench, EmptyingTheEventMaskRepeatedlyNeverStrandsTheThread)
{
    // Each empty mask parks the event thread; a mask set just before it
    // entered its wait must not leave it there.
    TMeterLine line(FBench->Port);
    line.Port().Open();
    const TNotifyEvent handler = line.Port().OnRxChar();
    for (int i = 0; i < 300; ++i) {
        line.Port().SetOnRxChar(nullptr);
        line.Port().SetOnRxChar(handler);
    }
    EXPECT_TRUE(IsReply(Exchange(line, kMeterB, kCmdReadState, 32), 32, kMeterB, kCmdReadState));
    line.Port().SetOnRxChar(nullptr);
    const auto start = Clock::now();
    line.Port().Close();
    EXPECT_LT(MillisSince(start), 2000.0);
}

TEST_F(PortOnBench, PriorityClassIsHeldOnlyWhileOpen)
{
    TMeterLine line(FBench->Port);
    const DWORD before = ::GetPriorityClass(::GetCurrentProcess());
    line.Port().SetPriorityClass(pcHigh);
    line.Port().Open();
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), DWORD(HIGH_PRIORITY_CLASS));
    line.Port().Close();
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), before);
}

TEST_F(PortOnBench, TheHarnessPortIsListedByDiscovery)
{
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    EXPECT_NE(std::find(ports.begin(), ports.end(), FBench->Port), ports.end());
}

TEST_F(PortOnBench, AnUnpluggedLineRaisesOnTheNextWriteAndClosesPromptly)
{
    TMeterLine line(FBench->Port);
    line.Port().Open();
    ASSERT_TRUE(IsReply(Exchange(line, kMeterA, kCmdIdentify, 6), 6, kMeterA, kCmdIdentify));

    BenchCommand(*FBench, "unplug");
    ASSERT_TRUE(WaitForLink(*FBench, false));
    // The event thread must not spin on the vanished device.
    const double cpuBefore = ProcessCpuMs();
    line.Ui().PumpFor(1000ms);
    EXPECT_LT(ProcessCpuMs() - cpuBefore, 100.0);

    auto request = BuildRequest(kMeterA, kCmdIdentify);
    try {
        line.Port().Write(request.data(), int(request.size()), true);
        ADD_FAILURE() << "a write to the unplugged line went through";
    } catch (const EComError& e) {
        EXPECT_NE(e.ErrorCode, 0) << e.what();
    }
    try {
        line.Port().ReadAvailable();
        ADD_FAILURE() << "ReadAvailable on the unplugged line went through";
    } catch (const EComError& e) {
        EXPECT_NE(e.ErrorCode, 0) << e.what();
    }
    const auto start = Clock::now();
    line.Port().Close();
    EXPECT_LT(MillisSince(start), 3000.0);
    EXPECT_FALSE(line.Port().Active());

    BenchCommand(*FBench, "replug");
    ASSERT_TRUE(WaitForLink(*FBench, true));
    line.Port().Open();
    EXPECT_TRUE(IsReply(Exchange(line, kMeterA, kCmdIdentify, 6), 6, kMeterA, kCmdIdentify));
}

} // namespace
