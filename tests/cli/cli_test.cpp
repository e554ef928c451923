// zrm-cli as a script runs it: the real executable against the virtual meter
// bench on a pseudo-terminal. What is checked is the command-line layer:
// which operation runs, what reaches stdout and stderr, the exit status, and
// what the meter holds afterwards.

#include "bench_app.h"
#include "coef_file.h"
#include "diameter_defaults.h"
#include "editor_texts.h"
#include "reading_lines.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr SerialNumber kGood = 12345;
constexpr SerialNumber kSilent = 222;
constexpr SerialNumber kBlocked = 333;
constexpr int kGoodDiameter = 3;
constexpr double kGoodFlow = 3.5;
constexpr uint32_t kGoodCounter = 123456;

struct CliRun {
    int status = -1;
    bool crashed = false;
    QString out;
    QString err;
};

class CliTest : public ::testing::Test {
public:
    CliTest()
    {
        metersim::BenchOptions options;
        options.timeScale = 0;  // counter and hours stand still: readings come back exactly
        bench = std::make_unique<metersim::MeterBench>(LinkPath().toStdString(), options);
        bench->AddMeter(BenchMeter(kGood, kGoodDiameter, kGoodFlow, kGoodCounter, 1234.5f));
        metersim::MeterSpec silent = BenchMeter(kSilent, 0, 1.0);
        silent.fault.silent = true;
        bench->AddMeter(silent);
        metersim::MeterSpec blocked = BenchMeter(kBlocked, 5, 2.0);
        blocked.blocked = true;
        bench->AddMeter(blocked);
        bench->Start();
    }

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString LinkPath() const { return Path(QStringLiteral("ttyBench")); }

