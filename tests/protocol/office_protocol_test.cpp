// The verification protocol end to end with the real office: the helper
// drives LibreOffice Calc headless, the saved workbook is read back through
// the office's own CSV export. Slow (seconds per protocol): the cases are
// few and each checks much.

#include "app_paths.h"
#include "installed_meters.h"
#include "messages.h"
#include "program_settings.h"
#include "protocol_fixtures.h"
#include "protocol_workbook.h"
#include "qt_printers.h"
#include "run_state.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QString kTemplateName = QStringLiteral("Протокол поверки.xls");

QByteArray Hash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

double Number(const ReadCell& c)
{
    bool ok = false;
    const double v = QString(c.Text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    EXPECT_TRUE(ok && !c.IsText) << "not a number: " << c.Text.toStdString();
    return v;
}

QString Cell(const ReadSheet& sheet, const char* name)
{
    return At(sheet, name).Text;
}

class OfficeProtocolTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        AppPaths::setDirectory(dir.path());
        const QString built = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kTemplateName;
        ASSERT_TRUE(QFile::copy(built, dir.filePath(kTemplateName))) << "no template at " << built.toStdString();
        SetSpreadsheetAppFactory({});
        SetWorkbookViewer([this](const QString& path) {
            shown << path;
            return true;
        });
        InstalledMeters() = InstalledMeterList{};
        run.SessionFileName = QStringLiteral("Poverka.ini");
        run.VerificationMode = true;
        run.StageCount = 3;
    }
    void TearDown() override
    {
        SetWorkbookViewer({});
        SetSpreadsheetAppFactory({});
    }

    // The run in memory as the wizard leaves it, and its state file.
    void PrepareRun(const VerificationRun& v)
    {
        InstalledMeters().Count = int(v.Serials.size());
        InstalledMeters().DiameterIndex = v.DiameterIndex;
        for (std::size_t i = 0; i < v.Serials.size(); ++i)
            InstalledMeters().Serials[i] = SerialNumber(v.Serials[i]);
        QFile::remove(dir.filePath(QStringLiteral("Poverka.ini")));
        WriteSessionFile(dir.filePath(QStringLiteral("Poverka.ini")), v);
    }

    static QString Now() { return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy  hh:mm")); }

    QString Write(int repNo, const VerificationRun& v)
    {
        written << Now();
        PrepareRun(v);
        settings.RepNo = repNo;
        const QStringList before = FindWorkbooks(dir.filePath(QStringLiteral("Protocols")));
        const QDateTime start = QDateTime::currentDateTime();
        EXPECT_TRUE(WriteVerificationProtocol(settings, fields, run)) << boxes.texts().join('|').toStdString();
        const QDateTime end = QDateTime::currentDateTime();
        QStringList after = FindWorkbooks(dir.filePath(QStringLiteral("Protocols")));
        for (const QString& p : before)
            after.removeAll(p);
        EXPECT_EQ(after.size(), 1);
        const QString path = after.value(0);
        // Filed under the moment it was made.
        const QString a = ProtocolFilePath(dir.path(), start, repNo);
        const QString b = ProtocolFilePath(dir.path(), end, repNo);
        EXPECT_TRUE(path == a || path == b) << path.toStdString() << " is not " << a.toStdString();
        written << Now();
        return path;
    }

    QTemporaryDir dir;
    ScopedScriptedMessages boxes;
    ProgramSettings settings{1, QStringLiteral("Иванов И.И."), QStringLiteral("Петров П.П.")};
    ProtocolFields fields{QStringLiteral("ДР-485"), QStringLiteral("20"), QStringLiteral("1,0132bar"),
                          QStringLiteral("Иванов И.И."), QStringLiteral("Петров П.П.")};
    RunState run{InstalledMeters()};
    QStringList shown;
    QStringList written;  // the clock around each protocol, as C24 shows it
};

