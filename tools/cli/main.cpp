// zrm-cli: the meters from a terminal and from scripts. It drives the
// program's own link, frames, .coef file and write checks; the boxes the
// windows would show are printed to standard error.

#include "app_paths.h"
#include "coef_file.h"
#include "device_link.h"
#include "editor_texts.h"
#include "exchange_trace.h"
#include "handler.h"
#include "history.h"
#include "link_journal.h"
#include "link_port.h"
#include "port_list.h"
#include "qt_serial_events.h"
#include "reading_lines.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Exit : int {
    kSuccess = 0,
    kFailed = 1,       // a meter refused or did not answer, a file could not be written, a question was declined
    kUsage = 2,        // bad command line, or a file the write checks refuse
    kNoPort = 3,       // the port cannot be opened
    kInterrupted = 130,  // SIGINT or SIGTERM during a command (128 + SIGINT)
};

const char* const kUsageText =
    "Usage: zrm-cli [--port PATH] [--trace] COMMAND ...\n"
    "\n"
    "Commands:\n"
    "  ports                      the serial ports of this machine, one a line\n"
    "  identify                   the serial number of the lone meter on the line\n"
    "  read SN [--json]           state and configuration of meter SN\n"
    "  save SN [FILE]             meter SN's configuration into the .coef file FILE\n"
    "                             (default: Restore/ZRM_№SN in the program's folder)\n"
    "  write SN [FILE] [--yes]    the .coef file FILE (default as for save) into meter SN,\n"
    "                             after the write checks and a question (--yes answers it);\n"
    "                             the meter takes the serial number the file holds\n"
    "  reset SN [--yes]           meter SN's volume counter, after a question\n"
    "  watch SN... [--period MS] [--count N]\n"
    "                             time and flow of each meter as CSV on standard output,\n"
    "                             one row every MS ms (default 1000), until Ctrl-C or N rows;\n"
    "                             a lost port (adapter unplugged) is said once on standard\n"
    "                             error and opened again at the next rounds\n"
    "  history SN [--since YYYY-MM-DD] [--json]\n"
    "                             meter SN's entries in the journal, newest first\n"
    "\n"
    "Options:\n"
    "  --port PATH   the meters' port (default: COM in Settings.ini in the program's folder)\n"
    "  --trace       every frame sent and received, on standard error\n"
    "  -h, --help    this text\n"
    "  --version     the version\n"
    "\n"
    "The program's folder, which holds Settings.ini and Restore/, is the windows' one:\n"
    "for an installed copy (../share/zrm-scanner/installed exists, seen from the\n"
    "executable's folder) $XDG_DATA_HOME/zrm-scanner, by default ~/.local/share/zrm-scanner;\n"
    "for any other copy the executable's folder.\n"
    "\n"
    "Messages go to standard error, in the program's words. Exit status: 0 done,\n"
    "1 a meter refused or did not answer (or a file or standard output could not be\n"
    "written, or the question was declined), 2 usage error or a file the write checks\n"
    "refuse, 3 the port cannot be opened, 130 interrupted. A watch ended by Ctrl-C, or\n"
    "by its reader closing standard output (watch ... | head), closes the port and exits\n"
    "0 when every meter answered every round, else 1.\n";

// The first failure to write standard output; EPIPE when its reader went away.
int g_outputError = 0;

// False once standard output has failed: the command should end.
bool Out(const QString& text)
{
    if (g_outputError != 0)
        return false;
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0)
        return true;
    g_outputError = errno != 0 ? errno : EIO;
    return false;
}

