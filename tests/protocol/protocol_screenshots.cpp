// Renders the protocol fields dialog, and a protocol for six meters filled
// by the real office, to PNG files. Run under Xvfb so the dialog's picture
// is the X server's own:
//
//   xvfb-run -a -s "-screen 0 1280x900x24" build/bin/protocol-screenshots docs/screenshots
//
// The protocol page goes through the office's PDF export and then pdftoppm
// (poppler-utils) or Ghostscript, whichever is installed; without either it
// is skipped.

#include "installed_meters.h"
#include "main_window.h"
#include "protocol_fields_dialog.h"
#include "protocol_fixtures.h"
#include "protocol_workbook.h"
#include "run_state.h"
#include "scanner_app.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"
#include "window_shots.h"
#include "wizard_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(180000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// First page of a workbook as PNG: the office's PDF, then a rasteriser.
bool RenderWorkbook(const QString& xls, const QString& png, const QString& work)
{
    const QString copy = work + QStringLiteral("/protocol.xls");
    QFile::remove(copy);
    QFile::copy(xls, copy);
    if (!Run(QStringLiteral(ZRM_SOFFICE_PATH),
             {QStringLiteral("-env:UserInstallation=file://") + work + QStringLiteral("/pdf-profile"),
              QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("pdf"),
              QStringLiteral("--outdir"), work, copy}))
        return false;
    const QString pdf = work + QStringLiteral("/protocol.pdf");
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        return Run(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("110"),
                                                QStringLiteral("-singlefile"), pdf, png.chopped(4)});
    if (!QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty())
        return Run(QStringLiteral("gs"), {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                                          QStringLiteral("-dFirstPage=1"), QStringLiteral("-dLastPage=1"),
                                          QStringLiteral("-sDEVICE=png16m"), QStringLiteral("-r110"),
                                          QStringLiteral("-sOutputFile=") + png, pdf});
    std::printf("skipped %s: neither pdftoppm nor gs is installed\n", qPrintable(png));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication qt(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    QTemporaryDir dir;
    const QString templ = QStringLiteral("Протокол поверки.xls");
    QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + templ, dir.filePath(templ));
    QFile settings(dir.filePath(QStringLiteral("Settings.ini")));
    settings.open(QIODevice::WriteOnly);
    // "Иванов И.И." and "Петров П.П." in Windows-1251.
    settings.write("[CONFIG]\r\nCOM=\r\nREPNO=12\r\nFIO1=\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.\r\n"
                   "FIO2=\xCF\xE5\xF2\xF0\xEE\xE2 \xCF.\xCF.\r\n");
    settings.close();

    ScopedScriptedMessages boxes;
    ScannerApplication app(dir.path(), false);
    TForm6& form6 = app.Form6();
    form6.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
    form6.open();
    Pump(200);
    bool ok = SaveShot(form6, out + QStringLiteral("/protocol_fields.png"));

    // OK, then the protocol for six meters as the wizard makes it.
    const VerificationRun run = SampleRun(6);
    WriteSessionFile(dir.filePath(QStringLiteral("Poverka.ini")), run);
    InstalledMeters().Count = 6;
    InstalledMeters().DiameterIndex = run.DiameterIndex;
    CurrentRun().SessionFileName = QStringLiteral("Poverka.ini");
    QString written;
    SetWorkbookViewer([&written](const QString& path) {
        written = path;
        return true;
    });
    form6.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    app.Form3().WriteProtocol();
    if (written.isEmpty()) {
        std::printf("FAILED: no protocol (%s)\n", qPrintable(boxes.texts().join(QLatin1Char('|'))));
        return 1;
    }
    std::printf("protocol %s\n", qPrintable(written));
    ok = RenderWorkbook(written, out + QStringLiteral("/protocol.png"), dir.path()) && ok;
    SetWorkbookViewer({});
    return ok ? 0 : 1;
}
