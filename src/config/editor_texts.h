#pragma once
// The configuration as the editor holds it: fourteen texts (the serial number
// and the thirteen values), and the rules that turn them into a configuration
// to write. No widgets here.

#include "frames.h"

#include <QString>

#include <array>

struct EditorTexts {
    QString Serial;
    std::array<QString, kConfigValueCount> Values;  // by value number: Dy, Ves, K0..K4, FL0..FL4, MainCal

    bool operator==(const EditorTexts&) const = default;
};

// A value as the program writes it into a field: "%1.6f", user's separator.
QString ConfigValueText(double v);

// The fourteen texts of a configuration read from a meter.
EditorTexts EditorTextsOf(SerialNumber serial, const DeviceConfig& config);

// The first of the ten nominal diameters (column order) closer than 0.0001
// to dy, or -1.
int MatchDiameter(double dy);

// The checks before a write, in their order: the message of the first that
// fails, or an empty string when all pass. A text the check converts and that
// is no number throws EConvertError, as the conversion does.
QString FirstWriteCheckFailure(const EditorTexts& texts);

struct EditedConfig {
    SerialNumber Serial = 0;
    std::array<float, kConfigValueCount> Values{};

    // Replaces the thirteen values of c; its tail bytes stay.
    void ApplyTo(DeviceConfig& c) const;
};

// All fourteen texts converted, or an exception and nothing: EConvertError
// for a text that is no number, AppError "Floating point overflow" for a
// value beyond single precision.
EditedConfig ConvertEditorTexts(const EditorTexts& texts);

enum class WriteApproval { CheckFailed, Declined, Approved };

// The steps before a write, in the editor's order: the first failing check
// shown in an error box; every text converted, so a text that is no number
// throws as ConvertEditorTexts does before anything is asked; then the
// question "Вы уверены что хотите записать параметры?" (OK, Cancel).
WriteApproval ApproveConfigWrite(const EditorTexts& texts);
