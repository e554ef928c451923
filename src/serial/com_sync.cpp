#include "com_sync.h"

#include "com_error.h"
#include "sync_call.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex GHooksLock;
TMainThreadPoster GPoster;
std::function<void(std::exception_ptr)> GExceptionHandler;

TMainThreadPoster CurrentPoster()
{
    std::lock_guard lock(GHooksLock);
    return GPoster;
}

void DefaultExceptionHandler(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "serial port event handler: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "serial port event handler: unknown error\n");
    }
}

} // namespace

void SetMainThreadPoster(TMainThreadPoster poster)
{
    std::lock_guard lock(GHooksLock);
    GPoster = std::move(poster);
}

void SetApplicationExceptionHandler(std::function<void(std::exception_ptr)> handler)
{
    std::lock_guard lock(GHooksLock);
    GExceptionHandler = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EComAbort&) {
        return;
    } catch (...) {
    }
    std::function<void(std::exception_ptr)> handler;
    {
        std::lock_guard lock(GHooksLock);
        handler = GExceptionHandler;
    }
    try {
        if (handler)
            handler(error);
        else
            DefaultExceptionHandler(error);
    } catch (...) {
        // The handler of last resort must not take the event thread down.
        DefaultExceptionHandler(std::current_exception());
    }
}

void TSyncCall::Serve()
{
    {
        std::lock_guard lock(FLock);
        if (FState != TState::Pending)
            return;
        FState = TState::Running;
    }
    try {
        FFn();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    {
        std::lock_guard lock(FLock);
        FState = TState::Done;
        FFn = nullptr;
    }
    FChanged.notify_all();
}

void TSyncCall::Cancel()
{
    {
        std::lock_guard lock(FLock);
        if (FState == TState::Pending) {
            FState = TState::Cancelled;
            FFn = nullptr;
        } else if (FState == TState::Running) {
            FReleased = true;
        }
    }
    FChanged.notify_all();
}

void TSyncCall::WaitEnd()
{
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] {
        return FState == TState::Done || FState == TState::Cancelled || FReleased;
    });
}

void TSyncChannel::Run(std::function<void()> Fn)
{
    TMainThreadPoster poster = CurrentPoster();
    if (!poster) {
        Fn();
        return;
    }
    auto call = std::make_shared<TSyncCall>(std::move(Fn));
    {
        std::lock_guard lock(FLock);
        FCurrent = call;
        ++FCurrentId;
    }
    FChanged.notify_all();
    try {
        poster([call] { call->Serve(); });
    } catch (...) {
        call->Cancel();
        HandleApplicationException(std::current_exception());
    }
    call->WaitEnd();
    std::lock_guard lock(FLock);
    if (FCurrent == call)
        FCurrent.reset();
}

void TSyncChannel::Finished()
{
    {
        std::lock_guard lock(FLock);
        FFinished = true;
    }
    FChanged.notify_all();
}

void TSyncChannel::CancelUntilFinished()
{
    std::unique_lock lock(FLock);
    for (;;) {
        if (FCurrent && FCancelledId != FCurrentId) {
            FCancelledId = FCurrentId;
            auto call = FCurrent;
            lock.unlock();
            call->Cancel();
            lock.lock();
            continue;
        }
        if (FFinished)
            return;
        FChanged.wait(lock);
    }
}
