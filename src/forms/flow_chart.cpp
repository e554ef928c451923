#include "flow_chart.h"

#include "device_link.h"
#include "handler.h"
#include "installed_meters.h"
#include "window_behaviour.h"

#include <QChart>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGraphicsItem>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

const char* const kTitle = "Мгновенный расход";
const char* const kAxisTitle = "Расход";

// A step of 1, 2 or 5 times a power of ten, giving about `ticks` intervals.
double NiceStep(double span, int ticks)
{
    if (!(span > 0))
        return 1;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double m = raw / power;
    return (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * power;
}

// The colour a ribbon's face gets: the series colour washed towards white,
// so that black and grey series still read as solid bands.
QColor Face(const QColor& c)
{
    return QColor((c.red() + 255 * 2) / 3, (c.green() + 255 * 2) / 3, (c.blue() + 255 * 2) / 3);
}

}  // namespace

// Draws the 3D view over the plot area: the walls of a box whose front face
// is the value range of the data and whose back face lies up and to the
// right, and each series as a ribbon in its own depth slot, back to front.
// The axes keep Qt's own mapping; the value ranges are widened by the depth
// so that the front face and the axis labels agree.
class FlowChartDepthItem : public QGraphicsItem {
public:
    using Points = std::array<std::deque<QPointF>, FlowChart::kSeriesCount>;
    using Colours = std::array<QColor, FlowChart::kSeriesCount>;

    FlowChartDepthItem(QChart* chart, const Points& points, const Colours& colours)
        : QGraphicsItem(chart), m_chart(chart), m_points(points), m_colours(colours)
    {
        // Above the plot background and the (hidden) grid, below the axes' labels.
        setZValue(1.5);
        setFlag(ItemClipsToShape, false);
    }

    // The value range the front face shows.
    void SetFront(const QRectF& values) { m_front = values; }
    // Follows the plot area when the chart's layout moves it.
    void Relayout()
    {
        prepareGeometryChange();
        m_bounds = m_chart->plotArea();
        update();
    }

    QRectF boundingRect() const override { return m_bounds; }

    void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        const QRectF plot = m_chart->plotArea();
        auto* ax = static_cast<QValueAxis*>(m_chart->axes(Qt::Horizontal).value(0));
        auto* ay = static_cast<QValueAxis*>(m_chart->axes(Qt::Vertical).value(0));
        if (!ax || !ay || plot.isEmpty() || !(ax->max() > ax->min()) || !(ay->max() > ay->min()))
            return;
        const double sx = plot.width() / (ax->max() - ax->min());
        const double sy = plot.height() / (ay->max() - ay->min());
        auto map = [&](double x, double y) {
            return QPointF(plot.left() + (x - ax->min()) * sx, plot.bottom() - (y - ay->min()) * sy);
        };
        const QPointF frontTopRight = map(m_front.right(), m_front.bottom());
        const QPointF frontBottomLeft = map(m_front.left(), m_front.top());
        const QRectF front(QPointF(frontBottomLeft.x(), frontTopRight.y()), QPointF(frontTopRight.x(), frontBottomLeft.y()));
        const QPointF depth = plot.topRight() - front.topRight();  // right and up

        p->save();
        p->setClipRect(plot);
        p->setRenderHint(QPainter::Antialiasing, true);

        // Walls: back, left, floor.
        const QRectF back = front.translated(depth);
        const QPen wallPen(QColor(150, 150, 150), 1);
        p->setPen(wallPen);
        p->setBrush(QColor(250, 250, 250));
        p->drawRect(back);
        p->setBrush(QColor(232, 232, 232));
        p->drawPolygon(QPolygonF{front.topLeft(), back.topLeft(), back.bottomLeft(), front.bottomLeft()});
        p->setBrush(QColor(214, 214, 214));
        p->drawPolygon(QPolygonF{front.bottomLeft(), back.bottomLeft(), back.bottomRight(), front.bottomRight()});

        // Grid on the back wall, carried along the left wall and the floor.
        p->setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
        for (double y : Ticks(ay, m_front.top(), m_front.bottom())) {
            const QPointF a = map(m_front.left(), y);
            p->drawLine(a, a + depth);
            p->drawLine(a + depth, map(m_front.right(), y) + depth);
        }
        for (double x : Ticks(ax, m_front.left(), m_front.right())) {
            const QPointF a = map(x, m_front.top());
            p->drawLine(a, a + depth);
            p->drawLine(a + depth, map(x, m_front.bottom()) + depth);
        }

