// INI files on a real disk, on every system: reading, byte-exact in-place
// updates, and refusals that must leave the old file intact.

#include "ini_test_fixture.h"
#include "number_text.h"
#include "qt_printers.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

namespace {

// --- Reading -------------------------------------------------------------

TEST_F(IniTest, ReadsHandWrittenWindowsFile)
{
    put(path(), kSettings);
    IniFile ini(path());
    EXPECT_EQ(ini.readString("CONFIG", "COM", "COM9"), "COM1");
    EXPECT_EQ(ini.readInteger("CONFIG", "REPNO", 1), 7);
    EXPECT_EQ(ini.readString("CONFIG", "FIO1", ""), U("Иванов И.И."));
    EXPECT_EQ(ini.readString("CONFIG", "FIO2", "x"), "");
    EXPECT_EQ(ini.readString("DEVICE_CFG", "Dy", U("НЕТ")), "0,015000");
    EXPECT_EQ(ini.readString("DEVICE_CFG", "K2", U("НЕТ")), U("НЕТ"));
    EXPECT_EQ(ini.readSections(), (QStringList{"CONFIG", "DEVICE_CFG"}));
    EXPECT_EQ(ini.readSection("config"), (QStringList{"COM", "REPNO", "FIO1", "FIO2"}));
    EXPECT_TRUE(ini.sectionExists("device_cfg"));
    EXPECT_FALSE(ini.sectionExists("STEP1"));
    EXPECT_TRUE(ini.valueExists("Config", "fio2"));
    EXPECT_FALSE(ini.valueExists("CONFIG", "a line without equals"));
}

struct ReadCase {
    const char* name;
    QByteArray file;
    const char* section;
    const char* key;
    const char* expected;  // "<def>" = the default came back
};

class IniRead : public IniTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, ValueOrDefault)
{
    const ReadCase& c = GetParam();
    put(path(), c.file);
    EXPECT_EQ(IniFile(path()).readString(U(c.section), U(c.key), "<def>"), U(c.expected));
    EXPECT_EQ(IniFile::inMemory(c.file, path()).readString(U(c.section), U(c.key), "<def>"), U(c.expected))
        << "in memory";
}

INSTANTIATE_TEST_SUITE_P(Table, IniRead,
    testing::Values(
        ReadCase{"plain", B("[A]\r\nk=v\r\n"), "A", "k", "v"},
        ReadCase{"section_case", B("[Config]\r\nCOM=COM3\r\n"), "CONFIG", "COM", "COM3"},
        ReadCase{"key_case", B("[A]\r\nRepNo=3\r\n"), "A", "REPNO", "3"},
        ReadCase{"cyrillic_case", B("[\xd0\xe0\xe7\xe4\xe5\xeb]\r\n\xca\xeb\xfe\xf7=1\r\n"), "РАЗДЕЛ", "ключ", "1"},
        ReadCase{"blanks_trimmed", B("  [ A ]  \r\n  k  =  a b  \r\n"), "A", "k", "a b"},
        ReadCase{"tab_trimmed", B("[A]\r\nk=\tv\t\r\n"), "A", "k", "v"},
        ReadCase{"double_quotes", B("[A]\r\nk=\"  x \"\r\n"), "A", "k", "  x "},
        ReadCase{"single_quotes", B("[A]\r\nk='y'\r\n"), "A", "k", "y"},
        ReadCase{"one_pair_only", B("[A]\r\nk=\"\"z\"\"\r\n"), "A", "k", "\"z\""},
        ReadCase{"mismatched_quotes", B("[A]\r\nk=\"x'\r\n"), "A", "k", "\"x'"},
        ReadCase{"lone_quote", B("[A]\r\nk=\"\r\n"), "A", "k", "\""},
        ReadCase{"empty_value", B("[A]\r\nk=\r\n"), "A", "k", ""},
        ReadCase{"equals_in_value", B("[A]\r\nk=a=b\r\n"), "A", "k", "a=b"},
        ReadCase{"lf_only", B("[A]\nx=1\nk=2\n"), "A", "k", "2"},
        ReadCase{"no_final_newline", B("[A]\r\nk=2"), "A", "k", "2"},
        ReadCase{"missing_key", B("[A]\r\nx=1\r\n"), "A", "k", "<def>"},
        ReadCase{"missing_section", B("[B]\r\nk=1\r\n"), "A", "k", "<def>"},
        ReadCase{"key_of_next_section", B("[A]\r\n[B]\r\nk=1\r\n"), "A", "k", "<def>"},
        ReadCase{"key_before_any_section", B("k=1\r\n[A]\r\n"), "A", "k", "<def>"},
        ReadCase{"comment_is_no_key", B("[A]\r\n;k=1\r\n"), "A", ";k", "<def>"},
        ReadCase{"first_duplicate_key", B("[A]\r\nk=1\r\nk=2\r\n"), "A", "k", "1"},
        ReadCase{"first_duplicate_section_only", B("[A]\r\nx=1\r\n[A]\r\nk=2\r\n"), "A", "k", "<def>"},
        ReadCase{"header_without_bracket", B("[A\r\nk=1\r\n"), "A", "k", "1"},
        ReadCase{"cp1251_value", B("[A]\r\nk=\xb9 \xb8\xa8\r\n"), "A", "k", "№ ёЁ"},
        ReadCase{"empty_file", B(""), "A", "k", "<def>"}));

