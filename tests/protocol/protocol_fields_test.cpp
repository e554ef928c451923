// TForm6, the protocol fields dialog, in the real program (offscreen): its
// defaults, the emptiness check, the report number and the names it keeps
// in "Settings.ini".

#include "bench_app.h"
#include "main_window.h"
#include "protocol_fields_dialog.h"
#include "scanner_app.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <memory>

namespace {

// "Иванов И.И." and "Петров П.П." in Windows-1251.
const QByteArray kIvanov("\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.");
const QByteArray kPetrov("\xCF\xE5\xF2\xF0\xEE\xE2 \xCF.\xCF.");
const QString kEmptyWarning = QStringLiteral("Не все поля заполнены. Заполните пустые поля и повторите попытку");

}  // namespace

class ProtocolFieldsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> f;

    QString SettingsPath() const { return f->Path(QStringLiteral("Settings.ini")); }
    QByteArray SettingsBytes() const { return f->ReadFile(QStringLiteral("Settings.ini")); }
    void Start(const QByteArray& settings)
    {
        QVERIFY(f->WriteFile(QStringLiteral("Settings.ini"), settings));
        QVERIFY(f->ShowProgram(true));
    }
    TForm6& Form() { return f->app->Form6(); }
    template <class T> T* Control(const char* name) { return BenchApp::Find<T>(Form(), name); }
    QLineEdit* Edit(const char* name) { return Control<QLineEdit>(name); }
    void Open()
    {
        Form().open();
        QVERIFY(QTest::qWaitForWindowExposed(&Form()));
    }
    void Ok() { QTest::mouseClick(Control<QPushButton>("BitBtn1"), Qt::LeftButton); }
    void FillAll()
    {
        Control<QComboBox>("ComboBox1")->setCurrentIndex(1);
        Edit("Edit3")->setText(QStringLiteral("Иванов И.И."));
        Edit("Edit4")->setText(QStringLiteral("Петров П.П."));
    }

