// The run's state file on disk: layout, key order, fallbacks, refusals and
// failures, in the C locale and under ru_RU (decimal comma).

#include "coefficients.h"
#include "diameter_defaults.h"
#include "errors.h"
#include "number_text.h"
#include "qt_printers.h"
#include "session_file.h"
#include "test_helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}


QByteArray LocalisedFixture(const char* name)
{
    QByteArray bytes = ReadAll(QStringLiteral(ZRM_CALIBRATION_FIXTURES "/") + QString::fromUtf8(name));
    // The fixture is the file as written under Russian settings; in the C
    // locale the same values carry a point.
    if (DecimalSeparator() != QLatin1Char(','))
        bytes.replace(',', '.');
    return bytes;
}

class SessionFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    InstalledMeterList meters;
    RunState run{meters};
    StageEntries entries;

    QString Path() const { return dir.filePath(QStringLiteral("Calibration.ini")); }

    SessionConfigTexts ConfigTextsOfMeters() const
    {
        SessionConfigTexts texts;
        for (int i = 0; i < kSessionMeters; ++i)
            texts[std::size_t(i)] = FormatConfigTexts(meters.Configs[std::size_t(i)]);
        return texts;
    }

    void Save() { SaveSessionFile(Path(), run, entries, ConfigTextsOfMeters()); }

    // The documented example: two Ду 50 meters after the first calibration stage.
    void SetUpExample()
    {
        meters.Count = 2;
        meters.DiameterIndex = 4;
        meters.Serials[0] = 1201;
        meters.Serials[1] = 1202;
        run.CalStep = 1;
        run.MaxCalStep = 1;
        entries.Timer = QStringLiteral("60");
        entries.RefPulseWeight = Localised("0.1");
        entries.RefPulses = QStringLiteral("5800");
        const StageComputation stage({5800, 0.1, 60}, 4, 1, false);
        const int pulses[] = {3850, 3880};
        for (int i = 0; i < 2; ++i) {
            meters.Configs[std::size_t(i)] = DefaultConfigFor(4);
            entries.MeterPulses[std::size_t(i)] = QString::number(pulses[i]);
            entries.Errors[std::size_t(i)] = FormatFloat("%1.2f", double(stage.ErrorPercent(pulses[i])));
            stage.ApplyCoefficient(pulses[i], meters.Configs[std::size_t(i)]);
        }
    }
};

bool SameList(const InstalledMeterList& a, const InstalledMeterList& b)
{
    return a.Count == b.Count && a.DiameterIndex == b.DiameterIndex && a.Serials == b.Serials && a.Configs == b.Configs;
}

} // namespace

TEST_F(SessionFileTest, TheDocumentedExampleIsWrittenByteForByte)
{
    SetUpExample();
    Save();
    EXPECT_EQ(ReadAll(Path()), LocalisedFixture("calibration_example_ru.ini"));
}

TEST_F(SessionFileTest, ASaveBeforeTheFirstStageWritesStepZero)
{
    SetUpExample();
    run.CalStep = 0;
    run.MaxCalStep = 0;
    Save();
    const QByteArray text = ReadAll(Path());
    EXPECT_TRUE(text.contains("[STEP0]\r\nTIMER=60\r\n"));
    EXPECT_FALSE(text.contains("[STEP1]"));
}

TEST_F(SessionFileTest, ALaterStageIsAddedAndEveryOtherLineKept)
{
    SetUpExample();
    Save();
    // Something of the user's in the file survives the program's saves.
    QByteArray before = ReadAll(Path());
    before.replace("[SNDEVTAB]\r\n", "; bench 3\r\n[SNDEVTAB]\r\n");
    WriteAll(Path(), before);

    run.CalStep = 2;
    entries.Timer = QStringLiteral("120");
    entries.Errors[1].clear();
    Save();
    const QByteArray after = ReadAll(Path());
    EXPECT_TRUE(after.contains("; bench 3\r\n[SNDEVTAB]\r\n"));
    EXPECT_TRUE(after.startsWith("[CALIBRCFG]\r\nCALSTEP=2\r\nMAXCALSTEP=1\r\n"));
    // STEP1 as it was, STEP2 new at the end with its keys in order.
    const qsizetype step1 = after.indexOf("[STEP1]\r\nTIMER=60\r\n");
    const qsizetype step2 = after.indexOf("[STEP2]\r\nTIMER=120\r\nVES_ETALON=");
    EXPECT_GT(step1, 0);
    EXPECT_GT(step2, after.indexOf("[DEV2]"));
    EXPECT_TRUE(after.endsWith("CALTAB2_IMP_DUZR=3880\r\nCALTAB2_VOL_ZRM=\r\n"));
}

