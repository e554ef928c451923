// Number text: formats, parsing and the user's decimal separator. The suite
// runs under the C locale and under ru_RU.UTF-8; expected texts write the
// user's separator as '#' and "the other one" as '~'.

#include "errors.h"
#include "number_text.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <iomanip>
#include <limits>
#include <string>
#include <vector>

namespace {

QChar otherSeparator()
{
    return DecimalSeparator() == u',' ? QLatin1Char('.') : QLatin1Char(',');
}

QString localised(const char* pattern)
{
    QString s = QString::fromUtf8(pattern);
    s.replace(QLatin1Char('#'), DecimalSeparator());
    s.replace(QLatin1Char('~'), otherSeparator());
    return s;
}

TEST(DecimalSeparator, FollowsTheUsersLocale)
{
    const QByteArray lc = qgetenv("LC_ALL");
    if (lc.startsWith("ru_RU"))
        EXPECT_EQ(DecimalSeparator(), u',');
    else if (lc == "C" || lc == "POSIX")
        EXPECT_EQ(DecimalSeparator(), u'.');
    else
        GTEST_SKIP() << "LC_ALL is neither C nor ru_RU: nothing fixed to compare with";
}

void printArgs(const std::vector<FormatArg>& args, std::ostream* os)
{
    *os << '(';
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i)
            *os << ',';
        if (const auto* n = std::get_if<long long>(&args[i]))
            *os << *n;
        else if (const auto* d = std::get_if<double>(&args[i]))
            *os << std::setprecision(17) << *d;
        else
            *os << "'" << std::get<QString>(args[i]).toStdString() << "'";
    }
    *os << ')';
}

// FormatText takes a braced list; a table keeps its arguments in a vector.
QString formatWith(const char* format, const std::vector<FormatArg>& a)
{
    switch (a.size()) {
    case 0:
        return FormatText(format, {});
    case 1:
        return FormatText(format, {a[0]});
    case 2:
        return FormatText(format, {a[0], a[1]});
    case 3:
        return FormatText(format, {a[0], a[1], a[2]});
    case 4:
        return FormatText(format, {a[0], a[1], a[2], a[3]});
    }
    ADD_FAILURE() << "add a case to formatWith";
    return {};
}

struct FormatCase {
    const char* format;
    std::vector<FormatArg> args;
    const char* expected;  // '#' = the user's separator
};

void PrintTo(const FormatCase& c, std::ostream* os)
{
    *os << '"' << c.format << '"';
    printArgs(c.args, os);
}

class FormatTextTable : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTextTable, RendersAsPrintfWithUsersSeparatorInRealsOnly)
{
    const FormatCase& c = GetParam();
    EXPECT_EQ(formatWith(c.format, c.args), localised(c.expected)) << c.format;
}

