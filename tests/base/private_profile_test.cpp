#include "base/private_profile.h"

#include "odd_files.h"
#include "support/ordinary_user.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qinghe {
namespace {

// The account that owns nothing, for checks an administrator would pass.

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

class PrivateProfile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder_.isValid());
        ini_ = folder_.filePath("my.ini");
    }

    std::string bytes(const QString& path) const
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return "<missing>";
        return file.readAll().toStdString();
    }
    std::string bytes() const { return bytes(ini_); }

    void put(const std::string& content) const
    {
        QFile file(ini_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content.data(), static_cast<qint64>(content.size()));
    }

    Text read(std::string_view section, std::string_view key, std::string_view fallback = "<default>") const
    {
        return readProfileString(ini_, section, key, fallback);
    }

    bool write(std::string_view section, std::string_view key, std::string_view value) const
    {
        return writeProfileString(ini_, section, key, value);
    }

    static bool asOrdinaryUser(const std::function<bool()>& check) { return test_support::asOrdinaryUser(check); }

    QTemporaryDir folder_;
    QString ini_;
};

TEST_F(PrivateProfile, CreatesTheFileWithChineseSectionKeysAndValuesInGbk)
{
    const Text section = gbk("自定义音乐");
    const Text pathKey = gbk("按钮1path");
    const Text nameKey = gbk("按钮1name");
    const Text path = gbk("D:\\音乐\\掌声 欢呼.mp3");
    const Text name = gbk("开场·掌声");
    ASSERT_TRUE(write(section, pathKey, path));
    ASSERT_TRUE(write(section, nameKey, name));
    EXPECT_EQ(bytes(), "[" + section + "]\r\n" + pathKey + "=" + path + "\r\n" + nameKey + "=" + name + "\r\n");
    EXPECT_EQ(read(section, pathKey), path);
    EXPECT_EQ(read(section, nameKey), name);
}

TEST_F(PrivateProfile, EmptyValueIsPresentWhileMissingThingsGiveTheDefault)
{
    EXPECT_EQ(read("s", "k"), "<default>");  // no file
    EXPECT_EQ(readProfileString(ini_, "s", "k"), "");
    ASSERT_TRUE(write("s", "name", ""));
    EXPECT_EQ(bytes(), "[s]\r\nname=\r\n");
    EXPECT_EQ(read("s", "name"), "");
    EXPECT_EQ(read("s", "other"), "<default>");
    EXPECT_EQ(read("t", "name"), "<default>");
}

TEST_F(PrivateProfile, NamesMatchWithoutRegardToAsciiLetterCase)
{
    ASSERT_NO_FATAL_FAILURE(put("[Sounds]\r\nButton1Path=a.mp3\r\n"));
    EXPECT_EQ(read("sOUNDS", "button1path"), "a.mp3");
    ASSERT_TRUE(write("SOUNDS", "BUTTON1PATH", "b.mp3"));
    EXPECT_EQ(bytes(), "[Sounds]\r\nBUTTON1PATH=b.mp3\r\n");
    // The second byte of a double-byte character is no letter: 丄 (81 41) is not 乤 (81 61).
    ASSERT_NO_FATAL_FAILURE(put("[\x81\x41]\r\nk=1\r\n"));
    EXPECT_EQ(read("\x81\x41", "K"), "1");
    EXPECT_EQ(read("\x81\x61", "k"), "<default>");
}

TEST_F(PrivateProfile, SpacesAndTabsAroundNamesAndValuesDoNotCount)
{
    const Text section = gbk("自定义音乐");
    ASSERT_NO_FATAL_FAILURE(put(" \t[ " + section + "\t]  \r\n  " + gbk("按钮1path") + " =  C:\\x.mp3 \t\r\n"));
    EXPECT_EQ(read(section, gbk("按钮1path")), "C:\\x.mp3");
    EXPECT_EQ(read(" " + section + " ", gbk("按钮1path\t")), "C:\\x.mp3");
}