TEST_F(SessionFileTest, EachStageKeepsItsOwnEntriesIncludingAnEmptyErrorCell)
{
    SetUpExample();
    Save();
    const StageEntries stage1 = entries;

    run.CalStep = 2;
    entries.Timer = QStringLiteral("300");
    entries.RefPulseWeight = Localised("0.25");
    entries.RefPulses = QStringLiteral("1234");
    entries.MeterPulses = {QStringLiteral("1111"), QStringLiteral("2222")};
    entries.Errors = {Localised("1.5"), QString()};
    Save();
    const StageEntries stage2 = entries;

    StageEntries loaded = stage2;
    LoadSessionFile(Path(), 1, 5, run, loaded);
    EXPECT_EQ(run.CalStep, 1);
    EXPECT_EQ(loaded, stage1);

    LoadSessionFile(Path(), 2, 5, run, loaded);
    EXPECT_EQ(run.CalStep, 2);
    EXPECT_EQ(loaded, stage2);
    EXPECT_TRUE(loaded.Errors[1].isEmpty());
}

TEST_F(SessionFileTest, AFreshProcessGetsTheWholeRunBack)
{
    SetUpExample();
    Save();

    InstalledMeterList restoredMeters;  // as after a restart: all empty
    RunState restored(restoredMeters);
    StageEntries restoredEntries;
    LoadSessionFile(Path(), -1, 5, restored, restoredEntries);
    EXPECT_EQ(restored.CalStep, 1);
    EXPECT_EQ(restored.MaxCalStep, 1);
    EXPECT_EQ(restoredMeters.Count, 2);
    EXPECT_EQ(restoredMeters.DiameterIndex, 4);
    EXPECT_EQ(restoredMeters.Serials[0], 1201);
    EXPECT_EQ(restoredMeters.Serials[1], 1202);
    EXPECT_EQ(restoredEntries, entries);
    for (int i = 0; i < 2; ++i)
        for (int v = 0; v < kConfigValueCount; ++v)
            EXPECT_EQ(restoredMeters.Configs[std::size_t(i)].Value(v),
                      float(StrToFloat(FormatFloat("%1.6f", double(meters.Configs[std::size_t(i)].Value(v))))))
                << "meter " << i + 1 << " value " << v;
    // Bytes 52-53 are not in the file.
    EXPECT_EQ(restoredMeters.Configs[0].Tail, (std::array<uint8_t, 3>{}));
}

TEST_F(SessionFileTest, ValuesComeBackRoundedToSixDecimalsInSinglePrecision)
{
    SetUpExample();
    meters.Configs[0].K2 = 1.23456789f;
    meters.Configs[0].FL1 = 0.0000004f;
    Save();
    meters.Configs[0] = DeviceConfig{};
    StageEntries e;
    LoadSessionFile(Path(), -1, 5, run, e);
    EXPECT_EQ(meters.Configs[0].K2, float(1.234568));
    EXPECT_EQ(meters.Configs[0].FL1, 0.0f);
}

TEST_F(SessionFileTest, MissingKeysKeepWhatIsInMemoryAndOnScreen)
{
    WriteAll(Path(), "[CALIBRCFG]\r\nMAXCALSTEP=3\r\nDYINDEX=6\r\n[STEP2]\r\nTIMER=45\r\nCALTAB2_VOL_ZRM=9\r\n");
    meters.Count = 2;
    meters.DiameterIndex = 6;
    meters.Serials = {11, 22};
    meters.Configs[0] = DefaultConfigFor(6);
    const DeviceConfig config = meters.Configs[0];
    run.MaxCalStep = 1;
    entries.RefPulses = QStringLiteral("on screen");
    entries.MeterPulses = {QStringLiteral("a"), QStringLiteral("b")};
    entries.Errors = {QStringLiteral("c"), QStringLiteral("d")};

    // Without CALSTEP the stored stage is 0; STEP0 does not exist.
    StageEntries e = entries;
    LoadSessionFile(Path(), -1, 5, run, e);
    EXPECT_EQ(run.CalStep, 0);
    EXPECT_EQ(run.MaxCalStep, 3);
    EXPECT_EQ(meters.Count, 2);
    EXPECT_EQ(meters.DiameterIndex, 6);
    EXPECT_EQ(meters.Serials[1], 22);
    EXPECT_EQ(meters.Configs[0], config);
    EXPECT_EQ(e, entries);

    // A stage given by the caller: what that section has, the rest stays.
    LoadSessionFile(Path(), 2, 5, run, e);
    EXPECT_EQ(run.CalStep, 2);
    EXPECT_EQ(e.Timer, QStringLiteral("45"));
    EXPECT_EQ(e.RefPulses, QStringLiteral("on screen"));
    EXPECT_EQ(e.Errors[0], QStringLiteral("c"));
    EXPECT_EQ(e.Errors[1], QStringLiteral("9"));
}

