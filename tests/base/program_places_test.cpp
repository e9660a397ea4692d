// Where my.ini and the data are looked for: a portable folder, an installed
// tree, the user's config folder, on real folders.

#include "base/private_profile.h"
#include "base/program_places.h"
#include "support/ordinary_user.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace qinghe;

namespace {

// Sets an environment variable for the test's span and puts it back after.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class ProgramPlaces : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(root_.path()).constData(), 0755), 0);
    }

    QString make(const QString& relative) const
    {
        const QString path = root_.filePath(relative);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    QTemporaryDir root_;
    ScopedEnvironment configHome_{"XDG_CONFIG_HOME", nullptr};
    ScopedEnvironment home_{"HOME", nullptr};
};

}  // namespace

TEST_F(ProgramPlaces, UserConfigFolderFollowsTheBaseDirectoryRules)
{
    EXPECT_EQ(userConfigFolder(), QString());
    ::setenv("HOME", "/home/host", 1);
    EXPECT_EQ(userConfigFolder(), "/home/host/.config/qinghe");
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(userConfigFolder(), "/home/host/.config/qinghe");
    ::setenv("XDG_CONFIG_HOME", "/srv/config/", 1);
    EXPECT_EQ(userConfigFolder(), "/srv/config/qinghe");
}

TEST_F(ProgramPlaces, PortableFolderKeepsMyIniBesideTheProgram)
{
    const QString portable = make("portable");
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(root_.filePath("config")).constData(), 1);
    EXPECT_FALSE(runsFromInstalledTree(portable));
    EXPECT_EQ(settingsFileFor(portable), portable + "/my.ini");
}

TEST_F(ProgramPlaces, InstalledTreeKeepsMyIniInTheUsersConfigFolderEvenWhereItMayWrite)
{
    const QString bin = make("prefix/bin");
    make("prefix/share/qinghe/data");
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(root_.filePath("config")).constData(), 1);
    EXPECT_TRUE(runsFromInstalledTree(bin));
    EXPECT_EQ(installedDataFolder(bin), root_.filePath("prefix/share/qinghe"));
    EXPECT_EQ(settingsFileFor(bin), root_.filePath("config/qinghe/my.ini"));
}

TEST_F(ProgramPlaces, FolderTheHostCannotWriteSendsMyIniToTheConfigFolder)
{
    const QString portable = make("locked");
    ASSERT_EQ(::chmod(QFile::encodeName(portable).constData(), 0555), 0);
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(root_.filePath("config")).constData(), 1);
    const QString expected = root_.filePath("config/qinghe/my.ini");
    // An administrator may write anywhere: the host is an ordinary user.
    const bool sent = test_support::asOrdinaryUser(
        [&] { return !isWritableFolder(portable) && settingsFileFor(portable) == expected; });
    ::chmod(QFile::encodeName(portable).constData(), 0755);
    EXPECT_TRUE(sent);
    EXPECT_FALSE(isWritableFolder(root_.filePath("missing")));
}

TEST_F(ProgramPlaces, ConfigFolderIsMadePrivateAndMyIniOnlyOnTheFirstWrite)
{
    const QString ini = root_.filePath("home/.config/qinghe/my.ini");
    ASSERT_TRUE(prepareSettingsFolder(ini));
    const QFileInfo folder(root_.filePath("home/.config/qinghe"));
    ASSERT_TRUE(folder.isDir());
    EXPECT_EQ(folder.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
    EXPECT_FALSE(QFileInfo::exists(ini));

    ASSERT_TRUE(writeProfileString(ini, "s", "k", "v"));
    EXPECT_EQ(readProfileString(ini, "s", "k"), "v");
    // A second start finds the folder as it left it.
    EXPECT_TRUE(prepareSettingsFolder(ini));
    EXPECT_EQ(readProfileString(ini, "s", "k"), "v");

    // A file where the folder should be: no folder, and the write fails rather than lands elsewhere.
    QFile blocker(root_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString blockedIni = root_.filePath("blocked/qinghe/my.ini");
    EXPECT_FALSE(prepareSettingsFolder(blockedIni));
    EXPECT_FALSE(writeProfileString(blockedIni, "s", "k", "v"));
}
