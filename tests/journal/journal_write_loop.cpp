// Writes journal entries for the journal tests: `path serial count` writes
// count entries of that serial number (0: until killed), and after each one
// is on the disk prints its number.

#include "journal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int serial = QByteArray(argv[2]).toInt();
    const long long count = QByteArray(argv[3]).toLongLong();
    Journal::SetUnavailableNotice([](const QString& text) { std::fprintf(stderr, "%s\n", text.toUtf8().constData()); });
    Journal::Start(path, QStringLiteral("cli"), QStringLiteral("test"));
    for (long long n = 1; count == 0 || n <= count; ++n) {
        JournalEntry e;
        e.kind = QStringLiteral("state_read");
        e.serial = serial;
        e.data.insert(QStringLiteral("n"), double(n));
        Journal::Record(e);
        if (count == 0) {
            if (!Journal::Flush(30000))
                return 1;
            std::printf("%lld\n", n);
            std::fflush(stdout);
        }
    }
    const bool written = Journal::Flush(60000);
    Journal::Stop();
    return written ? 0 : 1;
}
