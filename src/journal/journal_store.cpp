#include "journal_store.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

const char* const kJournalFileName = "journal.sqlite";

namespace {

// SQLite's primary result codes the store tells apart.
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADatabase = 26;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteIoError = 10;

// Long enough for another process's batch; an operation never waits for it,
// only the background writer does.
constexpr int kBusyTimeoutMs = 10000;

QAtomicInteger<quint64> g_connections;

// The steps from one version to the next: step i brings version i to i + 1.
// Version 1 kept no local time and had no index by meter; version 2 adds
// both, the local time taken from the UTC one by SQLite's own clock rules.
const std::vector<std::vector<const char*>> kMigrations = {
    {
        "CREATE TABLE entries(id INTEGER PRIMARY KEY AUTOINCREMENT, utc TEXT NOT NULL, host TEXT NOT NULL, "
        "user TEXT NOT NULL, variant TEXT NOT NULL, version TEXT NOT NULL, port TEXT NOT NULL, serial INTEGER, "
        "kind TEXT NOT NULL, ok INTEGER NOT NULL, message TEXT NOT NULL, data TEXT NOT NULL)",
        "CREATE INDEX entries_utc ON entries(utc)",
    },
    {
        "ALTER TABLE entries ADD COLUMN local TEXT NOT NULL DEFAULT ''",
        "UPDATE entries SET local = datetime(utc, 'localtime')",
        "CREATE INDEX entries_serial_utc ON entries(serial, utc)",
    },
};
static_assert(JournalStore::kSchemaVersion == 2, "a new version needs its migration step");

QString UtcText(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

// NOT NULL columns take an empty text, never a null one.
QVariant Text(const QString& s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

int PrimaryCode(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xFF) : 0;
}

}  // namespace

JournalStore::JournalStore(const QString& path)
    : m_path(path), m_connection(QStringLiteral("journal-%1").arg(++g_connections))
{
}

JournalStore::~JournalStore()
{
    Close();
}

QString JournalStore::SetAsideName(const QString& path, const QDateTime& when)
{
    const QFileInfo f(path);
    return f.dir().filePath(f.completeBaseName() + QStringLiteral("-damaged-") +
                            when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QLatin1Char('.') + f.suffix());
}

void JournalStore::Close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_open = false;
}

bool JournalStore::Fail(const QString& what, const QSqlError& e)
{
    m_lastCode = PrimaryCode(e);
    QString why;
    switch (m_lastCode) {
    case kSqliteReadOnly:
    case kSqliteCantOpen:
        why = QStringLiteral("нет права записи в папку или файл журнала");
        break;
    case kSqliteFull:
        why = QStringLiteral("диск заполнен");
        break;
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        why = QStringLiteral("файл журнала повреждён");
        break;
    case kSqliteIoError:
        why = QStringLiteral("ошибка чтения или записи диска");
        break;
    default:
        why = e.text();
    }
    m_error = what + QStringLiteral(": ") + why + QStringLiteral(" (") + QDir::toNativeSeparators(m_path) +
              QLatin1Char(')');
    return false;
}

bool JournalStore::Damaged() const
{
    return m_lastCode == kSqliteCorrupt || m_lastCode == kSqliteNotADatabase;
}

bool JournalStore::LoadDriver()
{
    return QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"));
}

bool JournalStore::OpenConnection(bool readOnly)
{
    Close();
    if (!LoadDriver()) {
        m_lastCode = 0;
        m_error = QStringLiteral("нет драйвера SQLite (QSQLITE) для Qt");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                             .arg(kBusyTimeoutMs)
                             .arg(readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!db.open())
        return Fail(QStringLiteral("Не удалось открыть журнал"), db.lastError());
    m_open = true;
    return true;
}

bool JournalStore::OpenForReading()
{
    if (!QFileInfo(m_path).isFile())
        return false;
    if (!OpenConnection(true))
        return false;
    int version = 0;
    {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            Fail(QStringLiteral("Не удалось прочитать журнал"), q.lastError());
        else if ((version = q.value(0).toInt()) < 1)
            m_error = QStringLiteral("журнал пуст");
    }
    // The connection goes only once no query of it is left.
    if (version < 1)
        Close();
    return version >= 1;
}

bool JournalStore::Open()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (OpenConnection(false) && Prepare() && Migrate())
            return true;
        const bool damaged = Damaged();
        Close();
        if (!damaged || !SetAside())
            return false;
    }
    return false;
}

bool JournalStore::SetAside()
{
    const QString aside = SetAsideName(m_path, QDateTime::currentDateTime());
    // The write-ahead log belongs to the damaged file: it goes with it, or
    // SQLite would replay it into the new one.
    for (const char* part : {"", "-wal", "-shm"}) {
        const QString from = m_path + QLatin1String(part);
        if (QFileInfo::exists(from) && !QFile::rename(from, aside + QLatin1String(part))) {
            m_error = QStringLiteral("Файл журнала повреждён и не может быть переименован (") +
                      QDir::toNativeSeparators(from) + QLatin1Char(')');
            return false;
        }
    }
    m_setAside = aside;
    return true;
}

bool JournalStore::Prepare()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    // WAL: readers never block the writer, and a commit is one append.
    // FULL: the append is on the disk when the commit returns.
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
        if (!q.exec(QString::fromLatin1(pragma)))
            return Fail(QStringLiteral("Не удалось открыть журнал"), q.lastError());
    }
    return true;
}

