#include "line_harness.h"

#include "com_sync.h"
#include "frames.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

TUiQueue::TUiQueue()
{
    SetMainThreadPoster([q = FQueue](std::function<void()> fn) {
        std::lock_guard lock(q->Lock);
        q->Calls.push_back(std::move(fn));
        q->Posted.notify_all();
    });
}

TUiQueue::~TUiQueue()
{
    SetMainThreadPoster(nullptr);
    std::lock_guard lock(FQueue->Lock);
    FQueue->Calls.clear();
}

bool TUiQueue::PumpUntil(const std::function<bool()>& Done, Millis Timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + Timeout;
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

void TUiQueue::PumpFor(Millis Duration)
{
    PumpUntil([] { return false; }, Duration);
}

THangGuard::THangGuard(std::string Name, Millis Limit)
{
    FThread = std::thread([this, Limit, Name = std::move(Name)] {
        std::unique_lock lock(FLock);
        if (!FDone.wait_for(lock, Limit, [this] { return FFinished; })) {
            std::fprintf(stderr, "%s hung for %lld ms\n", Name.c_str(), (long long)Limit.count());
            std::fflush(stderr);
            std::_Exit(3);
        }
    });
}

THangGuard::~THangGuard()
{
    {
        std::lock_guard lock(FLock);
        FFinished = true;
    }
    FDone.notify_all();
    FThread.join();
}

TMeterLine::TMeterLine(const std::string& Device)
{
    FPort.SetDeviceName(Device);
    FPort.SetBaudRate(br9600);
    FPort.SetDataBits(db8);
    FPort.SetParity(paNone);
    FPort.SetStopBits(sb1);
    FPort.FlowControl().SetDTR(dcEnable);
    FPort.FlowControl().SetRTS(rcEnable);
    FPort.Timeouts().SetReadConstant(2000);
    FPort.SetOnRxChar([this](TObject*) { FReceived += FPort.ReadAvailable(); });
}

std::string TMeterLine::Exchange(const uint8_t* Frame, int Length, size_t ReplyLength, Millis Timeout)
{
    FReceived.clear();
    FPort.Write(Frame, Length, true);
    FUi.PumpUntil([&] { return FReceived.size() >= ReplyLength; }, Timeout);
    return std::exchange(FReceived, std::string());
}

bool IsReply(const std::string& Bytes, size_t Length, uint16_t Serial, uint8_t Command)
{
    const auto* p = reinterpret_cast<const uint8_t*>(Bytes.data());
    return Bytes.size() == Length && p[0] == Length && p[1] == kDeviceType && ReadU16LE(p + 2) == Serial &&
           p[4] == Command && CheckFrameChecksum(p, int(Bytes.size()));
}
