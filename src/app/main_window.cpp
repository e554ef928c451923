#include "main_window.h"

#include "config_editor.h"
#include "flow_setting_dialog.h"
#include "installed_meters_dialog.h"
#include "journal_window.h"
#include "protocol_fields_dialog.h"
#include "scan_window.h"
#include "wizard_window.h"
#include "handler.h"
#include "ini_file.h"
#include "installed_meters.h"
#include "link_port.h"
#include "messages.h"
#include "number_text.h"
#include "pick_combo_box.h"
#include "port_list.h"
#include "reading_lines.h"
#include "window_behaviour.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

#include <utility>
#include <vector>

namespace {

// After the list was filled anew: the text as it was, with its entry chosen
// when it has one. (With none chosen, the box would choose it itself as its
// text field loses the focus and report that as a pick.)
void KeepText(QComboBox* box, const QString& text)
{
    box->setCurrentIndex(box->findText(text));
    box->setEditText(text);
}

void AddSerialPorts(QComboBox* box)
{
    std::vector<std::string> ports;
    ListSerialPorts(ports);
    for (const std::string& p : ports)
        box->addItem(QString::fromStdString(p));
}

// A read-only memo tall enough for its lines, so no reading hides behind a
// scroll bar: the height follows the font and the variant, so it is set here.
void SizeMemo(QPlainTextEdit* m, int lines)
{
    m->setTabStopDistance(m->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 8);
    const int frame = 2 * (m->frameWidth() + int(m->document()->documentMargin())) + 4;
    m->setFixedHeight(lines * QFontMetrics(m->font()).lineSpacing() + frame);
}

}  // namespace

TForm1::TForm1(bool userMode, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_userMode(userMode)
{
    BuildControls();
    FormCreate();
}

TForm1::~TForm1() = default;

QString TForm1::SettingsFileName()
{
    return SettingsFilePath();
}

// The controls, their captions and layout are in main_window.ui; here the
// sizes that follow the font and the variant, and the handlers.
void TForm1::BuildControls()
{
    setupUi(this);

    ComboBox2->setEditText(QString());
    m_serialShown = SpinEdit1->value();
    SizeMemo(Memo1, 3);
    SizeMemo(Memo2, m_userMode ? 2 : 13);

    connect(ComboBox1, &PickComboBox::droppingDown, this, [this] { RunHandler([this] { ComboBox1DropDown(); }); });
    connect(ComboBox1, &PickComboBox::changed, this, [this] {
        if (!m_creating)
            RunHandler([this] { ComboBox1Change(); });
    });
    connect(ComboBox2, &PickComboBox::droppingDown, this, [this] { RunHandler([this] { ComboBox2DropDown(); }); });
    connect(ComboBox2, &PickComboBox::changed, this, [this] { RunHandler([this] { ComboBox2Change(); }); });
    ComboBox2->installEventFilter(this);
    ComboBox2->lineEdit()->installEventFilter(this);

    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { RunHandler([this] { SpinEdit1Change(); }); });
    const std::pair<QPushButton*, void (TForm1::*)()> clicks[] = {
        {Button1, &TForm1::Button1Click}, {Button2, &TForm1::Button2Click}, {Button3, &TForm1::Button3Click},
        {Button4, &TForm1::Button4Click}, {Button5, &TForm1::Button5Click}, {Button6, &TForm1::Button6Click},
        {Button7, &TForm1::Button7Click}, {Button8, &TForm1::Button8Click}, {Button9, &TForm1::Button9Click},
        {Button10, &TForm1::Button10Click},
    };
    for (const auto& [button, handler] : clicks) {
        connect(button, &QPushButton::clicked, this, [this, handler = handler] { RunHandler([this, handler] { (this->*handler)(); }); });
    }
}

void TForm1::FormCreate()
{
    m_creating = true;
    RunHandler([this] {
        if (m_userMode) {
            setWindowTitle(windowTitle() + QStringLiteral("пользователь"));
            for (QPushButton* b : {Button3, Button7, Button8, Button6})
                b->setVisible(false);
        } else {
            setWindowTitle(windowTitle() + QStringLiteral("профи"));
        }

        AddSerialPorts(ComboBox1);

        IniFile ini(SettingsFileName());
        ComboBox1->setCurrentIndex(-1);
        ComboBox1->setEditText(SettingsPortName());
        m_settings.RepNo = ini.readInteger(QStringLiteral("CONFIG"), QStringLiteral("REPNO"), 1);
        m_settings.Fio1 = ini.readString(QStringLiteral("CONFIG"), QStringLiteral("FIO1"), QString());
        m_settings.Fio2 = ini.readString(QStringLiteral("CONFIG"), QStringLiteral("FIO2"), QString());
    });
    m_creating = false;
}

