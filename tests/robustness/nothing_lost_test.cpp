// Every file the program writes, where writing cannot succeed or is cut
// short: a full disk (a small tmpfs), a read-only file system, a read-only
// file, and a writer killed (SIGKILL) at random moments. The old content
// survives byte for byte or the new one is complete, and a refused write
// says "Unable to write to <path>".

#include "coef_file.h"
#include "errors.h"
#include "ini_file.h"
#include "installed_meters.h"
#include "scratch_tmpfs.h"
#include "session_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// One way the program writes a file, and its old content to begin with.
struct Writer {
    const char* name;
    const char* fileName;
    std::function<void(const QString&)> write;
};

EditorTexts SomeCoef()
{
    EditorTexts t;
    t.Serial = QStringLiteral("4321");
    for (size_t i = 0; i < t.Values.size(); ++i)
        t.Values[i] = QStringLiteral("7,%1").arg(i);
    return t;
}

void SaveSomeSession(const QString& path)
{
    InstalledMeterList meters;
    meters.Count = 2;
    meters.Serials = {1201, 1202};
    RunState run(meters);
    run.CalStep = 2;
    run.MaxCalStep = 2;
    StageEntries entries;
    entries.Timer = QStringLiteral("60");
    entries.RefPulses = QStringLiteral("5800");
    SessionConfigTexts configs;
    for (auto& c : configs)
        c = FormatConfigTexts(DeviceConfig{});
    SaveSessionFile(path, run, entries, configs);
}

const Writer kWriters[] = {
    {"SettingsIni", "Settings.ini",
     [](const QString& p) { IniFile(p).writeString(QStringLiteral("Settings"), QStringLiteral("Port"), QString(2000, u'Щ')); }},
    {"Coef", "ZRM_№4321.coef", [](const QString& p) { SaveCoefFile(p, SomeCoef()); }},
    {"CalibrationIni", "Calibration.ini", [](const QString& p) { SaveSomeSession(p); }},
    {"PoverkaIni", "Poverka.ini", [](const QString& p) { SaveSomeSession(p); }},
};

const QByteArray kOldContent = QByteArray("[Settings]\r\nPort=/dev/ttyUSB0\r\n; kept\r\n[DEVICE_CFG]\r\nSN=1\r\n");

enum class Place { FullDisk, ReadOnlyFileSystem, ReadOnlyFile };

const char* PlaceName(Place p)
{
    static const char* const names[] = {"FullDisk", "ReadOnlyFileSystem", "ReadOnlyFile"};
    return names[int(p)];
}

class NothingLost : public ::testing::TestWithParam<std::tuple<int, Place>> {};

TEST_P(NothingLost, OldContentSurvivesAndTheUserIsTold)
{
    const auto [writerIndex, place] = GetParam();
    const Writer& writer = kWriters[writerIndex];
    QTemporaryDir dir;
    Tmpfs fs(dir.path() + QStringLiteral("/disk"));
    if (place != Place::ReadOnlyFile && !fs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const QString folder = fs.mounted() ? dir.path() + QStringLiteral("/disk") : dir.path();
    const QString path = folder + QStringLiteral("/") + QString::fromUtf8(writer.fileName);
    WriteAll(path, kOldContent);

    switch (place) {
    case Place::FullDisk: fs.fill(); break;
    case Place::ReadOnlyFileSystem: ASSERT_TRUE(fs.makeReadOnly()); break;
    case Place::ReadOnlyFile: ASSERT_EQ(chmod(path.toLocal8Bit().constData(), 0444), 0); break;
    }

    try {
        writer.write(path);
        ADD_FAILURE() << "the write was reported as done";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.text(), QStringLiteral("Unable to write to ") + path);
    }
    EXPECT_EQ(ReadAll(path), kOldContent);
    // No half-written sibling stays behind to confuse the next start.
    const QStringList left = QDir(folder).entryList(QDir::Files);
    for (const QString& f : left)
        EXPECT_TRUE(f == QString::fromUtf8(writer.fileName) || f == QStringLiteral("filler")) << f.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, NothingLost,
                         ::testing::Combine(::testing::Range(0, int(std::size(kWriters))),
                                            ::testing::Values(Place::FullDisk, Place::ReadOnlyFileSystem,
                                                              Place::ReadOnlyFile)),
                         [](const auto& param_info) {
                             return std::string(kWriters[std::get<0>(param_info.param)].name) + "_" +
                                    PlaceName(std::get<1>(param_info.param));
                         });

