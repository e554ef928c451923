#include "app_font.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

// The system's UI font first (Segoe UI since Vista, Tahoma before and under
// wine), each only when it has Cyrillic letters. 9 points, as Windows sets
// its message font.
void UseApplicationFont()
{
    const QStringList installed = QFontDatabase::families();
    for (const char* family : {"Segoe UI", "Tahoma", "DejaVu Sans", "Arial"}) {
        const QString name = QString::fromLatin1(family);
        if (installed.contains(name, Qt::CaseInsensitive) &&
            QFontDatabase::writingSystems(name).contains(QFontDatabase::Cyrillic)) {
            QApplication::setFont(QFont(name, 9));
            return;
        }
    }
}
