#include "process_group.h"

#include <QProcess>

#include <windows.h>

// A job object holds the helper and, since a job is inherited, everything it
// starts. Closing the job's last handle ends them all: the program's handle
// closes when the program ends, however it ends.

HelperProcessGroup::HelperProcessGroup()
{
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        ::CloseHandle(job);
        return;
    }
    m_job = job;
}

HelperProcessGroup::~HelperProcessGroup()
{
    if (m_job)
        ::CloseHandle(static_cast<HANDLE>(m_job));  // ends whatever is still in it
}

void HelperProcessGroup::Adopt(QProcess& helper)
{
    if (!m_job || helper.processId() <= 0)
        return;
    HANDLE process = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(helper.processId()));
    if (!process)
        return;
    ::AssignProcessToJobObject(static_cast<HANDLE>(m_job), process);
    ::CloseHandle(process);
}

void HelperProcessGroup::NoteOfficeGroup(qint64 id) { m_officeGroup = id; }

void HelperProcessGroup::KillOffice()
{
    // The job holds the helper too, which is being ended as well whenever
    // this is called; a new helper is adopted into the same job.
    if (m_job)
        ::TerminateJobObject(static_cast<HANDLE>(m_job), 1);
    m_officeGroup = 0;
}

QString ExecutableFileName(const QString& name) { return name + QStringLiteral(".exe"); }

bool ProcessGone(qint64 pid)
{
    if (pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    // An ended process whose handle someone still holds is gone too.
    const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    ::CloseHandle(process);
    return ended;
}