    // Starts zrm-cli (the given executable) on the bench's line.
    std::unique_ptr<QProcess> Start(const QStringList& args, const QString& program = QStringLiteral(ZRM_CLI),
                                    bool withPort = true,
                                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->setProgram(program);
        p->setArguments(withPort ? QStringList{QStringLiteral("--port"), LinkPath()} + args : args);
        p->start();
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    CliRun Finish(QProcess& p, const QByteArray& input = {})
    {
        p.write(input);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(60000));
        CliRun r;
        r.crashed = p.exitStatus() != QProcess::NormalExit;
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    CliRun Run(const QStringList& args, const QByteArray& input = {},
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
    {
        auto p = Start(args, QStringLiteral(ZRM_CLI), true, env);
        return Finish(*p, input);
    }

    // Reads what p prints until done(out, err) holds; false after timeoutMs.
    static bool ReadUntil(QProcess& p, QString& out, QString& err,
                          const std::function<bool(const QString&, const QString&)>& done, int timeoutMs = 15000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            out += QString::fromUtf8(p.readAllStandardOutput());
            err += QString::fromUtf8(p.readAllStandardError());
            if (done(out, err))
                return true;
            if (t.elapsed() > timeoutMs || p.state() != QProcess::Running)
                return false;
            p.waitForReadyRead(100);
        }
    }

    QTemporaryDir dir;
    std::unique_ptr<metersim::MeterBench> bench;
};

void WriteSettings(const QString& folder, const QString& port)
{
    QFile ini(folder + QStringLiteral("/Settings.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[CONFIG]\r\nCOM=" + port.toUtf8() + "\r\n");
}

termios LineSettings(const QString& path)
{
    termios t{};
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::tcgetattr(fd, &t), 0);
    ::close(fd);
    return t;
}

// A configuration with every value changed from the defaults; each value
// is exact in binary and in the file's six decimals.
DeviceConfig EditedConfig()
{
    DeviceConfig c = DefaultConfigFor(kGoodDiameter);
    for (int i = 0; i < kConfigValueCount; ++i)
        c.SetValue(i, 0.25f + 0.5f * float(i));
    return c;
}

void WriteCoef(const QString& path, const EditorTexts& texts)
{
    SaveCoefFile(path, texts);
}

struct CliCase {
    const char* name;
    QStringList args;  // "FILE" stands for the case's .coef file
    QByteArray input;  // standard input
    int status;
    QString err;  // exactly
    std::function<QString(CliTest&)> out;      // exactly; none: empty
    std::function<void(CliTest&)> prepare;     // before the run
    std::function<void(CliTest&)> check;       // the bench and the files afterwards
};

void PrintTo(const CliCase& c, std::ostream* os)
{
    *os << c.name;
}

QString Lines(const QStringList& l)
{
    return l.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

const QString kQuestion = QStringLiteral("Вы уверены что хотите записать параметры?");

void ExpectConfigUnchanged(CliTest& t, SerialNumber n)
{
    const metersim::MeterSnapshot m = t.bench->Meter(n);
    EXPECT_EQ(m.writes, 0);
}

void ExpectGoodMeterHolds(CliTest& t, const DeviceConfig& expected)
{
    const metersim::MeterSnapshot m = t.bench->Meter(kGood);
    EXPECT_EQ(m.writes, 1);
    for (int i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(m.config.Value(i), expected.Value(i)) << "value " << i;
    // The two bytes the meter keeps came back from the read before the write.
    const DeviceConfig before = DefaultConfigFor(kGoodDiameter);
    EXPECT_EQ(m.config.Tail[0], before.Tail[0]);
    EXPECT_EQ(m.config.Tail[1], before.Tail[1]);
}

const CliCase kCases[] = {
    {"IdentifyLoneMeter", {"identify"}, {}, 0, {},
     [](CliTest&) { return QStringLiteral("12345\n"); },
     [](CliTest& t) {
         t.bench->RemoveMeter(kSilent);
         t.bench->RemoveMeter(kBlocked);
     },
     {}},
    {"IdentifySilent", {"identify"}, {}, 1, "SN 0 Нет ответа.\n", {},
     [](CliTest& t) {
         t.bench->RemoveMeter(kGood);
         t.bench->RemoveMeter(kBlocked);
     },
     {}},
    {"ReadGood", {"read", "12345"}, {}, 0, {},
     [](CliTest& t) {
         const metersim::MeterSnapshot m = t.bench->Meter(kGood);
         return Lines(StateLines(m.state, VolumeScale(m.config.Dy)) + ConfigLines(m.config, false));
     },
     {}, {}},
    {"ReadSilent", {"read", "222"}, {}, 1, "SN 222Нет ответа.\n", {}, {}, {}},
    {"SaveGood", {"save", "12345", "FILE"}, {}, 0, {}, {}, {},
     [](CliTest& t) {
         EXPECT_EQ(LoadCoefFile(t.Path("case.coef")), EditorTextsOf(kGood, DefaultConfigFor(kGoodDiameter)));
     }},
    {"SaveSilentWritesNoFile", {"save", "222", "FILE"}, {}, 1, "Нет ответа.\n", {}, {},
     [](CliTest& t) { EXPECT_FALSE(QFile::exists(t.Path("case.coef"))); }},
    {"WriteGoodAssumingYes", {"write", "12345", "FILE", "--yes"}, {}, 0,
     kQuestion + " OK\nПараметры изменены\n", {},
     [](CliTest& t) { WriteCoef(t.Path("case.coef"), EditorTextsOf(kGood, EditedConfig())); },
     [](CliTest& t) { ExpectGoodMeterHolds(t, EditedConfig()); }},
    {"WriteGoodAnsweredOnTerminal", {"write", "12345", "FILE"}, "да\n", 0,
     kQuestion + " [OK/Отмена] Параметры изменены\n", {},
     [](CliTest& t) { WriteCoef(t.Path("case.coef"), EditorTextsOf(kGood, EditedConfig())); },
     [](CliTest& t) { ExpectGoodMeterHolds(t, EditedConfig()); }},
    {"WriteDeclined", {"write", "12345", "FILE"}, "n\n", 1, kQuestion + " [OK/Отмена] ", {},
     [](CliTest& t) { WriteCoef(t.Path("case.coef"), EditorTextsOf(kGood, EditedConfig())); },
     [](CliTest& t) {
         ExpectConfigUnchanged(t, kGood);
         EXPECT_TRUE(t.bench->Received().empty());
     }},
    {"WriteBlocked", {"write", "333", "FILE", "--yes"}, {}, 1,
     kQuestion + " OK\nИзменение параметров блокировано\n", {},
     [](CliTest& t) { WriteCoef(t.Path("case.coef"), EditorTextsOf(kBlocked, EditedConfig())); },
     [](CliTest& t) { ExpectConfigUnchanged(t, kBlocked); }},
    {"WriteSilent", {"write", "222", "FILE", "--yes"}, {}, 1, kQuestion + " OK\nНет ответа.\n", {},
     [](CliTest& t) { WriteCoef(t.Path("case.coef"), EditorTextsOf(kSilent, EditedConfig())); }, {}},
    {"WriteRefusedByChecksBeforeTheLine", {"write", "12345", "FILE", "--yes"}, {}, 2,
     "Проверте правильность ввода Ду\n", {},
     [](CliTest& t) {
         EditorTexts texts = EditorTextsOf(kGood, EditedConfig());
         texts.Values[0] = QStringLiteral("0");
         WriteCoef(t.Path("case.coef"), texts);
     },
     [](CliTest& t) { EXPECT_TRUE(t.bench->Received().empty()); }},
    {"ResetAssumingYes", {"reset", "12345", "--yes"}, {}, 0, "Обнулить счетчик ЗРМ №12345? Да\nЗРМ очищено\n", {},
     {},
     [](CliTest& t) {
         ASSERT_TRUE(t.bench->WaitForSent(1, std::chrono::seconds(5)));
         EXPECT_EQ(t.bench->Meter(kGood).resets, 1);
     }},
    {"ResetDeclinedAtEndOfInput", {"reset", "12345"}, {}, 1, "Обнулить счетчик ЗРМ №12345? [Да/Нет] \n", {}, {},
     [](CliTest& t) {
         EXPECT_EQ(t.bench->Meter(kGood).resets, 0);
         EXPECT_TRUE(t.bench->Received().empty());
     }},
    {"PortCannotBeOpened", {"--port", "NOPORT", "read", "12345"}, {}, 3, {}, {}, {}, {}},
    {"UsageSerialOutOfRange", {"read", "65536"}, {}, 2, {}, {}, {},
     [](CliTest& t) { EXPECT_TRUE(t.bench->Received().empty()); }},
};

class CliCommandTest : public CliTest, public ::testing::WithParamInterface<CliCase> {};

TEST_P(CliCommandTest, OutputStatusAndMeter)
{
    const CliCase& c = GetParam();
    if (c.prepare)
        c.prepare(*this);
    QStringList args = c.args;
    for (QString& a : args) {
        if (a == QLatin1String("FILE"))
            a = Path(QStringLiteral("case.coef"));
        if (a == QLatin1String("NOPORT"))
            a = Path(QStringLiteral("no-such-port"));
    }
    const CliRun r = Run(args, c.input);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.status, c.status) << r.err.toStdString();
    EXPECT_EQ(r.out, c.out ? c.out(*this) : QString());
    if (c.status == 3) {
        EXPECT_EQ(r.err, QStringLiteral("Нет возможности открыть порт ") + Path(QStringLiteral("no-such-port")) +
                             QLatin1Char('\n'));
    } else if (c.status == 2 && c.err.isEmpty()) {
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("zrm-cli: "))) << r.err.toStdString();
    } else {
        EXPECT_EQ(r.err, c.err);
    }
    if (c.check)
        c.check(*this);
}

