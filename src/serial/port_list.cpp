#include "port_list.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

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

std::string PortAccessGroup(int32_t ErrorCode, const std::string& Device)
{
    struct stat st {};
    if ((ErrorCode != EACCES && ErrorCode != EPERM) || ::stat(Device.c_str(), &st) != 0)
        return {};
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::to_string(st.st_gid);
    return found->gr_name;
}
#endif

std::string SerialCommEntry(const std::string& Data)
{
    return Data.size() > 4 ? "\\\\.\\" + Data : Data;
}