        // Series i sits in depth slot i of six; the back ones first. The
        // faces are filled without antialiasing and edged with thin
        // antialiased lines: wide antialiased strokes of a thousand points
        // would cost the UI thread tens of milliseconds per repaint.
        const int n = FlowChart::kSeriesCount;
        QPolygonF line;
        QPolygonF ribbon;
        for (int i = n - 1; i >= 0; --i) {
            const std::deque<QPointF>& values = m_points[i];
            if (values.empty())
                continue;
            const QPointF near = depth * ((i + 0.15) / n);
            const QPointF far = depth * ((i + 0.85) / n);
            line.clear();
            for (const QPointF& v : values)
                line << map(v.x(), v.y());
            const QColor& colour = m_colours[i];
            if (line.size() == 1) {
                p->setPen(QPen(colour, 3, Qt::SolidLine, Qt::RoundCap));
                p->drawLine(line[0] + near, line[0] + far);
                continue;
            }
            ribbon = line.translated(near);
            for (qsizetype k = line.size() - 1; k >= 0; --k)
                ribbon << line[k] + far;
            p->setRenderHint(QPainter::Antialiasing, false);
            p->setPen(Qt::NoPen);
            p->setBrush(Face(colour));
            p->drawPolygon(ribbon, Qt::WindingFill);
            p->setRenderHint(QPainter::Antialiasing, true);
            p->setBrush(Qt::NoBrush);
            p->setPen(QPen(colour, 0));
            p->drawPolyline(line.translated(far));
            p->drawPolyline(line.translated(near));
            p->drawPolyline(line.translated(near + QPointF(0, 1)));
        }
        p->restore();
    }

private:
    // The tick values of a dynamic-tick axis inside [from, to].
    static std::vector<double> Ticks(const QValueAxis* axis, double from, double to)
    {
        std::vector<double> out;
        const double step = axis->tickInterval();
        if (!(step > 0))
            return out;
        for (double v = std::ceil((from - axis->tickAnchor()) / step - 1e-9) * step + axis->tickAnchor();
             v <= to + step * 1e-9 && out.size() < 200; v += step)
            out.push_back(v);
        return out;
    }

    QChart* m_chart;
    const Points& m_points;
    const Colours& m_colours;
    QRectF m_front;
    QRectF m_bounds;
};

const std::array<QColor, FlowChart::kSeriesCount>& FlowChart::SeriesColours()
{
    static const std::array<QColor, kSeriesCount> colours = {
        QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255),
        QColor(0, 255, 0), QColor(128, 128, 128), QColor(0, 0, 0),
    };
    return colours;
}

FlowChart::FlowChart(QWidget* parent) : QChartView(parent)
{
    setObjectName(QStringLiteral("Chart1"));
    auto* chart = new QChart;
    chart->setTitle(QString::fromUtf8(kTitle));
    chart->setAnimationOptions(QChart::NoAnimation);
    // The user's decimal separator on the axes; no thousands groups in point numbers.
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(locale);
    chart->setLocalizeNumbers(true);
    QFont titleFont = chart->titleFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);

    m_axisX = new QValueAxis(chart);
    m_axisX->setTickType(QValueAxis::TicksDynamic);
    m_axisX->setTickAnchor(0);
    m_axisX->setLabelFormat(QStringLiteral("%.0f"));
    m_axisY = new QValueAxis(chart);
    m_axisY->setTitleText(QString::fromUtf8(kAxisTitle));
    m_axisY->setTickType(QValueAxis::TicksDynamic);
    m_axisY->setTickAnchor(0);
    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(m_axisY, Qt::AlignLeft);

    for (int i = 0; i < kSeriesCount; ++i) {
        auto* s = new QLineSeries(chart);
        s->setObjectName(QStringLiteral("Series%1").arg(i + 1));
        s->setPointsVisible(false);
        chart->addSeries(s);
        s->attachAxis(m_axisX);
        s->attachAxis(m_axisY);
        // After addSeries: the theme would otherwise recolour it (and has
        // only five colours of its own).
        s->setPen(QPen(SeriesColours()[i], 1.5));
        m_series[i] = s;
    }

    QLegend* legend = chart->legend();
    legend->setAlignment(Qt::AlignRight);
    // Fixed-width digits keep the titles' columns under one another.
    legend->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    // setChart releases the view's own default chart without deleting it.
    QChart* defaultChart = this->chart();
    setChart(chart);
    delete defaultChart;
    setRenderHint(QPainter::Antialiasing, true);
    m_depth = new FlowChartDepthItem(chart, m_points, SeriesColours());
    connect(chart, &QChart::plotAreaChanged, this, [this] { m_depth->Relayout(); });
    SetView3D(true);
}

FlowChart::~FlowChart() = default;

