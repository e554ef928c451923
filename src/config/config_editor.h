#pragma once
// TForm2, "Изменение конфигурации": the modal editor of one meter's
// configuration. It holds the configuration only as the texts of its fields;
// the main window fills it, runs it and takes the result.

#include "editor_texts.h"

#include <QDialog>

#include <array>

class FileDialog;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    // The opening: serial number and values into the fields, then the
    // diameter that matches the Dy field is selected.
    void Fill(SerialNumber serial, const DeviceConfig& config);

    EditorTexts Texts() const;
    void SetTexts(const EditorTexts& texts);

    // The fourteen texts converted, all or none (see ConvertEditorTexts).
    EditedConfig Result() const { return ConvertEditorTexts(Texts()); }

public slots:
    void ComboBox1Change();
    void BitBtn2Click();
    void BitBtn1Click();
    void SpeedButton1Click();
    void SpeedButton2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    // Clears the selection, then selects the diameter matching the Dy
    // field; throws EConvertError when that field is no number.
    void MatchDiameterSelection();
    void ClearDiameterSelection();

    QLabel* Label13 = nullptr;
    QLineEdit* Edit13 = nullptr;
    std::array<QLabel*, kConfigValueCount> ParLabels{};
    std::array<QLineEdit*, kConfigValueCount> EdPar{};
    QComboBox* ComboBox1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    FileDialog* SaveDialog1 = nullptr;
    FileDialog* OpenDialog1 = nullptr;
};
