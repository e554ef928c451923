// A bench engineer's session through the program's real windows, on a line
// served by the virtual meter bench outside this process: the link test,
// "Считать параметры", a configuration write, a two-meter calibration with its
// final write, and a verification with its protocol. Built for both systems;
// scripts/ci-windows.sh runs the Windows build under wine (the bench's pty as
// a COM port, the spreadsheet the project's OLE test double) and the Linux
// build on the same kind of bench (the spreadsheet LibreOffice through the
// office helper), and compares the files both leave and the protocol's
// cells. On Windows the protocol's failures follow, through the same
// windows: a workbook that does not open, a save that fails, no spreadsheet.
//
// Environment, as this program opens the paths:
//   ZRM_SCENARIO_DIR     the program's folder (Settings.ini is written there);
//                        compared/ receives the files to compare, and on
//                        Windows protocol.cells the double's saved cells
//   ZRM_SCENARIO_PORT    the port name Settings.ini gives
//   ZRM_BENCH_CONTROL    the bench's command FIFO
//   ZRM_BENCH_OUTPUT     the file the bench's standard output goes to
//   ZRM_SCENARIO_SHOTS   optional: pictures of the main window and the wizard
//   ZRM_OLE_DOUBLE_DIR   Windows: the OLE double's folder (its log, its
//                        saved cells, the call it is to fail)
// The bench carries meters 1201 and 1202, Ду 50 (index 4).

#include "app_font.h"
#include "app_paths.h"
#include "combo_pick.h"
#include "config_editor.h"
#include "flow_setting_dialog.h"
#include "frames.h"
#include "installed_meters_dialog.h"
#include "journal.h"
#include "journal_kinds.h"
#include "journal_store.h"
#include "journal_window.h"
#include "protocol_fields_dialog.h"
#include "main_window.h"
#include "modal_answer.h"
#include "number_text.h"
#include "scanner_app.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"
#include "window_shots.h"
#include "wizard_window.h"
#ifdef Q_OS_WIN
#include "ole_spreadsheet_app.h"
#endif

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <memory>
#include <vector>

namespace {

constexpr SerialNumber kMeters[2] = {1201, 1202};
constexpr int kDu50 = 4;

// The bench's entries of each calibration stage at the Ду 50 set-points
// (35, 1.5, 0.7, 0.3, 0.15 m3/h): seconds, reference pulses of 0.1 l, and
// each meter's pulses for errors of +0.8 % and -0.5 %.
struct StageInput {
    int seconds;
    int reference;
    int pulses[2];
};
constexpr StageInput kStages[5] = {
    {60, 5833, {3920, 3869}}, {300, 1250, {3360, 3317}}, {600, 1167, {3137, 3096}},
    {600, 500, {1344, 1327}}, {1200, 500, {1344, 1327}},
};
// The verification stages at 35, 0.7 and 0.3 m3/h.
constexpr StageInput kVerificationStages[3] = {
    {60, 5833, {3920, 3869}}, {300, 583, {1567, 1547}}, {600, 500, {1344, 1327}},
};

QString Env(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        qFatal("%s is not set (see the head of bench_scenario.cpp)", name);
    return value;
}

QString Local(const char* number) { return QString::fromLatin1(number).replace(QLatin1Char('.'), DecimalSeparator()); }

std::vector<uint8_t> ConfigBytes(const DeviceConfig& c)
{
    std::vector<uint8_t> b(kDeviceConfigLength);
    EncodeDeviceConfig(c, b.data());
    return b;
}

}  // namespace

class BenchScenario : public QObject {
    Q_OBJECT

private:
    QString m_dir, m_port, m_control, m_output, m_shots;
    QStringList m_shown;  // the workbooks the desktop was asked to show
    ScopedScriptedMessages boxes;
    std::unique_ptr<ScannerApplication> app;

    template <class T> static T* Find(const QObject& parent, const char* name)
    {
        return FindControl<T>(parent, QString::fromLatin1(name));
    }
    template <class T> T* Main(const char* name) { return Find<T>(app->Form1(), name); }
    template <class T> T* Wizard(const char* name) { return Find<T>(app->Form3(), name); }
    static void Click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    static void ClickChild(QWidget* parent, const char* name) { Click(Find<QPushButton>(*parent, name)); }

