#pragma once
// TForm6, "Заполнение полей протокола ": the header fields of a verification
// protocol (meter modification, water temperature, atmospheric pressure, the
// two names). Accepting it advances the report number and remembers the
// names in "Settings.ini".

#include "program_settings.h"
#include "ui_protocol_fields_dialog.h"

#include <QDialog>

// The controls are the members protocol_fields_dialog.ui declares.
class TForm6 : public QDialog, private Ui_TForm6 {
    Q_OBJECT

public:
    // settings: the values the main window read at start-up; the dialog
    // takes the names from them once and advances RepNo on every accept.
    explicit TForm6(ProgramSettings& settings, QWidget* parent = nullptr);

    // The field texts as they stand, for the protocol.
    QString Modification() const;      // ComboBox1
    QString WaterTemperature() const;  // Edit1
    QString Pressure() const;          // Edit2
    QString TestedBy() const;          // Edit3
    QString VerifiedBy() const;        // Edit4

public slots:
    void FormCreate();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    ProgramSettings& m_settings;
};
