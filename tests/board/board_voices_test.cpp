// The board heard on the disk driver's output: sounds that overlap, stops
// and cuts that fade without a click, a sound's own volume, and loudness
// gains that hold only for their own file and never reach full scale.

#include "board/sound_board.h"

#include "base/private_profile.h"
#include "media/engine/sound_engine.h"
#include "media/player/media_player.h"
#include "media_test_support.h"
#include "text/gbk.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

namespace qinghe::test {
namespace {

constexpr int kStretch = 512;
constexpr int kOneBlock = 128;
// The longest a cut may take to fade out: 10 ms.
constexpr int kLongestFade = kRate / 100;
constexpr int kFullScale = 32767;
// Longer than any measurement takes on a busy machine; only a hang reaches it.
constexpr int kPatienceMs = 30000;

Text gbk(const char* utf8)
{
    return fromQString(QString::fromUtf8(utf8));
}

int channelPeak(const Samples& out, std::int64_t from, std::int64_t to, int channel)
{
    int peak = 0;
    for (std::int64_t i = from; i < to && i < frameCount(out); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(out[2 * i + channel])));
    return peak;
}

std::int64_t framesAtFullScale(const Samples& out, std::int64_t from, std::int64_t to)
{
    std::int64_t count = 0;
    for (std::int64_t i = 2 * from; i < 2 * to && i < static_cast<std::int64_t>(out.size()); ++i)
        count += std::abs(static_cast<int>(out[i])) >= kFullScale;
    return count;
}

// Runs the window thread's queue until done() or the patience runs out.
bool waitUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > kPatienceMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class BoardVoices : public DiskOutputTest {
protected:
    void SetUp() override
    {
        DiskOutputTest::SetUp();
        ini_ = pathOf("my.ini");
    }

    void TearDown() override
    {
        board_.reset();
        DiskOutputTest::TearDown();
        SoundEngine::instance().setMostPlaying(1);
    }

    // Slots from my.ini as the program starts with it.
    void startBoard(const std::string& iniText)
    {
        QFile file(ini_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(iniText.data(), static_cast<qint64>(iniText.size()));
        file.close();
        BoardSurface surface;
        surface.volumePosition = [] { return 100; };
        surface.setSlotCaption = [](int, const Text&) {};
        surface.askSoundFile = [this](const Text&) { return chosenFile_; };
        surface.askSlotName = [](const Text&) { return std::optional<Text>("n"); };
        board_ = std::make_unique<SoundBoard>(tables_, ini_, surface);
        board_->restoreSlots(kCustomSlotCount);
    }

    std::string slotLine(int slot, const QString& name) const
    {
        return gbk("按钮") + std::to_string(slot) + "path=" + fromQString(pathOf(name)) + "\r\n";
    }

    std::int64_t now() const { return static_cast<std::int64_t>(mediaMixedFrames()); }

    static constexpr int kCustomSlotCount = 18;
    QString ini_;
    Text chosenFile_;
    MediaPlayer player_;
    CustomSoundTables tables_;
    std::unique_ptr<SoundBoard> board_;
};

TEST_F(BoardVoices, WithOverlapTwoClicksAreBothHeardAndStopSilencesBoth)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("left.wav"), sineWave(3 * kRate, 441, 12000, true, false)));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("right.wav"), sineWave(3 * kRate, 300, 12000, false, true)));
    ASSERT_NO_FATAL_FAILURE(startBoard(gbk("[自定义音乐]\r\n") + slotLine(1, "left.wav") + slotLine(2, "right.wav")));
    board_->setOverlapping(true);
    board_->customSlotClicked(1);
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const std::int64_t second = now();
    board_->customSlotClicked(2);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t stopped = now();
    board_->stop();
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    // Off again: a click cuts the one before, as the board always has.
    board_->setOverlapping(false);
    board_->customSlotClicked(1);
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const std::int64_t cut = now();
    board_->customSlotClicked(2);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = now();
    const Samples out = recordedOutput();

    EXPECT_GT(channelPeak(out, second + kOneBlock, stopped, 0), 11900) << "the first plays on";
    EXPECT_GT(channelPeak(out, second + kOneBlock, stopped, 1), 11900) << "beside the second";
    EXPECT_TRUE(silentBetween(out, stopped + kLongestFade, stopped + 4 * kStretch)) << "停止播放 stops both";
    EXPECT_EQ(channelPeak(out, cut + kLongestFade, end, 0), 0) << "without overlap the second cuts the first";
    EXPECT_GT(channelPeak(out, cut + kOneBlock, end, 1), 11900);
}

