// The component's own logic over a scripted device: sequences, event mask,
// dispatch order, the error path and the synchronous call onto the UI thread.

#include "com_device.h"
#include "com_port.h"
#include "com_sync.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace {

struct DeviceScript {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Log;
    std::string FailAt;
    int FailCode = EIO;
    bool Open = false;
    uint32_t Mask = 0;
    bool MaskChanged = false;
    std::deque<uint32_t> Events;
    TLineSettings Line;
    TTimeoutValues Timeouts;

    void Inject(uint32_t events)
    {
        {
            std::lock_guard lock(Lock);
            Events.push_back(events);
        }
        Changed.notify_all();
    }
    std::vector<std::string> TakeLog()
    {
        std::lock_guard lock(Lock);
        return std::exchange(Log, {});
    }
};

class ScriptedDevice : public TComDevice {
public:
    explicit ScriptedDevice(std::shared_ptr<DeviceScript> s) : S(std::move(s)) {}

    int CreateSignals() override { return Step("CreateSignals"); }
    void CloseSignals() override { Step("CloseSignals"); }
    int Open(const std::string&) override
    {
        int r = Step("Open");
        S->Open = r == 0;
        return r;
    }
    bool IsOpen() const override { return S->Open; }
    void Close() override
    {
        if (S->Open)
            Step("Close");
        S->Open = false;
    }
    int Purge(TPurge What) override { return Step(What == TPurge::Input ? "PurgeInput" : "PurgeOutput"); }
    int SetupBuffers(int32_t, int32_t) override { return Step("SetupBuffers"); }
    int ApplyLine(const TLineSettings& s) override
    {
        S->Line = s;
        return Step("ApplyLine");
    }
    int ApplyTimeouts(const TTimeoutValues& t) override
    {
        S->Timeouts = t;
        return Step("ApplyTimeouts");
    }
    int SetEventMask(uint32_t Mask) override
    {
        {
            std::lock_guard lock(S->Lock);
            S->Mask = Mask;
            S->MaskChanged = true;
        }
        S->Changed.notify_all();
        return Step("SetEventMask");
    }
    uint32_t WaitEvent() override
    {
        std::unique_lock lock(S->Lock);
        S->Changed.wait(lock, [this] { return S->MaskChanged || !S->Events.empty(); });
        if (S->MaskChanged) {
            S->MaskChanged = false;
            return 0;
        }
        uint32_t e = S->Events.front();
        S->Events.pop_front();
        return e & S->Mask;
    }
    int StartRead(void*, int32_t) override { return 0; }
    bool ReadPending() const override { return false; }
    int WaitRead(int32_t& n) override { return n = 0; }
    int StartWrite(const void*, int32_t) override { return 0; }
    bool WritePending() const override { return false; }
    int WaitWrite(int32_t& n) override { return n = 0; }
    int InputCount(int32_t& n) override { return n = 0; }
    int LineErrors(TLineErrors& e) override
    {
        e = {leFrame, leOverrun};
        return 0;
    }
    int ModemStatus(TModemStatus& s) override
    {
        s = {};
        return 0;
    }

private:
    int Step(const char* name)
    {
        std::lock_guard lock(S->Lock);
        S->Log.push_back(name);
        return S->FailAt == name ? S->FailCode : 0;
    }
    std::shared_ptr<DeviceScript> S;
};

class ScriptedPort : public TCustomComPort {
public:
    explicit ScriptedPort(std::shared_ptr<DeviceScript> s)
        : TCustomComPort(nullptr, std::make_unique<ScriptedDevice>(std::move(s)))
    {
    }
};

class PortLogic : public ::testing::Test {
protected:
    Watchdog Guard{20s};
    std::shared_ptr<DeviceScript> Script = std::make_shared<DeviceScript>();
    ScriptedPort Port{Script};
};

