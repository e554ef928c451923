#pragma once
// The kinds of journal entries, what each records, and the records of the
// operations: the device link's, the .coef files', a run's.

#include "frames.h"
#include "journal_store.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace JournalKind {
inline const QString LinkTest = QStringLiteral("link_test");          // {found}
inline const QString StateRead = QStringLiteral("state_read");        // {flow, counter, volume?, hours}
inline const QString ConfigRead = QStringLiteral("config_read");      // {config}
inline const QString ConfigWrite = QStringLiteral("config_write");    // {before?, after, new_serial, accepted, origin}
inline const QString CoefWrite = QStringLiteral("coef_write");        // the same, at the end of a calibration
inline const QString CounterReset = QStringLiteral("counter_reset");  // {}
inline const QString CoefSaved = QStringLiteral("coef_saved");        // {path, texts}
inline const QString CoefLoaded = QStringLiteral("coef_loaded");      // {path, texts}
inline const QString Stage = QStringLiteral("stage");                 // see run_journal.h
inline const QString Protocol = QStringLiteral("protocol");           // see run_journal.h
}  // namespace JournalKind

// Every kind, in the order the window offers them.
QStringList JournalKinds();
// "Запись конфигурации", ...; the kind itself when unknown.
QString JournalKindTitle(const QString& kind);

// A configuration as an entry holds it: the thirteen values by their .coef
// names, and the 55 bytes as the meter sent or was sent them (hex), from
// which it is taken back whole.
QJsonObject ConfigJson(const DeviceConfig& c);
std::optional<DeviceConfig> ConfigFromJson(const QJsonObject& o);

// The configuration an entry holds for writing back: a read's, or what a
// write found before it. None for other kinds.
std::optional<DeviceConfig> EntryConfig(const JournalEntry& e);

// Records a .coef file saved or loaded: the action runs, then the entry;
// a failure (an exception) is recorded with its text and passed on.
void JournalCoefFile(const QString& kind, const QString& path, const QString& serialText,
                     const std::function<void()>& action);
