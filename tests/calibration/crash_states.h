#pragma once
// Two runs that differ in every key, for the crash test and its helper.

#include "session_file.h"

namespace crash_states {

// which 0: stage 1 of a Ду 50 run, serials 101..106; which 1: stage 2 of a
// Ду 80 run, serials 201..206. Six meters, all values distinct.
inline void Make(int which, RunState& run, StageEntries& entries, SessionConfigTexts& configs)
{
    const int base = which == 0 ? 100 : 200;
    run.CalStep = which + 1;
    run.MaxCalStep = which + 1;
    run.Meters.Count = kSessionMeters;
    run.Meters.DiameterIndex = which == 0 ? 4 : 5;
    entries.Timer = QString::number(base + 60);
    entries.RefPulseWeight = QString::number(base + 7);
    entries.RefPulses = QString::number(base * 50);
    for (int n = 0; n < kSessionMeters; ++n) {
        const std::size_t i = std::size_t(n);
        run.Meters.Serials[i] = SerialNumber(base + n + 1);
        entries.MeterPulses[i] = QString::number(base * 40 + n);
        entries.Errors[i] = QString::number(base + n) + QStringLiteral("e");
        DeviceConfig c;
        for (int v = 0; v < kConfigValueCount; ++v)
            c.SetValue(v, float(base + n * 20 + v));
        run.Meters.Configs[i] = c;
        configs[i] = FormatConfigTexts(c);
    }
}

} // namespace crash_states
