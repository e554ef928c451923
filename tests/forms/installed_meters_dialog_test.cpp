// TForm4, the installed-meter dialog, through its real controls (offscreen)
// against the virtual meter bench over a real pseudo-terminal.

#include "bench_app.h"
#include "installed_meters.h"
#include "installed_meters_dialog.h"
#include "main_window.h"
#include "wizard_window.h"

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <memory>

using metersim::MeterSpec;

namespace {

MeterSpec Meter(SerialNumber serial, int diameter)
{
    DeviceConfig c;
    for (int v = 0; v < kConfigValueCount; ++v)
        c.SetValue(v, float(serial) + float(v) / 8);  // every meter its own values
    c.Tail = {uint8_t(serial), 0x5A, 0};
    return BenchMeter(serial, diameter, 1, c);
}

// The thirteen values and bytes 52-53; byte 54 comes back as the reply's
// checksum.
bool SameConfig(const DeviceConfig& a, const DeviceConfig& b)
{
    for (int v = 0; v < kConfigValueCount; ++v)
        if (a.Value(v) != b.Value(v))
            return false;
    return a.Tail[0] == b.Tail[0] && a.Tail[1] == b.Tail[1];
}

bool SameList(const InstalledMeterList& a, const InstalledMeterList& b)
{
    return a.Count == b.Count && a.DiameterIndex == b.DiameterIndex && a.Serials == b.Serials && a.Configs == b.Configs;
}

const char* const kCheckRequest =
    "Проверте правильность введенных серийных номеров и состояние подключенных приборов, затем повторите попытку";

}  // namespace

class InstalledMetersDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;

    // Meter 101 on the bench while the list still holds another run's meter:
    // a refused entry must leave that list as it is.
    InstalledMeterList StartOverAnotherList()
    {
        Start({Meter(101, 4)});
        InstalledMeterList before;
        before.Count = 1;
        before.Serials[0] = 7;
        before.DiameterIndex = 2;
        InstalledMeters() = before;
        return before;
    }
    void Start(const std::vector<MeterSpec>& meters)
    {
        QVERIFY(f->Start(meters, false));
        Dialog().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Dialog()));
    }
    TForm4& Dialog() { return f->app->Form4(); }
    template <class T> T* Control(const char* name) { return BenchApp::Find<T>(Dialog(), name); }
    QTableWidget* Table() { return Control<QTableWidget>("SNTable"); }
    QString Cell(int col, int row)
    {
        const QTableWidgetItem* item = Table()->item(row, col);
        return item ? item->text() : QStringLiteral("<no cell>");
    }
    void SetSerial(int row, const QString& text) { Table()->item(row, 1)->setText(text); }
    void Enter(int diameter, std::initializer_list<const char*> serials)
    {
        Control<QComboBox>("ComboBox1")->setCurrentIndex(diameter);
        Control<QSpinBox>("SpinEdit1")->setValue(int(serials.size()));
        int row = 1;
        for (const char* s : serials)
            SetSerial(row++, QString::fromUtf8(s));
    }
    void Accept() { QTest::mouseClick(Control<QPushButton>("BitBtn1"), Qt::LeftButton); }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void controlsStartAsDesigned()
    {
        Start({});
        QCOMPARE(Dialog().windowTitle(), QStringLiteral("Параметры установлденных приборов"));
        auto* combo = Control<QComboBox>("ComboBox1");
        QCOMPARE(combo->currentIndex(), -1);
        QVERIFY(!combo->isEditable());
        QStringList names;
        for (int i = 0; i < combo->count(); ++i)
            names << combo->itemText(i);
        QCOMPARE(names, (QStringList{"Ду 15", "Ду 25", "Ду 32", "Ду 40", "Ду 50", "Ду 80", "Ду 100", "Ду 150",
                                     "Ду 200", "Ду 300"}));
        auto* spin = Control<QSpinBox>("SpinEdit1");
        QCOMPARE(spin->value(), 4);
        QCOMPARE(spin->minimum(), 1);
        QCOMPARE(spin->maximum(), 6);

        QCOMPARE(Table()->columnCount(), 2);
        QCOMPARE(Table()->rowCount(), 5);
        QCOMPARE(Cell(0, 0), QString());
        QCOMPARE(Cell(1, 0), QStringLiteral("Номер"));
        for (int r = 1; r <= 4; ++r) {
            QCOMPARE(Cell(0, r), QStringLiteral("№ %1").arg(r));
            QVERIFY(!(Table()->item(r, 0)->flags() & Qt::ItemIsEditable));
            QVERIFY(Table()->item(r, 1)->flags() & Qt::ItemIsEditable);
        }
        QVERIFY(!(Table()->item(0, 1)->flags() & Qt::ItemIsEditable));
        QCOMPARE(Control<QPushButton>("BitBtn1")->text(), QStringLiteral("ПРИНЯТЬ"));
        QCOMPARE(Control<QPushButton>("BitBtn2")->text(), QStringLiteral("Отмена"));
    }

    void countChangesTheRowsAndKeepsTypedNumbers()
    {
        Start({});
        for (int r = 1; r <= 4; ++r)
            SetSerial(r, QString::number(100 + r));
        auto* spin = Control<QSpinBox>("SpinEdit1");
        spin->setValue(6);
        QCOMPARE(Table()->rowCount(), 7);
        QCOMPARE(Cell(0, 5), QStringLiteral("№ 5"));
        QCOMPARE(Cell(0, 6), QStringLiteral("№ 6"));
        QCOMPARE(Cell(1, 5), QString());
        QCOMPARE(Cell(1, 6), QString());
        QCOMPARE(Cell(1, 4), QStringLiteral("104"));

        spin->setValue(2);
        QCOMPARE(Table()->rowCount(), 3);
        QCOMPARE(Cell(1, 1), QStringLiteral("101"));
        QCOMPARE(Cell(1, 2), QStringLiteral("102"));

        // A run has room for six meters: the count stops there.
        spin->setValue(7);
        QCOMPARE(spin->value(), 6);
        QCOMPARE(Table()->rowCount(), 7);
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(spin->value(), 6);
    }

    void acceptWithEveryMeterAnsweringOpensTheWizard()
    {
        Start({Meter(101, 4), Meter(102, 4)});
        Enter(4, {"101", "102"});
        Accept();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Information, "Тест SN 101\t OK\n\rТест SN 102\t OK", mbOK}}));
        QVERIFY(!Dialog().isVisible());
        QCOMPARE(Dialog().result(), int(ModalResult::All));
        QVERIFY(f->app->Form3().isVisible());

        const InstalledMeterList& list = InstalledMeters();
        QCOMPARE(list.Count, 2);
        QCOMPARE(list.DiameterIndex, 4);
        QCOMPARE(int(list.Serials[0]), 101);
        QCOMPARE(int(list.Serials[1]), 102);
        QVERIFY(SameConfig(list.Configs[0], *Meter(101, 4).config));
        QVERIFY(SameConfig(list.Configs[1], *Meter(102, 4).config));

        // Identify, then read the configuration, meter by meter.
        const auto frames = f->bench->Received();
        QCOMPARE(frames.size(), size_t(4));
        const int commands[] = {kCmdIdentify, kCmdReadConfig, kCmdIdentify, kCmdReadConfig};
        for (size_t i = 0; i < 4; ++i)
            QCOMPARE(int(frames[i].bytes[4]), commands[i]);
    }

    void aSilentMeterIsReportedAndTheWizardStaysClosed()
    {
        MeterSpec silent = Meter(102, 4);
        silent.fault.silent = true;
        Start({Meter(101, 4), silent});
        Enter(4, {"101", "102"});
        Accept();
        QVERIFY(f->boxes.count() >= 2);  // the link's own box for 102, then the report
        const ShownMessage report = f->boxes.shown().back();
        QCOMPARE(report.kind, MsgKind::Error);
        QCOMPARE(report.buttons, int(mbOK));
        QCOMPARE(report.text, QStringLiteral("Тест SN 101\t OK\n\rТест SN 102\t Нет связи\n\r") +
                                  QString::fromUtf8(kCheckRequest));
        QVERIFY(!Dialog().isVisible());
        QVERIFY(!f->app->Form3().isVisible());
        // Stored at once, before the test failed.
        QCOMPARE(InstalledMeters().Count, 2);
        QCOMPARE(int(InstalledMeters().Serials[1]), 102);
    }

    void aSerialNumberKeepsItsLowSixteenBits()
    {
        Start({Meter(1, 0)});
        Enter(0, {"65537"});
        Accept();
        QCOMPARE(f->boxes.texts(), QStringList{QStringLiteral("Тест SN 1\t OK")});
        QCOMPARE(int(InstalledMeters().Serials[0]), 1);
    }

    void aCellThatIsNoNumberStopsBeforeAnythingIsStored()
    {
        const InstalledMeterList before = StartOverAnotherList();
        Enter(4, {"101", "12a", "103"});
        Accept();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Error, "'12a' is not a valid integer value.", mbOK}}));
        // Refused whole: the list as it was, the dialog open with what was typed.
        QVERIFY(SameList(InstalledMeters(), before));
        QVERIFY(f->bench->Received().empty());
        QVERIFY(Dialog().isVisible());
        QCOMPARE(Cell(1, 2), QStringLiteral("12a"));
        QVERIFY(!f->app->Form3().isVisible());

        // An empty cell and the broadcast number 0 likewise.
        for (const char* text : {"", "0"}) {
            f->boxes.clear();
            SetSerial(2, QString::fromUtf8(text));
            Accept();
            QCOMPARE(f->boxes.texts(), QStringList{*text ? QStringLiteral("Проверте правильность ввода серийного номера")
                                                         : QStringLiteral("'' is not a valid integer value.")});
            QVERIFY(SameList(InstalledMeters(), before));
            QVERIFY(Dialog().isVisible());
            QCOMPARE(Cell(1, 3), QStringLiteral("103"));
        }
    }

    void noDiameterIsRefusedAndTheDialogStaysOpen()
    {
        const InstalledMeterList before = StartOverAnotherList();
        Control<QSpinBox>("SpinEdit1")->setValue(1);
        SetSerial(1, QStringLiteral("101"));
        Accept();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Warning, "Не выбран диаметр приборов. Выберите диаметр и повторите попытку",
                                      mbOK}}));
        QVERIFY(Dialog().isVisible());
        QVERIFY(SameList(InstalledMeters(), before));
        QVERIFY(f->bench->Received().empty());
    }

    void cancelAndEscapeKeepThePreviousList()
    {
        Start({Meter(101, 4), Meter(102, 4)});
        Enter(4, {"101", "102"});
        Accept();
        const InstalledMeterList accepted = InstalledMeters();
        f->app->Form3().hide();

        Dialog().show();
        Enter(7, {"5", "6", "7"});
        QTest::mouseClick(Control<QPushButton>("BitBtn2"), Qt::LeftButton);
        QVERIFY(!Dialog().isVisible());
        QCOMPARE(Dialog().result(), int(ModalResult::Cancel));
        QVERIFY(SameList(InstalledMeters(), accepted));

        Dialog().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Dialog()));
        QTest::keyClick(&Dialog(), Qt::Key_Escape);
        QVERIFY(!Dialog().isVisible());
        QCOMPARE(Dialog().result(), int(ModalResult::Cancel));
        QVERIFY(SameList(InstalledMeters(), accepted));
        // The grid keeps what was typed for the next showing.
        QCOMPARE(Cell(1, 3), QStringLiteral("7"));
        QVERIFY(!f->app->Form3().isVisible());
    }
};

QTEST_MAIN(InstalledMetersDialogTest)
#include "installed_meters_dialog_test.moc"
