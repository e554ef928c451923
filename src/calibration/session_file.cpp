#include "session_file.h"

#include "file_replace.h"
#include "ini_file.h"
#include "number_text.h"
#include "process_group.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cfloat>
#include <cmath>
#include <memory>

namespace {

const QString kConfigSection = QStringLiteral("CALIBRCFG");
const QString kSerialSection = QStringLiteral("SNDEVTAB");

const char* const kConfigKeys[kConfigValueCount] = {
    "CALTAB_DY",  "CALTAB_VES", "CALTAB_K0",  "CALTAB_K1",  "CALTAB_K2",  "CALTAB_K3",     "CALTAB_K4",
    "CALTAB_FL0", "CALTAB_FL1", "CALTAB_FL2", "CALTAB_FL3", "CALTAB_FL4", "CALTAB_MAINCAL",
};

// Files of ours are a few kilobytes; IniFile refuses anything this large too.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

QString StepSection(int stage) { return QStringLiteral("STEP%1").arg(stage); }
QString DevKey(int n) { return QStringLiteral("DEV%1").arg(n); }
QString PulsesKey(int n) { return QStringLiteral("CALTAB%1_IMP_DUZR").arg(n); }
QString ErrorKey(int n) { return QStringLiteral("CALTAB%1_VOL_ZRM").arg(n); }

int MetersInFile(int count) { return qBound(0, count, kSessionMeters); }

const QString kScratchPrefix = QStringLiteral("zrm-session-");

// Scratch directories of processes that no longer run (killed in the middle
// of a save) would stay in memory until the next boot.
void RemoveStaleScratch(const QString& parent)
{
    const QDir dir(parent);
    const QStringList names = dir.entryList({kScratchPrefix + QStringLiteral("*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 pid = name.mid(kScratchPrefix.size()).section(QLatin1Char('-'), 0, 0).toLongLong(&ok);
        if (ok && ProcessGone(pid))
            QDir(dir.filePath(name)).removeRecursively();
    }
}

// A scratch directory for building the new file key by key. Memory-backed
// where the system has one: each key write syncs, and only the finished file
// needs to reach the disk.
std::unique_ptr<QTemporaryDir> ScratchDirectory()
{
    const QString shm = QStringLiteral("/dev/shm");
    const QFileInfo info(shm);
    if (info.isDir() && info.isWritable()) {
        RemoveStaleScratch(shm);
        auto dir = std::make_unique<QTemporaryDir>(
            QStringLiteral("%1/%2%3-XXXXXX").arg(shm, kScratchPrefix).arg(QCoreApplication::applicationPid()));
        if (dir->isValid())
            return dir;
    }
    return std::make_unique<QTemporaryDir>();
}

// What the profile services would refuse to rewrite: not a regular file,
// read-only for its owner (also for root), unreadable or oversized.
bool ExistingTargetWritable(const QFileInfo& target, QByteArray& bytes)
{
    if (!target.isFile() || !(target.permissions() & QFileDevice::WriteOwner) || target.size() > kMaxFileSize)
        return false;
    QFile f(target.filePath());
    if (!f.open(QIODevice::ReadOnly))
        return false;
    bytes = f.readAll();
    return f.error() == QFileDevice::NoError;
}

QString RangeProblem(const char* what, int value, int low, int high)
{
    if (value >= low && value <= high)
        return QString();
    return QStringLiteral("%1 = %2 (допустимо от %3 до %4)")
        .arg(QString::fromUtf8(what))
        .arg(value)
        .arg(low)
        .arg(high);
}

struct StoredCounters {
    int calStep = 0;
    int maxCalStep = 0;
    int diameterIndex = -1;
    int meterCount = 0;
};

StoredCounters ReadCounters(const IniFile& ini, int stage, const RunState& run)
{
    StoredCounters c;
    // A file without CALSTEP continues at stage 0; one without DYINDEX is
    // refused (no diameter is no diameter, not the first one); the others
    // fall back to what is in memory.
    c.calStep = stage == -1 ? ini.readInteger(kConfigSection, QStringLiteral("CALSTEP"), 0) : stage;
    c.maxCalStep = ini.readInteger(kConfigSection, QStringLiteral("MAXCALSTEP"), run.MaxCalStep);
    c.diameterIndex = ini.readInteger(kConfigSection, QStringLiteral("DYINDEX"), -1);
    c.meterCount = ini.readInteger(kConfigSection, QStringLiteral("NP"), run.Meters.Count);
    return c;
}

QString CountersProblem(const QString& path, const StoredCounters& c, int stage, int stageCount)
{
    QStringList problems;
    problems << RangeProblem("число приборов NP", c.meterCount, 1, kSessionMeters)
             << RangeProblem("индекс диаметра DYINDEX", c.diameterIndex, 0, 9)
             << (stage == -1 ? RangeProblem("этап CALSTEP", c.calStep, 0, stageCount) : QString())
             << RangeProblem("этап MAXCALSTEP", c.maxCalStep, 0, stageCount);
    problems.removeAll(QString());
    if (problems.isEmpty())
        return QString();
    return QStringLiteral("Файл %1 не может быть загружен: %2. Сеанс не может быть продолжен, "
                          "файл оставлен без изменений.")
        .arg(QDir::toNativeSeparators(path), problems.join(QStringLiteral(", ")));
}

} // namespace

ConfigTexts FormatConfigTexts(const DeviceConfig& config)
{
    ConfigTexts texts;
    for (int i = 0; i < kConfigValueCount; ++i)
        texts[std::size_t(i)] = FormatFloat("%1.6f", double(config.Value(i)));
    return texts;
}

void SaveSessionFile(const QString& path, const RunState& run, const StageEntries& entries,
                     const SessionConfigTexts& configs)
{
    // The profile services write key by key, and a crash between two keys
    // would leave a file mixing two saves (CALSTEP of one, entries of the
    // other, or no NP at all on the first save). So the whole save is made
    // on a scratch copy with the same services, and the finished file
    // replaces the old one in one rename.
    QFileInfo target(path);
    if (target.isSymLink())
        target = QFileInfo(target.symLinkTarget());  // written through, as IniFile does

    QByteArray original;
    if (target.exists() && !ExistingTargetWritable(target, original))
        throw EIniFileException::unableToWrite(path);

    const std::unique_ptr<QTemporaryDir> scratchDir = ScratchDirectory();
    if (!scratchDir->isValid())
        throw EIniFileException::unableToWrite(path);
    const QString scratch = scratchDir->filePath(QStringLiteral("session.ini"));
    {
        QFile f(scratch);
        if (!f.open(QIODevice::WriteOnly) || f.write(original) != original.size())
            throw EIniFileException::unableToWrite(path);
    }

    try {
        IniFile ini(scratch);
        ini.writeInteger(kConfigSection, QStringLiteral("CALSTEP"), run.CalStep);
        ini.writeInteger(kConfigSection, QStringLiteral("MAXCALSTEP"), run.MaxCalStep);
        ini.writeInteger(kConfigSection, QStringLiteral("DYINDEX"), run.Meters.DiameterIndex);
        ini.writeInteger(kConfigSection, QStringLiteral("NP"), run.Meters.Count);

        const int meters = MetersInFile(run.Meters.Count);
        for (int n = 1; n <= meters; ++n)
            ini.writeInteger(kSerialSection, DevKey(n), run.Meters.Serials[std::size_t(n - 1)]);

        const QString step = StepSection(run.CalStep);
        ini.writeString(step, QStringLiteral("TIMER"), entries.Timer);
        ini.writeString(step, QStringLiteral("VES_ETALON"), entries.RefPulseWeight);
        ini.writeString(step, QStringLiteral("IMP_ETALON"), entries.RefPulses);

        for (int n = 1; n <= meters; ++n) {
            const std::size_t i = std::size_t(n - 1);
            ini.writeString(step, PulsesKey(n), entries.MeterPulses[i]);
            ini.writeString(step, ErrorKey(n), entries.Errors[i]);
            const QString dev = DevKey(n);
            for (int v = 0; v < kConfigValueCount; ++v)
                ini.writeString(dev, QString::fromLatin1(kConfigKeys[v]), configs[i][std::size_t(v)]);
        }
    } catch (const EIniFileException&) {
        throw EIniFileException::unableToWrite(path);
    } catch (const AppError& e) {
        // A value the services refuse (a line break): name the real file.
        throw AppError(QString(e.text()).replace(scratch, path));
    }

    QFile staged(scratch);
    if (!staged.open(QIODevice::ReadOnly))
        throw EIniFileException::unableToWrite(path);
    const QByteArray bytes = staged.readAll();

    // Beside the target, on the disk, then renamed over it, owner and mode kept.
    FileStatus status;
    if (!MayReplace(target.filePath(), &status) || !ReplaceFile(target.filePath(), bytes, status))
        throw EIniFileException::unableToWrite(path);
}

QString SessionFileProblem(const QString& path, int stageCount, const RunState& run)
{
    return SessionFileProblem(IniFile(path), stageCount, run);
}

QString SessionFileProblem(const IniFile& ini, int stageCount, const RunState& run)
{
    return CountersProblem(ini.fileName(), ReadCounters(ini, -1, run), -1, stageCount);
}

void LoadSessionFile(const QString& path, int stage, int stageCount, RunState& run, StageEntries& entries)
{
    LoadSessionFile(IniFile(path), stage, stageCount, run, entries);
}

void LoadSessionFile(const IniFile& ini, int stage, int stageCount, RunState& run, StageEntries& entries)
{
    const StoredCounters c = ReadCounters(ini, stage, run);
    const QString problem = CountersProblem(ini.fileName(), c, stage, stageCount);
    if (!problem.isEmpty())
        throw SessionFileRefused(problem);

    run.CalStep = c.calStep;
    run.MaxCalStep = c.maxCalStep;
    run.Meters.DiameterIndex = c.diameterIndex;
    run.Meters.Count = c.meterCount;

    const int meters = c.meterCount;
    for (int n = 1; n <= meters; ++n) {
        SerialNumber& serial = run.Meters.Serials[std::size_t(n - 1)];
        serial = SerialNumber(ini.readInteger(kSerialSection, DevKey(n), serial));
    }

    const QString step = StepSection(run.CalStep);
    entries.Timer = ini.readString(step, QStringLiteral("TIMER"), entries.Timer);
    entries.RefPulseWeight = ini.readString(step, QStringLiteral("VES_ETALON"), entries.RefPulseWeight);
    entries.RefPulses = ini.readString(step, QStringLiteral("IMP_ETALON"), entries.RefPulses);

    for (int n = 1; n <= meters; ++n) {
        const std::size_t i = std::size_t(n - 1);
        entries.MeterPulses[i] = ini.readString(step, PulsesKey(n), entries.MeterPulses[i]);
        entries.Errors[i] = ini.readString(step, ErrorKey(n), entries.Errors[i]);
        DeviceConfig& config = run.Meters.Configs[i];
        const QString dev = DevKey(n);
        for (int v = 0; v < kConfigValueCount; ++v) {
            double value = 0;
            const QString text = ini.readString(dev, QString::fromLatin1(kConfigKeys[v]), QString());
            // Another decimal separator, or a value no float can hold, is
            // not a number here: the value in memory stays.
            if (TryStrToFloat(text, value) && std::fabs(value) <= double(FLT_MAX))
                config.SetValue(v, float(value));
        }
    }
}
