#include "win_bench.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

std::string Variable(const char* Name)
{
    const char* value = std::getenv(Name);
    return value ? value : "";
}

} // namespace

std::optional<TBenchSetup> BenchSetup()
{
    TBenchSetup b{Variable("ZRM_WIN_PORT"), Variable("ZRM_BENCH_CONTROL"), Variable("ZRM_BENCH_LINK")};
    if (b.Port.empty() || b.Control.empty() || b.Link.empty())
        return std::nullopt;
    return b;
}

std::wstring WinePath(const std::string& LinuxPath)
{
    std::wstring path = L"Z:";
    for (char c : LinuxPath)
        path += c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(c));
    return path;
}

void BenchCommand(const TBenchSetup& Bench, const std::string& Line)
{
    HANDLE fifo = ::CreateFileW(WinePath(Bench.Control).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (fifo == INVALID_HANDLE_VALUE)
        throw std::runtime_error("bench control not reachable, error " + std::to_string(::GetLastError()));
    std::string text = Line + "\n";
    DWORD written = 0;
    BOOL ok = ::WriteFile(fifo, text.data(), DWORD(text.size()), &written, nullptr);
    ::CloseHandle(fifo);
    if (!ok || written != text.size())
        throw std::runtime_error("bench command not written");
}

bool WaitForLink(const TBenchSetup& Bench, bool Present)
{
    const std::wstring path = WinePath(Bench.Link);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        // A device's attributes are refused (ERROR_INVALID_PARAMETER under
        // wine); only "not found" means the link is gone.
        bool exists = true;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            DWORD err = ::GetLastError();
            exists = err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
        }
        if (exists == Present)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

double ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 10000.0;
}
