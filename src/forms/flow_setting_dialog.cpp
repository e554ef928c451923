#include "flow_setting_dialog.h"

#include "handler.h"
#include "number_text.h"
#include "ui_flow_setting_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

TForm5::TForm5(DeviceLink& link, QWidget* parent) : FlowChartWindow(link, parent)
{
    // The controls, their captions and layout are in flow_setting_dialog.ui;
    // here the large labels' size and the width that follows it, the style's
    // icons and the handlers.
    Ui::TForm5 ui;
    ui.setupUi(this);
    Label1 = ui.Label1;
    VolLabel = ui.VolLabel;
    Label3 = ui.Label3;
    BitBtn2 = ui.BitBtn2;
    BitBtn1 = ui.BitBtn1;
    UseScanControls(ui.CheckBox1, ui.Label2, ui.SpinEdit1, ui.CheckBox2, ui.SpeedButton1, ui.Chart1);

    for (QLabel* l : {Label1, VolLabel}) {
        QFont f = l->font();
        f.setPointSizeF(f.pointSizeF() * 2);
        l->setFont(f);
    }
    VolLabel->setMinimumWidth(VolLabel->fontMetrics().horizontalAdvance(QStringLiteral("0000,000 м3/ч")));

    // Neither button is a default one (in the form): Enter must not start a
    // measurement by accident; Esc cancels (QDialog).
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));

    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunHandler([this] { BitBtn1Click(); }); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm5::SetVolLabelText(const QString& text)
{
    VolLabel->setText(text);
}

QString TForm5::VolLabelText() const
{
    return VolLabel->text();
}

ModalResult TForm5::ShowModal()
{
    return exec() == QDialog::Accepted ? ModalResult::Ok : ModalResult::Cancel;
}

void TForm5::BitBtn1Click()
{
    accept();
}

void TForm5::Timer1Timer()
{
    PollInstalledMeters([](int, SerialNumber n, double flow) {
        return FormatText("№ %-5d %03.3f", {static_cast<long long>(n), flow});
    });
}
