#include "window_shots.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <cstdio>

bool SaveShot(QWidget& w, const QString& file, ShotArea area, int settleMs)
{
    Pump(settleMs);
    QPixmap shot;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        shot = w.grab();
    } else if (area == ShotArea::Screen) {
        shot = QGuiApplication::primaryScreen()->grabWindow(0);
    } else {
        const QRect r = w.frameGeometry();
        shot = QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    }
    const bool ok = shot.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
    return ok;
}
