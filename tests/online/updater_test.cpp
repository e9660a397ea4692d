// The updater's names from the update page and its progress figures.

#include "online/update_rules.h"

#include "text/gbk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qinghe;

namespace {

std::string gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

}  // namespace

// The download is named by the last part of the address; without one the
// server names the file.
TEST(UpdaterNames, DownloadNameIsTheLastPartOfTheAddress)
{
    EXPECT_EQ(downloadFileName("http://h/soft/new.exe"), "new.exe");
    EXPECT_EQ(downloadFileName("http://h/soft/new.exe?from=site"), "new.exe");
    EXPECT_EQ(downloadFileName("new.exe"), "new.exe");
    EXPECT_EQ(downloadFileName("http://h/soft/"), "");
    EXPECT_EQ(downloadFileName("http://h/" + gbk("新版本.exe")), gbk("新版本.exe"));
}

// A name from the page is one plain file name in the program's folder, or
// it is refused: a separator in any form, after a GBK lead byte or not.
TEST(UpdaterNames, NamesFromThePageAreOnePlainNameOrRefused)
{
    const QString folder = QStringLiteral("/opt/qinghe");
    EXPECT_EQ(fileBesideProgram(folder, "new.exe"), "/opt/qinghe/new.exe");
    EXPECT_EQ(fileBesideProgram(folder, gbk("新版本.exe")), QStringLiteral("/opt/qinghe/新版本.exe"));
    // Qt would take ":x" for a path of its own, outside the folder.
    EXPECT_EQ(fileBesideProgram(folder, ":x.sh"), "/opt/qinghe/:x.sh");
    for (const std::string& name : std::vector<std::string>{"../x", "/tmp/y", "a/b", "..\\..\\z", "..", ".", "dir/", "", "\x80\\evil.bin",
                                   "\x95\\a.exe", std::string("a\0b", 3)})
        EXPECT_EQ(fileBesideProgram(folder, name), "") << name;
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
