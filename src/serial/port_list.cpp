#include "port_list.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Serial core lists every port its driver reserved (ttyS0..ttyS31 on a PC);
// type 0 (PORT_UNKNOWN) means no UART answered there.
bool IsPhantomUart(const fs::path& entry)
{
    std::ifstream type(entry / "type");
    int value = -1;
    return type >> value && value == 0;
}

} // namespace

void ListSerialPortsIn(const std::string& ClassDir, const std::string& DevDir,
                       std::vector<std::string>& Strings)
{
    std::error_code ec;
    for (fs::directory_iterator it(ClassDir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        std::error_code linkError;
        if (!fs::exists(entry / "device", linkError) || IsPhantomUart(entry))
            continue;
        Strings.push_back((fs::path(DevDir) / entry.filename()).string());
    }
}

#ifndef _WIN32 // Windows: port_list_win32.cpp
void ListSerialPorts(std::vector<std::string>& Strings)
{
    ListSerialPortsIn("/sys/class/tty", "/dev", Strings);
}
#endif

std::string SerialCommEntry(const std::string& Data)
{
    return Data.size() > 4 ? "\\\\.\\" + Data : Data;
}