void Err(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int UsageError(const QString& what)
{
    Err(QStringLiteral("zrm-cli: ") + what + QStringLiteral("\nTry 'zrm-cli --help'.\n"));
    return kUsage;
}

bool ParseSerial(const QString& text, SerialNumber& n)
{
    bool ok = false;
    const uint v = text.toUInt(&ok, 10);
    if (!ok || v > 65535)
        return false;
    n = SerialNumber(v);
    return true;
}

// The float's shortest decimal form, so 0.05f goes out as 0.05 and not as
// the double nearest to it.
double JsonNumber(float v)
{
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return QByteArray(buffer, int(r.ptr - buffer)).toDouble();
}

struct Command {
    QString name;
    QStringList args;
    QString port;
    bool json = false;
    bool yes = false;
    int periodMs = 1000;
    long long count = 0;  // 0: until interrupted
};

class Cli {
public:
    Cli(const Command& c, Interruption& interruption, TerminalMessages& messages)
        : m_c(c), m_interruption(interruption), m_messages(messages)
    {
        // A watch polls, as the chart windows do: no operation to record.
        if (c.name != QLatin1String("watch"))
            JournalLinkOperations(m_link);
        interruption.SetOnInterrupt([this] {
            // Closing ends the exchange: no further send can go out, and the
            // reply timer's slot ends the wait at once.
            m_link.ComPort1().Close();
            m_link.Timer1Timer();
        });
    }

    ~Cli() { m_interruption.SetOnInterrupt(nullptr); }
    Cli(const Cli&) = delete;
    Cli& operator=(const Cli&) = delete;

    int Run();

private:
    bool OpenPort();
    // The port has gone from under an open handle (an unplugged adapter).
    bool PortLost();
    int Finish(bool done) const;

    int Identify();
    int Read(SerialNumber n);
    int Save(SerialNumber n, const QString& file);
    int Write(SerialNumber n, const QString& file);
    int Reset(SerialNumber n);
    int Watch(const std::vector<SerialNumber>& serials);

    const Command& m_c;
    Interruption& m_interruption;
    TerminalMessages& m_messages;
    DeviceLink m_link;
    QString m_portName;
};

bool Cli::OpenPort()
{
    m_portName = m_c.port.isEmpty() ? SettingsPortName() : m_c.port;
    if (OpenLinkPort(m_link.ComPort1(), m_portName))
        return true;
    ShowMessage(MsgKind::Error, PortOpenFailureText(m_portName));
    return false;
}

bool Cli::PortLost()
{
    // A hung-up terminal refuses every request at once, so this tells a lost
    // adapter from a silent meter without waiting.
    try {
        m_link.ComPort1().InputCount();
        return false;
    } catch (const EComError&) {
        return true;
    }
}

int Cli::Finish(bool done) const
{
    if (m_interruption.Requested())
        return kInterrupted;
    return done ? kSuccess : kFailed;
}

int Cli::Identify()
{
    if (!m_link.IdentifyDevice(0))
        return Finish(false);
    Out(QString::number(m_link.CurrentSerialNumber) + QLatin1Char('\n'));
    return kSuccess;
}

int Cli::Read(SerialNumber n)
{
    if (!m_link.ReadMainState(n) || !m_link.ReadMainConfig(n))
        return Finish(false);
    const DeviceState& s = m_link.MainState;
    const DeviceConfig& c = m_link.MainConfig;
    if (m_c.json) {
        QJsonObject o;
        o.insert(QStringLiteral("SN"), int(n));
        o.insert(QStringLiteral("FlowRate"), JsonNumber(s.FlowRate));
        o.insert(QStringLiteral("VolumeCounter"), double(s.VolumeCounter));
        o.insert(QStringLiteral("Volume"), double(s.VolumeCounter) / m_link.VolumeScale);
        o.insert(QStringLiteral("OperatingHours"), JsonNumber(s.OperatingHours));
        for (int i = 0; i < kConfigValueCount; ++i)
            o.insert(QString::fromLatin1(kConfigValueKeys[size_t(i)]), JsonNumber(c.Value(i)));
        Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        return kSuccess;
    }
    // The state memo's lines, then the configuration memo's (professional set).
    Out((StateLines(s, m_link.VolumeScale) + ConfigLines(c, false)).join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return kSuccess;
}

int Cli::Save(SerialNumber n, const QString& file)
{
    DeviceConfig c;
    if (!m_link.ReadDeviceConfig(n, c))
        return Finish(false);
    return RunHandler([&] { SaveCoefFile(file, EditorTextsOf(n, c)); }) ? kSuccess : kFailed;
}

int Cli::Write(SerialNumber n, const QString& file)
{
    // A file the checks refuse is reported before the meter is addressed.
    const EditorTexts texts = LoadCoefFile(file);
    WriteApproval approval = WriteApproval::CheckFailed;
    if (!RunHandler([&] { approval = ApproveConfigWrite(texts); }) || approval == WriteApproval::CheckFailed)
        return kUsage;
    if (approval == WriteApproval::Declined)
        return Finish(false);
    const EditedConfig edited = ConvertEditorTexts(texts);
    // The tail bytes the meter keeps come from a read, as in the windows.
    DeviceConfig c;
    if (!m_link.ReadDeviceConfig(n, c))
        return Finish(false);
    edited.ApplyTo(c);
    return Finish(m_link.WriteDeviceConfig(n, edited.Serial, c));
}

int Cli::Reset(SerialNumber n)
{
    const QString question = QStringLiteral("Обнулить счетчик ЗРМ №") + QString::number(n) + QLatin1Char('?');
    if (ShowMessage(MsgKind::Confirmation, question, mbYes | mbNo) != ModalResult::Yes)
        return Finish(false);
    m_link.ResetDeviceCounter(n);
    // The write is done once the driver has the bytes; closing the port
    // purges what the adapter has not sent yet, so the frame gets its wire
    // time (6 bytes at 9600 bit/s) and more first.
    m_interruption.Sleep(50);
    // The operation reports a failed send in an error box; the meter's
    // acknowledgement is not awaited.
    return Finish(!m_messages.ErrorShown());
}

int Cli::Watch(const std::vector<SerialNumber>& serials)
{
    QString header = QStringLiteral("time");
    for (SerialNumber n : serials)
        header += QLatin1Char(',') + QString::number(n);
    if (!Out(header + QLatin1Char('\n')))
        return kSuccess;

    TComPort& port = m_link.ComPort1();
    bool allAnswered = true;
    QElapsedTimer round;
    for (long long rows = 0; m_c.count == 0 || rows < m_c.count; ++rows) {
        round.start();
        // A lost port is tried again once a round, quietly until it opens.
        if (!port.Active() && OpenLinkPort(port, m_portName))
            Err(QStringLiteral("Порт ") + m_portName + QStringLiteral(" снова открыт, опрос продолжается\n"));
        // Each row is written out at once and nothing is kept: a watch may run for weeks.
        QString row = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
        for (SerialNumber n : serials) {
            DeviceState s;
            bool ok = false;
            if (port.Active()) {
                // The boxes of a read that failed because the port went are
                // not the meter's: one line says what happened instead.
                m_messages.Hold();
                ok = m_link.ReadDeviceState(n, s);
                const bool lost = !ok && !m_interruption.Requested() && PortLost();
                m_messages.Release(!lost);
                if (lost) {
                    port.Close();
                    Err(QStringLiteral("Порт ") + m_portName +
                        QStringLiteral(" пропал (адаптер отключен?); опрос продолжится, когда он появится\n"));
                }
            }
            // An interrupted row is left out rather than written half.
            if (m_interruption.Requested())
                return allAnswered ? kSuccess : kFailed;
            row += QLatin1Char(',');
            if (ok)
                row += QString::number(double(s.FlowRate), 'f', 3);  // '.' whatever the locale: CSV
            allAnswered = allAnswered && ok;
        }
        // A reader that went away (watch | head) ends the watch as Ctrl-C does.
        if (!Out(row + QLatin1Char('\n')))
            break;
        if (m_c.count != 0 && rows + 1 >= m_c.count)
            break;
        if (!m_interruption.Sleep(int(std::max<qint64>(0, m_c.periodMs - round.elapsed()))))
            break;
    }
    return allAnswered ? kSuccess : kFailed;
}

int Cli::Run()
{
    const QString& cmd = m_c.name;
    const QStringList& a = m_c.args;

    if (cmd == QLatin1String("ports")) {
        if (!a.isEmpty())
            return UsageError(QStringLiteral("ports takes no arguments"));
        std::vector<std::string> ports;
        ListSerialPorts(ports);
        for (const std::string& p : ports)
            Out(QString::fromStdString(p) + QLatin1Char('\n'));
        return kSuccess;
    }

    struct Shape {
        const char* name;
        int minArgs, maxArgs;  // maxArgs -1: any number of serial numbers
        bool json, yes, watch;
    };
    static const Shape shapes[] = {
        {"identify", 0, 0, false, false, false}, {"read", 1, 1, true, false, false},
        {"save", 1, 2, false, false, false},     {"write", 1, 2, false, true, false},
        {"reset", 1, 1, false, true, false},     {"watch", 1, -1, false, false, true},
    };
    const Shape* shape = nullptr;
    for (const Shape& s : shapes)
        if (cmd == QLatin1String(s.name))
            shape = &s;
    if (!shape)
        return UsageError(QStringLiteral("unknown command '") + cmd + QLatin1Char('\''));
    if (a.size() < shape->minArgs || (shape->maxArgs >= 0 && a.size() > shape->maxArgs))
        return UsageError(QStringLiteral("wrong number of arguments for ") + cmd);
    if ((m_c.json && !shape->json) || (m_c.yes && !shape->yes))
        return UsageError(QStringLiteral("option not valid for ") + cmd);

    std::vector<SerialNumber> serials;
    const int serialCount = shape->watch ? int(a.size()) : std::min(1, int(a.size()));
    for (int i = 0; i < serialCount; ++i) {
        SerialNumber n = 0;
        if (!ParseSerial(a[i], n))
            return UsageError(QStringLiteral("not a serial number (0..65535): ") + a[i]);
        serials.push_back(n);
    }
    // The file the configuration editor's save dialog offers for this meter.
    QString file;
    if (cmd == QLatin1String("save") || cmd == QLatin1String("write")) {
        file = a.size() > 1 ? a[1]
                            : CoefRestoreDirectory() + QLatin1Char('/') +
                                  DefaultCoefFileName(QString::number(serials[0]));
    }
    if (cmd == QLatin1String("write") && !QFileInfo(file).isFile())
        return UsageError(QStringLiteral("no such file: ") + file);
    // As the editor's dialog does; a failure shows when the file is written.
    if (cmd == QLatin1String("save") && a.size() == 1)
        QDir().mkpath(CoefRestoreDirectory());

    if (!OpenPort())
        return kNoPort;

    if (cmd == QLatin1String("identify"))
        return Identify();
    if (cmd == QLatin1String("read"))
        return Read(serials[0]);
    if (cmd == QLatin1String("save"))
        return Save(serials[0], file);
    if (cmd == QLatin1String("write"))
        return Write(serials[0], file);
    if (cmd == QLatin1String("reset"))
        return Reset(serials[0]);
    return Watch(serials);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrm-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZRM_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption trace(QStringLiteral("trace"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption period(QStringLiteral("period"), QString(), QStringLiteral("MS"));
    const QCommandLineOption count(QStringLiteral("count"), QString(), QStringLiteral("N"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption since(QStringLiteral("since"), QString(), QStringLiteral("DATE"));
    parser.addOptions({port, trace, json, yes, period, count, help, version, since});
    if (!parser.parse(QCoreApplication::arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(help)) {
        Out(QString::fromUtf8(kUsageText));
        return kSuccess;
    }
    if (parser.isSet(version)) {
        Out(QStringLiteral("zrm-cli ") + QStringLiteral(ZRM_VERSION) + QLatin1Char('\n'));
        return kSuccess;
    }

    Command c;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return UsageError(QStringLiteral("no command"));
    c.name = positional.takeFirst();
    if (c.name == QLatin1String("history"))
        return RunHistory(positional, parser.value(since), parser.isSet(json));
    if (parser.isSet(since))
        return UsageError(QStringLiteral("--since is for history"));
    c.args = positional;
    c.port = parser.value(port);
    c.json = parser.isSet(json);
    c.yes = parser.isSet(yes);
    bool ok = true;
    if (parser.isSet(period) || parser.isSet(count)) {
        if (c.name != QLatin1String("watch"))
            return UsageError(QStringLiteral("--period and --count are for watch"));
        if (parser.isSet(period) && ((c.periodMs = parser.value(period).toInt(&ok)), !ok || c.periodMs < 0))
            return UsageError(QStringLiteral("--period needs a number of milliseconds"));
        if (parser.isSet(count) && ((c.count = parser.value(count).toLongLong(&ok)), !ok || c.count < 1))
            return UsageError(QStringLiteral("--count needs a positive number"));
    }

    const QString traceProblem = TraceToFileFromEnvironment();
    if (!traceProblem.isEmpty())
        Err(QStringLiteral("zrm-cli: ") + traceProblem + QLatin1Char('\n'));
    if (parser.isSet(trace))
        TraceToStandardError();

    InstallQtSerialEventDelivery();
    Interruption interruption;
    TerminalMessages messages(interruption, c.yes);
    Messages::install(&messages);
    // Settings.ini and Restore/ where the windows keep them.
    AppPaths::LocateAndUse();
    int status = kUsage;
    StartCliJournal(QStringLiteral(ZRM_VERSION));
    {
        Cli cli(c, interruption, messages);
        status = cli.Run();
    }  // the port is closed here, before the service goes
    StopCliJournal();
    Messages::install(nullptr);
    if (g_outputError != 0 && g_outputError != EPIPE) {
        Err(QStringLiteral("zrm-cli: standard output: ") + QString::fromLocal8Bit(std::strerror(g_outputError)) +
            QLatin1Char('\n'));
        if (status == kSuccess)
            status = kFailed;
    }
    return status;
}
