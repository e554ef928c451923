#include "exchange_trace.h"

#include <QFile>

#include <cstdio>
#include <memory>

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

bool TraceToFile(const QString& path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    SetTraceSink([file](const QByteArray& line) { file->write(line + '\n'); });
    return true;
}

void TraceToFileFromEnvironment()
{
    const QString path = qEnvironmentVariable(kTraceEnvironmentVariable);
    if (path.isEmpty())
        return;
    if (!TraceToFile(path))
        std::fprintf(stderr, "%s: cannot open %s\n", kTraceEnvironmentVariable, path.toLocal8Bit().constData());
}