// The header cells and the meter table of a protocol with np meters.
void CheckProtocol(const ReadSheet& sheet, const VerificationRun& v, int repNo, const QStringList& when)
{
    const int np = int(v.Serials.size());
    const int shift = np - 1;
    EXPECT_EQ(Cell(sheet, "A1"), FormatText("ПРОТОКОЛ № %3d", {repNo}));
    EXPECT_EQ(Cell(sheet, "F8"), QStringLiteral("ДР-485"));
    EXPECT_EQ(Cell(sheet, "G8"), QStringLiteral("Ду-50"));
    EXPECT_EQ(Cell(sheet, "J9"), QStringLiteral("Атмосферное давление: 1,0132bar"));
    // "20" typed into the cell is a number, as a user typing it makes it.
    EXPECT_EQ(Number(At(sheet, "M12")), 20.0);
    EXPECT_NEAR(Number(At(sheet, "C15")), 35.0, 1e-9);
    EXPECT_NEAR(Number(At(sheet, "G15")), 0.7, 1e-9);
    EXPECT_NEAR(Number(At(sheet, "K15")), 0.3, 1e-9);
    // Stage headings and the limits stay where the template has them.
    EXPECT_EQ(Cell(sheet, "C14"), QStringLiteral("Qmax/2"));
    EXPECT_EQ(Cell(sheet, "G14"), QStringLiteral("Qt2"));
    EXPECT_EQ(Cell(sheet, "K14"), QStringLiteral("Qt1"));

    for (int n = 1; n <= np; ++n) {
        SCOPED_TRACE("meter " + std::to_string(n));
        const int row = 16 + n;
        const ExpectedRow e = ExpectedMeterRow(v, n);
        EXPECT_EQ(Number(At(sheet, row, 1)), n);
        EXPECT_EQ(Number(At(sheet, row, 2)), v.Serials[std::size_t(n - 1)]);
        bool fit = true;
        for (int k = 1; k <= 3; ++k) {
            EXPECT_NEAR(Number(At(sheet, row, 4 * k - 1)), e.Reference[k - 1], 0.00051);
            EXPECT_NEAR(Number(At(sheet, row, 4 * k)), e.Pulses[k - 1], 0.00051);
            EXPECT_NEAR(Number(At(sheet, row, 4 * k + 1)), e.Meter[k - 1], 0.00051);
            // The error formula of the copied row works on its own row.
            const double error = Number(At(sheet, row, 4 * k + 2));
            EXPECT_NEAR(error, e.Error[k - 1], 0.0051) << "stage " << k;
            fit = fit && std::fabs(std::round(e.Error[k - 1] * 100) / 100) <= (k == 3 ? 2.0 : 1.0);
        }
        EXPECT_EQ(At(sheet, row, 15).Text, fit ? QStringLiteral("годен") : QStringLiteral("не годен"));
    }
    // Nothing below the table but the template's rows, moved down by np - 1.
    EXPECT_TRUE(At(sheet, 17 + np, 1).Text.isEmpty());
    EXPECT_TRUE(At(sheet, 19 + shift, 1).Text.startsWith(QStringLiteral("δ — относительная погрешность")));
    const QString name1 = FormatText("/ %18s /", {QStringLiteral("Иванов И.И.")});
    const QString name2 = FormatText("/ %18s /", {QStringLiteral("Петров П.П.")});
    EXPECT_EQ(At(sheet, 21 + shift, 12).Text, name1);
    EXPECT_EQ(At(sheet, 24 + shift, 12).Text, name2);
    EXPECT_EQ(At(sheet, 21 + shift, 8).Text, QStringLiteral("Испытал"));
    EXPECT_EQ(At(sheet, 24 + shift, 8).Text, QStringLiteral("Поверил"));
    EXPECT_EQ(At(sheet, 24 + shift, 1).Text, QStringLiteral("Дата поверки:"));
    EXPECT_TRUE(when.contains(At(sheet, 24 + shift, 3).Text)) << At(sheet, 24 + shift, 3).Text.toStdString();
    EXPECT_EQ(At(sheet, 25 + shift, 12).Text, QStringLiteral("Ф.И.О."));
    int last = sheet.size();
    while (last > 0 && std::all_of(sheet[last - 1].begin(), sheet[last - 1].end(),
                                   [](const ReadCell& c) { return c.Text.isEmpty(); }))
        --last;
    EXPECT_EQ(last, 25 + shift);
}

