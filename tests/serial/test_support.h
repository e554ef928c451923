#pragma once
// Real pseudo-terminals and small process probes for the serial tests.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// A pty pair: the test plays the far end on the master, the port opens the
// slave (or a symlink to it).
class TestPty {
public:
    // Raw: the slave starts without echo and line editing, so bytes sent
    // before the port has set its own mode are not echoed back.
    explicit TestPty(bool Raw = true);
    ~TestPty();
    TestPty(const TestPty&) = delete;
    TestPty& operator=(const TestPty&) = delete;

    int Master() const { return FMaster; }
    const std::string& SlavePath() const { return FSlave; }

    // Writes every byte (fails the test after 5 s).
    void Send(std::string_view Bytes);
    // Reads until Count bytes came or Timeout passed.
    std::string Receive(size_t Count, Millis Timeout);
    // The unplug: the far side goes away.
    void CloseMaster();

private:
    int FMaster = -1;
    std::string FSlave;
};

// The test's main thread as the UI thread: the installed poster queues
// callables here, and the test runs them when it pumps.
class TestUiThread {
public:
    TestUiThread();  // installs the poster
    ~TestUiThread(); // removes it, drops what is left

    // Runs queued callables until Done() holds or Timeout passes.
    bool PumpUntil(const std::function<bool()>& Done, Millis Timeout);
    void PumpFor(Millis Duration);
    size_t Queued();

private:
    // Shared with the poster: an event thread may still be posting while the
    // test tears down.
    struct Queue {
        std::mutex Lock;
        std::condition_variable Posted;
        std::deque<std::function<void()>> Calls;
    };
    std::shared_ptr<Queue> FQueue = std::make_shared<Queue>();
};

// Ends the test program if a test hangs, naming the test.
class Watchdog {
public:
    explicit Watchdog(Millis Limit);
    ~Watchdog();

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread;
};

size_t OpenDescriptorCount();
// Threads that have not begun to end: a joined thread is no longer counted.
size_t ThreadCount();
// Waits up to 2 s for the process to have Count threads (a detached thread
// needs a moment to end).
bool WaitForThreadCount(size_t Count);
Millis ProcessCpuTime();
std::string TempDir();

// Through termios2: the output speed and the raw speed bits of a terminal.
unsigned OutputSpeed(int Fd);
