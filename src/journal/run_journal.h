#pragma once
// A calibration or verification run in the journal: one entry per meter for
// each stage computed, and for the protocol written, with the port of the
// run's line. A run's entries carry
// the meter's serial number, so they appear in that meter's history.

#include "protocol_workbook.h"
#include "run_state.h"
#include "session_file.h"

#include <QDateTime>

#include <functional>

// Runs compute (the stage's computation), then records, per meter, the
// stage's entries as entries() then gives them (pulses, error) and, for a
// calibration, the configuration with its new coefficient. A computation
// that throws is recorded as failed with its text and passed on.
void JournalStage(const RunState& run, const QString& port, const std::function<void()>& compute,
                  const std::function<StageEntries()>& entries);

// Records the protocol of the run: written (saved) or not, the file (the one
// the run's report number and a minute between started and now name), the
// report number, the names, and per meter each stage's reference volume,
// pulse count, volume and error as the state file holds them.
void JournalProtocol(bool saved, const QDateTime& started, int repNo, const ProtocolFields& fields,
                     const RunState& run, const QString& port, const QString& message);
