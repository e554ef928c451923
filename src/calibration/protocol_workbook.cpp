#include "protocol_workbook.h"

#include "app_paths.h"
#include "coefficients.h"
#include "diameter_defaults.h"
#include "errors.h"
#include "file_access.h"
#include "file_replace.h"
#include "handler.h"
#include "ini_file.h"
#include "messages.h"
#include "number_text.h"
#include "spreadsheet_app.h"
#include "stages.h"

#include <QCursor>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>

#include <cmath>
#include <optional>
#include <stdexcept>

const char* const kProtocolTemplate = "Протокол поверки.xls";

namespace {

bool g_writing = false;

class WritingScope {
public:
    WritingScope() { g_writing = true; }
    ~WritingScope() { g_writing = false; }
    WritingScope(const WritingScope&) = delete;
    WritingScope& operator=(const WritingScope&) = delete;
};

// The wait cursor while the office works; taken down before any box shows.
class WaitCursor {
public:
    WaitCursor()
    {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            m_set = true;
        }
    }
    ~WaitCursor() { Restore(); }
    void Restore()
    {
        if (m_set)
            QGuiApplication::restoreOverrideCursor();
        m_set = false;
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_set = false;
};

QString Two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString Step(int k)
{
    return QStringLiteral("STEP%1").arg(k);
}

[[noreturn]] void UnableToWrite(const QString& path)
{
    // The refusal every file the program writes gives.
    throw EIniFileException::unableToWrite(path);
}

// The whole file, or nothing when it cannot be read whole.
std::optional<QByteArray> ReadWhole(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

// The office's working copy of target: the protocol's own name inside a
// hidden directory of its own beside it. The office saves through temporary
// files of its own beside the workbook; in there, whatever an office killed
// halfway leaves goes with the directory. Returns the copy's path, or empty
// with nothing left behind.
QString MakeWorkingCopy(const QString& target)
{
    const std::optional<QByteArray> bytes = ReadWhole(target);
    if (!bytes)
        return {};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString dir = HiddenSibling(target, QString());
        const DirectoryMade made = MakePrivateDirectory(dir);
        if (made == DirectoryMade::Exists)
            continue;
        if (made == DirectoryMade::Failed)
            return {};
        const QString work = dir + QLatin1Char('/') + QFileInfo(target).fileName();
        if (ReplaceFile(work, *bytes))
            return work;
        QDir().rmdir(dir);
        return {};
    }
    return {};
}

// The working copy's directory and all in it; only once no office uses it.
void RemoveWorkingCopy(const QString& work)
{
    if (!work.isEmpty())
        QDir(QFileInfo(work).absolutePath()).removeRecursively();
}

// The template copy: the old file, owner and mode kept, stays until a whole
// new one replaces it.
void CopyFileOver(const QString& from, const QString& to)
{
    const std::optional<QByteArray> bytes = ReadWhole(from);
    if (!bytes)
        throw ETemplateUnreadable(QStringLiteral("Шаблон протокола не найден или не читается: ") +
                                  QDir::toNativeSeparators(from));
    FileStatus old;
    if (!MayReplace(to, &old) || !ReplaceFile(to, *bytes, old))
        UnableToWrite(to);
}

}  // namespace

QString ProtocolMonthName(int month)
{
    QString name = QLocale::system().standaloneMonthName(month, QLocale::LongFormat);
    if (!name.isEmpty())
        name[0] = name[0].toUpper();
    return name;
}

QString ProtocolFilePath(const QString& directory, const QDateTime& when, int repNo)
{
    const QDate date = when.date();
    const QTime time = when.time();
    return directory + QStringLiteral("/Protocols/") + QString::number(date.year()) + QStringLiteral(" г./") +
           ProtocolMonthName(date.month()) + QLatin1Char('/') + Two(date.day()) + QLatin1Char('/') + Two(time.hour()) +
           QLatin1Char('_') + Two(time.minute()) + QStringLiteral(" Протокол № ") + FormatText("%.5d", {repNo}) +
           QStringLiteral(".xls");
}

QString PrepareProtocolFile(const QDateTime& when, int repNo)
{
    // One moment for every part of the path: taken part by part, a protocol
    // written at midnight could land in the previous day's directory.
    const QString path = ProtocolFilePath(AppPaths::directory(), when, repNo);

    // Protocols, year, month, day: one level at a time. A level that cannot
    // be made shows up as the copy's failure below.
    const QString dayDir = QFileInfo(path).path();
    const QString monthDir = QFileInfo(dayDir).path();
    const QString yearDir = QFileInfo(monthDir).path();
    const QString root = QFileInfo(yearDir).path();
    for (const QString& dir : {root, yearDir, monthDir, dayDir})
        if (!QFileInfo(dir).isDir())
            QDir().mkdir(dir);

    const QString templ = AppPaths::resourceFile(QString::fromUtf8(kProtocolTemplate));
    if (QFileInfo::exists(path)) {
        const ModalResult answer =
            ShowMessage(MsgKind::Warning,
                        QStringLiteral("Файл ") + QDir::toNativeSeparators(path) + QStringLiteral("уже существует, заменить его?"),
                        mbYes | mbNo);
        if (answer == ModalResult::Yes)
            CopyFileOver(templ, path);
    } else {
        CopyFileOver(templ, path);
    }
    return path;
}

