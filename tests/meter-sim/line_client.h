#pragma once
// The far end of the bench's line as a test sees it: the linked slave opened
// with plain termios, raw 9600 8N1, and a few timed reads.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testline {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes ToBytes(const std::array<uint8_t, N>& a)
{
    return {a.begin(), a.end()};
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/zrm-sim-test-XXXXXX";
        const char* p = mkdtemp(tmpl);
        if (!p)
            throw std::runtime_error("mkdtemp failed");
        m_path = p;
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

class LineClient {
public:
    explicit LineClient(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        t.c_cflag |= CS8 | CLOCAL | CREAD;
        tcsetattr(m_fd, TCSANOW, &t);
        tcflush(m_fd, TCIOFLUSH);
    }
    ~LineClient() { Close(); }
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    void Send(const Bytes& bytes)
    {
        ASSERT_EQ(::write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    template <size_t N>
    void Send(const std::array<uint8_t, N>& a)
    {
        Send(ToBytes(a));
    }

    struct Chunk {
        Clock::time_point t;
        Bytes bytes;
    };

    // Timed reads until `quiet` passes without a byte after the first one,
    // or until `total` has passed.
    std::vector<Chunk> ReadChunks(std::chrono::milliseconds quiet, std::chrono::milliseconds total)
    {
        std::vector<Chunk> chunks;
        const auto end = Clock::now() + total;
        for (;;) {
            auto now = Clock::now();
            auto wait = end - now;
            if (!chunks.empty())
                wait = std::min<Clock::duration>(wait, chunks.back().t + quiet - now);
            if (wait <= Clock::duration::zero())
                return chunks;
            pollfd p{m_fd, POLLIN, 0};
            const int ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1;
            if (poll(&p, 1, ms) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR))
                return chunks;
            uint8_t buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0)
                chunks.push_back({Clock::now(), Bytes(buf, buf + n)});
        }
    }

    Bytes ReadAll(std::chrono::milliseconds quiet = 100ms, std::chrono::milliseconds total = 1500ms)
    {
        Bytes all;
        for (auto& c : ReadChunks(quiet, total))
            all.insert(all.end(), c.bytes.begin(), c.bytes.end());
        return all;
    }

    // As the scanner waits: complete when the count equals the first byte.
    Bytes ReadReply(std::chrono::milliseconds timeout = 1000ms)
    {
        Bytes got;
        const auto end = Clock::now() + timeout;
        while (got.empty() || got.size() != got[0]) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(left.count()) + 1) <= 0)
                continue;
            uint8_t buf[512];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
            else if (p.revents & (POLLHUP | POLLERR))
                break;
        }
        return got;
    }

    template <typename Frame>
    Bytes Ask(const Frame& frame, std::chrono::milliseconds timeout = 1000ms)
    {
        Send(frame);
        return ReadReply(timeout);
    }

private:
    int m_fd = -1;
};

}  // namespace testline
