// The per-system files of src/platform, built and run on both systems (on
// Windows under wine): the same guarantees from each implementation.

#include "coef_file.h"
#include "cp1251.h"
#include "file_access.h"
#include "file_replace.h"
#include "ini_file.h"
#include "process_group.h"
#ifdef Q_OS_WIN
#include "win_path.h"
#endif

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Everything in dir but the named entries: what a replacement left behind.
QStringList Leftovers(const QString& dir, const QStringList& expected)
{
    QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : expected)
        left.removeAll(name);
    return left;
}

bool WaitGone(qint64 pid)
{
    QDeadlineTimer deadline(10000);
    while (!ProcessGone(pid)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

// The roles this program plays for the process test, chosen by argv[1]:
// "program" starts a helper the way the spreadsheet service does and waits
// to be killed; "helper" starts an office and waits; "office" waits.
int RunRole(const QString& role)
{
    const QString self = QCoreApplication::applicationFilePath();
    if (role == QLatin1String("office")) {
        QThread::sleep(60);
        return 0;
    }
    if (role == QLatin1String("helper")) {
        qint64 office = 0;
        if (!QProcess::startDetached(self, {QStringLiteral("office")}, {}, &office))
            return 2;
        std::printf("office %lld\n", office);
        std::fflush(stdout);
        QThread::sleep(60);
        return 0;
    }
    // program
    HelperProcessGroup group;
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedChannels);
    helper.start(self, {QStringLiteral("helper")});
    if (!helper.waitForStarted(5000))
        return 2;
    group.Adopt(helper);
    std::printf("helper %lld\n", helper.processId());
    std::fflush(stdout);
    QThread::sleep(60);
    return 0;
}

}  // namespace

