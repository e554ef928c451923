#include "editor_texts.h"

#include "diameter_defaults.h"
#include "errors.h"
#include "messages.h"
#include "number_text.h"

#include <cfloat>
#include <cmath>

QString ConfigValueText(double v)
{
    return FormatFloat("%1.6f", v);
}

EditorTexts EditorTextsOf(SerialNumber serial, const DeviceConfig& config)
{
    EditorTexts t;
    t.Serial = QString::number(serial);
    for (int n = 0; n < kConfigValueCount; ++n)
        t.Values[std::size_t(n)] = ConfigValueText(double(config.Value(n)));
    return t;
}

int MatchDiameter(double dy)
{
    for (int i = 0; i < kDiameterCount; ++i)
        if (std::fabs(dy - DiameterDefaults[0][i]) < 0.0001)
            return i;
    return -1;
}

namespace {

enum class Rule { NotEmpty, Positive };

struct ValueCheck {
    Rule rule;
    const char* message;
};

// By value number. The coefficients and MainCal may be zero or negative.
const ValueCheck kValueChecks[kConfigValueCount] = {
    {Rule::Positive, "Проверте правильность ввода Ду"},
    {Rule::Positive, "Проверте правильность ввода ВЕСА ИМПУЛЬСА"},
    {Rule::NotEmpty, "Проверте правильность ввода K0"},
    {Rule::NotEmpty, "Проверте правильность ввода K1"},
    {Rule::NotEmpty, "Проверте правильность ввода K2"},
    {Rule::NotEmpty, "Проверте правильность ввода K3"},
    {Rule::NotEmpty, "Проверте правильность ввода K4"},
    {Rule::Positive, "Проверте правильность ввода FL0"},
    {Rule::Positive, "Проверте правильность ввода FL1"},
    {Rule::Positive, "Проверте правильность ввода FL2"},
    {Rule::Positive, "Проверте правильность ввода FL3"},
    {Rule::Positive, "Проверте правильность ввода FL4"},
    {Rule::NotEmpty, "Проверте правильность ввода MAINCAL"},
};

float ToSingle(const QString& text)
{
    const double v = StrToFloat(text);
    // The meter stores single precision; a value that rounds beyond its
    // largest number would go out as infinity.
    if (std::fabs(v) >= double(FLT_MAX) + std::ldexp(1.0, 103))
        throw AppError(QStringLiteral("Floating point overflow"));
    return float(v);
}

}  // namespace

QString FirstWriteCheckFailure(const EditorTexts& texts)
{
    const int serial = StrToInt(texts.Serial);
    if (serial < 1 || serial > 65535)
        return QStringLiteral("Проверте правильность ввода серийного номера");
    for (int n = 0; n < kConfigValueCount; ++n) {
        const QString& text = texts.Values[std::size_t(n)];
        const ValueCheck& check = kValueChecks[n];
        // Empty is judged before any conversion: an empty field gets its
        // message, not a conversion error.
        if (text.isEmpty() || (check.rule == Rule::Positive && StrToFloat(text) <= 0))
            return QString::fromUtf8(check.message);
    }
    return QString();
}

void EditedConfig::ApplyTo(DeviceConfig& c) const
{
    for (int n = 0; n < kConfigValueCount; ++n)
        c.SetValue(n, Values[std::size_t(n)]);
}

EditedConfig ConvertEditorTexts(const EditorTexts& texts)
{
    EditedConfig e;
    e.Serial = static_cast<SerialNumber>(StrToInt(texts.Serial));
    for (int n = 0; n < kConfigValueCount; ++n)
        e.Values[std::size_t(n)] = ToSingle(texts.Values[std::size_t(n)]);
    return e;
}

WriteApproval ApproveConfigWrite(const EditorTexts& texts)
{
    const QString failure = FirstWriteCheckFailure(texts);
    if (!failure.isEmpty()) {
        ShowMessage(MsgKind::Error, failure, mbOK);
        return WriteApproval::CheckFailed;
    }
    // The coefficients pass the check unconverted; converting everything
    // here means a field that is no number is reported while the user can
    // still mend it, and never after the configuration was half changed.
    ConvertEditorTexts(texts);
    if (ShowMessage(MsgKind::Confirmation, QStringLiteral("Вы уверены что хотите записать параметры?"),
                    mbOK | mbCancel) != ModalResult::Ok)
        return WriteApproval::Declined;
    return WriteApproval::Approved;
}
