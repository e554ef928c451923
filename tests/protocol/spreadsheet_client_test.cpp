// The office helper's client against stand-in helpers (small shell scripts,
// real processes): what goes over the pipe, and that a helper that is
// missing, silent, dying or refusing never hangs the program or leaves an
// office behind. And the helper's side of the line protocol.

#include "line_protocol.h"
#include "qt_printers.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class SpreadsheetClientTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetWorkbookViewer([this](const QString& path) {
            viewed << path;
            return true;
        });
    }
    void TearDown() override { SetWorkbookViewer({}); }

    // A helper made of a shell script: body runs with $LOG as its request log.
    QString Helper(const char* body)
    {
        const QString path = dir.filePath(QStringLiteral("helper.sh"));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("#!/bin/sh\nLOG='" + dir.filePath(QStringLiteral("requests.log")).toUtf8() + "'\n");
        f.write(body);
        f.close();
        ::chmod(path.toLocal8Bit().constData(), 0755);
        return path;
    }
    OfficeHelperApp::Options Options(const QString& helper, int callTimeoutMs = 5000)
    {
        OfficeHelperApp::Options o;
        o.helperPath = helper;
        o.locale = QStringLiteral("ru-RU");
        o.startTimeoutMs = callTimeoutMs;
        o.callTimeoutMs = callTimeoutMs;
        o.quitTimeoutMs = callTimeoutMs;
        return o;
    }
    QByteArray Requests() const
    {
        QFile f(dir.filePath(QStringLiteral("requests.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // A zombie counts as gone: whoever reaps it is not under test.
    static bool Alive(pid_t pid)
    {
        if (pid <= 0 || ::kill(pid, 0) != 0)
            return false;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        return !(close > 0 && s.mid(close + 2, 1) == "Z");
    }
    pid_t ReadPid(const char* name) const
    {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        return f.open(QIODevice::ReadOnly) ? pid_t(f.readAll().trimmed().toInt()) : 0;
    }

    QTemporaryDir dir;
    QStringList viewed;
};

// Logs each request and answers ok with handle 5.
const char* const kObedient =
    "while IFS= read -r line; do\n"
    "  printf '%s\\n' \"$line\" >> \"$LOG\"\n"
    "  case \"$line\" in quit*) echo ok; exit 0;; esac\n"
    "  printf 'ok\\t5\\n'\n"
    "done\n";

TEST_F(SpreadsheetClientTest, RequestsGoOverThePipeEscaped)
{
    OfficeHelperApp app(Options(Helper(kObedient)));
    app.Start();
    app.SetVisible(true);
    app.OpenWorkbook(QStringLiteral("/tmp/Протоколы/2026 г./19_31 Протокол № 00012.xls"));
    app.SelectWorksheet(1);
    const SheetCell a1 = app.Range(QStringLiteral("A1"));
    EXPECT_EQ(a1.id, 5);
    app.SetValue(a1, QStringLiteral("a\tb\\c\nd\re"));
    const SheetCell c = app.Cells(17, 15);
    app.CopyEntireRow(c, c);
    app.InsertEntireRow(c, c);
    app.Save();
    app.Release();

    const QList<QByteArray> lines = Requests().split('\n');
    ASSERT_GE(lines.size(), 11);
    EXPECT_TRUE(lines[0].startsWith("start\tru-RU\t")) << lines[0].toStdString();
    EXPECT_EQ(lines[1], "open\t/tmp/Протоколы/2026 г./19_31 Протокол № 00012.xls");
    EXPECT_EQ(lines[2], "sheet\t1");
    EXPECT_EQ(lines[3], "range\tA1");
    EXPECT_EQ(lines[4], "set\t5\ta\\tb\\\\c\\nd\\re");
    EXPECT_EQ(lines[5], "cell\t17\t15");
    EXPECT_EQ(lines[6], "copyrows\t5\t5");
    EXPECT_EQ(lines[7], "insertrows\t5\t5");
    EXPECT_EQ(lines[8], "save");
    EXPECT_EQ(lines[9], "quit");
    // Saved and visible: shown to the user once the helper is gone.
    EXPECT_EQ(viewed, QStringList{QStringLiteral("/tmp/Протоколы/2026 г./19_31 Протокол № 00012.xls")});
}

TEST_F(SpreadsheetClientTest, AWorkbookTheDesktopCannotOpenIsNamedToTheUser)
{
    ScopedScriptedMessages boxes;
    SetWorkbookViewer([](const QString&) { return false; });
    OfficeHelperApp app(Options(Helper(kObedient)));
    app.Start();
    app.SetVisible(true);
    app.OpenWorkbook(QStringLiteral("/tmp/p.xls"));
    app.Save();
    app.Release();
    EXPECT_EQ(boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Information,
                                                         QStringLiteral("Протокол сохранён в файле /tmp/p.xls, но открыть его не удалось."),
                                                         mbOK}}));
}

