#include "app_paths.h"

#include "messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>

// Relative to the executable's directory; the build passes the ones the
// install rules use (GNUInstallDirs).
#ifndef ZRM_INSTALLED_DATA_DIR
#define ZRM_INSTALLED_DATA_DIR "../share/zrm-scanner"
#endif
#ifndef ZRM_INSTALLED_HELPER_DIR
#define ZRM_INSTALLED_HELPER_DIR "../libexec/zrm-scanner"
#endif

namespace {

std::mutex g_mutex;
QString g_directory;
bool g_set = false;
QString g_resources;
QString g_helpers;

// "/dir/" and "/dir" name the same place; keep one form so a file name is
// never joined with a doubled separator (but "/" itself stays "/").
QString Trimmed(QString dir)
{
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString Join(const QString& dir, const QString& name)
{
    if (dir.isEmpty())
        return name;
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}

QString ExecutableDir()
{
    return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
}

// The directories are set once at start-up but may be read from any thread.
void Store(QString& slot, const QString& dir)
{
    std::lock_guard lock(g_mutex);
    slot = Trimmed(dir);
}

QString Load(const QString& slot)
{
    std::lock_guard lock(g_mutex);
    return slot;
}

} // namespace

AppLocations AppPaths::Locate(const QString& executableDir, const QString& userDataDir, bool* created)
{
    if (created)
        *created = true;
    const QDir exe(executableDir);
    const QString data = QDir::cleanPath(exe.filePath(QStringLiteral(ZRM_INSTALLED_DATA_DIR)));
    AppLocations where;
    if (!QFileInfo(data + QStringLiteral("/installed")).isFile()) {
        where.files = where.resources = where.helpers = Trimmed(executableDir);
        return where;
    }
    where.installed = true;
    where.files = Trimmed(userDataDir);
    where.resources = data;
    where.helpers = QDir::cleanPath(exe.filePath(QStringLiteral(ZRM_INSTALLED_HELPER_DIR)));
    const bool made = QDir().mkpath(where.files);
    if (created)
        *created = made;
    return where;
}

QString AppPaths::UserDataDirectory()
{
    // Shared by both variants, whatever the application's display name.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/zrm-scanner");
}

void AppPaths::Use(const AppLocations& where)
{
    setDirectory(where.files);
    setResourceDirectory(where.resources);
    setHelperDirectory(where.helpers);
}

AppLocations AppPaths::LocateAndUse()
{
    bool created = true;
    const AppLocations where = Locate(ExecutableDir(), UserDataDirectory(), &created);
    Use(where);
    if (!created)
        ShowMessage(MsgKind::Error, QStringLiteral("Не удалось создать папку для файлов программы: ") +
                                        QDir::toNativeSeparators(where.files));
    return where;
}

void AppPaths::setDirectory(const QString& dir)
{
    std::lock_guard lock(g_mutex);
    g_directory = Trimmed(dir);
    g_set = true;
}

QString AppPaths::directory()
{
    {
        std::lock_guard lock(g_mutex);
        if (g_set)
            return g_directory;
    }
    // Not set yet: the executable's directory, as a portable copy has it.
    return ExecutableDir();
}

QString AppPaths::file(const QString& name)
{
    return Join(directory(), name);
}

void AppPaths::setResourceDirectory(const QString& dir)
{
    Store(g_resources, dir);
}

QString AppPaths::resourceFile(const QString& name)
{
    const QString dir = Load(g_resources);
    return dir.isEmpty() ? file(name) : Join(dir, name);
}

void AppPaths::setHelperDirectory(const QString& dir)
{
    Store(g_helpers, dir);
}

QString AppPaths::helperFile(const QString& name)
{
    const QString dir = Load(g_helpers);
    return Join(dir.isEmpty() ? ExecutableDir() : dir, name);
}
