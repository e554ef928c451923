// The journal's costs: writing one entry (its own transaction, on the disk
// when it returns), handing one over from the UI thread, and reading one
// meter's history from a journal of 100,000 entries.
//
//   bench-journal [DIR]   (DIR: where the journal is made; a temporary one by default)

#include "journal.h"
#include "journal_kinds.h"
#include "journal_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(double(v.size()) * p))];
}

JournalEntry Sample(int serial, int n)
{
    JournalEntry e;
    e.utc = QDateTime::currentDateTimeUtc().addSecs(-100000 + n);
    e.local = e.utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    e.host = QStringLiteral("bench-pc");
    e.user = QStringLiteral("engineer");
    e.variant = QStringLiteral("pro");
    e.version = QStringLiteral("bench");
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.serial = serial;
    e.kind = n % 3 ? JournalKind::StateRead : JournalKind::ConfigRead;
    DeviceConfig c;
    for (int i = 0; i < kConfigValueCount; ++i)
        c.SetValue(i, 0.5f + float(i));
    e.data.insert(QStringLiteral("config"), ConfigJson(c));
    return e;
}

struct Switches {
    long voluntary = 0;
    long involuntary = 0;
};

Switches ThreadSwitches()
{
#ifdef RUSAGE_THREAD
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return {u.ru_nvcsw, u.ru_nivcsw};
#else
    return {};
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString path = dir + QStringLiteral("/bench-journal.sqlite");
    for (const char* part : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(part));

    JournalStore store(path);
    if (!store.Open()) {
        std::fprintf(stderr, "%s\n", store.Error().toUtf8().constData());
        return 1;
    }

    // One entry, one transaction, as the writer does for an operation alone.
    std::vector<double> writeMs;
    for (int n = 0; n < 300; ++n) {
        std::vector<JournalEntry> one{Sample(1000 + n % 50, n)};
        QElapsedTimer t;
        t.start();
        store.Append(one);
        writeMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("entry write (own transaction, synchronous=FULL): median %.2f ms, p90 %.2f ms, n=%zu\n",
                Median(writeMs), Percentile(writeMs, 0.9), writeMs.size());

    // The journal up to 100,000 entries of 500 meters.
    std::vector<JournalEntry> batch;
    for (int n = 300; n < 100000; ++n) {
        batch.push_back(Sample(1000 + n % 500, n));
        if (batch.size() == 5000) {
            store.Append(batch);
            batch.clear();
        }
    }
    store.Append(batch);

    std::vector<double> historyMs;
    std::size_t rows = 0;
    for (int i = 0; i < 30; ++i) {
        JournalStore reader(path);
        QElapsedTimer t;
        t.start();
        reader.OpenForReading();
        JournalFilter f;
        f.serial = 1000 + i * 7 % 500;
        rows = reader.Query(f).size();
        historyMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("one meter's history of 100000 entries (open + query, %zu rows): median %.2f ms, p90 %.2f ms\n",
                rows, Median(historyMs), Percentile(historyMs, 0.9));
    store.Close();

    // The UI thread's part: stamping and queueing, one entry every half
    // millisecond, so the writer is on the disk while most of them come.
    Journal::Start(path, QStringLiteral("pro"), QStringLiteral("bench"));
    std::vector<double> recordUs;
    // Why a slow call was slow: the thread waited (a lock: a voluntary
    // switch) or the machine gave its core to another (an involuntary one).
    long waited = 0, preempted = 0;
    for (int n = 0; n < 2000; ++n) {
        JournalEntry e = Sample(7, n);
        const Switches before = ThreadSwitches();
        QElapsedTimer t;
        t.start();
        Journal::Record(std::move(e));
        recordUs.push_back(double(t.nsecsElapsed()) / 1e3);
        const Switches after = ThreadSwitches();
        if (recordUs.back() > 1000) {
            waited += after.voluntary > before.voluntary;
            preempted += after.involuntary > before.involuntary;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    Journal::Flush(60000);
    Journal::Stop();
    const auto over = std::count_if(recordUs.begin(), recordUs.end(), [](double us) { return us > 5000; });
    std::printf("Journal::Record on the UI thread: first %.1f us, median %.1f us, p99 %.1f us, max %.1f us, "
                "over 5 ms: %lld of %zu\n"
                "calls over 1 ms: %ld with a voluntary switch (a wait), %ld preempted\n",
                recordUs.front(), Median(recordUs), Percentile(recordUs, 0.99),
                *std::max_element(recordUs.begin(), recordUs.end()), static_cast<long long>(over), recordUs.size(), waited, preempted);
    return 0;
}
