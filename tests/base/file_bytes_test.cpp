#include "base/file_bytes.h"

#include "odd_files.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace qinghe {
namespace {

class FileBytes : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    QString put(const char* name, std::string_view content) const
    {
        const QString path = folder_.filePath(QString::fromLatin1(name));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(content.data(), static_cast<qint64>(content.size()));
        return path;
    }

    QTemporaryDir folder_;
};

// A pipe or a device chosen in the open dialog must not hang the editor nor
// fill the memory: only regular files are read.
TEST_F(FileBytes, PipeIsNotWaitedFor)
{
    const QString path = folder_.filePath("pipe");
    const test::FeedingFifo pipe(path, "from the pipe");
    ASSERT_TRUE(pipe.made());
    EXPECT_FALSE(readFileBytes(path).has_value());
}

TEST_F(FileBytes, DevicesAreNotRead)
{
    const QString zero = folder_.filePath("zero-device");
    if (const std::string why = test::makeCharacterDevice(zero, test::kZeroDeviceMinor); !why.empty())
        GTEST_SKIP() << why;
    EXPECT_TRUE(test::inChildWithBoundedMemory([&] { return !readFileBytes(zero).has_value(); }));
    const QString null = folder_.filePath("null-device");
    ASSERT_EQ(test::makeCharacterDevice(null, test::kNullDeviceMinor), "");
    EXPECT_FALSE(readFileBytes(null).has_value());
}

TEST_F(FileBytes, FileOverTheLimitIsUnreadable)
{
    EXPECT_EQ(readFileBytes(put("ten", "0123456789"), 10), "0123456789");
    EXPECT_FALSE(readFileBytes(put("eleven", "0123456789a"), 10).has_value());
    // A sparse file far beyond a document takes no disk, only its length.
    const QString sparse = put("sparse", "");
    ASSERT_EQ(::truncate(test::nativePath(sparse).constData(), static_cast<off_t>(kFileByteLimit) + 1), 0);
    EXPECT_TRUE(test::inChildWithBoundedMemory([&] { return !readFileBytes(sparse).has_value(); }));
}

}  // namespace
}  // namespace qinghe
