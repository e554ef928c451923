// The protocol with the real office where the fill is cut short: the office
// helper killed (SIGKILL) at random moments of a fill, and the disk running
// full while the office saves. The protocol already there stays byte for
// byte as it was, or the new one is there whole; nothing else is left
// beside it.

#include "app_paths.h"
#include "protocol_fixtures.h"
#include "protocol_workbook.h"
#include "qt_printers.h"
#include "scratch_tmpfs.h"
#include "scripted_messages.h"
#include "spreadsheet_app.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>

#include <csignal>
#include <unistd.h>

namespace {

const QString kTemplateName = QStringLiteral("Протокол поверки.xls");

QByteArray Hash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing>";
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

QStringList FilesIn(const QString& dir)
{
    QStringList out = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    out.sort();
    return out;
}

// Our own child processes running the office helper.
QList<pid_t> HelperChildren()
{
    QList<pid_t> out;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& p : pids) {
        bool ok = false;
        const pid_t pid = p.toInt(&ok);
        if (!ok)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray s = stat.readAll();
        const qsizetype close = s.lastIndexOf(')');
        const QList<QByteArray> fields = s.mid(close + 2).split(' ');
        // state, ppid
        if (fields.size() < 2 || fields[0] == "Z" || fields[1].toInt() != ::getpid())
            continue;
        QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().split('\0').value(0).endsWith("zrm-office-helper"))
            out << pid;
    }
    return out;
}

class OfficeNothingLost : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetSpreadsheetAppFactory({});
        SetWorkbookViewer([this](const QString& path) {
            shown << path;
            return true;
        });
    }
    void TearDown() override
    {
        SetWorkbookViewer({});
        SetSpreadsheetAppFactory({});
    }

    // The program's directory at program: the template and the state file.
    void Program(const QString& program, const VerificationRun& v)
    {
        AppPaths::setDirectory(program);
        const QString built = QCoreApplication::applicationDirPath() + QLatin1Char('/') + kTemplateName;
        QFile::remove(program + QLatin1Char('/') + kTemplateName);
        ASSERT_TRUE(QFile::copy(built, program + QLatin1Char('/') + kTemplateName)) << built.toStdString();
        QFile::remove(program + QStringLiteral("/Poverka.ini"));
        WriteSessionFile(program + QStringLiteral("/Poverka.ini"), v);
        data.RepNo = 5;
        data.DiameterIndex = v.DiameterIndex;
        data.SessionFile = program + QStringLiteral("/Poverka.ini");
        data.Fields = {QStringLiteral("ДР-485"), QStringLiteral("20"), QStringLiteral("1bar"), QStringLiteral("И"),
                       QStringLiteral("П")};
    }

    QTemporaryDir dir;
    ScopedScriptedMessages boxes;
    QStringList shown;
    ProtocolData data;
    const QDateTime moment{QDate(2026, 12, 6), QTime(19, 31)};
};

