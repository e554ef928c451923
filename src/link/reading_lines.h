#pragma once
// A meter's readings as the main window's memos show them: one text per
// line, numbers with the user's decimal separator.

#include "frames.h"

#include <QStringList>

// Flow, volume (the counter divided by volumeScale) and operating hours.
QStringList StateLines(const DeviceState& state, int volumeScale);

// Dy and the pulse weight; then, unless userMode, K0..K4, FL0..FL4 and MainCal.
QStringList ConfigLines(const DeviceConfig& config, bool userMode);
