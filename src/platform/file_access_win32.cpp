#include "file_access.h"
#include "win_path.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

FileLoad ReadRegularFile(const QString& path, qint64 maxSize, QByteArray& bytes)
{
    bytes.clear();
    const HANDLE h = ::CreateFileW(WinPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? FileLoad::Missing
                                                                                 : FileLoad::Unusable;
    }
    FileLoad result = FileLoad::Ok;
    LARGE_INTEGER size{};
    // A device or a pipe opened by its name is no disk file.
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size) || size.QuadPart > maxSize) {
        result = FileLoad::Unusable;
    } else {
        result = ReadToEnd(
            [h](char* to, qint64 room) -> qint64 {
                DWORD r = 0;
                return ::ReadFile(h, to, DWORD(qMin<qint64>(room, 1 << 20)), &r, nullptr) ? qint64(r) : -1;
            },
            size.QuadPart, maxSize, bytes);
    }
    ::CloseHandle(h);
    return result;
}

QString ResolveLinks(const QString& path)
{
    // Qt follows Windows symbolic links and junctions; a shortcut (.lnk) is a
    // file of its own and is not followed, as Windows programs do not.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : QString();
    return target.isEmpty() ? info.absoluteFilePath() : target;
}

DirectoryMade MakePrivateDirectory(const QString& path)
{
    // The default security of a new folder under the user's own folders
    // already keeps other users out; a folder elsewhere inherits its parent's.
    if (::CreateDirectoryW(WinPath(path).c_str(), nullptr))
        return DirectoryMade::Created;
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? DirectoryMade::Exists : DirectoryMade::Failed;
}

QString OpenForAppend(const QString& path, QFile& file)
{
    const HANDLE h = ::CreateFileW(WinPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return QStringLiteral("ошибка Windows %1").arg(::GetLastError());
    // A device or a pipe opened by its name is no disk file.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        return QStringLiteral("это не обычный файл");
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        return QStringLiteral("не удалось открыть");
    }
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        return file.errorString();
    }
    return {};
}
