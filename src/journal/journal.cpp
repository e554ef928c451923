#include "journal.h"

#include <QDir>
#include <QSysInfo>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// While the file cannot be written, it is tried again this often.
constexpr auto kRetryInterval = std::chrono::milliseconds(1000);

class Writer {
public:
    Writer(const QString& path, const QString& variant, const QString& version)
        : m_path(path), m_variant(variant), m_version(version), m_thread(QThread::create([this] { Run(); }))
    {
        m_thread->start();
    }

    ~Writer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread->wait();
    }

    // The UI thread's side: the lock is only ever held for a push or a swap,
    // never across a disk write or a batch's allocation.
    void Record(JournalEntry e)
    {
        e.variant = m_variant;
        e.version = m_version;
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(e));
            ++m_queued;
        }
        m_wake.notify_all();
    }

    bool Flush(int ms, bool untilFailure)
    {
        std::unique_lock lock(m_mutex);
        const quint64 target = m_queued;
        m_done.wait_for(lock, std::chrono::milliseconds(ms),
                        [&] { return m_written >= target || (untilFailure && m_failing); });
        return m_written >= target;
    }

    QString Path() const { return m_path; }

    static std::mutex s_noticeMutex;
    static std::function<void(const QString&)> s_notice;

private:
    void Notify(const QString& text)
    {
        if (m_noticeGiven)
            return;
        std::function<void(const QString&)> notice;
        {
            std::lock_guard lock(s_noticeMutex);
            notice = s_notice;
        }
        // With no one to tell yet, the next failing attempt tells.
        if (!notice)
            return;
        m_noticeGiven = true;
        notice(text);
    }

    void Run()
    {
        JournalStore store(m_path);
        // Opened at once, so a journal that cannot be written is told before
        // the first operation rather than after it.
        bool failing = !store.Open();
        Report(store, failing);
        // What was taken from the queue and is not yet on the disk, oldest
        // first; only this thread touches it.
        std::vector<JournalEntry> pending;
        for (;;) {
            std::vector<JournalEntry> taken;
            bool stop = false;
            {
                std::unique_lock lock(m_mutex);
                m_failing = failing;
                m_done.notify_all();
                // A failing file is tried again after a while, not at every
                // new entry.
                if (failing)
                    m_wake.wait_for(lock, kRetryInterval, [&] { return m_stop; });
                else if (pending.empty())
                    m_wake.wait(lock, [&] { return m_stop || !m_queue.empty(); });
                taken.swap(m_queue);
                stop = m_stop;
            }
            if (pending.empty())
                pending.swap(taken);
            else
                pending.insert(pending.end(), std::make_move_iterator(taken.begin()),
                               std::make_move_iterator(taken.end()));
            if (pending.empty()) {
                if (stop)
                    return;
                continue;
            }
            const bool written = store.Append(pending);
            failing = !written;
            Report(store, failing);
            const std::size_t count = pending.size();
            if (written)
                pending.clear();
            {
                std::lock_guard lock(m_mutex);
                if (written)
                    m_written += count;
            }
            if (!written && stop)
                return;
        }
    }

    void Report(const JournalStore& store, bool failing)
    {
        if (failing)
            Notify(QStringLiteral("Журнал операций недоступен: ") + store.Error() +
                   QStringLiteral(".\nОперации с приборами выполняются как обычно; их записи будут внесены в "
                                  "журнал, как только он станет доступен."));
        else if (!store.SetAsideAs().isEmpty())
            Notify(QStringLiteral("Файл журнала операций был повреждён и сохранён под именем ") +
                   QDir::toNativeSeparators(store.SetAsideAs()) + QStringLiteral(".\nНачат новый журнал."));
    }

    const QString m_path;
    const QString m_variant;
    const QString m_version;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<JournalEntry> m_queue;
    quint64 m_queued = 0;
    quint64 m_written = 0;
    bool m_stop = false;
    bool m_failing = false;
    bool m_noticeGiven = false;  // writer thread only
    // A thread of Qt's own, not std::thread: the database objects live on it,
    // and Qt releases what it keeps for a thread when that thread ends. On
    // Windows a plain thread's share is released later by Qt's watcher
    // thread, which could still be doing so while the program unwinds.
    std::unique_ptr<QThread> m_thread;
};

std::mutex Writer::s_noticeMutex;
std::function<void(const QString&)> Writer::s_notice;

// Guards only the pointer: a caller takes its own reference and works with
// the writer unlocked, so a Flush waiting on the disk never holds up Record.
std::mutex g_mutex;
std::shared_ptr<Writer> g_writer;
QString g_origin;

std::shared_ptr<Writer> CurrentWriter()
{
    std::lock_guard lock(g_mutex);
    return g_writer;
}

}  // namespace

void Journal::Start(const QString& path, const QString& variant, const QString& version)
{
    Stop();
    // Looked up here, once, so that no operation's entry pays for it.
    HostName();
    UserName();
    JournalStore::LoadDriver();
    auto writer = std::make_shared<Writer>(path, variant, version);
    std::lock_guard lock(g_mutex);
    g_writer = std::move(writer);
}

void Journal::Stop()
{
    std::shared_ptr<Writer> writer;
    {
        std::lock_guard lock(g_mutex);
        writer = std::move(g_writer);
    }
    // The last reference ends the writer; a Flush under way holds one.
    writer.reset();
}

bool Journal::Started()
{
    return CurrentWriter() != nullptr;
}

QString Journal::Path()
{
    const auto writer = CurrentWriter();
    return writer ? writer->Path() : QString();
}

void Journal::Record(JournalEntry entry)
{
    const auto writer = CurrentWriter();
    if (!writer)
        return;
    const QDateTime now = QDateTime::currentDateTime();
    entry.utc = now.toUTC();
    entry.local = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    entry.host = HostName();
    entry.user = UserName();
    writer->Record(std::move(entry));
}

bool Journal::Flush(int ms, bool untilFailure)
{
    const auto writer = CurrentWriter();
    return !writer || writer->Flush(ms, untilFailure);
}

void Journal::SetUnavailableNotice(std::function<void(const QString&)> notice)
{
    std::lock_guard lock(Writer::s_noticeMutex);
    Writer::s_notice = std::move(notice);
}

QString Journal::HostName()
{
    static const QString name = QSysInfo::machineHostName();
    return name;
}

QString Journal::UserName()
{
    static const QString name = [] {
        QString n = qEnvironmentVariable("USER");
        if (n.isEmpty())
            n = qEnvironmentVariable("USERNAME");  // Windows
        if (n.isEmpty())
            n = qEnvironmentVariable("LOGNAME");
        if (n.isEmpty())
            n = QDir::home().dirName();
        return n;
    }();
    return name;
}

JournalOrigin::JournalOrigin(const QString& origin) : m_previous(g_origin)
{
    g_origin = origin;
}

JournalOrigin::~JournalOrigin()
{
    g_origin = m_previous;
}

QString JournalOrigin::Current()
{
    return g_origin;
}