void TForm1::SetPortButtonsEnabled(bool enabled)
{
    for (QPushButton* b : {Button1, Button2, Button3, Button4, Button5})
        b->setEnabled(enabled);
}

void TForm1::FormShow()
{
    m_portName = ComboBox1->currentText();
    if (m_portName.isEmpty())
        return;
    QString accessLine;
    if (OpenLinkPort(ComPort1(), ComboBox1->currentText(), &accessLine)) {
        SetPortButtonsEnabled(true);
    } else {
        ShowMessage(MsgKind::Error, PortOpenFailureText(ComboBox1->currentText()) + accessLine);
        SetPortButtonsEnabled(false);
    }
}

void TForm1::ComboBox1Change()
{
    // Reopening closes the port under a running exchange: refused, and the
    // box shows the port still in use.
    if (!m_link.LineFree()) {
        const QSignalBlocker block(ComboBox1);
        KeepText(ComboBox1, m_portName);
        return;
    }
    m_portName = ComboBox1->currentText();
    QString accessLine;
    if (OpenLinkPort(ComPort1(), ComboBox1->currentText(), &accessLine)) {
        SetPortButtonsEnabled(true);
    } else {
        ShowMessage(MsgKind::Error, QStringLiteral("Нет возможности открыть порт") + accessLine);
        SetPortButtonsEnabled(false);
    }
}

void TForm1::ComboBox1DropDown()
{
    // Read again, so an adapter plugged in after start is offered. The port in
    // use stays offered where the system does not list it (a pseudo-terminal,
    // an adapter just unplugged), so it can be picked again.
    const QString text = ComboBox1->currentText();
    const QSignalBlocker block(ComboBox1);
    ComboBox1->clear();
    AddSerialPorts(ComboBox1);
    if (!text.isEmpty() && ComboBox1->findText(text) < 0)
        ComboBox1->addItem(text);
    KeepText(ComboBox1, text);
}