TEST_F(PrivateProfile, DoubleQuotesAroundAWholeValueAreDropped)
{
    ASSERT_NO_FATAL_FAILURE(put("[s]\na=\"C:\\My Music\\x.mp3\"\nb=\"open\nc=\"\nd=  \"\"  \ne='x'\nf=\"a\"b\"\n"));
    EXPECT_EQ(read("s", "a"), "C:\\My Music\\x.mp3");
    EXPECT_EQ(read("s", "b"), "\"open");
    EXPECT_EQ(read("s", "c"), "\"");
    EXPECT_EQ(read("s", "d"), "");
    EXPECT_EQ(read("s", "e"), "'x'");
    EXPECT_EQ(read("s", "f"), "a\"b");
}

TEST_F(PrivateProfile, OnlyKeyLinesHoldValues)
{
    // ']' 0x5D as the second byte of 乚 (81 5D) does not close the header.
    ASSERT_NO_FATAL_FAILURE(put("k=outside\n[s]\nnovalue\n;k=comment\n  ; z=1\n[\x81\x5D]\nk=x\n[broken\nk=y\n"));
    EXPECT_EQ(read("s", "novalue"), "<default>");
    EXPECT_EQ(read("s", "k"), "<default>");
    EXPECT_EQ(read("s", ";k"), "<default>");
    EXPECT_EQ(read("s", "z"), "<default>");
    EXPECT_EQ(read("\x81\x5D", "k"), "x");
    EXPECT_EQ(read("", "k"), "<default>");
}

TEST_F(PrivateProfile, FirstOfTwoEqualKeysOrSectionsWins)
{
    ASSERT_NO_FATAL_FAILURE(put("[s]\r\nk=1\r\nK=2\r\n[t]\r\n[S]\r\nk=3\r\nonly=4\r\n"));
    EXPECT_EQ(read("s", "k"), "1");
    EXPECT_EQ(read("s", "only"), "<default>");
    ASSERT_TRUE(write("s", "k", "9"));
    ASSERT_TRUE(write("s", "only", "5"));
    EXPECT_EQ(bytes(), "[s]\r\nk=9\r\nK=2\r\nonly=5\r\n[t]\r\n[S]\r\nk=3\r\nonly=4\r\n");
    EXPECT_EQ(read("s", "k"), "9");
    EXPECT_EQ(read("s", "only"), "5");
}

TEST_F(PrivateProfile, HandEditedFileKeepsEveryOtherByte)
{
    const Text section = gbk("自定义音乐");
    // LF endings, comments, blank and odd lines, bytes that are no GBK, no final line ending.
    const std::string head = "; my sounds\n\n[other]\nx = 1\n\xFF\x80 odd\n\n[" + section + "]\n";
    const std::string tail = "\n; next\n[last]\nz=\"q\"";
    ASSERT_NO_FATAL_FAILURE(put(head + "a=1\n  ; note\nb=2\r\n" + tail));

    ASSERT_TRUE(write(section, "a", "new"));
    EXPECT_EQ(bytes(), head + "a=new\r\n  ; note\nb=2\r\n" + tail);

    ASSERT_TRUE(write(section, "c", "3"));
    EXPECT_EQ(bytes(), head + "a=new\r\n  ; note\nb=2\r\nc=3\r\n" + tail);

    ASSERT_TRUE(write("last", "w", "4"));
    EXPECT_EQ(bytes(), head + "a=new\r\n  ; note\nb=2\r\nc=3\r\n" + tail + "\r\nw=4\r\n");

    ASSERT_TRUE(write("new", "k", "5"));
    EXPECT_EQ(bytes(), head + "a=new\r\n  ; note\nb=2\r\nc=3\r\n" + tail + "\r\nw=4\r\n[new]\r\nk=5\r\n");
    EXPECT_EQ(read("other", "x"), "1");
    EXPECT_EQ(read("last", "z"), "q");
}

