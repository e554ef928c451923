#include "link_port.h"

#include "app_paths.h"
#include "ini_file.h"

#include <exception>

QString SettingsFilePath()
{
    return AppPaths::file(QStringLiteral("Settings.ini"));
}

QString SettingsPortName()
{
    const IniFile ini(SettingsFilePath());
    return ini.readString(QStringLiteral("CONFIG"), QStringLiteral("COM"), QStringLiteral("COM1"));
}

bool OpenLinkPort(TComPort& port, const QString& name)
{
    try {
        port.Close();
        port.SetDeviceName(name.toStdString());
        port.Open();
        return true;
    } catch (const std::exception&) {
        port.Close();
        return false;
    }
}

QString PortOpenFailureText(const QString& name)
{
    return QStringLiteral("Нет возможности открыть порт ") + name;
}
