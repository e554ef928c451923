// Renders the installed-meter dialog and the calibration wizard of the
// professional variant, filled as in a run against the virtual meter bench,
// to PNG files. Run under Xvfb so the pictures are the X server's own:
//
//   xvfb-run -a -s "-screen 0 1280x900x24" build/bin/calibration-screenshots docs/screenshots

#include "diameter_defaults.h"
#include "installed_meters_dialog.h"
#include "main_window.h"
#include "meter_bench.h"
#include "scanner_app.h"
#include "scripted_messages.h"
#include "wizard_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cstdio>

using metersim::FlowProfile;
using metersim::MeterBench;
using metersim::MeterSpec;

namespace {

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The window's rectangle of the screen, as `import -window root -crop` would
// cut it; the widget itself where there is no X server.
bool Save(QWidget& w, const QString& file)
{
    Pump(400);
    QPixmap shot;
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        const QRect r = w.frameGeometry();
        shot = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    } else {
        shot = w.grab();
    }
    const bool ok = shot.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}

template <class T> T* Child(QWidget& w, const char* name) { return w.findChild<T*>(QString::fromUtf8(name)); }

} // namespace

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyBench"));
    MeterBench bench(link.toStdString());
    const SerialNumber serials[] = {1201, 1202, 1203, 1204, 1205, 1206};
    for (SerialNumber s : serials) {
        MeterSpec m;
        m.serial = s;
        m.diameterIndex = 4;
        m.flow = FlowProfile::Constant(35, 0.2);
        bench.AddMeter(m);
    }
    bench.Start();
    {
        QFile ini(dir.filePath(QStringLiteral("Settings.ini")));
        if (!ini.open(QIODevice::WriteOnly))
            return 1;
        ini.write("[CONFIG]\r\nCOM=" + link.toUtf8() + "\r\n");
    }

    ScopedScriptedMessages boxes;  // every box answered OK, none drawn
    ScannerApplication app(dir.path(), false);
    app.Show();  // opens the port
    Pump(300);
    app.Form1().hide();

    // "КАЛИБРОВКА" with no state file; the installed-meter dialog is shown
    // without its modal loop so the picture can be taken.
    TForm4& meters = app.Form4();
    TForm3& wizard = app.Form3();
    wizard.ShowInstalledMeters = [&meters] { meters.show(); };
    wizard.StartMode(false);
    Child<QComboBox>(meters, "ComboBox1")->setCurrentIndex(4);
    Child<QSpinBox>(meters, "SpinEdit1")->setValue(6);
    auto* table = Child<QTableWidget>(meters, "SNTable");
    for (int i = 0; i < 6; ++i)
        table->item(i + 1, 1)->setText(QString::number(serials[i]));
    bool ok = Save(meters, out + QStringLiteral("/installed_meters_dialog.png"));

    // Accept: the meters are tested and the wizard opens. The flow-setting
    // dialog is answered at once; the picture is of the wizard.
    wizard.ShowFlowSetting = [](const QString&) { return ModalResult::Ok; };
    Child<QPushButton>(meters, "BitBtn1")->click();
    Pump(200);

    struct Stage {
        const char* time;
        const char* pulses;
        int g[6];
    };
    const Stage stages[] = {
        {"60", "5833", {3920, 3869, 3900, 3842, 3966, 3888}},
        {"300", "1250", {3360, 3320, 3347, 3290, 3410, 3336}},
        {"600", "1167", {3146, 3100, 3125, 3072, 3187, 3112}},
    };
    auto* grid = Child<QTableWidget>(wizard, "ParGrid");
    const QString weight = QStringLiteral("0") + QLocale::system().decimalPoint() + QStringLiteral("1");
    for (int s = 0; s < 3; ++s) {
        Child<QPushButton>(wizard, "BitBtn1")->click();
        Child<QLineEdit>(wizard, "Edit11")->setText(QString::fromUtf8(stages[s].time));
        Child<QLineEdit>(wizard, "Edit2")->setText(weight);
        Child<QLineEdit>(wizard, "Edit3")->setText(QString::fromUtf8(stages[s].pulses));
        for (int i = 0; i < 6; ++i)
            grid->item(1, i + 1)->setText(QString::number(stages[s].g[i]));
        if (s < 2)
            Child<QPushButton>(wizard, "BitBtn4")->click();
    }
    ok = Save(wizard, out + QStringLiteral("/calibration_wizard.png")) && ok;
    for (const ShownMessage& m : boxes.shown())
        if (m.kind == MsgKind::Error)
            std::printf("error box: %s\n", qPrintable(m.text));
    return ok ? 0 : 1;
}
