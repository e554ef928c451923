#pragma once
// A small tmpfs of a test's own, to run out of space or turn read-only on
// purpose. Mounting needs the right to (root in CI); mounted() says whether
// it worked, so a test can skip cleanly elsewhere.

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>

class Tmpfs {
public:
    explicit Tmpfs(const QString& where, const char* size = "size=64k")
        : m_path(where)
    {
        QDir().mkpath(where);
        m_mounted = mount("tmpfs", where.toLocal8Bit().constData(), "tmpfs", 0, size) == 0;
    }
    ~Tmpfs()
    {
        if (m_mounted)
            umount2(m_path.toLocal8Bit().constData(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

    bool mounted() const { return m_mounted; }
    const QString& path() const { return m_path; }
    bool makeReadOnly()
    {
        return mount("tmpfs", m_path.toLocal8Bit().constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Takes every free block, so the next write of any size fails.
    void fill()
    {
        QFile filler(m_path + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        const QByteArray byte(1, 'x');
        while (filler.write(byte) == 1 && filler.flush()) {
        }
    }
    // Gives the space back.
    void drain() { QFile::remove(m_path + QStringLiteral("/filler")); }

private:
    QString m_path;
    bool m_mounted = false;
};