TEST_F(PrivateProfile, RemovedKeyTakesOnlyItsOwnLines)
{
    const Text section = gbk("音量");
    const std::string head = "; mine\n[other]\nk=1\n[" + section + "]\n";
    ASSERT_NO_FATAL_FAILURE(put(head + "K=-6\n  ; note\nb=2\r\nk=7\n[last]\nk=3"));
    ASSERT_TRUE(removeProfileKey(ini_, section, "k"));
    // Both lines of the key go, with no regard to the case of its letters;
    // the same key elsewhere and every other byte stay.
    EXPECT_EQ(bytes(), head + "  ; note\nb=2\r\n[last]\nk=3");
    EXPECT_EQ(read(section, "k"), "<default>");
    EXPECT_EQ(read("other", "k"), "1");

    // Nothing to take out is no failure, and a missing file stays missing.
    EXPECT_TRUE(removeProfileKey(ini_, section, "k"));
    EXPECT_TRUE(removeProfileKey(folder_.filePath("none.ini"), section, "k"));
    EXPECT_FALSE(QFileInfo::exists(folder_.filePath("none.ini")));

    ASSERT_EQ(::chmod(QFile::encodeName(folder_.path()).constData(), 0777), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(ini_).constData(), 0444), 0);
    EXPECT_TRUE(asOrdinaryUser([&] { return !removeProfileKey(ini_, section, "b"); }));
    EXPECT_EQ(read(section, "b"), "2");
}

TEST_F(PrivateProfile, NewKeyOfAnEmptySectionFollowsItsHeader)
{
    ASSERT_NO_FATAL_FAILURE(put("[a]\n\n[b]\nk=1\n"));
    ASSERT_TRUE(write("a", "k", "2"));
    EXPECT_EQ(bytes(), "[a]\nk=2\r\n\n[b]\nk=1\n");
    ASSERT_NO_FATAL_FAILURE(put("[a]"));
    ASSERT_TRUE(write("a", "k", "3"));
    EXPECT_EQ(bytes(), "[a]\r\nk=3\r\n");
}

TEST_F(PrivateProfile, ValuesAreCutToTheReadBuffer)
{
    const std::string fits(kProfileBufferSize - 1, 'x');
    ASSERT_TRUE(write("s", "fits", fits));
    ASSERT_TRUE(write("s", "long", fits + "yz"));
    // 中 (D6 D0) would straddle the last byte of the buffer.
    ASSERT_TRUE(write("s", "split", std::string(kProfileBufferSize - 2, 'x') + "\xD6\xD0"));
    EXPECT_EQ(read("s", "fits"), fits);
    EXPECT_EQ(read("s", "long"), fits);
    EXPECT_EQ(read("s", "split"), std::string(kProfileBufferSize - 2, 'x'));
    EXPECT_EQ(readProfileString(ini_, "s", "long", {}, 4), "xxx");
    EXPECT_EQ(readProfileString(ini_, "s", "none", "default", 4), "def");
    EXPECT_EQ(readProfileString(ini_, "s", "long", {}, 0), "");
}

TEST_F(PrivateProfile, RefusesEntriesThatWouldNotReadBackAsWritten)
{
    EXPECT_FALSE(write("s", "k", "line\r\nk2=injected"));
    EXPECT_FALSE(write("s", "a=b", "v"));
    EXPECT_FALSE(write("s", ";k", "v"));
    EXPECT_FALSE(write("s]x", "k", "v"));
    EXPECT_FALSE(write("s\x81", "k", "v"));  // the lead byte would swallow ']'
    EXPECT_EQ(bytes(), "<missing>");
    EXPECT_TRUE(write("\x81\x5D", "k", "v=w"));
    EXPECT_EQ(read("\x81\x5D", "k"), "v=w");
}

