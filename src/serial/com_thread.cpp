#include "com_thread.h"

#include "com_port.h"

TComThread::TComThread(TCustomComPort* Owner) : FOwner(Owner) {}

TComThread::~TComThread()
{
    if (FThread.joinable())
        FThread.detach(); // only reached when WaitFor was never called
}

std::shared_ptr<TComThread> TComThread::Create(TCustomComPort* Owner)
{
    std::shared_ptr<TComThread> t(new TComThread(Owner));
    // The thread keeps its own object alive: a Close that runs on the thread
    // itself cannot join it, and the object must outlast the thread.
    t->FThread = std::thread([self = t] { self->Execute(); });
    std::unique_lock lock(t->FLock);
    t->FChanged.wait(lock, [&] { return t->FFirstRun; });
    return t;
}

void TComThread::Terminate()
{
    {
        std::lock_guard lock(FLock);
        FTerminated = true;
    }
    FChanged.notify_all();
}

void TComThread::Suspend()
{
    std::lock_guard lock(FLock);
    FSuspended = true;
}

void TComThread::Resume()
{
    {
        std::lock_guard lock(FLock);
        FSuspended = false;
    }
    FChanged.notify_all();
}

bool TComThread::Suspended() const
{
    std::lock_guard lock(FLock);
    return FSuspended;
}

void TComThread::WaitFor()
{
    if (!FThread.joinable())
        return;
    if (FThread.get_id() == std::this_thread::get_id()) {
        FThread.detach();
        return;
    }
    FChannel.CancelUntilFinished();
    FThread.join();
}

void TComThread::Execute()
{
    {
        std::lock_guard lock(FLock);
        FFirstRun = true;
        FSuspended = true;
    }
    FChanged.notify_all();

    for (;;) {
        {
            std::unique_lock lock(FLock);
            FChanged.wait(lock, [this] { return !FSuspended || FTerminated; });
        }
        if (FTerminated)
            break;
        const uint32_t events = FOwner->WaitForEvent();
        // From here on a terminated thread must not touch its owner: Close
        // may have released it from inside a handler and the port may be gone.
        if (FTerminated)
            break;
        if (events == 0)
            continue;
        TCustomComPort* owner = FOwner;
        if (owner->SynchronizeEvents()) {
            // The call holds this object: it outlives a port that a handler
            // destroys, and its terminate flag says so.
            FChannel.Run([owner, events, self = shared_from_this()] {
                owner->DispatchEvents(events, self->FTerminated);
            });
        } else {
            owner->DispatchEvents(events, FTerminated);
        }
    }
    FChannel.Finished();
}
