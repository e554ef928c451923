#include "app_paths.h"

#include <QCoreApplication>

#include <mutex>

namespace {

std::mutex g_mutex;
QString g_directory;
bool g_set = false;

} // namespace

void AppPaths::setDirectory(const QString& dir)
{
    std::lock_guard lock(g_mutex);
    g_directory = dir;
    // "/dir/" and "/dir" name the same place; keep one form so file() never
    // doubles the separator (but "/" itself stays "/").
    while (g_directory.size() > 1 && g_directory.endsWith(QLatin1Char('/')))
        g_directory.chop(1);
    g_set = true;
}

QString AppPaths::directory()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_set)
            return g_directory;
    }
    // Not set yet: the executable's directory, as an installed copy has it.
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
}

QString AppPaths::file(const QString& name)
{
    const QString dir = directory();
    if (dir.isEmpty())
        return name;
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}
