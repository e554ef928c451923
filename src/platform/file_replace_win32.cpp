#include "file_replace.h"
#include "win_path.h"

#include <windows.h>

namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool MayReplace(const QString& target, FileStatus* status)
{
    const DWORD attributes = ::GetFileAttributesW(WinPath(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY))
        return false;
    if (status)
        *status = FileStatus{true, uint32_t(attributes), 0, 0};
    return true;
}

bool WritableDirectory(const QString& dir)
{
    // Windows has no owner write bit on directories (FILE_ATTRIBUTE_READONLY
    // on a folder only marks it customised): whether new files can be made
    // there shows when the hidden sibling is created.
    const DWORD attributes = ::GetFileAttributesW(WinPath(dir).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

ReplacementFile::ReplacementFile(const QString& target) : m_target(target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = HiddenSibling(target, QStringLiteral(".tmp"));
        const HANDLE h = ::CreateFileW(WinPath(m_path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            m_handle = reinterpret_cast<std::intptr_t>(h);
            m_created = true;
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS)
            return;
    }
}

ReplacementFile::~ReplacementFile()
{
    if (isOpen())
        ::CloseHandle(AsHandle(m_handle));
    if (m_created && !m_committed)
        ::DeleteFileW(WinPath(m_path).c_str());
}

// What the replaced file has is kept by ReplaceFileW when this one takes its place.
bool ReplacementFile::write(const QByteArray& bytes, const FileStatus&)
{
    if (!isOpen())
        return false;
    const HANDLE h = AsHandle(m_handle);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(qMin<qsizetype>(left, 1 << 20));
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        left -= written;
    }
    if (!::FlushFileBuffers(h))
        return false;
    m_handle = kNoHandle;
    return ::CloseHandle(h) != 0;
}

bool SyncFile(const QString& path)
{
    // FlushFileBuffers needs a handle with write access.
    const HANDLE h = ::CreateFileW(WinPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = ::FlushFileBuffers(h);
    return ::CloseHandle(h) && ok;
}

void SyncDirectory(const QString&)
{
    // The moves below are made with write-through: the new name is on the
    // disk when they return.
}

bool PutInPlace(const QString& complete, const QString& target)
{
    const std::wstring from = WinPath(complete);
    const std::wstring to = WinPath(target);
    if (::GetFileAttributesW(to.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0;

    // ReplaceFileW keeps the old file's security and streams. With a backup
    // name it never leaves the target missing: on a failure the old file is
    // either still in place or under the backup name, and is put back.
    const std::wstring backup = WinPath(HiddenSibling(target, QStringLiteral(".old")));
    if (::ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        return true;
    }
    if (::GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(backup.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return false;
}
