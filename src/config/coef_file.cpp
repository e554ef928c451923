#include "coef_file.h"

#include "app_paths.h"
#include "ini_file.h"

const char* const kCoefSection = "DEVICE_CFG";
const char* const kCoefSerialKey = "SN";
const char* const kCoefMissingText = "НЕТ";

QString DefaultCoefFileName(const QString& serialText)
{
    return QStringLiteral("ZRM_№") + serialText;
}

QString CoefRestoreDirectory()
{
    return AppPaths::file(QStringLiteral("Restore"));
}

namespace {

// Key and text in the order they are written and read.
template <class F> void ForEachKey(F&& f)
{
    f(QString::fromLatin1(kCoefSerialKey), -1);
    for (int n = 0; n < kConfigValueCount; ++n)
        f(QString::fromLatin1(kConfigValueKeys[std::size_t(n)]), n);
}

QString& TextOf(EditorTexts& t, int n)
{
    return n < 0 ? t.Serial : t.Values[std::size_t(n)];
}

}  // namespace

void SaveCoefFile(const QString& path, const EditorTexts& texts)
{
    IniFile ini(path);
    SaveCoefFile(ini, texts);
}

void SaveCoefFile(IniFile& ini, const EditorTexts& texts)
{
    const QString section = QString::fromLatin1(kCoefSection);
    EditorTexts copy = texts;
    // Checked before the first key: a line break would end the line and
    // start another key, and a refusal halfway would leave a mixed file.
    ForEachKey([&](const QString& key, int n) { ini.checkWritable(section, key, TextOf(copy, n)); });
    ForEachKey([&](const QString& key, int n) { ini.writeString(section, key, TextOf(copy, n)); });
}

EditorTexts LoadCoefFile(const QString& path)
{
    return LoadCoefFile(IniFile(path));
}

EditorTexts LoadCoefFile(const IniFile& ini)
{
    const QString section = QString::fromLatin1(kCoefSection);
    const QString missing = QString::fromUtf8(kCoefMissingText);
    EditorTexts t;
    ForEachKey([&](const QString& key, int n) { TextOf(t, n) = ini.readString(section, key, missing); });
    return t;
}
