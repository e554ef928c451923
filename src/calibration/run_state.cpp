#include "run_state.h"

const char* const kCalibrationSessionFile = "Calibration.ini";
const char* const kVerificationSessionFile = "Poverka.ini";

RunState& CurrentRun()
{
    static RunState run(InstalledMeters());
    return run;
}
