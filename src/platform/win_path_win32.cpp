#include "win_path.h"

#include <QDir>
#include <QFileInfo>

std::wstring WinPath(const QString& path)
{
    const QString given = QDir::toNativeSeparators(path);
    if (path.isEmpty() || given.startsWith(QLatin1String("\\\\?\\")) || given.startsWith(QLatin1String("\\\\.\\")))
        return given.toStdWString();
    // Absolute and clean: no "." or ".." left.
    const QString full = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    if (full.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + full.mid(2)).toStdWString();
    if (full.size() >= 3 && full.at(1) == QLatin1Char(':') && full.at(2) == QLatin1Char('\\'))
        return (QLatin1String("\\\\?\\") + full).toStdWString();
    return full.toStdWString();
}
