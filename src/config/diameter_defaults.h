#pragma once
// The nominal diameters a meter can have and the default configuration of
// each. The list is the same, in the same order, wherever a diameter is
// chosen; its index is the column of DiameterDefaults.

#include "frames.h"

#include <array>

constexpr int kDiameterCount = 10;

// "Ду 15" .. "Ду 300", UTF-8.
extern const std::array<const char*, kDiameterCount> DiameterNames;

// Rows are the configuration value numbers 0..12 (Dy, Ves, K0..K4, FL0..FL4,
// MainCal), columns the diameters.
extern const double DiameterDefaults[kConfigValueCount][kDiameterCount];

// The thirteen defaults of one diameter as single-precision values, tail
// bytes zero. Throws std::out_of_range outside 0..9.
DeviceConfig DefaultConfigFor(int diameterIndex);
