#include "scan_window.h"

#include "device_link.h"
#include "installed_meters.h"
#include "number_text.h"
#include "ui_scan_window.h"
#include "window_behaviour.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

const char* const kFlowTitle = "№ %-5d %03.3f";
const char* const kFlowRangeTitle = "№ %-5d %03.3f %03.3f";

}  // namespace

TForm7::TForm7(DeviceLink& link, QWidget* parent) : FlowChartWindow(link, parent)
{
    IgnoreEscape(this);  // no cancel button

    // The controls, their captions and layout are in scan_window.ui.
    Ui::TForm7 ui;
    ui.setupUi(this);
    CheckBox3 = ui.CheckBox3;
    UseScanControls(ui.CheckBox1, ui.Label1, ui.SpinEdit1, ui.CheckBox2, ui.SpeedButton1, ui.Chart1);
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

    PollInstalledMeters([this](int c, SerialNumber n, double flow) {
        m_extremes[c].Update(flow);
        return CheckBox3->isChecked()
                   ? FormatText(kFlowRangeTitle, {static_cast<long long>(n), flow, m_extremes[c].Range()})
                   : FormatText(kFlowTitle, {static_cast<long long>(n), flow});
    });
}