class OsFacilitiesTest : public QObject {
    Q_OBJECT

private slots:
    void replacementTakesTheNameWhole()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Settings.ini"));
        QVERIFY(Write(target, "old"));
        FileStatus status;
        QVERIFY(MayReplace(target, &status));
        QVERIFY(status.exists);
        QVERIFY(ReplaceFile(target, QByteArray(70000, 'n'), status));
        QCOMPARE(Read(target), QByteArray(70000, 'n'));
        QCOMPARE(Leftovers(dir.path(), {QStringLiteral("Settings.ini")}), QStringList());
        // A new file too.
        const QString fresh = dir.filePath(QStringLiteral("Calibration.ini"));
        QVERIFY(ReplaceFile(fresh, "new"));
        QCOMPARE(Read(fresh), QByteArray("new"));
    }

    void aFailedReplacementKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("a directory in the file's place") << "directory";
        QTest::newRow("the file held open by another program") << "held";
        QTest::newRow("the file marked read-only") << "readonly";
    }
    void aFailedReplacementKeepsTheOldFile()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Calibration.ini"));
        QFile holder(target);
        if (how == QLatin1String("directory")) {
            QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("Calibration.ini/inside")));
        } else {
            QVERIFY(Write(target, "old"));
        }
        if (how == QLatin1String("held"))
            QVERIFY(holder.open(QIODevice::ReadOnly));  // Qt shares read and write, not delete
        if (how == QLatin1String("readonly"))
            QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::ReadUser));

        const bool mayReplace = MayReplace(target);
        const bool replaced = mayReplace && ReplaceFile(target, "new");
        if (how == QLatin1String("directory")) {
            QVERIFY(!mayReplace);
            QVERIFY(QFileInfo(target + QStringLiteral("/inside")).isDir());
        } else if (how == QLatin1String("readonly")) {
            QVERIFY(!mayReplace);
            QCOMPARE(Read(target), QByteArray("old"));
        } else {
            // Windows refuses to replace a file another program holds; POSIX
            // renames over it. Either way there is the old or the new file
            // whole, and the answer says which.
            QCOMPARE(Read(target), replaced ? QByteArray("new") : QByteArray("old"));
#ifdef Q_OS_WIN
            QVERIFY(!replaced);
#endif
        }
        holder.close();
        QCOMPARE(Leftovers(dir.path(), {QStringLiteral("Calibration.ini")}), QStringList());
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void readingTellsMissingFromUnusable()
    {
        QTemporaryDir dir;
        QByteArray bytes = "stale";
        QCOMPARE(ReadRegularFile(dir.filePath(QStringLiteral("none.ini")), 100, bytes), FileLoad::Missing);
        QCOMPARE(ReadRegularFile(dir.filePath(QStringLiteral("none/none.ini")), 100, bytes), FileLoad::Missing);
        QCOMPARE(ReadRegularFile(dir.path(), 100, bytes), FileLoad::Unusable);
        QVERIFY(bytes.isEmpty());
        const QString file = dir.filePath(QStringLiteral("a.ini"));
        QVERIFY(Write(file, QByteArray(101, 'x')));
        QCOMPARE(ReadRegularFile(file, 100, bytes), FileLoad::Unusable);
        QVERIFY(bytes.isEmpty());
        QCOMPARE(ReadRegularFile(file, 101, bytes), FileLoad::Ok);
        QCOMPARE(bytes, QByteArray(101, 'x'));
    }

    void privateDirectoriesAreMadeOnce()
    {
        QTemporaryDir dir;
        const QString d = dir.filePath(QStringLiteral(".work"));
        QCOMPARE(MakePrivateDirectory(d), DirectoryMade::Created);
        QCOMPARE(MakePrivateDirectory(d), DirectoryMade::Exists);
        QCOMPARE(MakePrivateDirectory(dir.filePath(QStringLiteral("no/such"))), DirectoryMade::Failed);
    }

    // The INI files are Windows-1251 on both systems, without ICU: every
    // byte reads and writes back as itself.
    void theCodePageRoundTripsEveryByte()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        const QString text = cp1251::Decode(all);
        QCOMPARE(text.size(), qsizetype(256));
        QCOMPARE(text.at(0xC0), QChar(0x0410));  // А
        QCOMPARE(text.at(0xB9), QChar(0x2116));  // №
        QCOMPARE(cp1251::Encode(text), all);
        QCOMPARE(cp1251::Encode(QStringLiteral("Ду 50 \u00FC\U0001F600")), QByteArray("\xC4\xF3 50 ??"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Poverka.ini"));
        IniFile ini(path);
        ini.writeString(QStringLiteral("POVERKA"), QStringLiteral("NAME"), QStringLiteral("Иванов И.И. №5"));
        QCOMPARE(Read(path), QByteArray("[POVERKA]\r\nNAME=\xC8\xE2\xE0\xED\xEE\xE2 \xC8.\xC8. \xB9" "5\r\n"));
        QCOMPARE(IniFile(path).readString(QStringLiteral("POVERKA"), QStringLiteral("NAME"), QString()),
                 QStringLiteral("Иванов И.И. №5"));
    }

    // A data folder deeper than MAX_PATH (260), as a dated protocol path under
    // a deep folder reaches: Settings.ini and a .coef file saved and read
    // back, and a name with ".." in it, which the long form takes literally.
    void longPathsWork()
    {
        QTemporaryDir dir;
        QString data = dir.path();
        while (data.size() <= 300)
            data += QStringLiteral("/Данные поверочной установки");
        QVERIFY(QDir().mkpath(data + QStringLiteral("/Restore")));
        const QString settings = data + QStringLiteral("/Settings.ini");
        IniFile(settings).writeString(QStringLiteral("CONFIG"), QStringLiteral("COM"), QStringLiteral("COM8"));
        IniFile(data + QStringLiteral("/Restore/../Settings.ini"))
            .writeString(QStringLiteral("CONFIG"), QStringLiteral("REPNO"), QStringLiteral("5"));
        QCOMPARE(Read(settings), QByteArray("[CONFIG]\r\nCOM=COM8\r\nREPNO=5\r\n"));
        QCOMPARE(IniFile(settings).readString(QStringLiteral("CONFIG"), QStringLiteral("COM"), QString()),
                 QStringLiteral("COM8"));

        EditorTexts texts;
        texts.Serial = QStringLiteral("1201");
        for (QString& value : texts.Values)
            value = QStringLiteral("1,5");
        const QString coef = data + QStringLiteral("/Restore/") + DefaultCoefFileName(texts.Serial) + QStringLiteral(".coef");
        SaveCoefFile(coef, texts);
        const EditorTexts loaded = LoadCoefFile(coef);
        QCOMPARE(loaded.Serial, texts.Serial);
        QCOMPARE(loaded.Values, texts.Values);
        QCOMPARE(Leftovers(data, {QStringLiteral("Settings.ini"), QStringLiteral("Restore")}), QStringList());
        QCOMPARE(Leftovers(data + QStringLiteral("/Restore"), {QFileInfo(coef).fileName()}), QStringList());
#ifdef Q_OS_WIN
        // Wine takes a long name in any form; Windows only in this one.
        const auto win = [](const char* path) { return QString::fromStdWString(WinPath(QString::fromUtf8(path))); };
        QCOMPARE(win("C:/a/./b/../Settings.ini"), QStringLiteral(R"(\\?\C:\a\Settings.ini)"));
        QCOMPARE(win("//bench-pc/share/Settings.ini"), QStringLiteral(R"(\\?\UNC\bench-pc\share\Settings.ini)"));
        QCOMPARE(win(R"(\\.\COM12)"), QStringLiteral(R"(\\.\COM12)"));
#endif
    }

    void aProcessIsGoneOnlyOnceItEnded()
    {
        QVERIFY(!ProcessGone(QCoreApplication::applicationPid()));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("office")});
        QVERIFY(child.waitForStarted(5000));
        const qint64 pid = child.processId();
        QVERIFY(!ProcessGone(pid));
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        QVERIFY(WaitGone(pid));
    }

    // The program killed: its helper and the office the helper started end
    // with it. (On POSIX systems the helper itself asks for a signal at its
    // parent's death; the spreadsheet tests prove that with the real helper.)
    void theHelperAndItsOfficeDieWithTheProgram()
    {
#ifndef Q_OS_WIN
        QSKIP("the job object is the Windows way; the POSIX helper watches its parent itself");
#endif
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(), {QStringLiteral("program")});
        QVERIFY(program.waitForStarted(5000));
        qint64 helper = 0, office = 0;
        QDeadlineTimer deadline(15000);
        while ((!helper || !office) && !deadline.hasExpired()) {
            program.waitForReadyRead(100);
            while (program.canReadLine()) {
                const QList<QByteArray> words = program.readLine().trimmed().split(' ');
                if (words.value(0) == "helper")
                    helper = words.value(1).toLongLong();
                if (words.value(0) == "office")
                    office = words.value(1).toLongLong();
            }
        }
        QVERIFY2(helper && office, "the helper or the office did not start");
        QVERIFY(!ProcessGone(helper));
        QVERIFY(!ProcessGone(office));
        program.kill();  // TerminateProcess: no clean-up of its own runs
        QVERIFY(program.waitForFinished(5000));
        QVERIFY2(WaitGone(helper), "the helper outlived the program");
        QVERIFY2(WaitGone(office), "the office outlived the program");
    }
};

int main(int argc, char** argv)
{
    if (argc == 2 && (qstrcmp(argv[1], "program") == 0 || qstrcmp(argv[1], "helper") == 0 ||
                      qstrcmp(argv[1], "office") == 0)) {
        QCoreApplication app(argc, argv);
        return RunRole(QString::fromLatin1(argv[1]));
    }
    QCoreApplication app(argc, argv);
    OsFacilitiesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "os_facilities_test.moc"
