// The protocol's preparation and filling without an office: the dated path,
// directories and template copy on a real disk, and the workbook steps
// against a recording spreadsheet that moves its rows and cell objects the
// way the real application does.

#include "app_paths.h"
#include "errors.h"
#include "fake_spreadsheet.h"
#include "ini_file.h"
#include "installed_meters.h"
#include "protocol_fixtures.h"
#include "protocol_workbook.h"
#include "qt_printers.h"
#include "run_state.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"
#include "test_helpers.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QMap>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {


bool Russian()
{
    return QLocale::system().language() == QLocale::Russian;
}

class ProtocolWorkbookTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        AppPaths::setDirectory(dir.path());
        SetSpreadsheetAppFactory([this] { return std::make_unique<FakeSpreadsheet>(sheet); });
        boxes.onShow([this](const ShownMessage& m) { sheet.log << QStringLiteral("Box ") + m.text; });
        Reset();
    }
    // A fresh template sheet and data.
    void Reset()
    {
        sheet = FakeSheet{};
        boxes.clear();
        // What the template holds in and below the meter row.
        for (int column : {6, 10, 14, 15})
            sheet.cells[17][column] = QStringLiteral("=formula%1").arg(column);
        sheet.cells[19][1] = QStringLiteral("note");
        sheet.cells[21][8] = QStringLiteral("Испытал");
        sheet.cells[24][8] = QStringLiteral("Поверил");
        data.RepNo = 7;
        data.DiameterIndex = 4;
        data.Serials = {1201, 1202, 1203, 1204, 1205, 1206};
        data.SessionFile = dir.filePath(QStringLiteral("Poverka.ini"));
        data.Fields = {QStringLiteral("Р-485"), QStringLiteral("20"), QStringLiteral("1,0132bar"),
                       QStringLiteral("Иванов И.И."), QStringLiteral("Петров П.П.")};
        // A prepared protocol: the template's copy.
        QFile t(target);
        ASSERT_TRUE(t.open(QIODevice::WriteOnly | QIODevice::Truncate));
        t.write("template bytes");
    }
    void TearDown() override { SetSpreadsheetAppFactory({}); }

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("p.xls"));
    ScopedScriptedMessages boxes;
    FakeSheet sheet;
    ProtocolData data;
};

