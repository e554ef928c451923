// The journal on disk: an older file brought up to date, a damaged file set
// aside, a folder that cannot be written, a writer killed mid-write, and
// several processes writing at once.

#include "journal.h"
#include "journal_kinds.h"
#include "journal_store.h"
#include "read_only_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <csignal>

#include <atomic>
#include <mutex>
#include <memory>
#include <random>

namespace {

// A second connection of the test's own, as sqlite3 on a terminal would be.
class RawDb {
public:
    explicit RawDb(const QString& path) : m_name(QStringLiteral("raw-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~RawDb()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QVariant Value(const QString& sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
    bool Exec(const QString& sql) { return QSqlQuery(QSqlDatabase::database(m_name, false)).exec(sql); }

private:
    static inline int s_count = 0;
    QString m_name;
};

JournalEntry Entry(int serial, int n)
{
    JournalEntry e;
    e.kind = JournalKind::StateRead;
    e.serial = serial;
    e.data.insert(QStringLiteral("n"), n);
    return e;
}

class JournalStoreTest : public ::testing::Test {
protected:
    QString Path() const { return dir.filePath(QString::fromLatin1(kJournalFileName)); }

    std::vector<JournalEntry> All()
    {
        JournalStore store(Path());
        EXPECT_TRUE(store.OpenForReading()) << store.Error().toStdString();
        return store.Query({});
    }

    // Collects the notices of the journal started by the test.
    void StartJournal()
    {
        Journal::SetUnavailableNotice([this](const QString& text) {
            std::lock_guard lock(mutex);
            notices << text;
        });
        Journal::Start(Path(), QStringLiteral("pro"), QStringLiteral("test"));
    }
    void TearDown() override
    {
        Journal::Stop();
        Journal::SetUnavailableNotice(nullptr);
    }
    QStringList Notices()
    {
        std::lock_guard lock(mutex);
        return notices;
    }

    QTemporaryDir dir;
    std::mutex mutex;
    QStringList notices;
};

TEST_F(JournalStoreTest, AVersionOneFileIsBroughtUpToDateAndKeepsItsEntries)
{
    {
        // The first layout: no local time, no index by meter.
        RawDb v1(Path());
        ASSERT_TRUE(v1.Exec(QStringLiteral(
            "CREATE TABLE entries(id INTEGER PRIMARY KEY AUTOINCREMENT, utc TEXT NOT NULL, host TEXT NOT NULL, "
            "user TEXT NOT NULL, variant TEXT NOT NULL, version TEXT NOT NULL, port TEXT NOT NULL, serial INTEGER, "
            "kind TEXT NOT NULL, ok INTEGER NOT NULL, message TEXT NOT NULL, data TEXT NOT NULL)")));
        ASSERT_TRUE(v1.Exec(QStringLiteral("CREATE INDEX entries_utc ON entries(utc)")));
        ASSERT_TRUE(v1.Exec(QStringLiteral(
            "INSERT INTO entries(utc, host, user, variant, version, port, serial, kind, ok, message, data) VALUES"
            "('2023-03-01T08:15:30.250Z', 'bench1', 'ivanov', 'pro', '1.05', 'COM3', 4321, 'config_write', 0, "
            "'Изменение параметров блокировано', '{\"accepted\":false}'),"
            "('2023-03-02T09:00:00.000Z', 'bench1', 'ivanov', 'user', '1.05', 'COM3', 77, 'link_test', 1, '', '{}')")));
        ASSERT_TRUE(v1.Exec(QStringLiteral("PRAGMA user_version=1")));
    }
    JournalStore store(Path());
    ASSERT_TRUE(store.Open()) << store.Error().toStdString();
    JournalFilter meter;
    meter.serial = 4321;
    const auto entries = store.Query(meter);
    ASSERT_EQ(entries.size(), 1u);
    const JournalEntry& e = entries[0];
    EXPECT_EQ(e.utc, QDateTime(QDate(2023, 3, 1), QTime(8, 15, 30, 250), Qt::UTC));
    EXPECT_EQ(e.local, e.utc.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    EXPECT_EQ(e.kind, JournalKind::ConfigWrite);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.message, QStringLiteral("Изменение параметров блокировано"));
    EXPECT_EQ(e.data.value(QStringLiteral("accepted")), QJsonValue(false));
    store.Close();

    RawDb after(Path());
    EXPECT_EQ(after.Value(QStringLiteral("PRAGMA user_version")).toInt(), JournalStore::kSchemaVersion);
    EXPECT_EQ(after.Value(QStringLiteral("SELECT count(*) FROM entries")).toInt(), 2);
    EXPECT_EQ(after.Value(QStringLiteral("PRAGMA journal_mode")).toString(), QStringLiteral("wal"));
    EXPECT_TRUE(after.Value(QStringLiteral("EXPLAIN QUERY PLAN SELECT * FROM entries WHERE serial = 1 ORDER BY utc"))
                    .isValid());
    EXPECT_EQ(after.Value(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'entries_serial_utc'")).toInt(), 1);
}

TEST_F(JournalStoreTest, ADamagedFileIsSetAsideWholeAndANewJournalTakesTheEntries)
{
    const QByteArray garbage = QByteArray("not a journal at all\n").repeated(300);
    {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }
    StartJournal();
    for (int n = 1; n <= 3; ++n)
        Journal::Record(Entry(10, n));
    ASSERT_TRUE(Journal::Flush(20000));
    EXPECT_EQ(All().size(), 3u);

    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("journal-damaged-*.sqlite")});
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir.filePath(aside[0]));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), garbage);
    ASSERT_EQ(Notices().size(), 1);
    EXPECT_TRUE(Notices()[0].contains(aside[0])) << Notices()[0].toStdString();
}

