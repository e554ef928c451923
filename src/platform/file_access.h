#pragma once
// Reading the program's small files and making its private directories, one
// implementation per system (file_access_posix.cpp, file_access_win32.cpp).

#include <QByteArray>
#include <QString>

#include <functional>

class QFile;

enum class FileLoad { Ok, Missing, Unusable };

// Reads a regular file of at most maxSize bytes whole. A directory, a device,
// a FIFO, an unreadable or oversized file is Unusable; bytes is then empty.
FileLoad ReadRegularFile(const QString& path, qint64 maxSize, QByteArray& bytes);

// The file a path names once symbolic links are followed, so a write goes
// through the link and the link stays. A loop or an unreadable link gives
// the path as far as it was followed.
QString ResolveLinks(const QString& path);

enum class DirectoryMade { Created, Exists, Failed };

// A new directory only its owner may use.
DirectoryMade MakePrivateDirectory(const QString& path);

// For the system files above: reads to the end through read (bytes read, 0 at
// the end, -1 on an error), starting from the size the file had, never
// holding more than maxSize + 1 bytes: the size may change under us.
FileLoad ReadToEnd(const std::function<qint64(char*, qint64)>& read, qint64 sizeHint, qint64 maxSize,
                   QByteArray& bytes);

// Opens path for appending, creating it when missing, never waiting: anything
// but a regular file in its place (a FIFO without a reader, a device, a
// directory) is refused at once. Empty on success, else the reason, for the
// user.
QString OpenForAppend(const QString& path, QFile& file);
