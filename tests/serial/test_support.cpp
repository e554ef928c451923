#include "test_support.h"

#include "com_sync.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

TestPty::TestPty(bool Raw)
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0) {
        ADD_FAILURE() << "posix_openpt: " << std::strerror(errno);
        return;
    }
    FSlave = ::ptsname(FMaster);
    if (Raw) {
        // Settings made through the master apply to the slave.
        termios t{};
        ::tcgetattr(FMaster, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(FMaster, TCSANOW, &t);
    }
}

TestPty::~TestPty() { CloseMaster(); }

void TestPty::CloseMaster()
{
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

void TestPty::Send(std::string_view Bytes)
{
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!Bytes.empty()) {
        ssize_t n = ::write(FMaster, Bytes.data(), Bytes.size());
        if (n > 0) {
            Bytes.remove_prefix(size_t(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ADD_FAILURE() << "write to pty master: " << std::strerror(errno);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "pty master stayed full";
            return;
        }
        pollfd p{FMaster, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
}

std::string TestPty::Receive(size_t Count, Millis Timeout)
{
    std::string got;
    auto deadline = std::chrono::steady_clock::now() + Timeout;
    while (got.size() < Count) {
        char buf[4096];
        ssize_t n = ::read(FMaster, buf, std::min(sizeof buf, Count - got.size()));
        if (n > 0) {
            got.append(buf, size_t(n));
            continue;
        }
        auto left = std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{FMaster, POLLIN, 0};
        ::poll(&p, 1, int(left.count()));
    }
    return got;
}

TestUiThread::TestUiThread()
{
    SetMainThreadPoster([q = FQueue](std::function<void()> fn) {
        std::lock_guard lock(q->Lock);
        q->Calls.push_back(std::move(fn));
        q->Posted.notify_all();
    });
}

TestUiThread::~TestUiThread()
{
    SetMainThreadPoster(nullptr);
    std::lock_guard lock(FQueue->Lock);
    FQueue->Calls.clear();
}

size_t TestUiThread::Queued()
{
    std::lock_guard lock(FQueue->Lock);
    return FQueue->Calls.size();
}

bool TestUiThread::PumpUntil(const std::function<bool()>& Done, Millis Timeout)
{
    auto deadline = std::chrono::steady_clock::now() + Timeout;
    for (;;) {
        if (Done())
            return true;
        std::function<void()> fn;
        {
            std::unique_lock lock(FQueue->Lock);
            if (!FQueue->Posted.wait_until(lock, deadline, [this] { return !FQueue->Calls.empty(); }))
                return Done();
            fn = std::move(FQueue->Calls.front());
            FQueue->Calls.pop_front();
        }
        fn();
    }
}

void TestUiThread::PumpFor(Millis Duration)
{
    PumpUntil([] { return false; }, Duration);
}

Watchdog::Watchdog(Millis Limit)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "?";
    FThread = std::thread([this, Limit, name] {
        std::unique_lock lock(FLock);
        if (!FDone.wait_for(lock, Limit, [this] { return FFinished; })) {
            std::fprintf(stderr, "%s hung for %lld ms\n", name.c_str(), (long long)Limit.count());
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard lock(FLock);
        FFinished = true;
    }
    FDone.notify_all();
    FThread.join();
}

static size_t CountEntries(const char* dir)
{
    size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

size_t OpenDescriptorCount() { return CountEntries("/proc/self/fd"); }

// A joined thread can still be listed for a moment: the kernel wakes the
// joiner before it unlists the ending task. Every ending task carries
// PF_EXITING from before that wake-up, so it is the flag that says "ended",
// and a thread that has not begun to end is counted whatever it is doing.
static bool IsExiting(const char* tid)
{
    constexpr unsigned long PfExiting = 0x4;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%s/stat", tid);
    FILE* f = std::fopen(path, "re");
    if (!f)
        return true; // unlisted since the directory was read
    char line[512];
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    if (!read)
        return true;
    // The name in parentheses may hold spaces; the flags are the sixth field
    // after the state that follows it.
    const char* rest = std::strrchr(line, ')');
    unsigned long flags = 0;
    if (!rest || std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %lu", &flags) != 1)
        return false;
    return (flags & PfExiting) != 0;
}

size_t ThreadCount()
{
    size_t n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && !IsExiting(e->d_name))
                ++n;
        ::closedir(d);
    }
    return n;
}

bool WaitForThreadCount(size_t Count)
{
    auto deadline = std::chrono::steady_clock::now() + 2s;
    while (ThreadCount() != Count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

Millis ProcessCpuTime()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return std::chrono::duration_cast<Millis>(std::chrono::seconds(ts.tv_sec) +
                                              std::chrono::nanoseconds(ts.tv_nsec));
}

std::string TempDir()
{
    char pattern[] = "/tmp/zrm-serial-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    return dir ? dir : "/tmp";
}
