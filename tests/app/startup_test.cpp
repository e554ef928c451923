// Start-up, settings and the two variants, through the real windows
// (offscreen) and real pseudo-terminals.

#include "combo_pick.h"
#include "main_window.h"
#include "scanner_app.h"
#include "scripted_messages.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace {

// The far side of a serial line: a pseudo-terminal linked at a path.
class PtyLine {
public:
    explicit PtyLine(const QString& link) : m_link(link.toStdString())
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY2(m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0, "pty");
        ::unlink(m_link.c_str());
        QVERIFY2(::symlink(ptsname(m_master), m_link.c_str()) == 0, "symlink");
    }
    ~PtyLine() { Unplug(); }
    // The adapter is pulled: the line hangs up and its name disappears.
    void Unplug()
    {
        if (m_master < 0)
            return;
        ::close(m_master);
        m_master = -1;
        ::unlink(m_link.c_str());
    }

private:
    std::string m_link;
    int m_master = -1;
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScopedScriptedMessages> boxes;
    std::unique_ptr<ScannerApplication> app;

    QString Path(const char* name) const { return dir->filePath(QString::fromUtf8(name)); }
    void Start(bool userMode = true)
    {
        app = std::make_unique<ScannerApplication>(dir->path(), userMode);
        app->Show();
        QVERIFY(QTest::qWaitForWindowExposed(&app->Form1()));
    }
    template <class T> T* Control(const char* name) { return app->Form1().findChild<T*>(QString::fromUtf8(name)); }
    QList<bool> PortButtonsEnabled()
    {
        QList<bool> states;
        for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button5"})
            states << Control<QPushButton>(name)->isEnabled();
        return states;
    }
    static QList<bool> All(bool v) { return {v, v, v, v, v}; }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        boxes = std::make_unique<ScopedScriptedMessages>();
    }
    void cleanup()
    {
        app.reset();
        boxes.reset();
        dir.reset();
    }

    void firstStartTriesCom1AndClosingWritesOnlyThePort()
    {
        QVERIFY(!QFile::exists(Path("Settings.ini")));
        Start();
        QCOMPARE(Control<QComboBox>("ComboBox1")->currentText(), QStringLiteral("COM1"));
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Нет возможности открыть порт COM1")});
        QCOMPARE(boxes->shown()[0].kind, MsgKind::Error);
        QCOMPARE(PortButtonsEnabled(), All(false));
        QCOMPARE(app->Form1().Settings().RepNo, 1);

        app->Form1().close();
        QCOMPARE(ReadAll(Path("Settings.ini")), QByteArray("[CONFIG]\r\nCOM=COM1\r\n"));
    }

    void emptyPortShowsNothingAndLeavesCommandsDisabled()
    {
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=\r\nREPNO=abc\r\n");
        Start();
        QCOMPARE(boxes->count(), size_t(0));
        QCOMPARE(PortButtonsEnabled(), All(false));
        QVERIFY(!app->Form1().ComPort1().Active());
        QCOMPARE(app->Form1().Settings().RepNo, 1);  // "abc" is no number
    }

    void settingsAreReadInWindows1251()
    {
        // "Иванов И.И." and "Петров П.П." in Windows-1251, hexadecimal REPNO.
        WriteAll(Path("Settings.ini"),
                 QByteArray("[config]\r\ncom=\r\nRepNo=$1F\r\nFIO1=\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8.\r\n"
                            "FIO2=\xCF\xE5\xF2\xF0\xEE\xE2 \xCF.\xCF.\r\n"));
        Start();
        QCOMPARE(app->Form1().Settings().RepNo, 31);
        QCOMPARE(app->Form1().Settings().Fio1, QStringLiteral("Иванов И.И."));
        QCOMPARE(app->Form1().Settings().Fio2, QStringLiteral("Петров П.П."));
    }

    void garbageSettingsGiveTheDefaults()
    {
        QByteArray junk;
        for (int i = 0; i < 5000; ++i)
            junk.append(char((i * 7919) % 256));
        WriteAll(Path("Settings.ini"), junk);
        Start();
        QCOMPARE(Control<QComboBox>("ComboBox1")->currentText(), QStringLiteral("COM1"));
        QCOMPARE(app->Form1().Settings().RepNo, 1);
    }

    void portNamedInSettingsOpensAndEnablesTheCommands()
    {
        PtyLine line(Path("ttyLine"));
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=" + Path("ttyLine").toUtf8() + "\r\nREPNO=7\r\n");
        Start();
        QCOMPARE(boxes->count(), size_t(0));
        QVERIFY(app->Form1().ComPort1().Active());
        QCOMPARE(PortButtonsEnabled(), All(true));
        QCOMPARE(app->Form1().Settings().RepNo, 7);

        // Closing keeps REPNO and rewrites only COM.
        app->Form1().close();
        QCOMPARE(ReadAll(Path("Settings.ini")), "[CONFIG]\r\nCOM=" + Path("ttyLine").toUtf8() + "\r\nREPNO=7\r\n");
    }

    void variantsDifferInCaptionAndButtons_data()
    {
        QTest::addColumn<bool>("userMode");
        QTest::addColumn<QString>("caption");
        QTest::newRow("user") << true << QStringLiteral("Сканер ЗРМ v1.06 - пользователь");
        QTest::newRow("pro") << false << QStringLiteral("Сканер ЗРМ v1.06 - профи");
    }
    void variantsDifferInCaptionAndButtons()
    {
        QFETCH(bool, userMode);
        QFETCH(QString, caption);
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=\r\n");
        Start(userMode);
        QCOMPARE(app->Form1().windowTitle(), caption);
        for (const char* name : {"Button3", "Button6", "Button7", "Button8"})
            QCOMPARE(Control<QPushButton>(name)->isVisible(), !userMode);
        for (const char* name : {"Button1", "Button2", "Button9"})
            QVERIFY(Control<QPushButton>(name)->isVisible());
        for (const char* name : {"Button4", "Button5"})
            QVERIFY(!Control<QPushButton>(name)->isVisible());
        for (const char* name : {"Button6", "Button7", "Button8", "Button9"})
            QVERIFY(Control<QPushButton>(name)->isEnabled());
    }

    void typingAPortNameTriesEveryLetter()
    {
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=\r\n");
        Start();
        QLineEdit* edit = Control<QComboBox>("ComboBox1")->lineEdit();
        QTest::keyClicks(edit, "xyz");
        QCOMPARE(boxes->texts(), QStringList(3, QStringLiteral("Нет возможности открыть порт")));
        QCOMPARE(PortButtonsEnabled(), All(false));

        // A good name typed afterwards opens.
        PtyLine line(Path("ttyLine"));
        boxes->clear();
        Control<QComboBox>("ComboBox1")->setEditText(Path("ttyLine"));
        QCOMPARE(boxes->count(), size_t(0));
        QVERIFY(app->Form1().ComPort1().Active());
        QCOMPARE(PortButtonsEnabled(), All(true));
    }

    void portHeldByAnotherProgramIsReported()
    {
        PtyLine line(Path("ttyLine"));
        TComPort other;
        other.SetDeviceName(Path("ttyLine").toStdString());
        other.Open();
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=" + Path("ttyLine").toUtf8() + "\r\n");
        Start();
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Нет возможности открыть порт ") + Path("ttyLine")});
        QVERIFY(!app->Form1().ComPort1().Active());
        QCOMPARE(PortButtonsEnabled(), All(false));
    }

    // The port missing at start, plugged in later and picked from the list
    // (the entry already shown), then unplugged, plugged back, picked again.
    void aPortPickedAgainOpensAgain()
    {
        const QString line = Path("ttyLine");
        WriteAll(Path("Settings.ini"), "[CONFIG]\r\nCOM=" + line.toUtf8() + "\r\n");
        Start();
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Нет возможности открыть порт ") + line});
        QCOMPARE(PortButtonsEnabled(), All(false));
        QComboBox* ports = Control<QComboBox>("ComboBox1");

        // Still missing: one pick, one box.
        boxes->clear();
        PickFromList(ports, line);
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Нет возможности открыть порт")});

        auto far = std::make_unique<PtyLine>(line);
        for (int plugged = 1; plugged <= 2; ++plugged) {
            boxes->clear();
            PickFromList(ports, line);
            QCOMPARE(boxes->texts(), QStringList());
            QCOMPARE(PortButtonsEnabled(), All(true));
            // A live line, not the handle of the line that was unplugged.
            app->Form1().ComPort1().Write("x", 1, true);

            far->Unplug();
            QTest::qWait(300);  // the program goes on; nothing hangs
            QCOMPARE(boxes->texts(), QStringList());
            far = std::make_unique<PtyLine>(line);
        }

        // A pick that also changes the text opens once: one box, not two.
        boxes->clear();
        PickFromList(ports, Path("ttyOther"), {Path("ttyOther")});
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Нет возможности открыть порт")});
        QCOMPARE(PortButtonsEnabled(), All(false));
    }

    void readOnlySettingsAreReportedAndNeverTruncated()
    {
        const QByteArray content = "[CONFIG]\r\nCOM=\r\nREPNO=5\r\n";
        WriteAll(Path("Settings.ini"), content);
        QVERIFY(::chmod(Path("Settings.ini").toLocal8Bit().constData(), 0444) == 0);
        Start();
        Control<QComboBox>("ComboBox1")->blockSignals(true);
        Control<QComboBox>("ComboBox1")->setEditText(QStringLiteral("COM7"));
        Control<QComboBox>("ComboBox1")->blockSignals(false);
        app->Form1().close();
        QCOMPARE(boxes->texts(), QStringList{QStringLiteral("Unable to write to ") + Path("Settings.ini") + "."});
        QCOMPARE(ReadAll(Path("Settings.ini")), content);
    }
};

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