TEST(PortDefaults, MatchTheDocumentedDefaults)
{
    TComPort port;
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.DeviceName(), "COM2");
    EXPECT_EQ(port.BaudRate(), brDefault);
    EXPECT_EQ(port.DataBits(), dbDefault);
    EXPECT_EQ(port.Parity(), paDefault);
    EXPECT_EQ(port.StopBits(), sbDefault);
    EXPECT_TRUE(port.Options().Empty());
    EXPECT_EQ(port.PriorityClass(), pcDefault);
    EXPECT_TRUE(port.SynchronizeEvents());
    EXPECT_EQ(port.BufferSizes().Input(), 4096);
    EXPECT_EQ(port.BufferSizes().Output(), 2048);
    EXPECT_EQ(port.Characters().XOn(), 17);
    EXPECT_EQ(port.Characters().XOff(), 19);
    EXPECT_EQ(port.Characters().Error(), 0);
    EXPECT_EQ(port.Characters().Eof(), 0);
    EXPECT_EQ(port.Characters().Event(), 0);
    EXPECT_EQ(port.FlowControl().DTR(), dcDefault);
    EXPECT_EQ(port.FlowControl().RTS(), rcDefault);
    EXPECT_EQ(port.FlowControl().XOnXOff(), xcDefault);
    EXPECT_EQ(port.FlowControl().XOnLimit(), 0);
    EXPECT_EQ(port.FlowControl().XOffLimit(), 0);
    const TTimeouts& t = port.Timeouts();
    EXPECT_EQ(t.ReadInterval() | t.ReadMultiplier() | t.ReadConstant() | t.WriteMultiplier() |
                  t.WriteConstant(),
              0);
    EXPECT_EQ(port.EventMask(), 0u);
    std::string about = port.About();
    port.SetAbout("changed");
    EXPECT_EQ(port.About(), about);
    EXPECT_FALSE(about.empty());
}

TEST_F(PortLogic, EachLineEventHandlerAddsItsBit)
{
    TNotifyEvent h = [](TObject*) {};
    const std::vector<std::pair<void (TCustomComPort::*)(TNotifyEvent), uint32_t>> table = {
        {&TCustomComPort::SetOnRxChar, EV_RXCHAR},     {&TCustomComPort::SetOnRxFlag, EV_RXFLAG},
        {&TCustomComPort::SetOnTxEmpty, EV_TXEMPTY},   {&TCustomComPort::SetOnCTSChange, EV_CTS},
        {&TCustomComPort::SetOnDSRChange, EV_DSR},     {&TCustomComPort::SetOnRLSDChange, EV_RLSD},
        {&TCustomComPort::SetOnBreak, EV_BREAK},       {&TCustomComPort::SetOnRing, EV_RING},
        {&TCustomComPort::SetOnPrinterError, EV_PERR}, {&TCustomComPort::SetOnRx80PercFull, EV_RX80FULL},
        {&TCustomComPort::SetOnEvent1, EV_EVENT1},     {&TCustomComPort::SetOnEvent2, EV_EVENT2},
    };
    for (auto [set, bit] : table) {
        (Port.*set)(h);
        EXPECT_EQ(Port.EventMask(), bit);
        (Port.*set)(nullptr);
    }
    Port.SetOnLineError([](TObject*, TLineErrors) {});
    EXPECT_EQ(Port.EventMask(), EV_ERR);
}

TEST_F(PortLogic, OpenRunsTheStepsInOrder)
{
    Port.SetOnRxChar([](TObject*) {});
    Port.Open();
    EXPECT_TRUE(Port.Active());
    EXPECT_EQ(Script->TakeLog(),
              (std::vector<std::string>{"CloseSignals", "CreateSignals", "Open", "PurgeInput",
                                        "PurgeOutput", "SetupBuffers", "ApplyLine", "ApplyTimeouts",
                                        "SetEventMask"}));
    EXPECT_EQ(Script->Mask, EV_RXCHAR);
    Port.Close();
    EXPECT_EQ(Script->TakeLog(), (std::vector<std::string>{"PurgeInput", "PurgeOutput", "SetEventMask",
                                                           "Close", "CloseSignals"}));
    EXPECT_EQ(Script->Mask, 0u);
}

