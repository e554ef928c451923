// A run's state file of arbitrary content: loading either refuses it with
// the documented message before touching anything, or leaves the run within
// the ranges the wizard indexes its tables with. The file is held in memory
// and read through the code for files on disk.

#include "fuzz_common.h"
#include "ini_file.h"
#include "installed_meters.h"
#include "session_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    if (size < 1)
        return 0;
    // First byte: the stage asked for (-1 = the stored one) and the stage count.
    const int stageCount = (data[0] & 1) ? 5 : 3;
    const int stage = int(data[0] >> 1) % (stageCount + 2) - 1;
    const IniFile file = IniFile::inMemory(InputBytes(data + 1, size - 1), QStringLiteral("Calibration.ini"));

    InstalledMeterList meters;
    RunState run(meters);
    run.StageCount = stageCount;
    StageEntries entries;
    // The check alone answers for a load of the stored stage; a load of a
    // given stage does not look at the stored CALSTEP.
    const QString problem = SessionFileProblem(file, stageCount, run);
    try {
        LoadSessionFile(file, stage, stageCount, run, entries);
        FUZZ_CHECK(stage != -1 || problem.isEmpty());
    } catch (const SessionFileRefused& e) {
        FUZZ_CHECK(stage != -1 || e.text() == problem);
        FUZZ_CHECK(run.CalStep == 0 && run.MaxCalStep == 0);
        return 0;
    }
    FUZZ_CHECK(run.MaxCalStep >= 0 && run.MaxCalStep <= stageCount);
    FUZZ_CHECK(run.CalStep >= 0 && run.CalStep <= stageCount);
    FUZZ_CHECK(meters.Count >= 0 && meters.Count <= InstalledMeterList::kMaxMeters);
    FUZZ_CHECK(meters.DiameterIndex >= 0 && meters.DiameterIndex <= 9);
    return 0;
}
