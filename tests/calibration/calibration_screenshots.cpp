// Renders the installed-meter dialog and the calibration wizard of the
// professional variant, filled as in a run against the virtual meter bench,
// to PNG files. Run under Xvfb so the pictures are the X server's own:
//
//   xvfb-run -a -s "-screen 0 1280x900x24" build/bin/calibration-screenshots docs/screenshots

#include "bench_app.h"
#include "installed_meters_dialog.h"
#include "main_window.h"
#include "window_shots.h"
#include "wizard_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

#include <cstdio>

using metersim::FlowProfile;
using metersim::MeterSpec;

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    BenchApp f;  // every box answered OK, none drawn
    const SerialNumber serials[] = {1201, 1202, 1203, 1204, 1205, 1206};
    std::vector<MeterSpec> specs;
    for (SerialNumber s : serials) {
        specs.push_back(BenchMeter(s, 4));
        specs.back().flow = FlowProfile::Constant(35, 0.2);
    }
    f.StartBench(specs);
    if (!f.StartProgram(false)) {  // opens the port
        std::printf("FAILED: the program did not start on the bench's line\n");
        return 1;
    }
    Pump(300);
    ScannerApplication& app = *f.app;
    app.Form1().hide();

    // "КАЛИБРОВКА" with no state file; the installed-meter dialog is shown
    // without its modal loop so the picture can be taken.
    TForm4& meters = app.Form4();
    TForm3& wizard = app.Form3();
    wizard.ShowInstalledMeters = [&meters] { meters.show(); };
    wizard.StartMode(false);
    BenchApp::Find<QComboBox>(meters, "ComboBox1")->setCurrentIndex(4);
    BenchApp::Find<QSpinBox>(meters, "SpinEdit1")->setValue(6);
    auto* table = BenchApp::Find<QTableWidget>(meters, "SNTable");
    for (int i = 0; i < 6; ++i)
        table->item(i + 1, 1)->setText(QString::number(serials[i]));
    bool ok = SaveShot(meters, out + QStringLiteral("/installed_meters_dialog.png"));

    // Accept: the meters are tested and the wizard opens. The flow-setting
    // dialog is answered at once; the picture is of the wizard.
    wizard.ShowFlowSetting = [](const QString&) { return ModalResult::Ok; };
    BenchApp::Find<QPushButton>(meters, "BitBtn1")->click();
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
    auto* grid = BenchApp::Find<QTableWidget>(wizard, "ParGrid");
    const QString weight = QStringLiteral("0") + QLocale::system().decimalPoint() + QStringLiteral("1");
    for (int s = 0; s < 3; ++s) {
        BenchApp::Find<QPushButton>(wizard, "BitBtn1")->click();
        BenchApp::Find<QLineEdit>(wizard, "Edit11")->setText(QString::fromUtf8(stages[s].time));
        BenchApp::Find<QLineEdit>(wizard, "Edit2")->setText(weight);
        BenchApp::Find<QLineEdit>(wizard, "Edit3")->setText(QString::fromUtf8(stages[s].pulses));
        for (int i = 0; i < 6; ++i)
            grid->item(1, i + 1)->setText(QString::number(stages[s].g[i]));
        if (s < 2)
            BenchApp::Find<QPushButton>(wizard, "BitBtn4")->click();
    }
    ok = SaveShot(wizard, out + QStringLiteral("/calibration_wizard.png")) && ok;
    for (const ShownMessage& m : f.boxes.shown())
        if (m.kind == MsgKind::Error)
            std::printf("error box: %s\n", qPrintable(m.text));
    return ok ? 0 : 1;
}
