// The office started in advance for a verification's protocol (real
// LibreOffice): a verification that ends without a protocol stops it within
// a second, and a program killed outright takes it along within five.
// Processes are told apart by a mark in their environment, which the helper
// and the office inherit.

#include "bench_app.h"
#include "main_window.h"
#include "protocol_fields_dialog.h"
#include "wizard_window.h"
#include "spreadsheet_app.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <signal.h>

namespace {

// The processes, this one aside, whose environment carries the mark.
int MarkedProcesses(const QByteArray& mark)
{
    int found = 0;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = name.toLongLong(&number);
        if (!number || pid == QCoreApplication::applicationPid())
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(mark))
            ++found;
    }
    return found;
}

// The marked process whose executable has this file name, or 0.
qint64 MarkedProcess(const QByteArray& mark, const char* executable)
{
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile environ(QStringLiteral("/proc/%1/environ").arg(name));
        if (!environ.open(QIODevice::ReadOnly) || !environ.readAll().split('\0').contains(mark))
            continue;
        if (QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(name))).fileName() ==
            QLatin1String(executable))
            return name.toLongLong();
    }
    return 0;
}

// Waits until count(marked) satisfies done, up to ms; the time it took, or -1.
template <class F> qint64 WaitFor(const QByteArray& mark, F done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() <= ms) {
        if (done(MarkedProcesses(mark)))
            return clock.elapsed();
        QTest::qWait(20);
    }
    return -1;
}

const QByteArray kMarkName = "ZRM_WARM_OFFICE_TEST";

}  // namespace

class WarmOfficeTest : public QObject {
    Q_OBJECT

private slots:
    // A finished verification resumed, "ДАЛЕЕ": the office starts while the
    // fields dialog is open; the dialog cancelled, it is gone within 1 s.
    void aVerificationEndedWithoutAProtocolStopsItsOffice()
    {
        const QByteArray value = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        const QByteArray mark = kMarkName + '=' + value;
        qputenv(kMarkName.constData(), value);
        BenchApp f;
        f.StartBench({BenchMeter(1201, 4)});
        QByteArray run = "[CALIBRCFG]\r\nCALSTEP=3\r\nMAXCALSTEP=3\r\nDYINDEX=4\r\nNP=1\r\n[SNDEVTAB]\r\nDEV1=1201\r\n";
        QVERIFY(f.WriteFile(QStringLiteral("Poverka.ini"), run));
        QVERIFY(f.StartProgram(false));
        SetSpreadsheetAppFactory({});  // the real office
        f.boxes.answer(ModalResult::Yes);
        QTest::mouseClick(BenchApp::Find<QPushButton>(f.app->Form1(), "Button8"), Qt::LeftButton);
        QVERIFY(f.app->Form3().isVisible());

        qint64 started = -2;
        QTimer inDialog;
        QObject::connect(&inDialog, &QTimer::timeout, [&] {
            if (started != -2 || QApplication::activeModalWidget() != &f.app->Form6())
                return;
            // Inside the fields dialog: the helper and its office come up.
            started = WaitFor(mark, [](int n) { return n >= 2; }, 60000);
            f.app->Form6().reject();
        });
        inDialog.start(5);
        f.boxes.answer(ModalResult::Ok);
        QTest::mouseClick(BenchApp::Find<QPushButton>(f.app->Form3(), "BitBtn1"), Qt::LeftButton);
        QVERIFY2(started >= 0, "no office started while the fields dialog was open");
        const qint64 gone = WaitFor(mark, [](int n) { return n == 0; }, 1000);
        QVERIFY2(gone >= 0, qPrintable(QStringLiteral("%1 processes left after 1 s").arg(MarkedProcesses(mark))));
        qunsetenv(kMarkName.constData());
    }

    // The helper of an office started in advance killed (SIGKILL), while
    // its office still starts: the program ends the office itself.
    void aKilledHelperLeavesNoOffice()
    {
        const QByteArray value = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        const QByteArray mark = kMarkName + '=' + value;
        qputenv(kMarkName.constData(), value);
        WarmUpSpreadsheetApp();
        qunsetenv(kMarkName.constData());
        // The helper and the office it started.
        QVERIFY2(WaitFor(mark, [](int n) { return n >= 2; }, 60000) >= 0, "the office did not start");
        const qint64 helper = MarkedProcess(mark, "zrm-office-helper");
        QVERIFY(helper > 0);
        ::kill(pid_t(helper), SIGKILL);
        const qint64 gone = WaitFor(mark, [](int n) { return n == 0; }, 5000);
        const int left = MarkedProcesses(mark);
        CoolDownSpreadsheetApp();
        QVERIFY2(gone >= 0, qPrintable(QStringLiteral("%1 processes left after 5 s").arg(left)));
    }

    // The program killed (SIGKILL) with its office started in advance.
    void aKilledProgramLeavesNoOffice()
    {
        const QByteArray value = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
        const QByteArray mark = kMarkName + '=' + value;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kMarkName), QString::fromLatin1(value));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/zrm_warm_office_child"));
        QVERIFY(child.waitForStarted(5000));
        // The child, its helper and the office.
        QVERIFY2(WaitFor(mark, [](int n) { return n >= 3; }, 60000) >= 0, "the office did not start");
        QTest::qWait(500);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(5000));
        const qint64 gone = WaitFor(mark, [](int n) { return n == 0; }, 5000);
        QVERIFY2(gone >= 0, qPrintable(QStringLiteral("%1 processes left after 5 s").arg(MarkedProcesses(mark))));
    }
};

QTEST_MAIN(WarmOfficeTest)
#include "warm_office_test.moc"
