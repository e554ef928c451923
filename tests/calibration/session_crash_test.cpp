// A program killed (SIGKILL) at random moments while it saves its run must
// leave a state file that loads and holds one whole save, never parts of
// two. A helper process saves two different runs alternately; this test
// kills it and reads what it left.

#include "crash_states.h"
#include "session_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

enum class Outcome { NoFile, WholeSave, Broken };

// Loads as a restarted program would and compares with the save its stage
// says it is.
Outcome Inspect(const QString& path, std::string& why)
{
    if (!QFile::exists(path))
        return Outcome::NoFile;
    InstalledMeterList meters;
    RunState run(meters);
    StageEntries entries;
    try {
        LoadSessionFile(path, -1, 5, run, entries);
    } catch (const SessionFileRefused& e) {
        why = "refused: " + e.text().toStdString();
        return Outcome::Broken;
    }
    if (run.CalStep != 1 && run.CalStep != 2) {
        why = "CALSTEP " + std::to_string(run.CalStep);
        return Outcome::Broken;
    }
    InstalledMeterList expectedMeters;
    RunState expected(expectedMeters);
    StageEntries expectedEntries;
    SessionConfigTexts texts;
    crash_states::Make(run.CalStep - 1, expected, expectedEntries, texts);
    if (run.MaxCalStep != expected.MaxCalStep || meters.Count != expectedMeters.Count
        || meters.DiameterIndex != expectedMeters.DiameterIndex || meters.Serials != expectedMeters.Serials
        || meters.Configs != expectedMeters.Configs || !(entries == expectedEntries)) {
        why = "mixed saves at CALSTEP " + std::to_string(run.CalStep);
        return Outcome::Broken;
    }
    return Outcome::WholeSave;
}

// Starts the helper, lets it save at least once (unless killEarly), kills it
// after a random pause.
Outcome KillDuringSaves(const QString& path, const char* mode, int maxPauseMs, bool killEarly, std::mt19937& rng,
                        std::string& why)
{
    QProcess helper;
    helper.start(QStringLiteral(ZRM_SESSION_SAVE_LOOP), {path, QString::fromLatin1(mode)});
    EXPECT_TRUE(helper.waitForStarted(5000));
    if (!killEarly) {
        EXPECT_TRUE(helper.waitForReadyRead(20000)) << "the helper never saved";
    }
    QThread::msleep(std::uniform_int_distribution<int>(0, maxPauseMs)(rng));
    const qint64 pid = helper.processId();
    helper.kill();  // SIGKILL
    EXPECT_TRUE(helper.waitForFinished(5000));
    EXPECT_EQ(helper.exitStatus(), QProcess::CrashExit);
    // The next save of any program would remove the dead helper's scratch
    // directory; the test does not leave it behind meanwhile.
    const QDir shm(QStringLiteral("/dev/shm"));
    for (const QString& name : shm.entryList({QStringLiteral("zrm-session-%1-*").arg(pid)}, QDir::Dirs))
        QDir(shm.filePath(name)).removeRecursively();
    return Inspect(path, why);
}

} // namespace

TEST(SessionCrash, AKilledSaveLeavesOneWholeSave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Calibration.ini"));
    std::mt19937 rng(20240611);
    int whole = 0;
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        // Every fourth run starts without a file and is killed from its very
        // first save on.
        const bool fresh = i % 4 == 0;
        if (fresh)
            QFile::remove(path);
        std::string why;
        const Outcome o = KillDuringSaves(path, "atomic", 150, fresh, rng, why);
        EXPECT_NE(o, Outcome::Broken) << why;
        if (!fresh) {
            EXPECT_EQ(o, Outcome::WholeSave);
        }
        whole += o == Outcome::WholeSave;
    }
    EXPECT_GT(whole, 12);
}

// The same check on saves written key by key catches the mix: the test
// above would fail on a save that is not atomic as a whole.
TEST(SessionCrash, TheCheckCatchesAKeyByKeySave)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Calibration.ini"));
    std::mt19937 rng(7);
    bool caught = false;
    for (int i = 0; i < 8 && !caught; ++i) {
        std::string why;
        caught = KillDuringSaves(path, "per-key", 1500, false, rng, why) == Outcome::Broken;
    }
    EXPECT_TRUE(caught);
}
