#include "scan_window.h"

#include "device_link.h"
#include "installed_meters.h"
#include "number_text.h"
#include "window_keys.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kFlowTitle = "№ %-5d %03.3f";
const char* const kFlowRangeTitle = "№ %-5d %03.3f %03.3f";

}  // namespace

TForm7::TForm7(DeviceLink& link, QWidget* parent) : FlowChartWindow(link, parent)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("Сканер"));
    resize(1024, 700);
    IgnoreEscape(this);  // no cancel button

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    PeriodLabel->setObjectName(QStringLiteral("Label1"));
    CheckBox3 = new QCheckBox(QStringLiteral("Диапазон колебаний"), panel);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));

    auto* top = new QHBoxLayout(panel);
    top->addWidget(CheckBox1);
    top->addSpacing(12);
    top->addWidget(PeriodLabel);
    top->addWidget(SpinEdit1);
    top->addSpacing(12);
    top->addWidget(CheckBox2);
    top->addSpacing(12);
    top->addWidget(SpeedButton1);
    top->addSpacing(12);
    top->addWidget(CheckBox3);
    top->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel);
    layout->addWidget(Chart1, 1);
}

void TForm7::setVisible(bool visible)
{
    if (visible)
        setWindowState(windowState() | Qt::WindowMaximized);
    FlowChartWindow::setVisible(visible);
}

void TForm7::SpeedButton1Click()
{
    m_extremes.fill(FlowExtremes{});
    FlowChartWindow::SpeedButton1Click();
}

void TForm7::Timer1Timer()
{
    const InstalledMeterList& list = InstalledMeters();
    const int count = std::clamp(list.Count, 0, FlowChart::kSeriesCount);

    if (count == 0) {
        // No list: the main window's current meter, its range always shown.
        PollTimerPause pause(*Timer1, [this] { ResumeTimer(); });
        FlowChart::Batch batch(*Chart1);
        for (int i = 1; i < FlowChart::kSeriesCount; ++i)
            Chart1->SetSeriesTitle(i, QStringLiteral("---"));
        const SerialNumber n = m_link.CurrentSerialNumber;
        DeviceState state{};
        if (m_link.PollDeviceState(n, state)) {
            const double flow = state.FlowRate;
            m_extremes[0].Update(flow);
            Chart1->SetSeriesTitle(
                0, FormatText(kFlowRangeTitle, {static_cast<long long>(n), flow, m_extremes[0].Range()}));
            Chart1->AddPoint(0, flow);
        }
        return;
    }

    for (int i = count; i < FlowChart::kSeriesCount; ++i)
        Chart1->SetSeriesTitle(i, QStringLiteral("---"));
    if (!CheckBox1->isChecked())
        return;

    PollTimerPause pause(*Timer1, [this] { ResumeTimer(); });
    FlowChart::Batch batch(*Chart1);
    for (int c = 0; c < count && Scanning(); ++c) {
        const SerialNumber n = list.Serials[c];
        DeviceState state{};
        // A failed read has shown its box, a refused one (another exchange
        // under way) none; the series and the extremes stay as they were.
        if (!m_link.PollDeviceState(n, state))
            continue;
        const double flow = state.FlowRate;
        const bool withRange = CheckBox3->isChecked();
        m_extremes[c].Update(flow);
        Chart1->SetSeriesTitle(c, withRange ? FormatText(kFlowRangeTitle, {static_cast<long long>(n), flow,
                                                                           m_extremes[c].Range()})
                                            : FormatText(kFlowTitle, {static_cast<long long>(n), flow}));
        Chart1->AddPoint(c, flow);
    }
}
