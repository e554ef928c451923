// Renders the two flow chart windows against the virtual meter bench, in the
// 2D and the 3D view, to PNG files: run under Xvfb, so the pictures are the
// X server's own (the offscreen platform also works).
//
//   xvfb-run -a -s "-screen 0 1280x900x24" build/bin/scan-screenshots docs/screenshots

#include "device_link.h"
#include "flow_setting_dialog.h"
#include "installed_meters.h"
#include "meter_bench.h"
#include "number_text.h"
#include "qt_serial_events.h"
#include "scan_window.h"
#include "window_shots.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>

using metersim::FlowProfile;
using metersim::MeterBench;
using metersim::MeterSpec;

namespace {

// The whole X screen, as `import -window root`.
bool Save(QWidget& w, const QString& file) { return SaveShot(w, file, ShotArea::Screen, 300); }

void Scan(FlowChartWindow& w, int polls)
{
    w.findChild<QSpinBox*>(QStringLiteral("SpinEdit1"))->setValue(200);
    QCheckBox* scan = w.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    if (!scan->isChecked())
        scan->click();
    QElapsedTimer t;
    t.start();
    while (w.Chart().PointCount(0) < polls && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    scan->click();  // stop, so the picture holds still
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    InstallQtSerialEventDelivery();

    QTemporaryDir dir;
    const std::string linkPath = (dir.path() + QStringLiteral("/ttyBench")).toStdString();
    metersim::BenchOptions options;
    options.timeScale = 4;  // the flow shapes run four times as fast
    MeterBench bench(linkPath, options);
    const SerialNumber serials[] = {12345, 2201, 2202, 317, 40001, 9};
    const double base[] = {12.0, 11.5, 12.4, 10.8, 12.9, 11.1};
    InstalledMeterList& list = InstalledMeters();
    for (int i = 0; i < 6; ++i) {
        MeterSpec m;
        m.serial = serials[i];
        m.diameterIndex = 4;
        m.flow = FlowProfile::Sine(base[i], 0.6 + 0.1 * i, 20 + 4 * i, 0.08);
        bench.AddMeter(m);
        list.Serials[i] = serials[i];
    }
    bench.Start();

    DeviceLink link;
    link.ComPort1().SetDeviceName(linkPath);
    link.ComPort1().Open();

    bool ok = true;
    {
        list.Count = 6;
        TForm7 scan(link);
        scan.show();
        // Xvfb has no window manager to maximise it.
        scan.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
        scan.findChild<QCheckBox*>(QStringLiteral("CheckBox3"))->setChecked(true);
        Scan(scan, 60);
        ok &= Save(scan, out + QStringLiteral("/scan_window_3d.png"));
        scan.findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->click();
        ok &= Save(scan, out + QStringLiteral("/scan_window_2d.png"));
        scan.close();
    }
    {
        list.Count = 3;
        TForm5 setting(link);
        setting.SetVolLabelText(FormatText("%1.3f м3/ч", {12.0}));
        setting.show();
        Scan(setting, 40);
        ok &= Save(setting, out + QStringLiteral("/flow_setting_dialog_3d.png"));
        setting.findChild<QCheckBox*>(QStringLiteral("CheckBox2"))->click();
        ok &= Save(setting, out + QStringLiteral("/flow_setting_dialog_2d.png"));
        setting.close();
    }
    link.ComPort1().Close();
    return ok ? 0 : 1;
}