TEST_F(PrivateProfile, ReadOnlyFolderOrFileFailsAndLeavesTheFileAsItWas)
{
    ASSERT_NO_FATAL_FAILURE(put("[s]\r\nk=old\r\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(ini_).constData(), 0666), 0);
    const QByteArray folder = QFile::encodeName(folder_.path());
    ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    EXPECT_TRUE(asOrdinaryUser([&] { return !write("s", "k", "new") && !write("s", "n", "new"); }));
    ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
    EXPECT_EQ(bytes(), "[s]\r\nk=old\r\n");

    ASSERT_EQ(::chmod(QFile::encodeName(ini_).constData(), 0444), 0);
    EXPECT_TRUE(asOrdinaryUser([&] { return !write("s", "k", "new"); }));
    EXPECT_EQ(bytes(), "[s]\r\nk=old\r\n");
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList{"my.ini"});
}

TEST_F(PrivateProfile, ReplacedFileKeepsItsPermissionsAndLinks)
{
    const QString real = folder_.filePath("real.ini");
    ASSERT_TRUE(writeProfileString(real, "s", "k", "1"));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    ASSERT_EQ(::symlink("real.ini", QFile::encodeName(ini_).constData()), 0);
    ASSERT_TRUE(write("s", "k", "2"));
    struct stat link {};
    ASSERT_EQ(::lstat(QFile::encodeName(ini_).constData(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    struct stat file {};
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &file), 0);
    EXPECT_EQ(file.st_mode & 07777, 0640u);
    EXPECT_EQ(bytes(real), "[s]\r\nk=2\r\n");
}

TEST_F(PrivateProfile, WriterThatDiedMidwayLeavesTheFileWholeAndBlocksNobody)
{
    ASSERT_NO_FATAL_FAILURE(put("[s]\r\nk=old\r\n"));
    const QByteArray folder = QFile::encodeName(folder_.path());
    const QByteArray stray = QFile::encodeName(folder_.filePath("my.ini.new-999999"));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    // A writer that holds the folder lock and has half written its copy when it is killed.
    const pid_t writer = ::fork();
    if (writer == 0) {
        const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
        ::flock(dir, LOCK_EX);
        const int copy = ::open(stray.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        [[maybe_unused]] const ssize_t half = ::write(copy, "[s]\r\nk=ha", 9);
        [[maybe_unused]] const ssize_t told = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(read("s", "k"), "old");  // readers take no lock
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    EXPECT_EQ(bytes(), "[s]\r\nk=old\r\n");
    ASSERT_TRUE(write("s", "k", "new"));
    EXPECT_EQ(bytes(), "[s]\r\nk=new\r\n");
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList{"my.ini"});
}

TEST_F(PrivateProfile, ProcessesWritingAtTheSameTimeKeepEachOthersKeys)
{
    constexpr int kKeysEach = 40;
    ASSERT_TRUE(write("s", "sentinel", "here"));
    auto writeKeys = [&](const std::string& prefix) {
        const pid_t child = ::fork();
        if (child == 0) {
            bool ok = true;
            for (int i = 0; i < kKeysEach; ++i)
                ok = write("s", prefix + std::to_string(i), std::to_string(i)) && ok;
            ::_exit(ok ? 0 : 1);
        }
        return child;
    };
    const pid_t first = writeKeys("a");
    const pid_t second = writeKeys("b");
    // Readers meanwhile always find a whole file.
    int torn = 0;
    int living = 2;
    while (living > 0) {
        torn += read("s", "sentinel") != "here";
        for (const pid_t child : {first, second}) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                --living;
            }
        }
    }
    EXPECT_EQ(torn, 0);
    for (int i = 0; i < kKeysEach; ++i) {
        EXPECT_EQ(read("s", std::string("a").append(std::to_string(i))), std::to_string(i));
        EXPECT_EQ(read("s", std::string("b").append(std::to_string(i))), std::to_string(i));
    }
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files), QStringList{"my.ini"});
}

// my.ini as something other than a file: the program reads it as missing and
// writes nothing, so it neither hangs at start nor replaces a device.
TEST_F(PrivateProfile, DeviceBehindTheLinkIsNeitherReadNorReplaced)
{
    const QString device = folder_.filePath("null-device");
    if (const std::string why = test::makeCharacterDevice(device, test::kNullDeviceMinor); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_EQ(::symlink("null-device", QFile::encodeName(ini_).constData()), 0);
    EXPECT_FALSE(write("s", "k", "v"));
    EXPECT_TRUE(test::isCharacterDevice(device, test::kNullDeviceMinor));
    EXPECT_EQ(read("s", "k"), "<default>");
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::System | QDir::Files), (QStringList{"my.ini", "null-device"}));
}