TEST_F(IniTest, MissingFileGivesDefaultsAndIsNotCreated)
{
    IniFile ini(path());
    EXPECT_EQ(ini.readString("CONFIG", "COM", "COM1"), "COM1");
    EXPECT_EQ(ini.readInteger("CONFIG", "REPNO", 1), 1);
    EXPECT_EQ(ini.readFloat("DEV1", "CALTAB_DY", 0.5), 0.5);
    EXPECT_TRUE(ini.readSections().isEmpty());
    EXPECT_FALSE(ini.sectionExists("CONFIG"));
    EXPECT_TRUE(entries().isEmpty());
}

struct IntegerCase {
    const char* text;
    int expected;  // default is 1
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class IniReadInteger : public IniTest, public testing::WithParamInterface<IntegerCase> {};

TEST_P(IniReadInteger, DecimalOrDollarOr0xElseDefault)
{
    put(path(), "[CONFIG]\r\nREPNO=" + QByteArray(GetParam().text) + "\r\n");
    EXPECT_EQ(IniFile(path()).readInteger("CONFIG", "REPNO", 1), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Table, IniReadInteger,
    testing::Values(IntegerCase{"12", 12}, IntegerCase{"  12  ", 12}, IntegerCase{"-3", -3},
                    IntegerCase{"$1F", 31}, IntegerCase{"0x1F", 31}, IntegerCase{"\"0x10\"", 16},
                    IntegerCase{"abc", 1}, IntegerCase{"12abc", 1}, IntegerCase{"", 1},
                    IntegerCase{"2147483648", 1}, IntegerCase{"2147483647", 2147483647}, IntegerCase{"1.0", 1}));

TEST_F(IniTest, ReadFloatUsesUsersSeparator)
{
    const QString sep = DecimalSeparator();
    const QString other = sep == "," ? "." : ",";
    put(path(), ("[DEV1]\r\nA=0" + sep + "05\r\nB=0" + other + "05\r\nC=abc\r\nD=\r\nE= -1" + sep + "5e2 \r\n").toLatin1());
    IniFile ini(path());
    EXPECT_DOUBLE_EQ(ini.readFloat("DEV1", "A", -1), 0.05);
    EXPECT_EQ(ini.readFloat("DEV1", "B", -1), -1);
    EXPECT_EQ(ini.readFloat("DEV1", "C", -1), -1);
    EXPECT_EQ(ini.readFloat("DEV1", "D", -1), -1);
    EXPECT_DOUBLE_EQ(ini.readFloat("DEV1", "E", -1), -150);
}

// --- Writing -------------------------------------------------------------

TEST_F(IniTest, UpdateKeepsEveryOtherByte)
{
    put(path(), kSettings);
    IniFile(path()).writeString("config", "fio1", U("Петров П.П."));
    const QByteArray expected = B(
        "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n"
        "[CONFIG]\r\n"
        "COM=COM1\r\n"
        "REPNO = 7 \r\n"
        "fio1=\xcf\xe5\xf2\xf0\xee\xe2 \xcf.\xcf.\r\n"  // Петров П.П.
        "FIO2=\r\n"
        "\r\n"
        "[DEVICE_CFG]\n"
        "Dy=0,015000\r\n"
        "a line without equals\r\n"
        "\r\n");
    EXPECT_EQ(get(path()), expected);
    EXPECT_EQ(IniFile(path()).readString("CONFIG", "FIO1", ""), U("Петров П.П."));
}

struct WriteCase {
    const char* name;
    QByteArray before;  // "<none>": no file
    const char* section;
    const char* key;
    const char* value;
    QByteArray after;
};

class IniWrite : public IniTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(IniWrite, BytesAfterWrite)
{
    const WriteCase& c = GetParam();
    if (c.before != "<none>")
        put(path(), c.before);
    IniFile(path()).writeString(U(c.section), U(c.key), U(c.value));
    EXPECT_EQ(get(path()), c.after);

    IniFile memory = IniFile::inMemory(c.before == "<none>" ? QByteArray() : c.before, path());
    memory.writeString(U(c.section), U(c.key), U(c.value));
    EXPECT_EQ(memory.bytes(), c.after) << "in memory";
}

INSTANTIATE_TEST_SUITE_P(Table, IniWrite,
    testing::Values(
        WriteCase{"new_file", "<none>", "CONFIG", "COM", "COM1", B("[CONFIG]\r\nCOM=COM1\r\n")},
        WriteCase{"empty_file", B(""), "A", "k", "v", B("[A]\r\nk=v\r\n")},
        WriteCase{"replace_keeps_lf_ending", B("[A]\nk=1\nz=2\n"), "A", "k", "5", B("[A]\nk=5\nz=2\n")},
        WriteCase{"replace_last_unterminated", B("[A]\r\nk=1"), "A", "k", "22", B("[A]\r\nk=22")},
        WriteCase{"replace_spaced_quoted", B("[A]\r\n  k = \"old\"  \r\nz=1\r\n"), "A", "k", "new",
                  B("[A]\r\nk=new\r\nz=1\r\n")},
        WriteCase{"key_spelled_as_written", B("[Config]\r\nCom=COM1\r\n"), "CONFIG", "COM", "COM2",
                  B("[Config]\r\nCOM=COM2\r\n")},
        WriteCase{"cyrillic_names", B("[\xd0\xe0\xe7\xe4\xe5\xeb]\r\n\xca\xeb\xfe\xf7=1\r\n"), "РАЗДЕЛ", "ключ", "2",
                  B("[\xd0\xe0\xe7\xe4\xe5\xeb]\r\n\xea\xeb\xfe\xf7=2\r\n")},
        WriteCase{"new_key_before_blank_lines", B("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"), "A", "k", "v",
                  B("[A]\r\nx=1\r\nk=v\r\n\r\n[B]\r\ny=2\r\n")},
        WriteCase{"new_key_in_header_only_section", B("[A]\r\n[B]\r\n"), "A", "k", "v", B("[A]\r\nk=v\r\n[B]\r\n")},
        WriteCase{"new_key_after_comment", B("[A]\r\nx=1\r\n; end of A\r\n[B]\r\n"), "A", "k", "v",
                  B("[A]\r\nx=1\r\n; end of A\r\nk=v\r\n[B]\r\n")},
        WriteCase{"new_key_unterminated_section", B("[A]\r\nx=1"), "A", "k", "v", B("[A]\r\nx=1\r\nk=v\r\n")},
        WriteCase{"new_key_header_unterminated", B("[A]"), "A", "k", "v", B("[A]\r\nk=v\r\n")},
        WriteCase{"comment_is_not_the_key", B("[A]\r\n;k=1\r\n"), "A", "k", "2", B("[A]\r\n;k=1\r\nk=2\r\n")},
        WriteCase{"new_section_no_blank_line", B("[A]\r\nx=1\r\n"), "B", "k", "v", B("[A]\r\nx=1\r\n[B]\r\nk=v\r\n")},
        WriteCase{"new_section_after_unterminated", B("[A]\r\nx=1"), "B", "k", "v",
                  B("[A]\r\nx=1\r\n[B]\r\nk=v\r\n")},
        WriteCase{"new_section_after_trailing_blank", B("[A]\r\nx=1\r\n\r\n"), "B", "k", "v",
                  B("[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n")},
        WriteCase{"first_duplicate_section", B("[A]\r\nk=1\r\n[A]\r\nk=2\r\n"), "A", "k", "3",
                  B("[A]\r\nk=3\r\n[A]\r\nk=2\r\n")},
        WriteCase{"first_duplicate_key", B("[A]\r\nk=1\r\nk=2\r\n"), "A", "k", "3", B("[A]\r\nk=3\r\nk=2\r\n")},
        WriteCase{"cyrillic_value", B("[A]\r\n"), "A", "FIO1", "Поверил № 5",
                  B("[A]\r\nFIO1=\xcf\xee\xe2\xe5\xf0\xe8\xeb \xb9 5\r\n")},
        WriteCase{"outside_cp1251_becomes_question_mark", B(""), "A", "k", "x³😀中é€",
                  B("[A]\r\nk=x????\x88\r\n")},
        WriteCase{"unknown_bytes_and_nul_kept", B("[A]\r\n\x98\xff\x00zz\r\nk=1\r\n"), "A", "k", "2",
                  B("[A]\r\n\x98\xff\x00zz\r\nk=2\r\n")},
        WriteCase{"session_value", B("[DEV1]\r\nCALTAB_DY=0,050000\r\n"), "DEV1", "CALTAB_VES", "100,000000",
                  B("[DEV1]\r\nCALTAB_DY=0,050000\r\nCALTAB_VES=100,000000\r\n")}));

TEST_F(IniTest, SessionFileKeysStandInWriteOrder)
{
    IniFile ini(path("Calibration.ini"));
    ini.writeInteger("CALIBRCFG", "CALSTEP", 1);
    ini.writeInteger("CALIBRCFG", "MAXCALSTEP", 1);
    ini.writeInteger("SNDEVTAB", "DEV1", 1201);
    ini.writeString("STEP1", "VES_ETALON", "0,1");
    ini.writeInteger("CALIBRCFG", "CALSTEP", -2);
    ini.writeString("STEP1", "CALTAB1_VOL_ZRM", "");
    EXPECT_EQ(get(path("Calibration.ini")),
              B("[CALIBRCFG]\r\nCALSTEP=-2\r\nMAXCALSTEP=1\r\n[SNDEVTAB]\r\nDEV1=1201\r\n"
                "[STEP1]\r\nVES_ETALON=0,1\r\nCALTAB1_VOL_ZRM=\r\n"));
    EXPECT_EQ(ini.readInteger("CALIBRCFG", "CALSTEP", 0), -2);
    EXPECT_TRUE(ini.valueExists("STEP1", "CALTAB1_VOL_ZRM"));
}

struct EraseCase {
    const char* name;
    QByteArray before;
    bool wholeSection;
    const char* section;
    const char* key;
    QByteArray after;  // "<none>": no file
};

class IniErase : public IniTest, public testing::WithParamInterface<EraseCase> {};

TEST_P(IniErase, BytesAfterErase)
{
    const EraseCase& c = GetParam();
    if (c.before != "<none>")
        put(path(), c.before);
    IniFile ini(path());
    IniFile memory = IniFile::inMemory(c.before == "<none>" ? QByteArray() : c.before, path());
    for (IniFile* f : {&ini, &memory}) {
        if (c.wholeSection)
            f->eraseSection(U(c.section));
        else
            f->deleteKey(U(c.section), U(c.key));
    }
    EXPECT_EQ(get(path()), c.after == "<none>" ? QByteArray("<missing>") : c.after);
    EXPECT_EQ(memory.bytes(), c.after == "<none>" ? QByteArray() : c.after) << "in memory";
}

INSTANTIATE_TEST_SUITE_P(Table, IniErase,
    testing::Values(
        EraseCase{"section", B("[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n"), true, "a", "", B("[B]\r\ny=2\r\n")},
        EraseCase{"section_and_duplicates", B("[A]\r\nx=1\r\n[B]\r\n[a]\r\nz=3\r\n"), true, "A", "", B("[B]\r\n")},
        EraseCase{"absent_section_untouched", B("[B]\r\ny=2"), true, "A", "", B("[B]\r\ny=2")},
        EraseCase{"missing_file_not_created", "<none>", true, "A", "", "<none>"},
        EraseCase{"key", B("[A]\r\nx=1\r\nk=2\r\nz=3\r\n[B]\r\nk=4\r\n"), false, "A", "K", B("[A]\r\nx=1\r\nz=3\r\n[B]\r\nk=4\r\n")},
        EraseCase{"key_and_duplicates", B("[A]\r\nk=1\r\nk=2\r\n"), false, "A", "k", B("[A]\r\n")},
        EraseCase{"absent_key_untouched", B("[A]\nx=1"), false, "A", "k", B("[A]\nx=1")},
        EraseCase{"missing_file_key", "<none>", false, "A", "k", "<none>"}));

// --- Refusals and failures -------------------------------------------------

TEST_F(IniTest, LineBreakInValueIsRefusedAndNothingWritten)
{
    put(path(), kSettings);
    IniFile ini(path());
    for (const char* value : {"COM1\r\n[CONFIG2]", "a\nREPNO=999", "a\rb", "\n"}) {
        try {
            ini.writeString("CONFIG", "FIO1", value);
            ADD_FAILURE() << "accepted a value with a line break";
        } catch (const EIniFileException&) {
            ADD_FAILURE() << "a line break is not a disk failure";
        } catch (const AppError& e) {
            EXPECT_TRUE(e.text().contains(U("перевод строки"))) << e.text().toStdString();
            EXPECT_TRUE(e.text().contains("FIO1"));
            EXPECT_TRUE(e.text().contains(path()));
        }
        EXPECT_EQ(get(path()), kSettings);
    }
    EXPECT_THROW(ini.writeString("CONFIG\n[X]", "k", "v"), AppError);
    EXPECT_THROW(ini.writeString("CONFIG", "k\r\nCOM", "v"), AppError);
    EXPECT_EQ(get(path()), kSettings);

    IniFile fresh(path("new.ini"));
    EXPECT_THROW(fresh.writeString("A", "k", "1\n2"), AppError);
    EXPECT_EQ(get(path("new.ini")), "<missing>");
}

TEST_F(IniTest, MissingDirectoryIsNotCreated)
{
    const QString file = path("Restore/ZRM_1.coef");
    expectUnableToWrite([&] { IniFile(file).writeString("DEVICE_CFG", "SN", "1"); }, file);
    EXPECT_FALSE(QFileInfo::exists(path("Restore")));
}

TEST_F(IniTest, DirectoryInPlaceOfFile)
{
    ASSERT_TRUE(QDir().mkdir(path()));
    IniFile ini(path());
    EXPECT_EQ(ini.readString("CONFIG", "COM", "COM1"), "COM1");
    EXPECT_TRUE(ini.readSections().isEmpty());
    expectUnableToWrite([&] { ini.writeString("CONFIG", "COM", "COM2"); }, path());
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_EQ(entries(), QStringList{"Settings.ini"});
}

TEST_F(IniTest, WritesLeaveNoTemporaryFilesBehind)
{
    IniFile ini(path());
    for (int i = 0; i < 50; ++i)
        ini.writeInteger(QStringLiteral("DEV%1").arg(i % 7), QStringLiteral("K%1").arg(i % 5), i);
    EXPECT_EQ(entries(), QStringList{"Settings.ini"});
    EXPECT_EQ(ini.readInteger("DEV0", "K4", -1), 49);
    EXPECT_EQ(ini.readSections().size(), 7);
}

// --- Bad input never crashes -----------------------------------------------

TEST_F(IniTest, RandomGarbageIsReadAndExtendedSafely)
{
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 20; ++round) {
        QByteArray garbage(int(rng.bounded(1, 64 * 1024)), Qt::Uninitialized);
        for (char& c : garbage)
            c = char(rng.bounded(256));
        put(path(), garbage);
        IniFile ini(path());
        ini.readSections();
        ini.readString("A", "k", "d");
        ini.readInteger("CONFIG", "REPNO", 1);
        ini.readFloat("DEV1", "CALTAB_DY", 0);
        ini.writeString("ZRM_TEST_SECTION", "key", "value");
        const QByteArray after = get(path());
        EXPECT_TRUE(after.startsWith(garbage)) << "round " << round;
        EXPECT_EQ(ini.readString("ZRM_TEST_SECTION", "key", "d"), "value") << "round " << round;
    }
}

TEST_F(IniTest, Utf8FileIsReadAsBytesAndKeptAsBytes)
{
    // Written by a Linux editor in UTF-8: Cyrillic names do not match, ASCII
    // ones do, and the UTF-8 bytes of other lines survive a write.
    const QByteArray utf8 = QString::fromUtf8("[CONFIG]\r\nCOM=COM1\r\nFIO1=Иванов\r\n[Раздел]\r\nk=1\r\n").toUtf8();
    put(path(), utf8);
    IniFile ini(path());
    EXPECT_EQ(ini.readString("CONFIG", "COM", ""), "COM1");
    EXPECT_EQ(ini.readString(U("Раздел"), "k", "d"), "d");
    EXPECT_NE(ini.readString("CONFIG", "FIO1", ""), U("Иванов"));
    ini.writeString("CONFIG", "COM", "COM4");
    QByteArray expected = utf8;
    expected.replace("COM=COM1", "COM=COM4");
    EXPECT_EQ(get(path()), expected);
}

TEST_F(IniTest, NulBytesDoNotCutTheFile)
{
    put(path(), B("[A]\r\nk=1\x00junk\r\nm=2\r\n\x00\x00\r\n[B]\r\nn=3\r\n"));
    IniFile ini(path());
    EXPECT_EQ(ini.readString("A", "m", ""), "2");
    EXPECT_EQ(ini.readString("B", "n", ""), "3");
    ini.writeString("B", "n", "4");
    EXPECT_EQ(get(path()), B("[A]\r\nk=1\x00junk\r\nm=2\r\n\x00\x00\r\n[B]\r\nn=4\r\n"));
}

// Files are a few kilobytes; a 200 MB one is not read into memory and is
// never rewritten (which would cost 200 MB and could truncate it).
TEST_F(IniTest, HugeFileReadsAsMissingAndIsNotRewritten)
{
    put(path(), B("[CONFIG]\r\nCOM=COM5\r\n"));
    const qint64 size = 200LL * 1024 * 1024;
    ASSERT_TRUE(QFile::resize(path(), size));  // sparse: no disk used
    IniFile ini(path());
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(ini.readString("CONFIG", "COM", "COM1"), "COM1");
    EXPECT_TRUE(ini.readSections().isEmpty());
    expectUnableToWrite([&] { ini.writeString("CONFIG", "COM", "COM2"); }, path());
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(QFileInfo(path()).size(), size);
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(20), B("[CONFIG]\r\nCOM=COM5\r\n"));
    EXPECT_EQ(entries(), QStringList{"Settings.ini"});

