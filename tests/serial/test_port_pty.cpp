// The port over real pseudo-terminals: line settings, transfers, time limits,
// refusals and received-character events.

#include "com_port.h"
#include "com_sync.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// The main window's port: 9600 8N1, DTR and RTS on, 2000 ms read limit.
void LikeComPort1(TCustomComPort& port, const std::string& device)
{
    port.SetDeviceName(device);
    port.SetBaudRate(br9600);
    port.SetDataBits(db8);
    port.SetParity(paNone);
    port.SetStopBits(sb1);
    port.FlowControl().SetDTR(dcEnable);
    port.FlowControl().SetRTS(rcEnable);
    port.Timeouts().SetReadConstant(2000);
}

termios Attributes(int fd)
{
    termios t{};
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    return t;
}

template <typename F>
void ExpectComError(F&& f, int32_t code, const std::string& message)
{
    try {
        f();
        ADD_FAILURE() << "no EComError";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, code);
        EXPECT_EQ(e.Message(), message);
        EXPECT_EQ(std::string(e.what()), message);
    }
}

Millis Since(Clock::time_point t) { return std::chrono::duration_cast<Millis>(Clock::now() - t); }

class PortOnPty : public ::testing::Test {
protected:
    void SetUp() override { LikeComPort1(Port, Pty.SlavePath()); }

    Watchdog Guard{30s};
    TestPty Pty;
    TComPort Port;
};

