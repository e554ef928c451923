#include "flow_setting_dialog.h"

#include "device_link.h"
#include "handler.h"
#include "installed_meters.h"
#include "number_text.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QLabel* LargeLabel(QWidget* parent, const char* name, const char* text, Qt::Alignment alignment)
{
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(QString::fromUtf8(name));
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 2);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(alignment | Qt::AlignVCenter);
    return l;
}

}  // namespace

TForm5::TForm5(DeviceLink& link, QWidget* parent) : FlowChartWindow(link, parent)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QString());
    setSizeGripEnabled(true);
    resize(960, 640);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    Label1 = LargeLabel(panel, "Label1", "УСТАНОВИТЕ РАСХОД", Qt::AlignLeft);
    VolLabel = LargeLabel(panel, "VolLabel", "", Qt::AlignRight);
    VolLabel->setMinimumWidth(VolLabel->fontMetrics().horizontalAdvance(QStringLiteral("0000,000 м3/ч")));
    Label3 = new QLabel(QStringLiteral("Подождите пока расход \nстабилизируется, затем нажмите ПУСК"), panel);
    Label3->setObjectName(QStringLiteral("Label3"));
    PeriodLabel->setObjectName(QStringLiteral("Label2"));

    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), QStringLiteral("Отмена"), panel);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_BrowserReload), QStringLiteral("Пуск"), panel);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    // Enter must not start a measurement by accident; Esc cancels (QDialog).
    for (QPushButton* b : {BitBtn1, BitBtn2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setMinimumHeight(36);
    }

    auto* scan = new QGridLayout;
    scan->addWidget(CheckBox1, 0, 0);
    scan->addWidget(CheckBox2, 0, 1);
    scan->addWidget(PeriodLabel, 1, 0);
    scan->addWidget(SpinEdit1, 1, 1);
    scan->addWidget(SpeedButton1, 2, 0, 1, 2);

    auto* top = new QHBoxLayout(panel);
    top->addWidget(Label1);
    top->addWidget(VolLabel);
    top->addSpacing(16);
    top->addWidget(Label3);
    top->addStretch(1);
    top->addLayout(scan);
    top->addSpacing(16);
    top->addWidget(BitBtn2);
    top->addWidget(BitBtn1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addWidget(Chart1, 1);

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