TEST_F(SessionFileTest, ValuesWithTheOtherDecimalSeparatorLeaveTheConfigurationAlone)
{
    const char other = DecimalSeparator() == QLatin1Char(',') ? '.' : ',';
    QByteArray file = "[CALIBRCFG]\r\nNP=1\r\nDYINDEX=4\r\n[DEV1]\r\nCALTAB_K0=1,5\r\nCALTAB_K1=7\r\nCALTAB_K2=1e50\r\n";
    file.replace(',', other);
    WriteAll(Path(), file);
    meters.Configs[0] = DefaultConfigFor(4);
    StageEntries e;
    LoadSessionFile(Path(), -1, 5, run, e);
    EXPECT_EQ(meters.Configs[0].K0, 1.0f);  // "1.5" / "1,5": not a number here
    EXPECT_EQ(meters.Configs[0].K1, 7.0f);  // no separator at all: read
    EXPECT_EQ(meters.Configs[0].K2, 1.0f);  // beyond a float: kept
}

TEST_F(SessionFileTest, SerialNumbersAreCutToSixteenBits)
{
    WriteAll(Path(), "[CALIBRCFG]\r\nNP=2\r\nDYINDEX=0\r\n[SNDEVTAB]\r\nDEV1=65537\r\nDEV2=-1\r\n");
    StageEntries e;
    LoadSessionFile(Path(), -1, 5, run, e);
    EXPECT_EQ(meters.Serials[0], 1);
    EXPECT_EQ(meters.Serials[1], 65535);
}

TEST_F(SessionFileTest, CountersARunCannotHoldAreRefusedAndNothingChanges)
{
    const struct {
        const char* counters;
        int stage;
        const char* named;
    } cases[] = {
        {"NP=7\r\nDYINDEX=4\r\nCALSTEP=1", -1, "NP = 7"},
        {"NP=0\r\nDYINDEX=4\r\nCALSTEP=1", -1, "NP = 0"},
        {"DYINDEX=4\r\nCALSTEP=1", -1, "NP = 0"},  // missing, and nothing in memory
        {"NP=100\r\nDYINDEX=4\r\nCALSTEP=1", 2, "NP = 100"},
        {"NP=2\r\nDYINDEX=-1\r\nCALSTEP=1", -1, "DYINDEX = -1"},
        {"NP=2\r\nDYINDEX=10\r\nCALSTEP=1", -1, "DYINDEX = 10"},
        {"NP=2\r\nCALSTEP=1", -1, "DYINDEX = -1"},  // missing: no diameter, whatever is in memory
        {"NP=2\r\nDYINDEX=4\r\nCALSTEP=6", -1, "CALSTEP = 6"},
        {"NP=2\r\nDYINDEX=4\r\nCALSTEP=-1", -1, "CALSTEP = -1"},
        {"NP=2\r\nDYINDEX=4\r\nMAXCALSTEP=9", 1, "MAXCALSTEP = 9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.counters);
        const QByteArray file = QByteArray("[CALIBRCFG]\r\n") + c.counters + "\r\n[SNDEVTAB]\r\nDEV1=5\r\n";
        WriteAll(Path(), file);
        InstalledMeterList before;
        before.DiameterIndex = 4;
        meters = before;
        run.CalStep = 3;
        run.MaxCalStep = 3;
        entries = StageEntries{};
        entries.Timer = QStringLiteral("kept");
        StageEntries e = entries;
        try {
            LoadSessionFile(Path(), c.stage, 5, run, e);
            ADD_FAILURE() << "not refused";
        } catch (const SessionFileRefused& refused) {
            EXPECT_TRUE(refused.text().contains(QDir::toNativeSeparators(Path()))) << refused.text().toStdString();
            EXPECT_TRUE(refused.text().contains(QString::fromUtf8(c.named))) << refused.text().toStdString();
            EXPECT_EQ(SessionFileProblem(Path(), 5, run), refused.text());
        }
        EXPECT_TRUE(SameList(meters, before));
        EXPECT_EQ(run.CalStep, 3);
        EXPECT_EQ(e, entries);
        EXPECT_EQ(ReadAll(Path()), file);
    }

    // A stored stage beyond a verification's three.
    WriteAll(Path(), "[CALIBRCFG]\r\nNP=1\r\nDYINDEX=4\r\nCALSTEP=4\r\n");
    EXPECT_FALSE(SessionFileProblem(Path(), 3, run).isEmpty());
    EXPECT_TRUE(SessionFileProblem(Path(), 5, run).isEmpty());
}

TEST_F(SessionFileTest, AFileThatCannotBeWrittenIsReportedAndLeftIntact)
{
    SetUpExample();
    Save();
    const QByteArray before = ReadAll(Path());
    ASSERT_EQ(::chmod(QFile::encodeName(Path()).constData(), 0444), 0);
    run.CalStep = 2;
    try {
        Save();
        ADD_FAILURE() << "the save went through";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + Path());
    }
    EXPECT_EQ(ReadAll(Path()), before);
    EXPECT_EQ(QFileInfo(Path()).permissions() & QFileDevice::WriteOwner, 0);
}