    // The bench's stored configuration of a meter and the writes it took,
    // asked through its command FIFO and read from its output.
    struct Stored {
        std::vector<uint8_t> bytes;
        int writes = -1;
    };
    Stored BenchConfig(SerialNumber serial)
    {
        QFile output(m_output);
        const qint64 seen = output.open(QIODevice::ReadOnly) ? output.size() : 0;
        output.close();
        QFile control(m_control);
        if (!control.open(QIODevice::WriteOnly | QIODevice::Append))
            qFatal("the bench's control %s cannot be opened", qPrintable(m_control));
        control.write("config " + QByteArray::number(serial) + "\n");
        control.close();
        const QByteArray head = "config " + QByteArray::number(serial) + " writes ";
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired()) {
            if (output.open(QIODevice::ReadOnly)) {
                for (const QByteArray& line : output.readAll().mid(seen).split('\n')) {
                    if (!line.startsWith(head))
                        continue;
                    Stored s;
                    const qsizetype colon = line.indexOf(':');
                    s.writes = line.mid(head.size(), colon - head.size()).toInt();
                    for (const QByteArray& hex : line.mid(colon + 1).simplified().split(' '))
                        s.bytes.push_back(uint8_t(hex.toUInt(nullptr, 16)));
                    return s;
                }
                output.close();
            }
            QTest::qWait(20);
        }
        return {};
    }

    // "ДАЛЕЕ" (the flow dialog answered "Пуск"), the bench's entries, "Расчет".
    void RunStage(int stage, const StageInput& e)
    {
        ModalAnswer flow(&app->Form5(), [](QWidget* d) { ClickChild(d, "BitBtn1"); });
        Click(Wizard<QPushButton>("BitBtn1"));
        QCOMPARE(flow.count(), 1);
        Wizard<QLineEdit>("Edit11")->setText(QString::number(e.seconds));
        Wizard<QLineEdit>("Edit2")->setText(Local("0.1"));
        Wizard<QLineEdit>("Edit3")->setText(QString::number(e.reference));
        for (int i = 0; i < 2; ++i)
            Wizard<QTableWidget>("ParGrid")->item(1, i + 1)->setText(QString::number(e.pulses[i]));
        Click(Wizard<QPushButton>("BitBtn4"));
        QCOMPARE(boxes.texts(), QStringList());
        QCOMPARE(Wizard<QLabel>("Label4")->text().section(QLatin1Char(' '), 0, 0), QString::number(stage));
    }

    // "КАЛИБРОВКА" or "ПОВЕРКА" with the two bench meters, Ду 50.
    void StartRun(const char* button)
    {
        ModalAnswer meters(&app->Form4(), [](QWidget* d) {
            Find<QComboBox>(*d, "ComboBox1")->setCurrentIndex(kDu50);
            Find<QSpinBox>(*d, "SpinEdit1")->setValue(2);
            auto* table = Find<QTableWidget>(*d, "SNTable");
            for (int i = 0; i < 2; ++i)
                table->item(i + 1, 1)->setText(QString::number(kMeters[i]));
            ClickChild(d, "BitBtn1");
        });
        Click(Main<QPushButton>(button));
        QCOMPARE(meters.count(), 1);
        QVERIFY(app->Form3().isVisible());
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Тест SN 1201\t OK\n\rТест SN 1202\t OK")});
        boxes.clear();
    }

    // "ДАЛЕЕ" at the last stage, OK, the protocol fields typed and accepted.
    void FinishVerification()
    {
        ModalAnswer fields(&app->Form6(), [](QWidget* d) {
            Find<QComboBox>(*d, "ComboBox1")->setEditText(QStringLiteral("=2*3"));
            const char* const texts[] = {"20", "0,3", "Петров П.П.", "Сидоров С.С."};
            for (int i = 0; i < 4; ++i)
                Find<QLineEdit>(*d, qPrintable(QStringLiteral("Edit%1").arg(i + 1)))->setText(QString::fromUtf8(texts[i]));
            ClickChild(d, "BitBtn1");
        });
        boxes.answer(ModalResult::Ok);
        Click(Wizard<QPushButton>("BitBtn1"));
        QCOMPARE(fields.count(), 1);
    }

    QStringList Protocols() const
    {
        QStringList found;
        QDirIterator it(QDir(m_dir).filePath(QStringLiteral("Protocols")), {QStringLiteral("*.xls")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        found.sort();
        return found;
    }

#ifdef Q_OS_WIN
    static QString DoubleFile(const char* name)
    {
        return Env("ZRM_OLE_DOUBLE_DIR") + QLatin1Char('/') + QLatin1String(name);
    }
    static QStringList DoubleLog()
    {
        QFile f(DoubleFile("calls.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')) : QStringList();
    }
    static bool WaitLogged(const QString& line)
    {
        QDeadlineTimer deadline(5000);
        while (!DoubleLog().contains(line) && !deadline.hasExpired())
            QTest::qWait(20);
        return DoubleLog().contains(line);
    }
    // The verification's end again, the double failing the call named; the
    // double's log of it.
    QStringList FailedProtocol(const char* call)
    {
        QFile::remove(DoubleFile("calls.log"));
        QFile fail(DoubleFile("fail"));
        if (!fail.open(QIODevice::WriteOnly) || fail.write(QByteArray(call) + "\n") < 0)
            qFatal("the double's fail file cannot be written");
        fail.close();
        boxes.clear();
        FinishVerification();
        fail.remove();
        return DoubleLog();
    }
#endif

    QString GridCell(int col, int row)
    {
        const QTableWidgetItem* item = Wizard<QTableWidget>("ParGrid")->item(row, col);
        return item ? item->text() : QStringLiteral("<no cell>");
    }

private slots:
    void initTestCase()
    {
        m_dir = Env("ZRM_SCENARIO_DIR");
        m_port = Env("ZRM_SCENARIO_PORT");
        m_control = Env("ZRM_BENCH_CONTROL");
        m_output = Env("ZRM_BENCH_OUTPUT");
        m_shots = qEnvironmentVariable("ZRM_SCENARIO_SHOTS");
        QVERIFY(QDir().mkpath(m_dir));
        QFile settings(QDir(m_dir).filePath(QStringLiteral("Settings.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[CONFIG]\r\nCOM=" + m_port.toUtf8() + "\r\n");
        settings.close();

        app = std::make_unique<ScannerApplication>(m_dir, false);
        app->Show();
        QVERIFY(QTest::qWaitForWindowExposed(&app->Form1()));
        QCOMPARE(boxes.texts(), QStringList());
        QVERIFY(app->Form1().ComPort1().Active());
        // Offered when the list drops down (on Windows, as the registry names
        // it) and opened again when picked.
        PickFromList(Main<QComboBox>("ComboBox1"), m_port);
        QCOMPARE(boxes.texts(), QStringList());
        QVERIFY(app->Form1().ComPort1().Active());
    }

    void theLinkTestFindsTheMeter()
    {
        Main<QSpinBox>("SpinEdit1")->setValue(kMeters[0]);
        Click(Main<QPushButton>("Button1"));
        QCOMPARE(boxes.shown(), (std::vector<ShownMessage>{
                                    {MsgKind::Information, QStringLiteral("ЗРМ №1201  на связи!"), mbOK}}));
        boxes.clear();
    }

    void readParametersGetsTheStoredConfiguration()
    {
        Click(Main<QPushButton>("Button2"));
        QCOMPARE(boxes.texts(), QStringList());
        const Stored stored = BenchConfig(kMeters[0]);
        QCOMPARE(stored.writes, 0);
        // Byte 54 of a read reply is its checksum; the rest is the meter's.
        std::vector<uint8_t> read = ConfigBytes(app->Form1().Link().MainConfig);
        read.pop_back();
        QCOMPARE(read, std::vector<uint8_t>(stored.bytes.begin(), stored.bytes.end() - 1));
        QVERIFY(!Main<QPlainTextEdit>("Memo2")->toPlainText().isEmpty());
    }

    void theEditorWritesTheMeterByteForByte()
    {
        DeviceConfig expected = app->Form1().Link().MainConfig;
        expected.K2 = 1.234567f;
        bool ran = false;
        ModalAnswer editor(&app->Form2(), [&](QWidget* d) {
            auto* k2 = Find<QLineEdit>(*d, "EdPar4");
            k2->setFocus();
            k2->selectAll();
            QTest::keyClick(k2, Qt::Key_Delete);
            QTest::keyClicks(k2, Local("1.234567"));
            boxes.answer(ModalResult::Ok);
            ClickChild(d, "BitBtn1");
            ran = true;
        });
        Click(Main<QPushButton>("Button3"));
        QVERIFY(ran);
        QCOMPARE(boxes.texts(), (QStringList{QStringLiteral("Вы уверены что хотите записать параметры?"),
                                             QStringLiteral("Параметры изменены")}));
        boxes.clear();
        const auto frame = BuildWriteConfigFrame(kMeters[0], kMeters[0], expected);
        const Stored stored = BenchConfig(kMeters[0]);
        QCOMPARE(stored.writes, 1);
        QCOMPARE(stored.bytes, std::vector<uint8_t>(frame.begin() + kConfigOffset, frame.end()));
    }

    void aTwoMeterCalibrationWritesBothMeters()
    {
        StartRun("Button7");
        for (int stage = 1; stage <= 5; ++stage)
            RunStage(stage, kStages[stage - 1]);
        QCOMPARE(Wizard<QLabel>("Label4")->text(), QStringLiteral("5 выполнено 5"));
        if (!m_shots.isEmpty()) {
            QVERIFY(QDir().mkpath(m_shots));
            SaveShot(app->Form1(), m_shots + QStringLiteral("/main-window.png"));
            SaveShot(app->Form3(), m_shots + QStringLiteral("/wizard.png"));
        }

        boxes.answer(ModalResult::Ok);
        Click(Wizard<QPushButton>("BitBtn1"));
        QCOMPARE(boxes.texts(), (QStringList{QStringLiteral("Калибровка окончена. Записать полученные данные?"),
                                             QStringLiteral("Параметры изменены"),
                                             QStringLiteral("Параметры изменены"),
                                             QStringLiteral("Запись коеффициентов SN 1201\t OK\n\r"
                                                            "Запись коеффициентов SN 1202\t OK")}));
        boxes.clear();
        // Each meter holds the coefficients the wizard shows (K0..K4).
        for (int i = 0; i < 2; ++i) {
            const Stored stored = BenchConfig(kMeters[i]);
            QCOMPARE(stored.writes, i == 0 ? 2 : 1);
            QCOMPARE(stored.bytes.size(), size_t(kDeviceConfigLength));
            const DeviceConfig config = DecodeDeviceConfig(stored.bytes.data());
            for (int k = 0; k < 5; ++k)
                QCOMPARE(FormatFloat("%1.6f", double(config.Value(2 + k))), GridCell(i + 1, 5 + k));
        }
    }

    // The verification's protocol, "=2*3" typed as the modification: it is
    // written, kept as text, and shown to the user; nothing else is asked.
    void aVerificationWritesItsProtocol()
    {
        app->Form3().close();
        AppPaths::setResourceDirectory(QCoreApplication::applicationDirPath());  // the protocol template
        SetWorkbookViewer([this](const QString& path) {
            m_shown << path;
            return true;
        });
        StartRun("Button8");
        QCOMPARE(app->Form3().windowTitle(), QStringLiteral("Поверка"));
        for (int stage = 1; stage <= 3; ++stage)
            RunStage(stage, kVerificationStages[stage - 1]);
        FinishVerification();
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Поверка окончена. Записать полученные данные?")});
        boxes.clear();
        const QStringList protocols = Protocols();
        QCOMPARE(protocols.size(), 1);
#ifdef Q_OS_WIN
        // Excel shows it itself; the desktop is not asked.
        QCOMPARE(m_shown, QStringList());
        const QStringList log = DoubleLog();
        QVERIFY(log.contains(QStringLiteral("Range.NumberFormat=\"@\"")));
        QVERIFY(log.contains(QStringLiteral("Range.Value=\"=2*3\"")));
        QVERIFY(log.contains(QStringLiteral("Application.Visible=True")));
        QVERIFY(!log.contains(QStringLiteral("Application.Quit()")));
        QFile::remove(QDir(m_dir).filePath(QStringLiteral("protocol.cells")));
        QVERIFY(QFile::copy(DoubleFile("saved.cells"), QDir(m_dir).filePath(QStringLiteral("protocol.cells"))));
#else
        QCOMPARE(m_shown, protocols);
#endif
        // What both systems must have left alike, before the failures below
        // take further report numbers.
        const QDir dir(m_dir);
        QVERIFY(dir.mkpath(QStringLiteral("compared")));
        for (const char* name : {"Settings.ini", "Calibration.ini", "Poverka.ini"}) {
            const QString file = QString::fromLatin1(name);
            QFile::remove(dir.filePath(QStringLiteral("compared/") + file));
            QVERIFY(QFile::copy(dir.filePath(file), dir.filePath(QStringLiteral("compared/") + file)));
        }
    }

#ifdef Q_OS_WIN
    void aWorkbookThatDoesNotOpenEndsInTheErrorBox()
    {
        const QStringList log = FailedProtocol("Workbooks.Open");
        QCOMPARE(boxes.texts(), (QStringList{QStringLiteral("Поверка окончена. Записать полученные данные?"),
                                             QStringLiteral("Ошибка вывода данных")}));
        QCOMPARE(log.filter(QStringLiteral("Workbooks.Open(")).size(), 1);
        QVERIFY(log.contains(QStringLiteral("  failed: Отказ по запросу: Workbooks.Open")));
        QVERIFY(log.contains(QStringLiteral("Application.Quit()")));
        QVERIFY(WaitLogged(QStringLiteral("Application.released visible=0 quit=1 workbooks=0")));
        QCOMPARE(Protocols().size(), 2);  // the template's copy for the next report, left unfilled
    }

    void aFailedSaveEndsInTheErrorBoxes()
    {
        const QStringList log = FailedProtocol("Workbook.Save");
        const QStringList texts = boxes.texts();
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts[1], QStringLiteral("Ошибка вывода данных"));
        QVERIFY2(texts[2].startsWith(QStringLiteral("Unable to write to")), qPrintable(texts[2]));
        const qsizetype close = log.indexOf(QStringLiteral("Workbook.Close(False)"));
        QVERIFY(close > 0);
        QVERIFY(log.indexOf(QStringLiteral("Application.Quit()")) > close);
        QVERIFY(WaitLogged(QStringLiteral("Application.released visible=0 quit=1 workbooks=0")));
    }

    void noSpreadsheetEndsInTheNoSpreadsheetBox()
    {
        SetSpreadsheetAppFactory([] {
            OleSpreadsheetApp::Options options;
            options.progIds = QStringList{QStringLiteral("Zrm.NoSuchApplication")};
            return std::make_unique<OleSpreadsheetApp>(options);
        });
        FailedProtocol("");
        SetSpreadsheetAppFactory({});
        const QStringList texts = boxes.texts();
        QCOMPARE(texts.size(), 3);
        QCOMPARE(texts[1], QStringLiteral("Ошибка вывода данных"));
        QVERIFY2(texts[2].contains(QStringLiteral("нет табличного приложения (Microsoft Excel или LibreOffice)")),
                 qPrintable(texts[2]));
        QVERIFY(QFile::exists(QDir(m_dir).filePath(QStringLiteral("Poverka.ini"))));
    }
#endif

    // Every operation above left its entry, read back from the file as
    // another program would read it.
    void theJournalHoldsTheOperations()
    {
        QVERIFY(Journal::Flush(10000));
        JournalStore store(Journal::Path());
        QVERIFY(store.OpenForReading());
        QMap<QString, int> kinds;
        QMap<QString, int> failed;
        QStringList protocolPaths;
        for (const JournalEntry& e : store.Query(JournalFilter{})) {
            ++kinds[e.kind];
            failed[e.kind] += e.ok ? 0 : 1;
            QCOMPARE(e.variant, QStringLiteral("pro"));
            QCOMPARE(e.port, m_port);
            if (e.kind == JournalKind::CoefWrite) {
                QVERIFY(EntryConfig(e).has_value());
                QVERIFY(e.data.contains(QStringLiteral("after")));
            }
            if (e.kind == JournalKind::Protocol && e.ok)
                protocolPaths << e.data.value(QStringLiteral("path")).toString();
        }
#ifdef Q_OS_WIN
        const int failedProtocols = 6;  // three failures, two meters each
#else
        const int failedProtocols = 0;
#endif
        const QMap<QString, int> expected{
            {JournalKind::LinkTest, 5},   {JournalKind::ConfigRead, 5}, {JournalKind::StateRead, 1},
            {JournalKind::ConfigWrite, 1}, {JournalKind::CoefWrite, 2},  {JournalKind::Stage, 10 + 6},
            {JournalKind::Protocol, 2 + failedProtocols}};
        QCOMPARE(kinds, expected);
        QCOMPARE(failed.value(JournalKind::Protocol), failedProtocols);
        QCOMPARE(protocolPaths.size(), 2);
        QVERIFY2(QFileInfo(protocolPaths[0]).isFile(), qPrintable(protocolPaths[0]));

        if (!m_shots.isEmpty()) {
            // Meter 1201's history through "Журнал", its final coefficient
            // write selected: before and after side by side.
            Main<QSpinBox>("SpinEdit1")->setValue(1201);
            JournalWindow& journal = app->Journal();
            ModalAnswer shot(&journal, [&](QWidget*) {
                const auto& shown = journal.Entries();
                for (std::size_t i = 0; i < shown.size(); ++i) {
                    if (shown[i].kind == JournalKind::CoefWrite) {
                        journal.SelectEntry(int(i));
                        break;
                    }
                }
                SaveShot(journal, m_shots + QStringLiteral("/journal.png"));
                journal.accept();
            });
            ClickChild(&app->Form1(), "Button10");
            QCOMPARE(shot.count(), 1);
        }
    }

    void cleanupTestCase()
    {
        SetWorkbookViewer({});
        app.reset();  // closes the port; Settings.ini and Calibration.ini stay
    }
};

int main(int argc, char** argv)
{
    QApplication qtApp(argc, argv);
    UseApplicationFont();
    BenchScenario scenario;
    return QTest::qExec(&scenario, argc, argv);
}

#include "bench_scenario.moc"
