#include "stages.h"

#include "diameter_defaults.h"

#include <stdexcept>
#include <string>

namespace {

struct Stage {
    const char* name;
    int defaultsRow;  // row of DiameterDefaults: FL0..FL4 are 7..11
};

constexpr Stage kCalibration[kCalibrationStages] = {
    {"FL4", 11}, {"FL3", 10}, {"FL2", 9}, {"FL1", 8}, {"FL0", 7},
};

// Qmax/2, Qt2 and Qt1 are the FL4, FL2 and FL1 set-points.
constexpr Stage kVerification[kVerificationStages] = {
    {"Qmax/2", 11}, {"Qt2", 9}, {"Qt1", 8},
};

const Stage& StageAt(bool verification, int stage)
{
    if (stage < 1 || stage > StageCountFor(verification))
        throw std::out_of_range("stage " + std::to_string(stage) + " does not exist");
    return verification ? kVerification[stage - 1] : kCalibration[stage - 1];
}

} // namespace

int StageCountFor(bool verification)
{
    return verification ? kVerificationStages : kCalibrationStages;
}

const char* StageName(bool verification, int stage)
{
    return StageAt(verification, stage).name;
}

double StageSetPoint(bool verification, int stage, int diameterIndex)
{
    const Stage& s = StageAt(verification, stage);
    if (diameterIndex < 0 || diameterIndex >= kDiameterCount)
        throw std::out_of_range("diameter index " + std::to_string(diameterIndex) + " is not 0..9");
    return DiameterDefaults[s.defaultsRow][diameterIndex];
}
