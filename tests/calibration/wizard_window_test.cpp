// TForm3, the calibration and verification wizard, through the real program
// (offscreen) against the virtual meter bench over a real pseudo-terminal:
// starting and resuming runs, the stages, the computation, the state file
// and the final write into the meters.

#include "bench_app.h"
#include "combo_pick.h"
#include "modal_answer.h"
#include "diameter_defaults.h"
#include "flow_setting_dialog.h"
#include "installed_meters.h"
#include "installed_meters_dialog.h"
#include "journal_kinds.h"
#include "main_window.h"
#include "number_text.h"
#include "protocol_fields_dialog.h"
#include "protocol_workbook.h"
#include "run_state.h"
#include "spreadsheet_app.h"
#include "wizard_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

using metersim::MeterSpec;

namespace {

constexpr int kMeters = 6;
constexpr int kDu50 = 4;
const SerialNumber kSerials[kMeters] = {1201, 1202, 1203, 1204, 1205, 1206};
// Each meter's systematic error at stage 1, percent; it drifts by 0.1 per
// stage, up for odd meters and down for even ones.
const double kBaseError[kMeters] = {0.8, -0.5, 0.3, -1.2, 2.0, 0.0};

double MeterError(int meter, int stage)
{
    return kBaseError[meter] + 0.1 * (stage - 1) * (meter % 2 ? -1 : 1);
}

// The bench's entries of a stage: reference pulses of 0.1 l over a time
// that gives a round count at the stage's set-point.
struct Bench {
    int n = 0;     // reference pulses
    double v = 0.1;
    double t = 0;  // seconds
    double w = 0;  // the meters' pulse weight at this flow
    std::array<int, kMeters> g{};
};

Bench StageBench(bool verification, int stage)
{
    // Ду 50 set-points, m3/h.
    const double calibration[] = {35, 1.5, 0.7, 0.3, 0.15};
    const double verificationPoints[] = {35, 0.7, 0.3};
    const double seconds[] = {60, 300, 600, 600, 1200};
    const double q = verification ? verificationPoints[stage - 1] : calibration[stage - 1];
    Bench b;
    b.t = seconds[stage - 1];
    b.n = int(std::lround(q * 1000 * b.t / 3600 / b.v));
    b.w = q < 7 ? 0.15 / 4 : 0.15;
    for (int i = 0; i < kMeters; ++i)
        b.g[std::size_t(i)] = int(std::lround(b.n * b.v * (1 + MeterError(i, stage) / 100) / b.w));
    return b;
}

// What the meters should end up with, by the documented formula.
struct Expected {
    float k = 0;
    float fl = 0;
    double error = 0;
};

Expected ExpectedFor(const Bench& b, int meter)
{
    const long double nv = (long double)b.n * (long double)b.v;
    const long double meterVolume = (long double)b.g[std::size_t(meter)] * (long double)b.w;
    Expected e;
    e.error = double((meterVolume - nv) / nv * 100);
    e.k = float(nv / meterVolume);
    e.fl = float((nv / 1000 / (long double)b.t * 3600) / (long double)e.k);
    return e;
}

QString F(const char* format, double v) { return FormatFloat(format, v); }

MeterSpec Meter(SerialNumber serial, int index)
{
    DeviceConfig c = DefaultConfigFor(kDu50);
    c.MainCal = 1.0f + 0.01f * float(index);
    c.Tail = {uint8_t(0xA0 + index), 0x3C, 0};  // bytes 52-53 the program must carry
    return BenchMeter(serial, kDu50, 35, c);
}

void ClickChild(QWidget* parent, const char* name)
{
    auto* b = parent->findChild<QPushButton*>(QString::fromUtf8(name));
    QVERIFY2(b, name);
    QTest::mouseClick(b, Qt::LeftButton);
}

// A spreadsheet that keeps the values put into cells and lets a test act
// while the protocol is being written: at its save, or at the first copy of
// the meter row (the first meter's row is filled then, the others not yet).
class ActingSpreadsheet : public SpreadsheetApp {
public:
    enum class ActAt { Save, FirstRowCopy };
    using Cells_ = std::map<std::pair<int, int>, QString>;  // (row, column) as addressed

    explicit ActingSpreadsheet(std::function<void()> act, ActAt at = ActAt::Save, Cells_* values = nullptr)
        : m_act(std::move(act)), m_at(at), m_values(values)
    {
    }
    void Start() override {}
    void SetEnableEvents(bool) override {}
    void SetVisible(bool) override {}
    void OpenWorkbook(const QString&) override {}
    void SelectWorksheet(int) override {}
    SheetCell Range(const QString&) override { return Handle(0, 0); }
    SheetCell Cells(int row, int column) override { return Handle(row, column); }
    void SetValue(SheetCell cell, const QString& text) override { Put(cell, text); }
    void SetText(SheetCell cell, const QString& text) override { Put(cell, text); }
    void CopyEntireRow(SheetCell, SheetCell) override { ActOnce(ActAt::FirstRowCopy); }
    void InsertEntireRow(SheetCell, SheetCell) override {}
    void Save() override { ActOnce(ActAt::Save); }
    void CloseWorkbookWithoutSaving() override {}
    void Quit() override {}
    void Release() override {}

private:
    SheetCell Handle(int row, int column)
    {
        m_handles.push_back({row, column});
        return {int(m_handles.size())};
    }
    void Put(SheetCell cell, const QString& text)
    {
        if (m_values)
            (*m_values)[m_handles.at(std::size_t(cell.id - 1))] = text;
    }
    void ActOnce(ActAt at)
    {
        if (at != m_at || m_acted)
            return;
        m_acted = true;
        m_act();
    }

    std::function<void()> m_act;
    ActAt m_at;
    Cells_* m_values;
    std::vector<std::pair<int, int>> m_handles;
    bool m_acted = false;
};

const char* const kLineBusy =
    "Линия связи занята другим обменом с приборами. Повторите команду, когда он закончится.";

}  // namespace

class WizardWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;
    QStringList volLabels;  // what the flow dialog was told to set

    QString Path(const char* name) const { return f->Path(QString::fromUtf8(name)); }

    void StartBench(std::initializer_list<int> silentMeters = {})
    {
        std::vector<MeterSpec> meters;
        for (int i = 0; i < kMeters; ++i)
            meters.push_back(Meter(kSerials[i], i));
        for (int i : silentMeters)
            meters[std::size_t(i)].fault.silent = true;
        f->StartBench(meters);
    }
    // A program start over the test directory, as a new process would make it.
    void StartProgram()
    {
        ResetRunState();
        QVERIFY(f->StartProgram(false));
    }
    void RestartProgram()
    {
        f->StopProgram();
        StartProgram();
    }

    TForm3& Wizard() { return f->app->Form3(); }
    template <class T> T* W(const char* name) { return BenchApp::Find<T>(Wizard(), name); }
    QPushButton* Button(const char* name) { return W<QPushButton>(name); }
    QTableWidget* Grid() { return W<QTableWidget>("ParGrid"); }
    QString Cell(int col, int row)
    {
        const QTableWidgetItem* item = Grid()->item(row, col);
        return item ? item->text() : QStringLiteral("<no cell>");
    }
    QString FlCell(int col, int row)
    {
        const QTableWidgetItem* item = W<QTableWidget>("FLGRID")->item(row, col);
        return item ? item->text() : QStringLiteral("<no cell>");
    }
    QString Indicator() { return W<QLabel>("Label4")->text(); }
    QList<bool> Buttons()  // ДАЛЕЕ, назад, вперед, расчет
    {
        return {Button("BitBtn1")->isEnabled(), Button("BitBtn2")->isEnabled(), Button("BitBtn3")->isEnabled(),
                Button("BitBtn4")->isEnabled()};
    }
    // Reference fields and rows 1 and 2, as one text per control.
    QStringList Entries()
    {
        QStringList e{W<QLineEdit>("Edit11")->text(), W<QLineEdit>("Edit2")->text(), W<QLineEdit>("Edit3")->text()};
        for (int n = 1; n < Grid()->columnCount(); ++n)
            e << Cell(n, 1) << Cell(n, 2);
        return e;
    }
    QStringList ConfigRows()
    {
        QStringList rows;
        for (int n = 1; n < Grid()->columnCount(); ++n)
            for (int r = 3; r <= 15; ++r)
                rows << Cell(n, r);
        return rows;
    }

    // "КАЛИБРОВКА" or "ПОВЕРКА" with no state file: the installed-meter
    // dialog takes the six bench meters and opens the wizard.
    void StartNewRun(bool verification)
    {
        ModalAnswer meters(&f->app->Form4(), [](QWidget* d) {
            d->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(kDu50);
            d->findChild<QSpinBox*>(QStringLiteral("SpinEdit1"))->setValue(kMeters);
            auto* table = d->findChild<QTableWidget*>(QStringLiteral("SNTable"));
            for (int i = 0; i < kMeters; ++i)
                table->item(i + 1, 1)->setText(QString::number(kSerials[i]));
            ClickChild(d, "BitBtn1");
        });
        ClickMain(verification ? "Button8" : "Button7");
        QCOMPARE(meters.count(), 1);
        QVERIFY(Wizard().isVisible());
        f->boxes.clear();
    }
    void ClickMain(const char* name)
    {
        QTest::mouseClick(BenchApp::Find<QPushButton>(f->app->Form1(), name), Qt::LeftButton);
    }
    // "ДАЛЕЕ -->>", answering the flow-setting dialog with "Пуск" or "Отмена".
    void Next(bool start = true)
    {
        ModalAnswer flow(&f->app->Form5(), [this, start](QWidget* d) {
            volLabels << f->app->Form5().VolLabelText();
            ClickChild(d, start ? "BitBtn1" : "BitBtn2");
        });
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
    }
    void Enter(const Bench& b)
    {
        W<QLineEdit>("Edit11")->setText(QString::number(b.t));
        W<QLineEdit>("Edit2")->setText(Localised("0.1"));
        W<QLineEdit>("Edit3")->setText(QString::number(b.n));
        for (int i = 0; i < kMeters; ++i)
            Grid()->item(1, i + 1)->setText(QString::number(b.g[std::size_t(i)]));
    }
    void Compute() { QTest::mouseClick(Button("BitBtn4"), Qt::LeftButton); }
    void RunStage(bool verification, int stage)
    {
        Next();
        Enter(StageBench(verification, stage));
        Compute();
        QCOMPARE(f->boxes.texts(), QStringList());
        QCOMPARE(Indicator(), QStringLiteral("%1 выполнено %1").arg(stage));
    }
    void CheckStageResults(int stage)
    {
        const Bench b = StageBench(false, stage);
        const int k = 5 - stage;  // K4 .. K0
        for (int i = 0; i < kMeters; ++i) {
            const Expected e = ExpectedFor(b, i);
            QCOMPARE(Cell(i + 1, 2), F("%1.2f", e.error));
            QCOMPARE(Cell(i + 1, 5 + k), F("%1.6f", double(e.k)));
            QCOMPARE(Cell(i + 1, 10 + k), F("%1.6f", double(e.fl)));
            // The coefficient undoes the meter's error.
            QVERIFY2(std::fabs(double(e.k) * (1 + MeterError(i, stage) / 100) - 1) < 0.002,
                     qPrintable(QStringLiteral("meter %1 stage %2").arg(i + 1).arg(stage)));
        }
    }
    QByteArray ReadAll(const char* name) { return f->ReadFile(QString::fromUtf8(name)); }
    void WriteFile(const char* name, QByteArray bytes)
    {
        if (DecimalSeparator() != QLatin1Char(','))
            bytes.replace(',', '.');
        QVERIFY(f->WriteFile(QString::fromUtf8(name), bytes));
    }
    // A stored calibration of two meters at stage 5, all computed.
    void WriteFinishedTwoMeterRun()
    {
        QByteArray file = "[CALIBRCFG]\r\nCALSTEP=5\r\nMAXCALSTEP=5\r\nDYINDEX=4\r\nNP=2\r\n[SNDEVTAB]\r\n"
                          "DEV1=1201\r\nDEV2=1202\r\n[STEP5]\r\nTIMER=1200\r\nVES_ETALON=0,1\r\nIMP_ETALON=500\r\n"
                          "CALTAB1_IMP_DUZR=1330\r\nCALTAB1_VOL_ZRM=-0,25\r\nCALTAB2_IMP_DUZR=1340\r\n"
                          "CALTAB2_VOL_ZRM=0,50\r\n";
        for (int n = 1; n <= 2; ++n) {
            file += "[DEV" + QByteArray::number(n) + "]\r\nCALTAB_DY=0,050000\r\nCALTAB_VES=100,000000\r\n";
            for (int k = 0; k < 5; ++k)
                file += "CALTAB_K" + QByteArray::number(k) + "=1,0" + QByteArray::number(n) + QByteArray::number(k) +
                        "000\r\n";
            for (int k = 0; k < 5; ++k)
                file += "CALTAB_FL" + QByteArray::number(k) + "=" + QByteArray::number(k + 1) + ",250000\r\n";
            file += "CALTAB_MAINCAL=1,000000\r\n";
        }
        WriteFile("Calibration.ini", file);
    }
    // A stored verification of `meters` meters (1201...) with its three
    // stages computed, resumed in a program started over it; the template
    // beside it. Meter n counted 2700 + 10 (n - 1) pulses at every stage.
    void ResumeFinishedVerification(int meters)
    {
        StartBench();
        QByteArray run = "[CALIBRCFG]\r\nCALSTEP=3\r\nMAXCALSTEP=3\r\nDYINDEX=4\r\nNP=" +
                         QByteArray::number(meters) + "\r\n[SNDEVTAB]\r\n";
        for (int n = 1; n <= meters; ++n)
            run += "DEV" + QByteArray::number(n) + "=" + QByteArray::number(1200 + n) + "\r\n";
        for (int s = 1; s <= 3; ++s) {
            run += "[STEP" + QByteArray::number(s) + "]\r\nTIMER=600\r\nVES_ETALON=0,1\r\nIMP_ETALON=1000\r\n";
            for (int n = 1; n <= meters; ++n)
                run += "CALTAB" + QByteArray::number(n) + "_IMP_DUZR=" + QByteArray::number(2690 + 10 * n) +
                       "\r\nCALTAB" + QByteArray::number(n) + "_VOL_ZRM=1,25\r\n";
        }
        WriteFile("Poverka.ini", run);
        QVERIFY(f->WriteFile(QString::fromUtf8(kProtocolTemplate), "template"));
        StartProgram();
        Resume("Button8");
        f->boxes.clear();
    }
    void Resume(const char* button)
    {
        f->boxes.answer(ModalResult::Yes);
        ClickMain(button);
        QVERIFY(Wizard().isVisible());
    }