TEST_F(ProtocolWorkbookTest, HeaderCellsAreWrittenInOrderWithTheirFormats)
{
    WriteSessionFile(data.SessionFile, SampleRun(1));
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy  hh:mm"));
    ASSERT_TRUE(WriteProtocolWorkbook(target, 1, data));
    const QStringList expected{
        QStringLiteral("Start"), QStringLiteral("EnableEvents 1"), QStringLiteral("Visible 1"),
        QStringLiteral("Open ") + sheet.opened, QStringLiteral("Sheet 1"),
        QStringLiteral("Set A1 ПРОТОКОЛ №   7"), QStringLiteral("Text F8 Р-485"), QStringLiteral("Set G8 Ду-50"),
        QStringLiteral("Set M12 20"), QStringLiteral("Text J9 Атмосферное давление: 1,0132bar"),
        QStringLiteral("Set C15 ") + Localised("35.000"), QStringLiteral("Set G15 ") + Localised("0.700"),
        QStringLiteral("Set K15 ") + Localised("0.300")};
    ASSERT_GE(sheet.log.size(), expected.size() + 3);
    EXPECT_EQ(sheet.log.mid(0, expected.size()), expected);
    const QString c24 = sheet.log[expected.size()];
    EXPECT_TRUE(c24 == QStringLiteral("Set C24 ") + now ||
                c24 == QStringLiteral("Set C24 ") +
                           QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy  hh:mm")))
        << c24.toStdString();
    // "%18s": right-aligned in 18 characters.
    EXPECT_EQ(sheet.log[expected.size() + 1], QStringLiteral("Text L21 /        Иванов И.И. /"));
    EXPECT_EQ(sheet.log[expected.size() + 2], QStringLiteral("Text L24 /        Петров П.П. /"));
    EXPECT_EQ(sheet.log.mid(sheet.log.size() - 4),
              (QStringList{QStringLiteral("Visible 1"), QStringLiteral("Save"), QStringLiteral("Moved ") + target,
                           QStringLiteral("Release")}));
    EXPECT_EQ(boxes.count(), 0u);
    // The office worked on a copy of the protocol in a hidden directory
    // beside it, which then took the protocol's place: what was saved is
    // the protocol now, and the directory is gone.
    const QFileInfo work(sheet.opened);
    const QFileInfo workDir(work.absolutePath());
    EXPECT_EQ(work.fileName(), QStringLiteral("p.xls"));
    EXPECT_EQ(workDir.absolutePath(), QFileInfo(target).absolutePath());
    EXPECT_TRUE(workDir.fileName().startsWith(QStringLiteral(".p."))) << workDir.fileName().toStdString();
    EXPECT_FALSE(workDir.exists());
    EXPECT_EQ(sheet.openedBytes, QByteArray("template bytes"));
    QFile saved(target);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(saved.readAll().startsWith("saved workbook\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter(QStringLiteral("p.")),
              QStringList{QStringLiteral("p.xls")});
}

TEST_F(ProtocolWorkbookTest, NumbersAndNamesFollowTheirFormats)
{
    struct Case {
        int repNo;
        int diameter;
        QString name;
        QString a1, g8, l21;
    } cases[] = {
        {1, 0, QStringLiteral("Ян"), QStringLiteral("ПРОТОКОЛ №   1"), QStringLiteral("Ду-15"),
         QStringLiteral("/                 Ян /")},
        {123, 9, QStringLiteral("Константинопольский К.К."), QStringLiteral("ПРОТОКОЛ № 123"), QStringLiteral("Ду-300"),
         QStringLiteral("/ Константинопольский К.К. /")},  // longer than 18: written whole
        {1234, 2, QString(), QStringLiteral("ПРОТОКОЛ № 1234"), QStringLiteral("Ду-32"),
         QStringLiteral("/                    /")},
    };
    WriteSessionFile(data.SessionFile, SampleRun(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a1.toStdString());
        sheet.log.clear();
        data.RepNo = c.repNo;
        data.DiameterIndex = c.diameter;
        data.Fields.TestedBy = c.name;
        ASSERT_TRUE(WriteProtocolWorkbook(target, 1, data));
        EXPECT_EQ(sheet.Text(1, 1), c.a1);
        EXPECT_EQ(sheet.Text(8, 7), c.g8);
        EXPECT_EQ(sheet.Text(21, 12), c.l21);
    }
}

TEST_F(ProtocolWorkbookTest, MeterRowsFillInOrderAndTheRestMovesDown)
{
    for (int np : {1, 3, 6}) {
        SCOPED_TRACE("NP " + std::to_string(np));
        Reset();
        const VerificationRun run = SampleRun(np);
        QFile::remove(data.SessionFile);
        WriteSessionFile(data.SessionFile, run);
        ASSERT_TRUE(WriteProtocolWorkbook(target, np, data));

        for (int n = 1; n <= np; ++n) {
            SCOPED_TRACE("meter " + std::to_string(n));
            const int row = 16 + n;
            const ExpectedRow e = ExpectedMeterRow(run, n);
            EXPECT_EQ(sheet.Text(row, 1), QString::number(n));
            EXPECT_EQ(sheet.Text(row, 2), QString::number(1200 + n));
            for (int k = 1; k <= 3; ++k) {
                EXPECT_EQ(sheet.Text(row, 4 * k - 1), FormatText("%1.3f", {e.Reference[k - 1]}));
                EXPECT_EQ(sheet.Text(row, 4 * k), FormatText("%1.3f", {e.Pulses[k - 1]}));
                EXPECT_EQ(sheet.Text(row, 4 * k + 1), FormatText("%1.3f", {e.Meter[k - 1]}));
            }
            // The template's own cells of the row travel with every copy.
            EXPECT_EQ(sheet.Text(row, 6), QStringLiteral("=formula6"));
            EXPECT_EQ(sheet.Text(row, 15), QStringLiteral("=formula15"));
        }
        EXPECT_TRUE(sheet.Text(17 + np, 1).isEmpty());
        EXPECT_EQ(sheet.Text(19 + np - 1, 1), QStringLiteral("note"));
        EXPECT_EQ(sheet.Text(21 + np - 1, 8), QStringLiteral("Испытал"));
        EXPECT_EQ(sheet.Text(24 + np - 1, 8), QStringLiteral("Поверил"));
        // The header cells below row 17 were written before any copy.
        EXPECT_EQ(sheet.Text(21 + np - 1, 12), QStringLiteral("/        Иванов И.И. /"));
        EXPECT_EQ(sheet.Text(24 + np - 1, 3).size(), 17);
        EXPECT_EQ(sheet.log.filter(QStringLiteral("Copy")).size(), np - 1);
        QStringList inserts;
        for (int n = 1; n < np; ++n)
            inserts << QStringLiteral("Insert %1").arg(16 + n);
        EXPECT_EQ(sheet.log.filter(QStringLiteral("Insert")), inserts);
    }
}

TEST_F(ProtocolWorkbookTest, TheWorkedExampleGivesTheDocumentedTexts)
{
    // Ду 50, 5800 reference pulses of 0.1 l in 60 s, 3850 meter pulses:
    // 580 l against 3850 x 0.15 = 577.5 l. At 0.3 m3/h a quarter weight.
    WriteSessionFile(data.SessionFile, SampleRun(1));
    ASSERT_TRUE(WriteProtocolWorkbook(target, 1, data));
    EXPECT_EQ(sheet.Text(17, 3), Localised("580.000"));
    EXPECT_EQ(sheet.Text(17, 4), Localised("3850.000"));
    EXPECT_EQ(sheet.Text(17, 5), Localised("577.500"));
    EXPECT_EQ(sheet.Text(17, 11), Localised("50.000"));
    EXPECT_EQ(sheet.Text(17, 12), Localised("1331.000"));
    EXPECT_EQ(sheet.Text(17, 13), Localised("49.913"));  // 1331 x 0.0375 = 49.9125
}

TEST_F(ProtocolWorkbookTest, MissingSerialNumbersComeFromMemory)
{
    VerificationRun run = SampleRun(3);
    WriteSessionFile(data.SessionFile, run);
    IniFile(data.SessionFile).deleteKey(QStringLiteral("SNDEVTAB"), QStringLiteral("DEV2"));
    data.Serials[1] = 777;
    ASSERT_TRUE(WriteProtocolWorkbook(target, 3, data));
    EXPECT_EQ(sheet.Text(17, 2), QStringLiteral("1201"));
    EXPECT_EQ(sheet.Text(18, 2), QStringLiteral("777"));
    EXPECT_EQ(sheet.Text(19, 2), QStringLiteral("1203"));
}

TEST_F(ProtocolWorkbookTest, FailuresShowTheirMessagesThenCloseUnsavedAndQuit)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
        QStringList tail;  // the log from the box on
    } cases[] = {
        {"TIMER missing",
         [this] { IniFile(data.SessionFile).deleteKey(QStringLiteral("STEP2"), QStringLiteral("TIMER")); },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"TIMER zero",
         [this] {
             IniFile(data.SessionFile).writeString(QStringLiteral("STEP3"), QStringLiteral("TIMER"), QStringLiteral("0"));
         },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"TIMER not a number",
         [this] {
             IniFile(data.SessionFile).writeString(QStringLiteral("STEP1"), QStringLiteral("TIMER"), QStringLiteral("1 min"));
         },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"workbook does not open", [this] { sheet.failOn = QStringLiteral("Open"); },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Quit")}},
        {"a cell refused", [this] { sheet.failOn = QStringLiteral("Text J9"); },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"save refused", [this] { sheet.failOn = QStringLiteral("Save"); },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Box Unable to write to ") + target + QLatin1Char('.'),
          QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"diameter outside the table", [this] { data.DiameterIndex = 10; },
         {QStringLiteral("Box Ошибка вывода данных"), QStringLiteral("Close"), QStringLiteral("Quit")}},
        {"no spreadsheet application", [this] { sheet.unavailable = true; },
         {QStringLiteral("Box Ошибка вывода данных"),
          QStringLiteral("Box Протокол не заполнен: на компьютере нет табличного приложения (LibreOffice Calc)."),
          QStringLiteral("Quit")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        QFile::remove(data.SessionFile);
        WriteSessionFile(data.SessionFile, SampleRun(2));
        c.arrange();
        EXPECT_FALSE(WriteProtocolWorkbook(target, 2, data));
        const int box = int(sheet.log.indexOf(QStringLiteral("Box Ошибка вывода данных")));
        ASSERT_GE(box, 0) << sheet.log.join(" | ").toStdString();
        EXPECT_EQ(sheet.log.mid(box), c.tail);
        EXPECT_FALSE(sheet.log.contains(QStringLiteral("Release")));
        EXPECT_EQ(boxes.shown()[0].kind, MsgKind::Error);
        EXPECT_EQ(boxes.shown()[0].buttons, mbOK);
        // The prepared protocol stays as it was, and no working copy is left.
        QFile kept(target);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("template bytes"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).filter(QStringLiteral("p.")),
                  QStringList{QStringLiteral("p.xls")});
    }
}

TEST_F(ProtocolWorkbookTest, WaitCursorWhileWritingAndNoSecondProtocolMeanwhile)
{
    WriteSessionFile(data.SessionFile, SampleRun(1));
    bool cursorWhileWriting = false;
    bool busyWhileWriting = false;
    bool nestedRefused = false;
    sheet.onCall = [&](const QString& entry) {
        if (entry == QLatin1String("Save")) {
            cursorWhileWriting = QGuiApplication::overrideCursor() &&
                                 QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor;
            busyWhileWriting = ProtocolBeingWritten();
            const qsizetype before = sheet.log.size();
            nestedRefused = !WriteProtocolWorkbook(QStringLiteral("/x/q.xls"), 1, data) && sheet.log.size() == before;
            // The wizard's last step pressed again meanwhile is told so.
            InstalledMeterList meters;
            RunState run(meters);
            nestedRefused = nestedRefused && !WriteVerificationProtocol(ProgramSettings{}, ProtocolFields{}, run) &&
                            sheet.log.mid(before) ==
                                QStringList{QStringLiteral("Box Протокол поверки ещё заполняется. Дождитесь, пока он откроется.")};
        }
    };
    EXPECT_TRUE(WriteProtocolWorkbook(target, 1, data));
    EXPECT_TRUE(cursorWhileWriting);
    EXPECT_TRUE(busyWhileWriting);
    EXPECT_TRUE(nestedRefused);
    EXPECT_FALSE(ProtocolBeingWritten());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The error box is shown with the normal cursor.
    sheet.onCall = {};
    sheet.failOn = QStringLiteral("Save");
    bool waitCursorAtBox = true;
    boxes.onShow([&](const ShownMessage&) { waitCursorAtBox = QGuiApplication::overrideCursor() != nullptr; });
    EXPECT_FALSE(WriteProtocolWorkbook(target, 1, data));
    EXPECT_FALSE(waitCursorAtBox);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(ProtocolPathTest, MonthsAreCapitalisedStandAloneNames)
{
    const QStringList russian{"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                              "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
    const QStringList english{"January", "February", "March",     "April",   "May",      "June",
                              "July",    "August",   "September", "October", "November", "December"};
    for (int m = 1; m <= 12; ++m)
        EXPECT_EQ(ProtocolMonthName(m), Russian() ? russian[m - 1] : english[m - 1]);
}

TEST(ProtocolPathTest, TheDatedPathOfTheExample)
{
    const QDateTime when(QDate(2026, 12, 6), QTime(19, 31, 59));
    const QString month = Russian() ? QStringLiteral("Декабрь") : QStringLiteral("December");
    EXPECT_EQ(ProtocolFilePath(QStringLiteral("/opt/zrm"), when, 12),
              QStringLiteral("/opt/zrm/Protocols/2026 г./") + month + QStringLiteral("/06/19_31 Протокол № 00012.xls"));
    EXPECT_TRUE(ProtocolFilePath(QStringLiteral("/e"), QDateTime(QDate(2027, 1, 9), QTime(7, 5)), 7)
                    .endsWith(QStringLiteral("/09/07_05 Протокол № 00007.xls")));
    EXPECT_TRUE(ProtocolFilePath(QStringLiteral("/e"), when, 123456).endsWith(QStringLiteral("Протокол № 123456.xls")));
}

class PrepareProtocolTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        AppPaths::setDirectory(dir.path());
        QFile t(dir.filePath(QString::fromUtf8(kProtocolTemplate)));
        ASSERT_TRUE(t.open(QIODevice::WriteOnly));
        t.write("template bytes");
    }
    static QByteArray Read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    QTemporaryDir dir;
    ScopedScriptedMessages boxes;
    const QDateTime when{QDate(2026, 12, 6), QTime(19, 31)};
};

TEST_F(PrepareProtocolTest, CreatesTheDirectoriesAndCopiesTheTemplate)
{
    const QString path = PrepareProtocolFile(when, 12);
    EXPECT_EQ(path, ProtocolFilePath(dir.path(), when, 12));
    EXPECT_EQ(Read(path), QByteArray("template bytes"));
    EXPECT_EQ(boxes.count(), 0u);
    // A second protocol of the same day goes into the same directories.
    const QString next = PrepareProtocolFile(when.addSecs(60), 13);
    EXPECT_EQ(QFileInfo(next).path(), QFileInfo(path).path());
    EXPECT_EQ(Read(next), QByteArray("template bytes"));
}

TEST_F(PrepareProtocolTest, AnExistingFileIsReplacedOnlyOnYes)
{
    const QString path = PrepareProtocolFile(when, 12);
    for (ModalResult answer : {ModalResult::No, ModalResult::Yes}) {
        Write(path, "an earlier protocol");
        boxes.clear();
        boxes.answer(answer);
        EXPECT_EQ(PrepareProtocolFile(when, 12), path);
        EXPECT_EQ(boxes.shown(),
                  (std::vector<ShownMessage>{{MsgKind::Warning,
                                              QStringLiteral("Файл ") + path + QStringLiteral("уже существует, заменить его?"),
                                              mbYes | mbNo}}));
        EXPECT_EQ(Read(path), answer == ModalResult::Yes ? QByteArray("template bytes") : QByteArray("an earlier protocol"));
    }
}

TEST_F(PrepareProtocolTest, AMissingTemplateIsNamedAndNothingIsLeft)
{
    const QString templ = dir.filePath(QString::fromUtf8(kProtocolTemplate));
    QFile::remove(templ);
    const QString path = ProtocolFilePath(dir.path(), when, 12);
    const QString named = QStringLiteral("Шаблон протокола не найден или не читается: ") + templ;
    try {
        PrepareProtocolFile(when, 12);
        ADD_FAILURE() << "a protocol without its template was reported as prepared";
    } catch (const ETemplateUnreadable& e) {
        EXPECT_EQ(e.text(), named);
    }
    EXPECT_TRUE(QFileInfo(QFileInfo(path).path()).isDir());
    EXPECT_TRUE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(boxes.count(), 0u);

    // At the end of a verification the user is told which file is missing,
    // and no office starts.
    FakeSheet sheet;
    SetSpreadsheetAppFactory([&sheet] { return std::make_unique<FakeSpreadsheet>(sheet); });
    InstalledMeterList meters;
    RunState run(meters);
    EXPECT_FALSE(WriteVerificationProtocol(ProgramSettings{12, {}, {}}, ProtocolFields{}, run));
    SetSpreadsheetAppFactory({});
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK},
                                                         {MsgKind::Error, named, mbOK}}));
    EXPECT_TRUE(sheet.log.isEmpty()) << sheet.log.join(" | ").toStdString();
}

