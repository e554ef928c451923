#pragma once
// TForm1, the main window: port choice, the meter's serial number, the link
// test, reading parameters, and the buttons that open the other windows.

#include "device_link.h"
#include "program_settings.h"
#include "ui_main_window.h"

#include <QWidget>

#include <functional>

class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class JournalWindow;

// The controls are the members main_window.ui declares.
class TForm1 : public QWidget, private Ui_TForm1 {
    Q_OBJECT

public:
    // userMode is fixed per executable; the delivered build passes true.
    explicit TForm1(bool userMode, QWidget* parent = nullptr);
    ~TForm1() override;

    bool UserMode() const { return m_userMode; }
    DeviceLink& Link() { return m_link; }
    TComPort& ComPort1() { return m_link.ComPort1(); }
    ProgramSettings& Settings() { return m_settings; }
    static QString SettingsFileName();

    // The windows the main window opens. They are created after it, so the
    // application hands them over once every window exists.
    struct Windows {
        TForm2* Form2 = nullptr;  // configuration editor
        TForm3* Form3 = nullptr;  // calibration and verification wizard
        TForm4* Form4 = nullptr;  // installed meters
        TForm5* Form5 = nullptr;  // flow-setting chart dialog
        TForm6* Form6 = nullptr;  // protocol fields
        TForm7* Form7 = nullptr;  // scanning window
        JournalWindow* Journal = nullptr;
    };
    void SetWindows(const Windows& windows) { m_windows = windows; }

public slots:
    void FormCreate();
    void FormShow();
    void FormClose();
    void ComboBox1Change();
    void ComboBox1DropDown();

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void SpinEdit1Change();
    void ComboBox2Change();
    void ComboBox2DropDown();
    void ComboBox2KeyDown(int key);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void SetPortButtonsEnabled(bool enabled);
    void SetCommandGroupEnabled(bool enabled);
    bool SerialBoxesFree();

    const bool m_userMode;
    DeviceLink m_link;
    ProgramSettings m_settings;
    Windows m_windows;
    bool m_shown = false;
    bool m_creating = false;
    // What the port and serial-number boxes last took, put back when a
    // change is refused while an exchange runs.
    QString m_portName;
    int m_serialShown = 0;
    QString m_serialText;
};
