// The updater's names from the update page and its progress figures.

#include "online/updater.h"

#include "text/gbk.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qinghe;

namespace {

std::string gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

}  // namespace

TEST(UpdaterNames, PageEntriesStandAnywhereInAnyOrderAndAMissingOneIsEmpty)
{
    const UpdateEntries entries = readUpdateEntries(
        gbk("<p>运行名（new.exe）结束运行名</p> 版本号（v2.0）结束 <b>删除名（old.exe）结束删除名</b>"));
    EXPECT_EQ(entries.runName, "new.exe");
    EXPECT_EQ(entries.deleteName, "old.exe");
    EXPECT_EQ(entries.downloadAddress, "");
    EXPECT_EQ(readUpdateEntries(gbk("下载地址（http://h/d/n.exe）结束下载地址")).downloadAddress, "http://h/d/n.exe");
}

// The download keeps only the last plain name of the address; without one
// the server names the file.
TEST(UpdaterNames, DownloadNameIsThePlainLastPartOfTheAddress)
{
    EXPECT_EQ(downloadFileName("http://h/soft/new.exe"), "new.exe");
    EXPECT_EQ(downloadFileName("new.exe"), "new.exe");
    EXPECT_EQ(downloadFileName("http://h/soft/"), "");
    EXPECT_EQ(downloadFileName("http://h/soft/.."), "");
    EXPECT_EQ(downloadFileName("http://h/soft/..\\..\\evil.exe"), "evil.exe");
    EXPECT_EQ(downloadFileName("http://h/" + gbk("新版本.exe")), gbk("新版本.exe"));
}

// The page's delete and run names never reach past the program's folder:
// only their plain file name counts, and "..", "." and empty names nothing.
TEST(UpdaterNames, NamesFromThePageStayInTheProgramFolder)
{
    const QString folder = QStringLiteral("/opt/qinghe");
    EXPECT_EQ(fileBesideProgram(folder, "new.exe"), "/opt/qinghe/new.exe");
    EXPECT_EQ(fileBesideProgram(folder, "../x"), "/opt/qinghe/x");
    EXPECT_EQ(fileBesideProgram(folder, "/tmp/y"), "/opt/qinghe/y");
    EXPECT_EQ(fileBesideProgram(folder, "a/b"), "/opt/qinghe/b");
    EXPECT_EQ(fileBesideProgram(folder, "..\\..\\z"), "/opt/qinghe/z");
    EXPECT_EQ(fileBesideProgram(folder, ".."), "");
    EXPECT_EQ(fileBesideProgram(folder, "."), "");
    EXPECT_EQ(fileBesideProgram(folder, "dir/"), "");
    EXPECT_EQ(fileBesideProgram(folder, ""), "");
    EXPECT_EQ(fileBesideProgram({}, "new.exe"), "");
}

TEST(UpdaterNames, ARefusedNameDeletesAndStartsNothing)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir(root.path()).mkdir("program"));
    const QString folder = root.filePath("program");
    // The folder itself, under the names that would reach it or its parent.
    deleteBesideProgram(folder, "..");
    deleteBesideProgram(folder, ".");
    deleteBesideProgram(folder, "");
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_FALSE(startBesideProgram(folder, ".."));
    EXPECT_FALSE(startBesideProgram(folder, ""));
    // A name that is no file there starts nothing either.
    EXPECT_FALSE(startBesideProgram(folder, "missing.sh"));
}

// "%.13g" of the kilobytes rounded to hundredths: no trailing zeros.
TEST(UpdaterProgress, FiguresAsThePanelsShowThem)
{
    EXPECT_EQ(kilobytesText(0), "0");
    EXPECT_EQ(kilobytesText(1024), "1");
    EXPECT_EQ(kilobytesText(1536), "1.5");
    EXPECT_EQ(kilobytesText(300000), "292.97");
    EXPECT_EQ(kilobytesText(5), "0");
    EXPECT_EQ(downloadPercent(500, 0), 0);
    EXPECT_EQ(downloadPercent(199, 200), 99);
    EXPECT_EQ(downloadPercent(200, 200), 100);
    EXPECT_EQ(downloadPercent(300, 200), 100);
}
