#include "wizard_window.h"

#include "app_paths.h"
#include "coefficients.h"
#include "device_link.h"
#include "errors.h"
#include "handler.h"
#include "journal.h"
#include "number_text.h"
#include "protocol_workbook.h"
#include "run_journal.h"
#include "spreadsheet_app.h"
#include "stages.h"
#include "window_behaviour.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QHideEvent>
#include <QShowEvent>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>

namespace {

constexpr int kParGridRows = 16;

const char* const kParGridLabels[kParGridRows] = {
    "",    "Имп. ДУЗР", "Погр.[%]", "Dy",  "Вес", "K0",  "K1",  "K2",
    "K3",  "K4",        "FL0",      "FL1", "FL2", "FL3", "FL4", "MainCal",
};

const char* const kStagePointer = "  ->>>";

const char* const kCalibrationResume =
    "Предыдущий сеанс калибровки не был завершен. Для продолжения сеанса нажмите \"Yes\". Или \"NO\" для "
    "запуска калибровки заново, при этом данные предыдущей калибровки будут уничтожены";
const char* const kVerificationResume =
    "Предыдущий сеанс поверки не был завершен. Для продолжения сеанса нажмите \"Yes\". Или \"NO\" для "
    "запуска калибровки заново, при этом данные предыдущей калибровки будут уничтожены";

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// A cell of a string grid: fixed row 0 (when fixedRow) and fixed column 0
// are real cells, shaded and read-only; cell (col, row) is item(row, col).
QTableWidgetItem* GridCell(QTableWidget* grid, int col, int row, bool fixed, Qt::ItemFlags flags)
{
    QTableWidgetItem* item = grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, col, item);
    }
    if (fixed) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(QApplication::palette().color(QPalette::Button));
    } else {
        item->setFlags(flags);
    }
    return item;
}

QString GridText(const QTableWidget* grid, int col, int row)
{
    const QTableWidgetItem* item = grid->item(row, col);
    return item ? item->text() : QString();
}

// Disables the wizard's buttons while the meters are written and restores
// them however the write ends: a click meanwhile would start a second
// exchange while the first waits for its reply.
class ButtonsLocked {
public:
    explicit ButtonsLocked(std::initializer_list<QPushButton*> buttons)
    {
        for (QPushButton* b : buttons) {
            m_saved.push_back({b, b->isEnabled()});
            b->setEnabled(false);
        }
    }
    ~ButtonsLocked()
    {
        for (const auto& [button, enabled] : m_saved)
            button->setEnabled(enabled);
    }
    ButtonsLocked(const ButtonsLocked&) = delete;
    ButtonsLocked& operator=(const ButtonsLocked&) = delete;

private:
    std::vector<std::pair<QPushButton*, bool>> m_saved;
};

} // namespace

TForm3::TForm3(DeviceLink& link, QWidget* parent)
    : QDialog(parent), m_link(link), m_run(CurrentRun())
{
    IgnoreEscape(this);  // the stage's typed entries stay
    BuildControls();
}

TForm3::~TForm3() = default;

