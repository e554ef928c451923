// The main window's commands against the virtual meter bench, through the
// real controls (offscreen).

#include "bench_app.h"
#include "combo_pick.h"
#include "diameter_defaults.h"
#include "installed_meters.h"
#include "main_window.h"
#include "number_text.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <memory>

using metersim::MeterSpec;

namespace {

// A still counter, so volumes are exact.
MeterSpec Meter(SerialNumber serial, int diameter, uint32_t counter = 0)
{
    return BenchMeter(serial, diameter, 0, counter, 12.25f);
}


}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;

    template <class T> T* Control(const char* name) { return BenchApp::Find<T>(f->app->Form1(), name); }
    QStringList Lines(const char* memo) { return Control<QPlainTextEdit>(memo)->toPlainText().split('\n', Qt::SkipEmptyParts); }
    void Click(const char* button) { QTest::mouseClick(Control<QPushButton>(button), Qt::LeftButton); }
    void TypeSerial(const QString& text)
    {
        Control<QComboBox>("ComboBox2")->setEditText(text);
    }
    void PressEnterInSerials() { QTest::keyClick(Control<QComboBox>("ComboBox2")->lineEdit(), Qt::Key_Return); }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void linkTestWithZeroFindsTheLoneMeter()
    {
        QVERIFY(f->Start({Meter(777, 2)}, true));
        QCOMPARE(Control<QSpinBox>("SpinEdit1")->value(), 0);
        bool groupDisabledDuringBox = false;
        f->boxes.onShow([&](const ShownMessage&) {
            groupDisabledDuringBox = !Control<QPushButton>("Button1")->isEnabled() &&
                                     !Control<QPushButton>("Button2")->isEnabled();
        });
        Click("Button1");
        QCOMPARE(Control<QSpinBox>("SpinEdit1")->value(), 777);
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Information, "ЗРМ №777  на связи!", mbOK}}));
        QVERIFY(groupDisabledDuringBox);
        QVERIFY(Control<QPushButton>("Button1")->isEnabled());
        QVERIFY(Control<QPushButton>("Button2")->isEnabled());
    }

    void readParametersShowsTheFormattedLines_data()
    {
        QTest::addColumn<int>("diameter");
        QTest::addColumn<QString>("dy");
        QTest::addColumn<QString>("ves");
        QTest::addColumn<QString>("volume");
        QTest::newRow("25 mm counts hundredths") << 1 << Localised("0.025") << Localised("10.000") << Localised("1234.560");
        QTest::newRow("200 mm counts whole m3") << 8 << Localised("0.200") << Localised("1000.000") << Localised("123456.000");
    }
    void readParametersShowsTheFormattedLines()
    {
        QFETCH(int, diameter);
        QFETCH(QString, dy);
        QFETCH(QString, ves);
        QFETCH(QString, volume);
        QVERIFY(f->Start({Meter(4321, diameter, 123456)}, true));
        Control<QSpinBox>("SpinEdit1")->setValue(4321);
        Click("Button2");
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(Lines("Memo2"), (QStringList{QStringLiteral("Dy, м          \t") + dy,
                                              QStringLiteral("Вес вых имп.   \t") + ves}));
        QCOMPARE(Lines("Memo1"), (QStringList{QStringLiteral("Расход м3/ч\t ") + Localised("0.000"),
                                              QStringLiteral("Объем, м3\t") + volume,
                                              QStringLiteral("Наработка, ч\t") + Localised("12.250")}));
    }

    void professionalVariantAddsTheElevenCoefficientLines()
    {
        QVERIFY(f->Start({Meter(4321, 4)}, false));
        Control<QSpinBox>("SpinEdit1")->setValue(4321);
        Click("Button2");
        const QStringList lines = Lines("Memo2");
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines[2], QStringLiteral("К0       \t") + Localised("1.000000"));
        const DeviceConfig defaults = DefaultConfigFor(4);
        QCOMPARE(lines[11], QStringLiteral("FL4      \t") + FormatText("%3.6f", {double(defaults.FL4)}));
        QCOMPARE(lines[12], QStringLiteral("MainCal  \t") + FormatText("%3.6f", {double(defaults.MainCal)}));
        QCOMPARE(Lines("Memo1").size(), 3);
    }

    void failedStateReadEmptiesBothMemosAndSkipsTheConfiguration()
    {
        MeterSpec m = Meter(4321, 4);
        QVERIFY(f->Start({m}, true));
        Control<QSpinBox>("SpinEdit1")->setValue(4321);
        Click("Button2");
        QCOMPARE(Lines("Memo1").size(), 3);

        metersim::FaultSpec fault;
        fault.wrongDeviceType = true;
        f->bench->SetFault(4321, fault);
        f->bench->ClearReceived();
        Click("Button2");
        QCOMPARE(f->boxes.texts(), (QStringList{"SN 4321Неверный тип прибора", "SN 4321Нет ответа"}));
        QVERIFY(Control<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
        QVERIFY(Control<QPlainTextEdit>("Memo2")->toPlainText().isEmpty());
        const auto received = f->bench->Received();
        QCOMPARE(received.size(), size_t(1));
        QCOMPARE(int(received[0].bytes[4]), int(kCmdReadState));
        QVERIFY(Control<QPushButton>("Button2")->isEnabled());
    }

    void resetCounterClearsTheMeter()
    {
        QVERIFY(f->Start({Meter(55, 2, 9000)}, false));
        Control<QSpinBox>("SpinEdit1")->setValue(55);
        Click("Button6");
        QCOMPARE(f->boxes.texts(), QStringList{QStringLiteral("ЗРМ очищено")});
        QVERIFY(f->bench->WaitForReceived(1, std::chrono::seconds(2)));
        QTRY_COMPARE(f->bench->Meter(55).resets, 1);
    }

    void serialNumberBoxSetsTheSpinEditClamped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("spin");
        QTest::newRow("number") << "12345" << 12345;
        QTest::newRow("too large") << "70000" << 65535;
        QTest::newRow("negative") << "-5" << 0;
        QTest::newRow("not a number") << "12a" << 3;
        QTest::newRow("empty") << "" << 3;
    }
    void serialNumberBoxSetsTheSpinEditClamped()
    {
        QFETCH(QString, typed);
        QFETCH(int, spin);
        QVERIFY(f->Start({}, true));
        Control<QSpinBox>("SpinEdit1")->setValue(3);
        TypeSerial(typed);
        QCOMPARE(Control<QSpinBox>("SpinEdit1")->value(), spin);
        QCOMPARE(int(f->app->Form1().Link().CurrentSerialNumber), spin);
    }

    void serialNumberBoxNeedsAPort()
    {
        QVERIFY(f->Start({}, true));
        Control<QComboBox>("ComboBox1")->blockSignals(true);
        Control<QComboBox>("ComboBox1")->setEditText(QString());
        Control<QComboBox>("ComboBox1")->blockSignals(false);
        TypeSerial(QStringLiteral("42"));
        QCOMPARE(Control<QSpinBox>("SpinEdit1")->value(), 0);
    }

    void enterKeepsUpToSixNumbers()
    {
        QVERIFY(f->Start({}, true));
        const QList<int> serials = {11, 22, 33, 44, 55, 66};
        for (int s : serials) {
            TypeSerial(QString::number(s));
            PressEnterInSerials();
            QCOMPARE(Control<QComboBox>("ComboBox2")->currentText(), QString());
        }
        QCOMPARE(InstalledMeters().Count, 6);
        QCOMPARE(int(InstalledMeters().Serials[5]), 66);
        QCOMPARE(f->boxes.count(), size_t(0));

        TypeSerial(QStringLiteral("33"));  // already kept: nothing, no box
        PressEnterInSerials();
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(Control<QComboBox>("ComboBox2")->currentText(), QStringLiteral("33"));

        TypeSerial(QStringLiteral("77"));  // a seventh
        PressEnterInSerials();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Error, "Введено максимальное количество приборов", mbOK}}));
        QCOMPARE(InstalledMeters().Count, 6);

        // Serial number 0 is never kept.
        InstalledMeters().Count = 0;
        TypeSerial(QStringLiteral("0"));
        PressEnterInSerials();
        QCOMPARE(InstalledMeters().Count, 0);
    }

    void dropDownOffersTheKeptNumbers()
    {
        QVERIFY(f->Start({}, true));
        QComboBox* box = Control<QComboBox>("ComboBox2");
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(2), QStringLiteral("12345"));
        InstalledMeters().Count = 2;
        InstalledMeters().Serials[0] = 901;
        InstalledMeters().Serials[1] = 902;
        InstalledMeters().Serials[2] = 903;  // beyond the count: not offered
        TypeSerial(QStringLiteral("5"));
        box->showPopup();
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QStringLiteral("901"));
        QCOMPARE(box->itemText(1), QStringLiteral("902"));
        QCOMPARE(box->currentText(), QStringLiteral("5"));
        box->hidePopup();

        // A pick sets the spin edit, a pick of the number already shown too.
        auto* spin = Control<QSpinBox>("SpinEdit1");
        PickFromList(box, QStringLiteral("901"));
        QCOMPARE(spin->value(), 901);
        spin->setValue(7);
        PickFromList(box, QStringLiteral("901"));
        QCOMPARE(spin->value(), 901);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
