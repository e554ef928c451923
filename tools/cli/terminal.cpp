#include "terminal.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    // Nothing more may be done here; a full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}

void ToStandardError(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

Interruption::Interruption()
{
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, [this] { Drain(); });
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

Interruption::~Interruption()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    delete m_notifier;
    for (int& fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void Interruption::Drain()
{
    char buffer[16];
    while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
    }
    if (m_requested)
        return;
    m_requested = true;
    // A second Ctrl-C ends the program at once, should the first not.
    std::signal(SIGINT, SIG_DFL);
    if (m_onInterrupt)
        m_onInterrupt();
    if (m_endWait)
        m_endWait();
}

bool Interruption::Sleep(int ms)
{
    if (m_requested)
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    m_endWait = [&loop] { loop.quit(); };
    loop.exec();
    m_endWait = nullptr;
    return !m_requested;
}

std::optional<QString> Interruption::ReadLine()
{
    QByteArray line;
    bool done = false;
    bool ended = false;
    QEventLoop loop;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char c;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) {
            ended = true;
        } else if (c == '\n') {
            done = true;
        } else {
            line += c;
            return;
        }
        loop.quit();
    });
    m_endWait = [&loop] { loop.quit(); };
    if (!m_requested)
        loop.exec();
    m_endWait = nullptr;
    if (!done || ended || m_requested)
        return std::nullopt;
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

ModalResult TerminalMessages::show(MsgKind kind, const QString& text, MsgButtons buttons)
{
    const bool ok = buttons & mbOK;
    const bool question = kind == MsgKind::Confirmation && ((ok && (buttons & mbCancel)) || ((buttons & mbYes) && (buttons & mbNo)));
    const ModalResult yes = ok ? ModalResult::Ok : ModalResult::Yes;
    const ModalResult no = (buttons & mbCancel) ? ModalResult::Cancel : ModalResult::No;
    if (m_interruption.Requested())
        return question ? no : (ok ? ModalResult::Ok : no);
    if (kind == MsgKind::Error)
        m_errorShown = true;

    QString shown = text;
    shown.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (!question) {
        Print(shown + QLatin1Char('\n'));
        return ok ? ModalResult::Ok : yes;
    }

    const QString yesText = MsgButtonCaption(ok ? mbOK : mbYes);
    const QString noText = MsgButtonCaption(no == ModalResult::Cancel ? mbCancel : mbNo);
    if (m_assumeYes) {
        Print(shown + QLatin1Char(' ') + yesText + QLatin1Char('\n'));
        return yes;
    }
    Print(shown + QStringLiteral(" [") + yesText + QLatin1Char('/') + noText + QStringLiteral("] "));
    const std::optional<QString> answer = m_interruption.ReadLine();
    if (!answer) {
        Print(QStringLiteral("\n"));
        return no;
    }
    const QString a = answer->trimmed().toLower();
    const QStringList agreed = {yesText.toLower(), QStringLiteral("y"), QStringLiteral("yes"), QStringLiteral("д"),
                                QStringLiteral("да"), QStringLiteral("ok")};
    return agreed.contains(a) ? yes : no;
}

void TerminalMessages::Print(const QString& text)
{
    if (m_holding)
        m_held += text;
    else
        ToStandardError(text);
}

void TerminalMessages::Hold()
{
    m_holding = true;
    m_held.clear();
}

void TerminalMessages::Release(bool print)
{
    m_holding = false;
    if (print && !m_held.isEmpty())
        ToStandardError(m_held);
    m_held.clear();
}
