#pragma once
// INI files with the semantics of the Windows profile services the meters'
// software has always used: Windows-1251 text, CRLF lines, case-insensitive
// section and key names, a missing file, section or key gives the default,
// writing a key updates that one line in place and keeps every other line.
// Every write reaches the disk at once and atomically (temp file, fsync,
// rename), so a failed write leaves the old file intact.
// Of a section name that appears twice only the first is read or written, as
// with GetPrivateProfileString. A file larger than 16 MiB, a directory or a
// device in place of the file reads as missing and is never rewritten (writes
// throw EIniFileException). A file without the owner's write bit counts as
// read-only, also for root. A symbolic link is written through to its target.
// ini_file.cpp describes the line syntax in full.
// An IniFile can also hold its bytes in memory (inMemory): the same reading
// and editing code then works on those bytes instead of the disk's.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

struct IniLayout;

class IniFile {
public:
    explicit IniFile(QString path);
    // The bytes of a file as if read from disk; name stands for the path in
    // messages. Writes edit the bytes held and never touch the disk. Bytes
    // over the size limit read as a missing file and refuse writes, as an
    // oversized file does.
    static IniFile inMemory(QByteArray bytes, QString name);
    const QString& fileName() const { return m_path; }
    // The bytes an in-memory file holds now; empty for one on disk.
    QByteArray bytes() const { return m_memory.value_or(QByteArray()); }

    // The value with blanks around it trimmed (and one pair of enclosing
    // quotes removed), or def.
    QString readString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal written with "$" or "0x"; anything else gives def.
    int readInteger(const QString& section, const QString& key, int def) const;
    // A real in the user's locale (StrToFloat); anything else gives def.
    double readFloat(const QString& section, const QString& key, double def) const;

    bool sectionExists(const QString& section) const;
    bool valueExists(const QString& section, const QString& key) const;
    // Key names of a section, in file order.
    QStringList readSection(const QString& section) const;
    // Section names, in file order.
    QStringList readSections() const;

    // Writes key=value, creating file and section (not directories) as
    // needed; the key's line is replaced in place, a new key goes after the
    // last non-blank line of its section, a new section at the end. Throws
    // EIniFileException ("Unable to write to <path>") when the file cannot be
    // written, and AppError when value holds CR or LF (that would inject
    // keys). Characters outside Windows-1251 are stored as "?".
    void writeString(const QString& section, const QString& key, const QString& value);
    // Raises the AppError writeString would raise for these, writing nothing:
    // for a caller that writes several keys and must refuse before the first.
    void checkWritable(const QString& section, const QString& key, const QString& value) const;
    void writeInteger(const QString& section, const QString& key, int value);
    // Both remove every occurrence (duplicated sections, duplicated keys in
    // the section) and leave a missing file missing.
    void eraseSection(const QString& section);
    void deleteKey(const QString& section, const QString& key);

private:
    using Edit = std::function<std::optional<QByteArray>(const QByteArray&, const IniLayout&)>;
    // The file's text cut into sections and keys: read now for a file on
    // disk, the one kept with the bytes for a file in memory.
    std::shared_ptr<const IniLayout> layout() const;
    void rewrite(bool create, const Edit& edit);

    QString m_path;
    std::optional<QByteArray> m_memory;
    std::shared_ptr<const IniLayout> m_layout;  // of m_memory, kept with it
};