INSTANTIATE_TEST_SUITE_P(Commands, CliCommandTest, ::testing::ValuesIn(kCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Numbers as numbers, each the value the meter holds.
TEST_F(CliTest, ReadJson)
{
    const CliRun r = Run({QStringLiteral("read"), QStringLiteral("12345"), QStringLiteral("--json")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    const metersim::MeterSnapshot m = bench->Meter(kGood);
    EXPECT_EQ(o.value(QStringLiteral("SN")).toInt(), kGood);
    EXPECT_EQ(o.value(QStringLiteral("FlowRate")).toDouble(), kGoodFlow);
    EXPECT_EQ(o.value(QStringLiteral("VolumeCounter")).toDouble(), double(kGoodCounter));
    EXPECT_EQ(o.value(QStringLiteral("Volume")).toDouble(), double(kGoodCounter) / VolumeScale(m.config.Dy));
    EXPECT_EQ(o.value(QStringLiteral("OperatingHours")).toDouble(), 1234.5);
    for (int i = 0; i < kConfigValueCount; ++i) {
        const QJsonValue v = o.value(QString::fromLatin1(kConfigValueKeys[size_t(i)]));
        EXPECT_TRUE(v.isDouble()) << kConfigValueKeys[size_t(i)];
        EXPECT_EQ(float(v.toDouble()), m.config.Value(i)) << kConfigValueKeys[size_t(i)];
    }
}

// Without --port the port comes from Settings.ini, and save without a file
// writes into Restore/, both in the folder the windows use: beside a portable
// executable; for an installed one (the marker in ../share/zrm-scanner) the
// user's data folder, whatever lies beside the executable.
TEST_F(CliTest, ProgramsFolderAsTheWindowsFindIt)
{
    const metersim::MeterSnapshot good = bench->Meter(kGood);
    const QString readLines = Lines(StateLines(good.state, VolumeScale(good.config.Dy)) + ConfigLines(good.config, false));
    for (const bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "installed" : "portable");
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("usr/bin"));
        const QString dataHome = root.filePath(QStringLiteral("home/.local/share"));
        const QString folder = installed ? dataHome + QStringLiteral("/zrm-scanner") : bin;
        ASSERT_TRUE(QDir().mkpath(bin));
        const QString copy = bin + QStringLiteral("/zrm-cli");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZRM_CLI), copy));
        if (installed) {
            ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("usr/share/zrm-scanner"))));
            QFile marker(root.filePath(QStringLiteral("usr/share/zrm-scanner/installed")));
            ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
            ASSERT_TRUE(QDir().mkpath(folder));
            // What an installed copy must not read.
            WriteSettings(bin, Path(QStringLiteral("no-such-port")));
        }
        WriteSettings(folder, LinkPath());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);

        auto read = Start({QStringLiteral("read"), QStringLiteral("12345")}, copy, false, env);
        const CliRun r = Finish(*read);
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, readLines);

        auto save = Start({QStringLiteral("save"), QStringLiteral("12345")}, copy, false, env);
        const CliRun s = Finish(*save);
        EXPECT_EQ(s.status, 0) << s.err.toStdString();
        EXPECT_EQ(LoadCoefFile(folder + QStringLiteral("/Restore/ZRM_№12345")),
                  EditorTextsOf(kGood, DefaultConfigFor(kGoodDiameter)));
        if (installed) {
            EXPECT_FALSE(QFileInfo::exists(bin + QStringLiteral("/Restore")));
        }
    }
}

