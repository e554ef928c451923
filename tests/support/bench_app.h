#pragma once
// The program as a bench engineer starts it: a directory of its own whose
// Settings.ini names the virtual bench's line, the bench with its meters, and
// every message box answered by a script. Used by the window tests.

#include "frames.h"
#include "journal_store.h"
#include "meter_bench.h"
#include "scanner_app.h"
#include "scripted_messages.h"
#include "test_helpers.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class BenchApp {
public:
    BenchApp();
    ~BenchApp();
    BenchApp(const BenchApp&) = delete;
    BenchApp& operator=(const BenchApp&) = delete;

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString LinkPath() const { return Path(QStringLiteral("ttyBench")); }

    // Starts the bench with these meters and writes Settings.ini naming its
    // line, followed by `moreIni` (whole CRLF lines of the CONFIG section).
    void StartBench(const std::vector<metersim::MeterSpec>& meters, metersim::BenchOptions options = {},
                    const QByteArray& moreIni = {});
    // Starts the program over the directory and shows its main window. False
    // when the window did not show or the port did not open.
    [[nodiscard]] bool StartProgram(bool userMode);
    // As StartProgram, for a directory whose settings name no line.
    [[nodiscard]] bool ShowProgram(bool userMode);
    [[nodiscard]] bool Start(const std::vector<metersim::MeterSpec>& meters, bool userMode,
                             metersim::BenchOptions options = {})
    {
        StartBench(meters, options);
        return StartProgram(userMode);
    }
    // Closes the program (its windows are destroyed); the bench keeps running.
    void StopProgram() { app.reset(); }

    // A file of the directory, byte for byte; empty when it cannot be read.
    QByteArray ReadFile(const QString& name) const;
    [[nodiscard]] bool WriteFile(const QString& name, const QByteArray& bytes) const;

    // The journal's entries of this kind (every kind when empty), newest
    // first, once every entry recorded so far is on the disk; none when they
    // are not in time, so the counts a test expects fail.
    std::vector<JournalEntry> JournalEntries(const QString& kind = QString()) const;

    // The serial numbers of the valid requests the bench received, in order.
    std::vector<SerialNumber> RequestedSerials() const;

    // A named child control; the test stops at once when it does not exist.
    template <class T> static T* Find(const QObject& parent, const char* name)
    {
        return FindControl<T>(parent, QString::fromUtf8(name));
    }

    QTemporaryDir dir;
    ScopedScriptedMessages boxes;
    std::unique_ptr<metersim::MeterBench> bench;
    std::unique_ptr<ScannerApplication> app;
};

// A meter of the given diameter index with a constant flow and a still
// counter, so volumes read back exactly.
metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow = 0, uint32_t counter = 0);
// The same with its operating hours at start.
metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow, uint32_t counter, float hours);
// The same with a stored configuration of its own.
metersim::MeterSpec BenchMeter(SerialNumber serial, int diameterIndex, double flow, const DeviceConfig& config);

// The bytes of a configuration a meter keeps: all but the last, which a
// write frame's checksum takes.
std::vector<uint8_t> StoredBytes(const DeviceConfig& c);

// Clears the process-wide run state (installed meters, session) that one
// program start leaves for the next within a test program.
void ResetRunState();
