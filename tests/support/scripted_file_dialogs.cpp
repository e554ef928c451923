#include "scripted_file_dialogs.h"

QString ScriptedFileDialogs::run(const FileDialogRequest& request)
{
    m_requests.push_back(request);
    if (m_onRun)
        m_onRun(request);
    if (m_answers.empty())
        return QString();
    QString path = m_answers.front();
    m_answers.pop_front();
    return path;
}

void ScriptedFileDialogs::clear()
{
    m_requests.clear();
    m_answers.clear();
}
