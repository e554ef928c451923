#include "win_path.h"

#include <QDir>
#include <QFileInfo>

std::wstring WinPath(const QString& path)
{
    const QString given = QDir::toNativeSeparators(path);
    if (path.isEmpty() || given.startsWith(QLatin1String("\\\\?\\")) || given.startsWith(QLatin1String("\\\\.\\")))
        return given.toStdWString();
    // Absolute and clean: no "." or ".." left.
    QString full = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    // Windows drops trailing dots and blanks from every name it is given the
    // ordinary way ("2026 г." is the folder "2026 г"); the \\?\ form takes
    // them literally, so they go here as the other calls would drop them.
    QStringList parts = full.split(QLatin1Char('\\'));
    for (qsizetype i = 1; i < parts.size(); ++i) {
        QString& part = parts[i];
        qsizetype end = part.size();
        while (end > 0 && (part.at(end - 1) == QLatin1Char('.') || part.at(end - 1) == QLatin1Char(' ')))
            --end;
        if (end > 0)
            part.truncate(end);
    }
    full = parts.join(QLatin1Char('\\'));
    if (full.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + full.mid(2)).toStdWString();
    if (full.size() >= 3 && full.at(1) == QLatin1Char(':') && full.at(2) == QLatin1Char('\\'))
        return (QLatin1String("\\\\?\\") + full).toStdWString();
    return full.toStdWString();
}
