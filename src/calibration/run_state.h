#pragma once
// The state of a calibration or verification run, one per process: the
// installed-meter list (shared with the main window and the chart windows)
// plus what belongs to the run itself. No UI here; the wizard, the session
// file and the protocol all work on this one object.

#include "installed_meters.h"

#include <QString>

// The two state files beside the executable.
extern const char* const kCalibrationSessionFile;   // "Calibration.ini"
extern const char* const kVerificationSessionFile;  // "Poverka.ini"

struct RunState {
    explicit RunState(InstalledMeterList& meters) : Meters(meters) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    // NP, serial numbers, DYINDEX and the meters' configurations.
    InstalledMeterList& Meters;

    QString SessionFileName;        // "Calibration.ini" or "Poverka.ini"
    bool VerificationMode = false;
    int StageCount = 5;             // set when the wizard is shown
    int CalStep = 0;                // CALSTEP: stage worked on, 0 = none begun
    int MaxCalStep = 0;             // MAXCALSTEP: highest stage computed
    // The run was restored from its file rather than entered: the two
    // configuration bytes the file does not hold are unknown.
    bool Restored = false;
};

// The process-wide run, over InstalledMeters().
RunState& CurrentRun();
