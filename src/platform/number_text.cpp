#include "number_text.h"

#include "c_locale.h"
#include "errors.h"

#include <QLocale>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

template <typename... Args>
std::string cFormat(const std::string& conversion, Args... args)
{
    CLocaleScope scope;
    char small[256];
    const int n = std::snprintf(small, sizeof small, conversion.c_str(), args...);
    if (n < 0)
        throw AppError(QStringLiteral("Format '%1' invalid or incompatible with argument")
                           .arg(QString::fromUtf8(conversion)));
    if (std::size_t(n) < sizeof small)
        return std::string(small, std::size_t(n));
    std::string big(std::size_t(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), conversion.c_str(), args...);
    big.resize(std::size_t(n));
    return big;
}

bool isBlank(QChar c)
{
    return c == u' ';
}

int asciiDigit(QChar c)
{
    const char16_t u = c.unicode();
    return u >= u'0' && u <= u'9' ? int(u - u'0') : -1;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return int(u - u'0');
    if (u >= u'a' && u <= u'f')
        return int(u - u'a' + 10);
    if (u >= u'A' && u <= u'F')
        return int(u - u'A' + 10);
    return -1;
}

// Widths and precisions beyond this are mistakes, not layouts; refusing them
// keeps a stray "%999999999d" from allocating gigabytes.
constexpr int kMaxWidth = 4096;

[[noreturn]] void invalidFormat(const char* format)
{
    throw EConvertError(QStringLiteral("Format '%1' invalid or incompatible with argument")
                            .arg(QString::fromUtf8(format)));
}

[[noreturn]] void missingArgument(const char* format)
{
    throw EConvertError(QStringLiteral("No argument for format '%1'").arg(QString::fromUtf8(format)));
}

qsizetype codePointCount(const QString& s)
{
    qsizetype n = 0;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (!(s.at(i).isLowSurrogate() && i > 0 && s.at(i - 1).isHighSurrogate()))
            ++n;
    return n;
}

QString leftCodePoints(const QString& s, qsizetype count)
{
    qsizetype i = 0;
    for (qsizetype n = 0; i < s.size() && n < count; ++n) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            i += 2;
        else
            ++i;
    }
    return s.left(i);
}

QString pad(const QString& s, int width, bool left)
{
    const qsizetype have = codePointCount(s);
    if (width <= have)
        return s;
    const QString fill(width - have, QLatin1Char(' '));
    return left ? s + fill : fill + s;
}

} // namespace

QChar DecimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

QString FormatText(const char* format, std::initializer_list<FormatArg> args)
{
    if (!format)
        throw EConvertError(QStringLiteral("Format '' invalid or incompatible with argument"));

    const std::string_view fmt(format);
    const QChar separator = DecimalSeparator();
    auto next = args.begin();
    QString out;

    auto takeArg = [&]() -> const FormatArg& {
        if (next == args.end())
            missingArgument(format);
        return *next++;
    };
    auto takeInteger = [&]() -> long long {
        const FormatArg& a = takeArg();
        if (!std::holds_alternative<long long>(a))
            invalidFormat(format);
        return std::get<long long>(a);
    };

    std::size_t i = 0;
    std::size_t literal = 0;
    const std::size_t n = fmt.size();
    while (i < n) {
        if (fmt[i] != '%') {
            ++i;
            continue;
        }
        out += QString::fromUtf8(fmt.data() + literal, qsizetype(i - literal));
        ++i;
        if (i < n && fmt[i] == '%') {
            out += QLatin1Char('%');
            literal = ++i;
            continue;
        }

        std::string flags;
        while (i < n && std::strchr("-0+ #", fmt[i]) && fmt[i] != '\0') {
            if (flags.find(fmt[i]) == std::string::npos)
                flags += fmt[i];
            ++i;
        }

        int width = -1;
        if (i < n && fmt[i] == '*') {
            long long w = takeInteger();
            if (w < 0) {
                if (flags.find('-') == std::string::npos)
                    flags += '-';
                w = -w;
            }
            if (w > kMaxWidth)
                invalidFormat(format);
            width = int(w);
            ++i;
        } else {
            while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                width = (width < 0 ? 0 : width) * 10 + (fmt[i] - '0');
                if (width > kMaxWidth)
                    invalidFormat(format);
                ++i;
            }
        }

        int precision = -1;
        if (i < n && fmt[i] == '.') {
            ++i;
            if (i < n && fmt[i] == '*') {
                const long long p = takeInteger();
                if (p > kMaxWidth)
                    invalidFormat(format);
                precision = p < 0 ? -1 : int(p);  // negative: as if omitted
                ++i;
            } else {
                precision = 0;
                while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
                    precision = precision * 10 + (fmt[i] - '0');
                    if (precision > kMaxWidth)
                        invalidFormat(format);
                    ++i;
                }
            }
        }

        // "l", "ll" and "L" change nothing: integers are already 64-bit and
        // reals double. Other length modifiers would narrow: refused below.
        if (i < n && fmt[i] == 'l') {
            ++i;
            if (i < n && fmt[i] == 'l')
                ++i;
        } else if (i < n && fmt[i] == 'L') {
            ++i;
        }

        if (i >= n)
            invalidFormat(format);
        const char conv = fmt[i++];
        literal = i;

        std::string conversion = "%" + flags;
        if (width >= 0)
            conversion += std::to_string(width);
        if (precision >= 0)
            conversion += "." + std::to_string(precision);

        switch (conv) {
        case 'd':
        case 'i': {
            const long long v = takeInteger();
            out += QString::fromStdString(cFormat(conversion + "lld", v));
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            const long long v = takeInteger();
            out += QString::fromStdString(cFormat(conversion + "ll" + conv, static_cast<unsigned long long>(v)));
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            const FormatArg& a = takeArg();
            if (!std::holds_alternative<double>(a))
                invalidFormat(format);
            QString text = QString::fromStdString(cFormat(conversion + conv, std::get<double>(a)));
            const qsizetype dot = text.indexOf(QLatin1Char('.'));
            if (dot >= 0)
                text[dot] = separator;
            out += text;
            break;
        }
        case 's':
        case 'c': {
            // Only '-' means something for text; the other flags are
            // undefined for it in C and are refused rather than guessed at.
            if (flags.find_first_not_of('-') != std::string::npos)
                invalidFormat(format);
            QString text;
            if (conv == 's') {
                const FormatArg& a = takeArg();
                if (!std::holds_alternative<QString>(a))
                    invalidFormat(format);
                text = std::get<QString>(a);
                if (precision >= 0)
                    text = leftCodePoints(text, precision);
            } else {
                if (precision >= 0)
                    invalidFormat(format);
                const long long code = takeInteger();
                if (code < 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                    invalidFormat(format);
                const char32_t c = char32_t(code);
                text = QString::fromUcs4(&c, 1);
            }
            // Widths count characters, not UTF-8 bytes: a Cyrillic name pads
            // to the same column as a Latin one.
            out += pad(text, width, !flags.empty());
            break;
        }
        default:
            invalidFormat(format);
        }
    }
    out += QString::fromUtf8(fmt.data() + literal, qsizetype(n - literal));

    if (next != args.end())
        invalidFormat(format);  // an argument left over is a caller's mistake
    return out;
}

