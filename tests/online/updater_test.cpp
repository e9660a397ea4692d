// The updater's names from the update page and its progress figures.

#include "online/updater.h"

#include "text/gbk.h"

#include <gtest/gtest.h>

using namespace qinghe;

namespace {

std::string gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

}  // namespace

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
