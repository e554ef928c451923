// The protocol's files where writing cannot succeed: a full disk (a small
// tmpfs), a read-only file system, a read-only protocol and a missing
// template, at the template's copy and at the office's save. An earlier
// protocol survives byte for byte, no half-written or working file stays
// behind, the office is not started for a protocol that cannot be written,
// and the user is told "Unable to write to <path>".

#include "app_paths.h"
#include "errors.h"
#include "fake_spreadsheet.h"
#include "installed_meters.h"
#include "protocol_fixtures.h"
#include "protocol_workbook.h"
#include "qt_printers.h"
#include "run_state.h"
#include "scratch_tmpfs.h"
#include "scripted_messages.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

namespace {

const QByteArray kTemplate = QByteArray("template bytes ") + QByteArray(2000, 't');
const QByteArray kOldProtocol = QByteArray("an earlier protocol, filled and signed ") + QByteArray(3000, 'p');

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// Every file and directory under dir, hidden ones too, relative to it.
QStringList FilesUnder(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

enum class Place { FullDisk, ReadOnlyFileSystem, ReadOnlyFile, MissingTemplate };

const char* PlaceName(Place p)
{
    static const char* const names[] = {"FullDisk", "ReadOnlyFileSystem", "ReadOnlyFile", "MissingTemplate"};
    return names[int(p)];
}

// The program's directory on a tmpfs of its own (where one can be mounted),
// with the template, the verification state file and a fake office.
class ProtocolNothingLost : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        SetSpreadsheetAppFactory([this] { return std::make_unique<FakeSpreadsheet>(sheet); });
        Fresh();
    }
    void TearDown() override { SetSpreadsheetAppFactory({}); }

    // A new disk, program directory and office for the next case.
    void Fresh()
    {
        fs.reset();
        const QString where = dir.path() + QStringLiteral("/disk");
        QDir(where).removeRecursively();
        fs = std::make_unique<Tmpfs>(where);
        program = where;
        AppPaths::setDirectory(program);
        WriteAll(program + QStringLiteral("/") + QString::fromUtf8(kProtocolTemplate), kTemplate);
        WriteSessionFile(program + QStringLiteral("/Poverka.ini"), SampleRun(2));
        boxes.clear();
        sheet = FakeSheet{};
        // The path of the protocol depends on the minute: not across one.
        if (QTime::currentTime().second() >= 57)
            QThread::sleep(4);
        when = QDateTime::currentDateTime();
    }

    // A fresh start for a case in that place; false when the place needs a
    // tmpfs that cannot be mounted here.
    bool StartCase(Place p)
    {
        if ((p == Place::FullDisk || p == Place::ReadOnlyFileSystem) && !fs->mounted()) {
            std::cout << "skipped: cannot mount a tmpfs here (needs root)\n";
            return false;
        }
        Fresh();
        return true;
    }
    QString Target() const { return ProtocolFilePath(program, when, 12); }
    QString Protocols() const { return program + QStringLiteral("/Protocols"); }

    void Arrange(Place place, const QString& target)
    {
        switch (place) {
        case Place::FullDisk: fs->fill(); break;
        case Place::ReadOnlyFileSystem: ASSERT_TRUE(fs->makeReadOnly()); break;
        case Place::ReadOnlyFile: ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0444), 0); break;
        case Place::MissingTemplate:
            ASSERT_TRUE(QFile::remove(program + QStringLiteral("/") + QString::fromUtf8(kProtocolTemplate)));
            break;
        }
    }

    ProtocolData Data() const
    {
        ProtocolData d;
        d.RepNo = 12;
        d.DiameterIndex = 4;
        d.SessionFile = program + QStringLiteral("/Poverka.ini");
        return d;
    }

    QTemporaryDir dir;
    std::unique_ptr<Tmpfs> fs;
    QString program;
    QDateTime when;
    ScopedScriptedMessages boxes;
    FakeSheet sheet;
};

// The end of a verification, replacing an earlier protocol (Yes) or making a
// new one, where the template cannot be copied.
TEST_F(ProtocolNothingLost, TheTemplateCopyThatFailsIsReportedAndNoOfficeStarts)
{
    struct Case {
        Place place;
        bool earlier;  // an earlier protocol at the path, to be replaced
    } cases[] = {
        {Place::FullDisk, true},        {Place::FullDisk, false},        {Place::ReadOnlyFileSystem, true},
        {Place::ReadOnlyFileSystem, false}, {Place::ReadOnlyFile, true}, {Place::MissingTemplate, true},
        {Place::MissingTemplate, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(PlaceName(c.place)) + (c.earlier ? " replacing" : " new"));
        if (!StartCase(c.place))
            continue;
        const QString target = Target();
        const QString protocols = Protocols();
        if (c.earlier)
            WriteAll(target, kOldProtocol);
        else
            QDir().mkpath(QFileInfo(target).path());  // a read-only disk could not make it
        const QStringList before = FilesUnder(protocols);
        Arrange(c.place, target);
        if (c.earlier)
            boxes.answer(ModalResult::Yes);

        InstalledMeterList meters;
        meters.Count = 2;
        RunState run(meters);
        EXPECT_FALSE(WriteVerificationProtocol(ProgramSettings{12, {}, {}}, ProtocolFields{}, run));

        std::vector<ShownMessage> expected;
        if (c.earlier)
            expected.push_back({MsgKind::Warning,
                                QStringLiteral("Файл ") + target + QStringLiteral("уже существует, заменить его?"),
                                mbYes | mbNo});
        if (c.place == Place::MissingTemplate) {
            // The template is named, not the protocol's place.
            expected.push_back({MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK});
            expected.push_back({MsgKind::Error,
                                QStringLiteral("Шаблон протокола не найден или не читается: ") +
                                    AppPaths::file(QString::fromUtf8(kProtocolTemplate)),
                                mbOK});
        } else {
            expected.push_back({MsgKind::Error, QStringLiteral("Unable to write to ") + target + QLatin1Char('.'), mbOK});
        }
        EXPECT_EQ(boxes.shown(), expected);
        EXPECT_TRUE(sheet.log.isEmpty()) << sheet.log.join(" | ").toStdString();
        EXPECT_EQ(ReadAll(target), c.earlier ? kOldProtocol : QByteArray("<missing>"));
        EXPECT_EQ(FilesUnder(protocols), before);
    }
}