TEST_F(PortLogic, AFailingOpenStepClosesEverythingAndReportsTheSystemError)
{
    const size_t threads = ThreadCount();
    for (const char* step : {"CreateSignals", "Open", "PurgeInput", "PurgeOutput", "SetupBuffers",
                             "ApplyLine", "ApplyTimeouts", "SetEventMask"}) {
        SCOPED_TRACE(step);
        Script->FailAt = step;
        Script->FailCode = EACCES;
        try {
            Port.Open();
            ADD_FAILURE() << "open succeeded";
        } catch (const EComError& e) {
            EXPECT_EQ(e.ErrorCode, EACCES);
            EXPECT_EQ(e.Message(), SystemErrorText(EACCES));
        }
        EXPECT_FALSE(Port.Active());
        EXPECT_EQ(ThreadCount(), threads);
        auto log = Script->TakeLog();
        EXPECT_EQ(log.back(), "CloseSignals");
    }
    Script->FailAt.clear();
    Port.Open(); // a failed open leaves nothing behind
    EXPECT_TRUE(Port.Active());
}

TEST_F(PortLogic, DefaultMembersLeaveTheDriverSettingsAlone)
{
    Port.Open();
    const TLineSettings& s = Script->Line;
    EXPECT_FALSE(s.BaudRate || s.DataBits || s.Parity || s.StopBits);
    EXPECT_EQ(s.DTR, dcDefault);
    EXPECT_EQ(s.RTS, rcDefault);
    EXPECT_EQ(s.XOnXOff, xcDefault);
    EXPECT_EQ(s.XOnChar, 17);
    EXPECT_EQ(s.XOffChar, 19);
}

TEST_F(PortLogic, EveryBaudRateMemberCarriesItsRate)
{
    const uint32_t rates[] = {110,   300,   600,   1200,  2400,  4800,   9600,   10400,  14400,
                              19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};
    Port.Open();
    for (int i = br110; i <= br256000; ++i) {
        Port.SetBaudRate(TBaudRate(i));
        ASSERT_TRUE(Script->Line.BaudRate);
        EXPECT_EQ(*Script->Line.BaudRate, rates[i - br110]);
    }
    const std::pair<TDataBits, int> sizes[] = {{db4, 4}, {db5, 5}, {db6, 6}, {db7, 7}, {db8, 8}};
    for (auto [bits, count] : sizes) {
        Port.SetDataBits(bits);
        EXPECT_EQ(Script->Line.DataBits, count);
    }
}

