#include "file_replace.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray FsName(const QString& path)
{
    return QFile::encodeName(path);
}

bool WritableByMode(const char* path, mode_t mode, int accessMode)
{
    if (!(mode & S_IWUSR))
        return false;
    return ::geteuid() == 0 || ::access(path, accessMode) == 0;
}

bool MayReplace(const QString& target, FileStatus* status)
{
    struct stat st {};
    if (::stat(FsName(target).constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISREG(st.st_mode) || !WritableByMode(FsName(target).constData(), st.st_mode, W_OK))
        return false;
    if (status)
        *status = FileStatus{true, st.st_mode, st.st_uid, st.st_gid};
    return true;
}

QString HiddenSibling(const QString& target, const QString& ending)
{
    const QFileInfo info(target);
    return info.absolutePath() + QStringLiteral("/.%1.%2").arg(info.fileName()).arg(
                                     QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')) +
           ending;
}

ReplacementFile::ReplacementFile(const QString& target) : m_target(target)
{
    // Beside the target, so the rename stays within one file system; 0666
    // lets the umask give a new file the usual permissions.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = HiddenSibling(target, QStringLiteral(".tmp"));
        m_fd = ::open(FsName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (m_fd >= 0) {
            m_created = true;
            return;
        }
        if (errno != EEXIST)
            return;
    }
}

ReplacementFile::~ReplacementFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_created && !m_committed)
        ::unlink(FsName(m_path).constData());
}

bool ReplacementFile::write(const QByteArray& bytes, const FileStatus& original)
{
    if (m_fd < 0)
        return false;
    if (original.exists) {
        // Keeps the owner when root edits someone's file; an ordinary user
        // cannot give files away, and need not. Owner first: a change of
        // owner clears the set-id bits the mode then restores.
        if (::geteuid() == 0 && ::fchown(m_fd, original.uid, original.gid) != 0) {
            // best effort: the content matters more than the owner
        }
        if (::fchmod(m_fd, original.mode & 07777) != 0)
            return false;
    }
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    if (::fsync(m_fd) != 0)
        return false;
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
}

bool ReplacementFile::commit()
{
    if (!m_created || m_fd >= 0 || !PutInPlace(m_path, m_target))
        return false;
    m_committed = true;
    return true;
}

bool ReplaceFile(const QString& target, const QByteArray& bytes, const FileStatus& original)
{
    ReplacementFile file(target);
    return file.isOpen() && file.write(bytes, original) && file.commit();
}

bool SyncFile(const QString& path)
{
    const int fd = ::open(FsName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

void SyncDirectory(const QString& dir)
{
    const int dfd = ::open(FsName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

bool PutInPlace(const QString& complete, const QString& target)
{
    if (::rename(FsName(complete).constData(), FsName(target).constData()) != 0)
        return false;
    SyncDirectory(QFileInfo(target).absolutePath());
    return true;
}
