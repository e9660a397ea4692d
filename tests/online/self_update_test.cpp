// Whether the program may replace itself: dpkg's file lists and the
// program folder's permissions, on real files.

#include "online/self_update.h"
#include "support/ordinary_user.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace qinghe;

namespace {

class SelfUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir(root_.path()).mkpath("usr/bin"));
        ASSERT_TRUE(QDir(root_.path()).mkpath("dpkg/info"));
        program_ = root_.filePath("usr/bin/qinghe");
        put(program_, "program");
    }

    static void put(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    void list(const QString& name, const QByteArray& lines) { put(lists() + "/" + name, lines); }
    QString lists() const { return root_.filePath("dpkg/info"); }

    QTemporaryDir root_;
    QString program_;
};

}  // namespace

TEST_F(SelfUpdate, OurPackagesFileListDecides)
{
    EXPECT_FALSE(installedByPackageManager(program_, lists()));
    EXPECT_FALSE(installedByPackageManager(program_, root_.filePath("no-such-folder")));

    // Another package naming the same path is not ours; a near miss is no match.
    list("other.list", "/.\n" + program_.toUtf8() + "\n");
    list("qinghe.list", "/.\n/usr\n" + program_.toUtf8() + "-old\n");
    EXPECT_FALSE(installedByPackageManager(program_, lists()));

    list("qinghe.list", "/.\n/usr\n" + program_.toUtf8() + "\n/usr/share/qinghe\n");
    EXPECT_TRUE(installedByPackageManager(program_, lists()));
    EXPECT_EQ(selfUpdateRefusal(program_, root_.filePath("usr/bin"), lists()),
              QString::fromUtf8("请使用系统的软件包管理器更新本程序。"));
}

TEST_F(SelfUpdate, ListOfAMultiArchitecturePackageAndALinkedProgramCount)
{
    list("qinghe:amd64.list", program_.toUtf8() + "\n");
    EXPECT_TRUE(installedByPackageManager(program_, lists()));

    // Started through a link (a merged /bin, a launcher), the file it leads to counts.
    const QString link = root_.filePath("qinghe-link");
    ASSERT_TRUE(QFile::link(program_, link));
    EXPECT_TRUE(installedByPackageManager(link, lists()));
    EXPECT_FALSE(installedByPackageManager(QString(), lists()));
}

TEST_F(SelfUpdate, FolderThatCannotBeWrittenIsRefusedAndAWritableOneIsNot)
{
    const QString folder = root_.filePath("usr/bin");
    EXPECT_EQ(selfUpdateRefusal(program_, folder, lists()), QString());
    EXPECT_EQ(selfUpdateRefusal(program_, root_.filePath("gone"), lists()),
              QString::fromUtf8(kUnwritableFolderUpdateText));

    // An administrator may write anywhere: the check runs as an ordinary user.
    ASSERT_EQ(::chmod(QFile::encodeName(root_.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    const bool refused = test_support::asOrdinaryUser([&] {
        return selfUpdateRefusal(program_, folder, lists()) == QString::fromUtf8(kUnwritableFolderUpdateText);
    });
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_TRUE(refused);
}
