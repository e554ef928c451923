#include "scripted_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

ScriptedLine::ScriptedLine(std::string linkPath) : m_link(std::move(linkPath))
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("pty");
    termios t{};
    tcgetattr(m_master, &t);
    cfmakeraw(&t);
    tcsetattr(m_master, TCSANOW, &t);
    ::unlink(m_link.c_str());
    if (::symlink(ptsname(m_master), m_link.c_str()) != 0 || ::pipe(m_wake) != 0)
        throw std::runtime_error("link");
    m_thread = std::thread([this] { Run(); });
}

ScriptedLine::~ScriptedLine()
{
    (void)!::write(m_wake[1], "x", 1);
    m_thread.join();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    ::close(m_master);
    ::unlink(m_link.c_str());
}

void ScriptedLine::Reply(std::vector<uint8_t> bytes)
{
    std::lock_guard lock(m_mutex);
    m_replies.push_back(std::move(bytes));
}

std::vector<std::vector<uint8_t>> ScriptedLine::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void ScriptedLine::Run()
{
    std::vector<uint8_t> pending;
    for (;;) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        uint8_t buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0) {
            // Nobody has the slave open: wait for the wake-up pipe only.
            pollfd w{m_wake[0], POLLIN, 0};
            ::poll(&w, 1, 20);
            if (w.revents)
                return;
            continue;
        }
        pending.insert(pending.end(), buf, buf + n);
        while (!pending.empty() && pending.size() >= pending[0] && pending[0] > 0) {
            std::vector<uint8_t> frame(pending.begin(), pending.begin() + pending[0]);
            pending.erase(pending.begin(), pending.begin() + pending[0]);
            std::vector<uint8_t> reply;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(frame);
                if (!m_replies.empty()) {
                    reply = std::move(m_replies.front());
                    m_replies.pop_front();
                }
            }
            if (!reply.empty())
                (void)!::write(m_master, reply.data(), reply.size());
        }
    }
}
