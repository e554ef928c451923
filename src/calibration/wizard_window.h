#pragma once
// TForm3, the calibration and verification wizard: the bench's reference
// entries and each meter's pulse count stage by stage, the errors and new
// coefficients, the run's state file after every step, and at the end the
// write into the meters (calibration) or the protocol (verification).
// Modeless, beside the main window.

#include "messages.h"
#include "run_state.h"
#include "session_file.h"
#include "ui_wizard_window.h"

#include <QDialog>

#include <functional>
#include <optional>

class DeviceLink;

// The controls are the members wizard_window.ui declares.
class TForm3 : public QDialog, private Ui_TForm3 {
    Q_OBJECT

public:
    explicit TForm3(DeviceLink& link, QWidget* parent = nullptr);
    ~TForm3() override;

    // Resume flag: set by StartMode when the user continues a stored run;
    // the next FormShow loads the run from its file and clears it.
    int Tag = 0;

    // Windows in other folders, wired by the application.
    // Sets the flow-setting dialog's label to volLabel and shows it modally;
    // Ok means the bench runs at the set-point and the stage begins.
    std::function<ModalResult(const QString& volLabel)> ShowFlowSetting;
    // The installed-meter dialog, modally, for a new run.
    std::function<void()> ShowInstalledMeters;
    // The protocol fields dialog at the end of a verification; Ok lets the
    // protocol be written.
    std::function<ModalResult()> ShowProtocolFields;
    // Writes the verification protocol workbook from the run's file.
    std::function<void()> WriteProtocol;

    // The main window's "КАЛИБРОВКА" (false) and "ПОВЕРКА" (true): continue
    // the stored run of that mode or start a new one. The run open until
    // then changes only when the new one starts (ShowWizard).
    void StartMode(bool verification);
    // Shows the wizard for the run in CurrentRun(), or for the run StartMode
    // asked for, which begins here. A wizard already open is shown afresh,
    // so it never keeps a previous run's grid or mode.
    void ShowWizard();

    void SaveSession();
    // stage: the stage to load, or -1 for the one stored in the file.
    void LoadSession(int stage);
    void RefreshSessionGrids();

    RunState& Run() { return m_run; }

public slots:
    void FormShow();
    void BitBtn1Click();  // "ДАЛЕЕ -->>"
    void BitBtn2Click();  // "Шаг назад"
    void BitBtn3Click();  // "Шаг вперед"
    void BitBtn4Click();  // "Расчет коэффициентов"
    // Whether a cell of ParGrid may be selected: only the pulse-count row.
    bool ParGridSelectCell(int col, int row) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // A run StartMode asked for that has not begun yet.
    struct PendingRun {
        bool verification = false;
        QString fileName;
        bool resume = false;  // continue the stored run rather than enter one
    };
    // Enters a new run through the installed-meter dialog.
    void EnterNewRun(const PendingRun& run);

    void BuildControls();
    QString SessionPath() const;
    void SetParGridColumns(int meters);
    QString ParCell(int col, int row) const;
    void SetParCell(int col, int row, const QString& text);
    StageEntries EntriesFromControls() const;
    void EntriesToControls(const StageEntries& entries);
    void ShowStageIndicator();
    void ComputeStage();
    void WriteConfigurations();

    DeviceLink& m_link;
    RunState& m_run;
    std::optional<PendingRun> m_pending;
};
