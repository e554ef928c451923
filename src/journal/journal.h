#pragma once
// The journal of this program start: entries are handed over at once and
// written by a thread of their own, so an operation never waits on the disk.
// While the journal cannot be written the entries wait in memory and go to
// the file as soon as it can be written again; the first failure of a start
// is told once (SetUnavailableNotice).

#include "journal_store.h"

#include <functional>

class Journal {
public:
    // Starts the writer on the journal at path. variant: "user", "pro" or
    // "cli". A journal already started is stopped first.
    static void Start(const QString& path, const QString& variant, const QString& version);
    // Writes what is queued (waiting for the file no longer than it takes
    // one attempt) and ends the writer. Entries that could not be written
    // are lost with the process.
    static void Stop();
    static bool Started();
    static QString Path();

    // Stamps the entry (times, host, user, variant, version) and queues it.
    // Never touches the disk; does nothing when no journal is started.
    static void Record(JournalEntry entry);

    // Waits up to ms until every entry queued so far is written. False when
    // some are still waiting. untilFailure: gives up at once while the file
    // cannot be written.
    static bool Flush(int ms, bool untilFailure = false);

    // Called once per Start, on the writer's thread, with the Russian text
    // of the box that says the journal is unavailable, or that a damaged
    // file was set aside.
    static void SetUnavailableNotice(std::function<void(const QString&)> notice);

    // The host and OS user entries carry.
    static QString HostName();
    static QString UserName();
};

// An origin for the operations started inside its lifetime, recorded with
// them ("editor", "calibration", "journal", ...). UI thread only.
class JournalOrigin {
public:
    explicit JournalOrigin(const QString& origin);
    ~JournalOrigin();
    JournalOrigin(const JournalOrigin&) = delete;
    JournalOrigin& operator=(const JournalOrigin&) = delete;

    static QString Current();

private:
    QString m_previous;
};