// Every frame on the line, in order, once: requests as the bench received
// them, replies as it sent them; on standard error with --trace, and in the
// file ZRM_TRACE names (the windows' way) without it.
TEST_F(CliTest, TraceShowsEveryFrame)
{
    // Written out here rather than by the trace's own formatting, which is under test.
    const auto hex = [](const char* arrow, const std::vector<uint8_t>& bytes) {
        QString line = QString::fromLatin1(arrow);
        for (uint8_t b : bytes)
            line += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
        return line;
    };
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}( .*)$"));
    const QString traceFile = Path(QStringLiteral("trace.txt"));
    for (const bool toFile : {false, true}) {
        bench->ClearReceived();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (toFile)
            env.insert(QStringLiteral("ZRM_TRACE"), traceFile);
        const QStringList args = {QStringLiteral("read"), QStringLiteral("12345")};
        const CliRun r = Run(toFile ? args : QStringList{QStringLiteral("--trace")} + args, {}, env);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        const auto received = bench->Received();
        const auto sent = bench->Sent();
        ASSERT_EQ(received.size(), 2u);
        ASSERT_EQ(sent.size(), 2u);
        const QStringList expected = {hex(" ->", received[0].bytes), hex(" <-", sent[0].bytes),
                                      hex(" ->", received[1].bytes), hex(" <-", sent[1].bytes)};
        QString trace = r.err;
        if (toFile) {
            EXPECT_EQ(r.err, QString());
            QFile f(traceFile);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            trace = QString::fromLatin1(f.readAll());
        }
        QStringList traced;
        for (const QString& line : trace.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const auto m = stamp.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            traced << m.captured(1);
        }
        EXPECT_EQ(traced, expected) << (toFile ? "file" : "stderr");
    }
}