QLineSeries* FlowChart::Series(int index) const
{
    return index >= 0 && index < kSeriesCount ? m_series[index] : nullptr;
}

void FlowChart::SetSeriesTitle(int index, const QString& title)
{
    if (index < 0 || index >= kSeriesCount)
        return;
    m_titles[index] = title;
    if (m_batch == 0)
        Flush();
}

QString FlowChart::SeriesTitle(int index) const
{
    return index >= 0 && index < kSeriesCount ? m_titles[index] : QString();
}

void FlowChart::AddPoint(int index, double flow)
{
    QLineSeries* s = Series(index);
    if (!s)
        return;
    const int64_t number = m_nextNumber[index]++;
    // A value that cannot be drawn leaves a gap; the numbering goes on.
    if (!std::isfinite(flow))
        return;
    std::deque<QPointF>& points = m_points[index];
    points.emplace_back(double(number), flow);
    if (points.size() > size_t(kMaxPoints))
        points.pop_front();
    m_pending[index] = true;
    if (m_batch == 0)
        Flush();
}

void FlowChart::Flush()
{
    for (int i = 0; i < kSeriesCount; ++i) {
        // Every changed title costs the legend a new layout and the chart a
        // repaint: only real changes go to it.
        if (m_series[i]->name() != m_titles[i]) {
            m_series[i]->setName(m_titles[i]);
            // The legend renders its labels as rich text, which would fold
            // the padding of "%-5d": show it with spaces that do not fold.
            QString shown = m_titles[i];
            shown.replace(QLatin1Char(' '), QChar(0x00A0));
            for (QLegendMarker* marker : chart()->legend()->markers(m_series[i]))
                marker->setLabel(shown);
        }
        // One replacement per series and poll: appending and dropping point
        // by point would make Qt rebuild the series' geometry twice per point.
        if (m_pending[i] && !m_view3D)
            m_series[i]->replace(Points(i));
        m_pending[i] = false;
    }
    Rescale();
    m_depth->update();
}

void FlowChart::Clear()
{
    for (int i = 0; i < kSeriesCount; ++i) {
        m_points[i].clear();
        m_series[i]->clear();
        m_nextNumber[i] = 0;
        m_pending[i] = false;
    }
    Rescale();
    m_depth->update();
}

int FlowChart::PointCount(int index) const
{
    return index >= 0 && index < kSeriesCount ? int(m_points[index].size()) : 0;
}

QList<QPointF> FlowChart::Points(int index) const
{
    if (index < 0 || index >= kSeriesCount)
        return {};
    return QList<QPointF>(m_points[index].begin(), m_points[index].end());
}

void FlowChart::SetView3D(bool on)
{
    m_view3D = on;
    for (int i = 0; i < kSeriesCount; ++i) {
        if (on)
            m_series[i]->clear();
        else
            m_series[i]->replace(Points(i));
    }
    m_axisX->setGridLineVisible(!on);
    m_axisY->setGridLineVisible(!on);
    m_depth->setVisible(on);
    m_shownRange = QRectF();
    Rescale();
    m_depth->update();
}

void FlowChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    // The 3D depth is a share of the plot's width: its share of the value
    // ranges follows the window's shape.
    if (m_view3D) {
        m_shownRange = QRectF();
        Rescale();
    }
}

void FlowChart::Rescale()
{
    double xMin = std::numeric_limits<double>::infinity(), xMax = -xMin;
    double yMin = xMin, yMax = -xMin;
    for (const std::deque<QPointF>& points : m_points) {
        if (points.empty())
            continue;
        xMin = std::min(xMin, points.front().x());
        xMax = std::max(xMax, points.back().x());
        for (const QPointF& p : points) {
            yMin = std::min(yMin, p.y());
            yMax = std::max(yMax, p.y());
        }
    }
    if (!(xMax >= xMin)) {
        xMin = 0;
        xMax = 10;
    }
    xMax = std::max(xMax, xMin + 10);
    if (!(yMax >= yMin)) {
        yMin = 0;
        yMax = 1;
    }
    if (yMax - yMin < 1e-6) {
        const double pad = std::max(std::abs(yMax) * 0.05, 0.05);
        yMin -= pad;
        yMax += pad;
    }
    // Both ranges snap to whole ticks, so the axes, and with them every
    // series' geometry, change only now and then as points come in.
    const double xStep = NiceStep(xMax - xMin, 10);
    xMin = std::floor(xMin / xStep) * xStep;
    xMax = std::ceil(xMax / xStep) * xStep;
    const double yStep = NiceStep(yMax - yMin, 8);
    yMin = std::floor(yMin / yStep) * yStep;
    yMax = std::ceil(yMax / yStep) * yStep;
    const QRectF range(QPointF(xMin, yMin), QPointF(xMax, yMax));
    if (range == m_shownRange)
        return;
    m_shownRange = range;

    double xExtra = 0, yExtra = 0;
    if (m_view3D) {
        // Depth: kDepthShare of the front face's width, drawn at 45 degrees.
        const double w = std::max(1, viewport()->width());
        const double h = std::max(1, viewport()->height());
        const double k = kDepthShare * std::sqrt(0.5);
        xExtra = k;
        const double a = std::min(k * w / h, 0.4);
        yExtra = a / (1 - a);
    }
    const int decimals = std::clamp(int(-std::floor(std::log10(yStep) + 1e-9)), 0, 6);
    m_depth->SetFront(range);
    m_axisX->setTickInterval(xStep);
    m_axisX->setRange(xMin, xMax + (xMax - xMin) * xExtra);
    m_axisY->setTickInterval(yStep);
    m_axisY->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    m_axisY->setRange(yMin, yMax + (yMax - yMin) * yExtra);
}

