// The change-configuration command end to end: the real program (professional
// variant) against the virtual meter bench over a real pseudo-terminal, the
// editor driven through its controls while it runs modally.

#include "bench_app.h"
#include "config_editor.h"
#include "diameter_defaults.h"
#include "installed_meters.h"
#include "main_window.h"
#include "number_text.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>


namespace {

QString L(const char* pattern)
{
    return QString::fromUtf8(pattern).replace(QLatin1Char('#'), DecimalSeparator());
}

std::vector<uint8_t> ConfigBytes(const DeviceConfig& c)
{
    std::vector<uint8_t> b(kDeviceConfigLength);
    EncodeDeviceConfig(c, b.data());
    return b;
}

const char* const kConfirm = "Вы уверены что хотите записать параметры?";

}  // namespace

class ConfigEditorEndToEndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;
    DeviceConfig stored;  // the meter's configuration at the start
    DeviceConfig held;    // as the program read it

    void Start()
    {
        stored = DefaultConfigFor(4);
        stored.K1 = 0.987654f;
        stored.Tail = {0x12, 0x34, 0x56};  // carried from the read into the write
        QVERIFY(f->Start({BenchMeter(4321, 4, 0, stored)}, false));
    }
    template <class T> T* Main(const char* name) { return BenchApp::Find<T>(f->app->Form1(), name); }
    template <class T> T* Editor(const QString& name) { return f->app->Form2().findChild<T*>(name); }
    QLineEdit* Field(int n) { return Editor<QLineEdit>(n == 13 ? QStringLiteral("Edit13") : QStringLiteral("EdPar%1").arg(n)); }
    void Click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

    void ReadMeter()
    {
        Main<QSpinBox>("SpinEdit1")->setValue(4321);
        Click(Main<QPushButton>("Button2"));
        QCOMPARE(f->boxes.count(), size_t(0));
        held = f->app->Form1().Link().MainConfig;
        // Byte 54 of a read falls on the reply's checksum; the rest is the meter's.
        const auto read = ConfigBytes(held), kept = ConfigBytes(stored);
        QCOMPARE(std::vector<uint8_t>(read.begin(), read.end() - 1), std::vector<uint8_t>(kept.begin(), kept.end() - 1));
    }

    void Type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    // Clicks "Изменить  конфигурацию" and runs action once the editor is up
    // as the modal window; returns when the command has ended.
    void ChangeConfiguration(const std::function<void(TForm2&)>& action)
    {
        bool ran = false;
        QTimer poll;
        poll.setInterval(5);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QApplication::activeModalWidget() != &f->app->Form2() || !f->app->Form2().isVisible())
                return;
            poll.stop();
            ran = true;
            action(f->app->Form2());
        });
        poll.start();
        Click(Main<QPushButton>("Button3"));
        QVERIFY(ran);
        QVERIFY(!f->app->Form2().isVisible());
    }

    std::vector<metersim::ReceivedFrame> WriteFrames() const
    {
        std::vector<metersim::ReceivedFrame> writes;
        for (const auto& frame : f->bench->Received())
            if (frame.valid && frame.bytes.size() == size_t(kWriteConfigFrameLength) && frame.bytes[4] == kCmdWriteConfig)
                writes.push_back(frame);
        return writes;
    }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void changedK2AndSerialReachTheMeterByteForByte()
    {
        Start();
        ReadMeter();
        QString shownSerial, shownK1;
        int shownDiameter = -2;
        ChangeConfiguration([&](TForm2& editor) {
            shownSerial = Field(13)->text();
            shownK1 = Field(3)->text();
            shownDiameter = editor.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->currentIndex();
            Type(Field(4), L("1#234567"));
            Type(Field(13), QStringLiteral("4400"));
            f->boxes.answer(ModalResult::Ok);
            Click(editor.findChild<QPushButton*>(QStringLiteral("BitBtn1")));
        });
        QCOMPARE(shownSerial, QStringLiteral("4321"));
        QCOMPARE(shownK1, L("0#987654"));
        QCOMPARE(shownDiameter, 4);
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Confirmation, QString::fromUtf8(kConfirm), mbOK | mbCancel},
                                     {MsgKind::Information, QStringLiteral("Параметры изменены"), mbOK}}));

        DeviceConfig expected = held;
        expected.K2 = 1.234567f;
        const auto frame = BuildWriteConfigFrame(4321, 4400, expected);
        const auto writes = WriteFrames();
        QCOMPARE(writes.size(), size_t(1));
        QCOMPARE(writes[0].bytes, std::vector<uint8_t>(frame.begin(), frame.end()));

        // The meter now carries the new serial number and exactly the bytes sent.
        const auto meters = f->bench->Meters();
        QCOMPARE(meters.size(), size_t(1));
        QCOMPARE(int(meters[0].serial), 4400);
        QCOMPARE(meters[0].writes, 1);
        QCOMPARE(ConfigBytes(meters[0].config),
                 std::vector<uint8_t>(frame.begin() + kConfigOffset, frame.end()));
        QCOMPARE(meters[0].config.K2, 1.234567f);
        QCOMPARE(meters[0].config.K1, stored.K1);

        QCOMPARE(Main<QSpinBox>("SpinEdit1")->value(), 4400);
        QCOMPARE(int(f->app->Form1().Link().CurrentSerialNumber), 4400);
        QCOMPARE(f->app->Form1().Link().MainConfig, expected);

        // The meter answers under its new number.
        f->boxes.clear();
        Click(Main<QPushButton>("Button2"));
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(f->app->Form1().Link().MainConfig.K2, 1.234567f);
    }

    void aMeterBlockingChangesKeepsEverything()
    {
        Start();
        ReadMeter();
        f->bench->SetBlocked(4321, true);
        ChangeConfiguration([&](TForm2& editor) {
            Type(Field(4), L("1#5"));
            Type(Field(13), QStringLiteral("4400"));
            f->boxes.answer(ModalResult::Ok);
            Click(editor.findChild<QPushButton*>(QStringLiteral("BitBtn1")));
        });
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Confirmation, QString::fromUtf8(kConfirm), mbOK | mbCancel},
                                     {MsgKind::Plain, QStringLiteral("Изменение параметров блокировано"), mbOK}}));
        QCOMPARE(WriteFrames().size(), size_t(1));
        const metersim::MeterSnapshot meter = f->bench->Meter(4321);
        QCOMPARE(ConfigBytes(meter.config), ConfigBytes(stored));
        QCOMPARE(meter.writes, 0);
        QCOMPARE(Main<QSpinBox>("SpinEdit1")->value(), 4321);
        QCOMPARE(int(f->app->Form1().Link().CurrentSerialNumber), 4321);
        // The held configuration keeps what was sent.
        QCOMPARE(f->app->Form1().Link().MainConfig.K2, 1.5f);
    }

    void closingTheEditorWritesNothingAndTheNextOpeningStartsAfresh()
    {
        Start();
        ReadMeter();
        ChangeConfiguration([&](TForm2& editor) {
            Type(Field(4), QStringLiteral("7"));
            Type(Field(13), QStringLiteral("9"));
            editor.close();  // the title bar's close button
        });
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(WriteFrames().size(), size_t(0));
        QCOMPARE(f->app->Form1().Link().MainConfig, held);

        QString k2, serial;
        ChangeConfiguration([&](TForm2& editor) {
            k2 = Field(4)->text();
            serial = Field(13)->text();
            editor.close();
        });
        QCOMPARE(k2, L("1#000000"));
        QCOMPARE(serial, QStringLiteral("4321"));
        QCOMPARE(WriteFrames().size(), size_t(0));
    }

    void aCoefficientThatIsNoNumberChangesNothing()
    {
        Start();
        ReadMeter();
        bool stayedOpen = false;
        ChangeConfiguration([&](TForm2& editor) {
            Type(Field(2), L("1#1"));
            Type(Field(4), QStringLiteral("abc"));
            Click(editor.findChild<QPushButton*>(QStringLiteral("BitBtn1")));
            stayedOpen = editor.isVisible();
            editor.close();
        });
        QVERIFY(stayedOpen);
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Error, QStringLiteral("'abc' is not a valid floating point value."), mbOK}}));
        QCOMPARE(WriteFrames().size(), size_t(0));
        QCOMPARE(f->app->Form1().Link().MainConfig, held);  // K0 not half-applied
        QCOMPARE(ConfigBytes(f->bench->Meter(4321).config), ConfigBytes(stored));
    }

    void openingBeforeAnyReadShowsZeros()
    {
        Start();
        Main<QSpinBox>("SpinEdit1")->setValue(321);
        QStringList values;
        QString serial;
        int diameter = -2;
        ChangeConfiguration([&](TForm2& editor) {
            serial = Field(13)->text();
            for (int n = 0; n < kConfigValueCount; ++n)
                values << Field(n)->text();
            diameter = editor.findChild<QComboBox*>(QStringLiteral("ComboBox1"))->currentIndex();
            editor.close();
        });
        QCOMPARE(serial, QStringLiteral("321"));
        QCOMPARE(values, QStringList(kConfigValueCount, L("0#000000")));
        QCOMPARE(diameter, -1);
    }
};

QTEST_MAIN(ConfigEditorEndToEndTest)
#include "config_editor_e2e_test.moc"
