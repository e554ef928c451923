// The windows that talk to meters, each under every fault of the virtual
// bench, driven through their own controls over a real pseudo-terminal: the
// main window's commands and the two chart windows' polls. For each pair the
// user is told exactly what the fault calls for, the window keeps serving
// events, no request goes out over one still within its reply window, and
// once the fault ends the same window works again without a restart.

#include "bench_app.h"
#include "bench_faults.h"
#include "config_editor.h"
#include "flow_chart.h"
#include "flow_setting_dialog.h"
#include "installed_meters.h"
#include "main_window.h"
#include "number_text.h"
#include "scan_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(Fault)

namespace {

// What the user does in which window.
enum class Action { LinkTest, ReadParameters, WriteConfiguration, ResetCounter, Scan, FlowSetting };
const char* const kActionNames[] = {"link test",  "read parameters", "write configuration",
                                    "reset counter", "scanning window", "flow-setting dialog"};

// The device operation behind each main-window command.
Op OpOf(Action a)
{
    switch (a) {
    case Action::LinkTest: return Op::Identify;
    case Action::WriteConfiguration: return Op::WriteConfig;
    case Action::ResetCounter: return Op::ResetCounter;
    default: return Op::ReadState;  // the chart polls, and the first read of the parameters
    }
}

bool IsChart(Action a) { return a == Action::Scan || a == Action::FlowSetting; }

// Measures the longest pause between events of a 25 ms timer: how long the
// UI stood still.
class Responsiveness {
public:
    Responsiveness()
    {
        m_timer.setInterval(25);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_longest = std::max(m_longest, m_since.restart()); });
        m_since.start();
        m_timer.start();
    }
    qint64 LongestGapMs() const { return std::max(m_longest, m_since.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

}  // namespace

Q_DECLARE_METATYPE(Action)

class WindowFaultsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;

    TForm1& Main() { return f->app->Form1(); }
    FlowChartWindow& Chart(Action a)
    {
        if (a == Action::Scan)
            return f->app->Form7();
        return f->app->Form5();
    }
    template <class T> T* Control(QWidget& w, const char* name) { return BenchApp::Find<T>(w, name); }

    // The user's way back after a broken line: the port chosen again.
    void ReopenPort()
    {
        Main().ComboBox1Change();
        QVERIFY(Main().ComPort1().Active());
    }

    // Runs one main-window command the way the user does; the editor, when
    // the write opens it, is confirmed as it stands.
    void RunCommand(Action a)
    {
        switch (a) {
        case Action::LinkTest: QTest::mouseClick(Control<QPushButton>(Main(), "Button1"), Qt::LeftButton); break;
        case Action::ReadParameters: QTest::mouseClick(Control<QPushButton>(Main(), "Button2"), Qt::LeftButton); break;
        case Action::WriteConfiguration:
            QTimer::singleShot(50, &f->app->Form2(), [this] { f->app->Form2().accept(); });
            QTest::mouseClick(Control<QPushButton>(Main(), "Button3"), Qt::LeftButton);
            break;
        case Action::ResetCounter: QTest::mouseClick(Control<QPushButton>(Main(), "Button6"), Qt::LeftButton); break;
        default: QFAIL("not a main-window command");
        }
    }

    // The boxes a main-window command shows for an outcome.
    static std::vector<ShownMessage> CommandBoxes(Action a, Outcome outcome, SerialNumber n)
    {
        if (a == Action::LinkTest && outcome == Outcome::Ok)
            return {{MsgKind::Information, QStringLiteral("ЗРМ №%1  на связи!").arg(kFaultyMeter), mbOK}};
        return Boxes(OpOf(a), outcome, n);
    }

    void CheckCommand(Action a, Outcome outcome, SerialNumber target)
    {
        QCOMPARE(f->boxes.shown(), CommandBoxes(a, outcome, target));
        const QStringList state =
            Control<QPlainTextEdit>(Main(), "Memo1")->toPlainText().split('\n', Qt::SkipEmptyParts);
        if (a == Action::ReadParameters) {
            QCOMPARE(state.size(), outcome == Outcome::Ok ? 3 : 0);
            if (outcome == Outcome::Ok)
                QCOMPARE(state[0], FormatText("Расход м3/ч\t %3.3f", {kFaultyMeterFlow}));
        }
        // Every command gives the buttons back, however it ended.
        QVERIFY(Control<QPushButton>(Main(), "Button1")->isEnabled());
        QVERIFY(Control<QPushButton>(Main(), "Button2")->isEnabled());
        QVERIFY(!Main().Link().Busy());
    }

    // Scans until `polls` polls have failed (each one's boxes shown) or, when
    // the meter answers, until `polls` points have come; then stops scanning
    // and waits for the poll under way to end.
    void Scan(Action a, Outcome outcome, int polls)
    {
        FlowChartWindow& w = Chart(a);
        const size_t perPoll = Boxes(Op::ReadState, outcome, 0).size();
        const int pointsBefore = w.Chart().PointCount(0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        Control<QSpinBox>(w, "SpinEdit1")->setValue(FlowChartWindow::kMinPeriodMs);
        auto* scan = Control<QCheckBox>(w, "CheckBox1");
        if (!scan->isChecked())
            scan->click();
        const bool done = QTest::qWaitFor(
            [&] {
                return outcome == Outcome::Ok ? w.Chart().PointCount(0) >= pointsBefore + polls
                                              : f->boxes.count() >= perPoll * size_t(polls);
            },
            30000);
        scan->click();
        QVERIFY(!scan->isChecked());
        QVERIFY2(done, "the polls did not come");
        QVERIFY(QTest::qWaitFor([&] { return !Main().Link().Busy(); }, 10000));
        // Unticked, the window sends nothing more: a poll timer still running
        // would fire within one period.
        const size_t requests = f->bench->Received().size();
        QTest::qWait(2 * FlowChartWindow::kMinPeriodMs);
        QCOMPARE(f->bench->Received().size(), requests);
        w.hide();
    }

    void CheckPolls(Action a, Outcome outcome, SerialNumber target, const QString& titleBefore)
    {
        FlowChart& chart = Chart(a).Chart();
        const std::vector<ShownMessage> perPoll = Boxes(Op::ReadState, outcome, target);
        const std::vector<ShownMessage>& shown = f->boxes.shown();
        if (outcome == Outcome::Ok) {
            QCOMPARE(shown, std::vector<ShownMessage>{});
            QVERIFY(chart.PointCount(0) >= 1);
            QCOMPARE(chart.Points(0).last().y(), kFaultyMeterFlow);
            const QString title = FormatText("№ %-5d %03.3f", {static_cast<long long>(target), kFaultyMeterFlow});
            QVERIFY2(chart.SeriesTitle(0).startsWith(title), qPrintable(chart.SeriesTitle(0)));
            return;
        }
        // Each failed poll shows its boxes once; the series keeps nothing.
        QVERIFY(!shown.empty());
        QCOMPARE(shown.size() % perPoll.size(), size_t(0));
        for (size_t i = 0; i < shown.size(); i += perPoll.size())
            QCOMPARE(std::vector<ShownMessage>(shown.begin() + long(i), shown.begin() + long(i + perPoll.size())),
                     perPoll);
        QCOMPARE(chart.PointCount(0), 0);
        QCOMPARE(chart.SeriesTitle(0), titleBefore);
    }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void faultSurvivedAndRecovered_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Action>("action");
        for (Fault fault : kAllFaults)
            for (Action a : {Action::LinkTest, Action::ReadParameters, Action::WriteConfiguration,
                             Action::ResetCounter, Action::Scan, Action::FlowSetting}) {
                // The reset waits for no reply, so there is none to lose.
                if (a == Action::ResetCounter && fault == Fault::UnplugMidReply)
                    continue;
                QTest::addRow("%s, %s", FaultName(fault), kActionNames[int(a)]) << fault << a;
            }
    }
    void faultSurvivedAndRecovered()
    {
        QFETCH(Fault, fault);
        QFETCH(Action, action);

        const SerialNumber target = FaultTarget(fault);
        QVERIFY(f->Start(FaultyMeters(fault), false));

        // The meter addressed: the main window's number; the chart windows
        // poll the installed list, or with no list (the broadcast number)
        // the scanning window polls the main window's number.
        Control<QSpinBox>(Main(), "SpinEdit1")->setValue(target);
        if (IsChart(action) && (target != 0 || action == Action::FlowSetting)) {
            InstalledMeterList& list = InstalledMeters();
            list.Serials[0] = target;
            list.Count = 1;
        }

        BreakLine(fault, *f->bench);
        if (fault == Fault::UnplugMidReply)
            QTimer::singleShot(kUnplugAfterMs, [this] { f->bench->Unplug(); });

        const Op op = OpOf(action);
        const Outcome outcome = Expected(fault, op);
        {
            Responsiveness ui;
            if (IsChart(action)) {
                const QString titleBefore = Chart(action).Chart().SeriesTitle(0);
                // A silent meter costs 8 s a poll: one is enough to judge.
                Scan(action, outcome, fault == Fault::Silence ? 1 : 2);
                CheckPolls(action, outcome, target, titleBefore);
            } else {
                RunCommand(action);
                CheckCommand(action, outcome, target);
            }
            if (QTest::currentTestFailed())
                return;
            QVERIFY2(ui.LongestGapMs() < 500, qPrintable(QStringLiteral("the UI stood still for %1 ms")
                                                             .arg(ui.LongestGapMs())));
        }
        QCOMPARE(QString::fromStdString(RequestOverlaps(*f->bench)), QString());

        // The fault ends; the user carries on in the same window.
        if (fault == Fault::Late)
            QTest::qWait(kLateMs + 200);  // the last late reply comes and goes
        f->boxes.clear();
        if (EndFault(fault, *f->bench))
            ReopenPort();
        if (action == Action::ResetCounter)
            QTest::qWait(100);  // the previous acknowledgement is off the line
        if (IsChart(action)) {
            Scan(action, Outcome::Ok, 2);
            CheckPolls(action, Outcome::Ok, target, QString());
        } else {
            RunCommand(action);
            CheckCommand(action, Outcome::Ok, target);
        }
        QCOMPARE(QString::fromStdString(RequestOverlaps(*f->bench)), QString());
    }
};

QTEST_MAIN(WindowFaultsTest)
#include "window_faults_test.moc"
