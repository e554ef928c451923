#pragma once
// zrm-cli history: a meter's journal entries, newest first.

#include <QString>
#include <QStringList>

// args: the serial number; since: "YYYY-MM-DD" or empty. Prints a table (or
// one JSON object a line) on standard output; returns the exit status.
int RunHistory(const QStringList& args, const QString& since, bool json);

// The CLI's own operations go to the journal of its data folder.
void StartCliJournal(const QString& version);
// Waits for the entries to reach the disk, then ends the journal.
void StopCliJournal();
