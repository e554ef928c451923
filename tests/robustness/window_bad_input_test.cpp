// The bad-input table typed into every field a user can type into, in the
// real windows of the program over the virtual meter bench: what each window
// shows, what it sends to the meter, and what lands on disk.
//
// Text goes in as a user pastes it (the clipboard into the focused field,
// grid cells through their own editor). A QLineEdit holds at most 32767
// characters, so the 1 MB inputs arrive cut to that length; the windows keep
// Qt's limit and every expectation below is about the text that arrived.

#include "bad_inputs.h"
#include "bench_app.h"
#include "coefficients.h"
#include "config_editor.h"
#include "device_link.h"
#include "diameter_defaults.h"
#include "errors.h"
#include "flow_setting_dialog.h"
#include "ini_file.h"
#include "installed_meters.h"
#include "installed_meters_dialog.h"
#include "main_window.h"
#include "number_text.h"
#include "protocol_fields_dialog.h"
#include "run_state.h"
#include "scripted_file_dialogs.h"
#include "wizard_window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr SerialNumber kMeter = 777;
const SerialNumber kOthers[] = {65535, 12};
bool OnBench(int serial) { return serial == kMeter || serial == kOthers[0] || serial == kOthers[1]; }
constexpr SerialNumber kUntouched = 4242;  // a slot the dialog did not store into
constexpr int kDu25 = 1;
constexpr int kLineEditLimit = 32767;  // QLineEdit's default maxLength

const std::vector<BadInput>& Inputs()
{
    static const std::vector<BadInput> inputs = BadInputs();
    return inputs;
}

// The text as it arrives in a field.
QString Typed(const BadInput& in) { return in.text.left(kLineEditLimit); }

// What an INI file gives back for it; nullopt when it is refused.
std::optional<QString> Stored(const BadInput& in)
{
    if (!in.stored)
        return std::nullopt;
    return *in.stored == in.text ? Typed(in) : *in.stored;
}

bool HasLineBreak(const QString& s) { return s.contains(QLatin1Char('\r')) || s.contains(QLatin1Char('\n')); }

// The standard error box's texts (a full stop added after a letter).
QString IntError(const QString& t) { return QStringLiteral("'%1' is not a valid integer value.").arg(t); }
QString FloatError(const QString& t) { return QStringLiteral("'%1' is not a valid floating point value.").arg(t); }
QString IniRefusal(const QString& key, const QString& section, const QString& path)
{
    return QStringLiteral("Значение параметра %1 раздела [%2] содержит перевод строки и не может быть записано в файл %3.")
        .arg(key, section, path);
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Pastes over the whole field, as a user selects all and pastes.
void Paste(QLineEdit* edit, const QString& text)
{
    edit->setFocus();
    edit->selectAll();
    QGuiApplication::clipboard()->setText(text);
    edit->paste();
}

// Types into a grid cell through the grid's own editor and commits with Enter.
bool PasteIntoCell(QTableWidget* grid, int col, int row, const QString& text)
{
    QTableWidgetItem* item = grid->item(row, col);
    if (!item)
        return false;
    grid->setCurrentCell(row, col);
    grid->editItem(item);
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->model()->index(row, col)));
    if (!editor)
        return false;
    Paste(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    // The delegate commits and closes its editor through a queued call.
    QCoreApplication::processEvents();
    return !grid->indexWidget(grid->model()->index(row, col));
}

// Runs trigger, and act once the dialog runs modally inside it.
bool RunModal(QWidget* dialog, const std::function<void()>& trigger, const std::function<void(QWidget*)>& act)
{
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (acted || QApplication::activeModalWidget() != dialog)
            return;
        acted = true;
        act(dialog);
    });
    poll.start(0);
    trigger();
    return acted;
}

template <class T> T* Child(const QObject* parent, const QString& name)
{
    return parent->findChild<T*>(name);
}

void Click(const QObject* parent, const char* name)
{
    auto* b = parent->findChild<QAbstractButton*>(QString::fromUtf8(name));
    if (!b)
        qFatal("no button %s", name);
    QTest::mouseClick(b, Qt::LeftButton);
}

