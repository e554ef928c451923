// Text a user can type, at its worst, through the services every field's text
// passes: integer and real conversion (the standard error texts) and the INI
// file (what lands on disk).

#include "bad_inputs.h"
#include "errors.h"
#include "ini_file.h"
#include "number_text.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

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

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTable, ::testing::ValuesIn(BadInputs()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
