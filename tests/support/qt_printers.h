#pragma once
// Readable GoogleTest failure messages for Qt strings and byte arrays.

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    static const char hex[] = "0123456789abcdef";
    *os << '"';
    for (const char c : b) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f && u != '\\' && u != '"')
            *os << c;
        else if (u == '\r')
            *os << "\\r";
        else if (u == '\n')
            *os << "\\n";
        else
            *os << "\\x" << hex[u >> 4] << hex[u & 15];
    }
    *os << '"';
}
