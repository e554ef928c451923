#pragma once
// What the program keeps in memory of "Settings.ini" (section CONFIG) from
// start-up on: the next protocol number and the two names on a protocol.

#include <QString>

struct ProgramSettings {
    int RepNo = 0;  // REPNO
    QString Fio1;   // FIO1, "Испытал Ф.И.О."
    QString Fio2;   // FIO2, "Поверил Ф.И.О."
};