// A trace that cannot hurt the command: a FIFO nobody reads is refused at
// once (said on stderr, the command done), and a file at its limit is rolled
// over into "<file>.1" rather than grown.
TEST_F(CliTest, TraceFileIsBoundedAndNeverWaitedFor)
{
    const QString fifo = Path(QStringLiteral("trace.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString full = Path(QStringLiteral("trace.txt"));
    {
        QFile f(full);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(10 * 1024 * 1024 - 16));
    }
    for (const QString& trace : {fifo, full}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZRM_TRACE"), trace);
        QElapsedTimer clock;
        clock.start();
        const CliRun r = Run({QStringLiteral("read"), QStringLiteral("12345")}, {}, env);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_LT(clock.elapsed(), 10000);
        if (trace == fifo) {
            EXPECT_EQ(r.err, QStringLiteral("zrm-cli: Обмен с приборами не записывается: файл ZRM_TRACE=%1 не открыт "
                                            "(это не обычный файл).\n")
                                 .arg(fifo));
            continue;
        }
        EXPECT_EQ(r.err, QString());
        EXPECT_EQ(QFileInfo(full + QStringLiteral(".1")).size(), 10 * 1024 * 1024 - 16);
        QFile f(full);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll().count('\n'), 4);  // two requests, two replies
    }
}