TEST_F(PrivateProfile, EndlessDeviceReadsAsMissingAndIsNotWritten)
{
    const QString device = folder_.filePath("zero-device");
    if (const std::string why = test::makeCharacterDevice(device, test::kZeroDeviceMinor); !why.empty())
        GTEST_SKIP() << why;
    ASSERT_EQ(::symlink("zero-device", QFile::encodeName(ini_).constData()), 0);
    EXPECT_TRUE(test::inChildWithBoundedMemory([&] { return read("s", "k") == "<default>"; }));
    EXPECT_TRUE(test::inChildWithBoundedMemory([&] { return !write("s", "k", "v"); }));
    EXPECT_TRUE(test::isCharacterDevice(device, test::kZeroDeviceMinor));
}

TEST_F(PrivateProfile, PipeIsNeitherWaitedForNorReplaced)
{
    {
        const test::FeedingFifo pipe(ini_, "[s]\r\nk=from the pipe\r\n");
        ASSERT_TRUE(pipe.made());
        EXPECT_EQ(read("s", "k"), "<default>");
    }
    ASSERT_EQ(QFile::remove(ini_), true);
    {
        const test::FeedingFifo pipe(ini_, "[s]\r\nk=from the pipe\r\n");
        ASSERT_TRUE(pipe.made());
        EXPECT_FALSE(write("s", "k", "v"));
        EXPECT_TRUE(test::isFifo(ini_));
    }
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::System | QDir::Files), QStringList{"my.ini"});
}

TEST_F(PrivateProfile, FileLargerThanAnySettingsFileReadsAsMissing)
{
    const std::string head = "[s]\r\nk=v\r\n";
    std::string content = head + std::string(kProfileByteLimit - head.size(), ';');
    ASSERT_NO_FATAL_FAILURE(put(content));
    EXPECT_EQ(read("s", "k"), "v");
    content += ';';
    ASSERT_NO_FATAL_FAILURE(put(content));
    EXPECT_EQ(read("s", "k"), "<default>");
    EXPECT_FALSE(write("s", "k", "w"));
    EXPECT_EQ(bytes(), content);
}

// A name or value that would not read back is refused before the file is
// touched, so a refused write never leaves a copy that later writes pile onto.
TEST_F(PrivateProfile, WritesOnlyWhatReadsBackTheSame)
{
    // The header would be "[ab\xD0]", whose "\xD0]" is one character: no header at all.
    EXPECT_FALSE(write("ab\xD0 ", "k", "v"));
    EXPECT_FALSE(write("ab\xD0\t", "k", "v"));
    EXPECT_EQ(bytes(), "<missing>");
    ASSERT_NO_FATAL_FAILURE(put("[s]\r\n"));
    EXPECT_FALSE(write("ab\xD0 ", "k", "v"));
    EXPECT_EQ(bytes(), "[s]\r\n");

    // Blanks at a value's ends and quotes around it would be dropped by the
    // reader; such a value goes inside quotes of its own and comes back whole.
    for (const std::string_view value : {" v", "v\t", "\"quoted\"", "\"\"", " ", " \" "}) {
        EXPECT_TRUE(write("s", "k", value)) << value;
        EXPECT_EQ(read("s", "k"), value);
    }
    EXPECT_EQ(bytes(), "[s]\r\nk=\" \" \"\r\n");

    // What reads back is written: a lone quote, a lead byte at a value's or a
    // key's end, blanks around names (the reader drops them on both sides).
    for (const std::string_view value : {"\"", "\"open", "v\xD0", "a \"b\" c"}) {
        EXPECT_TRUE(write("s", "k", value)) << value;
        EXPECT_EQ(read("s", "k"), value);
    }
    EXPECT_TRUE(write("s", "k\xD0", "w"));
    EXPECT_EQ(read("s", "k\xD0"), "w");
    EXPECT_TRUE(write(" t ", "\tk ", "x"));
    EXPECT_EQ(read("t", "k"), "x");
}

