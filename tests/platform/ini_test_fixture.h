#pragma once
// The INI tests' fixture: a fresh directory, raw file bytes in and out, and
// the refusal the INI service gives.

#include "errors.h"
#include "ini_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

// Literal bytes, NULs included.
template <std::size_t N>
QByteArray B(const char (&s)[N])
{
    return QByteArray(s, qsizetype(N - 1));
}

inline QString U(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A table row prints as its name, so a failure says which row.
template <class Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class IniTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString& name = "Settings.ini") const { return m_dir.filePath(name); }

    static void put(const QString& file, const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }

    static QByteArray get(const QString& file)
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll();
    }

    // Everything in the directory, hidden files (the temporaries) included.
    QStringList entries(const QString& dir = {}) const
    {
        return QDir(dir.isEmpty() ? m_dir.path() : dir)
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    static void expectUnableToWrite(const std::function<void()>& write, const QString& file)
    {
        try {
            write();
            ADD_FAILURE() << "the write was not refused";
        } catch (const EIniFileException& e) {
            EXPECT_EQ(e.text(), "Unable to write to " + file);
        }
    }

    QTemporaryDir m_dir;
};

// A hand-written Settings.ini: CRLF, Windows-1251 Cyrillic, a comment, blank
// lines, a line without '=', a lone-LF line, another section, spaced keys.
inline const QByteArray kSettings = B(
    "; \xcd\xe0\xf1\xf2\xf0\xee\xe9\xea\xe8\r\n"                       // "; Настройки"
    "[CONFIG]\r\n"
    "COM=COM1\r\n"
    "REPNO = 7 \r\n"
    "FIO1=\xc8\xe2\xe0\xed\xee\xe2 \xc8.\xc8.\r\n"                    // Иванов И.И.
    "FIO2=\r\n"
    "\r\n"
    "[DEVICE_CFG]\n"
    "Dy=0,015000\r\n"
    "a line without equals\r\n"
    "\r\n");
