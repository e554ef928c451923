#pragma once
// The worst text a user can type or paste, shared by the service tests and
// the window tests, with what the conversion and INI services make of it.
// Characters Windows-1251 cannot hold are stored as "?", one per character,
// as the Windows ANSI services store them.

#include "number_text.h"

#include <QString>

#include <optional>
#include <vector>

struct BadInput {
    const char* name;
    QString text;
    std::optional<int> asInt;       // nullopt: StrToInt refuses it
    std::optional<double> asFloat;  // nullopt: StrToFloat refuses it
    std::optional<QString> stored;  // what the INI file gives back; nullopt: refused (CR/LF)
};

// "1,5" with the user's decimal separator.
inline QString WithUserSeparator(const char* withComma)
{
    return QString::fromUtf8(withComma).replace(QLatin1Char(','), DecimalSeparator());
}

inline std::vector<BadInput> BadInputs()
{
    const QString mb9(1 << 20, u'9');
    const QString mbYa(1 << 20, u'я');
    return {
        {"Empty", "", {}, {}, ""},
        {"Blanks", "   ", {}, {}, ""},
        {"HugeDigits", mb9, {}, {}, mb9},
        {"HugeCyrillic", mbYa, {}, {}, mbYa},
        {"NotANumber", "abc", {}, {}, "abc"},
        {"IntMax", "2147483647", 2147483647, 2147483647.0, "2147483647"},
        {"TwoTo31", "2147483648", {}, 2147483648.0, "2147483648"},
        {"IntMin", "-2147483648", -2147483647 - 1, -2147483648.0, "-2147483648"},
        {"BelowIntMin", "-2147483649", {}, -2147483649.0, "-2147483649"},
        {"HexAllOnes", "$FFFFFFFF", -1, {}, "$FFFFFFFF"},
        {"HexTooLong", "$1FFFFFFFF", {}, {}, "$1FFFFFFFF"},
        {"BeyondSingle", "1e39", {}, 1e39, "1e39"},
        {"Exp400", "1e400", {}, {}, "1e400"},
        {"NegExp400", "-1E400", {}, {}, "-1E400"},
        {"Underflow", "1e-400", {}, 0.0, "1e-400"},
        {"NaN", "NaN", {}, {}, "NaN"},
        {"Nan", "nan", {}, {}, "nan"},
        {"Inf", "INF", {}, {}, "INF"},
        {"MinusInf", "-inf", {}, {}, "-inf"},
        {"Infinity", "Infinity", {}, {}, "Infinity"},
        {"CrLfInjection", "1\r\n[X]\r\nY=2", {}, {}, std::nullopt},
        {"LoneLf", "5\n", {}, {}, std::nullopt},
        {"LoneCr", "\r", {}, {}, std::nullopt},
        {"Controls", QString::fromUtf8("\x01" "a\x07" "b\x1b\x7f"), {}, {}, QString::fromUtf8("\x01" "a\x07" "b\x1b\x7f")},
        {"Emoji", QString::fromUtf8("\xF0\x9F\x98\x80"), {}, {}, "?"},
        {"Cjk", QString::fromUtf8("中文"), {}, {}, "??"},
        {"CubedSign", QString::fromUtf8("м³/ч №5 ё"), {}, {}, QString::fromUtf8("м?/ч №5 ё")},
        {"LoneSurrogate", QString(QChar(0xD800)) + "x", {}, {}, "?x"},
        {"ArabicDigits", QString::fromUtf8("١٢"), {}, {}, "??"},
        {"FullwidthDigits", QString::fromUtf8("１２"), {}, {}, "??"},
        {"DecimalOfLocale", WithUserSeparator("1,5"), {}, 1.5, WithUserSeparator("1,5")},
        {"PaddedInt", " 12", 12, 12.0, "12"},
    };
}
