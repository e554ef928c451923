#pragma once
// The state file of a run ("Calibration.ini" or "Poverka.ini"): sections
// CALIBRCFG, SNDEVTAB, STEP<k> and DEV<n>, keys in a fixed order, values as
// the texts the wizard shows. The layout is shared with the meters' older
// software and with the protocol, so it is binding to the byte.

#include "errors.h"
#include "frames.h"
#include "installed_meters.h"
#include "run_state.h"

#include <QString>

#include <array>

class IniFile;

constexpr int kSessionMeters = InstalledMeterList::kMaxMeters;

// The entries of one stage as they stand in the wizard's controls.
struct StageEntries {
    QString Timer;           // measuring time, s            TIMER
    QString RefPulseWeight;  // reference l/pulse            VES_ETALON
    QString RefPulses;       // reference pulse count        IMP_ETALON
    std::array<QString, kSessionMeters> MeterPulses;  // CALTAB<n>_IMP_DUZR
    std::array<QString, kSessionMeters> Errors;       // CALTAB<n>_VOL_ZRM

    bool operator==(const StageEntries&) const = default;
};

// One meter's thirteen configuration texts (Dy, Ves, K0..K4, FL0..FL4,
// MainCal) as the grid shows them.
using ConfigTexts = std::array<QString, kConfigValueCount>;
using SessionConfigTexts = std::array<ConfigTexts, kSessionMeters>;

// "%1.6f" of each value, with the user's decimal separator.
ConfigTexts FormatConfigTexts(const DeviceConfig& config);

// Writes the run: counters, serial numbers, the entries under
// STEP<run.CalStep> and each meter's configuration texts, in that order.
// Other lines of an existing file stay. The file is replaced in one step,
// so a crash at any moment leaves either the previous save or this one.
// Throws EIniFileException ("Unable to write to <path>").
void SaveSessionFile(const QString& path, const RunState& run, const StageEntries& entries,
                     const SessionConfigTexts& configs);

// A state file whose counters a run cannot hold. Nothing in memory is
// changed and the file is left as it is.
class SessionFileRefused : public AppError {
public:
    using AppError::AppError;
};

// Reads the run back: CALSTEP (the stored one when stage is -1, else
// stage), MAXCALSTEP, DYINDEX, NP, serial numbers (low 16 bits), the stage's
// entries and the configurations (single precision). Whatever is missing,
// or is not a number where one is read, keeps its value in run or entries.
// Throws SessionFileRefused, before changing anything, when NP would be
// outside 1..6, DYINDEX outside 0..9, or MAXCALSTEP or a stored CALSTEP
// outside 0..stageCount.
void LoadSessionFile(const QString& path, int stage, int stageCount, RunState& run, StageEntries& entries);
// The same from an IniFile, which may hold its bytes in memory; messages
// name its fileName().
void LoadSessionFile(const IniFile& ini, int stage, int stageCount, RunState& run, StageEntries& entries);

// The same checks alone: an empty text when the file can be loaded, else
// the message LoadSessionFile would refuse it with.
QString SessionFileProblem(const QString& path, int stageCount, const RunState& run);
QString SessionFileProblem(const IniFile& ini, int stageCount, const RunState& run);