private slots:
    void init()
    {
        f = std::make_unique<BenchApp>();
        volLabels.clear();
    }
    void cleanup() { f.reset(); }

    void aNewRunStartsEmptyAndWritesNothing()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        QCOMPARE(Wizard().windowTitle(), QStringLiteral("Калибровка"));
        QCOMPARE(Indicator(), QStringLiteral("0 из 5"));
        QCOMPARE(W<QLabel>("Label6")->text(), QString());
        QCOMPARE(Buttons(), (QList<bool>{true, false, false, false}));
        QVERIFY(!QFile::exists(Path("Calibration.ini")));

        auto* fl = W<QTableWidget>("FLGRID");
        QCOMPARE(fl->rowCount(), 5);
        QCOMPARE(fl->columnCount(), 2);
        const char* names[] = {"FL4", "FL3", "FL2", "FL1", "FL0"};
        const char* points[] = {"35.000", "1.500", "0.700", "0.300", "0.150"};
        for (int r = 0; r < 5; ++r) {
            QCOMPARE(FlCell(0, r), QString::fromUtf8(names[r]));
            QCOMPARE(FlCell(1, r), Localised(points[r]));
        }

        QCOMPARE(Grid()->columnCount(), kMeters + 1);
        QCOMPARE(Grid()->rowCount(), 16);
        const char* labels[] = {"",    "Имп. ДУЗР", "Погр.[%]", "Dy",  "Вес", "K0",  "K1",  "K2",
                                "K3",  "K4",        "FL0",      "FL1", "FL2", "FL3", "FL4", "MainCal"};
        for (int r = 0; r < 16; ++r)
            QCOMPARE(Cell(0, r), QString::fromUtf8(labels[r]));
        for (int i = 0; i < kMeters; ++i) {
            QCOMPARE(Cell(i + 1, 0), QStringLiteral("№ %1").arg(kSerials[i]));
            const DeviceConfig c = *Meter(kSerials[i], i).config;
            for (int v = 0; v < kConfigValueCount; ++v)
                QCOMPARE(Cell(i + 1, 3 + v), F("%1.6f", double(c.Value(v))));
        }
        // Typing only in the pulse-count row.
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c <= kMeters; ++c) {
                const bool typing = r == 1 && c >= 1;
                QCOMPARE(bool(Grid()->item(r, c)->flags() & Qt::ItemIsEditable), typing);
                QCOMPARE(bool(Grid()->item(r, c)->flags() & Qt::ItemIsSelectable), typing);
                QCOMPARE(Wizard().ParGridSelectCell(c, r), r < 2);
            }

        QCOMPARE(Button("BitBtn4")->toolTip(), QStringLiteral("Расчет калибровочных коэффициентов повведенным данным"));
        QCOMPARE(Button("BitBtn1")->text(), QStringLiteral("ДАЛЕЕ -->>"));
        QCOMPARE(Button("BitBtn1")->toolTip(), QStringLiteral("Выполнение очередного этапа калибровки"));
        QCOMPARE(fl->toolTip(), QStringLiteral("Этапы калибровки, с указателем текущего этапа"));
        QVERIFY(Button("BitBtn2")->toolTip().startsWith(QStringLiteral("Возвращение к предыдущему этапу. \n")));
        QVERIFY(Button("BitBtn3")->toolTip().endsWith(QStringLiteral("без потери данных\n")));
    }

    void theFirstStageCancelledThenBegunAndComputed()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);

        Next(false);
        QCOMPARE(volLabels, QStringList{Localised("35.000 м3/ч")});
        QCOMPARE(Indicator(), QStringLiteral("0 выполнено 0"));
        QCOMPARE(Buttons(), (QList<bool>{true, false, false, false}));
        QCOMPARE(FlCell(0, 0), QStringLiteral("FL4"));
        QVERIFY(ReadAll("Calibration.ini").contains("[STEP0]\r\n"));

        Next();
        QCOMPARE(Indicator(), QStringLiteral("1 выполнено 0"));
        QCOMPARE(FlCell(0, 0), QStringLiteral("FL4  ->>>"));
        QCOMPARE(W<QLabel>("Label6")->text(), Localised("35.000 м3/ч"));
        QCOMPARE(Buttons(), (QList<bool>{false, true, false, true}));
        // The new stage holds the previous entries until they are typed over.
        QVERIFY(ReadAll("Calibration.ini").contains("[STEP1]\r\nTIMER=\r\n"));

        Enter(StageBench(false, 1));
        Compute();
        QCOMPARE(f->boxes.texts(), QStringList());
        QCOMPARE(Indicator(), QStringLiteral("1 выполнено 1"));
        QCOMPARE(Buttons(), (QList<bool>{true, true, false, true}));
        CheckStageResults(1);
        // Nothing but K4 and FL4 changed.
        for (int i = 0; i < kMeters; ++i)
            for (int r : {3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 15})
                QCOMPARE(Cell(i + 1, r), F("%1.6f", double(Meter(kSerials[i], i).config->Value(r - 3))));
        // Computing again with the same entries changes nothing.
        const QStringList rows = ConfigRows();
        Compute();
        QCOMPARE(ConfigRows(), rows);
    }

    void aWholeCalibrationWritesItsCoefficientsIntoTheMeters()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        QList<QStringList> entriesAt;
        for (int s = 1; s <= 3; ++s) {
            RunStage(false, s);
            CheckStageResults(s);
            entriesAt << Entries();
        }

        // 3 -> 2 -> 1 -> 2 -> 3: each stage's own entries come back.
        const QStringList configs = ConfigRows();
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QCOMPARE(Indicator(), QStringLiteral("2 выполнено 3"));
        QCOMPARE(Entries(), entriesAt[1]);
        QCOMPARE(Buttons(), (QList<bool>{true, true, true, true}));
        QCOMPARE(FlCell(0, 1), QStringLiteral("FL3  ->>>"));
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QCOMPARE(Entries(), entriesAt[0]);
        QTest::mouseClick(Button("BitBtn3"), Qt::LeftButton);
        QCOMPARE(Entries(), entriesAt[1]);
        QTest::mouseClick(Button("BitBtn3"), Qt::LeftButton);
        QCOMPARE(Indicator(), QStringLiteral("3 выполнено 3"));
        QCOMPARE(Entries(), entriesAt[2]);
        QCOMPARE(Buttons(), (QList<bool>{true, true, false, true}));  // never beyond the computed stages
        QCOMPARE(ConfigRows(), configs);

        for (int s = 4; s <= 5; ++s) {
            RunStage(false, s);
            CheckStageResults(s);
        }
        QCOMPARE(volLabels, (QStringList{Localised("35.000 м3/ч"), Localised("1.500 м3/ч"), Localised("0.700 м3/ч"), Localised("0.300 м3/ч"),
                                         Localised("0.150 м3/ч")}));
        QCOMPARE(Buttons(), (QList<bool>{true, true, false, true}));

        // The end of the run: confirm, then every meter is written while the
        // wizard's buttons are locked.
        f->boxes.answer(ModalResult::Ok);
        QList<QList<bool>> buttonsDuringWrite;
        f->boxes.onShow([&](const ShownMessage& m) {
            if (m.text == QStringLiteral("Параметры изменены"))
                buttonsDuringWrite << Buttons();
        });
        f->bench->ClearReceived();
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        f->boxes.onShow(nullptr);

        QStringList expected{QStringLiteral("Калибровка окончена. Записать полученные данные?")};
        QStringList report;
        for (int i = 0; i < kMeters; ++i) {
            expected << QStringLiteral("Параметры изменены");
            report << QStringLiteral("Запись коеффициентов SN %1\t OK").arg(kSerials[i]);
        }
        expected << report.join(QStringLiteral("\n\r"));
        QCOMPARE(f->boxes.texts(), expected);
        QCOMPARE(f->boxes.shown().front().kind, MsgKind::Confirmation);
        QCOMPARE(f->boxes.shown().front().buttons, int(mbOK | mbCancel));
        QCOMPARE(f->boxes.shown().back().kind, MsgKind::Information);
        QCOMPARE(buttonsDuringWrite, QList<QList<bool>>(kMeters, QList<bool>{false, false, false, false}));
        QCOMPARE(Buttons(), (QList<bool>{true, true, false, true}));

        // A new run: no configuration read before the writes.
        for (const auto& frame : f->bench->Received())
            QCOMPARE(int(frame.bytes[4]), int(kCmdWriteConfig));

        // The bench's stored configurations, value by value.
        for (int i = 0; i < kMeters; ++i) {
            const DeviceConfig original = *Meter(kSerials[i], i).config;
            const DeviceConfig stored = f->bench->Meter(kSerials[i]).config;
            QCOMPARE(f->bench->Meter(kSerials[i]).writes, 1);
            QCOMPARE(stored.Dy, original.Dy);
            QCOMPARE(stored.Ves, original.Ves);
            QCOMPARE(stored.MainCal, original.MainCal);
            QCOMPARE(stored.Tail[0], original.Tail[0]);
            QCOMPARE(stored.Tail[1], original.Tail[1]);
            for (int s = 1; s <= 5; ++s) {
                const Expected e = ExpectedFor(StageBench(false, s), i);
                QCOMPARE(stored.Value(2 + 5 - s), e.k);
                QCOMPARE(stored.Value(7 + 5 - s), e.fl);
            }
        }
        QVERIFY(QFile::exists(Path("Calibration.ini")));  // kept: the next start offers to continue
        QCOMPARE(Indicator(), QStringLiteral("5 выполнено 5"));

        // The journal: per meter each stage's entries with its coefficient,
        // and the final write with the configuration read at the run's start.
        const auto stages = f->JournalEntries(JournalKind::Stage);
        QCOMPARE(stages.size(), size_t(5 * kMeters));
        const auto writes = f->JournalEntries(JournalKind::CoefWrite);
        QCOMPARE(writes.size(), size_t(kMeters));
        QCOMPARE(f->JournalEntries(JournalKind::ConfigWrite).size(), size_t(0));
        for (int i = 0; i < kMeters; ++i) {
            const int serial = int(kSerials[i]);
            for (int s = 1; s <= 5; ++s) {
                const auto it = std::find_if(stages.begin(), stages.end(), [&](const JournalEntry& e) {
                    return e.serial == serial && e.data.value(QStringLiteral("stage")).toInt() == s;
                });
                QVERIFY2(it != stages.end(), qPrintable(QStringLiteral("meter %1 stage %2").arg(serial).arg(s)));
                const Bench b = StageBench(false, s);
                const Expected e = ExpectedFor(b, i);
                QVERIFY(it->ok);
                QCOMPARE(it->data.value(QStringLiteral("mode")).toString(), QStringLiteral("calibration"));
                // The entries as the wizard's grid holds them.
                QCOMPARE(it->data.value(QStringLiteral("ref_pulses")).toString(), QString::number(b.n));
                QCOMPARE(it->data.value(QStringLiteral("pulses")).toString(), QString::number(b.g[std::size_t(i)]));
                QCOMPARE(it->data.value(QStringLiteral("error")).toString(), F("%1.2f", e.error));
                const auto config = ConfigFromJson(it->data.value(QStringLiteral("config")).toObject());
                QVERIFY(config);
                QCOMPARE(config->Value(2 + 5 - s), e.k);
            }
            const auto w = std::find_if(writes.begin(), writes.end(),
                                        [&](const JournalEntry& e) { return e.serial == serial; });
            QVERIFY(w != writes.end());
            QVERIFY(w->ok);
            QCOMPARE(w->data.value(QStringLiteral("accepted")).toBool(), true);
            QCOMPARE(w->data.value(QStringLiteral("origin")).toString(), QStringLiteral("calibration"));
            const auto before = ConfigFromJson(w->data.value(QStringLiteral("before")).toObject());
            const auto after = ConfigFromJson(w->data.value(QStringLiteral("after")).toObject());
            QVERIFY(before && after);
            QCOMPARE(StoredBytes(*before), StoredBytes(*Meter(kSerials[i], i).config));
            QCOMPARE(StoredBytes(*after), StoredBytes(f->bench->Meter(kSerials[i]).config));
        }
    }

    void aResumedRunComesBackWithoutContactingAMeter()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        for (int s = 1; s <= 3; ++s)
            RunStage(false, s);
        const QStringList entries = Entries();
        const QStringList configs = ConfigRows();

        RestartProgram();
        f->bench->ClearReceived();
        Resume("Button7");
        QCOMPARE(f->boxes.shown(),
                 (std::vector<ShownMessage>{
                     {MsgKind::Warning,
                      "Предыдущий сеанс калибровки не был завершен. Для продолжения сеанса нажмите \"Yes\". Или "
                      "\"NO\" для запуска калибровки заново, при этом данные предыдущей калибровки будут уничтожены",
                      mbYes | mbNo | mbCancel}}));
        f->boxes.clear();
        QVERIFY(!f->app->Form4().isVisible());
        QCOMPARE(Indicator(), QStringLiteral("3 выполнено 3"));
        QCOMPARE(Entries(), entries);
        QCOMPARE(ConfigRows(), configs);
        QCOMPARE(Cell(2, 0), QStringLiteral("№ 1202"));
        QCOMPARE(FlCell(0, 2), QStringLiteral("FL2  ->>>"));
        QCOMPARE(W<QLabel>("Label6")->text(), Localised("0.700 м3/ч"));
        QCOMPARE(Buttons(), (QList<bool>{true, true, false, false}));  // computing waits for a step
        QVERIFY(f->bench->Received().empty());
        QCOMPARE(InstalledMeters().Count, kMeters);
        QCOMPARE(InstalledMeters().DiameterIndex, kDu50);

        // On to the end; the write reads each meter first so bytes 52-53,
        // which the file does not hold, are carried rather than zeroed.
        for (int s = 4; s <= 5; ++s)
            RunStage(false, s);
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        QVERIFY(f->boxes.shown().back().text.endsWith(QStringLiteral("SN 1206\t OK")));
        const auto frames = f->bench->Received();
        QCOMPARE(frames.size(), size_t(2 * kMeters));
        for (int i = 0; i < kMeters; ++i) {
            QCOMPARE(int(frames[size_t(2 * i)].bytes[4]), int(kCmdReadConfig));
            QCOMPARE(int(frames[size_t(2 * i + 1)].bytes[4]), int(kCmdWriteConfig));
            const DeviceConfig stored = f->bench->Meter(kSerials[i]).config;
            QCOMPARE(stored.Tail[0], uint8_t(0xA0 + i));
            QCOMPARE(stored.Tail[1], uint8_t(0x3C));
            for (int s = 1; s <= 5; ++s)
                QCOMPARE(stored.Value(2 + 5 - s), ExpectedFor(StageBench(false, s), i).k);
        }
    }

    void aMeterSilentAtTheRereadIsNotWritten()
    {
        StartBench({1});
        WriteFinishedTwoMeterRun();
        StartProgram();
        Resume("Button7");
        QCOMPARE(Indicator(), QStringLiteral("5 выполнено 5"));
        QCOMPARE(Cell(2, 7), Localised("1.022000"));  // K2 of meter 2 from the file
        f->boxes.clear();
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        const ShownMessage report = f->boxes.shown().back();
        QCOMPARE(report.kind, MsgKind::Error);
        QCOMPARE(report.text, QStringLiteral("Запись коеффициентов SN 1201\t OK\n\rЗапись коеффициентов SN 1202\t Нет связи"
                                             "\n\rОшибка записи! Проверте состояние линии связи подключенных "
                                             "приборов, затем повторите попытку"));
        QCOMPARE(f->bench->Meter(1202).writes, 0);
        const DeviceConfig stored = f->bench->Meter(1201).config;
        QCOMPARE(stored.K2, float(1.012));
        QCOMPARE(stored.FL4, float(5.25));
        QCOMPARE(stored.Tail[0], uint8_t(0xA0));
        QCOMPARE(stored.Tail[1], uint8_t(0x3C));
    }

    void oneMeterFailingTheFinalWriteIsReportedAndCanBeRetried()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        for (int s = 1; s <= 5; ++s)
            RunStage(false, s);
        f->bench->SetBlocked(kSerials[2], true);
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        QStringList lines;
        for (int i = 0; i < kMeters; ++i)
            lines << QStringLiteral("Запись коеффициентов SN %1\t%2").arg(kSerials[i]).arg(i == 2 ? " Нет связи" : " OK");
        const ShownMessage report = f->boxes.shown().back();
        QCOMPARE(report.kind, MsgKind::Error);
        QCOMPARE(report.buttons, int(mbOK));
        QCOMPARE(report.text, lines.join(QStringLiteral("\n\r")) +
                                  QStringLiteral("\n\rОшибка записи! Проверте состояние линии связи подключенных "
                                                 "приборов, затем повторите попытку"));
        QVERIFY(f->boxes.texts().contains(QStringLiteral("Изменение параметров блокировано")));
        QCOMPARE(f->bench->Meter(kSerials[2]).writes, 0);
        QCOMPARE(Indicator(), QStringLiteral("5 выполнено 5"));  // the run stays at its end

        // Once the meter accepts changes, "ДАЛЕЕ -->>" writes again.
        f->bench->SetBlocked(kSerials[2], false);
        f->boxes.clear();
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        QCOMPARE(f->boxes.shown().back().kind, MsgKind::Information);
        QCOMPARE(f->bench->Meter(kSerials[2]).writes, 1);
        QCOMPARE(f->bench->Meter(kSerials[2]).config.K4, ExpectedFor(StageBench(false, 1), 2).k);

        // Cancelling the confirmation writes nothing.
        f->boxes.clear();
        f->boxes.answer(ModalResult::Cancel);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        QCOMPARE(f->boxes.count(), size_t(1));
        QCOMPARE(f->bench->Meter(kSerials[2]).writes, 1);
    }

    void computationFailuresStopTheHandler()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        Next();
        const Bench b = StageBench(false, 1);
        Enter(b);
        const QStringList configs = ConfigRows();

        // A measuring time of zero.
        W<QLineEdit>("Edit11")->setText(QStringLiteral("0"));
        Compute();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "Floating point division by zero.", mbOK}}));
        QCOMPARE(Indicator(), QStringLiteral("1 выполнено 0"));
        QCOMPARE(Cell(1, 2), QString());
        QCOMPARE(ConfigRows(), configs);
        QVERIFY(ReadAll("Calibration.ini").contains("[STEP1]\r\nTIMER=0\r\n"));  // saved before computing
        QCOMPARE(InstalledMeters().Configs[0].K4, 1.0f);

        // A pulse count that is no number in column 4: columns 1-3 are done.
        f->boxes.clear();
        W<QLineEdit>("Edit11")->setText(QString::number(b.t));
        Grid()->item(1, 4)->setText(QStringLiteral("12x"));
        Compute();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "'12x' is not a valid integer value.", mbOK}}));
        for (int i = 0; i < 3; ++i) {
            const Expected e = ExpectedFor(b, i);
            QCOMPARE(Cell(i + 1, 2), F("%1.2f", e.error));
            QCOMPARE(InstalledMeters().Configs[std::size_t(i)].K4, e.k);  // in memory ...
        }
        for (int i = 3; i < kMeters; ++i) {
            QCOMPARE(Cell(i + 1, 2), QString());
            QCOMPARE(InstalledMeters().Configs[std::size_t(i)].K4, 1.0f);
        }
        QCOMPARE(ConfigRows(), configs);  // ... but the grid is not refreshed
        QCOMPARE(Indicator(), QStringLiteral("1 выполнено 0"));

        // A bad reference entry names its own text.
        f->boxes.clear();
        W<QLineEdit>("Edit2")->setText(QStringLiteral("0;1"));
        Compute();
        QCOMPARE(f->boxes.texts(), QStringList{QStringLiteral("'0;1' is not a valid floating point value.")});
    }

    void aWholeVerificationReachesTheProtocolFields()
    {
        StartBench();
        QVERIFY(QFile(Path("Calibration.ini")).open(QIODevice::WriteOnly));  // an unrelated unfinished calibration
        StartProgram();
        StartNewRun(true);  // no question: verification has its own file
        QCOMPARE(Wizard().windowTitle(), QStringLiteral("Поверка"));
        QCOMPARE(Indicator(), QStringLiteral("0 из 3"));
        QCOMPARE(W<QTableWidget>("FLGRID")->rowCount(), 3);
        QCOMPARE(FlCell(0, 0), QStringLiteral("Qmax/2"));
        QCOMPARE(FlCell(0, 1), QStringLiteral("Qt2"));
        QCOMPARE(FlCell(0, 2), QStringLiteral("Qt1"));
        const QStringList configs = ConfigRows();

        for (int s = 1; s <= 3; ++s) {
            Next();
            Bench b = StageBench(true, s);
            if (s == 2)
                b.g[5] = 0;  // a meter that gave no pulse
            Enter(b);
            Compute();
            QCOMPARE(f->boxes.texts(), QStringList());
            for (int i = 0; i < kMeters; ++i)
                QCOMPARE(Cell(i + 1, 2), F("%1.2f", ExpectedFor(b, i).error));
            if (s == 2)
                QCOMPARE(Cell(6, 2), Localised("-100.00"));
            QCOMPARE(ConfigRows(), configs);
        }
        QCOMPARE(volLabels, (QStringList{Localised("35.000 м3/ч"), Localised("0.700 м3/ч"), Localised("0.300 м3/ч")}));
        for (int i = 0; i < kMeters; ++i)
            QVERIFY(InstalledMeters().Configs[std::size_t(i)].K4 == 1.0f && InstalledMeters().Configs[std::size_t(i)].FL0 == 0.15f);
        QVERIFY(QFile::exists(Path("Poverka.ini")));
        QCOMPARE(ReadAll("Calibration.ini"), QByteArray());

        int protocols = 0;
        Wizard().WriteProtocol = [&] { ++protocols; };
        {
            // The protocol fields dialog closed without OK: no protocol.
            ModalAnswer fields(&f->app->Form6(), [](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
            f->boxes.answer(ModalResult::Ok);
            QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
            QCOMPARE(fields.count(), 1);
            QCOMPARE(f->boxes.shown().back(),
                     (ShownMessage{MsgKind::Confirmation, "Поверка окончена. Записать полученные данные?", mbOK | mbCancel}));
            QCOMPARE(protocols, 0);
        }
        {
            ModalAnswer fields(&f->app->Form6(), [](QWidget* d) { static_cast<QDialog*>(d)->accept(); });
            f->boxes.answer(ModalResult::Ok);
            QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
            QCOMPARE(fields.count(), 1);
            QCOMPARE(protocols, 1);
        }
        f->bench->ClearReceived();
        QVERIFY(f->bench->Received().empty());
    }

    void theResumeQuestionsAnswers()
    {
        StartBench();
        WriteFinishedTwoMeterRun();
        const QByteArray stored = ReadAll("Calibration.ini");
        StartProgram();

        // Cancel: nothing at all.
        f->boxes.answer(ModalResult::Cancel);
        ClickMain("Button7");
        QCOMPARE(f->boxes.count(), size_t(1));
        QVERIFY(!Wizard().isVisible());
        QCOMPARE(ReadAll("Calibration.ini"), stored);

        // No: the old run is gone and a new one is entered.
        f->boxes.clear();
        f->boxes.answer(ModalResult::No);
        ModalAnswer meters(&f->app->Form4(), [](QWidget* d) { ClickChild(d, "BitBtn2"); });
        ClickMain("Button7");
        QCOMPARE(meters.count(), 1);
        QVERIFY(!QFile::exists(Path("Calibration.ini")));
        QVERIFY(!Wizard().isVisible());

        // The verification question has its own text.
        WriteFile("Poverka.ini", "[CALIBRCFG]\r\nCALSTEP=0\r\nNP=1\r\nDYINDEX=4\r\n");
        f->boxes.clear();
        f->boxes.answer(ModalResult::Cancel);
        ClickMain("Button8");
        QCOMPARE(f->boxes.texts(),
                 QStringList{QStringLiteral("Предыдущий сеанс поверки не был завершен. Для продолжения сеанса нажмите "
                                            "\"Yes\". Или \"NO\" для запуска калибровки заново, при этом данные "
                                            "предыдущей калибровки будут уничтожены")});
    }

    void aFileARunCannotHoldIsRefusedAndKept()
    {
        StartBench();
        WriteFinishedTwoMeterRun();
        QByteArray file = ReadAll("Calibration.ini");
        file.replace("NP=2", "NP=9");
        WriteFile("Calibration.ini", file);
        file = ReadAll("Calibration.ini");
        StartProgram();
        f->boxes.answer(ModalResult::Yes);
        ClickMain("Button7");
        QCOMPARE(f->boxes.count(), size_t(2));
        const ShownMessage refusal = f->boxes.shown()[1];
        QCOMPARE(refusal.kind, MsgKind::Error);
        QVERIFY2(refusal.text.contains(Path("Calibration.ini")) && refusal.text.contains(QStringLiteral("NP = 9")),
                 qPrintable(refusal.text));
        QVERIFY(!Wizard().isVisible());
        QCOMPARE(ReadAll("Calibration.ini"), file);
    }

    void steppingBackRestoresAnEmptyErrorCell()
    {
        StartBench();
        WriteFile("Calibration.ini",
                  "[CALIBRCFG]\r\nCALSTEP=3\r\nMAXCALSTEP=3\r\nDYINDEX=4\r\nNP=2\r\n[SNDEVTAB]\r\nDEV1=1201\r\n"
                  "DEV2=1202\r\n[STEP2]\r\nTIMER=300\r\nVES_ETALON=0,1\r\nIMP_ETALON=1250\r\nCALTAB1_IMP_DUZR=3330\r\n"
                  "CALTAB1_VOL_ZRM=-0,10\r\nCALTAB2_IMP_DUZR=\r\nCALTAB2_VOL_ZRM=\r\n[STEP3]\r\nTIMER=600\r\n"
                  "VES_ETALON=0,1\r\nIMP_ETALON=1167\r\nCALTAB1_IMP_DUZR=3120\r\nCALTAB1_VOL_ZRM=0,25\r\n"
                  "CALTAB2_IMP_DUZR=3100\r\nCALTAB2_VOL_ZRM=-0,40\r\n");
        StartProgram();
        Resume("Button7");
        const QStringList stage3{"600", Localised("0.1"), "1167", "3120", Localised("0.25"), "3100", Localised("-0.40")};
        const QStringList stage2{"300", Localised("0.1"), "1250", "3330", Localised("-0.10"), "", ""};
        QCOMPARE(Entries(), stage3);
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QCOMPARE(Entries(), stage2);
        QTest::mouseClick(Button("BitBtn3"), Qt::LeftButton);
        QCOMPARE(Entries(), stage3);
        // A stage never saved keeps what the screen shows.
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QCOMPARE(Indicator(), QStringLiteral("1 выполнено 3"));
        QCOMPARE(Entries(), stage2);
        QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
        QCOMPARE(Indicator(), QStringLiteral("0 выполнено 3"));
        QCOMPARE(Buttons(), (QList<bool>{true, false, true, false}));
        QCOMPARE(W<QLabel>("Label6")->text(), QString());
    }

    // A calibration under way; a verification asked for and given up in each
    // way it can be: the calibration goes on in its own file with its meters.
    void givingUpTheOtherModeLeavesTheOpenRunAsItWas()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        RunStage(false, 1);
        const InstalledMeterList meters = InstalledMeters();
        const auto checkStillCalibrating = [&](int stage) {
            QCOMPARE(CurrentRun().SessionFileName, QStringLiteral("Calibration.ini"));
            QCOMPARE(CurrentRun().VerificationMode, false);
            QCOMPARE(Wizard().windowTitle(), QStringLiteral("Калибровка"));
            QCOMPARE(InstalledMeters().Count, meters.Count);
            QVERIFY(InstalledMeters().Serials == meters.Serials && InstalledMeters().DiameterIndex == kDu50);
            f->boxes.clear();
            RunStage(false, stage);
            QVERIFY(ReadAll("Calibration.ini").contains("CALSTEP=" + QByteArray::number(stage) + "\r\n"));
        };
        const auto cancelMeters = [](QWidget* d) { ClickChild(d, "BitBtn2"); };

        {  // no stored verification: the installed-meter dialog, cancelled
            ModalAnswer dialog(&f->app->Form4(), cancelMeters);
            ClickMain("Button8");
            QCOMPARE(dialog.count(), 1);
            QCOMPARE(f->boxes.count(), size_t(0));
            checkStillCalibrating(2);
            QVERIFY(!QFile::exists(Path("Poverka.ini")));
        }
        const QByteArray stored = "[CALIBRCFG]\r\nCALSTEP=1\r\nMAXCALSTEP=1\r\nDYINDEX=4\r\nNP=1\r\n"
                                  "[SNDEVTAB]\r\nDEV1=1201\r\n";
        {  // a stored verification: the question, cancelled
            WriteFile("Poverka.ini", stored);
            f->boxes.answer(ModalResult::Cancel);
            ClickMain("Button8");
            QCOMPARE(f->boxes.count(), size_t(1));
            checkStillCalibrating(3);
        }
        {  // "No", then the installed-meter dialog cancelled
            f->boxes.answer(ModalResult::No);
            ModalAnswer dialog(&f->app->Form4(), cancelMeters);
            ClickMain("Button8");
            QCOMPARE(dialog.count(), 1);
            QVERIFY(!QFile::exists(Path("Poverka.ini")));
            checkStillCalibrating(4);
        }
        {  // "No" to a file that cannot be deleted (a directory in its place)
            QVERIFY(QDir(f->dir.path()).mkpath(QStringLiteral("Poverka.ini/kept")));
            f->boxes.answer(ModalResult::No);
            ClickMain("Button8");
            QCOMPARE(f->boxes.count(), size_t(2));
            QCOMPARE(f->boxes.shown()[1].text,
                     QStringLiteral("Не удалось удалить файл %1.").arg(Path("Poverka.ini")));
            checkStillCalibrating(5);
            QVERIFY(QDir(Path("Poverka.ini")).removeRecursively());
        }
        {  // the dialog accepted, but its meter does not answer: no new run
            ModalAnswer dialog(&f->app->Form4(), [](QWidget* d) {
                d->findChild<QComboBox*>(QStringLiteral("ComboBox1"))->setCurrentIndex(0);
                d->findChild<QSpinBox*>(QStringLiteral("SpinEdit1"))->setValue(1);
                d->findChild<QTableWidget*>(QStringLiteral("SNTable"))->item(1, 1)->setText(QStringLiteral("999"));
                ClickChild(d, "BitBtn1");
            });
            ClickMain("Button8");
            QCOMPARE(dialog.count(), 1);
            QVERIFY(f->boxes.texts().join(QLatin1Char('|')).contains(QStringLiteral("Тест SN 999\t Нет связи")));
            QCOMPARE(CurrentRun().SessionFileName, QStringLiteral("Calibration.ini"));
            QVERIFY(InstalledMeters().Serials == meters.Serials && InstalledMeters().DiameterIndex == kDu50);
            f->boxes.clear();
            Compute();  // saved again, into its own file, with its own meters
            QCOMPARE(f->boxes.texts(), QStringList());
            QVERIFY(ReadAll("Calibration.ini").contains("DEV6=1206\r\n"));
            QVERIFY(!QFile::exists(Path("Poverka.ini")));
        }
    }

    void escapeKeepsTheWizardAndItsEntries()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        Next();
        Enter(StageBench(false, 1));
        const QStringList typed = Entries();
        QTest::keyClick(W<QLineEdit>("Edit2"), Qt::Key_Escape);
        QTest::keyClick(&Wizard(), Qt::Key_Escape);
        QVERIFY(Wizard().isVisible());
        QCOMPARE(Entries(), typed);
    }

    // While the wizard writes the meters, the main window's commands are
    // refused with one box each: nothing sent, nothing shown changes.
    // Everything that would start another run, reopen the port, address
    // another meter or end the program, done while the final write waits on
    // a silent meter: refused with one box each, and the meter after it
    // still gets this run's coefficients.
    void aCommandWhileTheWizardWritesIsRefusedAndSaysSo()
    {
        StartBench({0});  // 1201 silent: the write waits for it, then writes 1202
        WriteFinishedTwoMeterRun();
        // Another run's stored verification, which "ПОВЕРКА" -> "Yes" would load.
        WriteFile("Poverka.ini", "[CALIBRCFG]\r\nCALSTEP=1\r\nMAXCALSTEP=1\r\nDYINDEX=4\r\nNP=1\r\n"
                                 "[SNDEVTAB]\r\nDEV1=1205\r\n");
        StartProgram();
        TForm1& main = f->app->Form1();
        auto* spin = BenchApp::Find<QSpinBox>(main, "SpinEdit1");
        auto* port = BenchApp::Find<QComboBox>(main, "ComboBox1");
        auto* serials = BenchApp::Find<QComboBox>(main, "ComboBox2");
        spin->setValue(1205);
        ClickMain("Button2");
        const auto memos = [&main] {
            return BenchApp::Find<QPlainTextEdit>(main, "Memo1")->toPlainText() + QLatin1Char('|') +
                   BenchApp::Find<QPlainTextEdit>(main, "Memo2")->toPlainText();
        };
        const QString shown = memos();
        QVERIFY(!shown.startsWith(QLatin1Char('|')));
        const QString portName = port->currentText();
        Resume("Button7");
        f->boxes.clear();
        f->bench->ClearReceived();

        QStringList duringWrite;
        QTimer::singleShot(500, [&] {
            QVERIFY(main.Link().Busy());
            const auto refused = [&](const std::function<void()>& act) {
                f->boxes.clear();
                f->boxes.answer(ModalResult::Yes);  // what a question, were one asked, would get
                act();
                duringWrite << f->boxes.texts().join(QLatin1Char('|'));
            };
            for (const char* command : {"Button2", "Button6", "Button7", "Button8"})
                refused([&] { ClickMain(command); });
            refused([&] { PickFromList(port, QStringLiteral("/dev/zrm-other-port"), {QStringLiteral("/dev/zrm-other-port")}); });
            refused([&] { spin->setValue(1206); });
            refused([&] { serials->setEditText(QStringLiteral("1203")); });
            refused([&] { QVERIFY(!main.close()); });
            f->boxes.clear();
            f->boxes.answer(ModalResult::Ok);  // 1201's "no reply"
        });
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        QCOMPARE(duringWrite, QStringList(8, QString::fromUtf8(kLineBusy)));
        QCOMPARE(memos(), shown);
        QVERIFY(main.isVisible());
        QCOMPARE(port->currentText(), portName);
        QVERIFY(main.ComPort1().Active());
        QCOMPARE(spin->value(), 1205);
        QCOMPARE(serials->currentText(), QString());
        QCOMPARE(Wizard().windowTitle(), QStringLiteral("Калибровка"));
        for (SerialNumber n : f->RequestedSerials())
            QVERIFY(n == 1201 || n == 1202);
        QCOMPARE(f->bench->Meter(1205).resets, 0);
        // The meter after the silent one: this run's coefficients, its own tail.
        QCOMPARE(f->bench->Meter(1202).writes, 1);
        const DeviceConfig stored = f->bench->Meter(1202).config;
        QCOMPARE(stored.K2, float(1.022));
        QCOMPARE(stored.FL4, float(5.25));
        QCOMPARE(stored.Tail[0], uint8_t(0xA1));
        QCOMPARE(InstalledMeters().Serials[0], SerialNumber(1201));
        QCOMPARE(InstalledMeters().Serials[1], SerialNumber(1202));
    }

    // "ПОВЕРКА" answered "No" while a protocol is being filled from
    // Poverka.ini: refused, the file stays.
    void aNewVerificationWaitsForTheProtocolBeingFilled()
    {
        ResumeFinishedVerification(1);

        QStringList atSave;
        SetWorkbookViewer([](const QString&) { return true; });
        SetSpreadsheetAppFactory([&] {
            return std::make_unique<ActingSpreadsheet>([&] {
                f->boxes.answer(ModalResult::No);
                const size_t before = f->boxes.count();
                const QByteArray filling = ReadAll("Poverka.ini");
                ClickMain("Button8");
                for (size_t i = before; i < f->boxes.count(); ++i)
                    atSave << f->boxes.shown()[i].text;
                atSave << (ReadAll("Poverka.ini") == filling ? QStringLiteral("kept") : QStringLiteral("changed"));
            });
        });
        ModalAnswer fields(&f->app->Form6(), [](QWidget* d) { static_cast<QDialog*>(d)->accept(); });
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        SetSpreadsheetAppFactory({});
        SetWorkbookViewer({});
        QCOMPARE(fields.count(), 1);
        QCOMPARE(atSave.size(), 3);
        QCOMPARE(atSave[1], QStringLiteral("Протокол поверки ещё заполняется. Дождитесь, пока он откроется."));
        QCOMPARE(atSave[2], QStringLiteral("kept"));
        QVERIFY(!f->app->Form4().isVisible());
    }

    // The last stage entered again and computed while the protocol is being
    // filled: the protocol is still one reading of the run, the one taken
    // when its fields were accepted, for every meter.
    void theProtocolIsFilledFromOneReadingOfTheRun()
    {
        ResumeFinishedVerification(2);

        ActingSpreadsheet::Cells_ cells;
        QByteArray afterEdit;
        SetWorkbookViewer([](const QString&) { return true; });
        SetSpreadsheetAppFactory([&] {
            return std::make_unique<ActingSpreadsheet>(
                [&] {
                    // Back to stage 2 and forward to 3, as a user re-enters a stage.
                    QTest::mouseClick(Button("BitBtn2"), Qt::LeftButton);
                    QTest::mouseClick(Button("BitBtn3"), Qt::LeftButton);
                    W<QLineEdit>("Edit3")->setText(QStringLiteral("1500"));
                    Grid()->item(1, 2)->setText(QStringLiteral("4000"));
                    Compute();
                    afterEdit = ReadAll("Poverka.ini");
                },
                ActingSpreadsheet::ActAt::FirstRowCopy, &cells);
        });
        ModalAnswer fields(&f->app->Form6(), [](QWidget* d) { static_cast<QDialog*>(d)->accept(); });
        f->boxes.answer(ModalResult::Ok);
        QTest::mouseClick(Button("BitBtn1"), Qt::LeftButton);
        SetSpreadsheetAppFactory({});
        SetWorkbookViewer({});
        QCOMPARE(fields.count(), 1);
        // The edit reached the state file during the fill...
        QVERIFY(afterEdit.contains("IMP_ETALON=1500"));
        QVERIFY(afterEdit.contains("CALTAB2_IMP_DUZR=4000"));
        // ...and none of the protocol: stage 3 of both meters as read before.
        for (int row : {17, 18}) {
            QCOMPARE(cells[std::make_pair(row, 11)], Localised("100.000"));
            QCOMPARE(cells[std::make_pair(row, 12)], Localised(row == 17 ? "2700.000" : "2710.000"));
        }
        QCOMPARE(cells[std::make_pair(18, 2)], QStringLiteral("1202"));
    }

    void anOpenWizardIsShownAfreshForAnotherRun()
    {
        StartBench();
        StartProgram();
        StartNewRun(false);
        RunStage(false, 1);
        StartNewRun(true);
        QCOMPARE(Wizard().windowTitle(), QStringLiteral("Поверка"));
        QCOMPARE(Indicator(), QStringLiteral("0 из 3"));
        QCOMPARE(CurrentRun().SessionFileName, QStringLiteral("Poverka.ini"));
        QCOMPARE(Cell(1, 2), QString());
        QCOMPARE(W<QTableWidget>("FLGRID")->rowCount(), 3);
    }
};

QTEST_MAIN(WizardWindowTest)
#include "wizard_window_test.moc"