const double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Table, FormatTextTable,
    testing::Values(FormatCase{"%1.6f", {0.015}, "0#015000"},
                    FormatCase{"%1.6f", {100.0}, "100#000000"},
                    FormatCase{"%1.6f", {-0.43}, "-0#430000"},
                    FormatCase{"%1.6f", {1e-7}, "0#000000"},
                    FormatCase{"%1.2f", {-0.425}, "-0#42"},  // the double is just below -0.425
                    FormatCase{"%1.2f", {2.675}, "2#67"},
                    FormatCase{"%3.3f", {1.5}, "1#500"},
                    FormatCase{"%8.3f|", {1.5}, "   1#500|"},
                    FormatCase{"Вес вых имп.   \t%3.3f", {100.0}, "Вес вых имп.   \t100#000"},
                    FormatCase{"%1.3f м3/ч", {12.3456}, "12#346 м3/ч"},
                    FormatCase{"%.5d", {42LL}, "00042"},
                    FormatCase{"%.5d", {-42LL}, "-00042"},
                    FormatCase{"%-5d|", {42LL}, "42   |"},
                    FormatCase{"%5d|", {-42LL}, "  -42|"},
                    FormatCase{"№ %-5d %03.3f", {7LL, 2.5}, "№ 7     2#500"},
                    FormatCase{"%08.3f", {-2.5}, "-002#500"},
                    FormatCase{"%d выполнено %d", {2LL, 1LL}, "2 выполнено 1"},
                    FormatCase{"ПРОТОКОЛ № %3d", {5LL}, "ПРОТОКОЛ №   5"},
                    FormatCase{"Ду-%d", {15LL}, "Ду-15"},
                    FormatCase{"%d", {-2147483648LL}, "-2147483648"},
                    FormatCase{"%+d % d", {5LL, 5LL}, "+5  5"},
                    FormatCase{"%x %X %#x %u", {255LL, 255LL, 255LL, 7LL}, "ff FF 0xff 7"},
                    FormatCase{"%ld %lld %Lf", {1LL, 2LL, 0.5}, "1 2 0#500000"},
                    FormatCase{"%e", {12345.678}, "1#234568e+04"},
                    FormatCase{"%E", {0.0}, "0#000000E+00"},
                    FormatCase{"%g %g %G", {0.0001, 1e20, 1.5e-7}, "0#0001 1e+20 1#5E-07"},
                    FormatCase{"%g", {100.0}, "100"},
                    FormatCase{"%#.0f", {3.0}, "3#"},
                    FormatCase{"%.0f", {2.5}, "2"},
                    FormatCase{"%f", {kInf}, "inf"},
                    FormatCase{"%*d|%-*d|", {4LL, 7LL, 3LL, 8LL}, "   7|8  |"},
                    FormatCase{"%*d|", {-4LL, 7LL}, "7   |"},
                    FormatCase{"%.*f", {2LL, 3.14159}, "3#14"},
                    FormatCase{"/ %18s /", {QString::fromUtf8("Иванов И.И.")}, "/        Иванов И.И. /"},
                    FormatCase{"%-6s|%.2s|", {QString("ab"), QString::fromUtf8("абв")}, "ab    |аб|"},
                    FormatCase{"%3s|", {QString::fromUtf8("😀")}, "  😀|"},
                    FormatCase{"%s", {QString("1.5 %d")}, "1.5 %d"},  // inserted text is not re-read
                    FormatCase{"%c%c%3c", {65LL, 0x416LL, 0x1F600LL}, "AЖ  😀"},
                    FormatCase{"100%% %d", {1LL}, "100% 1"},
                    FormatCase{"", {}, ""},
                    FormatCase{"v1.06 - 0.5", {}, "v1.06 - 0.5"}));

struct BadFormatCase {
    const char* format;
    std::vector<FormatArg> args;
    const char* message;
};

void PrintTo(const BadFormatCase& c, std::ostream* os)
{
    *os << '"' << c.format << '"';
    printArgs(c.args, os);
}

class FormatTextRefuses : public testing::TestWithParam<BadFormatCase> {};

TEST_P(FormatTextRefuses, BadFormatOrArgument)
{
    const BadFormatCase& c = GetParam();
    try {
        const QString s = formatWith(c.format, c.args);
        ADD_FAILURE() << c.format << " gave " << s.toStdString();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.text(), QString::fromUtf8(c.message));
    }
}

#define INVALID(f) "Format '" f "' invalid or incompatible with argument"
INSTANTIATE_TEST_SUITE_P(Table, FormatTextRefuses,
    testing::Values(BadFormatCase{"%d", {1.5}, INVALID("%d")},
                    BadFormatCase{"%1.6f", {1LL}, INVALID("%1.6f")},
                    BadFormatCase{"%s", {1LL}, INVALID("%s")},
                    BadFormatCase{"%d", {QString("1")}, INVALID("%d")},
                    BadFormatCase{"%d", {}, "No argument for format '%d'"},
                    BadFormatCase{"%d и %d", {1LL}, "No argument for format '%d и %d'"},
                    BadFormatCase{"%*d", {3LL}, "No argument for format '%*d'"},
                    BadFormatCase{"%d", {1LL, 2LL}, INVALID("%d")},
                    BadFormatCase{"%q", {1LL}, INVALID("%q")},
                    BadFormatCase{"%n", {1LL}, INVALID("%n")},
                    BadFormatCase{"%p", {1LL}, INVALID("%p")},
                    BadFormatCase{"%a", {1.0}, INVALID("%a")},
                    BadFormatCase{"%hd", {1LL}, INVALID("%hd")},
                    BadFormatCase{"%1$d", {1LL}, INVALID("%1$d")},
                    BadFormatCase{"%'d", {1000LL}, INVALID("%'d")},
                    BadFormatCase{"trailing %", {}, INVALID("trailing %")},
                    BadFormatCase{"%5", {1LL}, INVALID("%5")},
                    BadFormatCase{"%05s", {QString("x")}, INVALID("%05s")},
                    BadFormatCase{"%99999d", {1LL}, INVALID("%99999d")},
                    BadFormatCase{"%.99999f", {1.0}, INVALID("%.99999f")},
                    BadFormatCase{"%*d", {100000LL, 1LL}, INVALID("%*d")},
                    BadFormatCase{"%c", {-1LL}, INVALID("%c")},
                    BadFormatCase{"%c", {0xD800LL}, INVALID("%c")},
                    BadFormatCase{"%c", {0x110000LL}, INVALID("%c")}));
