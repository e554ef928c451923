#include "reading_lines.h"

#include "number_text.h"

QStringList StateLines(const DeviceState& state, int volumeScale)
{
    return {
        FormatText("Расход м3/ч\t %3.3f", {double(state.FlowRate)}),
        FormatText("Объем, м3\t%3.3f", {double(state.VolumeCounter) / volumeScale}),
        FormatText("Наработка, ч\t%3.3f", {double(state.OperatingHours)}),
    };
}

QStringList ConfigLines(const DeviceConfig& config, bool userMode)
{
    QStringList lines = {
        FormatText("Dy, м          \t%3.3f", {double(config.Dy)}),
        FormatText("Вес вых имп.   \t%3.3f", {double(config.Ves)}),
    };
    if (userMode)
        return lines;
    // The К of K0..K4 is Cyrillic.
    const char* const coefficientLines[] = {"К0       \t%3.6f", "К1       \t%3.6f", "К2       \t%3.6f",
                                            "К3       \t%3.6f", "К4       \t%3.6f", "FL0      \t%3.6f",
                                            "FL1      \t%3.6f", "FL2      \t%3.6f", "FL3      \t%3.6f",
                                            "FL4      \t%3.6f", "MainCal  \t%3.6f"};
    for (int i = 0; i < 11; ++i)
        lines << FormatText(coefficientLines[i], {double(config.Value(i + 2))});
    return lines;
}
