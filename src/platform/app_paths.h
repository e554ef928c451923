#pragma once
// The program's files live beside the executable. The application object sets
// that directory once; tests set a temporary one.

#include <QString>

class AppPaths {
public:
    static void setDirectory(const QString& dir);
    static QString directory();
    // directory() + "/" + name
    static QString file(const QString& name);
};
