#include "terminal.h"

#include <QEventLoop>
#include <QSocketNotifier>

#include <csignal>

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

}  // namespace

Interruption::Interruption()
{
    // A reader that goes away (watch | head) shows as EPIPE from a write,
    // which Out() turns into the end of the command; the port is then closed
    // as after Ctrl-C. Never put back: the last flush at exit may meet it too.
    std::signal(SIGPIPE, SIG_IGN);
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
    // A second Ctrl-C ends the program at once, should the first not.
    std::signal(SIGINT, SIG_DFL);
    Interrupted();
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
