// The serial port on Linux: termios2 for the line, poll() for events, eventfd
// for wake-ups. Every operating-system call of the serial component is here.
//
// Bytes arrive through a receive queue: while received-character events are
// wanted, the event thread drains the device into the queue and reports the
// bytes it took. poll() is level-triggered, so reporting "readable" would
// repeat for bytes nobody has read yet; taking them out of the kernel makes
// every event stand for bytes that are new, as on Windows.

#include "com_device.h"
#include "rx_queue.h"

#include <asm/termbits.h> // termios2, for speeds such as 10400; <termios.h> would clash
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
// Events that need the device drained into the queue to be noticed.
constexpr uint32_t kReceiveEvents = EV_RXCHAR | EV_RXFLAG | EV_RX80FULL | EV_ERR | EV_BREAK;
constexpr size_t kMinQueue = 256;
constexpr size_t kMaxQueue = 1 << 20;

bool IsNoModemLines(int err) { return err == ENOTTY || err == EINVAL; }

int RetryIoctl(int fd, unsigned long request, void* arg)
{
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r < 0 ? errno : 0;
}

void Signal(int eventFd)
{
    uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Drain(int eventFd)
{
    uint64_t count;
    while (::read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// Milliseconds left until deadline, for poll(); 0 once it has passed.
int MillisUntil(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

struct TSpeedCode {
    uint32_t Rate;
    tcflag_t Code;
};
constexpr TSpeedCode kSpeedCodes[] = {
    {110, B110},     {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
    {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400},
};

void SetSpeed(termios2& t, uint32_t rate)
{
    tcflag_t code = BOTHER;
    for (const auto& s : kSpeedCodes)
        if (s.Rate == rate)
            code = s.Code;
    // Input speed bits 0 mean "same as output".
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code;
    if (code == BOTHER)
        t.c_cflag |= BOTHER << IBSHIFT;
    t.c_ispeed = t.c_ospeed = rate;
}

// 0 or EINVAL: tcsetattr succeeds when any part was taken, so the governed
// fields are read back. A pty, for one, silently keeps 8 bits and no parity.
int Verify(const termios2& want, const termios2& got, const TLineSettings& s)
{
    if (s.BaudRate) {
        double ratio = double(got.c_ospeed) / double(want.c_ospeed);
        if (ratio < 0.97 || ratio > 1.03)
            return EINVAL;
    }
    if (s.DataBits && (want.c_cflag & CSIZE) != (got.c_cflag & CSIZE))
        return EINVAL;
    constexpr tcflag_t parity = PARENB | PARODD | CMSPAR;
    if (s.Parity && (want.c_cflag & parity) != (got.c_cflag & parity))
        return EINVAL;
    if (s.StopBits && (want.c_cflag & CSTOPB) != (got.c_cflag & CSTOPB))
        return EINVAL;
    return 0;
}

// Fills the line record the way the component asks; EINVAL for what a Linux
// terminal cannot express.
int Compose(termios2& t, const TLineSettings& s)
{
    // Raw 8-bit transfers, as a Windows port always has (fBinary): no line
    // editing, no echo, no character translation, modem lines not watched.
    // The terminal's own XON/XOFF (IXON is on by default on Linux) goes too:
    // it would stop our output at every 0x13 in a binary reply. Only
    // XOnXOff switches it on.
    t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY | IMAXBEL |
                   IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (s.BaudRate)
        SetSpeed(t, *s.BaudRate);
    if (s.DataBits) {
        static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        if (*s.DataBits < 5 || *s.DataBits > 8)
            return EINVAL;
        t.c_cflag = (t.c_cflag & ~CSIZE) | sizes[*s.DataBits - 5];
    }
    if (s.Parity) {
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (*s.Parity) {
        case paOdd: t.c_cflag |= PARENB | PARODD; break;
        case paEven: t.c_cflag |= PARENB; break;
        case paMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case paSpace: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
    }
    if (s.StopBits) {
        // A UART sends one and a half stop bits only for 5-bit characters,
        // where CSTOPB means exactly that.
        if (*s.StopBits == sb1_5 && (t.c_cflag & CSIZE) != CS5)
            return EINVAL;
        if (*s.StopBits == sb1)
            t.c_cflag &= ~CSTOPB;
        else
            t.c_cflag |= CSTOPB;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(s.XOnChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XOffChar);
    if (s.XOnXOff != xcDefault) {
        if (s.XOnXOff == xcInput || s.XOnXOff == xcInputOutput)
            t.c_iflag |= IXOFF;
        if (s.XOnXOff == xcOutput || s.XOnXOff == xcInputOutput)
            t.c_iflag |= IXON;
    }
    // Linux has one flag for CTS output flow and RTS handshaking.
    if (s.Options.Contains(opOutputCTSFlow) || s.RTS == rcHandshake)
        t.c_cflag |= CRTSCTS;
    else
        t.c_cflag &= ~CRTSCTS;
    if (s.Options.Contains(opCheckParity))
        t.c_iflag |= INPCK;
    else
        t.c_iflag &= ~INPCK;
    return 0;
}

struct TTransfer {
    bool Pending = false;
    char* ReadInto = nullptr;
    const char* WriteFrom = nullptr;
    int32_t Length = 0;
    int32_t Done = 0;
    int Error = 0;
    std::optional<Clock::time_point> Deadline; // total limit
    Millis Interval{0};                        // between two bytes; 0 = none
    Clock::time_point LastByte;
    bool ReturnOnAnyByte = false;

    bool Complete() const
    {
        return Error != 0 || Done == Length || (ReturnOnAnyByte && Done > 0);
    }
};

class TPosixComDevice final : public TComDevice {
public:
    ~TPosixComDevice() override
    {
        Close();
        CloseSignals();
    }

    int CreateSignals() override
    {
        CloseSignals();
        FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (FWakeFd < 0)
            return errno;
        FFedFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (FFedFd < 0) {
            int err = errno;
            CloseSignals();
            return err;
        }
        return 0;
    }

    void CloseSignals() override
    {
        for (int* fd : {&FWakeFd, &FFedFd})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

    int Open(const std::string& Name) override
    {
        int fd = ::open(Name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return errno;
        // TIOCEXCL keeps other users out but not root; the lock keeps out every
        // other open made through this component, root's included.
        if (::flock(fd, LOCK_EX | LOCK_NB) < 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            return EBUSY;
        }
        ::ioctl(fd, TIOCEXCL);
        std::lock_guard lock(FLock);
        // The line is left as it was found: a terminal named by mistake must
        // not stay raw after the program ends.
        FHaveSaved = RetryIoctl(fd, TCGETS2, &FSaved) == 0;
        FFd = fd;
        FHungUp = false;
        FQueue.Clear();
        FThreadStarved = false;
        FReaderWaiting = false;
        FRead = {};
        FWrite = {};
        FPendingEvents = 0;
        FHaveCounters = RetryIoctl(fd, TIOCGICOUNT, &FErrorBase) == 0;
        FEventBase = FErrorBase;
        return 0;
    }

    bool IsOpen() const override { return FFd >= 0; }

    void Close() override
    {
        std::lock_guard lock(FLock);
        if (FFd < 0)
            return;
        // The settings and the exclusive flag outlive our descriptor on a
        // terminal that stays. A hung-up device refuses both, harmlessly.
        if (FHaveSaved)
            RetryIoctl(FFd, TCSETS2, &FSaved);
        FHaveSaved = false;
        ::ioctl(FFd, TIOCNXCL);
        ::close(FFd);
        FFd = -1;
        FQueue.Clear();
        FRead = {};
        FWrite = {};
    }

    int Purge(TPurge What) override
    {
        std::lock_guard lock(FLock);
        if (What == TPurge::Input) {
            FQueue.Clear();
            WakeStarvedThread();
            if (FRead.Pending)
                FRead.Error = ECANCELED;
            return RetryIoctl(FFd, TCFLSH, reinterpret_cast<void*>(TCIFLUSH));
        }
        if (FWrite.Pending)
            FWrite.Error = ECANCELED;
        return RetryIoctl(FFd, TCFLSH, reinterpret_cast<void*>(TCOFLUSH));
    }

    int SetupBuffers(int32_t Input, int32_t /*Output: the kernel's is fixed*/) override
    {
        std::lock_guard lock(FLock);
        FQueue.SetCapacity(std::clamp<size_t>(Input > 0 ? size_t(Input) : 0, kMinQueue, kMaxQueue));
        WakeStarvedThread();
        return 0;
    }

    int ApplyLine(const TLineSettings& Settings) override
    {
        termios2 old{};
        if (int err = RetryIoctl(FFd, TCGETS2, &old))
            return err;
        termios2 t = old;
        if (int err = Compose(t, Settings))
            return err;
        if (int err = RetryIoctl(FFd, TCSETS2, &t))
            return err;
        termios2 got{};
        int err = RetryIoctl(FFd, TCGETS2, &got);
        if (err == 0)
            err = Verify(t, got, Settings);
        if (err) {
            RetryIoctl(FFd, TCSETS2, &old);
            return err;
        }
        FEventChar = Settings.EventChar;
        return ApplyModemLines(Settings);
    }

    int ApplyTimeouts(const TTimeoutValues& Timeouts) override
    {
        FTimeouts = Timeouts;
        return 0;
    }

    int SetEventMask(uint32_t Mask) override
    {
        FMask = Mask;
        FMaskChanged = true;
        if (FWakeFd < 0)
            return EBADF;
        Signal(FWakeFd);
        return 0;
    }

    uint32_t WaitEvent() override
    {
        for (;;) {
            if (FMaskChanged.exchange(false))
                return 0;
            const uint32_t mask = FMask;
            if (uint32_t events = FPendingEvents.exchange(0) & mask)
                return events;

            short wanted = 0;
            if ((mask & kReceiveEvents) && !FHungUp) {
                std::lock_guard lock(FLock);
                if (FQueue.Room() > 0)
                    wanted = POLLIN;
                else
                    FThreadStarved = true;
            }
            // Even with no events wanted the device stays in the set: poll
            // reports a hang-up regardless, and a hung-up device leaves it.
            pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {FHungUp ? -1 : FFd, wanted, 0}};
            int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno != EINTR)
                    FHungUp = true;
                continue;
            }
            if (fds[0].revents)
                Drain(FWakeFd);
            const short got = fds[1].revents;
            if (got == 0)
                continue;
            uint32_t events = 0;
            if ((got & POLLIN) && wanted)
                events = TakeIncoming(mask);
            if ((got & (POLLHUP | POLLERR | POLLNVAL)) && !(events & EV_RXCHAR))
                MarkHungUp();
            if (events)
                return events;
        }
    }

    int StartRead(void* Buffer, int32_t Length) override
    {
        FRead = {};
        FRead.ReadInto = static_cast<char*>(Buffer);
        FRead.Length = Length;
        const auto interval = uint32_t(FTimeouts.ReadInterval);
        const auto multiplier = uint32_t(FTimeouts.ReadMultiplier);
        const auto constant = uint32_t(FTimeouts.ReadConstant);
        const auto now = Clock::now();
        bool atOnce = false;
        if (interval == kMaxDword && multiplier == 0 && constant == 0) {
            atOnce = true;
        } else if (interval == kMaxDword && multiplier == kMaxDword && constant != 0 && constant != kMaxDword) {
            FRead.ReturnOnAnyByte = true;
            FRead.Deadline = now + Millis(constant);
        } else {
            uint64_t total = uint64_t(multiplier) * uint64_t(std::max(Length, 0)) + constant;
            if (total != 0)
                FRead.Deadline = now + Millis(std::min<uint64_t>(total, uint64_t(1) << 40));
            FRead.Interval = Millis(interval);
        }
        {
            std::lock_guard lock(FLock);
            TakeForRead();
        }
        if (FRead.Error)
            return FRead.Error;
        FRead.Pending = !(atOnce || FRead.Complete());
        return 0;
    }

    bool ReadPending() const override { return FRead.Pending; }

    int WaitRead(int32_t& Transferred) override
    {
        while (FRead.Pending) {
            {
                std::lock_guard lock(FLock);
                TakeForRead();
                if (FRead.Complete())
                    break;
                FReaderWaiting = true;
            }
            int timeout = -1;
            if (FRead.Deadline)
                timeout = MillisUntil(*FRead.Deadline);
            if (FRead.Interval.count() > 0 && FRead.Done > 0) {
                int gap = MillisUntil(FRead.LastByte + FRead.Interval);
                timeout = timeout < 0 ? gap : std::min(timeout, gap);
            }
            if (timeout == 0)
                break;
            pollfd fds[2] = {{FHungUp ? -1 : FFd, POLLIN, 0}, {FFedFd, POLLIN, 0}};
            int r = ::poll(fds, 2, timeout);
            std::lock_guard lock(FLock);
            FReaderWaiting = false;
            if (r > 0 && fds[1].revents)
                Drain(FFedFd);
            if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLIN))
                FHungUp = true;
        }
        {
            std::lock_guard lock(FLock);
            FReaderWaiting = false;
        }
        FRead.Pending = false;
        Transferred = FRead.Done;
        return FRead.Error;
    }

    int StartWrite(const void* Buffer, int32_t Length) override
    {
        FWrite = {};
        FWrite.WriteFrom = static_cast<const char*>(Buffer);
        FWrite.Length = Length;
        uint64_t total = uint64_t(uint32_t(FTimeouts.WriteMultiplier)) * uint64_t(std::max(Length, 0)) +
                         uint32_t(FTimeouts.WriteConstant);
        if (total != 0)
            FWrite.Deadline = Clock::now() + Millis(std::min<uint64_t>(total, uint64_t(1) << 40));
        PushWrite();
        if (FWrite.Error)
            return FWrite.Error;
        FWrite.Pending = true;
        return 0;
    }

    bool WritePending() const override { return FWrite.Pending; }

    int WaitWrite(int32_t& Transferred) override
    {
        while (FWrite.Pending && FWrite.Error == 0 && FWrite.Done < FWrite.Length) {
            int timeout = FWrite.Deadline ? MillisUntil(*FWrite.Deadline) : -1;
            if (timeout == 0)
                break;
            pollfd fd{FFd, POLLOUT, 0};
            int r = ::poll(&fd, 1, timeout);
            if (r < 0 && errno != EINTR)
                FWrite.Error = errno;
            else if (r > 0)
                PushWrite(); // a hang-up shows here as EIO from write()
        }
        if (FWrite.Pending && FWrite.Error == 0 && FWrite.Done == FWrite.Length) {
            // Without a time limit the write ends when the bytes have left, as
            // a Windows write completes; with one, when the driver has them.
            if (!FWrite.Deadline)
                FWrite.Error = RetryIoctl(FFd, TCSBRK, reinterpret_cast<void*>(1));
            int queued = 0;
            if (FWrite.Error == 0 && RetryIoctl(FFd, TIOCOUTQ, &queued) == 0 && queued == 0)
                RaiseEvent(EV_TXEMPTY);
        }
        FWrite.Pending = false;
        Transferred = FWrite.Done;
        return FWrite.Error;
    }

    int InputCount(int32_t& Count) override
    {
        std::lock_guard lock(FLock);
        if (FFd < 0)
            return EBADF;
        int waiting = 0;
        if (FHungUp) {
            // The last bytes before an unplug are still handed out.
            if (FQueue.Size() == 0)
                return EIO;
        } else if (int err = RetryIoctl(FFd, FIONREAD, &waiting)) {
            return err;
        }
        Count = static_cast<int32_t>(FQueue.Size()) + waiting;
        ReadCounters(FErrorBase);
        return 0;
    }

    int LineErrors(TLineErrors& Errors) override
    {
        std::lock_guard lock(FLock);
        Errors = {};
        if (FFd < 0)
            return EBADF;
        if (!FHaveCounters)
            return 0;
        serial_icounter_struct now{};
        if (int err = RetryIoctl(FFd, TIOCGICOUNT, &now))
            return IsNoModemLines(err) ? 0 : err;
        if (now.frame != FErrorBase.frame) Errors.Include(leFrame);
        if (now.overrun != FErrorBase.overrun) Errors.Include(leOverrun);
        if (now.parity != FErrorBase.parity) Errors.Include(leParity);
        if (now.brk != FErrorBase.brk) Errors.Include(leBreak);
        if (now.buf_overrun != FErrorBase.buf_overrun) Errors.Include(leRxOverflow);
        FErrorBase = now;
        return 0;
    }

    int ModemStatus(TModemStatus& Status) override
    {
        Status = {};
        int lines = 0;
        if (int err = RetryIoctl(FFd, TIOCMGET, &lines))
            return IsNoModemLines(err) ? 0 : err;
        if (lines & TIOCM_CTS) Status.Include(msCTS);
        if (lines & TIOCM_DSR) Status.Include(msDSR);
        if (lines & TIOCM_RNG) Status.Include(msRing);
        if (lines & TIOCM_CAR) Status.Include(msRLSD);
        return 0;
    }

private:
    // A device without modem lines (a pty, some adapters) refuses these; that
    // is no failure of the open.
    int ApplyModemLines(const TLineSettings& s)
    {
        int set = 0, clear = 0;
        if (s.DTR == dcDisable)
            clear |= TIOCM_DTR;
        else if (s.DTR == dcEnable || s.DTR == dcHandshake)
            set |= TIOCM_DTR;
        if (s.RTS == rcDisable)
            clear |= TIOCM_RTS;
        else if (s.RTS == rcEnable)
            set |= TIOCM_RTS;
        for (auto [request, bits] : {std::pair{TIOCMBIS, set}, std::pair{TIOCMBIC, clear}}) {
            if (bits == 0)
                continue;
            int err = RetryIoctl(FFd, request, &bits);
            if (err && !IsNoModemLines(err))
                return err;
        }
        return 0;
    }

    void RaiseEvent(uint32_t event)
    {
        if ((FMask & event) == 0 || FWakeFd < 0)
            return;
        FPendingEvents |= event;
        Signal(FWakeFd);
    }

    void MarkHungUp()
    {
        FHungUp = true;
        std::lock_guard lock(FLock);
        if (FReaderWaiting)
            Signal(FFedFd);
    }

    // Under FLock.
    void WakeStarvedThread()
    {
        if (FThreadStarved && FQueue.Room() > 0 && FWakeFd >= 0) {
            FThreadStarved = false;
            Signal(FWakeFd);
        }
    }

    void ReadCounters(serial_icounter_struct& into)
    {
        if (FHaveCounters)
            RetryIoctl(FFd, TIOCGICOUNT, &into);
    }

    // Event thread: moves what the device holds into the queue; returns the
    // masked events the new bytes raise.
    uint32_t TakeIncoming(uint32_t mask)
    {
        std::lock_guard lock(FLock);
        const size_t before = FQueue.Size();
        bool eventChar = false;
        char buf[4096];
        while (FQueue.Room() > 0) {
            ssize_t n = ::read(FFd, buf, std::min(sizeof buf, FQueue.Room()));
            if (n > 0) {
                FQueue.Push(buf, size_t(n));
                eventChar = eventChar || std::memchr(buf, FEventChar, size_t(n)) != nullptr;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || errno != EAGAIN)
                FHungUp = true; // end of file on a terminal: the far side is gone
            break;
        }
        const size_t got = FQueue.Size() - before;
        if ((got > 0 || FHungUp) && FReaderWaiting)
            Signal(FFedFd);
        uint32_t events = 0;
        if (got > 0) {
            events |= EV_RXCHAR;
            if (eventChar)
                events |= EV_RXFLAG;
            const size_t mark = FQueue.Capacity() * 8 / 10;
            if (before < mark && FQueue.Size() >= mark)
                events |= EV_RX80FULL;
        }
        if ((mask & (EV_ERR | EV_BREAK)) && FHaveCounters) {
            serial_icounter_struct now = FEventBase;
            ReadCounters(now);
            if (now.frame != FEventBase.frame || now.overrun != FEventBase.overrun ||
                now.parity != FEventBase.parity || now.buf_overrun != FEventBase.buf_overrun)
                events |= EV_ERR;
            if (now.brk != FEventBase.brk)
                events |= EV_BREAK;
            FEventBase = now;
        }
        return events & mask;
    }

    // UI thread, under FLock: fills the pending read from the queue, then from
    // the device itself (the event thread may not be draining it).
    void TakeForRead()
    {
        TTransfer& t = FRead;
        const int32_t start = t.Done;
        t.Done += static_cast<int32_t>(FQueue.Pop(t.ReadInto + t.Done, size_t(t.Length - t.Done)));
        WakeStarvedThread();
        while (t.Done < t.Length && !FHungUp) {
            ssize_t n = ::read(FFd, t.ReadInto + t.Done, size_t(t.Length - t.Done));
            if (n > 0) {
                t.Done += static_cast<int32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            if (n < 0 && errno != EIO) {
                t.Error = errno;
                break;
            }
            FHungUp = true;
        }
        if (t.Done > start)
            t.LastByte = Clock::now();
        if (t.Done < t.Length && FHungUp && t.Error == 0)
            t.Error = EIO;
    }

    void PushWrite()
    {
        TTransfer& t = FWrite;
        while (t.Done < t.Length) {
            ssize_t n = ::write(FFd, t.WriteFrom + t.Done, size_t(t.Length - t.Done));
            if (n > 0) {
                t.Done += static_cast<int32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                t.Error = errno;
            break;
        }
    }

    int FFd = -1;
    int FWakeFd = -1; // ends the event thread's wait
    int FFedFd = -1;  // tells a waiting read that the event thread queued bytes

    std::mutex FLock; // the queue, reads from the device, the error counters
    TRxQueue FQueue{4096};
    bool FThreadStarved = false;
    bool FReaderWaiting = false;
    bool FHaveCounters = false;
    termios2 FSaved{};
    bool FHaveSaved = false;
    serial_icounter_struct FErrorBase{};
    serial_icounter_struct FEventBase{};

    std::atomic<uint32_t> FMask{0};
    std::atomic<bool> FMaskChanged{false};
    std::atomic<uint32_t> FPendingEvents{0};
    std::atomic<bool> FHungUp{false};
    std::atomic<char> FEventChar{0};

    TTimeoutValues FTimeouts;
    TTransfer FRead;
    TTransfer FWrite;
};

int NiceFor(TPriorityClass c)
{
    switch (c) {
    case pcIdle: return 19;
    case pcHigh: return -10;
    case pcRealTime: return -20;
    default: return 0;
    }
}

// Linux keeps the nice value per thread, so the whole process means every
// thread it has now; threads created later inherit it from their creator.
void SetNiceOfAllThreads(int nice)
{
    DIR* dir = ::opendir("/proc/self/task");
    if (!dir) {
        ::setpriority(PRIO_PROCESS, 0, nice);
        return;
    }
    while (dirent* e = ::readdir(dir)) {
        int tid = std::atoi(e->d_name);
        if (tid > 0)
            ::setpriority(PRIO_PROCESS, id_t(tid), nice);
    }
    ::closedir(dir);
}

} // namespace

std::unique_ptr<TComDevice> CreateComDevice() { return std::make_unique<TPosixComDevice>(); }

std::string SystemErrorText(int Code)
{
    char buf[256];
    return ::strerror_r(Code, buf, sizeof buf);
}

int SaveProcessPriority()
{
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, 0);
    return errno ? 0 : nice;
}

void SetProcessPriority(TPriorityClass Class) { SetNiceOfAllThreads(NiceFor(Class)); }

void RestoreProcessPriority(int Saved) { SetNiceOfAllThreads(Saved); }
