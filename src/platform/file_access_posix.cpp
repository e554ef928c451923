#include "file_access.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray FsName(const QString& path) { return QFile::encodeName(path); }

}  // namespace

FileLoad ReadRegularFile(const QString& path, qint64 maxSize, QByteArray& bytes)
{
    bytes.clear();
    // Non-blocking: a FIFO in the file's place must not hang the program.
    const int fd = ::open(FsName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? FileLoad::Missing : FileLoad::Unusable;
    struct stat st {};
    FileLoad result = FileLoad::Ok;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxSize) {
        result = FileLoad::Unusable;
    } else {
        result = ReadToEnd(
            [fd](char* to, qint64 room) -> qint64 {
                for (;;) {
                    const ssize_t r = ::read(fd, to, std::size_t(room));
                    if (r >= 0 || errno != EINTR)
                        return r;
                }
            },
            st.st_size, maxSize, bytes);
    }
    ::close(fd);
    return result;
}

QString ResolveLinks(const QString& path)
{
    QString p = QFileInfo(path).absoluteFilePath();
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(FsName(p).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        QByteArray target(4096, '\0');
        const ssize_t n = ::readlink(FsName(p).constData(), target.data(), std::size_t(target.size()));
        if (n <= 0 || n >= target.size())
            return p;
        target.resize(n);
        const QString t = QFile::decodeName(target);
        p = t.startsWith(QLatin1Char('/')) ? t : QFileInfo(p).absolutePath() + QLatin1Char('/') + t;
    }
    return p;  // a loop: whatever uses it next fails on it
}

DirectoryMade MakePrivateDirectory(const QString& path)
{
    if (::mkdir(FsName(path).constData(), 0700) == 0)
        return DirectoryMade::Created;
    return errno == EEXIST ? DirectoryMade::Exists : DirectoryMade::Failed;
}

QString OpenForAppend(const QString& path, QFile& file)
{
    // Non-blocking open: a FIFO without a reader fails at once (ENXIO)
    // instead of waiting for one.
    const int fd = ::open(FsName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                          0644);
    if (fd < 0)
        return errno == ENXIO ? QStringLiteral("это не обычный файл") : QString::fromLocal8Bit(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return QStringLiteral("это не обычный файл");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return {};
}
