#include "link_journal.h"

#include "device_link.h"
#include "journal.h"
#include "journal_kinds.h"

#include <QJsonValue>

#include <cmath>
#include <map>
#include <memory>

namespace {

QJsonValue Number(float v)
{
    return std::isfinite(v) ? QJsonValue(double(v)) : QJsonValue();
}

JournalEntry EntryOf(const LinkOperation& op, std::map<SerialNumber, DeviceConfig>& lastRead)
{
    JournalEntry e;
    e.port = op.port;
    e.serial = op.serial;
    e.ok = op.ok;
    e.message = op.message;
    const QString origin = JournalOrigin::Current();
    if (!origin.isEmpty())
        e.data.insert(QStringLiteral("origin"), origin);
    switch (op.kind) {
    case LinkOperation::Identify:
        e.kind = JournalKind::LinkTest;
        if (op.ok)
            e.data.insert(QStringLiteral("found"), int(op.found));
        break;
    case LinkOperation::ReadState:
        e.kind = JournalKind::StateRead;
        if (op.ok) {
            e.data.insert(QStringLiteral("flow"), Number(op.state.FlowRate));
            e.data.insert(QStringLiteral("counter"), double(op.state.VolumeCounter));
            e.data.insert(QStringLiteral("hours"), Number(op.state.OperatingHours));
            const auto known = lastRead.find(op.serial);
            if (known != lastRead.end())
                e.data.insert(QStringLiteral("volume"),
                              double(op.state.VolumeCounter) / VolumeScale(known->second.Dy));
        }
        break;
    case LinkOperation::ReadConfig:
        e.kind = JournalKind::ConfigRead;
        if (op.ok) {
            e.data.insert(QStringLiteral("config"), ConfigJson(op.config));
            lastRead[op.serial] = op.config;
        }
        break;
    case LinkOperation::WriteConfig: {
        e.kind = origin == QLatin1String("calibration") ? JournalKind::CoefWrite : JournalKind::ConfigWrite;
        const auto known = lastRead.find(op.serial);
        if (known != lastRead.end())
            e.data.insert(QStringLiteral("before"), ConfigJson(known->second));
        e.data.insert(QStringLiteral("after"), ConfigJson(op.config));
        e.data.insert(QStringLiteral("new_serial"), int(op.newSerial));
        // A refusal by the meter is a reply; silence or a garbled reply is not.
        e.data.insert(QStringLiteral("accepted"), op.ok);
        e.data.insert(QStringLiteral("replied"), op.replied);
        if (op.ok) {
            lastRead.erase(op.serial);
            lastRead[op.newSerial] = op.config;
        }
        break;
    }
    case LinkOperation::ResetCounter:
        e.kind = JournalKind::CounterReset;
        break;
    }
    return e;
}

}  // namespace

void JournalLinkOperations(DeviceLink& link)
{
    auto lastRead = std::make_shared<std::map<SerialNumber, DeviceConfig>>();
    link.OnOperation = [lastRead](const LinkOperation& op) { Journal::Record(EntryOf(op, *lastRead)); };
}
