// The configuration editor window, offscreen, through its real controls:
// opening, diameter pick and reset, the write check and its confirmation,
// saving and loading .coef files on a real disk (file dialogs answered from a
// script). Runs under C and ru_RU.UTF-8; '#' in a text stands for the user's
// decimal separator.

#include "app_paths.h"
#include "combo_pick.h"
#include "config_editor.h"
#include "diameter_defaults.h"
#include "file_dialogs.h"
#include "number_text.h"
#include "scripted_file_dialogs.h"
#include "scripted_messages.h"
#include "test_helpers.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace {

QString L(const char* pattern)
{
    return QString::fromUtf8(pattern).replace(QLatin1Char('#'), DecimalSeparator());
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The Ду 50 defaults as the fields show them.
const char* const kDu50[kConfigValueCount] = {"0#050000", "100#000000", "1#000000", "1#000000", "1#000000",
                                              "1#000000", "1#000000",   "0#150000", "0#300000", "0#700000",
                                              "1#500000", "35#000000",  "1#000000"};

const char* const kConfirm = "Вы уверены что хотите записать параметры?";

}  // namespace

class ConfigEditorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScopedScriptedMessages> boxes;
    std::unique_ptr<ScopedScriptedFileDialogs> files;
    std::unique_ptr<TForm2> form;

    template <class T> T* Control(const QString& name) { return FindControl<T>(*form, name); }
    QLineEdit* Field(int n) { return Control<QLineEdit>(n == 13 ? QStringLiteral("Edit13") : QStringLiteral("EdPar%1").arg(n)); }
    QComboBox* Diameters() { return Control<QComboBox>(QStringLiteral("ComboBox1")); }
    QString Path(const char* name) const { return dir->filePath(QString::fromUtf8(name)); }

    QStringList Values()
    {
        QStringList v;
        for (int n = 0; n < kConfigValueCount; ++n)
            v << Field(n)->text();
        return v;
    }
    static QStringList Localised(const char* const (&texts)[kConfigValueCount])
    {
        QStringList v;
        for (const char* t : texts)
            v << L(t);
        return v;
    }

    // Replaces a field's text as a user would: select all, delete, type.
    void Type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        bool latin = true;
        for (QChar c : text)
            latin = latin && c.unicode() >= 0x20 && c.unicode() < 0x7f;
        if (latin)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);  // QTest cannot type beyond Latin-1
        QCOMPARE(edit->text(), text);
    }
    void Click(const char* name) { QTest::mouseClick(Control<QAbstractButton>(QString::fromUtf8(name)), Qt::LeftButton); }

    void PickDiameter(int i)
    {
        PickFromList(Diameters(), Diameters()->itemText(i));
        QCOMPARE(Diameters()->currentIndex(), i);
    }

    void Open(SerialNumber serial, const DeviceConfig& c)
    {
        form->Fill(serial, c);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    static DeviceConfig WithDy(float dy)
    {
        DeviceConfig c = DefaultConfigFor(4);
        c.Dy = dy;
        return c;
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        AppPaths::setDirectory(dir->path());
        boxes = std::make_unique<ScopedScriptedMessages>();
        files = std::make_unique<ScopedScriptedFileDialogs>();
        form = std::make_unique<TForm2>();
    }
    void cleanup()
    {
        form.reset();
        files.reset();
        boxes.reset();
        dir.reset();
    }

    void controlsCarryTheirNamesAndCaptions()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Изменение конфигурации"));
        const QStringList labels = {"Dy,м", "Вес вых имп", "К0", "К1", "К2", "К3", "К4",
                                    "FL0",  "FL1",         "FL2", "FL3", "FL4", "MainCal"};
        QHash<QWidget*, QString> labelOf;
        for (QLabel* l : form->findChildren<QLabel*>())
            if (l->buddy())
                labelOf[l->buddy()] = l->text();
        QCOMPARE(labelOf.value(Field(13)), QStringLiteral("Серийный номер"));
        for (int n = 0; n < kConfigValueCount; ++n)
            QCOMPARE(labelOf.value(Field(n)), labels[n]);
        QCOMPARE(labelOf.value(Field(2)).at(0), QChar(0x041A));  // Cyrillic К
        QStringList items;
        for (int i = 0; i < Diameters()->count(); ++i)
            items << Diameters()->itemText(i);
        QCOMPARE(items, (QStringList{"Ду 15", "Ду 25", "Ду 32", "Ду 40", "Ду 50", "Ду 80", "Ду 100", "Ду 150",
                                     "Ду 200", "Ду 300"}));
        QVERIFY(Diameters()->isEditable());
        QCOMPARE(Control<QPushButton>("BitBtn2")->text(), QStringLiteral("Обнулить"));
        QCOMPARE(Control<QPushButton>("BitBtn1")->text(), QStringLiteral("Записать"));
        QVERIFY(Control<QToolButton>("SpeedButton1")->text().isEmpty());
        QVERIFY(!Control<QToolButton>("SpeedButton1")->icon().isNull());
        QVERIFY(!Control<QToolButton>("SpeedButton2")->icon().isNull());
        QVERIFY(form->findChild<FileDialog*>(QStringLiteral("SaveDialog1")));
        QVERIFY(form->findChild<FileDialog*>(QStringLiteral("OpenDialog1")));
    }

    void openingShowsTheMeterAndSelectsItsDiameter_data()
    {
        QTest::addColumn<float>("dy");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("selected");
        QTest::newRow("Ду 50") << 0.05f << L("0#050000") << 4;
        QTest::newRow("Ду 100 as single 0.1") << 0.1f << L("0#100000") << 6;
        QTest::newRow("0.045 selects nothing") << 0.045f << L("0#045000") << -1;
        // The program's own selection must not rewrite the field to 0.050000.
        QTest::newRow("close to Ду 50") << 0.05005f << L("0#050050") << 4;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << QStringLiteral("nan") << -1;
    }
    void openingShowsTheMeterAndSelectsItsDiameter()
    {
        QFETCH(float, dy);
        QFETCH(QString, shown);
        QFETCH(int, selected);
        // Another meter first: every opening overwrites the selection.
        Open(999, DefaultConfigFor(9));
        form->hide();
        Open(4321, WithDy(dy));
        QCOMPARE(Field(13)->text(), QStringLiteral("4321"));
        QCOMPARE(Field(0)->text(), shown);
        QCOMPARE(Values().mid(1), Localised(kDu50).mid(1));
        QCOMPARE(Diameters()->currentIndex(), selected);
        QCOMPARE(Diameters()->currentText(), selected < 0 ? QString() : Diameters()->itemText(selected));
        QCOMPARE(boxes->count(), size_t(0));
    }

    void pickingADiameterChangesOnlyDyAndResetSetsItsDefaults()
    {
        Open(4321, DefaultConfigFor(4));
        Type(Field(4), L("1#234567"));
        PickDiameter(8);  // Ду 200
        QStringList expected = Localised(kDu50);
        expected[0] = L("0#200000");
        expected[4] = L("1#234567");
        QCOMPARE(Values(), expected);

        Click("BitBtn2");
        const char* const du200[kConfigValueCount] = {"0#200000", "1000#000000", "1#000000", "1#000000", "1#000000",
                                                      "1#000000", "1#000000",    "2#500000", "5#700000", "11#300000",
                                                      "22#600000", "565#000000", "1#000000"};
        QCOMPARE(Values(), Localised(du200));
        QCOMPARE(Field(13)->text(), QStringLiteral("4321"));

        PickDiameter(9);  // Ду 300 keeps its smaller FL4
        Click("BitBtn2");
        QCOMPARE(Field(11)->text(), L("125#000000"));
        QCOMPARE(Field(1)->text(), L("1000#000000"));
        QCOMPARE(boxes->count(), size_t(0));
    }

    void resetWithoutADiameterDoesNothing()
    {
        Open(4321, WithDy(0.045f));
        Type(Field(6), QStringLiteral("7"));
        const QStringList before = Values();
        Click("BitBtn2");
        QCOMPARE(Values(), before);
    }

    void typingIntoTheDiameterBoxLeavesNoneSelected()
    {
        Open(4321, DefaultConfigFor(4));
        QCOMPARE(Diameters()->currentIndex(), 4);
        QTest::keyClicks(Diameters()->lineEdit(), "7");
        QCOMPARE(Diameters()->currentIndex(), -1);
        QCOMPARE(Diameters()->currentText(), QStringLiteral("Ду 507"));
        QCOMPARE(Values(), Localised(kDu50));
        Type(Field(1), QStringLiteral("5"));
        Click("BitBtn2");
        QCOMPARE(Field(1)->text(), QStringLiteral("5"));
    }

    void writeCheckShowsTheFirstFailureAndStaysOpen_data()
    {
        QTest::addColumn<QList<int>>("fields");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("message");
        const QString serial = QStringLiteral("Проверте правильность ввода серийного номера");
        QTest::newRow("serial 0") << QList<int>{13} << QStringList{"0"} << serial;
        QTest::newRow("serial empty") << QList<int>{13} << QStringList{""}
                                      << QStringLiteral("'' is not a valid integer value.");
        QTest::newRow("K4 empty, FL0 0") << QList<int>{7, 6} << QStringList{"0", ""}
                                         << QStringLiteral("Проверте правильность ввода K4");
        // Passes the check, but is no number: reported here, before the
        // confirmation, where the user can still mend it.
        QTest::newRow("K2 letters") << QList<int>{4} << QStringList{"abc"}
                                    << QStringLiteral("'abc' is not a valid floating point value.");
        QTest::newRow("MainCal beyond single") << QList<int>{12} << QStringList{"1e39"}
                                               << QStringLiteral("Floating point overflow.");
    }
    void writeCheckShowsTheFirstFailureAndStaysOpen()
    {
        QFETCH(QList<int>, fields);
        QFETCH(QStringList, texts);
        QFETCH(QString, message);
        Open(4321, DefaultConfigFor(4));
        for (int i = 0; i < fields.size(); ++i)
            Type(Field(fields[i]), texts[i]);
        const QStringList before = Values();
        Click("BitBtn1");
        QCOMPARE(boxes->shown(), (std::vector<ShownMessage>{{MsgKind::Error, message, mbOK}}));
        QVERIFY(form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Rejected));
        QCOMPARE(Values(), before);
    }

    void writeCheckPassesTheLimits_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("serial 1") << "1" << 0 << L("0#05");
        QTest::newRow("serial 65535") << "65535" << 0 << L("0#05");
        QTest::newRow("K0 0") << "7" << 2 << "0";
    }
    void writeCheckPassesTheLimits()
    {
        QFETCH(QString, serial);
        QFETCH(int, field);
        QFETCH(QString, text);
        Open(4321, DefaultConfigFor(4));
        Type(Field(13), serial);
        Type(Field(field), text);
        boxes->answer(ModalResult::Ok);
        Click("BitBtn1");
        QCOMPARE(boxes->shown(),
                 (std::vector<ShownMessage>{{MsgKind::Confirmation, QString::fromUtf8(kConfirm), mbOK | mbCancel}}));
        QTRY_VERIFY(!form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Accepted));
        const EditedConfig e = form->Result();
        QCOMPARE(int(e.Serial), serial.toInt());
    }

    void cancelInTheConfirmationAndEscKeepTheDialogOpen()
    {
        Open(4321, DefaultConfigFor(4));
        Type(Field(4), L("2#5"));
        const QStringList before = Values();
        boxes->answer(ModalResult::Cancel);
        Click("BitBtn1");
        QCOMPARE(boxes->texts(), QStringList{QString::fromUtf8(kConfirm)});
        QVERIFY(form->isVisible());
        QCOMPARE(form->result(), int(QDialog::Rejected));
        QCOMPARE(Values(), before);
        QCOMPARE(Field(13)->text(), QStringLiteral("4321"));

        // Esc drops nothing: typed values and the dialog stay.
        for (QWidget* target : {static_cast<QWidget*>(Field(4)), static_cast<QWidget*>(form.get())})
            QTest::keyClick(target, Qt::Key_Escape);
        QVERIFY(form->isVisible());
        QCOMPARE(Values(), before);
    }

    void modalRunEndsAcceptedOnlyThroughTheConfirmation()
    {
        form->Fill(4321, DefaultConfigFor(4));
        QTimer::singleShot(0, form.get(), [this] { form->close(); });
        QCOMPARE(form->exec(), int(QDialog::Rejected));

        boxes->answer(ModalResult::Ok);
        QTimer::singleShot(0, form.get(), [this] { Click("BitBtn1"); });
        QCOMPARE(form->exec(), int(QDialog::Accepted));
        QCOMPARE(boxes->count(), size_t(1));
    }

    void saveProposesTheSerialNameInRestore()
    {
        Open(1234, DefaultConfigFor(4));
        const QString restore = Path("Restore");
        QVERIFY(!QFileInfo::exists(restore));
        const QString target = restore + QStringLiteral("/ZRM_№1234.coef");
        files->answer(target);
        Click("SpeedButton2");
        QCOMPARE(files->count(), size_t(1));
        FileDialogRequest expected;
        expected.kind = FileDialogKind::Save;
        expected.filter = QStringLiteral("Конфигурация ЗРМ (*.coef)");
        expected.defaultSuffix = QStringLiteral("coef");
        expected.initialDirectory = restore;
        expected.fileName = QStringLiteral("ZRM_№1234");
        expected.overwritePrompt = true;
        QCOMPARE(files->requests()[0], expected);
        QVERIFY(QFileInfo(restore).isDir());
        QCOMPARE(boxes->count(), size_t(0));

        QByteArray bytes = "[DEVICE_CFG]\r\nSN=1234\r\n";
        const char* const keys[] = {"Dy", "Ves", "K0", "K1", "K2", "K3", "K4",
                                    "FL0", "FL1", "FL2", "FL3", "FL4", "MainCal"};
        for (int n = 0; n < kConfigValueCount; ++n)
            bytes += QByteArray(keys[n]) + '=' + L(kDu50[n]).toLatin1() + "\r\n";
        QCOMPARE(ReadAll(target), bytes);

        // On Linux the name is UTF-8: № is E2 84 96.
        DIR* d = ::opendir(QFile::encodeName(restore).constData());
        QVERIFY(d);
        QByteArrayList names;
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names << QByteArray(e->d_name);
        ::closedir(d);
        QCOMPARE(names, QByteArrayList{QByteArray("ZRM_\xE2\x84\x96" "1234.coef")});
    }

    void saveWritesTheTextsAsTheyStand()
    {
        Open(1234, DefaultConfigFor(4));
        Type(Field(13), QString());
        Type(Field(2), QStringLiteral("abc"));
        Type(Field(3), QString());
        Type(Field(4), QStringLiteral("0.5,5"));
        files->answer(Path("t.coef"));
        Click("SpeedButton2");
        QCOMPARE(files->requests()[0].fileName, QStringLiteral("ZRM_№"));
        QCOMPARE(boxes->count(), size_t(0));
        const QByteArray bytes = ReadAll(Path("t.coef"));
        QVERIFY(bytes.startsWith("[DEVICE_CFG]\r\nSN=\r\nDy="));
        QVERIFY(bytes.contains("\r\nK0=abc\r\nK1=\r\nK2=0.5,5\r\nK3="));
    }

    void cancelledOrEmptySaveWritesNothing()
    {
        Open(1234, DefaultConfigFor(4));
        files->cancel();
        Click("SpeedButton2");
        QCOMPARE(files->count(), size_t(1));
        QCOMPARE(QDir(Path("Restore")).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(boxes->count(), size_t(0));
    }

    void restoreThatCannotBeCreatedIsNotReported()
    {
        WriteAll(Path("Restore"), "a file in the way");
        Open(1234, DefaultConfigFor(4));
        files->answer(Path("elsewhere.coef"));
        Click("SpeedButton2");
        QCOMPARE(boxes->count(), size_t(0));
        QVERIFY(QFileInfo(Path("elsewhere.coef")).isFile());
        QCOMPARE(ReadAll(Path("Restore")), QByteArray("a file in the way"));
    }

    void readOnlyFileGivesUnableToWriteAndStaysUnharmed()
    {
        const QByteArray original = "[DEVICE_CFG]\r\nSN=1\r\n";
        WriteAll(Path("ro.coef"), original);
        QCOMPARE(::chmod(QFile::encodeName(Path("ro.coef")).constData(), 0444), 0);
        Open(1234, DefaultConfigFor(4));
        files->answer(Path("ro.coef"));
        Click("SpeedButton2");
        QCOMPARE(boxes->shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Error, QStringLiteral("Unable to write to ") + Path("ro.coef") + '.', mbOK}}));
        QCOMPARE(ReadAll(Path("ro.coef")), original);
        QVERIFY(form->isVisible());
    }

    void aLoadedLineBreakIsNotSavedIntoKeys()
    {
        // A lone CR belongs to its line when read; written back it would end
        // the line and start a key of its own.
        WriteAll(Path("cr.coef"), "[DEVICE_CFG]\r\nSN=5\r\nDy=0,05\r\nK3=1\rFL0=99\r\n");
        Open(1234, DefaultConfigFor(4));
        files->answer(Path("cr.coef"));
        Click("SpeedButton1");
        QCOMPARE(Field(5)->text(), QStringLiteral("1\rFL0=99"));
        boxes->clear();

        const QByteArray before = "[DEVICE_CFG]\r\nSN=5\r\n";
        WriteAll(Path("out.coef"), before);
        files->answer(Path("out.coef"));
        Click("SpeedButton2");
        QCOMPARE(boxes->count(), size_t(1));
        QCOMPARE(boxes->shown()[0].kind, MsgKind::Error);
        QVERIFY(boxes->shown()[0].text.contains(QStringLiteral("перевод строки")));
        QCOMPARE(ReadAll(Path("out.coef")), before);
    }

    void loadWithoutK2ShowsNet()
    {
        Open(1, DefaultConfigFor(0));
        WriteAll(Path("k.coef"), QByteArray("[DEVICE_CFG]\r\nSN=1234\r\nDy=") + L("0#050000").toLatin1() +
                                     "\r\nVes=100\r\nK0=1\r\nK1=2\r\nK3=4\r\nK4=5\r\nFL0=6\r\nFL1=7\r\nFL2=8\r\n"
                                     "FL3=9\r\nFL4=10\r\nMainCal=11\r\n");
        files->answer(Path("k.coef"));
        Click("SpeedButton1");
        FileDialogRequest expected;
        expected.kind = FileDialogKind::Open;
        expected.filter = QStringLiteral("Конфигурация ЗРМ (*.coef)");
        expected.defaultSuffix = QStringLiteral("coef");
        expected.fileMustExist = true;
        QCOMPARE(files->requests()[0], expected);
        QCOMPARE(Field(13)->text(), QStringLiteral("1234"));
        QCOMPARE(Values(), (QStringList{L("0#050000"), "100", "1", "2", "НЕТ", "4", "5", "6", "7", "8", "9", "10", "11"}));
        QCOMPARE(Diameters()->currentIndex(), 4);
        QCOMPARE(boxes->count(), size_t(0));
        // The next open starts from the file chosen last.
        Click("SpeedButton1");
        QCOMPARE(files->requests()[1].fileName, Path("k.coef"));
    }

    void loadMatchesTheDiameter_data()
    {
        QTest::addColumn<QString>("dy");
        QTest::addColumn<int>("selected");
        QTest::newRow("0,050000") << L("0#050000") << 4;
        QTest::newRow("0,050050") << L("0#050050") << 4;
        QTest::newRow("0,050200") << L("0#050200") << -1;
        QTest::newRow("1,000000") << L("1#000000") << -1;
        QTest::newRow("0,3") << L("0#3") << 9;
    }
    void loadMatchesTheDiameter()
    {
        QFETCH(QString, dy);
        QFETCH(int, selected);
        Open(1, DefaultConfigFor(1));  // Ду 25 selected before
        WriteAll(Path("d.coef"), "[DEVICE_CFG]\r\nDy=" + dy.toLatin1() + "\r\n");
        files->answer(Path("d.coef"));
        Click("SpeedButton1");
        QCOMPARE(Field(0)->text(), dy);
        QCOMPARE(Diameters()->currentIndex(), selected);
        QCOMPARE(boxes->count(), size_t(0));
    }

    void loadWithoutDyReportsTheConversionAndSelectsNothing()
    {
        Open(1, DefaultConfigFor(4));
        WriteAll(Path("n.coef"), "[DEVICE_CFG]\r\nSN=77\r\nVes=5\r\n");
        files->answer(Path("n.coef"));
        Click("SpeedButton1");
        QCOMPARE(boxes->shown(), (std::vector<ShownMessage>{
                                     {MsgKind::Error, QStringLiteral("'НЕТ' is not a valid floating point value."), mbOK}}));
        QCOMPARE(Field(13)->text(), QStringLiteral("77"));
        QCOMPARE(Field(0)->text(), QStringLiteral("НЕТ"));
        QCOMPARE(Field(1)->text(), QStringLiteral("5"));
        QCOMPARE(Field(12)->text(), QStringLiteral("НЕТ"));
        QCOMPARE(Diameters()->currentIndex(), -1);
        QVERIFY(form->isVisible());
    }

    void loadOfAMissingFileOrACancelChangesNothing()
    {
        Open(4321, DefaultConfigFor(4));
        const QStringList before = Values();
        files->answer(Path("gone.coef"));
        Click("SpeedButton1");
        files->answer(dir->path());  // a directory is no file either
        Click("SpeedButton1");
        files->cancel();
        Click("SpeedButton1");
        QCOMPARE(files->count(), size_t(3));
        QCOMPARE(Values(), before);
        QCOMPARE(Field(13)->text(), QStringLiteral("4321"));
        QCOMPARE(Diameters()->currentIndex(), 4);
        QCOMPARE(boxes->count(), size_t(0));
    }
};

QTEST_MAIN(ConfigEditorTest)
#include "config_editor_test.moc"