// The write check messages of the configuration editor, by value number.
const char* const kEditorChecks[kConfigValueCount] = {"Ду", "ВЕСА ИМПУЛЬСА", "K0", "K1", "K2", "K3", "K4",
                                                     "FL0", "FL1", "FL2", "FL3", "FL4", "MAINCAL"};
const bool kEditorPositive[kConfigValueCount] = {true, true, false, false, false, false, false,
                                                 true, true, true, true, true, false};
const char* const kCoefKeys[kConfigValueCount] = {"Dy", "Ves", "K0", "K1", "K2", "K3", "K4",
                                                 "FL0", "FL1", "FL2", "FL3", "FL4", "MainCal"};
const char* const kConfirmWrite = "Вы уверены что хотите записать параметры?";
const char* const kEmptyProtocolField = "Не все поля заполнены. Заполните пустые поля и повторите попытку";

// A value the meter stores as single precision.
bool FitsSingle(double v) { return std::isfinite(v) && std::fabs(v) <= double(FLT_MAX); }

// The stage-1 entries the wizard rows start from.
struct WizardEntries {
    QString timer = QStringLiteral("60");
    QString weight = WithUserSeparator("0,1");
    QString pulses = QStringLiteral("2500");
    QString meterPulses = QStringLiteral("2400");
};

}  // namespace

class WindowBadInputTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<BenchApp> b;
    QElapsedTimer clock;

    TForm1& Main() { return b->app->Form1(); }
    QString SettingsPath() const { return b->Path(QStringLiteral("Settings.ini")); }
    const BadInput& Row()
    {
        QFETCH(int, input);
        return Inputs()[std::size_t(input)];
    }
    void AddInputRows()
    {
        QTest::addColumn<int>("input");
        for (std::size_t i = 0; i < Inputs().size(); ++i)
            QTest::newRow(Inputs()[i].name) << int(i);
    }
    void AddFieldRows(const QStringList& fields)
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("input");
        for (const QString& f : fields)
            for (std::size_t i = 0; i < Inputs().size(); ++i)
                QTest::newRow(qPrintable(f + QLatin1Char('/') + QString::fromUtf8(Inputs()[i].name)))
                    << f << int(i);
    }
    // The port combo box back on the bench's line.
    void PortOnBench()
    {
        auto* ports = BenchApp::Find<QComboBox>(Main(), "ComboBox1");
        if (ports->currentText() != b->LinkPath())
            ports->setEditText(b->LinkPath());
        QVERIFY(Main().ComPort1().Active());
    }