// The fill, on a protocol already there (the template's copy, or an earlier
// protocol the user chose to keep and fill again): the office's copy cannot
// be made, or the disk runs full while the office saves.
TEST_F(ProtocolNothingLost, AFillThatCannotBeSavedLeavesTheProtocolAsItWas)
{
    enum class When { BeforeTheOffice, AtTheSave };
    struct Case {
        Place place;
        When when;
    } cases[] = {
        {Place::FullDisk, When::BeforeTheOffice},     {Place::FullDisk, When::AtTheSave},
        {Place::ReadOnlyFileSystem, When::BeforeTheOffice}, {Place::ReadOnlyFileSystem, When::AtTheSave},
        {Place::ReadOnlyFile, When::BeforeTheOffice},
    };
    for (const Case& c : cases) {
        const bool atSave = c.when == When::AtTheSave;
        SCOPED_TRACE(std::string(PlaceName(c.place)) + (atSave ? " at the save" : " before the office"));
        if (!StartCase(c.place))
            continue;
        const QString target = Target();
        const QString protocols = Protocols();
        WriteAll(target, kOldProtocol);
        const QStringList before = FilesUnder(protocols);
        if (atSave)
            sheet.onCall = [&](const QString& entry) {
                if (entry == QLatin1String("Save"))
                    Arrange(c.place, target);
            };
        else
            Arrange(c.place, target);

        EXPECT_FALSE(WriteProtocolWorkbook(target, 2, Data()));

        EXPECT_EQ(boxes.shown(),
                  (std::vector<ShownMessage>{
                      {MsgKind::Error, QStringLiteral("Ошибка вывода данных"), mbOK},
                      {MsgKind::Error, QStringLiteral("Unable to write to ") + target + QLatin1Char('.'), mbOK}}));
        if (atSave) {
            EXPECT_EQ(sheet.log.mid(sheet.log.size() - 3),
                      (QStringList{QStringLiteral("Save"), QStringLiteral("Close"), QStringLiteral("Quit")}));
        } else {
            EXPECT_TRUE(sheet.log.isEmpty()) << sheet.log.join(" | ").toStdString();  // no office
        }
        EXPECT_FALSE(sheet.log.contains(QStringLiteral("Release")));
        EXPECT_EQ(ReadAll(target), kOldProtocol);
        QStringList after = FilesUnder(protocols);
        if (atSave && c.place == Place::ReadOnlyFileSystem) {
            // A disk turned read-only under the office cannot even lose the
            // office's copy: it stays in its hidden directory.
            const QString hidden = QStringLiteral("/.") + QFileInfo(target).completeBaseName() + '.';
            for (const QString& f : QStringList(after))
                if ((QLatin1Char('/') + f).contains(hidden))
                    after.removeOne(f);
        }
        EXPECT_EQ(after, before);
    }
}

// A disk that was full has room again: the next protocol is written whole.
TEST_F(ProtocolNothingLost, TheNextFillSucceedsOnceSpaceIsBack)
{
    if (!fs->mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const QString target = Target();
    WriteAll(target, kOldProtocol);
    sheet.onCall = [&](const QString& entry) {
        if (entry == QLatin1String("Save"))
            fs->fill();
    };
    EXPECT_FALSE(WriteProtocolWorkbook(target, 2, Data()));
    EXPECT_EQ(ReadAll(target), kOldProtocol);

    fs->drain();
    sheet = FakeSheet{};
    boxes.clear();
    EXPECT_TRUE(WriteProtocolWorkbook(target, 2, Data()));
    EXPECT_EQ(boxes.count(), 0u);
    const QByteArray saved = ReadAll(target);
    EXPECT_TRUE(saved.startsWith("saved workbook\n"));
    EXPECT_TRUE(saved.contains("B18=1202\n")) << saved.right(200).toStdString();
    EXPECT_EQ(FilesUnder(QFileInfo(target).path()), QStringList{QFileInfo(target).fileName()});
}

}  // namespace
