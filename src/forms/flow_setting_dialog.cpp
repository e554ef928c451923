#include "flow_setting_dialog.h"

#include "device_link.h"
#include "handler.h"
#include "installed_meters.h"
#include "number_text.h"
#include "ui_flow_setting_dialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

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
    const InstalledMeterList& list = InstalledMeters();
    const int count = std::clamp(list.Count, 0, FlowChart::kSeriesCount);
    for (int i = count; i < FlowChart::kSeriesCount; ++i)
        Chart1->SetSeriesTitle(i, QStringLiteral("---"));
    if (!CheckBox1->isChecked())
        return;

    PollTimerPause pause(*Timer1, [this] { ResumeTimer(); });
    FlowChart::Batch batch(*Chart1);
    for (int b = 0; b < count && Scanning(); ++b) {
        const SerialNumber n = list.Serials[b];
        DeviceState state{};
        // A failed read has shown its box; a refused one (another exchange
        // under way) shows none. Either way the series stays as it was.
        if (!m_link.PollDeviceState(n, state))
            continue;
        const double flow = state.FlowRate;
        Chart1->SetSeriesTitle(b, FormatText("№ %-5d %03.3f", {static_cast<long long>(n), flow}));
        Chart1->AddPoint(b, flow);
    }
}