private slots:
    void initTestCase()
    {
        clock.start();
        QGuiApplication::setQuitOnLastWindowClosed(false);
        b = std::make_unique<BenchApp>();
        // Meters also at the numbers the table's integers become (65535, 12),
        // so that no row waits out the link's repeats of an unanswered request.
        b->StartBench({BenchMeter(kMeter, kDu25), BenchMeter(kOthers[0], kDu25), BenchMeter(kOthers[1], kDu25)});
        QVERIFY(b->StartProgram(false));
        // The held configuration the editor opens with: a real meter's.
        BenchApp::Find<QSpinBox>(Main(), "SpinEdit1")->setValue(kMeter);
        Click(&Main(), "Button2");
        QCOMPARE(b->boxes.texts(), QStringList());
        QCOMPARE(Main().Link().MainConfig.Dy, 0.025f);
    }

    void cleanupTestCase()
    {
        b.reset();
        qInfo("window bad-input rows took %lld ms", (long long)clock.elapsed());
    }

    // The 1 MB text stops at QLineEdit's limit in every kind of field.
    void fieldsKeepQtLimit()
    {
        const QString mb(1 << 20, u'9');
        QElapsedTimer t;
        t.start();
        auto* serials = BenchApp::Find<QComboBox>(Main(), "ComboBox2");
        Paste(serials->lineEdit(), mb);
        QCOMPARE(serials->currentText().size(), kLineEditLimit);
        QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
        serials->setEditText(QString());
        b->boxes.clear();
    }

    // ComboBox1 of TForm1: every text is a port name to open; closing the
    // window writes it to CONFIG/COM.
    void mainPortCombo_data() { AddInputRows(); }
    void mainPortCombo()
    {
        const BadInput& in = Row();
        PortOnBench();
        b->boxes.clear();
        const QByteArray before = FileBytes(SettingsPath());

        auto* ports = BenchApp::Find<QComboBox>(Main(), "ComboBox1");
        Paste(ports->lineEdit(), in.text);
        QCOMPARE(ports->currentText(), Typed(in));
        QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("Нет возможности открыть порт")});
        QCOMPARE(b->boxes.shown().front().kind, MsgKind::Error);
        QVERIFY(!Main().ComPort1().Active());
        QVERIFY(!BenchApp::Find<QPushButton>(Main(), "Button1")->isEnabled());

        b->boxes.clear();
        Main().close();  // FormClose saves the port
        Main().show();
        if (const auto stored = Stored(in)) {
            QCOMPARE(b->boxes.texts(), QStringList());
            const IniFile ini(SettingsPath());
            QCOMPARE(ini.readString("CONFIG", "COM", "<none>"), *stored);
            QCOMPARE(ini.readSections(), QStringList{"CONFIG"});
            QCOMPARE(ini.readSection("CONFIG"), QStringList{"COM"});
        } else {
            QCOMPARE(b->boxes.texts(), QStringList{IniRefusal("COM", "CONFIG", SettingsPath())});
            QVERIFY2(FileBytes(SettingsPath()) == before, "a refused port name changed Settings.ini");
        }
    }

    // ComboBox2 of TForm1: a whole number moves into the spin edit (clamped),
    // Enter keeps it in the installed-meter list, the link test asks for it.
    void mainSerialCombo_data() { AddInputRows(); }
    void mainSerialCombo()
    {
        const BadInput& in = Row();
        PortOnBench();
        auto* spin = BenchApp::Find<QSpinBox>(Main(), "SpinEdit1");
        spin->setValue(kMeter);
        InstalledMeters() = InstalledMeterList{};
        b->boxes.clear();

        auto* serials = BenchApp::Find<QComboBox>(Main(), "ComboBox2");
        Paste(serials->lineEdit(), in.text);
        const int expected = in.asInt ? qBound(0, *in.asInt, 65535) : int(kMeter);
        QCOMPARE(spin->value(), expected);
        QCOMPARE(int(Main().Link().CurrentSerialNumber), expected);

        QTest::keyClick(serials->lineEdit(), Qt::Key_Return);
        const InstalledMeterList& list = InstalledMeters();
        if (expected != 0) {
            QCOMPARE(list.Count, 1);
            QCOMPARE(int(list.Serials[0]), expected);
            QCOMPARE(serials->currentText(), QString());
        } else {
            QCOMPARE(list.Count, 0);
            QCOMPARE(serials->currentText(), Typed(in));
        }
        QCOMPARE(b->boxes.texts(), QStringList());

        // Serial number 0 finds a lone meter: the others leave the line for it.
        if (expected == 0)
            for (SerialNumber other : kOthers)
                b->bench->RemoveMeter(other);
        b->bench->ClearReceived();
        Click(&Main(), "Button1");
        if (expected == 0)
            for (SerialNumber other : kOthers)
                b->bench->AddMeter(BenchMeter(other, kDu25));
        // Every request (the link repeats an unanswered one) is for that number.
        const std::vector<SerialNumber> asked = b->RequestedSerials();
        QVERIFY(!asked.empty());
        for (SerialNumber n : asked)
            QCOMPARE(int(n), expected);
        const int found = expected == 0 ? int(kMeter) : expected;
        if (OnBench(found)) {
            QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("ЗРМ №%1  на связи!").arg(found)});
            QCOMPARE(spin->value(), found);
        } else {
            QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("SN %1 Нет ответа.").arg(expected)});
            QCOMPARE(spin->value(), expected);
        }
    }

    // SpinEdit1 of TForm1 takes only whole numbers of its range; anything
    // else leaves the value as it was.
    void mainSpinEdit_data() { AddInputRows(); }
    void mainSpinEdit()
    {
        const BadInput& in = Row();
        auto* spin = BenchApp::Find<QSpinBox>(Main(), "SpinEdit1");
        spin->setValue(kMeter);
        b->boxes.clear();
        Paste(spin->findChild<QLineEdit*>(), in.text);
        // Qt's spin box takes decimal digits with white space around them.
        const QString digits = in.text.trimmed();
        const bool taken = !digits.isEmpty() && digits.size() <= 5 &&
                           std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }) &&
                           digits.toInt() <= 65535;
        QCOMPARE(spin->value(), taken ? digits.toInt() : int(kMeter));
        QCOMPARE(int(Main().Link().CurrentSerialNumber), spin->value());
        QCOMPARE(b->boxes.texts(), QStringList());
    }

    // TForm2 opened by "Изменить  конфигурацию" with the meter's
    // configuration; one field gets the input, then "Записать". Whatever the
    // text, nothing reaches the meter unless the user confirmed (answered
    // Cancel here).
    void editorWrite_data()
    {
        QStringList fields{"Edit13"};
        for (int n = 0; n < kConfigValueCount; ++n)
            fields << QStringLiteral("EdPar%1").arg(n);
        AddFieldRows(fields);
    }
    void editorWrite()
    {
        QFETCH(QString, field);
        const BadInput& in = Row();
        const QString t = Typed(in);
        BenchApp::Find<QSpinBox>(Main(), "SpinEdit1")->setValue(kMeter);
        PortOnBench();
        b->boxes.clear();
        b->boxes.answer(ModalResult::Cancel);  // the confirmation, if it comes
        b->bench->ClearReceived();
        const DeviceConfig held = Main().Link().MainConfig;

        QString expected;
        if (field == QLatin1String("Edit13")) {
            expected = !in.asInt ? IntError(t)
                       : (*in.asInt < 1 || *in.asInt > 65535)
                           ? QStringLiteral("Проверте правильность ввода серийного номера")
                           : QString::fromUtf8(kConfirmWrite);
        } else {
            const int n = field.mid(5).toInt();
            const QString check = QStringLiteral("Проверте правильность ввода ") + QString::fromUtf8(kEditorChecks[n]);
            if (t.isEmpty())
                expected = check;
            else if (kEditorPositive[n] && !in.asFloat)
                expected = FloatError(t);
            else if (kEditorPositive[n] && *in.asFloat <= 0)
                expected = check;
            else if (!in.asFloat)
                expected = FloatError(t);  // converted before the question
            else if (!FitsSingle(*in.asFloat))
                expected = QStringLiteral("Floating point overflow.");
            else
                expected = QString::fromUtf8(kConfirmWrite);
        }

        TForm2& editor = b->app->Form2();
        bool stayedOpen = false;
        const bool ran = RunModal(&editor, [&] { Click(&Main(), "Button3"); }, [&](QWidget* d) {
            auto* edit = Child<QLineEdit>(d, field);
            Paste(edit, in.text);
            Click(d, "BitBtn1");
            stayedOpen = d->isVisible();
            d->close();
        });
        QVERIFY(ran);
        QVERIFY(stayedOpen);
        QCOMPARE(b->boxes.texts(), QStringList{expected});
        QCOMPARE(b->boxes.shown().front().kind,
                 expected == QString::fromUtf8(kConfirmWrite) ? MsgKind::Confirmation : MsgKind::Error);
        QVERIFY2(b->bench->Received().empty(), "the editor sent a frame to the meter");
        for (int v = 0; v < kConfigValueCount; ++v)
            QCOMPARE(Main().Link().MainConfig.Value(v), held.Value(v));
    }

    // "Save" of TForm2 writes the texts as they stand; a line break is
    // refused before the first key, and the file stays byte for byte.
    void editorSaveCoef_data() { AddFieldRows({"Edit13", "EdPar0", "EdPar5", "EdPar12"}); }
    void editorSaveCoef()
    {
        QFETCH(QString, field);
        const BadInput& in = Row();
        ScopedScriptedFileDialogs files;
        QDir().mkpath(b->Path("Restore"));
        const QString path = b->Path("Restore/bad.coef");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("[KEEP]\r\nA=1\r\n[DEVICE_CFG]\r\nSN=1\r\n");
        }
        const QByteArray before = FileBytes(path);
        const QString key = field == QLatin1String("Edit13") ? QStringLiteral("SN")
                                                             : QString::fromLatin1(kCoefKeys[field.mid(5).toInt()]);
        b->boxes.clear();
        files.answer(path);

        TForm2& editor = b->app->Form2();
        const bool ran = RunModal(&editor, [&] { Click(&Main(), "Button3"); }, [&](QWidget* d) {
            Paste(Child<QLineEdit>(d, field), in.text);
            Click(d, "SpeedButton2");
            d->close();
        });
        QVERIFY(ran);
        QCOMPARE(files.count(), std::size_t(1));
        const IniFile ini(path);
        if (const auto stored = Stored(in)) {
            QCOMPARE(b->boxes.texts(), QStringList());
            QCOMPARE(ini.readString("DEVICE_CFG", key, "<none>"), *stored);
            QCOMPARE(ini.readSection("DEVICE_CFG").size(), 14);
            QCOMPARE(ini.readString("KEEP", "A", ""), QStringLiteral("1"));
        } else {
            QCOMPARE(b->boxes.texts(), QStringList{IniRefusal(key, "DEVICE_CFG", path)});
            QVERIFY2(FileBytes(path) == before, "a refused save changed the .coef file");
        }
    }

    // TForm3 at stage 1 of a calibration of the bench meter: the reference
    // entries and the meter's pulse count, then "Расчет коэффициентов".
    void wizardEntries_data() { AddFieldRows({"Edit2", "Edit3", "Edit11", "ParGrid"}); }
    void wizardEntries()
    {
        QFETCH(QString, field);
        const BadInput& in = Row();
        TForm3& wizard = b->app->Form3();
        if (!wizard.isVisible() || CurrentRun().CalStep != 1)
            StartCalibrationStage1();
        QVERIFY(wizard.isVisible());
        QCOMPARE(CurrentRun().CalStep, 1);

        auto* grid = Child<QTableWidget>(&wizard, "ParGrid");
        const WizardEntries base;
        Child<QLineEdit>(&wizard, "Edit11")->setText(base.timer);
        Child<QLineEdit>(&wizard, "Edit2")->setText(base.weight);
        Child<QLineEdit>(&wizard, "Edit3")->setText(base.pulses);
        grid->item(1, 1)->setText(base.meterPulses);

        WizardEntries e = base;
        QString key;
        if (field == QLatin1String("ParGrid")) {
            QVERIFY(PasteIntoCell(grid, 1, 1, in.text));
            QCOMPARE(grid->item(1, 1)->text(), Typed(in));
            e.meterPulses = Typed(in);
            key = QStringLiteral("CALTAB1_IMP_DUZR");
        } else {
            auto* edit = Child<QLineEdit>(&wizard, field);
            Paste(edit, in.text);
            QCOMPARE(edit->text(), Typed(in));
            if (field == QLatin1String("Edit2")) {
                e.weight = Typed(in);
                key = QStringLiteral("VES_ETALON");
            } else if (field == QLatin1String("Edit3")) {
                e.pulses = Typed(in);
                key = QStringLiteral("IMP_ETALON");
            } else {
                e.timer = Typed(in);
                key = QStringLiteral("TIMER");
            }
        }

        const QString session = b->Path("Calibration.ini");
        const QByteArray before = FileBytes(session);
        b->boxes.clear();
        Click(&wizard, "BitBtn4");

        if (!Stored(in)) {
            QCOMPARE(b->boxes.texts(), QStringList{IniRefusal(key, "STEP1", session)});
            QVERIFY2(FileBytes(session) == before, "a refused entry changed the state file");
            return;
        }
        QCOMPARE(IniFile(session).readString("STEP1", key, "<none>"), *Stored(in));

        // The outcome the computation gives for the converted entries.
        QString expected;
        QString errorCell;
        ReferenceEntries ref;
        int g = 0;
        if (!TryStrToInt(e.pulses, ref.Pulses))
            expected = IntError(e.pulses);
        else if (!TryStrToFloat(e.weight, ref.PulseWeight))
            expected = FloatError(e.weight);
        else if (!TryStrToFloat(e.timer, ref.Seconds))
            expected = FloatError(e.timer);
        else {
            try {
                const StageComputation stage(ref, kDu25, 1, false);
                if (!TryStrToInt(e.meterPulses, g)) {
                    expected = IntError(e.meterPulses);
                } else {
                    errorCell = FormatFloat("%1.2f", double(stage.ErrorPercent(g)));
                    DeviceConfig c = DefaultConfigFor(kDu25);
                    stage.ApplyCoefficient(g, c);
                }
            } catch (const FloatZeroDivide&) {
                expected = QStringLiteral("Floating point division by zero.");
            } catch (const FloatOverflow&) {
                expected = QStringLiteral("Floating point overflow.");
            }
        }
        QCOMPARE(b->boxes.texts(), expected.isEmpty() ? QStringList() : QStringList{expected});
        if (expected.isEmpty())
            QCOMPARE(grid->item(2, 1)->text(), errorCell);
        // Whatever was typed, what would be written into the meter stays a
        // number it can hold.
        for (int r = 3; r <= 15; ++r) {
            double v = 0;
            QVERIFY2(TryStrToFloat(grid->item(r, 1)->text(), v) && FitsSingle(v),
                     qPrintable(grid->item(r, 1)->text()));
        }
        for (int v = 0; v < kConfigValueCount; ++v)
            QVERIFY(FitsSingle(double(CurrentRun().Meters.Configs[0].Value(v))));
    }

    // SNTable of TForm4 (a new verification): the serial cell, then "ПРИНЯТЬ".
    void installedMeters_data() { AddInputRows(); }
    void installedMeters()
    {
        const BadInput& in = Row();
        FreshVerification();
        TForm4& dialog = b->app->Form4();
        QString cell;
        bool stayedOpen = false;
        const bool ran = RunModal(&dialog, [&] { Click(&Main(), "Button8"); }, [&](QWidget* d) {
            Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(kDu25);
            Child<QSpinBox>(d, "SpinEdit1")->setValue(1);
            auto* table = Child<QTableWidget>(d, "SNTable");
            PasteIntoCell(table, 1, 1, in.text);
            Click(d, "BitBtn1");
            stayedOpen = d->isVisible();
            cell = table->item(1, 1)->text();
            if (stayedOpen)
                Click(d, "BitBtn2");
        });
        QVERIFY(ran);
        QCOMPARE(cell, Typed(in));

        // A number refused is refused before anything is stored: the dialog
        // stays open with what was typed, the list as it was.
        const bool refused = !in.asInt || SerialNumber(*in.asInt) == 0;
        QCOMPARE(stayedOpen, refused);
        QCOMPARE(InstalledMeters().Count, refused ? 0 : 1);
        if (!in.asInt) {
            QCOMPARE(b->boxes.texts(), QStringList{IntError(Typed(in))});
            QCOMPARE(int(InstalledMeters().Serials[0]), int(kUntouched));
            QVERIFY(b->bench->Received().empty());
            QVERIFY(!b->app->Form3().isVisible());
            return;
        }
        const SerialNumber serial = SerialNumber(*in.asInt);  // the low 16 bits
        if (serial == 0) {
            QCOMPARE(int(InstalledMeters().Serials[0]), int(kUntouched));
            CheckBroadcastSerialRefused();
            return;
        }
        QCOMPARE(InstalledMeters().Serials[0], serial);
        QCOMPARE(b->RequestedSerials().front(), serial);
        if (OnBench(serial)) {
            QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("Тест SN %1\t OK").arg(serial)});
            QVERIFY(b->app->Form3().isVisible());
        } else {
            QCOMPARE(b->boxes.texts(),
                     (QStringList{QStringLiteral("SN %1 Нет ответа.").arg(serial),
                                  QStringLiteral("Тест SN %1\t Нет связи\n\rПроверте правильность введенных серийных "
                                                 "номеров и состояние подключенных приборов, затем повторите попытку")
                                      .arg(serial)}));
            QVERIFY(!b->app->Form3().isVisible());
        }
    }

    // Numbers whose low 16 bits are 0 would put the broadcast address into
    // the run; they are refused like a serial number the editor refuses.
    void installedMetersRefuseBroadcast_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Zero") << QStringLiteral("0");
        QTest::newRow("TwoTo16") << QStringLiteral("65536");
        QTest::newRow("HexTwoTo16") << QStringLiteral("$10000");
    }
    void installedMetersRefuseBroadcast()
    {
        QFETCH(QString, text);
        FreshVerification();
        const bool ran = RunModal(&b->app->Form4(), [&] { Click(&Main(), "Button8"); }, [&](QWidget* d) {
            Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(kDu25);
            Child<QSpinBox>(d, "SpinEdit1")->setValue(2);
            auto* table = Child<QTableWidget>(d, "SNTable");
            table->item(1, 1)->setText(QString::number(kMeter));
            table->item(2, 1)->setText(text);
            Click(d, "BitBtn1");
            QVERIFY(d->isVisible());  // kept open with what was typed
            QCOMPARE(table->item(2, 1)->text(), text);
            Click(d, "BitBtn2");
        });
        QVERIFY(ran);
        QCOMPARE(InstalledMeters().Count, 0);  // nothing stored, the first number neither
        QCOMPARE(int(InstalledMeters().Serials[0]), int(kUntouched));
        CheckBroadcastSerialRefused();
    }

    // TForm6: five free-text fields. Empty is refused; the two names are
    // remembered in Settings.ini, so a line break in them is refused whole.
    void protocolFields_data() { AddFieldRows({"ComboBox1", "Edit1", "Edit2", "Edit3", "Edit4"}); }
    void protocolFields()
    {
        QFETCH(QString, field);
        const BadInput& in = Row();
        const QString t = Typed(in);
        TForm6& dialog = b->app->Form6();
        ProgramSettings& settings = Main().Settings();
        const int repNo = settings.RepNo;
        const QByteArray before = FileBytes(SettingsPath());
        b->boxes.clear();

        int result = -1;
        const bool ran = RunModal(&dialog, [&] { result = dialog.exec(); }, [&](QWidget* d) {
            Child<QComboBox>(d, "ComboBox1")->setEditText(QStringLiteral("Р-485"));
            Child<QLineEdit>(d, "Edit1")->setText(QStringLiteral("20"));
            Child<QLineEdit>(d, "Edit2")->setText(QStringLiteral("1,0132bar"));
            Child<QLineEdit>(d, "Edit3")->setText(QStringLiteral("Иванов И.И."));
            Child<QLineEdit>(d, "Edit4")->setText(QStringLiteral("Петров П.П."));
            QLineEdit* edit = field == QLatin1String("ComboBox1") ? Child<QComboBox>(d, "ComboBox1")->lineEdit()
                                                                   : Child<QLineEdit>(d, field);
            Paste(edit, in.text);
            Click(d, "BitBtn1");
            if (d->isVisible())
                d->close();
        });
        QVERIFY(ran);
        const QString shown = field == QLatin1String("ComboBox1") ? dialog.Modification()
                              : field == QLatin1String("Edit1")   ? dialog.WaterTemperature()
                              : field == QLatin1String("Edit2")   ? dialog.Pressure()
                              : field == QLatin1String("Edit3")   ? dialog.TestedBy()
                                                                  : dialog.VerifiedBy();
        QCOMPARE(shown, t);

        const bool name = field == QLatin1String("Edit3") || field == QLatin1String("Edit4");
        QString refusal;
        if (t.isEmpty())
            refusal = QString::fromUtf8(kEmptyProtocolField);
        else if (name && HasLineBreak(t))
            refusal = IniRefusal(field == QLatin1String("Edit3") ? "FIO1" : "FIO2", "CONFIG", SettingsPath());
        if (!refusal.isEmpty()) {
            QCOMPARE(b->boxes.texts(), QStringList{refusal});
            QCOMPARE(b->boxes.shown().front().kind, t.isEmpty() ? MsgKind::Warning : MsgKind::Error);
            QCOMPARE(result, int(QDialog::Rejected));
            QCOMPARE(settings.RepNo, repNo);
            QVERIFY2(FileBytes(SettingsPath()) == before, "a refused protocol field changed Settings.ini");
            return;
        }
        QCOMPARE(b->boxes.texts(), QStringList());
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(settings.RepNo, repNo + 1);
        const IniFile ini(SettingsPath());
        QCOMPARE(ini.readInteger("CONFIG", "REPNO", -1), repNo + 1);
        QCOMPARE(ini.readString("CONFIG", "FIO1", "<none>"),
                 field == QLatin1String("Edit3") ? *Stored(in) : QStringLiteral("Иванов И.И."));
        QCOMPARE(ini.readString("CONFIG", "FIO2", "<none>"),
                 field == QLatin1String("Edit4") ? *Stored(in) : QStringLiteral("Петров П.П."));
        QVERIFY(ini.readString("CONFIG", "COM", "").size() > 0);
    }

