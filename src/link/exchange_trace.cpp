#include "exchange_trace.h"

#include "file_access.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <memory>
#include <utility>

const char* const kTraceEnvironmentVariable = "ZRM_TRACE";

namespace {

std::function<void(const QByteArray&)> g_sink;

}  // namespace

QByteArray TraceLine(const QDateTime& time, TraceDirection direction, const uint8_t* bytes, int count)
{
    QByteArray line = time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
    line += direction == TraceDirection::Sent ? " ->" : " <-";
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
    }
    return line;
}

void SetTraceSink(std::function<void(const QByteArray&)> sink)
{
    g_sink = std::move(sink);
}

bool TraceOn()
{
    return bool(g_sink);
}

void TraceFrame(TraceDirection direction, const uint8_t* bytes, int count)
{
    if (g_sink)
        g_sink(TraceLine(QDateTime::currentDateTime(), direction, bytes, count));
}

void TraceReply(const QByteArray& reply)
{
    if (!reply.isEmpty())
        TraceFrame(TraceDirection::Received, reinterpret_cast<const uint8_t*>(reply.constData()), int(reply.size()));
}

void TraceToStandardError()
{
    SetTraceSink([](const QByteArray& line) {
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
    });
}

namespace {

// The file behind the trace, rolled over at its limit. A write that fails
// (a full disk) ends the trace, said once on standard error: the exchange it
// records goes on.
class TraceFile {
public:
    TraceFile(QString path, qint64 limit) : m_path(std::move(path)), m_limit(limit) {}

    QString Open()
    {
        const QString problem = OpenForAppend(m_path, m_file);
        m_size = problem.isEmpty() ? m_file.size() : 0;
        return problem;
    }

    void Write(const QByteArray& line)
    {
        if (!m_file.isOpen())
            return;
        const QByteArray bytes = line + '\n';
        if (m_size > 0 && m_size + bytes.size() > m_limit && !Roll())
            return;
        if (m_file.write(bytes) != bytes.size()) {
            Stop(m_file.errorString());
            return;
        }
        m_size += bytes.size();
    }

private:
    bool Roll()
    {
        m_file.close();
        const QString previous = m_path + QStringLiteral(".1");
        QFile::remove(previous);
        QFile::rename(m_path, previous);
        const QString problem = Open();
        if (!problem.isEmpty())
            Stop(problem);
        return problem.isEmpty();
    }

    void Stop(const QString& why)
    {
        m_file.close();
        std::fprintf(stderr, "%s: %s: %s\n", kTraceEnvironmentVariable, m_path.toLocal8Bit().constData(),
                     why.toLocal8Bit().constData());
    }

    QString m_path;
    qint64 m_limit;
    QFile m_file;
    qint64 m_size = 0;
};

}  // namespace

QString TraceToFile(const QString& path, qint64 limit)
{
    auto file = std::make_shared<TraceFile>(path, limit);
    const QString problem = file->Open();
    if (problem.isEmpty())
        SetTraceSink([file](const QByteArray& line) { file->Write(line); });
    return problem;
}

QString TraceToFileFromEnvironment()
{
    const QString path = qEnvironmentVariable(kTraceEnvironmentVariable);
    if (path.isEmpty())
        return {};
    const QString problem = TraceToFile(path);
    if (problem.isEmpty())
        return {};
    return QStringLiteral("Обмен с приборами не записывается: файл %1=%2 не открыт (%3).")
        .arg(QString::fromLatin1(kTraceEnvironmentVariable), QDir::toNativeSeparators(path), problem);
}
