#pragma once
// What every window does the same way: the keys it leaves alone, and where
// it first appears.

class QWidget;

// Esc does nothing in this window: it has no cancel button, or a cancel
// would drop what the user typed. The window is left by its own buttons or
// the title bar's close button. (An open cell editor still takes Esc back.)
void IgnoreEscape(QWidget* window);

// Centred on the primary screen's available area (not behind a panel).
void CentreOnScreen(QWidget& window);
