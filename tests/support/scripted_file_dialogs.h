#pragma once
// A FileDialogs service for tests: records every request and answers from a
// script (a path, or an empty string for a cancel).

#include "file_dialogs.h"

#include <QString>

#include <deque>
#include <functional>
#include <ostream>
#include <vector>

inline void PrintTo(const FileDialogRequest& r, std::ostream* os)
{
    *os << (r.kind == FileDialogKind::Save ? "Save" : "Open") << " filter=\"" << r.filter.toStdString()
        << "\" suffix=\"" << r.defaultSuffix.toStdString() << "\" dir=\"" << r.initialDirectory.toStdString()
        << "\" name=\"" << r.fileName.toStdString() << "\" overwritePrompt=" << r.overwritePrompt
        << " mustExist=" << r.fileMustExist;
}

class ScriptedFileDialogs : public FileDialogs {
public:
    // Records the request, calls the callback (the dialog counts as open
    // while it runs), then answers with the next queued path; a dialog with
    // nothing queued is cancelled.
    QString run(const FileDialogRequest& request) override;

    void answer(const QString& path) { m_answers.push_back(path); }
    void cancel() { m_answers.push_back(QString()); }
    std::size_t pendingAnswers() const { return m_answers.size(); }
    void onRun(std::function<void(const FileDialogRequest&)> callback) { m_onRun = std::move(callback); }

    const std::vector<FileDialogRequest>& requests() const { return m_requests; }
    std::size_t count() const { return m_requests.size(); }
    void clear();

private:
    std::vector<FileDialogRequest> m_requests;
    std::deque<QString> m_answers;
    std::function<void(const FileDialogRequest&)> m_onRun;
};

// A ScriptedFileDialogs that installs itself for its lifetime and puts back
// the service before it.
class ScopedScriptedFileDialogs : public ScriptedFileDialogs {
public:
    ScopedScriptedFileDialogs() : m_previous(FileDialogs::installed()) { FileDialogs::install(this); }
    ~ScopedScriptedFileDialogs() override { FileDialogs::install(m_previous); }
    ScopedScriptedFileDialogs(const ScopedScriptedFileDialogs&) = delete;
    ScopedScriptedFileDialogs& operator=(const ScopedScriptedFileDialogs&) = delete;

private:
    FileDialogs* m_previous;
};
