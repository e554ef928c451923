// The journal through the real windows over the virtual meter bench: what an
// editor write and a counter reset leave, a configuration written back from
// the journal, and a journal that cannot be written.

#include "bench_app.h"
#include "config_editor.h"
#include "diameter_defaults.h"
#include "journal.h"
#include "journal_kinds.h"
#include "journal_window.h"
#include "main_window.h"
#include "modal_answer.h"
#include "number_text.h"
#include "read_only_folder.h"
#include "scripted_file_dialogs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <memory>

namespace {

constexpr SerialNumber kMeter = 4321;

int JournalBoxes(const ScriptedMessages& boxes)
{
    int n = 0;
    for (const ShownMessage& m : boxes.shown())
        n += m.text.contains(QStringLiteral("урнал"));
    return n;
}

}  // namespace

class JournalWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;
    DeviceConfig stored;

    template <class T> T* Main(const char* name) { return BenchApp::Find<T>(f->app->Form1(), name); }
    void Click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

    void Start()
    {
        stored = DefaultConfigFor(4);
        stored.K1 = 0.9876543f;  // more digits than the editor's fields show
        stored.Tail = {0x12, 0x34, 0x56};
        f->StartBench({BenchMeter(kMeter, 4, 0, stored)});
    }

    void ReadMeter()
    {
        Main<QSpinBox>("SpinEdit1")->setValue(kMeter);
        Click(Main<QPushButton>("Button2"));
    }

    std::vector<JournalEntry> Entries(const QString& kind = QString()) { return f->JournalEntries(kind); }

    // Runs the editor's write with the fields as action leaves them.
    void WriteInEditor(const std::function<void(TForm2&)>& action)
    {
        ModalAnswer answer(&f->app->Form2(), [&](QWidget*) {
            action(f->app->Form2());
            f->boxes.answer(ModalResult::Ok);
            Click(f->app->Form2().findChild<QPushButton*>(QStringLiteral("BitBtn1")));
        });
        Click(Main<QPushButton>("Button3"));
        QCOMPARE(answer.count(), 1);
    }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void anEditorWriteAndAResetLeaveTheirEntriesAndAnEarlierConfigurationGoesBackWhole()
    {
        Start();
        QVERIFY(f->StartProgram(false));
        ReadMeter();
        WriteInEditor([](TForm2& editor) {
            editor.findChild<QLineEdit*>(QStringLiteral("EdPar4"))->setText(ConfigValueText(1.5));
        });
        QCOMPARE(f->bench->Meter(kMeter).config.K2, 1.5f);
        Click(Main<QPushButton>("Button6"));

        const auto writes = Entries(JournalKind::ConfigWrite);
        QCOMPARE(writes.size(), size_t(1));
        const JournalEntry& w = writes[0];
        QCOMPARE(w.serial, int(kMeter));
        QVERIFY(w.ok);
        QCOMPARE(w.message, QStringLiteral("Параметры изменены"));
        QCOMPARE(w.variant, QStringLiteral("pro"));
        QCOMPARE(w.port, f->LinkPath());
        QCOMPARE(w.data.value(QStringLiteral("accepted")).toBool(), true);
        QCOMPARE(StoredBytes(*ConfigFromJson(w.data.value(QStringLiteral("before")).toObject())), StoredBytes(stored));
        QCOMPARE(ConfigFromJson(w.data.value(QStringLiteral("after")).toObject())->K2, 1.5f);
        QCOMPARE(Entries(JournalKind::CounterReset).size(), size_t(1));
        QCOMPARE(Entries(JournalKind::StateRead).size(), size_t(1));
        QCOMPARE(Entries(JournalKind::ConfigRead).size(), size_t(1));

        // The journal window: the meter's history, the write selected, its
        // configuration before written back through the editor unchanged.
        JournalWindow& window = f->app->Journal();
        int restored = 0;
        ModalAnswer editor(&f->app->Form2(), [&](QWidget*) {
            ++restored;
            f->boxes.answer(ModalResult::Ok);
            Click(f->app->Form2().findChild<QPushButton*>(QStringLiteral("BitBtn1")));
        });
        ModalAnswer journal(&window, [&](QWidget*) {
            [&] {
                const auto& shown = window.Entries();
                QCOMPARE(shown.size(), size_t(4));  // state, configuration, write, reset
                QCOMPARE(shown.front().kind, JournalKind::CounterReset);  // newest first
                QCOMPARE(shown[1].kind, JournalKind::ConfigWrite);

                // "Экспорт": columns for a spreadsheet in the user's numbers.
                ScopedScriptedFileDialogs files;
                const QString csv = f->Path(QStringLiteral("journal.csv"));
                files.answer(csv);
                Click(window.findChild<QPushButton*>(QStringLiteral("ExportButton")));
                QCOMPARE(files.count(), size_t(1));
                const QByteArray bytes = f->ReadFile(QStringLiteral("journal.csv"));
                QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
                const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
                QCOMPARE(lines.size(), 1 + 4 + 1);  // the header, the entries, the end of the last line
                const QStringList header = lines[0].split(QLatin1Char(';'));
                const QStringList row = lines[2].split(QLatin1Char(';'));
                const auto k2 = header.indexOf(QStringLiteral("K2"));
                QVERIFY(k2 > 0 && row.size() > k2);
                QCOMPARE(row[header.indexOf(QStringLiteral("Заводской №"))], QString::number(kMeter));
                QCOMPARE(row[k2], Localised("1.5"));

                window.SelectEntry(1);
                QPushButton* write = window.findChild<QPushButton*>(QStringLiteral("WriteButton"));
                QVERIFY(write->isVisible() && write->isEnabled());
                Click(write);
            }();
            window.accept();  // closed whatever failed, or the test would hang
        });
        f->boxes.clear();
        Click(Main<QPushButton>("Button10"));
        QCOMPARE(journal.count(), 1);
        QCOMPARE(restored, 1);
        QCOMPARE(f->boxes.texts(), (QStringList{QStringLiteral("Вы уверены что хотите записать параметры?"),
                                                QStringLiteral("Параметры изменены")}));
        QCOMPARE(StoredBytes(f->bench->Meter(kMeter).config), StoredBytes(stored));
        const auto after = Entries(JournalKind::ConfigWrite);
        QCOMPARE(after.size(), size_t(2));
        QCOMPARE(after.front().data.value(QStringLiteral("origin")).toString(), QStringLiteral("journal"));
    }

    // The windows and zrm-cli (a real process on a line of its own, copied
    // into the program's folder so it keeps the same journal) write at once.
    void theWindowsAndZrmCliWritingAtOnceLoseNothing()
    {
        constexpr SerialNumber kCliMeter = 777;
        constexpr int kCliReads = 20;
        Start();
        QVERIFY(f->StartProgram(false));
        metersim::MeterBench cliLine(f->Path(QStringLiteral("ttyCli")).toStdString());
        cliLine.AddMeter(BenchMeter(kCliMeter, 2));
        cliLine.Start();
        QVERIFY(QFile::copy(QStringLiteral(ZRM_CLI), f->Path(QStringLiteral("zrm-cli"))));

        QProcess cli;
        cli.setProgram(QStringLiteral("/bin/sh"));
        cli.setArguments({QStringLiteral("-c"),
                          QStringLiteral("for i in $(seq %1); do \"$0\" --port \"$1\" read %2 >/dev/null || exit 1; done")
                              .arg(kCliReads)
                              .arg(kCliMeter),
                          f->Path(QStringLiteral("zrm-cli")), f->Path(QStringLiteral("ttyCli"))});
        cli.start();
        QVERIFY(cli.waitForStarted());
        // The windows read their meter for as long as the CLI runs.
        int windowReads = 0;
        QElapsedTimer clock;
        clock.start();
        while (cli.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
            ReadMeter();
            ++windowReads;
        }
        QVERIFY(cli.state() == QProcess::NotRunning || cli.waitForFinished(60000));
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0, cli.readAllStandardError().constData());
        QVERIFY(windowReads >= 2);
        QVERIFY(Journal::Flush(10000));

        int cliEntries = 0;
        int windowEntries = 0;
        for (const JournalEntry& e : Entries(JournalKind::ConfigRead)) {
            if (e.serial == int(kCliMeter) && e.variant == QStringLiteral("cli"))
                ++cliEntries;
            if (e.serial == int(kMeter) && e.variant == QStringLiteral("pro"))
                ++windowEntries;
        }
        QCOMPARE(cliEntries, kCliReads);
        QCOMPARE(windowEntries, windowReads);
        QCOMPARE(Entries(JournalKind::StateRead).size(), size_t(kCliReads + windowReads));
    }

    void aDamagedJournalOrAReadOnlyFolderCostsNoOperationAndShowsOneBox_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("damaged file") << false;
        QTest::newRow("read-only folder") << true;
    }

    void aDamagedJournalOrAReadOnlyFolderCostsNoOperationAndShowsOneBox()
    {
        QFETCH(bool, readOnly);
        Start();
        if (!readOnly)
            QVERIFY(f->WriteFile(QStringLiteral("journal.sqlite"), QByteArray(4096, '\x5a')));
        std::unique_ptr<ReadOnlyFolder> folder;
        if (readOnly) {
            folder = std::make_unique<ReadOnlyFolder>(f->dir.path());
            QVERIFY(folder->Ready());
        }
        QVERIFY(f->StartProgram(true));
        for (int i = 0; i < 3; ++i) {
            ReadMeter();
            QCOMPARE(Main<QPlainTextEdit>("Memo1")->toPlainText().isEmpty(), false);
            QTest::qWait(50);
        }
        QTRY_COMPARE_WITH_TIMEOUT(JournalBoxes(f->boxes), 1, 10000);
        QTest::qWait(300);
        QCOMPARE(JournalBoxes(f->boxes), 1);
        QCOMPARE(int(f->boxes.count()), 1);  // the reads showed none of their own
        if (folder)
            folder->MakeWritable();
        QCOMPARE(Entries().size(), size_t(6));  // every read of this start
        if (!readOnly)
            QCOMPARE(QDir(f->dir.path()).entryList({QStringLiteral("journal-damaged-*.sqlite")}).size(), 1);
    }
};

QTEST_MAIN(JournalWindowTest)
#include "journal_window_test.moc"