TEST_F(PortLogic, APropertyChangeWhileOpenReappliesOnlyItsGroup)
{
    Port.Open();
    Script->TakeLog();
    struct Case {
        const char* Name;
        std::function<void()> Change;
        std::vector<std::string> Expected;
    };
    const std::vector<Case> cases = {
        {"BaudRate", [&] { Port.SetBaudRate(br19200); }, {"ApplyLine"}},
        {"same BaudRate", [&] { Port.SetBaudRate(br19200); }, {}},
        {"Parity", [&] { Port.SetParity(paNone); }, {"ApplyLine"}},
        {"Options", [&] { Port.SetOptions({opCheckParity}); }, {"ApplyLine"}},
        {"DTR", [&] { Port.FlowControl().SetDTR(dcEnable); }, {"ApplyLine"}},
        {"XOffLimit", [&] { Port.FlowControl().SetXOffLimit(5); }, {"ApplyLine"}},
        {"Event char", [&] { Port.Characters().SetEvent('\r'); }, {"ApplyLine"}},
        {"ReadConstant", [&] { Port.Timeouts().SetReadConstant(2000); }, {"ApplyTimeouts"}},
        {"WriteConstant", [&] { Port.Timeouts().SetWriteConstant(10); }, {"ApplyTimeouts"}},
        {"Input", [&] { Port.BufferSizes().SetInput(8192); }, {"SetupBuffers"}},
        {"OnRxChar", [&] { Port.SetOnRxChar([](TObject*) {}); }, {"SetEventMask"}},
        {"OnBreak", [&] { Port.SetOnBreak(nullptr); }, {"SetEventMask"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Change();
        EXPECT_EQ(Script->TakeLog(), c.Expected);
    }
    EXPECT_EQ(Script->Timeouts.ReadConstant, 2000);
    EXPECT_EQ(Script->Line.EventChar, '\r');
    Port.Close();
    Script->TakeLog();
    Port.SetBaudRate(br9600);
    Port.Timeouts().SetReadConstant(1);
    EXPECT_TRUE(Script->TakeLog().empty()); // closed: takes effect on the next open
}

TEST_F(PortLogic, HandlersRunInTheFixedOrder)
{
    std::mutex lock;
    std::vector<std::string> calls;
    TLineErrors seen;
    auto record = [&](const char* name) {
        return [&, name](TObject* sender) {
            EXPECT_EQ(sender, &Port);
            std::lock_guard l(lock);
            calls.push_back(name);
        };
    };
    Port.SetOnRxChar(record("RxChar"));
    Port.SetOnRxFlag(record("RxFlag"));
    Port.SetOnTxEmpty(record("TxEmpty"));
    Port.SetOnCTSChange(record("CTS"));
    Port.SetOnDSRChange(record("DSR"));
    Port.SetOnRLSDChange(record("RLSD"));
    Port.SetOnBreak(record("Break"));
    Port.SetOnRing(record("Ring"));
    Port.SetOnPrinterError(record("PrinterError"));
    Port.SetOnRx80PercFull(record("Rx80"));
    Port.SetOnEvent1(record("Event1"));
    Port.SetOnEvent2(record("Event2"));
    Port.SetOnLineError([&](TObject*, TLineErrors e) {
        std::lock_guard l(lock);
        seen = e;
        calls.push_back("LineError");
    });
    Port.Open(); // no poster: the dispatch runs on the event thread
    Script->Inject(0x1FFF);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::lock_guard l(lock);
        if (calls.size() == 13)
            break;
        std::this_thread::yield();
    }
    Port.Close();
    EXPECT_EQ(calls, (std::vector<std::string>{"Break", "CTS", "DSR", "LineError", "Event1", "Event2",
                                               "PrinterError", "Ring", "RLSD", "Rx80", "RxChar",
                                               "RxFlag", "TxEmpty"}));
    EXPECT_EQ(seen, (TLineErrors{leFrame, leOverrun}));
}

TEST_F(PortLogic, OnErrorCanTurnAnErrorIntoASilentAbort)
{
    std::vector<std::pair<int32_t, std::string>> seen;
    TComAction answer = caRaise;
    Port.SetOnError([&](TCustomComPort* port, EComError& e, TComAction& action) {
        EXPECT_EQ(port, &Port);
        EXPECT_EQ(action, caRaise);
        seen.emplace_back(e.ErrorCode, e.Message());
        action = answer;
    });
    char b = 0;
    EXPECT_THROW(Port.Write(&b, 1, true), EComError);
    answer = caAbort;
    EXPECT_THROW(Port.Write(&b, 1, true), EComAbort);
    Script->FailAt = "Open";
    Script->FailCode = ENOENT;
    EXPECT_THROW(Port.Open(), EComAbort);
    EXPECT_FALSE(Port.Active());
    const std::pair<int32_t, std::string> closed{0, SClosedPort};
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, std::string>>{
                        closed, closed, {ENOENT, SystemErrorText(ENOENT)}}));
}

TEST_F(PortLogic, AnErrorInAHandlerGoesToTheApplicationAndDeliveryGoesOn)
{
    std::vector<std::string> reported;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            reported.push_back(x.what());
        }
    });
    TestUiThread ui;
    int calls = 0;
    Port.SetOnRxChar([&](TObject*) {
        ++calls;
        if (calls == 1)
            throw std::runtime_error("'x' is not a valid integer value");
        if (calls == 2)
            throw EComAbort();
    });
    Port.SetOnRxFlag([&](TObject*) { ADD_FAILURE() << "the dispatch should have ended"; });
    Port.Open();
    for (int i = 0; i < 3; ++i)
        Script->Inject(EV_RXCHAR | (i < 2 ? EV_RXFLAG : 0));
    EXPECT_TRUE(ui.PumpUntil([&] { return calls == 3; }, 5s));
    Port.Close();
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(reported, std::vector<std::string>{"'x' is not a valid integer value"});
}

