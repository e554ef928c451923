// Saves two different runs into one state file, alternately, until killed.
// The crash test kills it at random moments and checks the file it leaves.
//   session_save_loop <file> atomic   - the program's own save
//   session_save_loop <file> per-key  - key by key straight into the file,
//                                       to show the test can tell
// After the first save it prints "saved" on standard output. A third
// argument N makes it stop after N saves (to time them).

#include "crash_states.h"
#include "ini_file.h"
#include "session_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A save the naive way: each key its own write into the real file.
void SavePerKey(const QString& path, const RunState& run, const StageEntries& e, const SessionConfigTexts& configs)
{
    IniFile ini(path);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("CALSTEP"), run.CalStep);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("MAXCALSTEP"), run.MaxCalStep);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("DYINDEX"), run.Meters.DiameterIndex);
    ini.writeInteger(QStringLiteral("CALIBRCFG"), QStringLiteral("NP"), run.Meters.Count);
    for (int n = 1; n <= run.Meters.Count; ++n)
        ini.writeInteger(QStringLiteral("SNDEVTAB"), QStringLiteral("DEV%1").arg(n), run.Meters.Serials[std::size_t(n - 1)]);
    const QString step = QStringLiteral("STEP%1").arg(run.CalStep);
    ini.writeString(step, QStringLiteral("TIMER"), e.Timer);
    ini.writeString(step, QStringLiteral("VES_ETALON"), e.RefPulseWeight);
    ini.writeString(step, QStringLiteral("IMP_ETALON"), e.RefPulses);
    const char* keys[] = {"CALTAB_DY",  "CALTAB_VES", "CALTAB_K0",  "CALTAB_K1",  "CALTAB_K2",
                          "CALTAB_K3",  "CALTAB_K4",  "CALTAB_FL0", "CALTAB_FL1", "CALTAB_FL2",
                          "CALTAB_FL3", "CALTAB_FL4", "CALTAB_MAINCAL"};
    for (int n = 1; n <= run.Meters.Count; ++n) {
        const std::size_t i = std::size_t(n - 1);
        ini.writeString(step, QStringLiteral("CALTAB%1_IMP_DUZR").arg(n), e.MeterPulses[i]);
        ini.writeString(step, QStringLiteral("CALTAB%1_VOL_ZRM").arg(n), e.Errors[i]);
        for (int v = 0; v < kConfigValueCount; ++v)
            ini.writeString(QStringLiteral("DEV%1").arg(n), QString::fromLatin1(keys[v]), configs[i][std::size_t(v)]);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4)
        return 2;
    const long limit = argc == 4 ? std::strtol(argv[3], nullptr, 10) : -1;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const bool perKey = std::strcmp(argv[2], "per-key") == 0;
    bool announced = false;
    for (long i = 0; limit < 0 || i < limit; ++i) {
        InstalledMeterList meters;
        RunState run(meters);
        StageEntries entries;
        SessionConfigTexts configs;
        crash_states::Make(int(i % 2), run, entries, configs);
        if (perKey)
            SavePerKey(path, run, entries, configs);
        else
            SaveSessionFile(path, run, entries, configs);
        if (!announced) {
            std::printf("saved\n");
            std::fflush(stdout);
            announced = true;
        }
    }
    return 0;
}
