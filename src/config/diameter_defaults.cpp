#include "diameter_defaults.h"

#include <stdexcept>
#include <string>

const std::array<const char*, kDiameterCount> DiameterNames = {
    "Ду 15", "Ду 25", "Ду 32", "Ду 40", "Ду 50", "Ду 80", "Ду 100", "Ду 150", "Ду 200", "Ду 300",
};

// FL4 of Ду 300 is 125, below Ду 200's 565: that is the meters' own value.
const double DiameterDefaults[kConfigValueCount][kDiameterCount] = {
    /* Dy      */ {0.015, 0.025, 0.032, 0.04, 0.05, 0.08, 0.1, 0.15, 0.2, 0.3},
    /* Ves     */ {1, 10, 10, 100, 100, 100, 100, 100, 1000, 1000},
    /* K0      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* K1      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* K2      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* K3      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* K4      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* FL0     */ {0.015, 0.035, 0.05, 0.1, 0.15, 0.35, 0.6, 1.2, 2.5, 5},
    /* FL1     */ {0.03, 0.09, 0.15, 0.2, 0.3, 0.9, 1.4, 3.2, 5.7, 12.7},
    /* FL2     */ {0.06, 0.17, 0.3, 0.45, 0.7, 1.8, 2.8, 6.5, 11.3, 25.5},
    /* FL3     */ {0.12, 0.35, 0.6, 0.9, 1.5, 3.6, 5.6, 13, 22.6, 50},
    /* FL4     */ {3.3, 9, 15, 22, 35, 90, 142, 315, 565, 125},
    /* MainCal */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
};

DeviceConfig DefaultConfigFor(int diameterIndex)
{
    if (diameterIndex < 0 || diameterIndex >= kDiameterCount)
        throw std::out_of_range("diameter index " + std::to_string(diameterIndex) + " is not 0..9");
    DeviceConfig c;
    for (int n = 0; n < kConfigValueCount; ++n)
        c.SetValue(n, float(DiameterDefaults[n][diameterIndex]));
    return c;
}
