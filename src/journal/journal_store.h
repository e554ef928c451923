#pragma once
// The meter journal on disk: journal.sqlite in the program's data folder,
// one row per operation on a meter or a run. SQLite through Qt SQL, in WAL
// mode with full synchronisation, so an entry whose transaction ended
// survives a kill or a power cut; several processes (both windows variants,
// zrm-cli) write to it at once, each waiting for the others' lock.
//
// The schema carries its version in PRAGMA user_version. Opening a file of
// an older version brings it up to date in one transaction; see
// docs/architecture.md for the rule a new version follows.

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <vector>

extern const char* const kJournalFileName;  // "journal.sqlite"

struct JournalEntry {
    qint64 id = 0;        // given by the store
    QDateTime utc;        // when the operation ended, UTC
    QString local;        // the same as the user's clock showed it: "yyyy-MM-dd HH:mm:ss"
    QString host;         // the bench PC
    QString user;         // the OS user
    QString variant;      // "user", "pro" or "cli"
    QString version;
    QString port;
    int serial = -1;      // the meter; -1 when none
    QString kind;         // journal_kinds.h
    bool ok = true;
    QString message;      // the boxes the user saw
    QJsonObject data;     // what the kind records

    bool operator==(const JournalEntry&) const = default;
};

struct JournalFilter {
    int serial = -1;       // -1: every meter
    QDate from, to;        // local dates, inclusive; null: open
    QString kind;          // empty: every kind
    QDateTime sinceUtc;    // null: open
    int limit = 0;         // 0: all
};

class JournalStore {
public:
    static constexpr int kSchemaVersion = 2;

    explicit JournalStore(const QString& path);
    ~JournalStore();
    JournalStore(const JournalStore&) = delete;
    JournalStore& operator=(const JournalStore&) = delete;

    // Opens the file, creating it when missing, and brings its schema up to
    // date. A file that is no database or is damaged is renamed aside (see
    // SetAside) and a new one started. False, with Error(), when the
    // journal cannot be written: a read-only folder, a full disk, a file of
    // a newer program.
    bool Open();
    // For reading only: never creates, migrates nor sets aside. False when
    // there is no journal yet or it cannot be read.
    bool OpenForReading();
    void Close();
    bool IsOpen() const { return m_open; }

    // All of them in one transaction; ids are set. On failure nothing is
    // written; a damaged file found on the way is set aside and the write is
    // tried once more on a new one.
    bool Append(std::vector<JournalEntry>& entries);

    // Newest first.
    std::vector<JournalEntry> Query(const JournalFilter& filter);

    QString Path() const { return m_path; }
    // The last failure, in Russian, for a box.
    QString Error() const { return m_error; }
    // Where a damaged file went, when Open or Append set one aside; empty until then.
    QString SetAsideAs() const { return m_setAside; }

    // Looks Qt's SQLite driver up. Journal::Start does it on its own thread
    // before the writer starts: Qt Sql's driver loader is a global object
    // that belongs to the thread first asking for a driver, and one left to
    // the writer, a thread that ends before the program does, kept the
    // Windows build from exiting.
    static bool LoadDriver();

    // The file name a damaged journal is renamed to at `when`:
    // journal-damaged-yyyy-MM-dd_HH-mm-ss.sqlite beside it.
    static QString SetAsideName(const QString& path, const QDateTime& when);

private:
    bool OpenConnection(bool readOnly);
    bool Prepare();
    bool Migrate();
    bool WriteBatch(std::vector<JournalEntry>& entries);
    bool Fail(const QString& what, const class QSqlError& e);
    bool Damaged() const;
    bool SetAside();

    QString m_path;
    QString m_connection;
    bool m_open = false;
    int m_lastCode = 0;
    QString m_error;
    QString m_setAside;
};
