#include "test_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(ms - t.elapsed()));
}

void MissingControl(const QString& name)
{
    qFatal("no control %s", qPrintable(name));
}
