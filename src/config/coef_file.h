#pragma once
// The ".coef" file: one meter's configuration kept as the editor's fourteen
// texts, unconverted, in section DEVICE_CFG of an INI file (Windows-1251,
// CR LF), by default in "Restore" beside the executable.

#include "editor_texts.h"

#include <QString>

class IniFile;

extern const char* const kCoefSection;      // "DEVICE_CFG"
extern const char* const kCoefSerialKey;    // "SN"
extern const char* const kCoefMissingText;  // "НЕТ"

// "ZRM_№" followed by the serial number text, as it stands.
QString DefaultCoefFileName(const QString& serialText);

// <program directory>/Restore.
QString CoefRestoreDirectory();

// Writes "SN", then the thirteen values, each key updated in place and on
// disk at once; every other section, key and comment of an existing file
// stays. A text holding CR or LF is refused (AppError) before anything is
// written. A refused key write throws EIniFileException ("Unable to write
// to <path>"): the keys before it stay written, the later ones are not.
void SaveCoefFile(const QString& path, const EditorTexts& texts);
// The same on an IniFile, which may hold its bytes in memory.
void SaveCoefFile(IniFile& ini, const EditorTexts& texts);

// The fourteen texts; "НЕТ" for a missing key or section.
EditorTexts LoadCoefFile(const QString& path);
EditorTexts LoadCoefFile(const IniFile& ini);
