// zrm_protocol_bench: the verification protocol as the operator meets it.
// The real program's windows (offscreen), the fields dialog accepted with OK,
// then the wizard's protocol step for six meters with the real office.
// Times, per run: OK to the saved workbook and to the workbook shown, of
// which the office's start-up, and the longest pause of a 10 ms UI timer
// meanwhile. Cold runs start the office at OK; warm runs alternate with them
// and start it when the fields dialog opens, as the wizard does.
//
//   zrm_protocol_bench [runs]      (default 5 of each; a table and the medians)

#include "app_paths.h"
#include "installed_meters.h"
#include "protocol_fields_dialog.h"
#include "protocol_fixtures.h"
#include "run_state.h"
#include "scanner_app.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"
#include "wizard_window.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Times the calls of the real backend it wraps.
struct Timings {
    qint64 start = 0;  // Start(): the office up and connected
    qint64 saved = -1; // from the clock's zero to Save() returning
};

class TimedApp : public SpreadsheetApp {
public:
    TimedApp(Timings& t, const QElapsedTimer& clock) : m_t(t), m_clock(clock) {}
    void Start() override
    {
        QElapsedTimer s;
        s.start();
        m_app.Start();
        m_t.start = s.elapsed();
    }
    void SetEnableEvents(bool e) override { m_app.SetEnableEvents(e); }
    void SetVisible(bool v) override { m_app.SetVisible(v); }
    void OpenWorkbook(const QString& p) override { m_app.OpenWorkbook(p); }
    void SelectWorksheet(int i) override { m_app.SelectWorksheet(i); }
    SheetCell Range(const QString& n) override { return m_app.Range(n); }
    SheetCell Cells(int r, int c) override { return m_app.Cells(r, c); }
    void SetValue(SheetCell c, const QString& t) override { m_app.SetValue(c, t); }
    void SetText(SheetCell c, const QString& t) override { m_app.SetText(c, t); }
    void CopyEntireRow(SheetCell a, SheetCell b) override { m_app.CopyEntireRow(a, b); }
    void InsertEntireRow(SheetCell a, SheetCell b) override { m_app.InsertEntireRow(a, b); }
    void Save() override
    {
        m_app.Save();
        m_t.saved = m_clock.elapsed();
    }
    void CloseWorkbookWithoutSaving() override { m_app.CloseWorkbookWithoutSaving(); }
    void Quit() override { m_app.Quit(); }
    void WorkbookMoved(const QString& path) override { m_app.WorkbookMoved(path); }
    void Release() override { m_app.Release(); }

private:
    OfficeHelperApp m_app;
    Timings& m_t;
    const QElapsedTimer& m_clock;
};

// How long the operator takes over the fields dialog in a warm run: longer
// than the office's start-up, as typing a modification and two names does.
constexpr int kTypingMs = 6000;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qt(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString templ = QStringLiteral("Протокол поверки.xls");
    if (!QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + templ, dir.filePath(templ))) {
        std::fprintf(stderr, "no template beside the executable\n");
        return 1;
    }
    QFile settings(dir.filePath(QStringLiteral("Settings.ini")));
    settings.open(QIODevice::WriteOnly);
    settings.write("[CONFIG]\r\nCOM=\r\nREPNO=1\r\n");
    settings.close();

    ScopedScriptedMessages boxes;
    ScannerApplication app(dir.path(), false);
    const VerificationRun run = SampleRun(6);
    WriteSessionFile(dir.filePath(QStringLiteral("Poverka.ini")), run);
    InstalledMeters().Count = 6;
    InstalledMeters().DiameterIndex = run.DiameterIndex;
    CurrentRun().SessionFileName = QStringLiteral("Poverka.ini");
    CurrentRun().VerificationMode = true;
    Timings t;
    QElapsedTimer clock;
    qint64 shownAt = -1;
    SetWorkbookViewer([&](const QString&) {
        shownAt = clock.elapsed();
        return true;
    });
    SetSpreadsheetAppFactory([&] { return std::make_unique<TimedApp>(t, clock); });

    std::printf("| Run | office | OK to saved, ms | OK to shown, ms | of which office start-up, ms | OK to office gone, ms | "
                "longest UI pause, ms |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    struct Figures {
        std::vector<double> saved, shown, startup, total, pauses;
    } cold, warm;
    for (int i = 1; i <= 2 * runs; ++i) {
        // Cold and warm runs alternate: the office started at OK, or started
        // in the background when the fields dialog opened.
        const bool warmRun = i % 2 == 0;
        Figures& f = warmRun ? warm : cold;
        TForm6& form6 = app.Form6();
        form6.open();
        if (warmRun) {
            OfficeHelperApp::WarmUp();
            // The operator fills the fields meanwhile.
            QEventLoop typing;
            QTimer::singleShot(kTypingMs, &typing, &QEventLoop::quit);
            typing.exec();
        }
        form6.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(1);
        for (const char* name : {"Edit3", "Edit4"})
            form6.findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QStringLiteral("Иванов И.И."));

        qint64 longest = 0;
        QElapsedTimer sinceTick;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });

        t = Timings{};
        shownAt = -1;
        clock.start();
        sinceTick.start();
        ticker.start(10);
        // OK in the dialog, then what the wizard does on its OK.
        form6.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        if (form6.result() != QDialog::Accepted)
            return 2;
        app.Form3().WriteProtocol();
        const qint64 done = clock.elapsed();
        longest = std::max(longest, sinceTick.elapsed());
        ticker.stop();
        if (t.saved < 0 || shownAt < 0 || boxes.count() != 0) {
            std::fprintf(stderr, "run %d: no protocol: %s\n", i, qPrintable(boxes.texts().join(QLatin1Char('|'))));
            return 3;
        }
        std::printf("| %d | %s | %lld | %lld | %lld | %lld | %lld |\n", (i + 1) / 2, warmRun ? "warm" : "cold", t.saved,
                    shownAt, t.start, done, longest);
        std::fflush(stdout);
        f.saved.push_back(double(t.saved));
        f.shown.push_back(double(shownAt));
        f.startup.push_back(double(t.start));
        f.total.push_back(double(done));
        f.pauses.push_back(double(longest));
    }
    for (const auto& [name, f] : {std::pair<const char*, const Figures&>{"cold", cold}, {"warm", warm}})
        std::printf("| median | %s | %.0f | %.0f | %.0f | %.0f | %.0f |\n", name, Median(f.saved), Median(f.shown),
                    Median(f.startup), Median(f.total), Median(f.pauses));
    std::vector<double> pauses = cold.pauses;
    pauses.insert(pauses.end(), warm.pauses.begin(), warm.pauses.end());
    std::printf("longest UI pause over all runs: %.0f ms\n", *std::max_element(pauses.begin(), pauses.end()));
    SetSpreadsheetAppFactory({});
    SetWorkbookViewer({});
    return 0;
}
