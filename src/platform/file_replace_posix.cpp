#include "file_replace.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray FsName(const QString& path) { return QFile::encodeName(path); }

// The owner write bit is the read-only mark; root would pass access().
bool WritableByMode(const QByteArray& path, mode_t mode, int accessMode)
{
    if (!(mode & S_IWUSR))
        return false;
    return ::geteuid() == 0 || ::access(path.constData(), accessMode) == 0;
}

}  // namespace

bool MayReplace(const QString& target, FileStatus* status)
{
    const QByteArray name = FsName(target);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISREG(st.st_mode) || !WritableByMode(name, st.st_mode, W_OK))
        return false;
    if (status)
        *status = FileStatus{true, uint32_t(st.st_mode), uint32_t(st.st_uid), uint32_t(st.st_gid)};
    return true;
}

bool WritableDirectory(const QString& dir)
{
    const QByteArray name = FsName(dir);
    struct stat st {};
    return ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && WritableByMode(name, st.st_mode, W_OK | X_OK);
}

ReplacementFile::ReplacementFile(const QString& target) : m_target(target)
{
    // Beside the target, so the rename stays within one file system; 0666
    // lets the umask give a new file the usual permissions.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = HiddenSibling(target, QStringLiteral(".tmp"));
        const int fd = ::open(FsName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd >= 0) {
            m_handle = fd;
            m_created = true;
            return;
        }
        if (errno != EEXIST)
            return;
    }
}

ReplacementFile::~ReplacementFile()
{
    if (isOpen())
        ::close(int(m_handle));
    if (m_created && !m_committed)
        ::unlink(FsName(m_path).constData());
}

bool ReplacementFile::write(const QByteArray& bytes, const FileStatus& original)
{
    if (!isOpen())
        return false;
    const int fd = int(m_handle);
    if (original.exists) {
        // Keeps the owner when root edits someone's file; an ordinary user
        // cannot give files away, and need not. Owner first: a change of
        // owner clears the set-id bits the mode then restores.
        if (::geteuid() == 0 && ::fchown(fd, uid_t(original.uid), gid_t(original.gid)) != 0) {
            // best effort: the content matters more than the owner
        }
        if (::fchmod(fd, mode_t(original.mode & 07777)) != 0)
            return false;
    }
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return false;
    m_handle = kNoHandle;
    return ::close(fd) == 0;
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
