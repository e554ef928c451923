#pragma once
// Windows only: the name every Win32 file call of src/platform is given.
// An absolute path takes the \\?\ form (\\?\UNC\ for a share), so a name
// longer than MAX_PATH (260) works without the system's long-path opt-in: a
// dated protocol path under a deep data folder reaches that. The system takes
// that form literally, so the path is made absolute and clean (no "." or
// "..", backslashes only) first. Device names (\\.\COM12) and names already
// in that form pass unchanged.

#include <QString>

#include <string>

std::wstring WinPath(const QString& path);