TEST_F(BoardVoices, AStopLeavesNoStepLargerThanTheSoundsOwn)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("tone.wav"), sineWave(3 * kRate, 441, 30000, true, true)));
    ASSERT_NO_FATAL_FAILURE(startBoard(gbk("[自定义音乐]\r\n") + slotLine(1, "tone.wav")));
    board_->customSlotClicked(1);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch + 19));
    const std::int64_t stopped = now();
    board_->stop();
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = now();
    const Samples out = recordedOutput();

    const int ownStep = largestStep(out, stopped - kLongestFade, stopped, 0);
    ASSERT_GT(ownStep, 0);
    EXPECT_LE(largestStep(out, stopped, end, 0), ownStep);
    EXPECT_TRUE(silentBetween(out, stopped + kLongestFade + kOneBlock, end));
}

// −6 dB halves the sound, on a slot and on an effect, at the slider's full position.
TEST_F(BoardVoices, APerSoundVolumeOfMinusSixDecibelsHalvesTheSound)
{
    constexpr int kAmplitude = 20000;
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("square.wav"), squareWave(3 * kRate, kAmplitude)));
    ASSERT_NO_FATAL_FAILURE(startBoard(gbk("[自定义音乐]\r\n") + slotLine(1, "square.wav")));
    ASSERT_TRUE(board_->setSoundVolumeDb(slotSoundKey(1), -6));
    ASSERT_TRUE(board_->setSoundVolumeDb(gbk("方波"), -6));
    board_->customSlotClicked(1);
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const std::int64_t slotHeard = now();
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t effect = now();
    board_->playEffect(fromQString(pathOf("square.wav")), gbk("方波"));
    ASSERT_NO_FATAL_FAILURE(waitFrames(2 * kStretch));
    const std::int64_t effectHeard = now();
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = now();
    const Samples out = recordedOutput();

    // The effect may cut in on the block counted just before its click returned.
    for (const auto [from, to] : {std::pair{slotHeard, effect - kOneBlock}, std::pair{effectHeard, end}}) {
        const double ratio = static_cast<double>(peakBetween(out, from, to)) / kAmplitude;
        EXPECT_NEAR(ratio, 0.5, 0.5 * 0.02);
        EXPECT_EQ(framesAt(out, from, to, peakBetween(out, from, to), peakBetween(out, from, to)), to - from)
            << "every frame at the one level";
    }
    EXPECT_EQ(readProfileString(ini_, gbk("音量"), slotSoundKey(1)), "-6") << "kept for the next start";
}

