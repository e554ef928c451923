#include "errors.h"

#include <utility>

AppError::AppError(QString text)
    : m_text(std::move(text))
    , m_utf8(m_text.toStdString())
{
}

// The texts are fixed, word for word: users and the service notes quote
// them in fault reports.
EConvertError EConvertError::invalidInteger(const QString& s)
{
    return EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(s));
}

EConvertError EConvertError::invalidFloat(const QString& s)
{
    return EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(s));
}

EIniFileException EIniFileException::unableToWrite(const QString& path)
{
    return EIniFileException(QStringLiteral("Unable to write to %1").arg(path));
}

EZeroDivide::EZeroDivide()
    : AppError(QStringLiteral("Floating point division by zero"))
{
}