// Three meters for a few seconds: one header, then rows whose times go up
// and whose flows are the meters'.
TEST_F(CliTest, WatchThreeMeters)
{
    bench->RemoveMeter(kSilent);
    metersim::MeterSpec second = BenchMeter(777, 2, 1.25);
    bench->AddMeter(second);
    const CliRun r = Run({QStringLiteral("watch"), QStringLiteral("12345"), QStringLiteral("777"),
                          QStringLiteral("333"), QStringLiteral("--period"), QStringLiteral("300"),
                          QStringLiteral("--count"), QStringLiteral("8")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.err, QString());
    QStringList rows = r.out.split(QLatin1Char('\n'));
    ASSERT_EQ(rows.takeLast(), QString());
    ASSERT_EQ(rows.size(), 9);
    EXPECT_EQ(rows.takeFirst(), QStringLiteral("time,12345,777,333"));
    QDateTime previous;
    for (const QString& row : rows) {
        const QStringList cells = row.split(QLatin1Char(','));
        ASSERT_EQ(cells.size(), 4) << row.toStdString();
        const QDateTime time = QDateTime::fromString(cells[0], Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << row.toStdString();
        if (previous.isValid()) {
            EXPECT_GE(previous.msecsTo(time), 250) << row.toStdString();
        }
        previous = time;
        EXPECT_EQ(cells.mid(1), (QStringList{"3.500", "1.250", "2.000"})) << row.toStdString();
    }
}

// Ctrl-C while the program waits for a silent meter's reply: it ends at once,
// in its own time (not killed by the signal), and the line is free.
TEST_F(CliTest, InterruptDuringWait)
{
    for (const QStringList& args : {QStringList{"read", "222"}, QStringList{"watch", "222"}}) {
        auto p = Start(args);
        // Inside the first 2 s wait once the request is on the line.
        ASSERT_TRUE(bench->WaitForReceived(1, std::chrono::seconds(5)));
        QThread::msleep(300);
        ASSERT_EQ(p->state(), QProcess::Running);
        QElapsedTimer t;
        t.start();
        ASSERT_EQ(::kill(pid_t(p->processId()), SIGINT), 0);
        ASSERT_TRUE(p->waitForFinished(5000));
        EXPECT_LT(t.elapsed(), 500) << args.join(' ').toStdString();
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        // A watch is meant to be ended so; its interrupted row is left out.
        const bool watch = args[0] == QLatin1String("watch");
        EXPECT_EQ(p->exitCode(), watch ? 0 : 130) << args.join(' ').toStdString();
        EXPECT_EQ(p->readAllStandardOutput(), watch ? QByteArray("time,222\n") : QByteArray());
        EXPECT_EQ(p->readAllStandardError(), QByteArray());
        // No frame went out after the signal.
        EXPECT_EQ(bench->Received().size(), 1u);
        bench->ClearReceived();
    }
    // The line is free: another run gets its answer.
    const CliRun r = Run({QStringLiteral("read"), QStringLiteral("12345")});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
}

// watch into head: the reader goes after two lines, and the watch ends in
// its own time, not by SIGPIPE: a watch's status, nothing on standard error,
// and the port closed, so the line's settings are back as they were found.
TEST_F(CliTest, WatchIntoHeadClosesThePort)
{
    // Settings the program never uses, so that only its close puts them back.
    {
        const int fd = ::open(LinkPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ASSERT_EQ(::cfsetispeed(&t, B4800), 0);
        ASSERT_EQ(::cfsetospeed(&t, B4800), 0);
        t.c_cflag |= CSTOPB;
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
        ::close(fd);
    }
    const termios found = LineSettings(LinkPath());

    QProcess shell;
    shell.setProgram(QStringLiteral("bash"));
    shell.setArguments({QStringLiteral("-c"), QStringLiteral("\"$@\" | head -n 2; echo \"status ${PIPESTATUS[0]}\""),
                        QStringLiteral("bash"), QStringLiteral(ZRM_CLI), QStringLiteral("--port"), LinkPath(),
                        QStringLiteral("watch"), QStringLiteral("12345"), QStringLiteral("--period"),
                        QStringLiteral("100")});
    shell.start();
    ASSERT_TRUE(shell.waitForStarted(10000));
    const CliRun r = Finish(shell);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, QString());
    const QRegularExpression expected(QStringLiteral("^time,12345\n[^,\n]+,3\\.500\nstatus 0\n$"));
    EXPECT_TRUE(expected.match(r.out).hasMatch()) << r.out.toStdString();

    const termios left = LineSettings(LinkPath());
    EXPECT_EQ(::cfgetospeed(&left), B4800);
    EXPECT_EQ(left.c_iflag, found.c_iflag);
    EXPECT_EQ(left.c_oflag, found.c_oflag);
    EXPECT_EQ(left.c_cflag, found.c_cflag);
    EXPECT_EQ(left.c_lflag, found.c_lflag);
}

// The adapter unplugged and plugged back during a watch: one line when the
// port goes, empty cells meanwhile, one line when it is back, and the flows
// again, without a message per meter and round.
TEST_F(CliTest, WatchAcrossUnplugAndReplug)
{
    auto p = Start({QStringLiteral("watch"), QStringLiteral("12345"), QStringLiteral("--period"),
                    QStringLiteral("100")});
    const QString lost = QStringLiteral("Порт ") + LinkPath() +
                         QStringLiteral(" пропал (адаптер отключен?); опрос продолжится, когда он появится\n");
    const QString back = QStringLiteral("Порт ") + LinkPath() + QStringLiteral(" снова открыт, опрос продолжается\n");
    const auto rowsEndingWith = [](const QString& out, const QString& cell, int n) {
        const QString tail = QLatin1Char(',') + cell + QLatin1Char('\n');
        QStringList rows = out.split(QLatin1Char('\n'));
        rows.removeLast();  // what follows the last line break
        int count = 0;
        for (qsizetype i = rows.size() - 1; i >= 1 && (rows[i] + QLatin1Char('\n')).endsWith(tail); --i)
            ++count;
        return count >= n;
    };
    QString out, err;
    ASSERT_TRUE(ReadUntil(*p, out, err, [&](const QString& o, const QString&) {
        return rowsEndingWith(o, QStringLiteral("3.500"), 2);
    })) << out.toStdString() << err.toStdString();
    bench->Unplug();
    // A few rounds without the port: each tries to open it again, quietly.
    ASSERT_TRUE(ReadUntil(*p, out, err, [&](const QString& o, const QString& e) {
        return e == lost && rowsEndingWith(o, QString(), 3);
    })) << out.toStdString() << err.toStdString();
    bench->Replug();
    ASSERT_TRUE(ReadUntil(*p, out, err, [&](const QString& o, const QString& e) {
        return e == lost + back && rowsEndingWith(o, QStringLiteral("3.500"), 2);
    })) << out.toStdString() << err.toStdString();
    ASSERT_EQ(::kill(pid_t(p->processId()), SIGINT), 0);
    const CliRun r = Finish(*p);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.status, 1) << "not every round answered";
    EXPECT_EQ(err + r.err, lost + back);

    // Flows, then empty cells, then flows again: nothing else.
    QStringList runs;
    for (const QString& row : (out + r.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1)) {
        const QString cell = row.section(QLatin1Char(','), 1);
        if (runs.isEmpty() || runs.last() != cell)
            runs << cell;
    }
    EXPECT_EQ(runs, (QStringList{QStringLiteral("3.500"), QString(), QStringLiteral("3.500")})) << out.toStdString();
}

}  // namespace
