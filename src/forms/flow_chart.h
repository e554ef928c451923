#pragma once
// The live flow chart of the two chart windows (the flow-setting dialog and
// the scanning window): six line series, one per installed meter, the point
// number along x and the flow in m3/h up the left axis, with a switchable
// pseudo-3D view in which every series runs in its own depth slot. Also the
// part of the two windows that is the same in both: the scan controls, the
// poll timer and their handlers.

#include "frames.h"

#include <QChartView>
#include <QColor>
#include <QDialog>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>

class DeviceLink;
class QCheckBox;
class QLabel;
class QLineSeries;
class QSpinBox;
class QTimer;
class QToolButton;
class QValueAxis;
class FlowChartDepthItem;

class FlowChart : public QChartView {
    Q_OBJECT

public:
    static constexpr int kSeriesCount = 6;
    // Points kept per series. The oldest point goes when a new one would
    // exceed this, so a scan left running for days keeps a fixed size; the
    // point numbers keep counting. A poll of six meters takes about 270 ms at
    // 9600 bit/s, so 1000 points are some eight minutes of scanning at the
    // shortest period and over half an hour at the default one.
    static constexpr int kMaxPoints = 1000;
    // Share of the plot width the 3D view gives to depth.
    static constexpr double kDepthShare = 0.10;

    // The colour of each series (index 0 = Series1).
    static const std::array<QColor, kSeriesCount>& SeriesColours();

    explicit FlowChart(QWidget* parent = nullptr);
    ~FlowChart() override;

    // index: 0..5 for Series1..Series6; other indexes are ignored.
    void SetSeriesTitle(int index, const QString& title);
    QString SeriesTitle(int index) const;
    // Appends the flow as the series' next point; x is its running point
    // number (0, 1, 2, ... since the last Clear).
    void AddPoint(int index, double flow);
    // Every series loses its points; numbering starts again at 0.
    void Clear();

    // Holds the drawing of new points and titles while it lives: a poll adds
    // one point per meter between waits for replies, and the chart is laid
    // out and redrawn once, when the poll ends, rather than once per meter.
    class Batch {
    public:
        explicit Batch(FlowChart& chart) : m_chart(chart) { ++m_chart.m_batch; }
        ~Batch()
        {
            if (--m_chart.m_batch == 0)
                m_chart.Flush();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        FlowChart& m_chart;
    };

    void SetView3D(bool on);
    bool View3D() const { return m_view3D; }

    int PointCount(int index) const;
    QList<QPointF> Points(int index) const;
    QLineSeries* Series(int index) const;
    QValueAxis* AxisX() const { return m_axisX; }
    QValueAxis* AxisY() const { return m_axisY; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Hands new points to the drawing and rescales the axes.
    void Flush();
    void Rescale();

    // The points live here; the line series hold a copy only in the flat
    // view, where Qt draws them. In the 3D view the depth item draws from
    // here, and Qt does no work per point for series it does not show.
    std::array<std::deque<QPointF>, kSeriesCount> m_points;
    std::array<QLineSeries*, kSeriesCount> m_series{};
    std::array<int64_t, kSeriesCount> m_nextNumber{};
    QValueAxis* m_axisX = nullptr;
    QValueAxis* m_axisY = nullptr;
    FlowChartDepthItem* m_depth = nullptr;
    std::array<QString, kSeriesCount> m_titles;
    std::array<bool, kSeriesCount> m_pending{};
    int m_batch = 0;
    bool m_view3D = false;
    QRectF m_shownRange;  // the value range the axes show (before the 3D widening)
};

// The chart windows' common part. The derived window's form holds the
// controls and their layout, and the derived window polls the meters in
// Timer1Timer.
class FlowChartWindow : public QDialog {
    Q_OBJECT

public:
    static constexpr int kMinPeriodMs = 200;
    static constexpr int kMaxPeriodMs = 5000;
    static constexpr int kDefaultPeriodMs = 2000;

    FlowChartWindow(DeviceLink& link, QWidget* parent);

    FlowChart& Chart() { return *Chart1; }
    QTimer& Timer() { return *Timer1; }

    void done(int result) override;

public slots:
    void FormShow();
    void FormClose();
    void CheckBox1Click();
    void SpinEdit1Change();
    void CheckBox2Click();
    virtual void SpeedButton1Click();
    virtual void Timer1Timer() = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    // Takes over the scan controls and the chart the derived window's form
    // made: the period's limits, the chart's view, and their handlers.
    void UseScanControls(QCheckBox* scan, QLabel* periodLabel, QSpinBox* period, QCheckBox* view3D,
                         QToolButton* clear, FlowChart* chart);

    // A poll goes on to its next meter, and the timer starts again after it,
    // only while the window is shown and "Сканировать" is checked: the
    // operator may close the window or untick the box while a read waits.
    bool Scanning() const;
    void ResumeTimer();

    // The poll of the installed meters, one read a meter while scanning; the
    // series past the list are titled "---". title names the series of a
    // meter read; a failed or refused read leaves its series as it was.
    void PollInstalledMeters(const std::function<QString(int position, SerialNumber serial, double flow)>& title);

    DeviceLink& m_link;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* PeriodLabel = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QTimer* Timer1 = nullptr;
    FlowChart* Chart1 = nullptr;
};

// Stops the poll timer for a poll and starts it again however the poll ends.
class PollTimerPause {
public:
    PollTimerPause(QTimer& timer, std::function<void()> resume);
    ~PollTimerPause();
    PollTimerPause(const PollTimerPause&) = delete;
    PollTimerPause& operator=(const PollTimerPause&) = delete;

private:
    std::function<void()> m_resume;
};
