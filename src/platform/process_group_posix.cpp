#include "process_group.h"

#include <QProcess>

#include <cerrno>
#include <csignal>
#include <signal.h>

// The helper asks for SIGTERM at the program's death itself and then ends
// its office; the office runs in a process group of its own, which the
// helper reports.

HelperProcessGroup::HelperProcessGroup() = default;

HelperProcessGroup::~HelperProcessGroup() { KillOffice(); }

void HelperProcessGroup::Adopt(QProcess&) {}

void HelperProcessGroup::NoteOfficeGroup(qint64 id) { m_officeGroup = id; }

void HelperProcessGroup::KillOffice()
{
    if (m_officeGroup > 0)
        ::kill(-pid_t(m_officeGroup), SIGKILL);
    m_officeGroup = 0;
}

QString ExecutableFileName(const QString& name) { return name; }

bool ProcessGone(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}
