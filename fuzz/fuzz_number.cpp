// Number text: integer and real conversion of arbitrary text (as UTF-8 and as
// Windows-1251 bytes, the way an INI value arrives), and formatting of the
// value found. A value read must format and read back to itself.

#include "errors.h"
#include "fuzz_common.h"
#include "number_text.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    EnsureApplication();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));

    int i = 0;
    const bool isInt = TryStrToInt(text, i);
    try {
        FUZZ_CHECK(StrToInt(text) == i && isInt);
    } catch (const EConvertError&) {
        FUZZ_CHECK(!isInt);
    }
    FUZZ_CHECK(StrToIntDef(text, 7) == (isInt ? i : 7));
    if (isInt)
        FUZZ_CHECK(StrToInt(QString::number(i)) == i);

    double d = 0;
    const bool isFloat = TryStrToFloat(text, d);
    try {
        const double v = StrToFloat(text);
        FUZZ_CHECK(isFloat && (v == d || (std::isnan(v) && std::isnan(d))));
    } catch (const EConvertError&) {
        FUZZ_CHECK(!isFloat);
    }
    if (isFloat) {
        FUZZ_CHECK(std::isfinite(d));
        // The program's own output is valid input: FloatToStr keeps 15
        // significant digits, so the value comes back within that.
        double back = 0;
        FUZZ_CHECK(TryStrToFloat(FloatToStr(d), back));
        FUZZ_CHECK(back == d || std::fabs(back - d) <= std::fabs(d) * 1e-14);
        const QString fixed = FormatFloat("%1.6f", d);
        FUZZ_CHECK(TryStrToFloat(fixed, back));
        FUZZ_CHECK(std::fabs(back - d) <= 5e-7 + std::fabs(d) * 1e-15);
        FormatText("%3.3f", {d});
        FormatText("%e", {d});
        FormatText("%g", {d});
    }

    // The same bytes as a format string: only the documented error may come out.
    if (size <= 256) {
        QByteArray format(reinterpret_cast<const char*>(data), qsizetype(size));
        try {
            FormatText(format.constData(), {1.5, 42LL, QStringLiteral("x")});
        } catch (const EConvertError&) {
        }
        try {
            FormatText(format.constData(), {});
        } catch (const EConvertError&) {
        }
    }
    return 0;
}
