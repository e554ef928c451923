#include "fuzz_common.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zrm-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

QString ScratchPath(const char* name)
{
    static QTemporaryDir* dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/zrm-fuzz-XXXXXX"));
    return dir->filePath(QString::fromUtf8(name));
}

void WriteFileBytes(const QString& path, const uint8_t* data, size_t size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    if (f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
}
