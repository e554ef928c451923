// bench-serial: how the serial port behaves in the program's own setting, a
// Qt event loop on the UI thread.
//  (a) latency from a byte written on the far end of a pty to the OnRxChar
//      handler running on the UI thread: median and p99;
//  (b) CPU used by an open, idle port.
// Usage: bench-serial [events] [idle seconds]   (defaults 10000 and 10)

#include "com_port.h"
#include "com_sync.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int events = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;

    // As the program does it: queue the call on the UI thread's event loop.
    SetMainThreadPoster([](std::function<void()> fn) {
        QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
    });

    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) || ::unlockpt(master)) {
        std::perror("posix_openpt");
        return 1;
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);

    TComPort port;
    port.SetDeviceName(::ptsname(master));
    port.SetBaudRate(br9600);
    port.SetDataBits(db8);
    port.SetParity(paNone);
    port.SetStopBits(sb1);
    port.FlowControl().SetDTR(dcEnable);
    port.FlowControl().SetRTS(rcEnable);
    port.Timeouts().SetReadConstant(2000);

    std::mutex lock;
    std::condition_variable arrived;
    bool got = false;
    Clock::time_point handled;
    port.SetOnRxChar([&](TObject*) {
        if (port.ReadAvailable().empty())
            return;
        std::lock_guard l(lock);
        handled = Clock::now();
        got = true;
        arrived.notify_all();
    });
    try {
        port.Open();
    } catch (const EComError& e) {
        std::fprintf(stderr, "open: %s\n", e.what());
        return 1;
    }

    // (a) The far end sends one byte at a time and waits for the handler.
    std::vector<double> latencies;
    int lost = 0;
    std::thread farEnd([&] {
        const int warmup = 100;
        for (int i = 0; i < warmup + events; ++i) {
            std::unique_lock l(lock);
            got = false;
            const auto sent = Clock::now();
            if (::write(master, "x", 1) != 1)
                break;
            if (!arrived.wait_for(l, std::chrono::seconds(2), [&] { return got; })) {
                ++lost;
                continue;
            }
            if (i >= warmup)
                latencies.push_back(std::chrono::duration<double, std::milli>(handled - sent).count());
        }
        QMetaObject::invokeMethod(qApp, [] { qApp->quit(); }, Qt::QueuedConnection);
    });
    app.exec();
    farEnd.join();
    if (latencies.empty()) {
        std::fprintf(stderr, "no event arrived\n");
        return 1;
    }
    std::printf("(a) byte on the pty master -> OnRxChar on the UI thread, %zu events (%d lost)\n",
                latencies.size(), lost);
    std::printf("    median %.3f ms, p99 %.3f ms, max %.3f ms\n", Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));

    // (b) The port stays open with nothing on the line.
    const double before = CpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(idleSeconds * 1000, Qt::PreciseTimer, &app, [] { qApp->quit(); });
    app.exec();
    const double cpu = CpuSeconds() - before;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("(b) open idle port: %.1f ms CPU in %.1f s = %.4f %% of one core\n", cpu * 1000, wall,
                100.0 * cpu / wall);

    port.Close();
    ::close(master);
    return 0;
}
