#pragma once
// The meters installed on the test bench: entered in the installed-meter
// dialog, restored with a calibration or verification run, extended from the
// main window's serial-number box; read by the wizard and the chart windows.
// One list for the whole process, living until the program ends.

#include "frames.h"

#include <QString>

#include <array>
#include <functional>

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

// Does act for each of the first count meters of the list, then shows one
// report with a line a meter, "<action> SN <n>\t OK" or "\t Нет связи";
// after a failure the advice ends it and the box is an error. True when
// every meter succeeded.
bool ReportPerMeter(const InstalledMeterList& list, int count, const QString& action, const QString& advice,
                    const std::function<bool(int index, SerialNumber serial)>& act);