bool JournalStore::Migrate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    auto version = [&q](int& v) {
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            return false;
        v = q.value(0).toInt();
        return true;
    };
    int v = 0;
    if (!version(v))
        return Fail(QStringLiteral("Не удалось прочитать журнал"), q.lastError());
    if (v == kSchemaVersion)
        return true;
    if (v > kSchemaVersion) {
        m_lastCode = 0;
        m_error = QStringLiteral("журнал ведёт более новая версия программы (схема %1, эта программа знает %2): ")
                      .arg(v)
                      .arg(kSchemaVersion) +
                  QDir::toNativeSeparators(m_path);
        return false;
    }
    // Another process may be migrating the same file: the write lock first,
    // then the version read again under it.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(QStringLiteral("Не удалось обновить журнал"), q.lastError());
    bool ok = version(v);
    for (; ok && v < kSchemaVersion; ++v)
        for (const char* statement : kMigrations[std::size_t(v)])
            ok = ok && q.exec(QString::fromLatin1(statement));
    ok = ok && q.exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion)) &&
         q.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        const QSqlError e = q.lastError();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return Fail(QStringLiteral("Не удалось обновить журнал"), e);
    }
    return true;
}

bool JournalStore::WriteBatch(std::vector<JournalEntry>& entries)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Fail(QStringLiteral("Не удалось записать в журнал"), q.lastError());
    QSqlQuery insert(db);
    QSqlError error;
    bool ok = insert.prepare(QStringLiteral(
        "INSERT INTO entries(utc, local, host, user, variant, version, port, serial, kind, ok, message, data) "
        "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    if (!ok)
        error = insert.lastError();
    for (JournalEntry& e : entries) {
        if (!ok)
            break;
        insert.addBindValue(UtcText(e.utc));
        insert.addBindValue(Text(e.local));
        insert.addBindValue(Text(e.host));
        insert.addBindValue(Text(e.user));
        insert.addBindValue(Text(e.variant));
        insert.addBindValue(Text(e.version));
        insert.addBindValue(Text(e.port));
        insert.addBindValue(e.serial < 0 ? QVariant() : QVariant(e.serial));
        insert.addBindValue(Text(e.kind));
        insert.addBindValue(e.ok ? 1 : 0);
        insert.addBindValue(Text(e.message));
        insert.addBindValue(QString::fromUtf8(QJsonDocument(e.data).toJson(QJsonDocument::Compact)));
        ok = insert.exec();
        if (ok)
            e.id = insert.lastInsertId().toLongLong();
        else
            error = insert.lastError();
    }
    if (ok && !q.exec(QStringLiteral("COMMIT"))) {
        ok = false;
        error = q.lastError();
    }
    if (ok)
        return true;
    insert.finish();
    q.exec(QStringLiteral("ROLLBACK"));
    return Fail(QStringLiteral("Не удалось записать в журнал"), error);
}

bool JournalStore::Append(std::vector<JournalEntry>& entries)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!m_open && !Open())
            return false;
        if (WriteBatch(entries))
            return true;
        const bool damaged = Damaged();
        Close();
        if (!damaged || !SetAside())
            return false;
    }
    return false;
}

std::vector<JournalEntry> JournalStore::Query(const JournalFilter& f)
{
    std::vector<JournalEntry> out;
    if (!m_open)
        return out;
    QString sql = QStringLiteral("SELECT id, utc, local, host, user, variant, version, port, serial, kind, ok, "
                                 "message, data FROM entries WHERE 1");
    QVariantList binds;
    if (f.serial >= 0) {
        sql += QStringLiteral(" AND serial = ?");
        binds << f.serial;
    }
    QDateTime since = f.sinceUtc;
    if (!f.from.isNull()) {
        const QDateTime from = f.from.startOfDay();
        if (since.isNull() || from > since)
            since = from;
    }
    if (!since.isNull()) {
        sql += QStringLiteral(" AND utc >= ?");
        binds << UtcText(since);
    }
    if (!f.to.isNull()) {
        sql += QStringLiteral(" AND utc < ?");
        binds << UtcText(f.to.addDays(1).startOfDay());
    }
    if (!f.kind.isEmpty()) {
        sql += QStringLiteral(" AND kind = ?");
        binds << f.kind;
    }
    sql += QStringLiteral(" ORDER BY utc DESC, id DESC");
    if (f.limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(f.limit);

    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        Fail(QStringLiteral("Не удалось прочитать журнал"), q.lastError());
        return out;
    }
    for (const QVariant& b : binds)
        q.addBindValue(b);
    if (!q.exec()) {
        Fail(QStringLiteral("Не удалось прочитать журнал"), q.lastError());
        return out;
    }
    while (q.next()) {
        JournalEntry e;
        e.id = q.value(0).toLongLong();
        e.utc = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
        e.local = q.value(2).toString();
        e.host = q.value(3).toString();
        e.user = q.value(4).toString();
        e.variant = q.value(5).toString();
        e.version = q.value(6).toString();
        e.port = q.value(7).toString();
        e.serial = q.value(8).isNull() ? -1 : q.value(8).toInt();
        e.kind = q.value(9).toString();
        e.ok = q.value(10).toInt() != 0;
        e.message = q.value(11).toString();
        e.data = QJsonDocument::fromJson(q.value(12).toString().toUtf8()).object();
        out.push_back(std::move(e));
    }
    return out;
}