// The controls, their captions and layout are in wizard_window.ui; here the
// grids' rows and cells, the sizes that follow the font, the style's icons
// and the handlers.
void TForm3::BuildControls()
{
    setupUi(this);

    const std::pair<QPushButton*, QStyle::StandardPixmap> icons[] = {
        {BitBtn4, QStyle::SP_DialogApplyButton},
        {BitBtn2, QStyle::SP_ArrowLeft},
        {BitBtn3, QStyle::SP_ArrowRight},
        {BitBtn1, QStyle::SP_MediaPlay},
    };
    for (const auto& [button, glyph] : icons)
        button->setIcon(style()->standardIcon(glyph));

    ParGrid->setRowCount(kParGridRows);
    SetParGridColumns(InstalledMeterList::kMaxMeters);  // six meters at design time

    FLGRID->setRowCount(m_run.StageCount);
    FLGRID->setFixedWidth(2 * 100 + 2 * FLGRID->frameWidth() + 4);

    QFont big = Label6->font();
    big.setPointSizeF(big.pointSizeF() * 1.2);
    for (QLabel* l : {Label5, Label6, Label3, Label4})
        l->setFont(big);
    const QFontMetrics metrics(big);
    Label6->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("0000,000 м3/ч")));
    Label4->setMinimumWidth(metrics.horizontalAdvance(QStringLiteral("5 выполнено 5")));

    const std::pair<QPushButton*, void (TForm3::*)()> clicks[] = {
        {BitBtn1, &TForm3::BitBtn1Click},
        {BitBtn2, &TForm3::BitBtn2Click},
        {BitBtn3, &TForm3::BitBtn3Click},
        {BitBtn4, &TForm3::BitBtn4Click},
    };
    for (const auto& [button, handler] : clicks)
        connect(button, &QPushButton::clicked, this,
                [this, handler = handler] { RunHandler([this, handler] { (this->*handler)(); }); });
}

QString TForm3::SessionPath() const
{
    return AppPaths::file(m_run.SessionFileName);
}

bool TForm3::ParGridSelectCell(int /*col*/, int row) const
{
    return row < 2;
}

void TForm3::SetParGridColumns(int meters)
{
    ParGrid->setColumnCount(qBound(0, meters, InstalledMeterList::kMaxMeters) + 1);
    for (int row = 0; row < kParGridRows; ++row)
        for (int col = 0; col < ParGrid->columnCount(); ++col) {
            const bool fixed = row == 0 || col == 0;
            Qt::ItemFlags flags = Qt::ItemIsEnabled;
            if (ParGridSelectCell(col, row))
                flags |= Qt::ItemIsSelectable | Qt::ItemIsEditable;
            GridCell(ParGrid, col, row, fixed, flags);
        }
}

QString TForm3::ParCell(int col, int row) const
{
    return GridText(ParGrid, col, row);
}

void TForm3::SetParCell(int col, int row, const QString& text)
{
    if (col < ParGrid->columnCount() && row < ParGrid->rowCount())
        ParGrid->item(row, col)->setText(text);
}

StageEntries TForm3::EntriesFromControls() const
{
    StageEntries e;
    e.Timer = Edit11->text();
    e.RefPulseWeight = Edit2->text();
    e.RefPulses = Edit3->text();
    for (int n = 1; n <= kSessionMeters; ++n) {
        e.MeterPulses[std::size_t(n - 1)] = ParCell(n, 1);
        e.Errors[std::size_t(n - 1)] = ParCell(n, 2);
    }
    return e;
}

void TForm3::EntriesToControls(const StageEntries& e)
{
    Edit11->setText(e.Timer);
    Edit2->setText(e.RefPulseWeight);
    Edit3->setText(e.RefPulses);
    for (int n = 1; n < ParGrid->columnCount(); ++n) {
        SetParCell(n, 1, e.MeterPulses[std::size_t(n - 1)]);
        SetParCell(n, 2, e.Errors[std::size_t(n - 1)]);
    }
}

void TForm3::ShowStageIndicator()
{
    Label4->setText(FormatText("%d выполнено %d", {(long long)m_run.CalStep, (long long)m_run.MaxCalStep}));
    BitBtn2->setEnabled(m_run.CalStep > 0);
    BitBtn3->setEnabled(m_run.CalStep < m_run.MaxCalStep);
}

