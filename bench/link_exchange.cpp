// The device link's costs against the virtual meter bench:
//  (a) wall time of one ReadDeviceState on an unpaced line (software overhead),
//  (b) read-state operations per second on a line paced at 9600 bit/s, as a
//      ratio of the wire limit (6-byte request + the bench's 32-byte reply),
//  (c) CPU time of one exchange with a silent meter (four 2000 ms waits).
// Usage: bench-link [CALLS] [PACED_SECONDS]

#include "device_link.h"
#include "meter_bench.h"
#include "messages.h"
#include "qt_serial_events.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Counts boxes instead of showing them.
class CountingMessages : public Messages {
public:
    ModalResult show(MsgKind, const QString&, MsgButtons) override
    {
        ++count;
        return ModalResult::Ok;
    }
    int count = 0;
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

metersim::MeterSpec Meter(SerialNumber serial)
{
    metersim::MeterSpec m;
    m.serial = serial;
    m.diameterIndex = 4;
    m.flow = metersim::FlowProfile::Constant(12.5);
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int pacedSeconds = argc > 2 ? std::atoi(argv[2]) : 20;
    CountingMessages boxes;
    Messages::install(&boxes);
    InstallQtSerialEventDelivery();
    QTemporaryDir dir;
    const std::string link = (dir.path() + "/ttyBench").toStdString();

    {  // (a)
        metersim::BenchOptions o;
        o.replyDelayMs = 0;
        metersim::MeterBench bench(link, o);
        bench.AddMeter(Meter(101));
        bench.Start();
        DeviceLink dl;
        dl.ComPort1().SetDeviceName(link);
        dl.ComPort1().Open();
        std::vector<double> ms;
        DeviceState s;
        for (int i = 0; i < calls + 50; ++i) {
            QElapsedTimer t;
            t.start();
            if (!dl.ReadDeviceState(101, s))
                return std::fprintf(stderr, "read failed\n"), 1;
            if (i >= 50)
                ms.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("(a) unpaced ReadDeviceState round trip over %d calls: median %.3f ms, p99 %.3f ms\n", calls,
                    Percentile(ms, 0.5), Percentile(ms, 0.99));
    }
    {  // (b)
        metersim::BenchOptions o;
        o.pace = true;
        o.replyDelayMs = 0;
        metersim::MeterBench bench(link, o);
        bench.AddMeter(Meter(102));
        bench.Start();
        DeviceLink dl;
        dl.ComPort1().SetDeviceName(link);
        dl.ComPort1().Open();
        DeviceState s;
        QElapsedTimer t;
        t.start();
        int done = 0;
        while (t.elapsed() < pacedSeconds * 1000) {
            if (!dl.ReadDeviceState(102, s))
                return std::fprintf(stderr, "paced read failed\n"), 1;
            ++done;
        }
        const double perSecond = done / (t.nsecsElapsed() / 1e9);
        const double wireLimit = 1e9 / (38.0 * std::chrono::nanoseconds(metersim::kByteTime).count());
        std::printf("(b) paced at 9600 bit/s: %.2f reads/s; wire limit %.2f/s (38 bytes); ratio %.3f\n", perSecond,
                    wireLimit, perSecond / wireLimit);
    }
    {  // (c)
        metersim::MeterBench bench(link);
        metersim::MeterSpec m = Meter(103);
        m.fault.silent = true;
        bench.AddMeter(m);
        bench.Start();
        DeviceLink dl;
        dl.ComPort1().SetDeviceName(link);
        dl.ComPort1().Open();
        DeviceState s;
        const double cpu0 = CpuSeconds();
        QElapsedTimer t;
        t.start();
        dl.ReadDeviceState(103, s);
        const double wall = t.nsecsElapsed() / 1e9;
        const double cpu = CpuSeconds() - cpu0;
        std::printf("(c) silent meter: %.3f s wall, %.4f s CPU = %.3f %% of the wall time (%d box)\n", wall, cpu,
                    100 * cpu / wall, boxes.count);
    }
    Messages::install(nullptr);
    return 0;
}
