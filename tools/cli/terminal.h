#pragma once
// The terminal side of zrm-cli: Ctrl-C turned into an event the waits can
// see, and the message boxes as lines on standard error.

#include "messages.h"

#include <QString>

#include <functional>
#include <optional>

class QSocketNotifier;

// Ctrl-C, as an event of the event loop, so that it ends a wait without
// running anything where it arrives. POSIX (terminal_posix.cpp): SIGINT and
// SIGTERM, written by the handler to a pipe that the event loop watches;
// SIGPIPE ignored, so a closed standard output is a failed write (EPIPE).
// Windows (terminal_win32.cpp): Ctrl-C, Ctrl-Break and the console's
// closing, from the console's handler thread; the console speaks UTF-8 while
// this object lives.
class Interruption {
public:
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    bool Requested() const { return m_requested; }
    // Runs once, on the first signal, from the event loop.
    void SetOnInterrupt(std::function<void()> f) { m_onInterrupt = std::move(f); }

    // Waits ms milliseconds; false when a signal ended the wait.
    bool Sleep(int ms);
    // One line from standard input without its line break; nothing at end of
    // input or on a signal.
    std::optional<QString> ReadLine();

    // The first signal, in the event loop.
    void Interrupted();

private:
    void Drain();

    QSocketNotifier* m_notifier = nullptr;
    std::function<void()> m_onInterrupt;
    std::function<void()> m_endWait;
    bool m_requested = false;
};

// Boxes printed to standard error with their texts unchanged. A question is
// asked on the terminal, or answered yes at once when assumeYes is set; after
// a signal nothing is printed and every box is answered as Esc would.
class TerminalMessages final : public Messages {
public:
    TerminalMessages(Interruption& interruption, bool assumeYes)
        : m_interruption(interruption), m_assumeYes(assumeYes)
    {
    }
    ModalResult show(MsgKind kind, const QString& text, MsgButtons buttons) override;

    // An error box was shown: the operation reported a failure.
    bool ErrorShown() const { return m_errorShown; }

    // The texts of boxes shown from Hold() on are kept back (for operations
    // that ask nothing); Release prints them, or drops them when print is false.
    void Hold();
    void Release(bool print);

private:
    void Print(const QString& text);

    Interruption& m_interruption;
    bool m_assumeYes;
    bool m_errorShown = false;
    bool m_holding = false;
    QString m_held;
};
