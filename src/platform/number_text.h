#pragma once
// Numbers as the user sees them: printf-style formats rendered exactly, with
// the decimal separator of the user's locale (QLocale::system()); and text to
// number with the program's own rules and error texts.

#include <QChar>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <variant>

// The user's decimal separator ("," under ru_RU, "." in the C locale).
QChar DecimalSeparator();

// One argument of FormatText.
using FormatArg = std::variant<long long, double, QString>;

// Renders a printf-style format ("%1.6f", "%3.3f", "%.5d", "%-5d",
// "№ %-5d %03.3f", "%s") exactly as C's printf would, then puts the user's
// decimal separator into the real-number conversions only (literal text keeps
// its dots). Conversions: d i u x X (long long), f F e E g G (double), s
// (QString), c (long long code point), %%; flags - 0 + space #; width and
// precision, also as *; length modifiers l, ll, L are accepted and ignored.
// Widths of s and c count characters. A bad format, a missing, extra or
// mismatched argument, or a width/precision above 4096 throws EConvertError
// ("Format '%s' invalid or incompatible with argument" or
// "No argument for format '%s'").
QString FormatText(const char* format, std::initializer_list<FormatArg> args);
inline QString FormatFloat(const char* format, double v) { return FormatText(format, {v}); }

// Integer text: optional blanks before, optional sign, decimal digits, or
// hexadecimal after "$" or "0x"; nothing after; must fit in 32 bits (decimal:
// the int range; hexadecimal: any 32-bit pattern, "$FFFFFFFF" is -1, since a
// hex text names bits).
bool TryStrToInt(const QString& s, int& out);
int StrToIntDef(const QString& s, int def);
// Throws EConvertError "'%s' is not a valid integer value".
int StrToInt(const QString& s);

// Real text with the user's decimal separator: optional blanks around,
// optional sign, digits with at most one separator, optional exponent.
// No thousands separators, "inf" or "nan"; beyond the double range is
// invalid, an underflow reads as 0.
bool TryStrToFloat(const QString& s, double& out);
// Throws EConvertError "'%s' is not a valid floating point value".
double StrToFloat(const QString& s);

// Shortest general form with up to 15 significant digits, user's separator;
// exponent form below 1E-4 and from 1E15 on, written 1E-5, 1,5E20.
// NAN, INF and -INF for the special values.
QString FloatToStr(double v);
