#pragma once
// Replacing a file whole. The new version is written under a hidden name
// beside the old one, reaches the disk, and then takes the old one's name in
// one rename, so a full disk, a crash or a kill leaves either the old content
// or the whole new one, never a mix. Used for every file the program writes.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

QByteArray FsName(const QString& path);

// The owner, group and mode a replacement keeps.
struct FileStatus {
    bool exists = false;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The read-only attribute of a file is its owner write bit. Root's open()
// would ignore it, and a rename over the file ignores it for anyone, so it
// is checked explicitly.
bool WritableByMode(const char* path, mode_t mode, int accessMode);

// True when target may be replaced: it does not exist, or it is a regular
// file not marked read-only. status (when given) receives what it has.
bool MayReplace(const QString& target, FileStatus* status = nullptr);

// ".<name>.<random><ending>" in target's directory.
QString HiddenSibling(const QString& target, const QString& ending);

// A new hidden file beside its target, removed again unless committed.
class ReplacementFile {
public:
    explicit ReplacementFile(const QString& target);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }

    // The whole content, on the disk when this returns true. An existing
    // original passes its status: the replacement keeps owner and mode.
    bool write(const QByteArray& bytes, const FileStatus& original = {});
    // Takes target's name (and syncs the directory); false leaves target as it was.
    bool commit();

private:
    QString m_target;
    QString m_path;
    int m_fd = -1;
    bool m_created = false;
    bool m_committed = false;
};

// Writes bytes over target whole; false when it could not, target as it was.
bool ReplaceFile(const QString& target, const QByteArray& bytes, const FileStatus& original = {});

bool SyncFile(const QString& path);
// The rename itself must reach the disk too. Some file systems refuse fsync
// on a directory; the new file is in place by then either way.
void SyncDirectory(const QString& dir);
// A complete file takes target's name in one step; false leaves both as they were.
bool PutInPlace(const QString& complete, const QString& target);
