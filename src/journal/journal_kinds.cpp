#include "journal_kinds.h"

#include "errors.h"
#include "journal.h"

#include <QJsonArray>

#include <array>
#include <cmath>

namespace {

struct KindTitle {
    const QString& kind;
    const char* title;
};

const KindTitle kTitles[] = {
    {JournalKind::LinkTest, "Проверка связи"},
    {JournalKind::StateRead, "Чтение параметров"},
    {JournalKind::ConfigRead, "Чтение конфигурации"},
    {JournalKind::ConfigWrite, "Запись конфигурации"},
    {JournalKind::CoefWrite, "Запись коэффициентов калибровки"},
    {JournalKind::CounterReset, "Сброс счётчика"},
    {JournalKind::CoefSaved, "Сохранение файла .coef"},
    {JournalKind::CoefLoaded, "Загрузка файла .coef"},
    {JournalKind::Stage, "Этап калибровки/поверки"},
    {JournalKind::Protocol, "Протокол поверки"},
};

}  // namespace

QStringList JournalKinds()
{
    QStringList kinds;
    for (const KindTitle& t : kTitles)
        kinds << t.kind;
    return kinds;
}

QString JournalKindTitle(const QString& kind)
{
    for (const KindTitle& t : kTitles)
        if (t.kind == kind)
            return QString::fromUtf8(t.title);
    return kind;
}

QJsonObject ConfigJson(const DeviceConfig& c)
{
    QJsonObject o;
    for (int i = 0; i < kConfigValueCount; ++i) {
        const double v = c.Value(i);
        // JSON has no NaN or infinity; the bytes keep them anyway.
        o.insert(QString::fromLatin1(kConfigValueKeys[std::size_t(i)]), std::isfinite(v) ? QJsonValue(v) : QJsonValue());
    }
    std::array<uint8_t, kDeviceConfigLength> bytes{};
    EncodeDeviceConfig(c, bytes.data());
    o.insert(QStringLiteral("bytes"),
             QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())).toHex()));
    return o;
}

std::optional<DeviceConfig> ConfigFromJson(const QJsonObject& o)
{
    const QByteArray bytes = QByteArray::fromHex(o.value(QStringLiteral("bytes")).toString().toLatin1());
    if (bytes.size() != kDeviceConfigLength)
        return std::nullopt;
    return DecodeDeviceConfig(reinterpret_cast<const uint8_t*>(bytes.constData()));
}

std::optional<DeviceConfig> EntryConfig(const JournalEntry& e)
{
    if (!e.ok && e.kind == JournalKind::ConfigRead)
        return std::nullopt;
    if (e.kind == JournalKind::ConfigRead)
        return ConfigFromJson(e.data.value(QStringLiteral("config")).toObject());
    if (e.kind == JournalKind::ConfigWrite || e.kind == JournalKind::CoefWrite)
        return ConfigFromJson(e.data.value(QStringLiteral("before")).toObject());
    return std::nullopt;
}

void JournalCoefFile(const QString& kind, const QString& path, const QString& serialText,
                     const std::function<void()>& action)
{
    JournalEntry e;
    e.kind = kind;
    bool isNumber = false;
    const int serial = serialText.trimmed().toInt(&isNumber);
    e.serial = isNumber && serial >= 0 && serial <= 65535 ? serial : -1;
    e.data.insert(QStringLiteral("path"), path);
    try {
        action();
    } catch (const AppError& error) {
        e.ok = false;
        e.message = error.text();
        Journal::Record(e);
        throw;
    }
    Journal::Record(e);
}