void TForm3::StartMode(bool verification)
{
    // The open run keeps its file, mode, stages and meters until the new one
    // really starts: a question or a dialog cancelled on the way changes
    // nothing, and the open run's next save still goes into its own file.
    const QString name = Text(verification ? kVerificationSessionFile : kCalibrationSessionFile);
    const QString path = AppPaths::file(name);

    if (!QFileInfo::exists(path)) {
        EnterNewRun({verification, name, false});
        return;
    }

    switch (ShowMessage(MsgKind::Warning, Text(verification ? kVerificationResume : kCalibrationResume),
                        mbYes | mbNo | mbCancel)) {
    case ModalResult::Yes: {
        // A file a run cannot hold is refused here, before the wizard could
        // save over it; it stays as it is and "No" still starts anew.
        const QString problem = SessionFileProblem(path, StageCountFor(verification), m_run);
        if (!problem.isEmpty()) {
            ShowMessage(MsgKind::Error, problem);
            return;
        }
        m_pending = PendingRun{verification, name, true};
        ShowWizard();
        break;
    }
    case ModalResult::No:
        // Poverka.ini is read by a protocol being filled: not deleted under it.
        if (verification && RefuseWhileProtocolWritten())
            return;
        if (!QFile::remove(path) && QFileInfo::exists(path))
            throw AppError(QStringLiteral("Не удалось удалить файл %1").arg(path));
        EnterNewRun({verification, name, false});
        break;
    default:
        break;
    }
}

void TForm3::EnterNewRun(const PendingRun& run)
{
    // The installed-meter dialog stores its entries before it tests the
    // meters; an open run whose successor does not start keeps its own.
    const bool runOpen = isVisible();
    const InstalledMeterList meters = m_run.Meters;
    m_pending = run;
    if (ShowInstalledMeters)
        ShowInstalledMeters();
    const bool started = !m_pending;
    m_pending.reset();
    if (!started && runOpen)
        m_run.Meters = meters;
}

void TForm3::ShowWizard()
{
    if (m_pending) {
        // The new run begins here, and only here.
        m_run.SessionFileName = m_pending->fileName;
        m_run.VerificationMode = m_pending->verification;
        Tag = m_pending->resume ? 1 : 0;
        m_pending.reset();
    }
    // Show() on an open window would not run FormShow: the grid would keep
    // the previous run's columns while the mode and file changed under it.
    if (isVisible())
        hide();
    show();
    raise();
    activateWindow();
}

void TForm3::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    // A wizard closed before its protocol needs no office.
    if (!event->spontaneous())
        CoolDownSpreadsheetApp();
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    CentreOnScreen(*this);
    RunHandler([this] { FormShow(); });
}

void TForm3::FormShow()
{
    if (m_run.VerificationMode) {
        setWindowTitle(QStringLiteral("Поверка"));
        m_run.StageCount = kVerificationStages;
    } else {
        setWindowTitle(QStringLiteral("Калибровка"));
        m_run.StageCount = kCalibrationStages;
    }
    m_run.CalStep = 0;
    m_run.MaxCalStep = 0;
    Label4->setText(FormatText("%d из %d", {0LL, (long long)m_run.StageCount}));

    ParGrid->clearContents();
    SetParGridColumns(m_run.Meters.Count);
    BitBtn1->setEnabled(true);
    BitBtn2->setEnabled(false);
    BitBtn3->setEnabled(false);
    BitBtn4->setEnabled(false);
    RefreshSessionGrids();

    m_run.Restored = Tag != 0;
    if (Tag != 0) {
        Tag = 0;
        try {
            LoadSession(-1);
        } catch (const SessionFileRefused& e) {
            // Changed since the question was answered. Close rather than
            // leave a wizard whose next save would overwrite the file.
            ShowMessage(MsgKind::Error, e.text());
            QTimer::singleShot(0, this, &QWidget::hide);
        }
    }
}

