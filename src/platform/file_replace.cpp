#include "file_replace.h"

#include <QFileInfo>
#include <QRandomGenerator>

QString HiddenSibling(const QString& target, const QString& ending)
{
    const QFileInfo info(target);
    return info.absolutePath() + QStringLiteral("/.%1.%2").arg(info.fileName()).arg(
                                     QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')) +
           ending;
}

bool ReplacementFile::commit()
{
    if (!m_created || isOpen() || !PutInPlace(m_path, m_target))
        return false;
    m_committed = true;
    return true;
}

bool ReplaceFile(const QString& target, const QByteArray& bytes, const FileStatus& original)
{
    ReplacementFile file(target);
    return file.isOpen() && file.write(bytes, original) && file.commit();
}
