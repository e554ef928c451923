#include "terminal.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include <windows.h>

namespace {

Interruption* g_interruption = nullptr;  // touched only by the event loop's thread
std::atomic<bool> g_signalled{false};
HANDLE g_finished = nullptr;
UINT g_inputCodePage = 0;
UINT g_outputCodePage = 0;

// The system runs this on a thread of its own; the event loop does the work.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // A second Ctrl-C ends the program at once, should the first not.
    if (g_signalled.exchange(true))
        return FALSE;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] {
            if (g_interruption && !g_interruption->Requested())
                g_interruption->Interrupted();
        },
        Qt::QueuedConnection);
    // A closing console ends the process as soon as this returns: first the
    // port must be closed and its settings put back.
    if (event == CTRL_CLOSE_EVENT)
        ::WaitForSingleObject(g_finished, 4000);
    return TRUE;
}

}  // namespace

Interruption::Interruption()
{
    g_interruption = this;
    g_finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The texts are UTF-8; without a console these calls fail and change nothing.
    g_inputCodePage = ::GetConsoleCP();
    g_outputCodePage = ::GetConsoleOutputCP();
    ::SetConsoleCP(CP_UTF8);
    ::SetConsoleOutputCP(CP_UTF8);
}

Interruption::~Interruption()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (g_inputCodePage)
        ::SetConsoleCP(g_inputCodePage);
    if (g_outputCodePage)
        ::SetConsoleOutputCP(g_outputCodePage);
    g_interruption = nullptr;
    // Kept open: a handler thread may still be waiting on it.
    if (g_finished)
        ::SetEvent(g_finished);
}

std::optional<QString> Interruption::ReadLine()
{
    if (m_requested)
        return std::nullopt;
    // The line is read on a thread of its own while the event loop waits for
    // it or for Ctrl-C. A read still blocked after Ctrl-C is left behind:
    // nothing reads standard input after that.
    struct Read {
        QEventLoop* loop = nullptr;
        QByteArray line;
        bool done = false;
    };
    const auto read = std::make_shared<Read>();
    QEventLoop loop;
    read->loop = &loop;
    std::thread([read] {
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        QByteArray line;
        bool done = false;
        DWORD mode = 0;
        DWORD n = 0;
        if (::GetConsoleMode(in, &mode)) {
            // A console gives UTF-16; its byte reads lose letters outside ASCII.
            std::wstring text;
            wchar_t c = 0;
            while (::ReadConsoleW(in, &c, 1, &n, nullptr) && n == 1) {
                if (c == L'\n') {
                    done = true;
                    break;
                }
                text += c;
            }
            line = QString::fromStdWString(text).toUtf8();
        } else {
            char c = 0;
            while (::ReadFile(in, &c, 1, &n, nullptr) && n == 1) {
                if (c == '\n') {
                    done = true;
                    break;
                }
                line += c;
            }
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [read, line, done] {
                read->line = line;
                read->done = done;
                if (read->loop)
                    read->loop->quit();
            },
            Qt::QueuedConnection);
    }).detach();
    m_endWait = [&loop] { loop.quit(); };
    loop.exec();
    m_endWait = nullptr;
    read->loop = nullptr;
    if (!read->done || m_requested)
        return std::nullopt;
    QByteArray line = read->line;
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}