TEST_F(OfficeNothingLost, TheHelperKilledAtRandomMomentsLeavesTheOldProtocolOrAWholeNewOne)
{
    Program(dir.path(), SampleRun(6));
    const QString target = PrepareProtocolFile(moment, 5);
    const QString day = QFileInfo(target).path();

    // Each protocol that stood at the path, with its number.
    struct Complete {
        QString copy;
        int repNo;
    };
    std::vector<Complete> completes;
    const auto keep = [&] {
        completes.push_back({dir.filePath(QStringLiteral("complete-%1.xls").arg(completes.size())), data.RepNo});
        return QFile::copy(target, completes.back().copy);
    };

    // An earlier protocol for six meters; its time is the measure of a fill.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WriteProtocolWorkbook(target, 6, data)) << boxes.texts().join('|').toStdString();
    const qint64 whole = clock.elapsed();
    ASSERT_TRUE(keep());
    QByteArray current = Hash(target);

    // Then filled again under a new number each time, the helper killed at
    // a moment spread over the fill and a little past it (the save, the
    // rename, the hand-over): each attempt takes its own slice of the time.
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    constexpr int kAttempts = 5;
    const qint64 span = whole * 13 / 10;
    int killed = 0, intact = 0, replaced = 0;
    QStringList moments;
    for (int i = 0; i < kAttempts; ++i) {
        std::uniform_int_distribution<qint64> slice(span * i / kAttempts, span * (i + 1) / kAttempts);
        const qint64 at = slice(random);
        SCOPED_TRACE("kill at " + std::to_string(at) + " ms, seed " + std::to_string(seed));
        boxes.clear();
        shown.clear();
        data.RepNo = 10 + i;
        bool fired = false;
        QTimer killer;
        killer.setSingleShot(true);
        killer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&killer, &QTimer::timeout, [&] {
            for (pid_t pid : HelperChildren())
                fired = ::kill(pid, SIGKILL) == 0 || fired;
        });
        killer.start(int(at));
        const bool saved = WriteProtocolWorkbook(target, 6, data);
        // A fill that ended first is not killed at all.
        killer.stop();
        moments << QStringLiteral("%1 ms%2").arg(at).arg(fired ? "" : " (after the end)");
        killed += fired;

        EXPECT_EQ(FilesIn(day), QStringList{QFileInfo(target).fileName()});
        EXPECT_TRUE(HelperChildren().isEmpty());
        if (saved) {
            // Whole and new: read back below.
            ++replaced;
            EXPECT_NE(Hash(target), current);
            EXPECT_EQ(shown, QStringList{target});
            ASSERT_TRUE(keep());
            current = Hash(target);
        } else {
            ++intact;
            EXPECT_TRUE(fired) << "failed without a kill: " << boxes.texts().join('|').toStdString();
            EXPECT_EQ(Hash(target), current);
            ASSERT_GE(boxes.count(), 1u);
            EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Ошибка вывода данных"));
            EXPECT_TRUE(shown.isEmpty());
        }
    }
    std::cout << "whole fill " << whole << " ms; kills at " << moments.join(", ").toStdString() << "; " << killed
              << " helpers killed, " << intact << " protocols left as they were, " << replaced
              << " replaced whole; seed " << seed << "\n";
    EXPECT_GE(killed, 3) << "most moments fall inside a fill";
    EXPECT_GE(intact, 1);

    // Left alone, the next fill replaces it whole.
    boxes.clear();
    data.RepNo = 20;
    EXPECT_TRUE(WriteProtocolWorkbook(target, 6, data)) << boxes.texts().join('|').toStdString();
    EXPECT_NE(Hash(target), current);
    EXPECT_EQ(FilesIn(day), QStringList{QFileInfo(target).fileName()});
    ASSERT_TRUE(keep());

    // Every protocol that stood at the path at some point opens and is whole.
    QStringList copies;
    for (const Complete& c : completes)
        copies << c.copy;
    const QList<ReadSheet> sheets = ReadWorkbooks(copies, dir.filePath(QStringLiteral("office")));
    ASSERT_EQ(sheets.size(), copies.size());
    for (int i = 0; i < sheets.size(); ++i) {
        SCOPED_TRACE(copies[i].toStdString());
        EXPECT_EQ(At(sheets[i], "A1").Text, FormatText("ПРОТОКОЛ № %3d", {completes[std::size_t(i)].repNo}));
        for (int n = 1; n <= 6; ++n)
            EXPECT_EQ(At(sheets[i], 16 + n, 2).Text, QString::number(1200 + n));
        // Each fill of the same file moves the rows below the first meter
        // down by five: the earlier fills' rows stay below the new ones.
        const int shift = 5 * (i + 1);
        EXPECT_FALSE(At(sheets[i], 17 + shift, 2).Text.isEmpty());
        EXPECT_TRUE(At(sheets[i], 18 + shift, 2).Text.isEmpty());
        EXPECT_EQ(At(sheets[i], 24 + shift, 8).Text, QStringLiteral("Поверил"));
    }
}

// The helper killed while the office saves: at a moment within the time a
// save takes, measured on a save left alone.
class KilledWhileSaving : public OfficeHelperApp {
public:
    KilledWhileSaving(int afterMs, bool& fired, qint64& saveMs) : m_afterMs(afterMs), m_fired(fired), m_saveMs(saveMs) {}
    void Save() override
    {
        QTimer killer;
        killer.setSingleShot(true);
        killer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&killer, &QTimer::timeout, [this] {
            for (pid_t pid : HelperChildren())
                m_fired = ::kill(pid, SIGKILL) == 0 || m_fired;
        });
        if (m_afterMs >= 0)
            killer.start(m_afterMs);
        QElapsedTimer clock;
        clock.start();
        OfficeHelperApp::Save();  // serves the event queue while it waits
        m_saveMs = clock.elapsed();
    }

private:
    int m_afterMs;
    bool& m_fired;
    qint64& m_saveMs;
};

