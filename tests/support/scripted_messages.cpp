#include "scripted_messages.h"

ModalResult ScriptedMessages::show(MsgKind kind, const QString& text, MsgButtons buttons)
{
    m_shown.push_back({kind, text, buttons});
    if (m_onShow) {
        // A copy: the callback may show further boxes, which grows m_shown.
        const ShownMessage current = m_shown.back();
        m_onShow(current);
    }
    if (m_answers.empty())
        return ModalResult::Ok;
    const ModalResult r = m_answers.front();
    m_answers.pop_front();
    return r;
}

QStringList ScriptedMessages::texts() const
{
    QStringList out;
    for (const ShownMessage& m : m_shown)
        out << m.text;
    return out;
}

void ScriptedMessages::clear()
{
    m_shown.clear();
    m_answers.clear();
}
