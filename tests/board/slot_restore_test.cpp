#include "board/sound_board.h"

#include "base/private_profile.h"
#include "media/player/media_player.h"
#include "text/gbk.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <string>
#include <vector>
#include <sys/inotify.h>
#include <unistd.h>

namespace qinghe {
namespace {

// Slots the main window restores at its start.
constexpr int kSlotCount = 18;

Text gbk(const char* utf8) { return fromQString(QString::fromUtf8(utf8)); }

// Counts how often a file is opened, as the kernel sees it.
class OpenCounter {
public:
    explicit OpenCounter(const QString& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        // Open and close events alternate, so no two opens merge into one event.
        if (fd_ >= 0)
            watch_ = ::inotify_add_watch(fd_, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCounter()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    bool watching() const { return watch_ >= 0; }

    // Opens since the last call.
    int opens()
    {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got <= 0)
                return count;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                count += (event->mask & IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int fd_;
    int watch_ = -1;
};

class SlotRestore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    void put(const std::string& content) const
    {
        QFile file(ini_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content.data(), static_cast<qint64>(content.size()));
    }

    void restore()
    {
        BoardSurface surface;
        surface.volumePosition = [] { return 50; };
        surface.setSlotCaption = [this](int slot, const Text& caption) { captions_[slot] = caption; };
        SoundBoard board(tables_, ini_, surface);
        board.restoreSlots(kSlotCount);
    }

    Text key(int slot, const char* suffix) const { return gbk("按钮") + std::to_string(slot) + suffix; }

    QTemporaryDir folder_;
    QString ini_ = folder_.filePath("my.ini");
    MediaPlayer player_;
    CustomSoundTables tables_;
    std::map<int, Text> captions_;
};

TEST_F(SlotRestore, ReadsMyIniOnceForEverySlot)
{
    const Text section = gbk("自定义音乐");
    std::string content = "[" + section + "]\r\n";
    for (int slot = 1; slot <= kSlotCount; ++slot)
        content += key(slot, "path") + "=C:\\s" + std::to_string(slot) + ".mp3\r\n" + key(slot, "name") + "=n\r\n";
    put(content);
    OpenCounter counter(ini_);
    ASSERT_TRUE(counter.watching());
    restore();
    EXPECT_EQ(counter.opens(), 1);
    EXPECT_EQ(tables_.paths[kSlotCount], "C:\\s18.mp3");
    EXPECT_EQ(captions_.size(), std::size_t(kSlotCount));
}

// Every slot ends up as a read of its own key would leave it, on a file that
// a person edited badly: the table and the captions are what they were when
// the file was read key by key.
TEST_F(SlotRestore, SlotsHoldWhatEachKeyReadsOnItsOwn)
{
    const Text section = gbk("自定义音乐");
    const std::string longPath(kProfileBufferSize + 5, 'p');
    put("; hand edited\n[other]\n" + key(1, "path") + "=elsewhere\n"
        "[" + section + "]\n" + key(1, "PATH") + " = \"C:\\one.mp3\" \n" + key(1, "path") + "=second wins not\n"
        + key(2, "path") + "=" + longPath + "\n" + key(2, "name") + "=\"\n"
        + key(3, "name") + "=name without a path\n"
        + key(4, "path") + "=\xD6\xD0.mp3\n" + key(4, "name") + "=\n"
        + key(19, "path") + "=beyond the last slot\n"
        "[" + section + "]\n" + key(5, "path") + "=in the second copy of the section\n"
        + "[\x81]\n" + key(6, "path") + "=x");
    restore();
    for (int slot = 1; slot <= kSlotCount; ++slot) {
        EXPECT_EQ(tables_.paths[slot], readProfileString(ini_, section, key(slot, "path"))) << slot;
        EXPECT_EQ(tables_.names[slot], readProfileString(ini_, section, key(slot, "name"))) << slot;
        EXPECT_EQ(captions_.count(slot), tables_.paths[slot].empty() ? 0u : 1u) << slot;
    }
    EXPECT_EQ(tables_.paths[1], "C:\\one.mp3");
    EXPECT_EQ(tables_.paths[2], longPath.substr(0, kProfileBufferSize - 1));
    EXPECT_EQ(tables_.paths[5], "");
    EXPECT_EQ(tables_.paths[19], "");
    // A slot without a name shows its file's name.
    EXPECT_EQ(captions_[4], "\xD6\xD0");
}

// A slot the host binds where my.ini cannot be written still plays this
// time, and the host hears that the next start will not know it.
TEST_F(SlotRestore, SlotThatCannotBeKeptIsToldAndStillBound)
{
    // A file that plays: one that would not is never bound.
    const std::string opening = QFile::encodeName(folder_.filePath("opening.mp3")).toStdString();
    ASSERT_TRUE(QFile::copy(QStringLiteral(QINGHE_SOURCE_DIR "/data/1.mp3"), folder_.filePath("opening.mp3")));
    for (const bool writable : {true, false}) {
        const QString ini = writable ? ini_ : folder_.filePath("gone/my.ini");
        std::vector<int> notSaved;
        BoardSurface surface;
        surface.volumePosition = [] { return 50; };
        surface.setSlotCaption = [this](int slot, const Text& caption) { captions_[slot] = caption; };
        surface.askSoundFile = [&opening](const Text&) { return Text(opening); };
        surface.askSlotName = [](const Text&) { return std::optional<Text>("Opening"); };
        surface.slotNotSaved = [&notSaved](int slot) { notSaved.push_back(slot); };
        SoundBoard board(tables_, ini, surface);
        board.customSlotClicked(3);

        EXPECT_EQ(tables_.paths[3], opening);
        EXPECT_EQ(captions_[3], "Opening");
        EXPECT_EQ(notSaved, writable ? std::vector<int>{} : std::vector<int>{3});
        EXPECT_EQ(readProfileString(ini, gbk("自定义音乐"), key(3, "path")), writable ? opening : "");
        tables_ = CustomSoundTables{};
    }
}

}  // namespace
}  // namespace qinghe
