#pragma once
// Replacing a file whole. The new version is written under a hidden name
// beside the old one, reaches the disk, and then takes the old one's name in
// one step, so a full disk, a crash or a kill leaves either the old content
// or the whole new one, never a mix. Used for every file the program writes.
// The system calls are in file_replace_posix.cpp and file_replace_win32.cpp.

#include <QByteArray>
#include <QString>

#include <cstdint>

// What a replacement keeps of the file it replaces: on POSIX systems its
// owner, group and mode; on Windows its attributes (ReplaceFileW keeps the
// rest: security, streams, creation time).
struct FileStatus {
    bool exists = false;
    uint32_t mode = 0;
    uint32_t uid = 0;
    uint32_t gid = 0;
};

// True when target may be replaced: it does not exist, or it is a regular
// file not marked read-only. The mark (owner write bit, read-only attribute)
// is checked explicitly: root's open() would ignore it, and a rename over the
// file ignores it for anyone. status (when given) receives what it has.
bool MayReplace(const QString& target, FileStatus* status = nullptr);

// True when new files can be made in dir (the hidden sibling is made there),
// with the same explicit check of the owner's write permission.
bool WritableDirectory(const QString& dir);

// ".<name>.<random><ending>" in target's directory.
QString HiddenSibling(const QString& target, const QString& ending);

// A new hidden file beside its target, removed again unless committed.
class ReplacementFile {
public:
    explicit ReplacementFile(const QString& target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    bool isOpen() const { return m_handle != kNoHandle; }
    const QString& path() const { return m_path; }

    // The whole content, on the disk when this returns true. An existing
    // original passes its status: the replacement keeps what it has.
    bool write(const QByteArray& bytes, const FileStatus& original = {});
    // Takes target's name (and syncs the directory); false leaves target as it was.
    bool commit();

private:
    // A file descriptor or a Windows HANDLE.
    static constexpr std::intptr_t kNoHandle = -1;

    QString m_target;
    QString m_path;
    std::intptr_t m_handle = kNoHandle;
    bool m_created = false;
    bool m_committed = false;
};

// Writes bytes over target whole; false when it could not, target as it was.
bool ReplaceFile(const QString& target, const QByteArray& bytes, const FileStatus& original = {});

// The file's content on the disk.
bool SyncFile(const QString& path);
// The rename itself must reach the disk too. Some file systems refuse to
// sync a directory; the new file is in place by then either way.
void SyncDirectory(const QString& dir);
// A complete file takes target's name in one step; false leaves both as they were.
bool PutInPlace(const QString& complete, const QString& target);