TEST_F(PortLogic, SynchronizedHandlersRunOnTheUiThread)
{
    TestUiThread ui;
    std::thread::id ranOn;
    Port.SetOnRxChar([&](TObject*) { ranOn = std::this_thread::get_id(); });
    Port.Open();
    Script->Inject(EV_RXCHAR);
    EXPECT_TRUE(ui.PumpUntil([&] { return ranOn != std::thread::id(); }, 5s));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(PortLogic, CloseCancelsADispatchTheUiThreadHasNotServed)
{
    TestUiThread ui;
    int calls = 0;
    Port.SetOnRxChar([&](TObject*) { ++calls; });
    const size_t threads = ThreadCount();
    Port.Open();
    Script->Inject(EV_RXCHAR);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (ui.Queued() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_EQ(ui.Queued(), 1u); // the event thread now waits for the UI thread
    Port.Close();                // must not wait for a dispatch nobody serves
    EXPECT_EQ(ThreadCount(), threads);
    ui.PumpFor(50ms); // the stale request runs late and does nothing
    EXPECT_EQ(calls, 0);
}

TEST_F(PortLogic, AHandlerMayCloseOrDestroyItsPort)
{
    TestUiThread ui;
    const size_t threads = ThreadCount();
    bool closed = false;
    Port.SetOnRxChar([&](TObject*) {
        Port.Close();
        closed = !Port.Active();
    });
    Port.Open();
    Script->Inject(EV_RXCHAR);
    EXPECT_TRUE(ui.PumpUntil([&] { return closed; }, 5s));
    EXPECT_TRUE(WaitForThreadCount(threads));

    auto script = std::make_shared<DeviceScript>();
    auto owned = std::make_unique<ScriptedPort>(script);
    int after = 0;
    owned->SetOnRxChar([&](TObject*) { owned.reset(); });
    owned->SetOnRxFlag([&](TObject*) { ++after; }); // must not run: the port is gone
    owned->Open();
    script->Inject(EV_RXCHAR | EV_RXFLAG);
    EXPECT_TRUE(ui.PumpUntil([&] { return !owned; }, 5s));
    EXPECT_EQ(after, 0);
    EXPECT_TRUE(WaitForThreadCount(threads));
}

TEST_F(PortLogic, AnUnsynchronizedHandlerMayCloseItsPort)
{
    const size_t threads = ThreadCount();
    Port.SetSynchronizeEvents(false);
    std::atomic<bool> closed = false;
    Port.SetOnRxChar([&](TObject*) {
        Port.Close();
        closed = true;
    });
    Port.Open();
    Script->Inject(EV_RXCHAR);
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!closed && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(WaitForThreadCount(threads));
    EXPECT_FALSE(Port.Active());
}

TEST_F(PortLogic, AnEmptyMaskParksTheThreadAndAHandlerWakesIt)
{
    TestUiThread ui;
    int calls = 0;
    Port.Open();
    Script->Inject(EV_RXCHAR); // nobody listens: stays queued while parked
    ui.PumpFor(50ms);
    Port.SetOnRxChar([&](TObject*) { ++calls; });
    EXPECT_TRUE(ui.PumpUntil([&] { return calls == 1; }, 5s));
}

TEST_F(PortLogic, RefusedValuesWhileOpenAreNotStored)
{
    Port.SetDeviceName("/dev/ttyUSB0");
    Port.Open();
    Port.SetDeviceName("/dev/ttyUSB0"); // the same name is fine
    struct Case {
        const char* Name;
        std::function<void()> Change;
    };
    for (const Case& c : {Case{"DeviceName", [&] { Port.SetDeviceName("/dev/ttyUSB1"); }},
                          Case{"SynchronizeEvents", [&] { Port.SetSynchronizeEvents(false); }},
                          Case{"PriorityClass", [&] { Port.SetPriorityClass(pcHigh); }}}) {
        SCOPED_TRACE(c.Name);
        try {
            c.Change();
            ADD_FAILURE() << "accepted";
        } catch (const EComError& e) {
            EXPECT_EQ(e.ErrorCode, 0);
            EXPECT_EQ(e.Message(), "Can't perform this operation on an open port");
        }
    }
    EXPECT_EQ(Port.DeviceName(), "/dev/ttyUSB0");
    EXPECT_TRUE(Port.SynchronizeEvents());
    EXPECT_EQ(Port.PriorityClass(), pcDefault);
}

TEST_F(PortLogic, WhileLoadingActiveIsOnlyRecorded)
{
    Port.BeginLoading();
    Port.SetActive(true);
    EXPECT_FALSE(Port.Active());
    EXPECT_TRUE(Script->TakeLog().empty());
    Port.Loaded();
    EXPECT_TRUE(Port.Active());
}

} // namespace
