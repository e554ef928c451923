// The flow chart windows, TForm7 (scanning) and TForm5 (flow setting), through
// their real controls (offscreen) against the virtual meter bench over a real
// pseudo-terminal; and the chart they share.

#include "bench_app.h"
#include "flow_chart.h"
#include "flow_setting_dialog.h"
#include "installed_meters.h"
#include "main_window.h"
#include "number_text.h"
#include "scan_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <memory>

using metersim::BenchOptions;
using metersim::FaultSpec;
using metersim::FlowProfile;
using metersim::MeterSpec;

namespace {

MeterSpec Meter(SerialNumber serial, double flow) { return BenchMeter(serial, 4, flow); }


void SetList(std::initializer_list<SerialNumber> serials)
{
    InstalledMeterList& list = InstalledMeters();
    list = InstalledMeterList{};
    for (SerialNumber s : serials)
        list.Serials[list.Count++] = s;
}

using Ms = std::chrono::duration<double, std::milli>;

}  // namespace

class FlowChartWindowsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;

    FlowChartWindow& Window(const QString& which)
    {
        if (which == QLatin1String("scan"))
            return f->app->Form7();
        return f->app->Form5();
    }
    template <class T> static T* Control(QWidget& w, const char* name) { return BenchApp::Find<T>(w, name); }
    // Shows the window non-modally (the modal loop is tested on its own) and
    // starts scanning with the period given.
    static void ShowScanning(FlowChartWindow& w, int periodMs)
    {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Control<QSpinBox>(w, "SpinEdit1")->setValue(periodMs);
        QCheckBox* scan = Control<QCheckBox>(w, "CheckBox1");
        if (!scan->isChecked())
            scan->click();
    }
    static void StopScanning(FlowChartWindow& w)
    {
        QCheckBox* scan = Control<QCheckBox>(w, "CheckBox1");
        if (scan->isChecked())
            scan->click();
    }
    // Waits until series `index` has grown to `count` points.
    static bool WaitPoints(FlowChartWindow& w, int index, int count, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return w.Chart().PointCount(index) >= count; }, timeoutMs);
    }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void twoInstalledMetersUseSeriesOneAndTwoOnly_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("scanning window") << "scan";
        QTest::newRow("flow-setting dialog") << "setting";
    }
    void twoInstalledMetersUseSeriesOneAndTwoOnly()
    {
        QFETCH(QString, window);
        QVERIFY(f->Start({Meter(101, 2.5), Meter(20202, 7.25), Meter(303, 1.0)}, true));
        SetList({101, 20202});
        FlowChartWindow& w = Window(window);
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 1, 1));
        for (int i = 2; i < 6; ++i)
            QCOMPARE(w.Chart().SeriesTitle(i), QStringLiteral("---"));
        QCOMPARE(w.Chart().SeriesTitle(0), Localised("№ 101   2.500"));
        QCOMPARE(w.Chart().SeriesTitle(1), Localised("№ 20202 7.250"));

        QVERIFY(WaitPoints(w, 1, 3));
        StopScanning(w);
        QCOMPARE(w.Chart().Points(0), (QList<QPointF>{{0, 2.5}, {1, 2.5}, {2, 2.5}}));
        QCOMPARE(w.Chart().Points(1), (QList<QPointF>{{0, 7.25}, {1, 7.25}, {2, 7.25}}));
        for (int i = 2; i < 6; ++i)
            QCOMPARE(w.Chart().PointCount(i), 0);
        const auto serials = f->RequestedSerials();
        QCOMPARE(std::count(serials.begin(), serials.end(), SerialNumber(303)), 0);
        QCOMPARE(f->boxes.count(), size_t(0));
    }

    void withoutAListTheCurrentMeterIsChartedWithItsRange()
    {
        QVERIFY(f->Start({Meter(555, 3.0), Meter(556, 4.0)}, true));
        Control<QSpinBox>(f->app->Form1(), "SpinEdit1")->setValue(555);
        TForm7& w = f->app->Form7();
        QVERIFY(!Control<QCheckBox>(w, "CheckBox3")->isChecked());
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 0, 2));
        StopScanning(w);
        QCOMPARE(w.Chart().SeriesTitle(0), Localised("№ 555   3.000 0.000"));
        for (int i = 1; i < 6; ++i) {
            QCOMPARE(w.Chart().SeriesTitle(i), QStringLiteral("---"));
            QCOMPARE(w.Chart().PointCount(i), 0);
        }
        const auto serials = f->RequestedSerials();
        QVERIFY(!serials.empty());
        QVERIFY(std::all_of(serials.begin(), serials.end(), [](SerialNumber s) { return s == 555; }));
    }

    void flowRange_data()
    {
        QTest::addColumn<bool>("withList");
        QTest::addColumn<bool>("clearFirst");
        QTest::addColumn<QList<double>>("flows");
        QTest::addColumn<QStringList>("ranges");
        for (bool list : {true, false}) {
            const QByteArray mode = list ? "list: " : "no list: ";
            QTest::newRow(mode + "at start 2.5") << list << false << QList<double>{2.5} << QStringList{"0.000"};
            QTest::newRow(mode + "cleared, 2.5 then 3.0")
                << list << true << QList<double>{2.5, 3.0} << QStringList{"0.000", "0.500"};
            QTest::newRow(mode + "cleared, always -1.0")
                << list << true << QList<double>{-1.0, -1.0} << QStringList{"1.000", "1.000"};
            QTest::newRow(mode + "at start, always -1.0") << list << false << QList<double>{-1.0} << QStringList{"1.000"};
            QTest::newRow(mode + "cleared, 3.0 2.5 4.0 3.5")
                << list << true << QList<double>{3.0, 2.5, 4.0, 3.5} << QStringList{"0.000", "0.500", "1.500", "1.500"};
        }
    }
    void flowRange()
    {
        QFETCH(bool, withList);
        QFETCH(bool, clearFirst);
        QFETCH(QList<double>, flows);
        QFETCH(QStringList, ranges);
        QVERIFY(f->Start({Meter(4321, 10.0)}, true));
        if (withList)
            SetList({4321});
        else
            Control<QSpinBox>(f->app->Form1(), "SpinEdit1")->setValue(4321);
        TForm7& w = f->app->Form7();
        Control<QCheckBox>(w, "CheckBox3")->setChecked(true);
        ShowScanning(w, 200);
        int points = 0;
        if (clearFirst) {
            QVERIFY(WaitPoints(w, 0, 1));  // 10.0 widens the range before the clearing
            QTest::mouseClick(Control<QToolButton>(w, "SpeedButton1"), Qt::LeftButton);
            QCOMPARE(w.Chart().PointCount(0), 0);
            QCOMPARE(w.Extremes(0).Largest, 0.0);
            QCOMPARE(w.Extremes(0).Smallest, 5000.0);
        }
        for (int k = 0; k < flows.size(); ++k) {
            // No poll is under way while the test runs: the next one reads the new flow.
            f->bench->SetFlow(4321, FlowProfile::Constant(flows[k]));
            QVERIFY(WaitPoints(w, 0, ++points));
            const QString expected = FormatText("№ %-5d %03.3f ", {4321LL, flows[k]}) + Localised(qPrintable(ranges[k]));
            QCOMPARE(w.Chart().SeriesTitle(0), expected);
        }
        StopScanning(w);
        QCOMPARE(w.Chart().Points(0).last().y(), flows.last());
    }

    void rangeFollowsTheCheckBoxAndSurvivesShowings()
    {
        QVERIFY(f->Start({Meter(11, 2.0)}, true));
        SetList({11});
        TForm7& w = f->app->Form7();
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 0, 1));
        QCOMPARE(w.Chart().SeriesTitle(0), Localised("№ 11    2.000"));
        f->bench->SetFlow(11, FlowProfile::Constant(2.75));
        Control<QCheckBox>(w, "CheckBox3")->setChecked(true);
        QVERIFY(WaitPoints(w, 0, 2));
        QCOMPARE(w.Chart().SeriesTitle(0), Localised("№ 11    2.750 0.750"));
        w.close();
        QVERIFY(!w.Timer().isActive());

        // Shown again: points and extremes are those of the last showing.
        f->bench->SetFlow(11, FlowProfile::Constant(1.5));
        w.show();
        QVERIFY(w.Timer().isActive());
        QCOMPARE(w.Chart().PointCount(0), 2);
        QVERIFY(WaitPoints(w, 0, 3));
        QCOMPARE(w.Chart().SeriesTitle(0), Localised("№ 11    1.500 1.250"));
        StopScanning(w);
    }

    void failedReadShowsItsBoxEveryPollAndThePollGoesOn_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QStringList>("perPoll");
        QTest::newRow("scanning window, silent meter") << "scan" << true << QStringList{"SN 202Нет ответа."};
        QTest::newRow("flow-setting dialog, wrong device type")
            << "setting" << false << QStringList{"SN 202Неверный тип прибора", "SN 202Нет ответа"};
    }
    void failedReadShowsItsBoxEveryPollAndThePollGoesOn()
    {
        QFETCH(QString, window);
        QFETCH(bool, silent);
        QFETCH(QStringList, perPoll);
        QVERIFY(f->Start({Meter(101, 1.0), Meter(202, 2.0), Meter(303, 3.0)}, true));
        SetList({101, 202, 303});
        FlowChartWindow& w = Window(window);
        if (auto* range = w.findChild<QCheckBox*>(QStringLiteral("CheckBox3")))
            range->setChecked(true);
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 2, 1));
        const QString title202 = w.Chart().SeriesTitle(1);
        QVERIFY(title202.startsWith(QStringLiteral("№ 202")));

        FaultSpec fault;
        fault.silent = silent;
        fault.wrongDeviceType = !silent;
        f->bench->SetFault(202, fault);
        f->bench->SetFlow(101, FlowProfile::Constant(1.25));
        f->bench->SetFlow(202, FlowProfile::Constant(9.0));
        f->bench->SetFlow(303, FlowProfile::Constant(3.25));
        std::vector<bool> timerStoppedDuringBox;
        f->boxes.onShow([&](const ShownMessage&) { timerStoppedDuringBox.push_back(!w.Timer().isActive()); });

        QVERIFY(WaitPoints(w, 2, 3, 30000));
        StopScanning(w);
        QStringList expected;
        for (int poll = 0; poll < 2; ++poll)
            expected += perPoll;
        QCOMPARE(f->boxes.texts(), expected);
        QVERIFY(std::all_of(timerStoppedDuringBox.begin(), timerStoppedDuringBox.end(), [](bool b) { return b; }));
        QCOMPARE(w.Chart().SeriesTitle(1), title202);
        QCOMPARE(w.Chart().PointCount(1), 1);
        QCOMPARE(w.Chart().Points(0).last().y(), 1.25);
        QCOMPARE(w.Chart().PointCount(0), 3);
        QVERIFY(w.Chart().SeriesTitle(2).startsWith(QStringLiteral("№ 303   ") + Localised("3.250")));
        if (window == QLatin1String("scan"))
            QCOMPARE(f->app->Form7().Extremes(1).Largest, 2.0);  // 9.0 never read
    }

    void flowThatIsNotANumberBreaksNeitherThePollNorTheChart()
    {
        QVERIFY(f->Start({Meter(101, std::nan("")), Meter(202, 2.0)}, true));
        SetList({101, 202});
        TForm7& w = f->app->Form7();
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 1, 2));
        StopScanning(w);
        QVERIFY(w.Chart().SeriesTitle(0).startsWith(QStringLiteral("№ 101   ")));
        QCOMPARE(w.Chart().PointCount(0), 0);  // nothing to draw
        QCOMPARE(w.Chart().SeriesTitle(1), Localised("№ 202   2.000"));
        QCOMPARE(f->boxes.count(), size_t(0));
        QVERIFY(std::isfinite(w.Chart().AxisY()->min()) && std::isfinite(w.Chart().AxisY()->max()));
    }

    void readRefusedDuringAnotherExchangeLeavesTheChartAlone()
    {
        MeterSpec slow = Meter(101, 1.0);
        slow.fault.lateMs = 400;
        QVERIFY(f->Start({slow, Meter(202, 2.0)}, true));
        SetList({101, 202});
        TForm7& w = f->app->Form7();
        ShowScanning(w, 5000);
        bool timerRunningAfter = false;
        int requestsDuringPoll = -1;
        // The main window waits for a reply; a tick of the scanning window
        // comes meanwhile (it is shown modally from that wait, say).
        QTimer::singleShot(100, &w, [&] {
            const size_t before = f->bench->Received().size();
            w.Timer1Timer();
            requestsDuringPoll = int(f->bench->Received().size() - before);
            timerRunningAfter = w.Timer().isActive();
        });
        DeviceState state{};
        QVERIFY(f->app->Form1().Link().ReadDeviceState(101, state));
        QCOMPARE(requestsDuringPoll, 0);
        QVERIFY(timerRunningAfter);
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(w.Chart().PointCount(0), 0);
        QCOMPARE(w.Chart().PointCount(1), 0);
        QCOMPARE(w.Chart().SeriesTitle(0), QString());
        QCOMPARE(w.Chart().SeriesTitle(2), QStringLiteral("---"));
        StopScanning(w);
    }

    void pollsNeverOverlapAndTheNextTickFollowsThePoll()
    {
        BenchOptions options;
        options.pace = true;
        MeterSpec slow = Meter(202, 2.0);
        slow.fault.lateMs = 250;
        QVERIFY(f->Start({Meter(101, 1.0), slow}, true, options));
        SetList({101, 202});
        TForm7& w = f->app->Form7();
        ShowScanning(w, 500);
        QVERIFY(WaitPoints(w, 1, 2));
        Control<QSpinBox>(w, "SpinEdit1")->setValue(200);
        QCOMPARE(w.Timer().interval(), 200);
        QVERIFY(WaitPoints(w, 1, 7));
        StopScanning(w);
        QVERIFY(!w.Timer().isActive());
        QTest::qWait(600);  // any reply still on the wire arrives

        std::vector<metersim::ReceivedFrame> requests;
        for (const auto& frame : f->bench->Received())
            if (frame.valid)
                requests.push_back(frame);
        const auto replies = f->bench->Sent();
        QCOMPARE(requests.size(), replies.size());
        QVERIFY(requests.size() >= 14);
        for (size_t k = 0; k < requests.size(); ++k) {
            QCOMPARE(int(requests[k].bytes[2] | (requests[k].bytes[3] << 8)), k % 2 == 0 ? 101 : 202);
            QVERIFY(replies[k].start >= requests[k].lastByte);
            if (k + 1 < requests.size())
                QVERIFY2(requests[k + 1].firstByte >= replies[k].end,
                         qPrintable(QStringLiteral("request %1 sent while %2 was outstanding").arg(k + 1).arg(k)));
        }
        // From the end of one poll (202's reply) to the next poll's request.
        std::vector<double> gaps;
        for (size_t k = 2; k < requests.size(); k += 2)
            gaps.push_back(Ms(requests[k].firstByte - replies[k - 1].end).count());
        QVERIFY2(gaps.front() >= 495 && gaps.front() < 700, qPrintable(QString::number(gaps.front())));
        for (size_t g = 2; g < gaps.size(); ++g)
            QVERIFY2(gaps[g] >= 195 && gaps[g] < 400, qPrintable(QStringLiteral("gap %1: %2 ms").arg(g).arg(gaps[g])));
        // Within a poll the next meter follows at once.
        for (size_t k = 1; k < requests.size(); k += 2)
            QVERIFY(Ms(requests[k].firstByte - replies[k - 1].end).count() < 100);
    }

    void uncheckingOrClosingStopsThePolling()
    {
        MeterSpec slow = Meter(101, 1.0);
        slow.fault.lateMs = 300;
        QVERIFY(f->Start({slow, Meter(202, 2.0)}, true));
        SetList({101, 202});
        TForm7& w = f->app->Form7();
        ShowScanning(w, 200);
        QVERIFY(WaitPoints(w, 1, 1));

        // Unticked while 101's read waits: 202 is not read, no tick follows.
        QTimer::singleShot(350, &w, [&] { Control<QCheckBox>(w, "CheckBox1")->click(); });
        QTest::qWait(1500);
        QCOMPARE(w.Chart().PointCount(0), 2);
        QCOMPARE(w.Chart().PointCount(1), 1);
        QVERIFY(!w.Timer().isActive());

        // Ticked again: polling resumes; closed while 101's read waits: the same.
        Control<QCheckBox>(w, "CheckBox1")->click();
        QVERIFY(WaitPoints(w, 1, 2));
        QTimer::singleShot(350, &w, [&] { w.close(); });
        QTest::qWait(1500);
        QVERIFY(!w.isVisible());
        QCOMPARE(w.Chart().PointCount(0), 4);
        QCOMPARE(w.Chart().PointCount(1), 2);
        QVERIFY(!w.Timer().isActive());
        const size_t requests = f->bench->Received().size();
        QTest::qWait(500);
        QCOMPARE(f->bench->Received().size(), requests);

        // Shown again with the box still ticked: polling resumes at once.
        w.show();
        QVERIFY(w.Timer().isActive());
        QVERIFY(WaitPoints(w, 1, 3));
        StopScanning(w);
        QCOMPARE(f->boxes.count(), size_t(0));
    }

    void flowSettingDialogResult_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("result");
        QTest::newRow("Пуск") << "start" << int(ModalResult::Ok);
        QTest::newRow("Отмена") << "cancel" << int(ModalResult::Cancel);
        QTest::newRow("Esc") << "escape" << int(ModalResult::Cancel);
        QTest::newRow("window closed") << "close" << int(ModalResult::Cancel);
        QTest::newRow("Enter does not start") << "enter" << int(ModalResult::Cancel);
    }
    void flowSettingDialogResult()
    {
        QFETCH(QString, action);
        QFETCH(int, result);
        QVERIFY(f->Start({}, true));
        TForm5& d = f->app->Form5();
        d.SetVolLabelText(FormatText("%1.3f м3/ч", {12.5}));
        bool shownModal = false;
        QString label;
        QTimer::singleShot(0, &d, [&] {
            shownModal = d.isVisible() && d.isModal();
            label = Control<QLabel>(d, "VolLabel")->text();
            if (action == QLatin1String("start"))
                QTest::mouseClick(Control<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
            else if (action == QLatin1String("cancel"))
                QTest::mouseClick(Control<QPushButton>(d, "BitBtn2"), Qt::LeftButton);
            else if (action == QLatin1String("escape"))
                QTest::keyClick(&d, Qt::Key_Escape);
            else if (action == QLatin1String("enter")) {
                QTest::keyClick(&d, Qt::Key_Return);
                QTimer::singleShot(50, &d, [&] { d.close(); });  // still open: close it
            } else
                d.close();
        });
        QCOMPARE(int(d.ShowModal()), result);
        QVERIFY(shownModal);
        QCOMPARE(label, Localised("12.500 м3/ч"));
        QVERIFY(!d.isVisible());
        QVERIFY(!d.Timer().isActive());
    }

    void flowSettingDialogKeepsItsPointsForTheNextShowing()
    {
        QVERIFY(f->Start({Meter(77, 4.5)}, true));
        SetList({77});
        TForm5& d = f->app->Form5();
        Control<QSpinBox>(d, "SpinEdit1")->setValue(200);
        QTimer::singleShot(0, &d, [&] {
            Control<QCheckBox>(d, "CheckBox1")->click();
            auto* watch = new QTimer(&d);
            QObject::connect(watch, &QTimer::timeout, &d, [&d, watch] {
                if (d.Chart().PointCount(0) >= 2) {
                    watch->deleteLater();
                    QTest::mouseClick(Control<QPushButton>(d, "BitBtn1"), Qt::LeftButton);
                }
            });
            watch->start(20);
        });
        QCOMPARE(d.ShowModal(), ModalResult::Ok);
        const int kept = d.Chart().PointCount(0);
        QVERIFY(kept >= 2);

        int pointsOnShow = -1;
        bool timerOnShow = false;
        QTimer::singleShot(0, &d, [&] {
            pointsOnShow = d.Chart().PointCount(0);
            timerOnShow = d.Timer().isActive();
            QTest::keyClick(&d, Qt::Key_Escape);
        });
        QCOMPARE(d.ShowModal(), ModalResult::Cancel);
        QCOMPARE(pointsOnShow, kept);
        QVERIFY(timerOnShow);
        QCOMPARE(d.Chart().SeriesTitle(0), Localised("№ 77    4.500"));
    }

    void scanningWindowOpensModalAndMaximisedFromTheMainWindow()
    {
        QVERIFY(f->Start({}, true));
        TForm7& w = f->app->Form7();
        bool modal = false, maximised = false;
        QString caption;
        QTimer::singleShot(0, &w, [&] {
            modal = w.isVisible() && w.isModal();
            maximised = w.windowState() & Qt::WindowMaximized;
            caption = w.windowTitle();
            QTest::keyClick(&w, Qt::Key_Escape);  // no cancel button: stays open
            QTimer::singleShot(50, &w, [&] {
                if (w.isVisible())
                    w.close();
            });
        });
        QTest::mouseClick(Control<QPushButton>(f->app->Form1(), "Button9"), Qt::LeftButton);
        QVERIFY(modal);
        QVERIFY(maximised);
        QCOMPARE(caption, QStringLiteral("Сканер"));
        QVERIFY(!w.isVisible());
        QCOMPARE(f->boxes.count(), size_t(0));
    }

    void view3DDiffersFromTheFlatViewAndSwitchesBothWays()
    {
        QVERIFY(f->Start({}, true));
        TForm7& w = f->app->Form7();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (int i = 0; i < 6; ++i)
            for (int k = 0; k < 30; ++k)
                w.Chart().AddPoint(i, 10 + i + std::sin(k / 4.0 + i));
        auto shot = [&] {
            QCoreApplication::processEvents();
            return w.Chart().grab().toImage();
        };
        QCheckBox* box = Control<QCheckBox>(w, "CheckBox2");
        const QImage view3d = shot();
        box->click();
        QVERIFY(!w.Chart().View3D());
        const QImage flat = shot();
        QVERIFY(flat != view3d);
        box->click();
        QVERIFY(w.Chart().View3D());
        QCOMPARE(shot(), view3d);
        box->click();
        QCOMPARE(shot(), flat);
        // Both views draw the series in their colours.
        for (const QImage& image : {view3d, flat}) {
            for (const QColor& c : FlowChart::SeriesColours()) {
                bool found = false;
                for (int y = 0; y < image.height() && !found; y += 1)
                    for (int x = 0; x < image.width() && !found; x += 1)
                        found = image.pixelColor(x, y) == c;
                QVERIFY2(found, qPrintable(c.name()));
            }
        }
    }

    void chartKeepsABoundedWindowAndScalesToIt()
    {
        FlowChart chart;
        chart.resize(800, 500);
        chart.AddPoint(0, 100.0);
        const int n = FlowChart::kMaxPoints + 250;
        for (int k = 1; k < n; ++k)
            chart.AddPoint(0, 1.0 + (k % 7) * 0.125);
        QCOMPARE(chart.PointCount(0), FlowChart::kMaxPoints);
        QCOMPARE(chart.Points(0).first().x(), 250.0);
        QCOMPARE(chart.Points(0).last().x(), double(n - 1));
        // The axes follow what is kept (to whole ticks): the early 100.0 has
        // left the window.
        QVERIFY(chart.AxisX()->min() <= 250 && chart.AxisX()->min() >= 150);
        QVERIFY(chart.AxisX()->max() >= n - 1);
        QVERIFY(chart.AxisY()->min() <= 1.0);
        QVERIFY(chart.AxisY()->max() >= 1.75 && chart.AxisY()->max() < 10);

        // A value that cannot be drawn leaves a gap; the numbering goes on.
        chart.AddPoint(1, 5.0);
        chart.AddPoint(1, std::nan(""));
        chart.AddPoint(1, 6.0);
        QCOMPARE(chart.Points(1), (QList<QPointF>{{0, 5.0}, {2, 6.0}}));

        chart.Clear();
        for (int i = 0; i < FlowChart::kSeriesCount; ++i)
            QCOMPARE(chart.PointCount(i), 0);
        chart.AddPoint(0, -3.0);
        QCOMPARE(chart.Points(0), (QList<QPointF>{{0, -3.0}}));
        QVERIFY(chart.AxisY()->min() <= -3.0 && chart.AxisY()->max() >= -3.0);
    }
};

QTEST_MAIN(FlowChartWindowsTest)
#include "flow_chart_windows_test.moc"
