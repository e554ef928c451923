#pragma once
// Small helpers the test programs share.

#include "number_text.h"

#include <QObject>
#include <QString>

// The user's decimal separator in place of every '.' of a text written with dots.
inline QString Localised(const char* text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('.'), DecimalSeparator());
}

// Lets the event loop run for `ms`: timers fire and received bytes are delivered.
void Pump(int ms);

// A named child control; the test stops at once when it does not exist.
[[noreturn]] void MissingControl(const QString& name);
template <class T> T* FindControl(const QObject& parent, const QString& name)
{
    T* c = parent.findChild<T*>(name);
    if (!c)
        MissingControl(name);
    return c;
}
