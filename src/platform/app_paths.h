#pragma once
// Where the program's files live. One rule, decided once at start-up:
//
// - Installed copy: a marker file, put there only by the install rules, exists
//   at <executable dir>/<ZRM_INSTALLED_DATA_DIR>/installed (share/zrm-scanner
//   beside bin/). Then the user's files (Settings.ini, Calibration.ini,
//   Poverka.ini, Restore/, Protocols/) live in the per-user data folder
//   (~/.local/share/zrm-scanner), created on first start; the protocol
//   template is read from the install's data folder and the office helper
//   from its libexec folder.
// - Portable copy (build tree, a copied folder, a Windows bench PC): no marker,
//   so everything lives beside the executable.
//
// Whether the executable's folder is writable plays no part: root can write
// /usr/bin, and a read-only portable folder is still portable.
//
// The windows and zrm-cli both start with LocateAndUse(); tests set a
// temporary directory instead.

#include <QString>

struct AppLocations {
    bool installed = false;
    QString files;      // the user's files
    QString resources;  // read-only data shipped with the program (the template)
    QString helpers;    // helper programs (the office helper)
};

class AppPaths {
public:
    // The rule above. userDataDir is the per-user data folder to use for an
    // installed copy; it is created (with its parents) when missing. Returns
    // false in `created` when that fails.
    static AppLocations Locate(const QString& executableDir, const QString& userDataDir, bool* created = nullptr);
    // The per-user data folder of this user: <generic data location>/zrm-scanner.
    static QString UserDataDirectory();
    // Takes every location of `where`.
    static void Use(const AppLocations& where);
    // Locate for the running executable and this user, then Use. A user data
    // folder that cannot be created is reported in an error box; the program
    // goes on (its files then cannot be written).
    static AppLocations LocateAndUse();

    // The user's files.
    static void setDirectory(const QString& dir);
    static QString directory();
    // directory() + "/" + name
    static QString file(const QString& name);

    // Shipped data; directory() unless set.
    static void setResourceDirectory(const QString& dir);
    static QString resourceFile(const QString& name);

    // Helper programs; the executable's directory unless set.
    static void setHelperDirectory(const QString& dir);
    static QString helperFile(const QString& name);
};
