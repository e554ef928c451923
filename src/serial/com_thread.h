#pragma once
// The port's event thread: waits for line events and hands each one to the
// port's dispatch, on the UI thread when events are synchronized.
//
// Created parked with every open, woken by a non-empty event mask, parked
// again by an empty one, terminated and joined by every close.

#include "sync_call.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class TCustomComPort;

class TComThread : public std::enable_shared_from_this<TComThread> {
public:
    // Returns once the new thread has parked itself. Throws std::system_error
    // when no thread can be made.
    static std::shared_ptr<TComThread> Create(TCustomComPort* Owner);
    ~TComThread();

    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void Terminate();
    bool Terminated() const { return FTerminated; }
    void Suspend();
    void Resume();
    bool Suspended() const;
    // Waits for the thread to end, cancelling any call it makes onto the UI
    // thread meanwhile. Called on the thread itself (Close from a handler
    // that runs on it) it lets the thread end on its own instead.
    void WaitFor();

private:
    explicit TComThread(TCustomComPort* Owner);
    void Execute();

    TCustomComPort* const FOwner;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    bool FFirstRun = false;
    bool FSuspended = false;
    std::atomic<bool> FTerminated{false};
    TSyncChannel FChannel;
    std::thread FThread;
};