TEST_F(SpreadsheetClientTest, RefusalsAndMissingOfficeComeBackAsErrors)
{
    OfficeHelperApp missing(Options(dir.filePath(QStringLiteral("no-such-helper"))));
    EXPECT_THROW(missing.Start(), ESpreadsheetUnavailable);

    OfficeHelperApp noOffice(Options(Helper("read line; printf 'unavailable\\tsoffice not found\\n'; read line\n")));
    try {
        noOffice.Start();
        ADD_FAILURE() << "started";
    } catch (const ESpreadsheetUnavailable& e) {
        EXPECT_TRUE(e.text().contains(QStringLiteral("soffice not found"))) << e.text().toStdString();
    }

    OfficeHelperApp refusing(Options(Helper("read line; printf 'ok\\t0\\n'; read line; printf 'error\\tcannot open x\\n'; cat >/dev/null\n")));
    refusing.Start();
    try {
        refusing.OpenWorkbook(QStringLiteral("x"));
        ADD_FAILURE() << "opened";
    } catch (const ESpreadsheetUnavailable&) {
        ADD_FAILURE() << "a refusal is no missing office";
    } catch (const ESpreadsheetError& e) {
        EXPECT_TRUE(e.text().contains(QStringLiteral("cannot open x")));
    }
}

TEST_F(SpreadsheetClientTest, ASilentHelperTimesOutAndTakesItsOfficeWithIt)
{
    // The "office" is a process group of its own, as the real helper makes it.
    OfficeHelperApp app(Options(Helper("echo $$ > \"$LOG.pid\"\n"
                                       "setsid sleep 300 & OFFICE=$!; echo $OFFICE > \"$LOG.office\"\n"
                                       "read line\n"
                                       "until [ \"$(cut -d' ' -f5 /proc/$OFFICE/stat)\" = $OFFICE ]; do sleep 0.01; done\n"
                                       "printf 'ok\\t%s\\n' $OFFICE\n"
                                       "read line; exec sleep 300\n"),
                                300));
    app.Start();
    const pid_t helper = ReadPid("requests.log.pid");
    const pid_t office = ReadPid("requests.log.office");
    ASSERT_TRUE(Alive(helper));
    ASSERT_TRUE(Alive(office));
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(app.Save(), ESpreadsheetError);
    EXPECT_LT(clock.elapsed(), 3000);
    QThread::msleep(100);
    EXPECT_FALSE(Alive(office));
    EXPECT_FALSE(Alive(helper));
    // Later calls fail at once.
    clock.restart();
    EXPECT_THROW(app.Save(), ESpreadsheetError);
    EXPECT_LT(clock.elapsed(), 500);
}

