#include "editor/document_file.h"
#include "editor/printing.h"
#include "editor/time_date.h"

#include "base/file_bytes.h"
#include "text/gbk.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qinghe;

namespace {

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

QDateTime at(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, 7), QTime(hour, minute, second));
}

Text fileBytes(const QString& path)
{
    return readFileBytes(path).value_or("<unreadable>");
}

}  // namespace

TEST(TimeDate, TheTimeEndsWithItsLastPartThatIsNotZero)
{
    EXPECT_EQ(timeDateText(at(9, 5, 7)), gbk("2024年3月7日9时5分7秒"));
    EXPECT_EQ(timeDateText(at(9, 5, 0)), gbk("2024年3月7日9时5分"));
    EXPECT_EQ(timeDateText(at(23, 0, 0)), gbk("2024年3月7日23时"));
    EXPECT_EQ(timeDateText(at(0, 0, 0)), gbk("2024年3月7日"));
    EXPECT_EQ(timeDateText(at(0, 0, 7)), gbk("2024年3月7日0时0分7秒"));
    EXPECT_EQ(timeDateText(at(0, 5, 0)), gbk("2024年3月7日0时5分"));
}

TEST(PrintLines, SplitAtCrLfAndCrLfPairs)
{
    EXPECT_EQ(printLines("a\r\nb\rc\nd"), (std::vector<Text>{"a", "b", "c", "d"}));
    EXPECT_EQ(printLines(""), (std::vector<Text>{""}));
    EXPECT_EQ(printLines("a\n"), (std::vector<Text>{"a", ""}));
    EXPECT_EQ(printLines("\r\r\n\n"), (std::vector<Text>{"", "", "", ""}));
    EXPECT_EQ(printLines("\n\r"), (std::vector<Text>{"", "", ""}));
}

TEST(DocumentFile, BytesGoOutAndComeBackExactlyUpToTheFirstZero)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Text every;
    for (int b = 1; b < 256; ++b)
        every += static_cast<char>(b);
    every += "\r\n\n\r";
    const QString path = dir.filePath("every.txt");
    ASSERT_TRUE(writeDocumentFile(path, every));
    EXPECT_EQ(fileBytes(path), every);
    EXPECT_EQ(readDocumentFile(path), every);

    ASSERT_TRUE(writeDocumentFile(path, Text("abc\0def", 7)));
    EXPECT_EQ(fileBytes(path).size(), 7u);
    EXPECT_EQ(readDocumentFile(path), Text("abc"));

    ASSERT_TRUE(writeDocumentFile(path, ""));
    EXPECT_EQ(fileBytes(path), "");
}

TEST(DocumentFile, FailuresComeBackAsValues)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_FALSE(readDocumentFile(dir.filePath("missing.txt")).has_value());
    EXPECT_FALSE(readDocumentFile(dir.path()).has_value());
    const QString plainFile = dir.filePath("plain.txt");
    ASSERT_TRUE(writeDocumentFile(plainFile, "old"));
    EXPECT_FALSE(writeDocumentFile(plainFile + "/inside.txt", "new"));
    EXPECT_FALSE(writeDocumentFile(dir.path(), "new"));
    EXPECT_EQ(fileBytes(plainFile), "old");
}