TEST_F(JournalStoreTest, AReadOnlyFolderKeepsTheEntriesUntilItCanBeWrittenAgain)
{
    ReadOnlyFolder readOnly(dir.path());
    ASSERT_TRUE(readOnly.Ready());
    StartJournal();
    for (int n = 1; n <= 5; ++n)
        Journal::Record(Entry(20, n));
    EXPECT_FALSE(Journal::Flush(3000));
    ASSERT_EQ(Notices().size(), 1);
    EXPECT_TRUE(Notices()[0].startsWith(QStringLiteral("Журнал операций недоступен: "))) << Notices()[0].toStdString();
    EXPECT_FALSE(QFile::exists(Path()));

    readOnly.MakeWritable();
    Journal::Record(Entry(20, 6));
    ASSERT_TRUE(Journal::Flush(20000));
    const auto entries = All();
    ASSERT_EQ(entries.size(), 6u);
    // Newest first, and nothing lost while waiting.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(entries[std::size_t(i)].data.value(QStringLiteral("n")).toInt(), 6 - i);
    EXPECT_EQ(Notices().size(), 1);
}

TEST_F(JournalStoreTest, AWriterKilledMidWriteLeavesEveryEntryItHadWritten)
{
    std::mt19937 rng(12345);
    int total = 0;
    for (int round = 0; round < 8; ++round) {
        QProcess p;
        p.start(QStringLiteral(ZRM_JOURNAL_WRITE_LOOP), {Path(), QString::number(round), QStringLiteral("0")});
        ASSERT_TRUE(p.waitForStarted(10000));
        QByteArray out;
        while (!out.contains('\n') && p.state() == QProcess::Running) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        QThread::msleep(std::uniform_int_distribution<int>(0, 150)(rng));
        ::kill(pid_t(p.processId()), SIGKILL);
        ASSERT_TRUE(p.waitForFinished(10000));
        out += p.readAllStandardOutput();
        const QList<QByteArray> lines = out.trimmed().split('\n');
        const int confirmed = lines.last().toInt();
        ASSERT_GT(confirmed, 0);
        total += confirmed;

        RawDb check(Path());
        EXPECT_EQ(check.Value(QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        const int held = check.Value(QStringLiteral("SELECT count(*) FROM entries WHERE serial = %1").arg(round)).toInt();
        EXPECT_GE(held, confirmed) << "round " << round;
        // Every one up to the last confirmed, none missing in between.
        EXPECT_EQ(check.Value(QStringLiteral("SELECT count(DISTINCT json_extract(data, '$.n')) FROM entries WHERE "
                                             "serial = %1 AND json_extract(data, '$.n') <= %2")
                                  .arg(round)
                                  .arg(confirmed))
                      .toInt(),
                  confirmed);
    }
    EXPECT_GT(total, 8);
}

TEST_F(JournalStoreTest, ProcessesWritingAtOnceLoseNothing)
{
    constexpr int kProcesses = 3;
    constexpr int kEach = 150;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (int i = 0; i < kProcesses; ++i) {
        writers.push_back(std::make_unique<QProcess>());
        writers.back()->start(QStringLiteral(ZRM_JOURNAL_WRITE_LOOP),
                              {Path(), QString::number(100 + i), QString::number(kEach)});
    }
    StartJournal();
    for (int n = 1; n <= kEach; ++n)
        Journal::Record(Entry(99, n));
    for (auto& w : writers) {
        ASSERT_TRUE(w->waitForFinished(60000));
        EXPECT_EQ(w->exitCode(), 0) << w->readAllStandardError().toStdString();
    }
    ASSERT_TRUE(Journal::Flush(30000));
    EXPECT_EQ(All().size(), std::size_t((kProcesses + 1) * kEach));
    EXPECT_TRUE(Notices().isEmpty());
}

}  // namespace
