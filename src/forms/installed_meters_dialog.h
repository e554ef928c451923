#pragma once
// TForm4, the installed-meter dialog: the diameter, number and serial
// numbers of the meters on the test bench. "ПРИНЯТЬ" stores them as the
// installed-meter list, tests each meter and reads its configuration, and
// opens the wizard when every meter answered.

#include "ui_installed_meters_dialog.h"

#include <QDialog>

#include <functional>

class DeviceLink;

// The controls are the members installed_meters_dialog.ui declares.
class TForm4 : public QDialog, private Ui_TForm4 {
    Q_OBJECT

public:
    explicit TForm4(DeviceLink& link, QWidget* parent = nullptr);

    // Opens the calibration and verification wizard; wired by the
    // application (the wizard lives in another folder).
    std::function<void()> ShowWizard;

    // Esc and the title bar's close button end the dialog with Cancel.
    void reject() override;

public slots:
    void FormShow();
    void SpinEdit1Change();
    void BitBtn1Click();  // "ПРИНЯТЬ"
    void BitBtn2Click();  // "Отмена"

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void NumberRows();

    DeviceLink& m_link;
    // The accept was refused before anything was stored: keep the dialog
    // open so the user can correct it.
    bool m_stayOpen = false;
};