TEST_F(OfficeProtocolTest, OneThreeAndSixMetersFillTheirRowsAndAnExistingFileAnsweredNoIsFilledAgain)
{
    const VerificationRun one = SampleRun(1), three = SampleRun(3), six = SampleRun(6);
    const QString p1 = Write(7, one);
    const QString p6 = Write(9, six);
    EXPECT_TRUE(p1.endsWith(QStringLiteral(" Протокол № 00007.xls"))) << p1.toStdString();

    // The three-meter one at a fixed moment, to come back to it below.
    const QDateTime moment(QDate(2026, 12, 6), QTime(19, 31));
    PrepareRun(three);
    const QString p3 = PrepareProtocolFile(moment, 8);
    EXPECT_EQ(p3, ProtocolFilePath(dir.path(), moment, 8));
    ProtocolData data;
    data.RepNo = 8;
    data.DiameterIndex = 4;
    data.SessionFile = dir.filePath(QStringLiteral("Poverka.ini"));
    data.Fields = fields;
    written << Now();
    EXPECT_TRUE(WriteProtocolWorkbook(p3, 3, data));
    written << Now();
    const QStringList when = written;
    EXPECT_EQ(shown, (QStringList{p1, p6, p3}));  // each shown to the user once saved
    EXPECT_EQ(boxes.count(), 0u) << boxes.texts().join('|').toStdString();

    const QList<ReadSheet> sheets = ReadWorkbooks({p1, p3, p6}, dir.filePath(QStringLiteral("office")));
    ASSERT_EQ(sheets.size(), 3);
    {
        SCOPED_TRACE("one meter");
        CheckProtocol(sheets[0], one, 7, when);
        EXPECT_EQ(Cell(sheets[0], "A1"), QStringLiteral("ПРОТОКОЛ №   7"));
    }
    {
        SCOPED_TRACE("three meters");
        CheckProtocol(sheets[1], three, 8, when);
        EXPECT_EQ(At(sheets[1], "L23").Text, FormatText("/ %18s /", {QStringLiteral("Иванов И.И.")}));
        EXPECT_EQ(At(sheets[1], "L26").Text, FormatText("/ %18s /", {QStringLiteral("Петров П.П.")}));
    }
    {
        SCOPED_TRACE("six meters");
        CheckProtocol(sheets[2], six, 9, when);
    }

    // The same target again, answered No: opened as it is and filled again
    // for one other meter; what is not written keeps its earlier content.
    VerificationRun other = SampleRun(1);
    other.Serials = {4321};
    PrepareRun(other);
    const QByteArray before = Hash(p3);
    boxes.answer(ModalResult::No);
    EXPECT_EQ(PrepareProtocolFile(moment, 8), p3);
    EXPECT_EQ(boxes.shown(),
              (std::vector<ShownMessage>{{MsgKind::Warning,
                                          QStringLiteral("Файл ") + p3 + QStringLiteral("уже существует, заменить его?"),
                                          mbYes | mbNo}}));
    EXPECT_EQ(Hash(p3), before);  // not copied over
    // What is typed stays text, however it looks: no formula is computed.
    data.Fields = {QStringLiteral("=2*3"), QStringLiteral("=1+1"), QStringLiteral("=1+1"), QStringLiteral("=1+1"),
                   QStringLiteral("Петров П.П.")};
    EXPECT_TRUE(WriteProtocolWorkbook(p3, 1, data));
    const ReadSheet again = ReadWorkbooks({p3}, dir.filePath(QStringLiteral("office"))).value(0);
    for (const auto& [cell, text] : {std::pair{"F8", "=2*3"}, {"M12", "=1+1"}, {"J9", "Атмосферное давление: =1+1"}}) {
        EXPECT_TRUE(At(again, cell).IsText) << cell;
        EXPECT_EQ(Cell(again, cell), QString::fromUtf8(text)) << cell;
    }
    EXPECT_EQ(Cell(again, "L21"), FormatText("/ %18s /", {QStringLiteral("=1+1")}));
    EXPECT_EQ(Number(At(again, 17, 2)), 4321);
    EXPECT_EQ(Number(At(again, 18, 2)), 1202);
    EXPECT_EQ(Number(At(again, 19, 2)), 1203);
    EXPECT_EQ(At(again, "L23").Text, FormatText("/ %18s /", {QStringLiteral("Иванов И.И.")}));
}

TEST_F(OfficeProtocolTest, AZeroTimerFailsTheOutputAndLeavesTheWorkbookUnsaved)
{
    VerificationRun v = SampleRun(2);
    v.Stages[1].Timer = QStringLiteral("0");
    PrepareRun(v);
    settings.RepNo = 3;
    EXPECT_FALSE(WriteVerificationProtocol(settings, fields, run));
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK}}));
    const QStringList files = FindWorkbooks(dir.filePath(QStringLiteral("Protocols")));
    ASSERT_EQ(files.size(), 1);
    // The copied template stays on disk as it was copied.
    EXPECT_EQ(Hash(files[0]), Hash(dir.filePath(kTemplateName)));
    EXPECT_TRUE(shown.isEmpty());
}

TEST_F(OfficeProtocolTest, WithoutAnOfficeTheOutputFailsAtOnce)
{
    struct Case {
        const char* name;
        OfficeHelperApp::Options options;
    } cases[] = {
        {"helper missing", {QStringLiteral("/nonexistent/zrm-office-helper"), {}, {}, 90000, 30000, 20000}},
        {"soffice missing", {{}, QStringLiteral("/nonexistent/libreoffice/program"), {}, 90000, 30000, 20000}},
    };
    PrepareRun(SampleRun(1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        SetSpreadsheetAppFactory([&c] { return std::make_unique<OfficeHelperApp>(c.options); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(WriteVerificationProtocol(settings, fields, run));
        EXPECT_LT(clock.elapsed(), 5000);
        ASSERT_EQ(boxes.count(), 2u);
        EXPECT_EQ(boxes.shown()[0], (ShownMessage{MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK}));
        EXPECT_EQ(boxes.shown()[1].kind, MsgKind::Information);
        EXPECT_TRUE(boxes.shown()[1].text.contains(QStringLiteral("нет табличного приложения")));
        ++settings.RepNo;
    }
}

}  // namespace