// A full disk that frees up again: the next write succeeds and is whole.
TEST(NothingLostRecovery, WriteSucceedsOnceSpaceIsBack)
{
    QTemporaryDir dir;
    Tmpfs fs(dir.path() + QStringLiteral("/disk"));
    if (!fs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const QString path = dir.path() + QStringLiteral("/disk/Settings.ini");
    WriteAll(path, kOldContent);
    fs.fill();
    IniFile ini(path);
    EXPECT_THROW(ini.writeString("Settings", "Port", "COM3"), EIniFileException);
    EXPECT_EQ(ini.readString("Settings", "Port", ""), "/dev/ttyUSB0");
    QFile::remove(dir.path() + QStringLiteral("/disk/filler"));
    ini.writeString("Settings", "Port", "COM3");
    EXPECT_EQ(ini.readString("Settings", "Port", ""), "COM3");
    EXPECT_EQ(ini.readString("DEVICE_CFG", "SN", ""), "1");
}

// --- SIGKILL at random moments ------------------------------------------------

QString WriterProgram() { return QStringLiteral(ZRM_NOTHING_LOST_WRITER); }

// Kills the writer after a random time, many times; check judges each file.
void KillAtRandom(const char* kind, const QString& path, int rounds, const std::function<void(int)>& check)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delayUs(0, 30000);
    for (int round = 0; round < rounds; ++round) {
        QProcess p;
        p.start(WriterProgram(), {QString::fromLatin1(kind), path});
        ASSERT_TRUE(p.waitForStarted(5000));
        ASSERT_TRUE(p.waitForReadyRead(5000));  // "ready": the loop is about to run
        usleep(useconds_t(delayUs(random)));
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(5000);
        check(round);
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(NothingLostKill, SettingsIniHoldsWholeValuesOnly)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Settings.ini");
    WriteAll(path, "; comment kept\r\n[Other]\r\nA=1\r\n");
    int keysSeen = 0;
    KillAtRandom("ini", path, 40, [&](int round) {
        IniFile ini(path);
        EXPECT_EQ(ini.readString("Other", "A", "?"), "1") << "round " << round;
        EXPECT_TRUE(ReadAll(path).startsWith("; comment kept\r\n")) << "round " << round;
        for (int key = 1; key <= 8; ++key) {
            const QString v = ini.readString("Settings", QStringLiteral("Key%1").arg(key), QString());
            if (v.isEmpty())
                continue;
            ++keysSeen;
            EXPECT_TRUE(v.startsWith("gen") && v.endsWith(QString(300, u'ж') + "-end")) << "round " << round;
        }
    });
    EXPECT_GT(keysSeen, 0) << "the writer never got a key written";
}

TEST(NothingLostKill, CoefFileHoldsWholeValuesOfEitherSet)
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/ZRM_№1.coef");
    KillAtRandom("coef", path, 40, [&](int round) {
        if (!QFile::exists(path))
            return;
        const EditorTexts t = LoadCoefFile(path);
        // Each key is written on its own (as the profile services do), so a
        // kill between two keys leaves a mix of the sets; never a cut value.
        EXPECT_TRUE(t.Serial == "1111" || t.Serial == "2222" || t.Serial == "НЕТ") << "round " << round;
        for (size_t i = 0; i < t.Values.size(); ++i) {
            const QString tail = QStringLiteral(",%1").arg(i, 6, 10, QChar(u'0'));
            EXPECT_TRUE(t.Values[i] == "НЕТ" || t.Values[i] == "1" + tail || t.Values[i] == "2" + tail)
                << "round " << round << " value " << i << ": " << t.Values[i].toStdString();
        }
    });
}

}  // namespace