private:
    // "ПРИНЯТЬ" stopped at a serial number 0: no meter asked, no wizard.
    void CheckBroadcastSerialRefused()
    {
        QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("Проверте правильность ввода серийного номера")});
        QCOMPARE(b->boxes.shown().front().kind, MsgKind::Error);
        QVERIFY(b->bench->Received().empty());
        QVERIFY(!b->app->Form4().isVisible());
        QVERIFY(!b->app->Form3().isVisible());
    }
    // A list whose slots show whether the accept stored into them.
    // No verification under way, the port on the bench, nothing shown or sent yet.
    void FreshVerification()
    {
        b->app->Form3().hide();
        QFile::remove(b->Path("Poverka.ini"));
        PortOnBench();
        MarkInstalledMeters();
        b->boxes.clear();
        b->bench->ClearReceived();
    }
    static void MarkInstalledMeters()
    {
        InstalledMeters() = InstalledMeterList{};
        InstalledMeters().Serials.fill(kUntouched);
    }

    // "КАЛИБРОВКА" with no state file: the bench meter through TForm4, then
    // "ДАЛЕЕ -->>" with "Пуск" in the flow-setting dialog.
    void StartCalibrationStage1()
    {
        QFile::remove(b->Path("Calibration.ini"));
        b->app->Form3().hide();
        PortOnBench();
        b->boxes.clear();
        const bool accepted = RunModal(&b->app->Form4(), [&] { Click(&Main(), "Button7"); }, [](QWidget* d) {
            Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(kDu25);
            Child<QSpinBox>(d, "SpinEdit1")->setValue(1);
            Child<QTableWidget>(d, "SNTable")->item(1, 1)->setText(QString::number(kMeter));
            Click(d, "BitBtn1");
        });
        QVERIFY(accepted);
        QCOMPARE(b->boxes.texts(), QStringList{QStringLiteral("Тест SN 777\t OK")});
        TForm3& wizard = b->app->Form3();
        QVERIFY(wizard.isVisible());
        const bool started = RunModal(&b->app->Form5(), [&] { Click(&wizard, "BitBtn1"); },
                                      [](QWidget* d) { Click(d, "BitBtn1"); });
        QVERIFY(started);
        QCOMPARE(CurrentRun().CalStep, 1);
        b->boxes.clear();
    }
};

QTEST_MAIN(WindowBadInputTest)
#include "window_bad_input_test.moc"
