#pragma once
// TForm7, the scanning window ("Сканер"): charts the flow of every installed
// meter, or of the main window's current meter when no list was entered, and
// can show each meter's flow range since the chart was last cleared.

#include "flow_chart.h"

#include <array>

class QCheckBox;
class QKeyEvent;

// The largest and smallest flow one list position has shown since the chart
// was last cleared (or since the program started).
struct FlowExtremes {
    double Largest = 0;
    double Smallest = 5000;

    void Update(double flow)
    {
        if (!(Largest >= flow))
            Largest = flow;
        if (Smallest > flow)
            Smallest = flow;
    }
    double Range() const { return Largest - Smallest; }
};

class TForm7 : public FlowChartWindow {
    Q_OBJECT

public:
    explicit TForm7(DeviceLink& link, QWidget* parent = nullptr);

    // Position 0..5 of the installed-meter list.
    const FlowExtremes& Extremes(int position) const { return m_extremes.at(position); }

    void setVisible(bool visible) override;

public slots:
    void SpeedButton1Click() override;
    void Timer1Timer() override;

protected:

private:
    QCheckBox* CheckBox3 = nullptr;
    std::array<FlowExtremes, FlowChart::kSeriesCount> m_extremes{};
};
