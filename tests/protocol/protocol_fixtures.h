#pragma once
// What the protocol tests share: a verification state file written the way
// the wizard writes it, the expected values of a meter row, and reading a
// saved workbook back through the office itself (CSV export) so that a test
// sees what a user would see, numbers apart from texts.

#include "number_text.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

// One stage's bench entries and the meters' pulse counts.
struct StageInput {
    QString Timer;        // TIMER, as typed (user's decimal separator)
    QString PulseWeight;  // VES_ETALON
    int RefPulses = 0;    // IMP_ETALON
    std::vector<int> MeterPulses;  // CALTAB<n>_IMP_DUZR, n = 1..
};

struct VerificationRun {
    int DiameterIndex = 4;
    std::vector<int> Serials;      // SNDEVTAB DEV<n>
    StageInput Stages[3];
};

// Ду 50: stage 1 at 34.8 m3/h (full pulse weight), stages 2 and 3 below
// Qmax/10 (a quarter of it). Meter 2 is 2.5 % high at Qt1.
VerificationRun SampleRun(int meters);

// Writes "Poverka.ini" in the wizard's key order.
void WriteSessionFile(const QString& path, const VerificationRun& run, int calStep = 3);

// What the meter row of meter n holds, per stage: reference volume (l),
// meter pulses, meter volume (l) and the error (percent) the sheet's formula
// should compute from them.
struct ExpectedRow {
    double Reference[3];
    double Pulses[3];
    double Meter[3];
    double Error[3];
};
ExpectedRow ExpectedMeterRow(const VerificationRun& run, int n);

// A cell read back: its text as shown, and whether it holds text (the
// export quotes text cells) rather than a number.
struct ReadCell {
    QString Text;
    bool IsText = false;
};
using ReadSheet = QList<QList<ReadCell>>;

// The cell at "A1"-style coordinates, empty past the end.
ReadCell At(const ReadSheet& sheet, const char* cell);
ReadCell At(const ReadSheet& sheet, int row, int column);  // 1-based

// Exports the first sheet of each workbook to CSV with the office (one
// start for all) and parses it. Numbers come back with a '.' separator.
QList<ReadSheet> ReadWorkbooks(const QStringList& paths, const QString& workDir);

// Every *.xls under dir, recursively, sorted.
QStringList FindWorkbooks(const QString& dir);
