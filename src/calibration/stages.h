#pragma once
// The stages of a run: five in calibration from the highest flow down, three
// in verification. Each stage has a name for the stage grid and a flow
// set-point, m3/h, taken from a flow row of the diameter's defaults.

constexpr int kCalibrationStages = 5;
constexpr int kVerificationStages = 3;
constexpr int kMaxStages = kCalibrationStages;

int StageCountFor(bool verification);

// stage is 1..StageCountFor(verification). Throws std::out_of_range for a
// stage or a diameter index (0..9) outside its range.
const char* StageName(bool verification, int stage);
double StageSetPoint(bool verification, int stage, int diameterIndex);