TEST_F(PrepareProtocolTest, TheVerificationEndUsesTheRunAndTheReportNumber)
{
    FakeSheet sheet;
    SetSpreadsheetAppFactory([&sheet] { return std::make_unique<FakeSpreadsheet>(sheet); });
    InstalledMeterList meters;
    meters.Count = 2;
    meters.DiameterIndex = 9;
    meters.Serials = {11, 22};
    RunState run(meters);
    run.SessionFileName = QStringLiteral("Poverka.ini");
    VerificationRun v = SampleRun(2);
    v.DiameterIndex = 9;
    WriteSessionFile(dir.filePath(QStringLiteral("Poverka.ini")), v);
    const ProgramSettings settings{8, QStringLiteral("a"), QStringLiteral("b")};
    const ProtocolFields fields{QStringLiteral("ДР-485"), QStringLiteral("19"), QStringLiteral("1bar"),
                                QStringLiteral("x"), QStringLiteral("y")};

    const QDateTime before = QDateTime::currentDateTime();
    EXPECT_TRUE(WriteVerificationProtocol(settings, fields, run));
    const QString moved = sheet.log.filter(QStringLiteral("Moved ")).value(0).mid(6);
    EXPECT_TRUE(moved == ProtocolFilePath(dir.path(), before, 8) ||
                moved == ProtocolFilePath(dir.path(), QDateTime::currentDateTime(), 8))
        << moved.toStdString();
    // The office filled a copy of the template made beside the protocol.
    EXPECT_EQ(QFileInfo(QFileInfo(sheet.opened).absolutePath()).absolutePath(), QFileInfo(moved).absolutePath());
    EXPECT_EQ(sheet.openedBytes, QByteArray("template bytes"));
    EXPECT_TRUE(Read(moved).startsWith("saved workbook\n"));
    EXPECT_EQ(sheet.Text(1, 1), QStringLiteral("ПРОТОКОЛ №   8"));
    EXPECT_EQ(sheet.Text(8, 6), QStringLiteral("ДР-485"));
    EXPECT_EQ(sheet.Text(8, 7), QStringLiteral("Ду-300"));
    EXPECT_EQ(sheet.Text(12, 13), QStringLiteral("19"));
    EXPECT_EQ(sheet.Text(15, 3), Localised("125.000"));  // Ду 300's own FL4
    EXPECT_EQ(sheet.Text(17, 2), QStringLiteral("1201"));  // from the file, not memory
    EXPECT_EQ(sheet.Text(18, 1), QStringLiteral("2"));
    SetSpreadsheetAppFactory({});
}

}  // namespace
