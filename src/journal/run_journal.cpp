#include "run_journal.h"

#include "app_paths.h"
#include "coefficients.h"
#include "errors.h"
#include "journal.h"
#include "journal_kinds.h"
#include "number_text.h"

#include <QFileInfo>
#include <QJsonArray>

namespace {

QString Mode(const RunState& run)
{
    return run.VerificationMode ? QStringLiteral("verification") : QStringLiteral("calibration");
}

int MeterCount(const RunState& run)
{
    return qBound(0, run.Meters.Count, InstalledMeterList::kMaxMeters);
}

double Number(const QString& text)
{
    double v = 0;
    return TryStrToFloat(text, v) ? v : 0;
}

// The entry of the run's i-th meter, before the kind's data.
JournalEntry MeterEntry(const QString& kind, const RunState& run, int i, const QString& port, bool ok,
                        const QString& message)
{
    JournalEntry e;
    e.kind = kind;
    e.port = port;
    e.serial = run.Meters.Serials[std::size_t(i)];
    e.ok = ok;
    e.message = message;
    return e;
}

}  // namespace

namespace {

void RecordStage(const RunState& run, const QString& port, const StageEntries& s, bool ok, const QString& message)
{
    for (int i = 0; i < MeterCount(run); ++i) {
        JournalEntry e = MeterEntry(JournalKind::Stage, run, i, port, ok, message);
        e.data.insert(QStringLiteral("mode"), Mode(run));
        e.data.insert(QStringLiteral("stage"), run.CalStep);
        e.data.insert(QStringLiteral("diameter_index"), run.Meters.DiameterIndex);
        e.data.insert(QStringLiteral("timer"), s.Timer);
        e.data.insert(QStringLiteral("ref_pulse_weight"), s.RefPulseWeight);
        e.data.insert(QStringLiteral("ref_pulses"), s.RefPulses);
        e.data.insert(QStringLiteral("pulses"), s.MeterPulses[std::size_t(i)]);
        e.data.insert(QStringLiteral("error"), s.Errors[std::size_t(i)]);
        if (ok && !run.VerificationMode)
            e.data.insert(QStringLiteral("config"), ConfigJson(run.Meters.Configs[std::size_t(i)]));
        Journal::Record(e);
    }
}

}  // namespace

void JournalStage(const RunState& run, const QString& port, const std::function<void()>& compute,
                  const std::function<StageEntries()>& entries)
{
    try {
        compute();
    } catch (const AppError& e) {
        RecordStage(run, port, entries(), false, e.text());
        throw;
    }
    RecordStage(run, port, entries(), true, QString());
}

void JournalProtocol(bool saved, const QDateTime& started, int repNo, const ProtocolFields& fields,
                     const RunState& run, const QString& port, const QString& message)
{
    // The protocol names its file by the minute it began in.
    QString path;
    const QDateTime now = QDateTime::currentDateTime();
    for (QDateTime t = started; path.isEmpty() && t <= now.addSecs(60); t = t.addSecs(60)) {
        const QString candidate = ProtocolFilePath(AppPaths::directory(), t, repNo);
        if (QFileInfo(candidate).isFile())
            path = candidate;
    }

    const QString session = AppPaths::file(run.SessionFileName.isEmpty() ? QString::fromUtf8(kVerificationSessionFile)
                                                                         : run.SessionFileName);
    InstalledMeterList meters;
    RunState stored(meters);
    std::vector<StageEntries> stages;
    for (int k = 1; k <= run.StageCount; ++k) {
        StageEntries s;
        try {
            LoadSessionFile(session, k, run.StageCount, stored, s);
        } catch (const AppError&) {
        }
        stages.push_back(s);
    }

    for (int i = 0; i < MeterCount(run); ++i) {
        JournalEntry e = MeterEntry(JournalKind::Protocol, run, i, port, saved, message);
        e.data.insert(QStringLiteral("path"), path);
        e.data.insert(QStringLiteral("report"), repNo);
        e.data.insert(QStringLiteral("tested_by"), fields.TestedBy);
        e.data.insert(QStringLiteral("verified_by"), fields.VerifiedBy);
        e.data.insert(QStringLiteral("modification"), fields.Modification);
        QJsonArray perStage;
        for (std::size_t k = 0; k < stages.size(); ++k) {
            const StageEntries& s = stages[k];
            ReferenceEntries ref;
            ref.Pulses = int32_t(Number(s.RefPulses));
            ref.PulseWeight = Number(s.RefPulseWeight);
            ref.Seconds = Number(s.Timer);
            const double pulses = Number(s.MeterPulses[std::size_t(i)]);
            QJsonObject o;
            o.insert(QStringLiteral("stage"), int(k + 1));
            o.insert(QStringLiteral("reference_volume"), ref.Pulses * ref.PulseWeight);
            o.insert(QStringLiteral("pulses"), pulses);
            try {
                o.insert(QStringLiteral("meter_volume"),
                         pulses * MeterPulseWeight(run.Meters.DiameterIndex, ReferenceFlow(ref)));
            } catch (...) {
                // no time or no diameter: the protocol had no volume either
            }
            o.insert(QStringLiteral("error"), s.Errors[std::size_t(i)]);
            perStage.append(o);
        }
        e.data.insert(QStringLiteral("stages"), perStage);
        Journal::Record(e);
    }
}
