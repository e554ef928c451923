#pragma once
// A folder that cannot be written, for the journal tests.

#include <QFile>
#include <QString>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// A folder that cannot be written, as a user meets it: a read-only mount
// (root writes into any folder whatever its mode), else the folder's mode.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& dir) : m_dir(QFile::encodeName(dir))
    {
        if (::geteuid() == 0) {
            m_mounted = ::mount(m_dir.constData(), m_dir.constData(), nullptr, MS_BIND, nullptr) == 0 &&
                        ::mount(nullptr, m_dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        } else {
            m_mounted = ::chmod(m_dir.constData(), 0555) == 0;
        }
    }
    ~ReadOnlyFolder() { MakeWritable(); }
    bool Ready() const { return m_mounted; }
    void MakeWritable()
    {
        if (!m_mounted)
            return;
        if (::geteuid() == 0)
            ::umount2(m_dir.constData(), MNT_DETACH);
        else
            ::chmod(m_dir.constData(), 0755);
        m_mounted = false;
    }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};
