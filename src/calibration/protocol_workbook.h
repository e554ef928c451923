#pragma once
// The verification protocol: a copy of the template "Протокол поверки.xls"
// filed under Protocols/<year> г./<month>/<day>/ beside the executable and
// filled through spreadsheet automation (office/spreadsheet_app.h) from
// the protocol fields dialog and the verification state file "Poverka.ini".

#include "coefficients.h"
#include "errors.h"
#include "frames.h"
#include "installed_meters.h"
#include "program_settings.h"
#include "run_state.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <vector>

// The texts of the protocol fields dialog (TForm6), as they stand.
struct ProtocolFields {
    QString Modification;      // ComboBox1, "Модификация ЗРМ"
    QString WaterTemperature;  // Edit1, "Температура воды, C"
    QString Pressure;          // Edit2, "Атмосферное давление"
    QString TestedBy;          // Edit3, "Испытал Ф.И.О."
    QString VerifiedBy;        // Edit4, "Поверил Ф.И.О."
};

// What the protocol takes from the state file, read once: the windows stay
// usable while the office works, and a stage saved again meanwhile must not
// reach half of the protocol.
struct ProtocolRun {
    static constexpr int kStages = 3;
    struct Meter {
        int Serial = 0;
        std::array<int, kStages> Pulses{};  // CALTAB<n>_IMP_DUZR of STEP1..3
    };
    std::array<ReferenceEntries, kStages> Stages{};  // STEP1..3
    std::vector<Meter> Meters;                       // 1..np
};

// Everything WriteProtocolWorkbook reads besides the target and NP.
struct ProtocolData {
    int RepNo = 1;          // REPNO, already advanced by the fields dialog
    int DiameterIndex = 0;  // DYINDEX, 0..9
    // Meter n's serial number when "DEV"n of SNDEVTAB is missing.
    std::array<SerialNumber, InstalledMeterList::kMaxMeters> Serials{};
    QString SessionFile;    // full path of "Poverka.ini"
    ProtocolFields Fields;
};

// The template could not be read: no protocol can be made, and the user is
// told which file to see to.
class ETemplateUnreadable : public AppError {
public:
    using AppError::AppError;
};

// The template beside the executable.
extern const char* const kProtocolTemplate;  // "Протокол поверки.xls"

// The month as the dated directory names it: the locale's stand-alone full
// name with a capital letter ("Декабрь" under ru_RU, "December" in C).
QString ProtocolMonthName(int month);

// directory/Protocols/<yyyy> г./<month>/<dd>/<hh>_<mm> Протокол № <%.5d>.xls
QString ProtocolFilePath(const QString& directory, const QDateTime& when, int repNo);

// The preparation: builds the dated path in the program's directory, creates
// the directories one level at a time, asks before replacing an existing
// file ("Файл <path>уже существует, заменить его?", Yes/No; No keeps the
// file as it is) and copies the template. The copy goes to a hidden file
// beside the target and replaces it in one step once it is whole on the
// disk, so an earlier protocol stays as it was until then. A template that
// cannot be read throws ETemplateUnreadable naming it; a copy that cannot be
// made (a full disk, a read-only directory or file) throws EIniFileException
// "Unable to write to <path>". Either leaves nothing behind. Returns the
// target path.
QString PrepareProtocolFile(const QDateTime& when, int repNo);

// Fills the workbook at path: the header cells, then meters 1..np in rows
// 17..16+np from the state file, the template's row 17 copied for every
// meter but the last; saves it and hands it to the user. The office works
// on a copy in a hidden directory beside path, which replaces path only
// once saved, so a failure on the way (a full disk, the office killed)
// leaves path as it was. Any failure (no spreadsheet application, a workbook that does not
// open, a stage whose TIMER is missing or zero, ...) shows "Ошибка вывода
// данных", closes the workbook unsaved, quits the application and removes
// the copy with its directory; returns false then. A failure to write the protocol's file (the
// copy, the save, putting it in place) adds the standard error box "Unable
// to write to <path>". The windows stay responsive meanwhile, under a wait
// cursor; a call made while a protocol is being written returns false at once.
bool WriteProtocolWorkbook(const QString& path, int np, const ProtocolData& data);
// The same, from a reading taken beforehand (ReadProtocolRun).
bool WriteProtocolWorkbook(const QString& path, const ProtocolRun& run, const ProtocolData& data);
// Meters 1..np of the state file data.SessionFile, serial numbers missing
// there taken from data.Serials.
ProtocolRun ReadProtocolRun(int np, const ProtocolData& data);

// True while WriteProtocolWorkbook runs.
bool ProtocolBeingWritten();
// While a protocol is being written: says so ("Протокол поверки ещё
// заполняется...") and returns true; false otherwise.
bool RefuseWhileProtocolWritten();

// The end of a verification run after the fields dialog returned OK: the
// preparation, then WriteProtocolWorkbook with the run's meters, diameter
// and state file (run.SessionFileName, "Poverka.ini" when empty) and the
// report number in settings, the state file read once before anything else
// (a box on the way lets the wizard change it). True when the protocol was saved. A
// preparation that fails ends here, before any office is started: an
// unreadable template with "Ошибка вывода данных" and a box naming the
// template, any other failure with its "Unable to write to <path>" in the
// standard error box. Called while a protocol is still being written it only
// says so and returns false.
bool WriteVerificationProtocol(const ProgramSettings& settings, const ProtocolFields& fields, const RunState& run);
