#pragma once
// The port the meters are on: where Settings.ini keeps its name, and opening
// it the way the main window does.

#include "com_port.h"

#include <QString>

// "Settings.ini" in the program's directory (AppPaths).
QString SettingsFilePath();

// The port Settings.ini names (section CONFIG, key COM); "COM1" when it names none.
QString SettingsPortName();

// Closes the port, then opens it under name. False, with the port closed,
// when it cannot be opened; accessLine (when given) is then set to a second
// line for the user's box when the user lacks the permission to open the
// port (it names the group that owns it), else emptied.
bool OpenLinkPort(TComPort& port, const QString& name, QString* accessLine = nullptr);

// "Нет возможности открыть порт " followed by the name.
QString PortOpenFailureText(const QString& name);
