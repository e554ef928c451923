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
// Lines appended to a file, each written through at once so a crash loses
// none. False (and the trace left as it was) when the file cannot be opened.
bool TraceToFile(const QString& path);
// At program start: traces to the file ZRM_TRACE names, if it names one; a
// file that cannot be opened is reported on standard error.
void TraceToFileFromEnvironment();
