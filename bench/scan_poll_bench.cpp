// The scanning window polling six meters at the shortest period, on a bench
// paced at the 9600 bit/s wire rate, for a long session: does memory stay
// flat, and how much of the UI thread does each poll take?
//
//   build/bin/bench-scan [SECONDS [PERIOD_MS [full] [flat]]]   (default 600 s, 200 ms)
//
// "full" starts with every series already holding the most points the chart
// keeps, to see the steady state of a long session at once; "flat" scans in
// the 2D view instead of the 3D one (the window's default).
//
// Busy time is the UI thread's own CPU time (CLOCK_THREAD_CPUTIME_ID), so the
// waits for replies, which sleep in the event loop, do not count:
//   poll   - from the timer tick to the end of Timer1Timer: six exchanges,
//            titles, points, and whatever the nested waits painted meanwhile;
//   cycle  - from one tick to the next: the poll plus the repaint after it.

#include "device_link.h"
#include "installed_meters.h"
#include "messages.h"
#include "meter_bench.h"
#include "qt_serial_events.h"
#include "scan_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double ThreadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long RssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p / 100.0 * double(v.size() - 1) + 0.5));
    return v[i];
}

// Counts the boxes a failing read would show, and answers them at once.
class CountingMessages : public Messages {
public:
    ModalResult show(MsgKind, const QString& text, MsgButtons) override
    {
        ++count;
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        return ModalResult::Ok;
    }
    int count = 0;
};

// Marks the start of each poll: the timer's own event, before the slot runs.
class TickWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Timer) {
            startCpu = ThreadCpuMs();
            wall.start();
        }
        return QObject::eventFilter(watched, event);
    }
    double startCpu = 0;
    QElapsedTimer wall;
};

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int periodMs = argc > 2 ? std::atoi(argv[2]) : 200;
    bool full = false, flat = false;
    for (int i = 3; i < argc; ++i) {
        full |= QByteArray(argv[i]) == "full";
        flat |= QByteArray(argv[i]) == "flat";
    }
    InstallQtSerialEventDelivery();
    CountingMessages boxes;
    Messages::install(&boxes);

    QTemporaryDir dir;
    const std::string linkPath = (dir.path() + QStringLiteral("/ttyBench")).toStdString();
    metersim::BenchOptions options;
    options.pace = true;  // 9600 bit/s both ways
    metersim::MeterBench bench(linkPath, options);
    InstalledMeterList& list = InstalledMeters();
    for (int i = 0; i < 6; ++i) {
        metersim::MeterSpec m;
        m.serial = SerialNumber(1001 + i);
        m.diameterIndex = 4;
        // Short flow periods so a session sees many swings.
        m.flow = metersim::FlowProfile::Sine(12 + i * 0.5, 1.0 + 0.2 * i, 20 + 7 * i, 0.05);
        bench.AddMeter(m);
        list.Serials[i] = m.serial;
    }
    list.Count = 6;
    bench.Start();

    DeviceLink link;
    link.ComPort1().SetDeviceName(linkPath);
    link.ComPort1().Open();

    TForm7 window(link);
    window.resize(1280, 900);
    window.show();
    window.findChild<QCheckBox*>(QStringLiteral("CheckBox3"))->setChecked(true);
    window.findChild<QSpinBox*>(QStringLiteral("SpinEdit1"))->setValue(periodMs);

    if (flat)
        window.findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->click();
    if (full)
        for (int i = 0; i < FlowChart::kSeriesCount; ++i)
            for (int k = 0; k < FlowChart::kMaxPoints; ++k)
                window.Chart().AddPoint(i, 12 + i * 0.5 + std::sin(k / 10.0));

    TickWatch watch;
    window.Timer().installEventFilter(&watch);
    std::vector<double> pollCpu, pollWall, cycleCpu;
    double lastStartCpu = -1;
    // Connected after the window's own slot: runs when the poll has ended.
    QObject::connect(&window.Timer(), &QTimer::timeout, &window, [&] {
        pollCpu.push_back(ThreadCpuMs() - watch.startCpu);
        pollWall.push_back(double(watch.wall.nsecsElapsed()) / 1e6);
        if (lastStartCpu >= 0)
            cycleCpu.push_back(watch.startCpu - lastStartCpu);
        lastStartCpu = watch.startCpu;
        // The simulator keeps every frame for tests; its record is not the
        // program's memory.
        bench.ClearReceived();
    });

    QCoreApplication::processEvents();
    const long rssStart = RssKb();
    const double cpuStart = ProcessCpuMs();
    QElapsedTimer clock;
    clock.start();
    std::printf("period %d ms, %d s, %s view%s, six meters paced at 9600 bit/s; RSS at start %ld kB\n", periodMs,
                seconds, flat ? "2D" : "3D", full ? ", chart full from the start" : "", rssStart);
    std::printf("%8s %8s %10s %12s\n", "t, s", "polls", "RSS, kB", "points/series");
    std::fflush(stdout);
    window.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();

    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("%8.0f %8zu %10ld %12d\n", clock.elapsed() / 1000.0, pollCpu.size(), RssKb(),
                    window.Chart().PointCount(0));
        std::fflush(stdout);
    });
    report.start(std::max(10, seconds / 10) * 1000);
    QTimer::singleShot(seconds * 1000, &app, [&] {
        window.findChild<QCheckBox*>(QStringLiteral("CheckBox1"))->click();
        QCoreApplication::quit();
    });
    app.exec();

    const long rssEnd = RssKb();
    const double elapsed = clock.elapsed() / 1000.0;
    std::printf("\npolls %zu in %.0f s (%.2f per second), failure boxes %d, points kept per series %d\n", pollCpu.size(),
                elapsed, pollCpu.size() / elapsed, boxes.count, window.Chart().PointCount(0));
    std::printf("RSS start %ld kB, end %ld kB\n", rssStart, rssEnd);
    std::printf("UI thread busy per poll:  median %.2f ms, p99 %.2f ms, max %.2f ms\n", Percentile(pollCpu, 50),
                Percentile(pollCpu, 99), Percentile(pollCpu, 100));
    std::printf("UI thread busy per cycle: median %.2f ms, p99 %.2f ms, max %.2f ms\n", Percentile(cycleCpu, 50),
                Percentile(cycleCpu, 99), Percentile(cycleCpu, 100));
    std::printf("poll wall time:           median %.1f ms, p99 %.1f ms\n", Percentile(pollWall, 50),
                Percentile(pollWall, 99));
    std::printf("process CPU %.1f s in %.0f s (%.1f %% of one core)\n", (ProcessCpuMs() - cpuStart) / 1000.0, elapsed,
                (ProcessCpuMs() - cpuStart) / 10.0 / elapsed);
    link.ComPort1().Close();
    Messages::install(nullptr);
    return boxes.count == 0 ? 0 : 1;
}