bool ProtocolBeingWritten()
{
    return g_writing;
}

bool RefuseWhileProtocolWritten()
{
    // The windows stay usable while a protocol is written, so the wizard's
    // last step, or a new verification, can be asked for meanwhile.
    if (!g_writing)
        return false;
    ShowMessage(MsgKind::Information, QStringLiteral("Протокол поверки ещё заполняется. Дождитесь, пока он откроется."),
                mbOK);
    return true;
}

ProtocolRun ReadProtocolRun(int np, const ProtocolData& data)
{
    const IniFile state(data.SessionFile);
    ProtocolRun run;
    for (int k = 1; k <= ProtocolRun::kStages; ++k) {
        ReferenceEntries& ref = run.Stages[std::size_t(k - 1)];
        ref.Pulses = state.readInteger(Step(k), QStringLiteral("IMP_ETALON"), 0);
        ref.PulseWeight = state.readFloat(Step(k), QStringLiteral("VES_ETALON"), 0);
        ref.Seconds = state.readFloat(Step(k), QStringLiteral("TIMER"), 0);
    }
    for (int n = 1; n <= np; ++n) {
        ProtocolRun::Meter meter;
        const int memorySerial = n <= int(data.Serials.size()) ? data.Serials[std::size_t(n - 1)] : 0;
        meter.Serial = state.readInteger(QStringLiteral("SNDEVTAB"), QStringLiteral("DEV%1").arg(n), memorySerial);
        for (int k = 1; k <= ProtocolRun::kStages; ++k)
            meter.Pulses[std::size_t(k - 1)] =
                state.readInteger(Step(k), QStringLiteral("CALTAB%1_IMP_DUZR").arg(n), 0);
        run.Meters.push_back(meter);
    }
    return run;
}

bool WriteProtocolWorkbook(const QString& path, int np, const ProtocolData& data)
{
    if (g_writing)
        return false;
    return WriteProtocolWorkbook(path, ReadProtocolRun(np, data), data);
}

