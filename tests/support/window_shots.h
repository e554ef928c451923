#pragma once
// Pictures of the program's windows for docs/screenshots, shared by the
// screenshot programs. Run them under Xvfb so a picture is the X server's own.

#include "test_helpers.h"

#include <QString>

class QWidget;

// What a picture holds under an X server: the window's frame as
// `import -window root -crop` would cut it, or the whole screen.
enum class ShotArea { Window, Screen };

// Saves a picture of `w` after letting it settle for `settleMs`; without an
// X server the widget's own rendering. Prints what it wrote or failed to.
bool SaveShot(QWidget& w, const QString& file, ShotArea area = ShotArea::Window, int settleMs = 400);