TEST(PortLine, SettingsReachTheDeviceAndABaudChangeTouchesNothingElse)
{
    TestPty pty(/*Raw=*/false);
    const termios found = Attributes(pty.Master());
    TComPort port;
    LikeComPort1(port, pty.SlavePath());
    port.Open();
    // The master reports the slave's settings.
    termios t = Attributes(pty.Master());
    EXPECT_EQ(::cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP | INPCK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    port.SetBaudRate(br19200);
    termios u = Attributes(pty.Master());
    EXPECT_EQ(::cfgetospeed(&u), B19200);
    EXPECT_EQ(u.c_iflag, t.c_iflag);
    EXPECT_EQ(u.c_oflag, t.c_oflag);
    EXPECT_EQ(u.c_lflag, t.c_lflag);
    EXPECT_EQ(u.c_cflag & ~CBAUD, t.c_cflag & ~CBAUD);
    EXPECT_EQ(std::memcmp(u.c_cc, t.c_cc, sizeof t.c_cc), 0);

    port.SetBaudRate(br10400); // no B-constant: a custom rate
    EXPECT_EQ(OutputSpeed(pty.Master()), 10400u);
    port.SetStopBits(sb2);
    EXPECT_NE(Attributes(pty.Master()).c_cflag & CSTOPB, 0u);

    port.Characters().SetXOn('Q');
    port.Characters().SetXOff('S');
    port.FlowControl().SetXOnXOff(xcInputOutput);
    port.SetOptions({opCheckParity});
    termios x = Attributes(pty.Master());
    EXPECT_EQ(x.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
    EXPECT_EQ(x.c_cc[VSTART], 'Q');
    EXPECT_EQ(x.c_cc[VSTOP], 'S');
    port.FlowControl().SetXOnXOff(xcOutput);
    EXPECT_EQ(Attributes(pty.Master()).c_iflag & (IXON | IXOFF), tcflag_t(IXON));

    // Closing leaves the terminal as it was found (a terminal is not left raw).
    port.Close();
    const termios left = Attributes(pty.Master());
    EXPECT_EQ(left.c_iflag, found.c_iflag);
    EXPECT_EQ(left.c_oflag, found.c_oflag);
    EXPECT_EQ(left.c_cflag, found.c_cflag);
    EXPECT_EQ(left.c_lflag, found.c_lflag);
    EXPECT_EQ(std::memcmp(left.c_cc, found.c_cc, sizeof found.c_cc), 0);
}

TEST_F(PortOnPty, WhatTheDeviceCannotDoIsRefused)
{
    // A pty keeps 8 bits without parity whatever it is told.
    Port.SetParity(paOdd);
    ExpectComError([&] { Port.Open(); }, EINVAL, std::strerror(EINVAL));
    EXPECT_FALSE(Port.Active());

    Port.SetParity(paNone);
    Port.Open();
    const termios before = Attributes(Pty.Master());
    ExpectComError([&] { Port.SetParity(paEven); }, EINVAL, std::strerror(EINVAL));
    ExpectComError([&] { Port.SetDataBits(db7); }, EINVAL, std::strerror(EINVAL));
    EXPECT_TRUE(Port.Active());
    const termios after = Attributes(Pty.Master());
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(Port.Parity(), paEven); // stored, as any value set while open
}

TEST_F(PortOnPty, AMissingDeviceFailsCleanlyAndALaterOpenWorks)
{
    const size_t fds = OpenDescriptorCount(), threads = ThreadCount();
    Port.SetDeviceName("/dev/zrm-no-such-port");
    ExpectComError([&] { Port.Open(); }, ENOENT, std::strerror(ENOENT));
    EXPECT_FALSE(Port.Active());
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(ThreadCount(), threads);

    Port.SetDeviceName(Pty.SlavePath());
    Port.Open();
    Port.Write("ping", 4, true);
    EXPECT_EQ(Pty.Receive(4, 2s), "ping");
}

TEST_F(PortOnPty, ADeviceInUseIsRefused)
{
    Port.Open();
    TComPort second;
    LikeComPort1(second, Pty.SlavePath());
    ExpectComError([&] { second.Open(); }, EBUSY, std::strerror(EBUSY));
    EXPECT_FALSE(second.Active());
    Port.Write("still mine", 10, true);
    EXPECT_EQ(Pty.Receive(10, 2s), "still mine");
}

TEST_F(PortOnPty, SettingActiveToItsOwnStateDoesNothing)
{
    Port.SetActive(false); // closed already
    EXPECT_FALSE(Port.Active());
    Port.SetActive(true);
    const size_t threads = ThreadCount();
    Pty.Send("abc");
    auto deadline = Clock::now() + 2s;
    while (Port.InputCount() < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(2ms);
    Port.SetActive(true); // no reopen, no purge
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(Port.InputCount(), 3);
    EXPECT_EQ(Port.ReadAvailable(), "abc");
}

TEST_F(PortOnPty, AClosedPortRefusesTransfers)
{
    char b[4] = {};
    ExpectComError([&] { Port.Write(b, 4, true); }, 0, "Can't perform this operation on a closed port");
    ExpectComError([&] { Port.Read(b, 4, true); }, 0, "Can't perform this operation on a closed port");
    ExpectComError([&] { Port.ModemStatus(); }, 0, "Can't perform this operation on a closed port");
    // The count is asked for first, and the invalid handle answers.
    ExpectComError([&] { Port.ReadAvailable(); }, EBADF, std::strerror(EBADF));
    Port.ClearInput();
    Port.ClearOutput();
    Port.Close();
    Port.Open();
    Port.Close();
    Port.Close();
    EXPECT_FALSE(Port.Active());
}

TEST_F(PortOnPty, WriteSendsTheBytesBetweenItsHooks)
{
    std::vector<std::string> calls;
    auto hook = [&](const char* name) {
        return [&, name](TObject* sender, const void* buffer, int32_t length, bool wait) {
            EXPECT_EQ(sender, &Port);
            calls.push_back(std::string(name) + " " + std::to_string(length) + (wait ? " wait" : "") +
                            (buffer ? "" : " null"));
        };
    };
    Port.SetBeforeWrite(hook("before"));
    Port.SetAfterWrite(hook("after"));
    Port.Open();
    Port.Write("", 0, true);
    EXPECT_EQ(calls, (std::vector<std::string>{"before 0 wait", "after 0 wait"}));
    EXPECT_EQ(Pty.Receive(1, 100ms), "");

    std::string frame(62, '\0');
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = char(i * 7);
    Port.Write(frame.data(), 62, true);
    EXPECT_EQ(Pty.Receive(100, 300ms), frame);
    Port.Write("ab", 2, false); // the next write waits for this one
    Port.Write("cd", 2, true);
    EXPECT_EQ(Pty.Receive(4, 2s), "abcd");
}

TEST_F(PortOnPty, AWriteThatCannotFinishInItsLimitTimesOut)
{
    Port.Timeouts().SetWriteConstant(100);
    Port.Open();
    std::string big(1 << 20, 'x'); // far more than the pty holds; nobody reads
    auto start = Clock::now();
    ExpectComError([&] { Port.Write(big.data(), int32_t(big.size()), true); }, 0, "Timeout");
    EXPECT_GE(Since(start), 90ms);
    EXPECT_LT(Since(start), 3s);
}

TEST_F(PortOnPty, ReadsKeepTheirTimeLimits)
{
    struct Case {
        const char* Name;
        int32_t Interval, Constant;
        std::string Sent;
        bool TimesOut;
        Millis AtLeast, AtMost;
    };
    const Case cases[] = {
        {"all bytes come", 0, 2000, "0123456789", false, 0ms, 1000ms},
        {"total limit", 0, 200, "012", true, 180ms, 1500ms},
        {"interval limit", 50, 0, "012", true, 40ms, 1000ms},
        {"return at once", -1, 0, "012", false, 0ms, 500ms},
    };
    Port.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Port.Timeouts().SetReadInterval(c.Interval);
        Port.Timeouts().SetReadConstant(c.Constant);
        Pty.Send(c.Sent);
        std::this_thread::sleep_for(20ms);
        char buf[10] = {};
        auto start = Clock::now();
        if (c.TimesOut)
            ExpectComError([&] { Port.Read(buf, 10, true); }, 0, "Timeout");
        else
            EXPECT_NO_THROW(Port.Read(buf, 10, true));
        EXPECT_GE(Since(start), c.AtLeast);
        EXPECT_LE(Since(start), c.AtMost);
        EXPECT_EQ(std::string(buf, c.Sent.size()), c.Sent);
        Port.ClearInput();
    }
}

TEST_F(PortOnPty, ReadAvailableNeverWaits)
{
    Port.Open();
    auto start = Clock::now();
    EXPECT_EQ(Port.ReadAvailable(), "");
    EXPECT_LT(Since(start), 100ms);
}

TEST_F(PortOnPty, UnreadBytesRaiseNoFurtherEventsButNewBytesDo)
{
    TestUiThread ui;
    int calls = 0;
    Port.SetOnRxChar([&](TObject*) { ++calls; }); // takes nothing
    Port.Open();
    Pty.Send("0123456789");
    EXPECT_TRUE(ui.PumpUntil([&] { return calls >= 1; }, 2s));
    ui.PumpFor(100ms);
    const int settled = calls;
    EXPECT_LE(settled, 2);
    ui.PumpFor(300ms);
    EXPECT_EQ(calls, settled); // no storm over the same bytes
    Pty.Send("abc");
    EXPECT_TRUE(ui.PumpUntil([&] { return calls > settled; }, 2s));
    EXPECT_EQ(Port.ReadAvailable(), "0123456789abc");
}

TEST_F(PortOnPty, BytesThatArriveDuringAHandlerRaiseAnotherEvent)
{
    TestUiThread ui;
    std::string received;
    int calls = 0;
    Port.SetOnRxChar([&](TObject*) {
        received += Port.ReadAvailable();
        if (++calls == 1) {
            Pty.Send("late");
            std::this_thread::sleep_for(30ms); // they are waiting before the handler ends
        }
    });
    Port.Open();
    Pty.Send("first");
    EXPECT_TRUE(ui.PumpUntil([&] { return received == "firstlate"; }, 3s)) << received;
}

TEST_F(PortOnPty, BytesThatArriveWhileTheUiIsBusyAreDeliveredLater)
{
    TestUiThread ui;
    std::string received;
    int calls = 0;
    Port.SetOnRxChar([&](TObject*) {
        ++calls;
        received += Port.ReadAvailable();
    });
    Port.Open();
    for (const char* part : {"one ", "two ", "three"}) {
        Pty.Send(part);
        std::this_thread::sleep_for(30ms); // the UI thread is busy elsewhere
    }
    EXPECT_TRUE(ui.PumpUntil([&] { return received == "one two three"; }, 3s)) << received;
    EXPECT_LE(calls, 3);
}

TEST_F(PortOnPty, EventCharacterAndFullBufferEventsComeInDispatchOrder)
{
    TestUiThread ui;
    std::vector<std::string> calls;
    Port.BufferSizes().SetInput(256);
    Port.Characters().SetEvent('\n');
    Port.SetOnRxChar([&](TObject*) { calls.push_back("RxChar"); });
    Port.SetOnRxFlag([&](TObject*) { calls.push_back("RxFlag"); });
    Port.SetOnRx80PercFull([&](TObject*) { calls.push_back("Rx80"); });
    Port.Open();
    Pty.Send(std::string(239, 'x') + "\n");
    EXPECT_TRUE(ui.PumpUntil([&] { return calls.size() >= 3 && calls.back() == "RxFlag"; }, 3s));
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
              (std::vector<std::string>{"Rx80", "RxChar", "RxFlag"}));
    EXPECT_EQ(Port.ReadAvailable().size(), 240u);
}

TEST_F(PortOnPty, AFinishedWriteRaisesTxEmpty)
{
    TestUiThread ui;
    int empty = 0;
    Port.SetOnTxEmpty([&](TObject*) { ++empty; });
    Port.Open();
    Port.Write("x", 1, true);
    EXPECT_TRUE(ui.PumpUntil([&] { return empty == 1; }, 2s));
}

TEST(PortLifetime, DestroyingAnOpenPortStopsItsThreadAndReleasesTheDevice)
{
    Watchdog guard(10s);
    TestPty pty;
    const size_t fds = OpenDescriptorCount(), threads = ThreadCount();
    {
        TComPort port;
        LikeComPort1(port, pty.SlavePath());
        port.SetOnRxChar([](TObject*) {});
        port.Open();
        EXPECT_EQ(ThreadCount(), threads + 1);
    }
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(OpenDescriptorCount(), fds);
    TComPort again;
    LikeComPort1(again, pty.SlavePath());
    EXPECT_NO_THROW(again.Open()); // the lock went with the descriptor
}

TEST(PortLifetime, PriorityClassIsHeldOnlyWhileOpen)
{
    // In a child: the nice value is process state.
    TestPty pty;
    pid_t child = ::fork();
    if (child == 0) {
        int failures = 0;
        const int before = ::getpriority(PRIO_PROCESS, 0); // the runner may have started us niced
        TComPort port;
        LikeComPort1(port, pty.SlavePath());
        port.SetPriorityClass(pcIdle);
        port.SetOnRxChar([](TObject*) {});
        port.Open();
        failures += ::getpriority(PRIO_PROCESS, 0) != 19;
        port.Close();
        if (::geteuid() == 0) // going back up needs the privilege
            failures += ::getpriority(PRIO_PROCESS, 0) != before;
        ::_exit(failures);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
