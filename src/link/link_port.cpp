#include "link_port.h"

#include "app_paths.h"
#include "ini_file.h"
#include "port_list.h"

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

bool OpenLinkPort(TComPort& port, const QString& name, QString* accessLine)
{
    if (accessLine)
        accessLine->clear();
    const std::string device = name.toStdString();
    try {
        port.Close();
        port.SetDeviceName(device);
        port.Open();
        return true;
    } catch (const EComError& e) {
        port.Close();
        const std::string group = PortAccessGroup(e.ErrorCode, device);
        if (accessLine && !group.empty())
            *accessLine = QStringLiteral("\n\rНет прав на доступ к порту: пользователь должен входить в группу «%1», "
                                         "которой принадлежит порт (после включения в группу войдите в систему "
                                         "заново).")
                              .arg(QString::fromStdString(group));
        return false;
    } catch (const std::exception&) {
        port.Close();
        return false;
    }
}

QString PortOpenFailureText(const QString& name)
{
    return QStringLiteral("Нет возможности открыть порт ") + name;
}
