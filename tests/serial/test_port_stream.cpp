// Long runs over real pseudo-terminals: a megabyte in random pieces, a
// thousand opens and closes under traffic, an unplugged device, an idle port.

#include "com_port.h"
#include "com_sync.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace {

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

size_t FirstDifference(const std::string& a, const std::string& b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return i;
}

TEST(PortStream, EveryReceivedByteReachesTheHandlersOnceAndInOrder)
{
    Watchdog guard(120s);
    TestPty pty;
    TestUiThread ui;
    TComPort port;
    LikeComPort1(port, pty.SlavePath());
    std::string received;
    size_t events = 0;
    const auto uiThread = std::this_thread::get_id();
    port.SetOnRxChar([&](TObject*) {
        ++events;
        EXPECT_EQ(std::this_thread::get_id(), uiThread);
        received += port.ReadAvailable();
    });
    port.Open();

    std::mt19937 rng(20240611);
    std::string data((1 << 20) + 4321, '\0');
    for (char& c : data)
        c = char(rng());
    std::thread writer([&] {
        std::mt19937 sizes(7);
        for (size_t pos = 0; pos < data.size();) {
            size_t n = std::min<size_t>(1 + sizes() % 700, data.size() - pos);
            pty.Send(std::string_view(data).substr(pos, n));
            pos += n;
        }
    });
    EXPECT_TRUE(ui.PumpUntil([&] { return received.size() >= data.size(); }, 90s));
    writer.join();
    ui.PumpFor(50ms);
    port.Close();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_EQ(FirstDifference(received, data), data.size());
    EXPECT_GT(events, 0u);
    EXPECT_LE(events, data.size());
}

TEST(PortStream, OpenAndCloseAThousandTimesWhileBytesStreamIn)
{
    Watchdog guard(240s);
    TestPty pty;
    TestUiThread ui;
    TComPort port;
    LikeComPort1(port, pty.SlavePath());
    size_t received = 0;
    port.SetOnRxChar([&](TObject*) { received += port.ReadAvailable().size(); });
    const size_t fds = OpenDescriptorCount(), threads = ThreadCount();

    std::atomic<bool> stop = false;
    std::thread writer([&] {
        char chunk[97];
        std::memset(chunk, 'z', sizeof chunk);
        while (!stop) {
            if (::write(pty.Master(), chunk, sizeof chunk) < 0) {
                pollfd p{pty.Master(), POLLOUT, 0};
                ::poll(&p, 1, 5);
            }
        }
    });
    for (int i = 0; i < 1000; ++i) {
        port.Open();
        // Sometimes close at once, with a dispatch possibly waiting for us.
        if (i % 4 != 0)
            ui.PumpFor(std::chrono::milliseconds(i % 3));
        port.Close();
    }
    stop = true;
    writer.join();
    ui.PumpFor(20ms);
    EXPECT_GT(received, 0u);
    EXPECT_EQ(OpenDescriptorCount(), fds);
    EXPECT_EQ(ThreadCount(), threads);
}

TEST(PortHangUp, AnUnpluggedDeviceNeitherSpinsNorHangsAndOpensAgainWhenBack)
{
    Watchdog guard(30s);
    namespace fs = std::filesystem;
    const fs::path dir = TempDir();
    const fs::path link = dir / "meter-port";
    auto pty = std::make_unique<TestPty>();
    fs::create_symlink(pty->SlavePath(), link);

    TestUiThread ui;
    TComPort port;
    LikeComPort1(port, link.string());
    std::string received;
    port.SetOnRxChar([&](TObject*) { received += port.ReadAvailable(); });
    port.Open();
    pty->Send("before");
    EXPECT_TRUE(ui.PumpUntil([&] { return received == "before"; }, 2s));

    pty->CloseMaster(); // unplugged
    const Millis cpu = ProcessCpuTime();
    ui.PumpFor(1s);
    EXPECT_LT(ProcessCpuTime() - cpu, 50ms) << "the event thread spins on a hung-up device";
    try {
        port.Write("x", 1, true);
        ADD_FAILURE() << "a write to an unplugged device succeeded";
    } catch (const EComError& e) {
        EXPECT_EQ(e.ErrorCode, EIO);
        EXPECT_EQ(e.Message(), std::strerror(EIO));
    }
    EXPECT_THROW(port.ReadAvailable(), EComError);

    // The adapter is plugged in again and appears under the same name.
    auto back = std::make_unique<TestPty>();
    fs::remove(link);
    fs::create_symlink(back->SlavePath(), link);
    port.Close();
    port.Open();
    port.Write("after", 5, true);
    EXPECT_EQ(back->Receive(5, 2s), "after");
    received.clear();
    back->Send("again");
    EXPECT_TRUE(ui.PumpUntil([&] { return received == "again"; }, 2s));
    port.Close();
    fs::remove_all(dir);
}

TEST(PortIdle, AnOpenIdlePortUsesNoCpu)
{
    Watchdog guard(10s);
    TestPty pty;
    TestUiThread ui;
    TComPort port;
    LikeComPort1(port, pty.SlavePath());
    port.SetOnRxChar([&](TObject*) { port.ReadAvailable(); });
    port.Open();
    const Millis cpu = ProcessCpuTime();
    ui.PumpFor(1s);
    EXPECT_LT(ProcessCpuTime() - cpu, 20ms);
}

} // namespace