void TForm3::RefreshSessionGrids()
{
    const InstalledMeterList& meters = m_run.Meters;
    const int columns = ParGrid->columnCount();
    for (int n = 1; n < columns; ++n)
        SetParCell(n, 0, QStringLiteral("№ ") + QString::number(meters.Serials[std::size_t(n - 1)]));
    for (int row = 1; row < kParGridRows; ++row)
        SetParCell(0, row, Text(kParGridLabels[row]));
    for (int n = 1; n < columns; ++n) {
        const ConfigTexts texts = FormatConfigTexts(meters.Configs[std::size_t(n - 1)]);
        for (int v = 0; v < kConfigValueCount; ++v)
            SetParCell(n, 3 + v, texts[std::size_t(v)]);
    }

    FLGRID->setColumnCount(2);
    FLGRID->setRowCount(m_run.StageCount);
    const bool diameterKnown = meters.DiameterIndex >= 0 && meters.DiameterIndex < kDiameterIndexCount;
    for (int r = 0; r < m_run.StageCount; ++r) {
        GridCell(FLGRID, 0, r, true, {})->setText(Text(StageName(m_run.VerificationMode, r + 1)));
        const QString setPoint =
            diameterKnown ? FormatFloat("%1.3f", StageSetPoint(m_run.VerificationMode, r + 1, meters.DiameterIndex))
                          : QString();
        GridCell(FLGRID, 1, r, false, Qt::ItemIsEnabled)->setText(setPoint);
    }

    if (m_run.CalStep > 0 && m_run.CalStep <= m_run.StageCount) {
        QTableWidgetItem* name = FLGRID->item(m_run.CalStep - 1, 0);
        name->setText(name->text() + Text(kStagePointer));
        Label6->setText(GridText(FLGRID, 1, m_run.CalStep - 1) + QStringLiteral(" м3/ч"));
    } else {
        Label6->setText(QString());
    }
}

void TForm3::SaveSession()
{
    SessionConfigTexts configs;
    for (int n = 1; n <= kSessionMeters; ++n)
        for (int v = 0; v < kConfigValueCount; ++v)
            configs[std::size_t(n - 1)][std::size_t(v)] = ParCell(n, 3 + v);
    SaveSessionFile(SessionPath(), m_run, EntriesFromControls(), configs);
    ShowStageIndicator();
}

void TForm3::LoadSession(int stage)
{
    StageEntries entries = EntriesFromControls();
    LoadSessionFile(SessionPath(), stage, m_run.StageCount, m_run, entries);
    SetParGridColumns(m_run.Meters.Count);
    EntriesToControls(entries);
    RefreshSessionGrids();
    ShowStageIndicator();
}

void TForm3::BitBtn1Click()
{
    SaveSession();
    if (m_run.CalStep == m_run.StageCount) {
        if (!m_run.VerificationMode) {
            if (ShowMessage(MsgKind::Confirmation, QStringLiteral("Калибровка окончена. Записать полученные данные?"),
                            mbOK | mbCancel) == ModalResult::Ok) {
                const JournalOrigin origin(QStringLiteral("calibration"));
                WriteConfigurations();
            }
        } else {
            if (ShowMessage(MsgKind::Confirmation, QStringLiteral("Поверка окончена. Записать полученные данные?"),
                            mbOK | mbCancel) == ModalResult::Ok) {
                // At the latest now: the office starts while the fields are typed.
                WarmUpSpreadsheetApp();
                if (ShowProtocolFields && ShowProtocolFields() == ModalResult::Ok && WriteProtocol)
                    WriteProtocol();
            }
            // Whatever the protocol did not take over is of no use now.
            CoolDownSpreadsheetApp();
        }
        return;
    }

    ++m_run.CalStep;
    const double setPoint = StrToFloat(GridText(FLGRID, 1, m_run.CalStep - 1));
    const ModalResult r = ShowFlowSetting ? ShowFlowSetting(FormatFloat("%1.3f м3/ч", setPoint)) : ModalResult::Cancel;
    if (r == ModalResult::Ok)
        BitBtn1->setEnabled(false);  // the stage now waits for its computation
    else
        --m_run.CalStep;

    BitBtn4->setEnabled(m_run.CalStep > 0);
    ShowStageIndicator();
    RefreshSessionGrids();
    SaveSession();
}

