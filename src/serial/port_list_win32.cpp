// Port discovery on Windows: the serial ports the system's drivers have
// registered under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM, one value
// per port whose data is the port's device name.

#include "port_list.h"

#include <windows.h>

#include <vector>

namespace {

std::wstring Widen(const std::string& Text)
{
    int n = ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), nullptr, 0);
    std::wstring wide(size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, Text.data(), int(Text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& Text)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), int(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, Text.data(), int(Text.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

class TKey {
public:
    ~TKey()
    {
        if (Handle)
            ::RegCloseKey(Handle);
    }
    HKEY Handle = nullptr;
};

std::vector<std::wstring> ValueNames(HKEY Key)
{
    std::vector<std::wstring> names;
    DWORD longest = 0;
    if (::RegQueryInfoKeyW(Key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::wstring name;
    for (DWORD index = 0;;) {
        name.assign(size_t(longest) + 1, L'\0');
        DWORD length = longest + 1;
        LONG r = ::RegEnumValueW(Key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_MORE_DATA) { // a longer name was added meanwhile
            longest = longest * 2 + 64;
            continue;
        }
        if (r != ERROR_SUCCESS)
            break;
        name.resize(length);
        names.push_back(name);
        ++index;
    }
    return names;
}

// The value's text up to its first zero character; nothing for a value that
// is gone or holds no text.
bool ReadText(HKEY Key, const std::wstring& Name, std::wstring& Text)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(Key, Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = DWORD(data.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(Key, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) !=
        ERROR_SUCCESS)
        return false;
    data.back() = L'\0';
    Text = data.data();
    return true;
}

} // namespace

void ListSerialPortsInKey(HKEY__* Root, const std::string& SubKey, std::vector<std::string>& Strings)
{
    // Read access is all this needs; full access to HKEY_LOCAL_MACHINE is
    // refused to every user who is not an elevated administrator.
    TKey key;
    if (::RegOpenKeyExW(Root, Widen(SubKey).c_str(), 0, KEY_READ, &key.Handle) != ERROR_SUCCESS)
        return;
    for (const std::wstring& name : ValueNames(key.Handle)) {
        std::wstring text;
        if (ReadText(key.Handle, name, text))
            Strings.push_back(SerialCommEntry(Narrow(text)));
    }
}

void ListSerialPorts(std::vector<std::string>& Strings)
{
    ListSerialPortsInKey(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", Strings);
}

std::string PortAccessGroup(int32_t, const std::string&)
{
    return {};
}