FlowChartWindow::FlowChartWindow(DeviceLink& link, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      m_link(link)
{
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    // The period is counted from the end of a poll; a coarse timer would
    // let a 200 ms period drift by 10 ms either way.
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(kDefaultPeriodMs);
    connect(Timer1, &QTimer::timeout, this, [this] { RunHandler([this] { Timer1Timer(); }); });
}

void FlowChartWindow::UseScanControls(QCheckBox* scan, QLabel* periodLabel, QSpinBox* period, QCheckBox* view3D,
                                      QToolButton* clear, FlowChart* chart)
{
    CheckBox1 = scan;
    PeriodLabel = periodLabel;
    SpinEdit1 = period;
    CheckBox2 = view3D;
    SpeedButton1 = clear;
    Chart1 = chart;
    SpinEdit1->setRange(kMinPeriodMs, kMaxPeriodMs);
    SpinEdit1->setValue(kDefaultPeriodMs);
    Chart1->SetView3D(CheckBox2->isChecked());

    connect(CheckBox1, &QCheckBox::clicked, this, [this] { RunHandler([this] { CheckBox1Click(); }); });
    connect(CheckBox2, &QCheckBox::clicked, this, [this] { RunHandler([this] { CheckBox2Click(); }); });
    connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { RunHandler([this] { SpinEdit1Change(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { RunHandler([this] { SpeedButton1Click(); }); });
}

void FlowChartWindow::FormShow()
{
    if (CheckBox1->isChecked())
        Timer1->start();
    else
        Timer1->stop();
}

void FlowChartWindow::FormClose()
{
    Timer1->stop();
}

void FlowChartWindow::CheckBox1Click()
{
    if (CheckBox1->isChecked())
        Timer1->start();
    else
        Timer1->stop();
}

void FlowChartWindow::SpinEdit1Change()
{
    // A running timer starts its new period now; a stopped one (mid-poll)
    // takes it when the poll restarts it.
    Timer1->setInterval(SpinEdit1->value());
}

void FlowChartWindow::CheckBox2Click()
{
    Chart1->SetView3D(CheckBox2->isChecked());
}

void FlowChartWindow::SpeedButton1Click()
{
    Chart1->Clear();
}

bool FlowChartWindow::Scanning() const
{
    return isVisible() && CheckBox1->isChecked();
}

void FlowChartWindow::ResumeTimer()
{
    if (Scanning())
        Timer1->start();
}

void FlowChartWindow::PollInstalledMeters(const std::function<QString(int position, SerialNumber serial, double flow)>& title)
{
    const InstalledMeterList& list = InstalledMeters();
    const int count = std::clamp(list.Count, 0, FlowChart::kSeriesCount);
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
        // under way) none.
        if (!m_link.PollDeviceState(n, state))
            continue;
        const double flow = state.FlowRate;
        Chart1->SetSeriesTitle(c, title(c, n, flow));
        Chart1->AddPoint(c, flow);
    }
}

void FlowChartWindow::done(int result)
{
    RunHandler([this] { FormClose(); });
    QDialog::done(result);
}

void FlowChartWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;  // restored from the task bar, not opened
    if (!(windowState() & Qt::WindowMaximized))
        CentreOnScreen(*this);
    RunHandler([this] { FormShow(); });
}

void FlowChartWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        Timer1->stop();  // however it was hidden: no poll of a closed window
}

PollTimerPause::PollTimerPause(QTimer& timer, std::function<void()> resume) : m_resume(std::move(resume))
{
    timer.stop();
}

PollTimerPause::~PollTimerPause()
{
    m_resume();
}