TEST_F(SessionFileTest, AReadOnlyDirectoryIsReported)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    SetUpExample();
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    EXPECT_THROW(Save(), EIniFileException);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
    EXPECT_FALSE(QFile::exists(Path()));
}

TEST_F(SessionFileTest, ALineBreakInAnEntryIsRefusedNamingTheRealFile)
{
    SetUpExample();
    Save();
    const QByteArray before = ReadAll(Path());
    entries.Timer = QStringLiteral("60\r\nNP=9");
    try {
        Save();
        ADD_FAILURE() << "the save went through";
    } catch (const AppError& e) {
        EXPECT_TRUE(e.text().contains(Path())) << e.text().toStdString();
    }
    EXPECT_EQ(ReadAll(Path()), before);
}

TEST_F(SessionFileTest, PermissionsAndSymbolicLinksAreKept)
{
    SetUpExample();
    const QString real = dir.filePath(QStringLiteral("real.ini"));
    WriteAll(real, "[OTHER]\r\nA=1\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(real, Path()));
    Save();
    EXPECT_TRUE(QFileInfo(Path()).isSymLink());
    EXPECT_TRUE(ReadAll(real).startsWith("[OTHER]\r\nA=1\r\n[CALIBRCFG]\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(SessionFileTest, CyrillicEntriesAreStoredInWindows1251)
{
    SetUpExample();
    entries.Timer = QStringLiteral("минута ³");  // ³ has no place in Windows-1251
    Save();
    EXPECT_TRUE(ReadAll(Path()).contains("TIMER=\xEC\xE8\xED\xF3\xF2\xE0 ?\r\n"));
    StageEntries e;
    LoadSessionFile(Path(), -1, 5, run, e);
    EXPECT_EQ(e.Timer, QStringLiteral("минута ?"));
}

TEST_F(SessionFileTest, ScratchLeftByAKilledSaveIsRemovedByTheNextOne)
{
    if (!QFileInfo(QStringLiteral("/dev/shm")).isDir())
        GTEST_SKIP() << "no memory file system";
    // A process that has ended, and one that still runs (this one).
    QProcess ended;
    ended.start(QStringLiteral("/bin/sleep"), {QStringLiteral("0")});
    ASSERT_TRUE(ended.waitForStarted(5000));
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished(5000));
    const QString stale = QStringLiteral("/dev/shm/zrm-session-%1-test").arg(endedPid);
    const QString live = QStringLiteral("/dev/shm/zrm-session-%1-test").arg(qint64(::getpid()));
    ASSERT_TRUE(QDir().mkpath(stale));
    ASSERT_TRUE(QDir().mkpath(live));
    SetUpExample();
    Save();
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(live));
    QDir(live).removeRecursively();
    QDir(stale).removeRecursively();
}
