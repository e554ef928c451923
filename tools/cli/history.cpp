#include "history.h"

#include "app_paths.h"
#include "journal.h"
#include "journal_kinds.h"
#include "journal_store.h"

#include <QFile>
#include <QJsonDocument>

#include <cstdio>

namespace {

// Exit statuses as zrm-cli's.
constexpr int kSuccess = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// Long enough for the last entries after a command; a journal that cannot be
// written has been reported by then.
constexpr int kFlushWaitMs = 5000;

void Print(FILE* to, const QString& text)
{
    std::fputs(text.toUtf8().constData(), to);
}

QString JournalPath()
{
    return AppPaths::file(QString::fromLatin1(kJournalFileName));
}

}  // namespace

int RunHistory(const QStringList& args, const QString& since, bool json)
{
    bool ok = false;
    const int serial = args.size() == 1 ? args[0].toInt(&ok) : -1;
    if (!ok || serial < 0 || serial > 65535) {
        Print(stderr, QStringLiteral("zrm-cli: history needs one serial number (0..65535)\n"));
        return kUsage;
    }
    JournalFilter filter;
    filter.serial = serial;
    if (!since.isEmpty()) {
        filter.from = QDate::fromString(since, QStringLiteral("yyyy-MM-dd"));
        if (!filter.from.isValid()) {
            Print(stderr, QStringLiteral("zrm-cli: --since needs a date YYYY-MM-DD\n"));
            return kUsage;
        }
    }
    JournalStore store(JournalPath());
    if (!store.OpenForReading()) {
        if (!QFile::exists(JournalPath()))
            return kSuccess;  // nothing was done yet: no entries
        Print(stderr, QStringLiteral("Сканер ЗРМ: ") + store.Error() + QLatin1Char('\n'));
        return kFailed;
    }
    for (const JournalEntry& e : store.Query(filter)) {
        if (json) {
            QJsonObject o;
            o.insert(QStringLiteral("id"), double(e.id));
            o.insert(QStringLiteral("utc"), e.utc.toString(Qt::ISODateWithMs));
            o.insert(QStringLiteral("local"), e.local);
            o.insert(QStringLiteral("host"), e.host);
            o.insert(QStringLiteral("user"), e.user);
            o.insert(QStringLiteral("variant"), e.variant);
            o.insert(QStringLiteral("version"), e.version);
            o.insert(QStringLiteral("port"), e.port);
            o.insert(QStringLiteral("serial"), e.serial);
            o.insert(QStringLiteral("kind"), e.kind);
            o.insert(QStringLiteral("ok"), e.ok);
            o.insert(QStringLiteral("message"), e.message);
            o.insert(QStringLiteral("data"), e.data);
            Print(stdout, QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        } else {
            QString message = e.message;
            message.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
            Print(stdout, e.local + QLatin1Char('\t') + JournalKindTitle(e.kind) + QLatin1Char('\t') +
                              (e.ok ? QStringLiteral("выполнено") : QStringLiteral("ошибка")) + QLatin1Char('\t') +
                              e.variant + QLatin1Char(' ') + e.user + QLatin1Char('@') + e.host + QLatin1Char('\t') +
                              message + QLatin1Char('\n'));
        }
    }
    return kSuccess;
}

void StartCliJournal(const QString& version)
{
    Journal::SetUnavailableNotice([](const QString& text) {
        Print(stderr, QStringLiteral("Сканер ЗРМ: ") + text + QLatin1Char('\n'));
    });
    Journal::Start(JournalPath(), QStringLiteral("cli"), version);
}

void StopCliJournal()
{
    Journal::Flush(kFlushWaitMs, true);
    Journal::Stop();
    Journal::SetUnavailableNotice(nullptr);
}
