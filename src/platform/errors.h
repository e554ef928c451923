#pragma once
// Errors that escape a UI handler. The handler wrapper (handler.h) ends the
// handler and shows text() in the standard error box, so a bad entry costs
// the one command, never the program.

#include <QString>

#include <exception>
#include <string>

class AppError : public std::exception {
public:
    explicit AppError(QString text);
    const QString& text() const { return m_text; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_text;
    std::string m_utf8;
};

// A text that is not a number: "'%s' is not a valid integer value" and
// "'%s' is not a valid floating point value".
class EConvertError : public AppError {
public:
    using AppError::AppError;
    static EConvertError invalidInteger(const QString& s);
    static EConvertError invalidFloat(const QString& s);
};

// An INI write that did not reach the disk: "Unable to write to %s".
class EIniFileException : public AppError {
public:
    using AppError::AppError;
    static EIniFileException unableToWrite(const QString& path);
};

// "Floating point division by zero".
class EZeroDivide : public AppError {
public:
    EZeroDivide();
};