bool TryStrToInt(const QString& s, int& out)
{
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n && isBlank(s.at(i)))
        ++i;
    bool negative = false;
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-')) {
        negative = s.at(i) == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && s.at(i) == u'$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && s.at(i) == u'0' && (s.at(i + 1) == u'x' || s.at(i + 1) == u'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return false;

    // Hexadecimal covers the full 32-bit pattern ("$FFFFFFFF" is -1): a hex
    // text names bits, not a magnitude; decimal must fit a signed 32-bit integer.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    std::uint64_t v = 0;
    for (; i < n; ++i) {
        const int d = hex ? hexDigit(s.at(i)) : asciiDigit(s.at(i));
        if (d < 0)
            return false;
        v = v * (hex ? 16 : 10) + std::uint64_t(d);
        if (v > limit)
            return false;
    }
    std::uint32_t bits = std::uint32_t(v);
    if (negative)
        bits = 0u - bits;
    out = std::int32_t(bits);
    return true;
}

int StrToIntDef(const QString& s, int def)
{
    int v = 0;
    return TryStrToInt(s, v) ? v : def;
}

int StrToInt(const QString& s)
{
    int v = 0;
    if (!TryStrToInt(s, v))
        throw EConvertError::invalidInteger(s);
    return v;
}

bool TryStrToFloat(const QString& s, double& out)
{
    const QChar separator = DecimalSeparator();
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;

    // Rebuilt as plain C text, checked character by character, so strtod
    // never sees anything it would read differently (hex floats, "inf",
    // "nan", the thread's own locale).
    std::string c;
    c.reserve(std::size_t(end - begin) + 1);
    qsizetype i = begin;
    if (i < end && (s.at(i) == u'+' || s.at(i) == u'-'))
        c += char(s.at(i++).unicode());
    int mantissaDigits = 0;
    bool seenSeparator = false;
    for (; i < end; ++i) {
        const QChar ch = s.at(i);
        if (asciiDigit(ch) >= 0) {
            c += char(ch.unicode());
            ++mantissaDigits;
        } else if (ch == separator && !seenSeparator) {
            c += '.';
            seenSeparator = true;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < end && (s.at(i) == u'e' || s.at(i) == u'E')) {
        c += 'e';
        ++i;
        if (i < end && (s.at(i) == u'+' || s.at(i) == u'-'))
            c += char(s.at(i++).unicode());
        int exponentDigits = 0;
        for (; i < end && asciiDigit(s.at(i)) >= 0; ++i, ++exponentDigits)
            c += char(s.at(i).unicode());
        if (exponentDigits == 0)
            return false;
    }
    if (i != end)
        return false;

    char* stop = nullptr;
    double v = 0;
    {
        CLocaleScope scope;
        v = std::strtod(c.c_str(), &stop);
    }
    if (stop != c.c_str() + c.size() || !std::isfinite(v))
        return false;  // beyond the range of a double
    out = v;           // an underflow reads as zero or a denormal
    return true;
}

double StrToFloat(const QString& s)
{
    double v = 0;
    if (!TryStrToFloat(s, v))
        throw EConvertError::invalidFloat(s);
    return v;
}

QString FloatToStr(double v)
{
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (v == 0)
        return QStringLiteral("0");  // also for -0

    // "%.15g" switches to the exponent form at the points the program's
    // general format does (exponent below -4 or at least 15); only the
    // exponent is spelt the program's way: 1E20 and 1E-5, not 1e+20 and 1e-05.
    const std::string g = cFormat("%.15g", v);
    QString text;
    const std::size_t e = g.find('e');
    if (e == std::string::npos) {
        text = QString::fromStdString(g);
    } else {
        std::string exponent = g.substr(e + 1);
        std::string sign;
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
            if (exponent[0] == '-')
                sign = "-";
            exponent.erase(0, 1);
        }
        const std::size_t firstNonZero = exponent.find_first_not_of('0');
        exponent = firstNonZero == std::string::npos ? "0" : exponent.substr(firstNonZero);
        text = QString::fromStdString(g.substr(0, e) + "E" + sign + exponent);
    }
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        text[dot] = DecimalSeparator();
    return text;
}
