// The editor's texts: diameter matching, the write check in its order, and
// the all-or-nothing conversion. Runs under C and ru_RU.UTF-8; '#' in a text
// stands for the user's decimal separator, '~' for the other one.

#include "diameter_defaults.h"
#include "editor_texts.h"
#include "errors.h"
#include "number_text.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

QString L(const char* pattern)
{
    QString s = QString::fromUtf8(pattern);
    const QChar other = DecimalSeparator() == u',' ? QLatin1Char('.') : QLatin1Char(',');
    s.replace(QLatin1Char('#'), DecimalSeparator());
    s.replace(QLatin1Char('~'), other);
    return s;
}

struct MatchCase {
    double dy;
    int expected;
};

class DiameterMatch : public testing::TestWithParam<MatchCase> {};

TEST_P(DiameterMatch, FirstDiameterStrictlyCloserThanATenThousandth)
{
    EXPECT_EQ(MatchDiameter(GetParam().dy), GetParam().expected) << "dy=" << GetParam().dy;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiameterMatch,
    testing::Values(MatchCase{0.015, 0}, MatchCase{0.05, 4}, MatchCase{0.3, 9},
                    // What a meter really holds: single-precision neighbours.
                    MatchCase{double(0.1f), 6}, MatchCase{double(0.015f), 0}, MatchCase{double(0.04f), 3},
                    MatchCase{0.05005, 4}, MatchCase{0.04995, 4}, MatchCase{0.0502, -1}, MatchCase{0.045, -1},
                    MatchCase{0.30009, 9}, MatchCase{0.2998, -1}, MatchCase{1.0, -1}, MatchCase{0.0, -1},
                    MatchCase{-0.05, -1}, MatchCase{15, -1}));

// A set of texts that passes every check.
EditorTexts Valid()
{
    EditorTexts t;
    t.Serial = QStringLiteral("1234");
    const char* const values[] = {"0#05", "100#0", "1", "1", "1", "1", "1", "0#15", "0#3", "0#7", "1#5", "35", "1"};
    for (int n = 0; n < kConfigValueCount; ++n)
        t.Values[std::size_t(n)] = L(values[n]);
    return t;
}

// Field 13 is the serial number, 0..12 the values.
using Edits = std::vector<std::pair<int, const char*>>;

EditorTexts With(const Edits& edits)
{
    EditorTexts t = Valid();
    for (const auto& [field, text] : edits)
        (field == 13 ? t.Serial : t.Values[std::size_t(field)]) = L(text);
    return t;
}

struct CheckCase {
    const char* name;
    Edits edits;
    const char* message;      // expected first failure; "" = all pass
    const char* convertError; // instead: the conversion error this text raises
};

void PrintTo(const CheckCase& c, std::ostream* os)
{
    *os << c.name;
}

class WriteCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(WriteCheck, FirstFailingCheckInTableOrder)
{
    const CheckCase& c = GetParam();
    const EditorTexts texts = With(c.edits);
    if (c.convertError) {
        try {
            FirstWriteCheckFailure(texts);
            FAIL() << "no conversion error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), L(c.convertError));
        }
    } else {
        EXPECT_EQ(FirstWriteCheckFailure(texts), QString::fromUtf8(c.message));
    }
}

const char* const kSerialMsg = "Проверте правильность ввода серийного номера";

