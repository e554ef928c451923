#pragma once
// Keys a window handles the same way wherever it is.

class QWidget;

// Esc does nothing in this window: it has no cancel button, or a cancel
// would drop what the user typed. The window is left by its own buttons or
// the title bar's close button. (An open cell editor still takes Esc back.)
void IgnoreEscape(QWidget* window);
