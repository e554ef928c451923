// The .coef file on a real disk: the bytes the Windows profile services
// would write, in-place updates, the default for missing keys, refusals that
// leave the file untouched.

#include "app_paths.h"
#include "coef_file.h"
#include "errors.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

template <std::size_t N>
QByteArray B(const char (&s)[N])
{
    return QByteArray(s, qsizetype(N - 1));
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Texts as they may stand in the fields: Russian separators, an empty field,
// letters, a point where a comma belongs, Cyrillic.
EditorTexts Sample()
{
    EditorTexts t;
    t.Serial = QStringLiteral("1234");
    t.Values = {QStringLiteral("0,050000"), QStringLiteral("100,000000"), QStringLiteral("1,000000"), QString(),
                QStringLiteral("НЕТ"),      QStringLiteral("abc"),        QStringLiteral("1.5"),     QStringLiteral("0,150000"),
                QStringLiteral("0,300000"), QStringLiteral("0,700000"),   QStringLiteral("1,500000"), QStringLiteral("35,000000"),
                QStringLiteral("-1,000000")};
    return t;
}

// What WritePrivateProfileString leaves in a new file for Sample(), key by
// key: Windows-1251 ("НЕТ" is CD C5 D2), CR LF, no blanks around '='.
const QByteArray kSampleFile = B(
    "[DEVICE_CFG]\r\n"
    "SN=1234\r\n"
    "Dy=0,050000\r\n"
    "Ves=100,000000\r\n"
    "K0=1,000000\r\n"
    "K1=\r\n"
    "K2=\xCD\xC5\xD2\r\n"
    "K3=abc\r\n"
    "K4=1.5\r\n"
    "FL0=0,150000\r\n"
    "FL1=0,300000\r\n"
    "FL2=0,700000\r\n"
    "FL3=1,500000\r\n"
    "FL4=35,000000\r\n"
    "MainCal=-1,000000\r\n");

class CoefFile : public testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
};

TEST_F(CoefFile, NewFileIsWhatTheWindowsServicesWrite)
{
    SaveCoefFile(Path("a.coef"), Sample());
    EXPECT_EQ(ReadAll(Path("a.coef")), kSampleFile);
}

TEST_F(CoefFile, LoadGivesBackTheTextsAsSaved)
{
    SaveCoefFile(Path("a.coef"), Sample());
    EXPECT_EQ(LoadCoefFile(Path("a.coef")), Sample());
}

TEST_F(CoefFile, SavingOverAFileUpdatesInPlaceAndKeepsEverythingElse)
{
    WriteAll(Path("a.coef"), B("; meter 1234, restored 2019\r\n"
                               "[HEAD]\r\n"
                               "Who=\xC8\xE2\xE0\xED\xEE\xE2\r\n"
                               "\r\n"
                               "[device_cfg]\r\n"
                               "Dy=9\r\n"
                               "Note=keep me\r\n"
                               "K2=old\r\n"
                               "\r\n"
                               "[TAIL]\r\n"
                               "X=1\r\n"));
    SaveCoefFile(Path("a.coef"), Sample());
    EXPECT_EQ(ReadAll(Path("a.coef")), B("; meter 1234, restored 2019\r\n"
                                         "[HEAD]\r\n"
                                         "Who=\xC8\xE2\xE0\xED\xEE\xE2\r\n"
                                         "\r\n"
                                         "[device_cfg]\r\n"
                                         "Dy=0,050000\r\n"
                                         "Note=keep me\r\n"
                                         "K2=\xCD\xC5\xD2\r\n"
                                         "SN=1234\r\n"
                                         "Ves=100,000000\r\n"
                                         "K0=1,000000\r\n"
                                         "K1=\r\n"
                                         "K3=abc\r\n"
                                         "K4=1.5\r\n"
                                         "FL0=0,150000\r\n"
                                         "FL1=0,300000\r\n"
                                         "FL2=0,700000\r\n"
                                         "FL3=1,500000\r\n"
                                         "FL4=35,000000\r\n"
                                         "MainCal=-1,000000\r\n"
                                         "\r\n"
                                         "[TAIL]\r\n"
                                         "X=1\r\n"));
}

