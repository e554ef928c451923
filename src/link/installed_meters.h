#pragma once
// The meters installed on the test bench: entered in the installed-meter
// dialog, restored with a calibration or verification run, extended from the
// main window's serial-number box; read by the wizard and the chart windows.
// One list for the whole process, living until the program ends.

#include "frames.h"

#include <array>

struct InstalledMeterList {
    static constexpr int kMaxMeters = 6;

    int Count = 0;          // 0..6
    int DiameterIndex = -1;  // 0..9, "Ду 15".."Ду 300"; -1 until one is chosen
    std::array<SerialNumber, kMaxMeters> Serials{};
    std::array<DeviceConfig, kMaxMeters> Configs{};

    bool Contains(SerialNumber n) const
    {
        for (int i = 0; i < Count && i < kMaxMeters; ++i)
            if (Serials[i] == n)
                return true;
        return false;
    }
};

InstalledMeterList& InstalledMeters();