#undef INVALID

TEST(FormatText, NullFormatIsRefused)
{
    EXPECT_THROW(FormatText(nullptr, {}), EConvertError);
}

// QApplication has set the C library's locale from the environment. Whatever
// it is, the output must be C's printf output with only the user's separator
// put in: force the C library's numeric locale to the opposite convention.
TEST(FormatText, IgnoresTheCLibrarysNumericLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    const char* opposite = DecimalSeparator() == u',' ? "C" : "ru_RU.UTF-8";
    if (!std::setlocale(LC_NUMERIC, opposite))
        GTEST_SKIP() << "locale " << opposite << " is not installed";
    const QString formatted = FormatText("%1.6f %e %g", {1.5, 1.5, 1.5});
    double parsed = 0;
    const bool ok = TryStrToFloat(localised("2#25"), parsed);
    const QString general = FloatToStr(0.125);
    std::setlocale(LC_NUMERIC, saved.c_str());

    EXPECT_EQ(formatted, localised("1#500000 1#500000e+00 1#5"));
    EXPECT_TRUE(ok);
    EXPECT_EQ(parsed, 2.25);
    EXPECT_EQ(general, localised("0#125"));
}

struct IntCase {
    const char* text;
    bool valid;
    int value;
};

void PrintTo(const IntCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class StrToIntTable : public testing::TestWithParam<IntCase> {};

TEST_P(StrToIntTable, ParsesOrRefuses)
{
    const IntCase& c = GetParam();
    const QString s = QString::fromUtf8(c.text);
    int v = 12345;
    EXPECT_EQ(TryStrToInt(s, v), c.valid) << c.text;
    if (c.valid) {
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(StrToInt(s), c.value);
        EXPECT_EQ(StrToIntDef(s, -7), c.value);
    } else {
        EXPECT_EQ(v, 12345) << "a refused text must leave the output alone";
        EXPECT_EQ(StrToIntDef(s, -7), -7);
        try {
            StrToInt(s);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), "'" + s + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StrToIntTable,
    testing::Values(IntCase{"0", true, 0},
                    IntCase{"1201", true, 1201},
                    IntCase{"-17", true, -17},
                    IntCase{"+5", true, 5},
                    IntCase{"   42", true, 42},
                    IntCase{"0000000000000000000012", true, 12},
                    IntCase{"2147483647", true, 2147483647},
                    IntCase{"-2147483648", true, -2147483647 - 1},
                    IntCase{"$1F", true, 31},
                    IntCase{"$1f", true, 31},
                    IntCase{"0x1F", true, 31},
                    IntCase{"0X1f", true, 31},
                    IntCase{"-$10", true, -16},
                    IntCase{" 0x7FFFFFFF", true, 2147483647},
                    IntCase{"$FFFFFFFF", true, -1},  // the full 32-bit pattern: hex names bits
                    IntCase{"$80000000", true, -2147483647 - 1},
                    IntCase{"2147483648", false, 0},
                    IntCase{"-2147483649", false, 0},
                    IntCase{"99999999999999999999", false, 0},
                    IntCase{"$100000000", false, 0},
                    IntCase{"", false, 0},
                    IntCase{" ", false, 0},
                    IntCase{"abc", false, 0},
                    IntCase{"12abc", false, 0},
                    IntCase{"12 ", false, 0},
                    IntCase{"\t12", false, 0},
                    IntCase{"- 12", false, 0},
                    IntCase{"+-1", false, 0},
                    IntCase{"1.5", false, 0},
                    IntCase{"1e3", false, 0},
                    IntCase{"$", false, 0},
                    IntCase{"0x", false, 0},
                    IntCase{"0x-1", false, 0},
                    IntCase{"$G", false, 0},
                    IntCase{"x1F", false, 0},
                    IntCase{"１２", false, 0},  // full-width digits
                    IntCase{"٣", false, 0}));   // Arabic-Indic digit

struct FloatCase {
    const char* text;  // '#' = the user's separator, '~' = the other one
    bool valid;
    double value;
};

void PrintTo(const FloatCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class StrToFloatTable : public testing::TestWithParam<FloatCase> {};

TEST_P(StrToFloatTable, ParsesWithUsersSeparatorOnly)
{
    const FloatCase& c = GetParam();
    const QString s = localised(c.text);
    double v = -99;
    EXPECT_EQ(TryStrToFloat(s, v), c.valid) << s.toStdString();
    if (c.valid) {
        EXPECT_DOUBLE_EQ(v, c.value) << s.toStdString();
        EXPECT_DOUBLE_EQ(StrToFloat(s), c.value);
    } else {
        EXPECT_EQ(v, -99);
        try {
            StrToFloat(s);
            ADD_FAILURE() << s.toStdString() << " was accepted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), "'" + s + "' is not a valid floating point value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StrToFloatTable,
    testing::Values(FloatCase{"0#015000", true, 0.015},
                    FloatCase{"100#000000", true, 100.0},
                    FloatCase{"-0#43", true, -0.43},
                    FloatCase{"+2", true, 2.0},
                    FloatCase{"  1#5  ", true, 1.5},
                    FloatCase{"1#", true, 1.0},
                    FloatCase{"#5", true, 0.5},
                    FloatCase{"1e3", true, 1000.0},
                    FloatCase{"1#5E-2", true, 0.015},
                    FloatCase{"2e+2", true, 200.0},
                    FloatCase{"1e-400", true, 0.0},  // underflow reads as zero
                    FloatCase{"1#7976931348623157e308", true, 1.7976931348623157e308},
                    FloatCase{"1~5", false, 0},
                    FloatCase{"0~015000", false, 0},
                    FloatCase{"1#2#3", false, 0},
                    FloatCase{"", false, 0},
                    FloatCase{"   ", false, 0},
                    FloatCase{"#", false, 0},
                    FloatCase{"-", false, 0},
                    FloatCase{"НЕТ", false, 0},
                    FloatCase{"1e", false, 0},
                    FloatCase{"1e+", false, 0},
                    FloatCase{"e3", false, 0},
                    FloatCase{"1e400", false, 0},
                    FloatCase{"-1e400", false, 0},
                    FloatCase{"inf", false, 0},
                    FloatCase{"INF", false, 0},
                    FloatCase{"nan", false, 0},
                    FloatCase{"0x10", false, 0},
                    FloatCase{"1 000", false, 0},
                    FloatCase{"1#5x", false, 0},
                    FloatCase{"--1", false, 0},
                    FloatCase{"\t1", false, 0},
                    FloatCase{"١", false, 0}));

struct FloatToStrCase {
    double value;
    const char* text;
};

void PrintTo(const FloatToStrCase& c, std::ostream* os)
{
    *os << std::setprecision(17) << c.value;
}

class FloatToStrTable : public testing::TestWithParam<FloatToStrCase> {};

TEST_P(FloatToStrTable, ShortestGeneralFormWith15Digits)
{
    const FloatToStrCase& c = GetParam();
    EXPECT_EQ(FloatToStr(c.value), localised(c.text));
}

INSTANTIATE_TEST_SUITE_P(Table, FloatToStrTable,
    testing::Values(FloatToStrCase{0.015, "0#015"},
                    FloatToStrCase{100.0, "100"},
                    FloatToStrCase{-0.43, "-0#43"},
                    FloatToStrCase{1.0 / 3.0, "0#333333333333333"},
                    FloatToStrCase{0.1 + 0.2, "0#3"},
                    FloatToStrCase{123456789012345.0, "123456789012345"},
                    FloatToStrCase{1e15, "1E15"},
                    FloatToStrCase{1e100, "1E100"},
                    FloatToStrCase{0.0001, "0#0001"},
                    FloatToStrCase{0.00001, "1E-5"},
                    FloatToStrCase{-1.5e-7, "-1#5E-7"},
                    FloatToStrCase{0.0, "0"},
                    FloatToStrCase{-0.0, "0"},
                    FloatToStrCase{std::numeric_limits<double>::infinity(), "INF"},
                    FloatToStrCase{-std::numeric_limits<double>::infinity(), "-INF"},
                    FloatToStrCase{std::numeric_limits<double>::quiet_NaN(), "NAN"}));

TEST(FloatToStr, ReadsBackThroughStrToFloat)
{
    for (const double v : {0.015, 577.5, -12.345678901234, 1e-10, 6.02214076e23, 0.1, 1.0 / 7.0}) {
        double back = 0;
        ASSERT_TRUE(TryStrToFloat(FloatToStr(v), back)) << FloatToStr(v).toStdString();
        EXPECT_NEAR(back, v, std::abs(v) * 1e-14);
    }
}

} // namespace
