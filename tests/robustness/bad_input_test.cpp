// Text a user can type, at its worst, through the services every field's text
// passes: integer and real conversion (the runtime's error texts) and the INI
// file (what lands on disk). Characters Windows-1251 cannot hold are stored
// as "?", one per character, as the Windows ANSI services store them.

#include "errors.h"
#include "ini_file.h"
#include "number_text.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

struct BadInput {
    const char* name;
    QString text;
    std::optional<int> asInt;       // nullopt: StrToInt refuses it
    std::optional<double> asFloat;  // nullopt: StrToFloat refuses it
    std::optional<QString> stored;  // what the INI file gives back; nullopt: refused (CR/LF)
};

QString Sep(const char* withComma)
{
    return QString::fromUtf8(withComma).replace(QLatin1Char(','), DecimalSeparator());
}

std::vector<BadInput> Inputs()
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
        {"DecimalOfLocale", Sep("1,5"), {}, 1.5, Sep("1,5")},
        {"PaddedInt", " 12", 12, 12.0, "12"},
    };
}

class BadInputTable : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputTable, ClearMessageAndNoCorruptFile)
{
    const BadInput& in = GetParam();

    if (in.asInt) {
        EXPECT_EQ(StrToInt(in.text), *in.asInt);
    } else {
        try {
            StrToInt(in.text);
            ADD_FAILURE() << "taken as an integer";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), QStringLiteral("'%1' is not a valid integer value").arg(in.text));
        }
    }
    if (in.asFloat) {
        EXPECT_EQ(StrToFloat(in.text), *in.asFloat);
    } else {
        try {
            StrToFloat(in.text);
            ADD_FAILURE() << "taken as a real number";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), QStringLiteral("'%1' is not a valid floating point value").arg(in.text));
        }
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.ini"));
    IniFile ini(path);
    ini.writeString("Settings", "Before", "1");
    ini.writeString("Settings", "Field", "old");
    ini.writeString("Settings", "After", "2");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll();
    f.close();

    if (in.stored) {
        ini.writeString("Settings", "Field", in.text);
        EXPECT_EQ(ini.readString("Settings", "Field", "<none>"), *in.stored);
    } else {
        EXPECT_THROW(ini.writeString("Settings", "Field", in.text), AppError);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), before) << "a refused value changed the file";
        f.close();
        EXPECT_FALSE(ini.sectionExists("X"));
    }
    EXPECT_EQ(ini.readString("Settings", "Before", ""), "1");
    EXPECT_EQ(ini.readString("Settings", "After", ""), "2");
    EXPECT_EQ(ini.readSection("Settings"), (QStringList{"Before", "Field", "After"}));
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTable, ::testing::ValuesIn(Inputs()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
