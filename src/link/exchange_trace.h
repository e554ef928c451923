#pragma once
// The exchange trace: one line for every frame the link sends and every reply
// it collects (local time, direction, bytes in hex), for whoever has to see
// what is on the line. Off until a sink is set: the command-line tool traces
// to standard error, the windows to the file ZRM_TRACE names.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>

enum class TraceDirection { Sent, Received };

// The environment variable that names the windows' trace file.
extern const char* const kTraceEnvironmentVariable;  // "ZRM_TRACE"

// "2026-12-08 11:20:01.123 -> 06 E6 39 30 06 AB" ("<-" for a reply), no newline.
QByteArray TraceLine(const QDateTime& time, TraceDirection direction, const uint8_t* bytes, int count);

// Receives each line without its newline; an empty function turns the trace off.
void SetTraceSink(std::function<void(const QByteArray&)> sink);
bool TraceOn();

// What the link calls; costs nothing while the trace is off.
void TraceFrame(TraceDirection direction, const uint8_t* bytes, int count);
void TraceReply(const QByteArray& reply);  // nothing for an empty reply

// Lines to standard error.
void TraceToStandardError();
// A trace file is kept under this size: past it the file becomes
// "<file>.1" (replacing the one before) and a new one is started, so a
// forgotten trace never fills the disk.
constexpr qint64 kTraceFileLimit = 10 * 1024 * 1024;
// Lines appended to a file, each written through at once so a crash loses
// none. Only a regular file (or a new one) is opened, and never waited for:
// a FIFO or a device in its place is refused. Empty on success; else the
// reason, for the user, and the trace is left as it was.
QString TraceToFile(const QString& path, qint64 limit = kTraceFileLimit);
// At program start: traces to the file ZRM_TRACE names, if it names one.
// Empty when it does not or the trace runs; else what to tell the user (the
// windows in a box, the command-line tool on standard error).
QString TraceToFileFromEnvironment();
