#pragma once
// A Messages service for tests: records every box and answers from a script,
// so a test can assert the exact texts and drive the program's questions.

#include "messages.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <ostream>
#include <sstream>
#include <functional>
#include <initializer_list>
#include <vector>

// Readable GoogleTest failure messages.
inline void PrintTo(ModalResult r, std::ostream* os)
{
    static const char* const names[] = {"None", "Ok", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No", "All"};
    const int i = int(r);
    *os << "ModalResult::" << (i >= 0 && i < 9 ? names[i] : "?");
}

inline void PrintTo(MsgKind k, std::ostream* os)
{
    static const char* const names[] = {"Error", "Warning", "Information", "Confirmation", "Plain"};
    const int i = int(k);
    *os << "MsgKind::" << (i >= 0 && i < 5 ? names[i] : "?");
}

struct ShownMessage {
    MsgKind kind;
    QString text;
    MsgButtons buttons;

    bool operator==(const ShownMessage&) const = default;
};

inline void PrintTo(const ShownMessage& m, std::ostream* os)
{
    PrintTo(m.kind, os);
    *os << " \"" << m.text.toStdString() << "\" buttons=0x" << std::hex << m.buttons << std::dec;
}

// Readable QCOMPARE failures (QTest finds it by argument-dependent lookup).
inline char* toString(const std::vector<ShownMessage>& boxes)
{
    std::ostringstream os;
    os << '[';
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        os << (i ? ", " : "");
        PrintTo(boxes[i], &os);
    }
    os << ']';
    return qstrdup(os.str().c_str());
}

class ScriptedMessages : public Messages {
public:
    // Records the box, calls the callback (the box counts as open while it
    // runs; it may queue the answer), then answers with the next queued
    // result, or Ok when none is queued.
    ModalResult show(MsgKind kind, const QString& text, MsgButtons buttons) override;

    void answer(ModalResult r) { m_answers.push_back(r); }
    void answer(std::initializer_list<ModalResult> rs) { m_answers.insert(m_answers.end(), rs); }
    std::size_t pendingAnswers() const { return m_answers.size(); }

    void onShow(std::function<void(const ShownMessage&)> callback) { m_onShow = std::move(callback); }

    const std::vector<ShownMessage>& shown() const { return m_shown; }
    QStringList texts() const;
    std::size_t count() const { return m_shown.size(); }
    // Forgets the recorded boxes and the queued answers.
    void clear();

private:
    std::vector<ShownMessage> m_shown;
    std::deque<ModalResult> m_answers;
    std::function<void(const ShownMessage&)> m_onShow;
};

// Installs a service for its lifetime and puts back the one before it.
class MessagesInstaller {
public:
    explicit MessagesInstaller(Messages& m)
        : m_previous(Messages::installed())
    {
        Messages::install(&m);
    }
    ~MessagesInstaller() { Messages::install(m_previous); }
    MessagesInstaller(const MessagesInstaller&) = delete;
    MessagesInstaller& operator=(const MessagesInstaller&) = delete;

private:
    Messages* m_previous;
};

// A ScriptedMessages that installs itself for its lifetime.
class ScopedScriptedMessages : public ScriptedMessages {
public:
    ScopedScriptedMessages() : m_installer(*this) {}

private:
    MessagesInstaller m_installer;
};
