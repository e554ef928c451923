// INI files on a POSIX disk: the owner's write bit, permissions, symbolic
// links, a size limit and a full file system, each leaving the old file
// intact.

#include "ini_test_fixture.h"
#include "qt_printers.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& file)
{
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    return st.st_mode & 07777;
}

TEST_F(IniTest, ReadOnlyFileIsLeftAlone)
{
    put(path(), kSettings);
    ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), 0444), 0);
    IniFile ini(path());
    expectUnableToWrite([&] { ini.writeString("CONFIG", "COM", "COM2"); }, path());
    expectUnableToWrite([&] { ini.writeString("NEW", "k", "v"); }, path());
    expectUnableToWrite([&] { ini.eraseSection("CONFIG"); }, path());
    expectUnableToWrite([&] { ini.deleteKey("CONFIG", "COM"); }, path());
    EXPECT_EQ(get(path()), kSettings);
    EXPECT_EQ(modeOf(path()), 0444u);
    EXPECT_EQ(entries(), QStringList{"Settings.ini"});
    // Reading still works.
    EXPECT_EQ(ini.readString("CONFIG", "COM", ""), "COM1");
}

TEST_F(IniTest, ReadOnlyDirectoryRefusesAndLeavesNoTemporary)
{
    const QString sub = path("ro");
    ASSERT_TRUE(QDir().mkdir(sub));
    const QString file = sub + "/Poverka.ini";
    put(file, kSettings);
    ASSERT_EQ(::chmod(QFile::encodeName(sub).constData(), 0555), 0);
    expectUnableToWrite([&] { IniFile(file).writeString("CONFIG", "COM", "COM2"); }, file);
    expectUnableToWrite([&] { IniFile(sub + "/new.ini").writeString("A", "k", "v"); }, sub + "/new.ini");
    ::chmod(QFile::encodeName(sub).constData(), 0755);
    EXPECT_EQ(get(file), kSettings);
    EXPECT_EQ(entries(sub), QStringList{"Poverka.ini"});
}

TEST_F(IniTest, PermissionsOfTheFileAreKept)
{
    put(path(), kSettings);
    for (const mode_t mode : {0600u, 0640u, 0664u}) {
        ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), mode), 0);
        IniFile(path()).writeString("CONFIG", "COM", "COM2");
        EXPECT_EQ(modeOf(path()), mode);
    }
    const mode_t old = ::umask(022);
    IniFile(path("fresh.ini")).writeString("A", "k", "v");
    ::umask(old);
    EXPECT_EQ(modeOf(path("fresh.ini")), 0644u);
}

TEST_F(IniTest, SymlinkIsWrittenThrough)
{
    const QString target = path("real.ini");
    put(target, B("[A]\r\nk=1\r\n"));
    ASSERT_TRUE(QFile::link("real.ini", path("link.ini")));  // relative link
    IniFile(path("link.ini")).writeString("A", "k", "2");
    EXPECT_TRUE(QFileInfo(path("link.ini")).isSymLink());
    EXPECT_EQ(get(target), B("[A]\r\nk=2\r\n"));

    // A dangling link creates its target.
    ASSERT_TRUE(QFile::link(path("later.ini"), path("dangling.ini")));
    IniFile(path("dangling.ini")).writeString("B", "x", "y");
    EXPECT_TRUE(QFileInfo(path("dangling.ini")).isSymLink());
    EXPECT_EQ(get(path("later.ini")), B("[B]\r\nx=y\r\n"));

    // A loop is refused, not followed forever.
    ASSERT_TRUE(QFile::link(path("loop2.ini"), path("loop1.ini")));
    ASSERT_TRUE(QFile::link(path("loop1.ini"), path("loop2.ini")));
    EXPECT_EQ(IniFile(path("loop1.ini")).readString("A", "k", "d"), "d");
    expectUnableToWrite([&] { IniFile(path("loop1.ini")).writeString("A", "k", "v"); }, path("loop1.ini"));
}

// A write that runs out of room half-way (here: the file-size limit of the
// process) must leave the old file whole and no temporary behind.
TEST_F(IniTest, WriteFailingHalfWayKeepsOldFile)
{
    QByteArray big = "[CONFIG]\r\nCOM=COM1\r\n";
    for (int i = 0; i < 4000; ++i)
        big += "K" + QByteArray::number(i) + "=0,000000\r\n";
    put(path(), big);

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool refused = false;
    try {
        IniFile(path()).writeString("CONFIG", "COM", "COM7");
    } catch (const EIniFileException& e) {
        refused = e.text() == "Unable to write to " + path();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_TRUE(refused);
    EXPECT_EQ(get(path()), big);
    EXPECT_EQ(entries(), QStringList{"Settings.ini"});
}

// A real full file system: a small tmpfs. Needs the right to mount.
TEST_F(IniTest, FullDiskKeepsOldFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const QString mnt = path("mnt");
    ASSERT_TRUE(QDir().mkdir(mnt));
    if (::mount("tmpfs", QFile::encodeName(mnt).constData(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        QByteArray at;
        ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(mnt)};

    const QString file = mnt + "/Calibration.ini";
    QByteArray content = "[CALIBRCFG]\r\nCALSTEP=1\r\n";
    while (content.size() < 100 * 1024)
        content += "CALTAB_K0=1,000000\r\n";
    put(file, content);

    // Fill what is left, then free less than a second copy needs.
    {
        QFile filler(mnt + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray chunk(4096, 'x');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
    }
    const qint64 fillerSize = QFileInfo(mnt + "/filler").size();
    ASSERT_TRUE(QFile::resize(mnt + "/filler", qMax<qint64>(0, fillerSize - 32 * 1024)));

    expectUnableToWrite([&] { IniFile(file).writeString("CALIBRCFG", "CALSTEP", "2"); }, file);
    EXPECT_EQ(get(file), content);
    EXPECT_EQ(entries(mnt), (QStringList{"Calibration.ini", "filler"}));

    // With room again the same write goes through.
    ASSERT_TRUE(QFile::remove(mnt + "/filler"));
    IniFile(file).writeString("CALIBRCFG", "CALSTEP", "2");
    EXPECT_EQ(IniFile(file).readInteger("CALIBRCFG", "CALSTEP", 0), 2);
}

}  // namespace