    // Held in memory, such bytes read as missing and are kept as they are.
    QByteArray huge = B("[CONFIG]\r\nCOM=COM5\r\n");
    huge.resize(17 * 1024 * 1024, '\0');
    IniFile memory = IniFile::inMemory(huge, path());
    EXPECT_EQ(memory.readString("CONFIG", "COM", "COM1"), "COM1");
    expectUnableToWrite([&] { memory.writeString("CONFIG", "COM", "COM2"); }, path());
    EXPECT_EQ(memory.bytes(), huge);
}

TEST_F(IniTest, LargeFileWithinLimitStillWorks)
{
    // 8 MB of keys, most in one section, the looked-for key at the very end.
    QByteArray big = "[A]\r\n";
    big.reserve(8 * 1024 * 1024 + 64);
    for (int i = 0; big.size() < 8 * 1024 * 1024; ++i)
        big += "KEY" + QByteArray::number(i) + "=0,000000\r\n";
    big += "[Z]\r\nlast=1\r\n";
    put(path(), big);
    IniFile ini(path());
    EXPECT_EQ(ini.readInteger("z", "LAST", 0), 1);
    ini.writeInteger("Z", "last", 2);
    big.chop(3);
    big += "2\r\n";
    EXPECT_EQ(get(path()), big);
}

} // namespace