INSTANTIATE_TEST_SUITE_P(
    Table, WriteCheck,
    testing::Values(
        CheckCase{"AllValid", {}, "", nullptr},
        CheckCase{"Serial0", {{13, "0"}}, kSerialMsg, nullptr},
        CheckCase{"Serial65536", {{13, "65536"}}, kSerialMsg, nullptr},
        CheckCase{"SerialNegative", {{13, "-1"}}, kSerialMsg, nullptr},
        CheckCase{"Serial1", {{13, "1"}}, "", nullptr},
        CheckCase{"Serial65535", {{13, "65535"}}, "", nullptr},
        CheckCase{"SerialEmpty", {{13, ""}}, nullptr, "'' is not a valid integer value"},
        CheckCase{"SerialText", {{13, "12a"}}, nullptr, "'12a' is not a valid integer value"},
        CheckCase{"SerialBeyondInt", {{13, "99999999999"}}, nullptr, "'99999999999' is not a valid integer value"},
        CheckCase{"DyZero", {{0, "0"}}, "Проверте правильность ввода Ду", nullptr},
        CheckCase{"DyNegative", {{0, "-0#01"}}, "Проверте правильность ввода Ду", nullptr},
        CheckCase{"DyEmpty", {{0, ""}}, "Проверте правильность ввода Ду", nullptr},
        CheckCase{"DyBlank", {{0, " "}}, nullptr, "' ' is not a valid floating point value"},
        CheckCase{"DyOtherSeparator", {{0, "0~05"}}, nullptr, "'0~05' is not a valid floating point value"},
        CheckCase{"VesZero", {{1, "0"}}, "Проверте правильность ввода ВЕСА ИМПУЛЬСА", nullptr},
        CheckCase{"VesText", {{1, "abc"}}, nullptr, "'abc' is not a valid floating point value"},
        CheckCase{"K0Zero", {{2, "0"}}, "", nullptr},
        CheckCase{"K0NegativeAndBlank", {{2, "-5"}, {3, " "}}, "", nullptr},
        // Only emptiness is checked for the coefficients.
        CheckCase{"K2TextPassesTheCheck", {{4, "abc"}}, "", nullptr},
        CheckCase{"K0Empty", {{2, ""}}, "Проверте правильность ввода K0", nullptr},
        CheckCase{"K1Empty", {{3, ""}}, "Проверте правильность ввода K1", nullptr},
        CheckCase{"K2Empty", {{4, ""}}, "Проверте правильность ввода K2", nullptr},
        CheckCase{"K3Empty", {{5, ""}}, "Проверте правильность ввода K3", nullptr},
        CheckCase{"K4Empty", {{6, ""}}, "Проверте правильность ввода K4", nullptr},
        CheckCase{"FL0Zero", {{7, "0"}}, "Проверте правильность ввода FL0", nullptr},
        CheckCase{"FL1Negative", {{8, "-1"}}, "Проверте правильность ввода FL1", nullptr},
        CheckCase{"FL2Empty", {{9, ""}}, "Проверте правильность ввода FL2", nullptr},
        CheckCase{"FL3Zero", {{10, "0#0"}}, "Проверте правильность ввода FL3", nullptr},
        CheckCase{"FL4Zero", {{11, "0"}}, "Проверте правильность ввода FL4", nullptr},
        CheckCase{"FL4Text", {{11, "x"}}, nullptr, "'x' is not a valid floating point value"},
        CheckCase{"MainCalEmpty", {{12, ""}}, "Проверте правильность ввода MAINCAL", nullptr},
        CheckCase{"MainCalZero", {{12, "0"}}, "", nullptr},
        // Several faults: only the first in table order counts, and no later
        // field is even converted.
        CheckCase{"SerialBeforeDy", {{0, ""}, {13, "0"}}, kSerialMsg, nullptr},
        CheckCase{"DyBeforeFL4", {{11, "0"}, {0, "0"}}, "Проверте правильность ввода Ду", nullptr},
        CheckCase{"DyEmptyBeforeVesText", {{1, "abc"}, {0, ""}}, "Проверте правильность ввода Ду", nullptr},
        CheckCase{"K0BeforeFL0Text", {{7, "abc"}, {2, ""}}, "Проверте правильность ввода K0", nullptr},
        CheckCase{"K3BeforeFL0", {{7, "0"}, {5, ""}}, "Проверте правильность ввода K3", nullptr},
        CheckCase{"FL4BeforeMainCal", {{12, ""}, {11, "-2"}}, "Проверте правильность ввода FL4", nullptr},
        CheckCase{"SerialTextBeforeEverything", {{0, ""}, {13, "x"}}, nullptr, "'x' is not a valid integer value"}),
    [](const testing::TestParamInfo<CheckCase>& param_info) { return std::string(param_info.param.name); });

TEST(ConvertEditorTexts, ConvertsAllFourteen)
{
    EditorTexts t = With({{13, "65535"}, {4, "-2#5"}, {12, "0#999"}});
    const EditedConfig e = ConvertEditorTexts(t);
    EXPECT_EQ(e.Serial, 65535);
    EXPECT_EQ(e.Values[0], 0.05f);
    EXPECT_EQ(e.Values[4], -2.5f);
    EXPECT_EQ(e.Values[11], 35.0f);
    EXPECT_EQ(e.Values[12], 0.999f);
}

TEST(ConvertEditorTexts, ABadTextOfAnyFieldThrowsItsError)
{
    for (int field = 0; field <= 13; ++field) {
        SCOPED_TRACE(field);
        const EditorTexts t = With({{field, "1z"}});
        try {
            ConvertEditorTexts(t);
            FAIL() << "converted";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.text(), field == 13 ? QStringLiteral("'1z' is not a valid integer value")
                                            : QStringLiteral("'1z' is not a valid floating point value"));
        }
    }
}

TEST(ConvertEditorTexts, BeyondSinglePrecisionIsAnOverflowNotInfinity)
{
    for (const char* text : {"1e39", "-1e39", "3#5e38"}) {
        SCOPED_TRACE(text);
        try {
            ConvertEditorTexts(With({{6, text}}));
            FAIL() << "converted";
        } catch (const AppError& e) {
            EXPECT_EQ(e.text(), QStringLiteral("Floating point overflow"));
        }
    }
    // The largest single-precision values still pass.
    EXPECT_EQ(ConvertEditorTexts(With({{6, "3#4028234e38"}})).Values[6], FLT_MAX);
    EXPECT_EQ(ConvertEditorTexts(With({{6, "-3#4028234e38"}})).Values[6], -FLT_MAX);
}

TEST(EditedConfig, ReplacesTheValuesAndKeepsTheTailBytes)
{
    DeviceConfig c = DefaultConfigFor(2);
    c.Tail = {0x12, 0x34, 0x56};
    const EditedConfig e = ConvertEditorTexts(With({{4, "2#25"}}));
    e.ApplyTo(c);
    EXPECT_EQ(c.K2, 2.25f);
    EXPECT_EQ(c.Dy, 0.05f);
    EXPECT_EQ(c.FL4, 35.0f);
    EXPECT_EQ(c.Tail, (std::array<uint8_t, 3>{0x12, 0x34, 0x56}));
}

}  // namespace