void TForm1::FormClose()
{
    IniFile ini(SettingsFileName());
    ini.writeString(QStringLiteral("CONFIG"), QStringLiteral("COM"), ComboBox1->currentText());
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    CentreOnScreen(*this);
    RunHandler([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // Closing would close the port under a running exchange and end the
    // program in the middle of a run's write.
    if (!m_link.LineFree()) {
        event->ignore();
        return;
    }
    // A settings file that cannot be written is reported; the program still
    // ends, rather than refusing to close.
    RunHandler([this] { FormClose(); });
    m_link.ComPort1().Close();
    event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == ComboBox2 || watched == ComboBox2->lineEdit()) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            RunHandler([this] { ComboBox2KeyDown(13); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::SetCommandGroupEnabled(bool enabled)
{
    for (QPushButton* b : {Button1, Button2, Button3, Button6})
        b->setEnabled(enabled);
}

namespace {
// Disables the command group for one command and enables it again however the command ends.
class CommandScope {
public:
    explicit CommandScope(std::function<void(bool)> set) : m_set(std::move(set)) { m_set(false); }
    ~CommandScope() { m_set(true); }

private:
    std::function<void(bool)> m_set;
};
}  // namespace

void TForm1::Button1Click()
{
    CommandScope scope([this](bool on) { SetCommandGroupEnabled(on); });
    if (m_link.IdentifyDevice(static_cast<SerialNumber>(SpinEdit1->value()))) {
        SpinEdit1->setValue(m_link.CurrentSerialNumber);
        ShowMessage(MsgKind::Information,
                    QStringLiteral("ЗРМ №") + QString::number(m_link.CurrentSerialNumber) + QStringLiteral("  на связи!"));
    }
}

void TForm1::Button2Click()
{
    if (!m_link.LineFree())
        return;  // the memos keep the last reading
    CommandScope scope([this](bool on) { SetCommandGroupEnabled(on); });
    m_link.ErrorFlag = true;
    Button4Click();
    if (!m_link.ErrorFlag) {
        m_link.ErrorFlag = true;
        Button5Click();
    }
    Memo2->clear();
    Memo1->clear();
    if (m_link.ErrorFlag)
        return;

    Memo2->setPlainText(ConfigLines(m_link.MainConfig, m_userMode).join(QLatin1Char('\n')));
    Memo1->setPlainText(StateLines(m_link.MainState, m_link.VolumeScale).join(QLatin1Char('\n')));
}

void TForm1::Button3Click()
{
    TForm2& editor = *m_windows.Form2;
    editor.Fill(m_link.CurrentSerialNumber, m_link.MainConfig);
    if (editor.exec() != QDialog::Accepted)
        return;
    // Converted whole before the held configuration changes: a bad text
    // leaves it as it was.
    const EditedConfig edited = editor.Result();
    if (!m_link.LineFree())
        return;  // the held configuration stays as it was
    edited.ApplyTo(m_link.MainConfig);
    if (m_link.WriteDeviceConfig(static_cast<SerialNumber>(SpinEdit1->value()), edited.Serial, m_link.MainConfig))
        SpinEdit1->setValue(edited.Serial);
}

void TForm1::Button4Click()
{
    m_link.ReadMainState(static_cast<SerialNumber>(SpinEdit1->value()));
}

void TForm1::Button5Click()
{
    m_link.ReadMainConfig(static_cast<SerialNumber>(SpinEdit1->value()));
}

void TForm1::Button6Click()
{
    CommandScope scope([this](bool on) { SetCommandGroupEnabled(on); });
    m_link.ResetDeviceCounter(static_cast<SerialNumber>(SpinEdit1->value()));
}

// A new run loads its meters into the list a running write reads from.
void TForm1::Button7Click()
{
    if (m_link.LineFree())
        m_windows.Form3->StartMode(false);
}

void TForm1::Button8Click()
{
    if (m_link.LineFree())
        m_windows.Form3->StartMode(true);
}

void TForm1::Button9Click()
{
    m_windows.Form7->exec();
}

void TForm1::Button10Click()
{
    m_windows.Journal->ShowFor(SpinEdit1->value());
}

// The serial-number boxes name the meter a running exchange addresses: while
// one runs they keep what they showed.
bool TForm1::SerialBoxesFree()
{
    if (m_link.LineFree())
        return true;
    const QSignalBlocker spin(SpinEdit1);
    const QSignalBlocker combo(ComboBox2);
    SpinEdit1->setValue(m_serialShown);
    ComboBox2->setEditText(m_serialText);
    return false;
}

void TForm1::SpinEdit1Change()
{
    if (!SerialBoxesFree())
        return;
    m_serialShown = SpinEdit1->value();
    m_link.CurrentSerialNumber = static_cast<SerialNumber>(m_serialShown);
}

void TForm1::ComboBox2Change()
{
    if (!SerialBoxesFree())
        return;
    m_serialText = ComboBox2->currentText();
    int n = 0;
    if (ComboBox1->currentText().isEmpty() || !TryStrToInt(ComboBox2->currentText(), n))
        return;
    SpinEdit1->setValue(n);  // the spin edit clamps to 0..65535
}

void TForm1::ComboBox2DropDown()
{
    const InstalledMeterList& list = InstalledMeters();
    const QString text = ComboBox2->currentText();
    const QSignalBlocker block(ComboBox2);
    ComboBox2->clear();
    for (int i = 0; i < list.Count && i < InstalledMeterList::kMaxMeters; ++i)
        ComboBox2->addItem(QString::number(list.Serials[i]));
    KeepText(ComboBox2, text);
}

void TForm1::ComboBox2KeyDown(int key)
{
    if (key != 13 || !SerialBoxesFree())
        return;
    InstalledMeterList& list = InstalledMeters();
    const SerialNumber n = m_link.CurrentSerialNumber;
    if (n == 0 || list.Contains(n))
        return;
    if (list.Count >= InstalledMeterList::kMaxMeters) {
        ShowMessage(MsgKind::Error, QStringLiteral("Введено максимальное количество приборов"));
        return;
    }
    list.Serials[list.Count] = n;
    ++list.Count;
    ComboBox2->setEditText(QString());
}
