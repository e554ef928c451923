// The exchange's reply handling fed arbitrary byte streams in arbitrary
// chunks, through the path received bytes really take: the port is open on a
// pseudo-terminal, the fuzzer writes the reply to its master side piece by
// piece, the port's event thread raises OnRxChar, DeviceLink::ComPort1RxChar
// collects the bytes and WaitReply/Exchange judge them.
//
// Input: byte 0 picks the operation, bytes 1-2 the serial number, then
// chunks, each a length byte (1..16 bytes follow) and its bytes. The reply
// goes to the first request; later requests (sent only after silence) get
// nothing. Each wait is ended by the link's own Timer1Timer once the chunks
// are in, so an incomplete reply costs microseconds instead of 2 s.

#include "device_link.h"
#include "fuzz_common.h"
#include "qt_serial_events.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Rig {
    int master = -1;
    DeviceLink* link = nullptr;
    CountingMessages boxes;
    std::mutex mutex;
    std::condition_variable delivered;
    size_t deliveredBytes = 0;
};

Rig& TheRig()
{
    static Rig* rig = [] {
        EnsureApplication();
        InstallQtSerialEventDelivery();
        auto* r = new Rig;
        r->master = posix_openpt(O_RDWR | O_NOCTTY);
        if (r->master < 0 || grantpt(r->master) != 0 || unlockpt(r->master) != 0)
            std::abort();
        Messages::install(&r->boxes);
        r->link = new DeviceLink;
        // The real handler, counted so the feeder knows each chunk was taken.
        r->link->ComPort1().SetOnRxChar([r](TObject*) {
            const auto before = r->link->ReplyBuffer().size();
            r->link->ComPort1RxChar();
            const auto after = r->link->ReplyBuffer().size();
            std::lock_guard lock(r->mutex);
            r->deliveredBytes += size_t(after >= before ? after - before : after);
            r->delivered.notify_all();
        });
        r->link->ComPort1().SetDeviceName(ptsname(r->master));
        r->link->ComPort1().Open();
        return r;
    }();
    return *rig;
}

// Reads one request (6 or 62 bytes) from the master; false when none comes
// before stop is set.
bool ReadRequest(int fd, std::vector<uint8_t>& frame, const std::atomic<bool>& stop)
{
    frame.clear();
    size_t want = 1;
    while (frame.size() < want) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2) <= 0) {
            if (stop)
                return false;
            continue;
        }
        uint8_t buf[128];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, want - frame.size()));
        if (n <= 0)
            return false;
        frame.insert(frame.end(), buf, buf + n);
        if (frame.size() >= 1)
            want = frame[0] == kWriteConfigFrameLength ? kWriteConfigFrameLength : kRequestLength;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    Rig& rig = TheRig();
    DeviceLink& link = *rig.link;
    const int op = data[0] % 4;
    const SerialNumber serial = SerialNumber(data[1] | (data[2] << 8));
    std::vector<std::vector<uint8_t>> chunks;
    for (size_t i = 3; i < size;) {
        const size_t n = std::min<size_t>((data[i] & 15) + 1, size - i - 1);
        if (n == 0 || i + 1 >= size)
            break;
        chunks.emplace_back(data + i + 1, data + i + 1 + n);
        i += 1 + n;
    }

    rig.boxes = CountingMessages{};
    {
        std::lock_guard lock(rig.mutex);
        rig.deliveredBytes = 0;
    }
    std::atomic<bool> stop{false};
    std::atomic<bool> feederDone{false};
    std::atomic<int> requests{0};
    std::vector<uint8_t> stream;  // what the first wait was given, in order
    std::thread feeder([&] {
        std::vector<uint8_t> frame;
        size_t written = 0;
        while (ReadRequest(rig.master, frame, stop)) {
            FUZZ_CHECK(CheckFrameChecksum(frame.data(), int(frame.size())));
            const int sent = ++requests;
            FUZZ_CHECK(sent <= DeviceLink::kMaxSends);
            if (sent == 1) {
                for (const auto& c : chunks) {
                    if (stop)
                        break;
                    if (write(rig.master, c.data(), c.size()) != ssize_t(c.size()))
                        std::abort();
                    written += c.size();
                    stream.insert(stream.end(), c.begin(), c.end());
                    std::unique_lock lock(rig.mutex);
                    rig.delivered.wait_for(lock, std::chrono::milliseconds(500),
                                           [&] { return rig.deliveredBytes >= written || stop; });
                }
            }
            QMetaObject::invokeMethod(&link, "Timer1Timer", Qt::QueuedConnection);
        }
        feederDone = true;
    });

    bool ok = false;
    DeviceState state{};
    DeviceConfig config{};
    switch (op) {
    case 0: ok = link.IdentifyDevice(serial); break;
    case 1: ok = link.ReadDeviceState(serial, state); break;
    case 2: ok = link.ReadDeviceConfig(serial, config); break;
    case 3: ok = link.WriteDeviceConfig(serial, serial, config); break;
    }
    stop = true;
    while (!feederDone)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    feeder.join();
    // Late chunks and a pending Timer1Timer are taken before the next input.
    QCoreApplication::processEvents(QEventLoop::AllEvents);

    FUZZ_CHECK(!link.Busy());
    FUZZ_CHECK(requests >= 1);
    if (ok) {
        // Success means the bytes that came, counted as they came, are at
        // least as many as their length byte says and at least two, pass the
        // checksum, and byte 1 is the meters' device type: nothing is taken
        // from where an earlier reply stood.
        const auto& rx = link.ReceiveBuffer();
        bool explained = false;
        for (size_t n = 2; n <= std::min<size_t>(stream.size(), DeviceLink::kReceiveBufferSize) && !explained; ++n)
            explained = std::equal(stream.begin(), stream.begin() + long(n), rx.begin()) && n >= stream[0] &&
                        CheckFrameChecksum(stream.data(), int(n)) && rx[1] == kDeviceType;
        FUZZ_CHECK(explained);
        FUZZ_CHECK(rig.boxes.errors == 0);
    } else {
        // Every failure is told to the user.
        FUZZ_CHECK(rig.boxes.shown > 0);
    }
    return 0;
}
