#pragma once
// The font every window is laid out with. Where the system's default UI font
// is not dependable for Russian texts (Windows builds running under wine
// resolve it to a symbol font), an explicit one is set. One implementation
// per system (app_font_posix.cpp, app_font_win32.cpp).

// After the QApplication exists, before any window is made.
void UseApplicationFont();
