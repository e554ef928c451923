#pragma once
// A hand-driven line for replies no well-behaved meter sends: a pseudo-
// terminal linked at a path, whose far side answers each request with the
// next scripted byte string (silence once the script runs out).

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedLine {
public:
    explicit ScriptedLine(std::string linkPath);
    ~ScriptedLine();
    ScriptedLine(const ScriptedLine&) = delete;
    ScriptedLine& operator=(const ScriptedLine&) = delete;

    void Reply(std::vector<uint8_t> bytes);
    // Every request frame received, as read (6 or 62 bytes each).
    std::vector<std::vector<uint8_t>> Requests() const;

private:
    void Run();

    std::string m_link;
    int m_master = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_mutex;
    std::deque<std::vector<uint8_t>> m_replies;
    std::vector<std::vector<uint8_t>> m_requests;
    std::thread m_thread;
};