TEST_F(CoefFile, MissingKeysAndSectionsReadAsNet)
{
    WriteAll(Path("a.coef"), B("[Device_Cfg]\r\nsn=77\r\nDY=0,05\r\nVes=10\r\nK0=1\r\nK1=1\r\nK3=1\r\nK4=1\r\n"
                               "FL0=1\r\nFL1=2\r\nFL2=3\r\nFL3=4\r\nFL4=5\r\nMainCal=1\r\n"));
    const EditorTexts t = LoadCoefFile(Path("a.coef"));
    EXPECT_EQ(t.Serial, QStringLiteral("77"));
    EXPECT_EQ(t.Values[0], QStringLiteral("0,05"));
    EXPECT_EQ(t.Values[4], QStringLiteral("НЕТ"));
    EXPECT_EQ(t.Values[5], QStringLiteral("1"));
    EXPECT_EQ(t.Values[11], QStringLiteral("5"));

    WriteAll(Path("b.coef"), B("[OTHER]\r\nSN=1\r\nDy=0,05\r\n"));
    const EditorTexts none = LoadCoefFile(Path("b.coef"));
    EXPECT_EQ(none.Serial, QStringLiteral("НЕТ"));
    for (const QString& v : none.Values)
        EXPECT_EQ(v, QStringLiteral("НЕТ"));
}

TEST_F(CoefFile, ReadOnlyFileIsRefusedAndLeftUnharmed)
{
    WriteAll(Path("ro.coef"), kSampleFile);
    ASSERT_EQ(::chmod(QFile::encodeName(Path("ro.coef")).constData(), 0444), 0);
    EditorTexts t = Sample();
    t.Values[0] = QStringLiteral("0,080000");
    try {
        SaveCoefFile(Path("ro.coef"), t);
        FAIL() << "saved";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + Path("ro.coef"));
    }
    EXPECT_EQ(ReadAll(Path("ro.coef")), kSampleFile);
}

TEST_F(CoefFile, DirectoryWithoutWriteRightsIsRefused)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    ASSERT_EQ(::chmod(QFile::encodeName(Path("locked")).constData(), 0555), 0);
    try {
        SaveCoefFile(Path("locked/a.coef"), Sample());
        FAIL() << "saved";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + Path("locked/a.coef"));
    }
    EXPECT_FALSE(QFile::exists(Path("locked/a.coef")));
    ::chmod(QFile::encodeName(Path("locked")).constData(), 0755);
}

TEST_F(CoefFile, LineBreakInAnyFieldWritesNothing)
{
    for (int field = 0; field <= 13; ++field) {
        for (const char* brk : {"\r", "\n", "\r\n"}) {
            SCOPED_TRACE(testing::Message() << "field " << field << " break " << int(brk[0]));
            WriteAll(Path("a.coef"), kSampleFile);
            EditorTexts t = Sample();
            t.Serial = QStringLiteral("999");
            const QString injected = QStringLiteral("1") + QString::fromLatin1(brk) + QStringLiteral("MainCal=5");
            (field == 13 ? t.Serial : t.Values[std::size_t(field)]) = injected;
            try {
                SaveCoefFile(Path("a.coef"), t);
                FAIL() << "saved";
            } catch (const AppError& e) {
                EXPECT_TRUE(e.text().contains(QStringLiteral("перевод строки"))) << e.text().toStdString();
            }
            EXPECT_EQ(ReadAll(Path("a.coef")), kSampleFile);
        }
    }
    EditorTexts t = Sample();
    t.Values[2] = QStringLiteral("1\n");
    EXPECT_THROW(SaveCoefFile(Path("new.coef"), t), AppError);
    EXPECT_FALSE(QFile::exists(Path("new.coef")));
}

TEST_F(CoefFile, CharactersOutsideWindows1251BecomeQuestionMarks)
{
    EditorTexts t = Sample();
    t.Values[3] = QStringLiteral("м³ x");
    SaveCoefFile(Path("a.coef"), t);
    EXPECT_TRUE(ReadAll(Path("a.coef")).contains(B("\r\nK1=\xEC? x\r\n")));
}

TEST(CoefFileNames, DefaultNameAndRestoreDirectory)
{
    EXPECT_EQ(DefaultCoefFileName(QStringLiteral("1234")), QStringLiteral("ZRM_№1234"));
    EXPECT_EQ(DefaultCoefFileName(QString()), QStringLiteral("ZRM_№"));
    AppPaths::setDirectory(QStringLiteral("/opt/zrm/"));
    EXPECT_EQ(CoefRestoreDirectory(), QStringLiteral("/opt/zrm/Restore"));
}

}  // namespace
