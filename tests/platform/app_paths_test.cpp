// Where the files of an installed and of a portable copy live: the marker
// decides, never whether the executable's folder is writable.

#include "app_paths.h"
#include "qt_printers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

enum class Marker { None, File, Directory };

struct Case {
    const char* name;
    Marker marker;
    bool installed;
};

class AppPathsRule : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir().mkpath(bin()));
        ASSERT_TRUE(QDir().mkpath(share()));
        switch (GetParam().marker) {
        case Marker::None:
            break;
        case Marker::File: {
            QFile f(share() + QStringLiteral("/installed"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            break;
        }
        case Marker::Directory:
            ASSERT_TRUE(QDir().mkpath(share() + QStringLiteral("/installed")));
            break;
        }
        // Writable here, as /usr/bin is for root: it must not decide anything.
        ASSERT_TRUE(QFileInfo(bin()).isWritable());
    }
    void TearDown() override { AppPaths::Use({}); }

    QString bin() const { return root.path() + QStringLiteral("/usr/bin"); }
    QString share() const { return root.path() + QStringLiteral("/usr/share/zrm-scanner"); }
    QString libexec() const { return root.path() + QStringLiteral("/usr/libexec/zrm-scanner"); }
    QString userData() const { return root.path() + QStringLiteral("/home/user/.local/share/zrm-scanner"); }

    QTemporaryDir root;
};

TEST_P(AppPathsRule, MarkerAloneDecides)
{
    bool created = false;
    const AppLocations where = AppPaths::Locate(bin(), userData(), &created);
    EXPECT_TRUE(created);
    EXPECT_EQ(where.installed, GetParam().installed);
    if (GetParam().installed) {
        EXPECT_EQ(where.files, userData());
        EXPECT_TRUE(QFileInfo(userData()).isDir()) << "the user's data folder is made on first start";
        EXPECT_EQ(where.resources, share());
        EXPECT_EQ(where.helpers, libexec());
    } else {
        EXPECT_EQ(where.files, bin());
        EXPECT_EQ(where.resources, bin());
        EXPECT_EQ(where.helpers, bin());
        EXPECT_FALSE(QFileInfo::exists(userData())) << "a portable copy leaves the home folder alone";
    }

    // What the program then opens.
    AppPaths::Use(where);
    EXPECT_EQ(AppPaths::file(QStringLiteral("Settings.ini")), where.files + QStringLiteral("/Settings.ini"));
    EXPECT_EQ(AppPaths::resourceFile(QStringLiteral("t.xls")), where.resources + QStringLiteral("/t.xls"));
    EXPECT_EQ(AppPaths::helperFile(QStringLiteral("zrm-office-helper")),
              where.helpers + QStringLiteral("/zrm-office-helper"));
}

INSTANTIATE_TEST_SUITE_P(Copies, AppPathsRule,
                         ::testing::Values(Case{"Portable", Marker::None, false},
                                           Case{"Installed", Marker::File, true},
                                           Case{"FolderNamedLikeTheMarker", Marker::Directory, false}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(AppPaths, UnmakeableUserDataFolderIsReported)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.path() + QStringLiteral("/usr/bin");
    ASSERT_TRUE(QDir().mkpath(root.path() + QStringLiteral("/usr/share/zrm-scanner")));
    ASSERT_TRUE(QDir().mkpath(bin));
    QFile marker(root.path() + QStringLiteral("/usr/share/zrm-scanner/installed"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    // A plain file where the home folder should be: no folder can be made under it.
    QFile home(root.path() + QStringLiteral("/home"));
    ASSERT_TRUE(home.open(QIODevice::WriteOnly));

    bool created = true;
    const AppLocations where = AppPaths::Locate(bin, root.path() + QStringLiteral("/home/.local/share/zrm-scanner"), &created);
    EXPECT_TRUE(where.installed);
    EXPECT_FALSE(created);
}

} // namespace
