#pragma once
// The program's use of the serial line, without Qt, for the Windows tests and
// the exchange benchmark: the test's main thread stands for the UI thread, and
// a port set up as the main window's ComPort1 exchanges frames with the
// virtual meter bench.

#include "com_port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

using Millis = std::chrono::milliseconds;

// Installs the poster: event calls queue here and run when the test pumps.
class TUiQueue {
public:
    TUiQueue();
    ~TUiQueue(); // removes the poster, drops what is left
    TUiQueue(const TUiQueue&) = delete;
    TUiQueue& operator=(const TUiQueue&) = delete;

    // Runs queued calls until Done() holds or Timeout passes; Done()'s value.
    bool PumpUntil(const std::function<bool()>& Done, Millis Timeout);
    void PumpFor(Millis Duration);

private:
    // Shared with the poster: an event thread may still post while the test
    // tears down.
    struct Queue {
        std::mutex Lock;
        std::condition_variable Posted;
        std::deque<std::function<void()>> Calls;
    };
    std::shared_ptr<Queue> FQueue = std::make_shared<Queue>();
};

// Ends the program, naming Name, if it is still alive after Limit.
class THangGuard {
public:
    THangGuard(std::string Name, Millis Limit);
    ~THangGuard();
    THangGuard(const THangGuard&) = delete;
    THangGuard& operator=(const THangGuard&) = delete;

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread;
};

// ComPort1's settings: 9600 8N1, DTR and RTS on, a 2000 ms read limit, and an
// OnRxChar handler that appends ReadAvailable to the received bytes.
class TMeterLine {
public:
    explicit TMeterLine(const std::string& Device);
    TMeterLine(const TMeterLine&) = delete;
    TMeterLine& operator=(const TMeterLine&) = delete;

    TComPort& Port() { return FPort; }
    TUiQueue& Ui() { return FUi; }
    std::string& Received() { return FReceived; }

    // Sends Frame and pumps until ReplyLength bytes have come after it or
    // Timeout passed; the bytes that came (more when a reply was longer).
    std::string Exchange(const uint8_t* Frame, int Length, size_t ReplyLength, Millis Timeout);

private:
    TUiQueue FUi;
    TComPort FPort;
    std::string FReceived;
};

// A reply of Length bytes from meter Serial to Command with a correct checksum.
bool IsReply(const std::string& Bytes, size_t Length, uint16_t Serial, uint8_t Command);
