#pragma once
// The machine's serial ports, for the port combo box.

#include <cstdint>
#include <string>
#include <vector>

// Appends one entry per serial port, in the system's own order; does not
// clear, sort or deduplicate Strings. Each entry is a name DeviceName accepts.
// Linux: every /sys/class/tty entry backed by a device, as /dev/NAME, in
// directory order; serial-core ports without a UART behind them are skipped.
// Windows: the values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM in
// the registry's order, each through SerialCommEntry.
void ListSerialPorts(std::vector<std::string>& Strings);

// The same over another sysfs class directory (tests use a tree of their own).
void ListSerialPortsIn(const std::string& ClassDir, const std::string& DevDir,
                       std::vector<std::string>& Strings);

// The group that owns a port's device when opening it failed for want of
// permission (errno EACCES or EPERM), so the user can be told which group to
// join; empty for any other failure, or where no group owns devices (Windows).
std::string PortAccessGroup(int32_t ErrorCode, const std::string& Device);

// The Windows registry rule for one "serialcomm" value: device names longer
// than four characters ("COM10") need the "\\.\" prefix to be opened.
std::string SerialCommEntry(const std::string& Data);

#ifdef _WIN32
struct HKEY__;
// The same over any registry key (tests use one of their own). A missing key
// lists nothing; values that hold no text are passed over.
void ListSerialPortsInKey(HKEY__* Root, const std::string& SubKey, std::vector<std::string>& Strings);
#endif