// A slot's file replaced by a louder one under the same name loses the
// gain measured on the old one at once and is measured again.
TEST_F(BoardVoices, ASlotFileReplacedByALouderOneIsMeasuredAgain)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("slot.wav"), squareWave(2 * kRate, 800)));
    ASSERT_NO_FATAL_FAILURE(startBoard(""));
    chosenFile_ = fromQString(pathOf("slot.wav"));
    board_->customSlotClicked(1);  // empty: the slot's dialog binds the file
    ASSERT_TRUE(waitUntil([&] { return tables_.loudnessGains[1].has_value(); }));
    const double quietGain = *tables_.loudnessGains[1];
    ASSERT_GT(quietGain, 10) << "a quiet file is raised a long way";
    const Text loudness = gbk("响度");
    const Text stampedBytes = readProfileString(ini_, loudness, gbk("按钮1size"));
    EXPECT_EQ(stampedBytes, std::to_string(QFile(pathOf("slot.wav")).size()));
    EXPECT_FALSE(readProfileString(ini_, loudness, gbk("按钮1peak")).empty());

    // The louder file, a little longer so it differs even within the clock's step.
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("slot.wav"), squareWave(2 * kRate + 1, 25000)));
    board_->customSlotClicked(1);  // the first sound opens the output: frames are counted from here
    const std::int64_t clicked = now();
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t heard = now();
    ASSERT_TRUE(waitUntil([&] {
        return tables_.loudnessGains[1] && std::abs(*tables_.loudnessGains[1] - quietGain) > 1;
    }));
    EXPECT_LT(*tables_.loudnessGains[1], 0) << "the louder file is lowered";
    EXPECT_EQ(readProfileString(ini_, loudness, gbk("按钮1")), numberToText(*tables_.loudnessGains[1]));
    EXPECT_EQ(readProfileString(ini_, loudness, gbk("按钮1size")), std::to_string(QFile(pathOf("slot.wav")).size()));
    const Samples out = recordedOutput();
    EXPECT_EQ(peakBetween(out, clicked, heard), 25000) << "played as it is while it is measured";
    EXPECT_EQ(framesAtFullScale(out, clicked, heard), 0);
}

// A gain of 60 dB in my.ini, as an old start or a hand may leave it: it is
// not applied as it stands, with or without the file's stamp beside it.
TEST_F(BoardVoices, AStoredGainOfSixtyDoesNotDriveTheSoundToFullScale)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(2 * kRate, 16000)));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("b.wav"), squareWave(2 * kRate, 16000)));
    const QFile stamped(pathOf("b.wav"));
    const std::int64_t bytes = stamped.size();
    const std::int64_t modified = QFileInfo(stamped).lastModified().toMSecsSinceEpoch();
    // Slot 1 holds only the gain; slot 2 the right file's stamp and a peak of -6 dBFS.
    ASSERT_NO_FATAL_FAILURE(startBoard(gbk("[自定义音乐]\r\n") + slotLine(1, "a.wav") + slotLine(2, "b.wav")
                                       + gbk("[响度]\r\n按钮1=60\r\n按钮2=60\r\n按钮2size=") + std::to_string(bytes)
                                       + "\r\n" + gbk("按钮2mtime=") + std::to_string(modified) + "\r\n"
                                       + gbk("按钮2peak=0.48828125\r\n")));
    EXPECT_FALSE(tables_.loudnessGains[1]) << "a gain without its file's stamp is measured again";
    ASSERT_TRUE(tables_.loudnessGains[2]);
    EXPECT_LE(*tables_.loudnessGains[2], 6.23) << "held by the stored peak";
    board_->customSlotClicked(1);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    board_->stop();
    ASSERT_NO_FATAL_FAILURE(waitFrames(kStretch));
    const std::int64_t second = now();
    board_->customSlotClicked(2);
    ASSERT_NO_FATAL_FAILURE(waitFrames(4 * kStretch));
    const std::int64_t end = now();
    ASSERT_TRUE(waitUntil([&] { return tables_.loudnessGains[1].has_value(); }));
    EXPECT_LT(*tables_.loudnessGains[1], 6.23) << "measured anew: its peak leaves 6.2 dB";
    const Samples out = recordedOutput();

    EXPECT_EQ(framesAtFullScale(out, 0, end), 0);
    EXPECT_EQ(peakBetween(out, 0, second), 16000) << "played as it is until measured";
    EXPECT_GT(peakBetween(out, second, end), 31000) << "raised as far as its peak allows";
}

}  // namespace
}  // namespace qinghe::test

int main(int argc, char** argv)
{
    // The loudness worker hands its answers to the window thread.
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
