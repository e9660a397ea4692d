#include "editor/document_file.h"

#include "base/file_bytes.h"
#include "support/ordinary_user.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qinghe;

namespace {

// The account that owns nothing: it can write the note but not its folder.
using test_support::kNobody;
// A disk small enough to fill in an instant.
constexpr const char* kSmallDiskOptions = "size=256k,mode=0755";
// Old text within one page of the small disk, new text over several pages.
constexpr std::size_t kOldLength = 3000;
constexpr std::size_t kLongerLength = 20000;
constexpr std::size_t kShorterLength = 1000;

std::string textOf(char letter, std::size_t length)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += i % 64 == 63 ? '\n' : letter;
    return text;
}

// Saving a note onto a small disk of its own, in a folder only the
// administrator may write, as the editor's user does when a note lives in a
// shared folder: no side file can be made there, so the note is written where
// it stands.
class DocumentSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a small disk and saving as another user need an administrator";
        char folder[] = "/tmp/qinghe-small-disk-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        folder_ = folder;
        if (::mount("tmpfs", folder, "tmpfs", 0, kSmallDiskOptions) != 0) {
            const int error = errno;
            ::rmdir(folder);
            folder_.clear();
            GTEST_SKIP() << "cannot mount a small disk here: " << std::strerror(error);
        }
        mounted_ = true;
        note_ = QString::fromLocal8Bit(folder) + QStringLiteral("/note.txt");
        put(note_, textOf('o', kOldLength));
        ASSERT_EQ(::chown(QFile::encodeName(note_).constData(), kNobody, kNobody), 0);
    }

    void TearDown() override
    {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
        if (!folder_.empty())
            ::rmdir(folder_.c_str());
    }

    static void put(const QString& path, const std::string& content)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content.data(), static_cast<qint64>(content.size())), static_cast<qint64>(content.size()));
    }

    // Takes every free byte of the small disk.
    void fillDisk() const
    {
        const std::string filler = folder_ + "/filler";
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }

    // The save as the account that cannot write the folder; true when it
    // reported success.
    bool saveAsNobody(const std::string& text) const
    {
        return test_support::asOrdinaryUser([&] { return writeDocumentFile(note_, text); });
    }

    Text noteBytes() const { return readFileBytes(note_).value_or("<unreadable>"); }

    QStringList folderEntries() const
    {
        return QDir(QString::fromLocal8Bit(folder_.c_str())).entryList(QDir::Files | QDir::System);
    }

    std::string folder_;
    bool mounted_ = false;
    QString note_;
};

TEST_F(DocumentSave, NoteInAFolderNobodyMayWriteIsSavedWhereItStands)
{
    const std::string longer = textOf('L', kLongerLength);
    EXPECT_TRUE(saveAsNobody(longer));
    EXPECT_EQ(noteBytes(), longer);
    const std::string shorter = textOf('s', kShorterLength);
    EXPECT_TRUE(saveAsNobody(shorter));
    EXPECT_EQ(noteBytes(), shorter);
    EXPECT_TRUE(saveAsNobody(""));
    EXPECT_EQ(noteBytes(), "");
    EXPECT_EQ(folderEntries(), QStringList{"note.txt"});
}

TEST_F(DocumentSave, FullDiskKeepsTheOldTextWhenTheNewOneDoesNotFit)
{
    fillDisk();
    EXPECT_FALSE(saveAsNobody(textOf('L', kLongerLength)));
    EXPECT_EQ(noteBytes(), textOf('o', kOldLength));
    // A text no longer than the old one takes no new room, so it still fits.
    const std::string shorter = textOf('s', kShorterLength);
    EXPECT_TRUE(saveAsNobody(shorter));
    EXPECT_EQ(noteBytes(), shorter);
    EXPECT_EQ(folderEntries(), (QStringList{"filler", "note.txt"}));
}

TEST_F(DocumentSave, FullDiskInAWritableFolderLeavesNoHalfCopy)
{
    fillDisk();
    // The administrator may write the folder, so the new text goes to a side file first.
    EXPECT_FALSE(writeDocumentFile(note_, textOf('L', kLongerLength)));
    EXPECT_EQ(noteBytes(), textOf('o', kOldLength));
    EXPECT_EQ(folderEntries(), (QStringList{"filler", "note.txt"}));
}

TEST_F(DocumentSave, PipeOrFolderInTheNotesPlaceIsNotWritten)
{
    const QString pipe = QString::fromLocal8Bit(folder_.c_str()) + QStringLiteral("/pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0666), 0);
    EXPECT_FALSE(writeDocumentFile(pipe, "text"));
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(pipe).constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

}  // namespace