private slots:
    void init() { f = std::make_unique<BenchApp>(); }
    void cleanup() { f.reset(); }

    void showsItsDefaultsAndTheRememberedNames()
    {
        Start("[CONFIG]\r\nCOM=\r\nFIO1=" + kIvanov + "\r\nFIO2=" + kPetrov + "\r\n");
        Open();
        QCOMPARE(Form().windowTitle(), QStringLiteral("Заполнение полей протокола "));
        QComboBox* combo = Control<QComboBox>("ComboBox1");
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QStringLiteral("Р-485"));
        QCOMPARE(combo->itemText(1), QStringLiteral("ДР-485"));
        QCOMPARE(combo->currentText(), QString());
        QCOMPARE(Edit("Edit1")->text(), QStringLiteral("20"));
        QCOMPARE(Edit("Edit2")->text(), QStringLiteral("1,0132bar"));
        QCOMPARE(Edit("Edit3")->text(), QStringLiteral("Иванов И.И."));
        QCOMPARE(Edit("Edit4")->text(), QStringLiteral("Петров П.П."));
        QPushButton* ok = Control<QPushButton>("BitBtn1");
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QCOMPARE(Form().minimumSize(), Form().maximumSize());  // fixed border
    }

    void acceptingAdvancesTheNumberAndStoresTheNames()
    {
        Start("[CONFIG]\r\nCOM=\r\nREPNO=7\r\nFIO1=old\r\n");
        Open();
        FillAll();
        Ok();
        QCOMPARE(Form().result(), int(QDialog::Accepted));
        QVERIFY(!Form().isVisible());
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(f->app->Form1().Settings().RepNo, 8);
        QCOMPARE(SettingsBytes(),
                 "[CONFIG]\r\nCOM=\r\nREPNO=8\r\nFIO1=" + kIvanov + "\r\nFIO2=" + kPetrov + "\r\n");
        // The names in memory stay as read at start; the fields keep theirs.
        QCOMPARE(f->app->Form1().Settings().Fio1, QStringLiteral("old"));
        QCOMPARE(Form().TestedBy(), QStringLiteral("Иванов И.И."));
        QCOMPARE(Form().Modification(), QStringLiteral("ДР-485"));
        QCOMPARE(Form().WaterTemperature(), QStringLiteral("20"));
        QCOMPARE(Form().Pressure(), QStringLiteral("1,0132bar"));
        QCOMPARE(Form().VerifiedBy(), QStringLiteral("Петров П.П."));

        // Every accept takes the next number.
        Open();
        Ok();
        QCOMPARE(f->app->Form1().Settings().RepNo, 9);
        QVERIFY(SettingsBytes().contains("REPNO=9\r\n"));
    }

    void anEmptyFieldKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("modification") << QStringLiteral("ComboBox1");
        QTest::newRow("water temperature") << QStringLiteral("Edit1");
        QTest::newRow("pressure") << QStringLiteral("Edit2");
        QTest::newRow("tested by") << QStringLiteral("Edit3");
        QTest::newRow("verified by") << QStringLiteral("Edit4");
    }
    void anEmptyFieldKeepsTheDialogOpen()
    {
        QFETCH(QString, field);
        const QByteArray settings = "[CONFIG]\r\nCOM=\r\nREPNO=7\r\n";
        Start(settings);
        Open();
        FillAll();
        if (field == QLatin1String("ComboBox1"))
            Control<QComboBox>("ComboBox1")->setEditText(QString());
        else
            Edit(field.toLatin1().constData())->clear();
        Ok();
        QCOMPARE(f->boxes.shown(), (std::vector<ShownMessage>{{MsgKind::Warning, kEmptyWarning, mbOK}}));
        QVERIFY(Form().isVisible());
        QCOMPARE(f->app->Form1().Settings().RepNo, 7);
        QCOMPARE(SettingsBytes(), settings);
        Form().reject();
    }

    void enterPressesOkAndBlanksCountAsText()
    {
        Start("[CONFIG]\r\nCOM=\r\nREPNO=7\r\n");
        Open();
        FillAll();
        Edit("Edit1")->clear();
        QTest::keyClick(Edit("Edit1"), Qt::Key_Return);
        QCOMPARE(f->boxes.texts(), QStringList{kEmptyWarning});
        QVERIFY(Form().isVisible());
        // Enter in the combo box's edit part presses OK as well.
        f->boxes.clear();
        QTest::keyClick(Control<QComboBox>("ComboBox1")->lineEdit(), Qt::Key_Return);
        QCOMPARE(f->boxes.texts(), QStringList{kEmptyWarning});
        QVERIFY(Form().isVisible());

        // A blank is a character; a modification typed by hand is taken.
        f->boxes.clear();
        Edit("Edit1")->setText(QStringLiteral(" "));
        Control<QComboBox>("ComboBox1")->setEditText(QStringLiteral("ДР-485М"));
        QTest::keyClick(Edit("Edit1"), Qt::Key_Return);
        QCOMPARE(f->boxes.count(), size_t(0));
        QCOMPARE(Form().result(), int(QDialog::Accepted));
        QCOMPARE(Form().Modification(), QStringLiteral("ДР-485М"));
        QCOMPARE(Form().WaterTemperature(), QStringLiteral(" "));
        QCOMPARE(f->app->Form1().Settings().RepNo, 8);
    }

    void closingIsCancelAndEscapeDoesNothing()
    {
        const QByteArray settings = "[CONFIG]\r\nCOM=\r\nREPNO=7\r\n";
        Start(settings);
        Open();
        FillAll();
        QTest::keyClick(Edit("Edit1"), Qt::Key_Escape);
        QVERIFY(Form().isVisible());
        Form().close();
        QCOMPARE(Form().result(), int(QDialog::Rejected));
        QCOMPARE(f->app->Form1().Settings().RepNo, 7);
        QCOMPARE(SettingsBytes(), settings);
        // The fields keep their texts for the next showing.
        Open();
        QCOMPARE(Control<QComboBox>("ComboBox1")->currentText(), QStringLiteral("ДР-485"));
        Form().reject();
    }

    void namesComeBackAfterARestart()
    {
        Start("[CONFIG]\r\nCOM=\r\n");
        Open();
        FillAll();
        Edit("Edit3")->setText(QStringLiteral("Сидоров С.С."));
        Edit("Edit4")->setText(QStringLiteral("Кузнецов К.К."));
        Ok();
        QCOMPARE(f->app->Form1().Settings().RepNo, 2);  // REPNO defaults to 1
        f->StopProgram();

        f->app = std::make_unique<ScannerApplication>(f->dir.path(), true);
        QCOMPARE(f->app->Form1().Settings().RepNo, 2);
        QCOMPARE(Edit("Edit3")->text(), QStringLiteral("Сидоров С.С."));
        QCOMPARE(Edit("Edit4")->text(), QStringLiteral("Кузнецов К.К."));
    }

    void anUnwritableSettingsFileIsReportedAndTheDialogStillAccepts()
    {
        Start("[CONFIG]\r\nCOM=\r\nREPNO=7\r\n");
        QVERIFY(::chmod(SettingsPath().toLocal8Bit().constData(), 0444) == 0);
        Open();
        FillAll();
        Ok();
        QCOMPARE(f->boxes.shown(),
                 (std::vector<ShownMessage>{{MsgKind::Error, QStringLiteral("Unable to write to ") + SettingsPath() + '.', mbOK}}));
        QCOMPARE(Form().result(), int(QDialog::Accepted));
        QVERIFY(!Form().isVisible());
        QCOMPARE(f->app->Form1().Settings().RepNo, 8);
        ::chmod(SettingsPath().toLocal8Bit().constData(), 0644);
    }
};

QTEST_MAIN(ProtocolFieldsTest)
#include "protocol_fields_test.moc"
