#pragma once
// The office helper's processes: the helper and the office it starts are
// ended together, and never outlive the program. One implementation per
// system (process_group_posix.cpp, process_group_win32.cpp).

#include <QString>

class QProcess;

class HelperProcessGroup {
public:
    HelperProcessGroup();
    ~HelperProcessGroup();
    HelperProcessGroup(const HelperProcessGroup&) = delete;
    HelperProcessGroup& operator=(const HelperProcessGroup&) = delete;

    // Right after the helper started. The helper starts nothing before its
    // first request, so whatever it starts later is caught with it.
    void Adopt(QProcess& helper);
    // The office's process group, as the helper reports it.
    void NoteOfficeGroup(qint64 id);
    // Ends the office and everything it started; the helper itself is ended
    // through its QProcess.
    void KillOffice();

private:
    qint64 m_officeGroup = 0;
    void* m_job = nullptr;
};

// The file name the system starts a program by: "name", or "name.exe".
QString ExecutableFileName(const QString& name);

// True only when no process with this id exists any more.
bool ProcessGone(qint64 pid);
