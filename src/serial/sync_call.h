#pragma once
// The synchronous call from the event thread onto the UI thread.
//
// A TSyncCall is shared between the blocked event thread, the callable queued
// on the UI thread and Close; whichever comes last frees it, so a posted
// callable that runs after the port is gone finds a finished call and does
// nothing.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class TSyncCall {
public:
    explicit TSyncCall(std::function<void()> Fn) : FFn(std::move(Fn)) {}

    // UI thread: runs the call unless it was cancelled or already ran.
    void Serve();
    // Cancels a call not yet started. A call already running on the UI thread
    // (Close was reached from inside it) releases its waiter instead, since
    // the waiter would otherwise wait for the very thread that joins it.
    void Cancel();
    // Event thread: blocks until the call ran, was cancelled or released.
    void WaitEnd();

private:
    enum class TState { Pending, Running, Done, Cancelled };
    std::mutex FLock;
    std::condition_variable FChanged;
    std::function<void()> FFn;
    TState FState = TState::Pending;
    bool FReleased = false;
};

// One per event thread: the call it is blocked in, so that Close can find it.
class TSyncChannel {
public:
    // Event thread: runs Fn on the UI thread and waits, or runs it here when
    // no poster is installed.
    void Run(std::function<void()> Fn);
    // Event thread, last thing before it ends.
    void Finished();
    // UI thread, in Close: cancels every call the thread makes until it has
    // finished, so the thread can never stay blocked on a UI thread that is
    // waiting for it.
    void CancelUntilFinished();

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::shared_ptr<TSyncCall> FCurrent;
    uint64_t FCurrentId = 0;
    uint64_t FCancelledId = 0;
    bool FFinished = false;
};

// Hands an error that escaped a handler to the application's handler.
void HandleApplicationException(std::exception_ptr error);
