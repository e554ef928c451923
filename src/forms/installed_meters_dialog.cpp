#include "installed_meters_dialog.h"

#include "device_link.h"
#include "diameter_defaults.h"
#include "handler.h"
#include "installed_meters.h"
#include "messages.h"
#include "number_text.h"
#include "window_behaviour.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTableWidget>

#include <algorithm>
#include <array>

namespace {

// The spin edit stops at six: the installed-meter list, the state files and
// the charts have room for six meters, so a larger count is never offered.
constexpr int kMaxCount = InstalledMeterList::kMaxMeters;
constexpr int kDefaultCount = 4;

QTableWidgetItem* Cell(QTableWidget* grid, int col, int row)
{
    QTableWidgetItem* item = grid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        const bool fixed = row == 0 || col == 0;
        if (fixed) {
            item->setFlags(Qt::ItemIsEnabled);
            item->setBackground(QApplication::palette().color(QPalette::Button));
        } else {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        }
        grid->setItem(row, col, item);
    }
    return item;
}

} // namespace

TForm4::TForm4(DeviceLink& link, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_link(link)
{
    BuildControls();
}

// The controls, their captions and layout are in installed_meters_dialog.ui;
// here what follows the program's tables and limits (the diameters, the
// meter count, the table's rows and height), the style's icons and the
// handlers.
void TForm4::BuildControls()
{
    setupUi(this);

    for (const char* name : DiameterNames)
        ComboBox1->addItem(QString::fromUtf8(name));
    ComboBox1->setCurrentIndex(-1);

    SpinEdit1->setRange(1, kMaxCount);
    SpinEdit1->setValue(kDefaultCount);
    if (auto* typing = SpinEdit1->findChild<QLineEdit*>())
        typing->setReadOnly(true);  // the arrows only
    SpinEdit1->setToolTip(QStringLiteral("Не более %1 приборов").arg(kMaxCount));

    SNTable->setColumnWidth(0, 64);
    SNTable->setRowCount(kDefaultCount + 1);
    SNTable->setFixedHeight(24 * 7 + 2 * SNTable->frameWidth());
    NumberRows();

    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogYesButton));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { RunHandler([this] { SpinEdit1Change(); }); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        // Like a button whose modal result is All: the dialog ends after the
        // handler whatever it did, unless it refused before storing anything.
        RunHandler([this] { BitBtn1Click(); });
        if (!m_stayOpen)
            done(int(ModalResult::All));
    });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { RunHandler([this] { BitBtn2Click(); }); });
}

void TForm4::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    CentreOnScreen(*this);
    RunHandler([this] { FormShow(); });
}

void TForm4::reject()
{
    done(int(ModalResult::Cancel));
}

void TForm4::NumberRows()
{
    Cell(SNTable, 1, 0)->setText(QStringLiteral("Номер"));
    Cell(SNTable, 0, 0);
    for (int r = 1; r < SNTable->rowCount(); ++r) {
        Cell(SNTable, 0, r)->setText(QStringLiteral("№ ") + QString::number(r));
        Cell(SNTable, 1, r);
    }
}

void TForm4::FormShow()
{
    NumberRows();
}

void TForm4::SpinEdit1Change()
{
    SNTable->setRowCount(SpinEdit1->value() + 1);
    NumberRows();
}

void TForm4::BitBtn1Click()
{
    // Until the entries are stored, a refusal (a box, or a number that is no
    // number) keeps the dialog open with what was typed and the list as it was.
    m_stayOpen = true;
    if (!m_link.LineFree())
        return;
    // The stage set-points, pulse weights and Qmax exist for the ten
    // diameters only.
    if (ComboBox1->currentIndex() < 0) {
        ShowMessage(MsgKind::Warning, QStringLiteral("Не выбран диаметр приборов. Выберите диаметр и повторите попытку"));
        return;
    }
    const int count = qBound(1, SpinEdit1->value(), kMaxCount);
    std::array<SerialNumber, kMaxCount> serials{};
    for (int r = 1; r <= count; ++r) {
        const QTableWidgetItem* item = SNTable->item(r, 1);
        const SerialNumber serial = SerialNumber(StrToInt(item ? item->text() : QString()));
        // Serial number 0 ("0", 65536, -2147483648...) addresses whichever
        // meter answers: the run would test one meter and at its end write
        // one configuration and serial number into every meter on the line.
        if (serial == 0) {
            ShowMessage(MsgKind::Error, QStringLiteral("Проверте правильность ввода серийного номера"));
            return;
        }
        serials[std::size_t(r - 1)] = serial;
    }
    m_stayOpen = false;
    InstalledMeterList& list = InstalledMeters();
    list.Count = count;
    std::copy(serials.begin(), serials.begin() + count, list.Serials.begin());
    list.DiameterIndex = ComboBox1->currentIndex();

    const bool ok = ReportPerMeter(
        list, list.Count, QStringLiteral("Тест"),
        QStringLiteral("Проверте правильность введенных серийных номеров и состояние подключенных приборов, затем "
                       "повторите попытку"),
        [this, &list](int i, SerialNumber serial) {
            return m_link.IdentifyDevice(serial) && m_link.ReadDeviceConfig(serial, list.Configs[std::size_t(i)]);
        });
    if (!ok)
        return;
    if (ShowWizard)
        ShowWizard();
}

void TForm4::BitBtn2Click()
{
    done(int(ModalResult::Cancel));
}
