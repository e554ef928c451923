#pragma once
// Windows-1251, the code page of the program's INI, .coef and state files.
// The table is the project's own, so the conversion is the same on every
// system and needs no ICU: one byte per character, the byte offsets of a
// text equal its character offsets.

#include <QByteArray>
#include <QString>

namespace cp1251 {

// Every byte has a character (0x98 is U+0098, as Windows converts it).
QString Decode(const QByteArray& bytes);
// Characters the code page cannot hold become "?", one per character (a
// surrogate pair is one), as the Windows ANSI services store them.
QByteArray Encode(const QString& text);

}  // namespace cp1251