TEST_F(OfficeNothingLost, TheHelperKilledWhileTheOfficeSavesLeavesTheOldProtocolOrAWholeNewOne)
{
    Program(dir.path(), SampleRun(3));
    const QString target = PrepareProtocolFile(moment, 5);
    const QString day = QFileInfo(target).path();
    bool fired = false;
    qint64 saveMs = 0;
    int afterMs = -1;
    SetSpreadsheetAppFactory([&] { return std::make_unique<KilledWhileSaving>(afterMs, fired, saveMs); });

    ASSERT_TRUE(WriteProtocolWorkbook(target, 3, data)) << boxes.texts().join('|').toStdString();
    const qint64 whole = std::max<qint64>(saveMs, 1);
    QStringList completes{dir.filePath(QStringLiteral("saved-0.xls"))};
    QList<int> numbers{data.RepNo};
    ASSERT_TRUE(QFile::copy(target, completes.back()));
    QByteArray current = Hash(target);

    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay(0, int(whole));
    QStringList moments;
    int intact = 0;
    for (int i = 0; i < 4; ++i) {
        afterMs = delay(random);
        fired = false;
        data.RepNo = 30 + i;
        boxes.clear();
        shown.clear();
        SCOPED_TRACE("kill " + std::to_string(afterMs) + " ms into the save, seed " + std::to_string(seed));
        const bool saved = WriteProtocolWorkbook(target, 3, data);
        moments << QStringLiteral("%1 ms%2").arg(afterMs).arg(fired ? "" : " (after it)");
        EXPECT_EQ(FilesIn(day), QStringList{QFileInfo(target).fileName()});
        EXPECT_TRUE(HelperChildren().isEmpty());
        if (saved) {
            EXPECT_NE(Hash(target), current);
            completes << dir.filePath(QStringLiteral("saved-%1.xls").arg(completes.size()));
            numbers << data.RepNo;
            ASSERT_TRUE(QFile::copy(target, completes.back()));
            current = Hash(target);
        } else {
            ++intact;
            EXPECT_TRUE(fired);
            EXPECT_EQ(Hash(target), current);
            EXPECT_TRUE(shown.isEmpty());
        }
    }
    std::cout << "save " << whole << " ms; kills at " << moments.join(", ").toStdString() << "; " << intact
              << " protocols left as they were; seed " << seed << "\n";

    const QList<ReadSheet> sheets = ReadWorkbooks(completes, dir.filePath(QStringLiteral("office")));
    ASSERT_EQ(sheets.size(), completes.size());
    for (int i = 0; i < sheets.size(); ++i) {
        SCOPED_TRACE(completes[i].toStdString());
        EXPECT_EQ(At(sheets[i], "A1").Text, FormatText("ПРОТОКОЛ № %3d", {numbers[i]}));
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(At(sheets[i], 16 + n, 2).Text, QString::number(1200 + n));
        EXPECT_EQ(At(sheets[i], 24 + 2 * (i + 1), 8).Text, QStringLiteral("Поверил"));
    }
}

// The real office, but the disk fills up just before it saves.
class FillingBeforeSave : public OfficeHelperApp {
public:
    explicit FillingBeforeSave(Tmpfs& fs) : m_fs(fs) {}
    void Save() override
    {
        m_fs.fill();
        OfficeHelperApp::Save();
    }

private:
    Tmpfs& m_fs;
};

TEST_F(OfficeNothingLost, ADiskFullAtTheOfficesSaveLeavesTheOldProtocol)
{
    Tmpfs fs(dir.filePath(QStringLiteral("disk")), "size=1m");
    if (!fs.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    Program(fs.path(), SampleRun(2));
    const QString target = PrepareProtocolFile(moment, 5);
    const QByteArray old = Hash(target);
    SetSpreadsheetAppFactory([&fs] { return std::make_unique<FillingBeforeSave>(fs); });

    EXPECT_FALSE(WriteProtocolWorkbook(target, 2, data));
    EXPECT_EQ(boxes.texts(), (QStringList{QStringLiteral("Ошибка вывода данных"),
                                          QStringLiteral("Unable to write to ") + target + QLatin1Char('.')}));
    EXPECT_EQ(Hash(target), old);
    EXPECT_EQ(FilesIn(QFileInfo(target).path()), QStringList{QFileInfo(target).fileName()});
    EXPECT_TRUE(shown.isEmpty());

    // Room again: the same protocol is written whole.
    fs.drain();
    boxes.clear();
    SetSpreadsheetAppFactory({});
    EXPECT_TRUE(WriteProtocolWorkbook(target, 2, data)) << boxes.texts().join('|').toStdString();
    const ReadSheet sheet = ReadWorkbooks({target}, dir.filePath(QStringLiteral("office"))).value(0);
    EXPECT_EQ(At(sheet, "B17").Text, QStringLiteral("1201"));
    EXPECT_EQ(At(sheet, "B18").Text, QStringLiteral("1202"));
}

}  // namespace