bool WriteProtocolWorkbook(const QString& path, const ProtocolRun& run, const ProtocolData& data)
{
    if (g_writing)
        return false;
    WritingScope writing;

    std::unique_ptr<SpreadsheetApp> app;
    bool opened = false;
    bool unavailable = false;
    // Set while the protocol's own file is being written (the save and the
    // working copy taking the protocol's name): a failure then is a write.
    bool writingFile = false;
    QString work;
    WaitCursor cursor;
    try {
        // The office fills and saves a copy; the copy takes the protocol's
        // place only once saved whole, so a failed save or an office killed
        // halfway never costs the protocol already there.
        writingFile = true;
        if (MayReplace(path))
            work = MakeWorkingCopy(path);
        if (work.isEmpty())
            UnableToWrite(path);
        writingFile = false;

        app = CreateSpreadsheetApp();
        app->Start();
        app->SetEnableEvents(true);
        app->SetVisible(true);
        app->OpenWorkbook(work);
        opened = true;
        app->SelectWorksheet(1);

        const int dy = data.DiameterIndex;
        if (dy < 0 || dy >= kDiameterCount)
            throw std::out_of_range("diameter index " + std::to_string(dy) + " is not 0..9");
        const auto put = [&app](const char* cell, const QString& text) {
            app->SetValue(app->Range(QString::fromLatin1(cell)), text);
        };
        // What the user typed stays text exactly as typed ("=2*3" is no
        // formula); the temperature is entered as a number when it is one.
        const auto putTyped = [&app](const char* cell, const QString& text) {
            app->SetText(app->Range(QString::fromLatin1(cell)), text);
        };
        double temperature = 0;
        put("A1", FormatText("ПРОТОКОЛ № %3d", {data.RepNo}));
        putTyped("F8", data.Fields.Modification);
        put("G8", FormatText("Ду-%d", {std::llround(DiameterDefaults[0][dy] * 1000)}));
        if (TryStrToFloat(data.Fields.WaterTemperature, temperature))
            put("M12", data.Fields.WaterTemperature);
        else
            putTyped("M12", data.Fields.WaterTemperature);
        putTyped("J9", QStringLiteral("Атмосферное давление: ") + data.Fields.Pressure);
        put("C15", FormatText("%1.3f", {StageSetPoint(true, 1, dy)}));
        put("G15", FormatText("%1.3f", {StageSetPoint(true, 2, dy)}));
        put("K15", FormatText("%1.3f", {StageSetPoint(true, 3, dy)}));
        put("C24", QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy  hh:mm")));
        putTyped("L21", FormatText("/ %18s /", {data.Fields.TestedBy}));
        putTyped("L24", FormatText("/ %18s /", {data.Fields.VerifiedBy}));

        // The meter row of the template and its cell objects, which move
        // down with it as copies are inserted above.
        const SheetCell first = app->Cells(17, 1);
        const SheetCell last = app->Cells(17, 15);

        const int np = int(run.Meters.size());
        for (int n = 1; n <= np; ++n) {
            const ProtocolRun::Meter& meter = run.Meters[std::size_t(n - 1)];
            const int row = 16 + n;
            app->SetValue(app->Cells(row, 1), QString::number(n));
            app->SetValue(app->Cells(row, 2), FormatText("%d", {meter.Serial}));
            for (int k = 1; k <= ProtocolRun::kStages; ++k) {
                const ReferenceEntries& ref = run.Stages[std::size_t(k - 1)];
                const int pulses = meter.Pulses[std::size_t(k - 1)];
                // A missing or zero TIMER ends the output here.
                const double w = MeterPulseWeight(dy, ReferenceFlow(ref));
                const long double reference = (long double)ref.Pulses * ref.PulseWeight;
                const long double meterVolume = (long double)pulses * w;
                app->SetValue(app->Cells(row, 4 * k - 1), FormatText("%1.3f", {double(reference)}));
                app->SetValue(app->Cells(row, 4 * k), FormatText("%1.3f", {double(pulses)}));
                app->SetValue(app->Cells(row, 4 * k + 1), FormatText("%1.3f", {double(meterVolume)}));
            }
            if (n < np) {
                app->CopyEntireRow(first, last);
                app->InsertEntireRow(first, last);
            }
        }

        app->SetVisible(true);
        writingFile = true;
        app->Save();
        if (!SyncFile(work) || !MayReplace(path) || !PutInPlace(work, path))
            UnableToWrite(path);
        writingFile = false;
        app->WorkbookMoved(path);
        app->Release();
        RemoveWorkingCopy(work);  // the office is gone: what it left there
        return true;
    } catch (const ESpreadsheetUnavailable& e) {
        unavailable = true;
        qWarning().noquote() << "protocol" << path << "not written:" << e.text();
    } catch (const AppError& e) {
        qWarning().noquote() << "protocol" << path << "not written:" << e.text();
    } catch (const std::exception& e) {
        qWarning().noquote() << "protocol" << path << "not written:" << e.what();
    }

    cursor.Restore();
    ShowMessage(MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK);
    if (unavailable)
        ShowMessage(MsgKind::Information,
                    QStringLiteral("Протокол не заполнен: на компьютере нет табличного приложения (%1).")
                        .arg(SpreadsheetAppNames()),
                    mbOK);
    if (writingFile)
        ShowStandardError(EIniFileException::unableToWrite(path));
    if (app) {
        if (opened) {
            try {
                app->CloseWorkbookWithoutSaving();
            } catch (const std::exception&) {
            }
        }
        try {
            app->Quit();
        } catch (const std::exception&) {
        }
    }
    // The office is gone by now and writes to the copy no more.
    app.reset();
    RemoveWorkingCopy(work);
    return false;
}

bool WriteVerificationProtocol(const ProgramSettings& settings, const ProtocolFields& fields, const RunState& run)
{
    if (RefuseWhileProtocolWritten())
        return false;
    ProtocolData data;
    data.RepNo = settings.RepNo;
    data.DiameterIndex = run.Meters.DiameterIndex;
    data.Serials = run.Meters.Serials;
    const QString session =
        run.SessionFileName.isEmpty() ? QString::fromUtf8(kVerificationSessionFile) : run.SessionFileName;
    data.SessionFile = AppPaths::file(session);
    data.Fields = fields;
    const ProtocolRun reading = ReadProtocolRun(run.Meters.Count, data);

    QString path;
    try {
        path = PrepareProtocolFile(QDateTime::currentDateTime(), settings.RepNo);
    } catch (const ETemplateUnreadable& e) {
        ShowMessage(MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK);
        ShowMessage(MsgKind::Error, e.text(), mbOK);
        return false;
    } catch (const AppError& e) {
        // No protocol file to fill: the office is not started for nothing.
        ShowStandardError(e);
        return false;
    }

    return WriteProtocolWorkbook(path, reading, data);
}