TEST_F(SpreadsheetClientTest, AHelperDyingWhileStartingTakesItsOfficeWithIt)
{
    // The office's group is told first; then the helper dies (a crash, a
    // sanitizer's exit) before the start is answered.
    OfficeHelperApp app(Options(Helper("setsid sleep 300 & OFFICE=$!; echo $OFFICE > \"$LOG.office\"\n"
                                       "read line\n"
                                       "until [ \"$(cut -d' ' -f5 /proc/$OFFICE/stat)\" = $OFFICE ]; do sleep 0.01; done\n"
                                       "printf 'office\\t%s\\n' $OFFICE; exit 1\n")));
    EXPECT_THROW(app.Start(), ESpreadsheetError);
    const pid_t office = ReadPid("requests.log.office");
    ASSERT_GT(office, 0);
    QThread::msleep(100);
    EXPECT_FALSE(Alive(office));
}

TEST_F(SpreadsheetClientTest, AHelperThatDiesIsAnErrorNotAHang)
{
    OfficeHelperApp app(Options(Helper("read line; printf 'ok\\t0\\n'; read line; echo 'office crashed' >&2; exit 3\n"), 10000));
    app.Start();
    QElapsedTimer clock;
    clock.start();
    try {
        app.OpenWorkbook(QStringLiteral("x"));
        ADD_FAILURE() << "opened";
    } catch (const ESpreadsheetError& e) {
        EXPECT_TRUE(e.text().contains(QStringLiteral("office crashed"))) << e.text().toStdString();
    }
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(SpreadsheetClientTest, TheEventQueueIsServedWhileACallWaits)
{
    OfficeHelperApp app(Options(Helper("read line; printf 'ok\\t0\\n'; read line; sleep 1; printf 'ok\\n'; cat >/dev/null\n")));
    app.Start();
    int ticks = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        longestGap = std::max(longestGap, sinceTick.restart());
    });
    timer.start(10);
    app.Save();
    timer.stop();
    EXPECT_GE(ticks, 20);
    // The call takes a second; the loop must not have stood still for it.
    // (The figure itself, on a quiet machine, is in docs/benchmarks.md.)
    EXPECT_LT(longestGap, 250);
}

TEST_F(SpreadsheetClientTest, DestroyingAStartedClientEndsTheHelper)
{
    pid_t helper = 0;
    {
        OfficeHelperApp app(Options(Helper("echo $$ > \"$LOG.pid\"; read line; printf 'ok\\t0\\n'; exec sleep 300\n")));
        app.Start();
        helper = ReadPid("requests.log.pid");
        ASSERT_TRUE(Alive(helper));
    }
    EXPECT_FALSE(Alive(helper));
}

TEST(OfficeLocaleTest, QtLocaleNamesBecomeOfficeTags)
{
    EXPECT_EQ(OfficeHelperApp::OfficeLocaleTag(QStringLiteral("ru_RU")), QStringLiteral("ru-RU"));
    EXPECT_EQ(OfficeHelperApp::OfficeLocaleTag(QStringLiteral("de_DE")), QStringLiteral("de-DE"));
    EXPECT_EQ(OfficeHelperApp::OfficeLocaleTag(QStringLiteral("C")), QStringLiteral("en-US"));
    EXPECT_EQ(OfficeHelperApp::OfficeLocaleTag(QString()), QStringLiteral("en-US"));
}

TEST(HelperLineProtocolTest, FieldsSurviveTheLine)
{
    const std::vector<std::vector<std::string>> cases{
        {"set", "5", "plain"},
        {"set", "5", "tab\there", "new\nline", "cr\rhere"},
        {"set", "5", "back\\slash", "\\t is not a tab"},
        {"open", "/tmp/Протокол № 00012.xls"},
        {"set", "5", ""},
        {"", ""},
        {"set", "5", "trailing\\"},
    };
    for (const auto& fields : cases) {
        const std::string line = JoinFields(fields);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        EXPECT_EQ(SplitFields(line), fields) << line;
    }
    // What the client writes, the helper reads.
    EXPECT_EQ(SplitFields("set\t5\ta\\tb\\\\c\\nd\\re"), (std::vector<std::string>{"set", "5", "a\tb\\c\nd\re"}));
    EXPECT_EQ(SplitFields("x\\"), (std::vector<std::string>{"x"}));
}

}  // namespace