// For any short section, key and value: a write that reports success reads
// back as written, and a refused one leaves the file byte for byte.
TEST_F(PrivateProfile, EveryReportedWriteReadsBack)
{
    constexpr int kWrites = 400;
    // Long enough for a lead byte at either end, and short enough for clashes.
    constexpr std::size_t kLongestPart = 4;
    // Blanks, the syntax of the file, ASCII letters in both cases, lead bytes
    // and the bytes that may follow them.
    const std::string alphabet = std::string("aA ;[]=\"\t") + "\x81\xD0\x5D\x40\xFE";
    std::mt19937 random(20240307);
    const auto part = [&] {
        std::string text(random() % (kLongestPart + 1), ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        return text;
    };
    int written = 0;
    for (int i = 0; i < kWrites; ++i) {
        const std::string section = part();
        const std::string key = part();
        const std::string value = part();
        const std::string before = bytes();
        if (write(section, key, value)) {
            ++written;
            EXPECT_EQ(read(section, key, "\n"), value) << '[' << section << "] " << key << '=' << value;
        } else {
            EXPECT_EQ(bytes(), before) << '[' << section << "] " << key << '=' << value;
        }
    }
    // The check is not idle: plenty of writes got through.
    EXPECT_GT(written, kWrites / 4);
}

// A file read once answers every key as reading it key by key does: first
// section and first key win, quotes and blanks go, values are cut to the buffer.
TEST_F(PrivateProfile, SnapshotAnswersAsReadingKeyByKey)
{
    constexpr int kFiles = 300;
    constexpr int kLinesEach = 12;
    const std::vector<std::string> names = {"s", "S", " s\t", "k", "K", "\x81\x5D", "\x81\x7D", "ab\xD0", "", "\xD6\xD0"};
    const std::vector<std::string> values = {"v", " \"q\" ", "\"", "\"\"", "a=b", "\xD0", "x\xD6\xD0y",
                                             std::string(kProfileBufferSize, 'x') + "\xD6\xD0"};
    const std::vector<std::string> endings = {"\r\n", "\n", "\r", ""};
    std::mt19937 random(7);
    const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    const auto line = [&] {
        std::string text;
        switch (random() % 6) {
        case 0: text.append("[").append(pick(names)).append("]"); break;
        case 1: text.append(" [").append(pick(names)).append("\x81]x"); break;
        case 2: text.append(";").append(pick(names)).append("=").append(pick(values)); break;
        case 3: text.append("\x81").append(pick(names)); break;
        default: text.append(pick(names)).append("=").append(pick(values)); break;
        }
        return text;
    };
    for (int file = 0; file < kFiles; ++file) {
        std::string content;
        for (int i = 0; i < kLinesEach; ++i)
            content += line() + pick(endings);
        ASSERT_NO_FATAL_FAILURE(put(content));
        const ProfileSnapshot snapshot = readProfileSnapshot(ini_);
        for (const std::string& section : names)
            for (const std::string& key : names)
                for (const int buffer : {kProfileBufferSize, 3}) {
                    ASSERT_EQ(readProfileString(snapshot, section, key, "<default>", buffer),
                              readProfileString(ini_, section, key, "<default>", buffer))
                        << "file " << file << " [" << section << "] " << key << "\n" << content;
                }
    }
}

TEST_F(PrivateProfile, SnapshotOfWhatCannotBeReadIsEmpty)
{
    EXPECT_EQ(readProfileString(readProfileSnapshot(ini_), "s", "k", "<default>"), "<default>");
    ASSERT_NO_FATAL_FAILURE(put("[s]\r\nk=v\r\n" + std::string(kProfileByteLimit, ';')));
    EXPECT_EQ(readProfileString(readProfileSnapshot(ini_), "s", "k", "<default>"), "<default>");
    EXPECT_FALSE(ProfileSnapshot("[s]\r\nk=v\r\n" + std::string(kProfileByteLimit, ';')).find("s", "k"));
    ASSERT_TRUE(QFile::remove(ini_));
    const test::FeedingFifo pipe(ini_, "[s]\r\nk=from the pipe\r\n");
    ASSERT_TRUE(pipe.made());
    EXPECT_EQ(readProfileString(readProfileSnapshot(ini_), "s", "k", "<default>"), "<default>");
}

} // namespace
} // namespace qinghe