void TForm3::BitBtn4Click()
{
    SaveSession();  // the entries reach the disk even if the computation fails
    JournalStage(m_run, m_link.PortName(), [this] { ComputeStage(); }, [this] { return EntriesFromControls(); });
    RefreshSessionGrids();
    if (m_run.CalStep > m_run.MaxCalStep)
        m_run.MaxCalStep = m_run.CalStep;
    BitBtn1->setEnabled(true);
    BitBtn4->setEnabled(true);
    SaveSession();
    // A verification's last stage computed: a protocol is near, and the
    // office takes seconds to start.
    if (m_run.VerificationMode && m_run.CalStep == m_run.StageCount)
        WarmUpSpreadsheetApp();
}

void TForm3::BitBtn2Click()
{
    if (m_run.CalStep <= 0)
        return;
    --m_run.CalStep;
    ShowStageIndicator();
    BitBtn4->setEnabled(m_run.CalStep > 0);
    BitBtn1->setEnabled(true);
    RefreshSessionGrids();
    LoadSession(m_run.CalStep);
}

void TForm3::BitBtn3Click()
{
    ++m_run.CalStep;
    if (m_run.CalStep > m_run.StageCount)
        --m_run.CalStep;
    BitBtn3->setEnabled(m_run.CalStep < m_run.MaxCalStep);
    BitBtn4->setEnabled(m_run.CalStep > 0);
    BitBtn1->setEnabled(true);
    RefreshSessionGrids();
    LoadSession(m_run.CalStep);
}

void TForm3::ComputeStage()
{
    ReferenceEntries ref;
    ref.Pulses = StrToInt(Edit3->text());
    ref.PulseWeight = StrToFloat(Edit2->text());
    ref.Seconds = StrToFloat(Edit11->text());
    InstalledMeterList& meters = m_run.Meters;
    try {
        const StageComputation stage(ref, meters.DiameterIndex, m_run.CalStep, m_run.VerificationMode);
        const int count = qBound(0, meters.Count, InstalledMeterList::kMaxMeters);
        for (int n = 1; n <= count; ++n) {
            const int32_t g = StrToInt(ParCell(n, 1));
            SetParCell(n, 2, FormatFloat("%1.2f", double(stage.ErrorPercent(g))));
            stage.ApplyCoefficient(g, meters.Configs[std::size_t(n - 1)]);
        }
    } catch (const FloatZeroDivide&) {
        throw EZeroDivide();
    } catch (const FloatOverflow& e) {
        throw AppError(QString::fromUtf8(e.what()));
    } catch (const std::out_of_range&) {
        throw AppError(QStringLiteral("Не выбран диаметр приборов: расчет невозможен"));
    }
}

void TForm3::WriteConfigurations()
{
    if (!m_link.LineFree())
        return;
    const ButtonsLocked locked{BitBtn1, BitBtn2, BitBtn3, BitBtn4};
    // This run's meters and coefficients, taken once: the write waits for
    // each meter with the event queue served, and nothing done meanwhile may
    // change what the remaining meters get.
    const InstalledMeterList meters = m_run.Meters;
    const bool restored = m_run.Restored;
    const int count = qBound(0, meters.Count, InstalledMeterList::kMaxMeters);
    ReportPerMeter(meters, count, QStringLiteral("Запись коеффициентов"),
                   QStringLiteral("Ошибка записи! Проверте состояние линии связи подключенных приборов, затем "
                                  "повторите попытку"),
                   [this, &meters, restored](int i, SerialNumber serial) {
                       DeviceConfig config = meters.Configs[std::size_t(i)];
                       bool ok = true;
                       if (restored) {
                           // The state file does not hold bytes 52-53; take them from the
                           // meter rather than send zeros in their place.
                           DeviceConfig stored;
                           ok = m_link.ReadDeviceConfig(serial, stored);
                           if (ok) {
                               config.Tail[0] = stored.Tail[0];
                               config.Tail[1] = stored.Tail[1];
                           }
                       }
                       return ok && m_link.WriteDeviceConfig(serial, serial, config);
                   });
}
