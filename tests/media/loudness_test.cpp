// The loudness meter the custom slots are measured with, and the loudness
// gain the output applies on top of the volumes.

#include "media/player/loudness_meter.h"

#include "media/engine/sound_engine.h"
#include "media_test_support.h"
#include "text/gbk.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>

namespace qinghe::test {
namespace {

// EBU Tech 3341, case 1: a 1 kHz sine at -23 dBFS on both channels of a
// stereo file measures -23.0 LUFS, within 0.1 LU.
constexpr double kReferenceLevelDb = -23;
constexpr double kReferenceFrequency = 1000;
constexpr double kMeterTolerance = 0.1;
constexpr int kReferenceSeconds = 5;
constexpr double kFullScale = 32768;
// The measuring blocks are 400 ms long; a file must hold one.
constexpr int kTooShortFrames = kRate / 4;

double amplitudeOf(double decibels)
{
    return std::pow(10.0, decibels / 20);
}

std::int16_t sineSample(int frame, double level)
{
    return static_cast<std::int16_t>(
        std::lround(level * kFullScale * std::sin(2 * std::numbers::pi * kReferenceFrequency * frame / kRate)));
}

Samples referenceSine(int frames)
{
    Samples s(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] = sineSample(i, amplitudeOf(kReferenceLevelDb));
    return s;
}

// A one-channel 16-bit file of the reference sine.
void writeMonoReferenceWav(const QString& path, int frames)
{
    QByteArray bytes;
    auto put = [&bytes](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    const auto dataBytes = static_cast<std::uint32_t>(frames) * 2;
    bytes.append("RIFF");
    put(36 + dataBytes, 4);
    bytes.append("WAVEfmt ");
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(kRate, 4);
    put(kRate * 2, 4);
    put(2, 2);
    put(16, 2);
    bytes.append("data");
    put(dataBytes, 4);
    for (int i = 0; i < frames; ++i)
        put(static_cast<std::uint16_t>(sineSample(i, amplitudeOf(kReferenceLevelDb))), 2);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

std::optional<FileLoudness> measured(const QString& path, bool cancelled = false)
{
    const std::atomic<bool> flag{cancelled};
    return measureFileLoudness(fromQString(path), flag);
}

using LoudnessMeter = DiskOutputTest;

TEST_F(LoudnessMeter, ReferenceSineMeasuresItsLevelInStereoAndMono)
{
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("stereo.wav"), referenceSine(kReferenceSeconds * kRate)));
    ASSERT_NO_FATAL_FAILURE(writeMonoReferenceWav(pathOf("mono.wav"), kReferenceSeconds * kRate));

    const auto stereo = measured(pathOf("stereo.wav"));
    ASSERT_TRUE(stereo);
    EXPECT_NEAR(stereo->integratedLufs, kReferenceLevelDb, kMeterTolerance);
    EXPECT_NEAR(20 * std::log10(stereo->peak), kReferenceLevelDb, kMeterTolerance);

    // A mono file plays on both channels, and is measured as it is heard.
    const auto mono = measured(pathOf("mono.wav"));
    ASSERT_TRUE(mono);
    EXPECT_NEAR(mono->integratedLufs, kReferenceLevelDb, kMeterTolerance);
}

TEST_F(LoudnessMeter, Mp3MeasuresLikeTheWaveItWasMadeFrom)
{
    // tone.mp3 is a second of a 441 Hz square at half of full scale. The
    // encoder's low-pass takes off the square's top harmonics, which the
    // meter's weighting counts most: the MP3 measures about 0.5 LU lower.
    constexpr int kToneAmplitude = 16384;
    constexpr double kEncoderTolerance = 1;
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("tone.wav"), squareWave(kRate, kToneAmplitude)));
    const auto wave = measured(pathOf("tone.wav"));
    const auto mp3 = measured(QStringLiteral(QINGHE_MEDIA_FIXTURES "/tone.mp3"));
    ASSERT_TRUE(wave);
    ASSERT_TRUE(mp3);
    EXPECT_NEAR(mp3->integratedLufs, wave->integratedLufs, kEncoderTolerance);
    EXPECT_GE(wave->peak, kToneAmplitude / kFullScale);
}

TEST_F(LoudnessMeter, WhatCannotBeMeasuredGivesNothing)
{
    QFile text(pathOf("notes.wav"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    ASSERT_GT(text.write("not a sound, whatever its name says\n"), 0);
    text.close();
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("silence.wav"), Samples(2 * 2 * kRate, 0)));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("blip.wav"), squareWave(kTooShortFrames, 10000)));
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("long.wav"), squareWave(2 * kRate, 10000)));

    EXPECT_FALSE(measured(pathOf("notes.wav")));
    EXPECT_FALSE(measured(pathOf("missing.wav")));
    EXPECT_FALSE(measured(pathOf("silence.wav")));
    EXPECT_FALSE(measured(pathOf("blip.wav"))) << "shorter than one measuring block";
    EXPECT_TRUE(measured(pathOf("long.wav")));
    EXPECT_FALSE(measured(pathOf("long.wav"), true)) << "a cancelled measurement";
}

using LoudnessGain = DiskOutputTest;

// The gain multiplies what the volumes give, from the first frame counted
// after it is set; samples it would push past full scale are held there.
TEST_F(LoudnessGain, ScalesOnTopOfTheVolumesAndHoldsAtFullScale)
{
    constexpr int kAmplitude = 30000;
    constexpr int kSettle = 4096;
    ASSERT_NO_FATAL_FAILURE(writeWav(pathOf("a.wav"), squareWave(3 * kRate, kAmplitude)));
    SoundEngine& engine = SoundEngine::instance();
    const std::string path = QFile::encodeName(pathOf("a.wav")).toStdString();
    const VoiceId voice = engine.play(path, {370, 370, 20 * std::log10(0.5)}).voice;
    ASSERT_NE(voice, kNoVoice);
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));

    ASSERT_TRUE(engine.setGains(voice, {370, 370, 20 * std::log10(3.0)}));
    const auto raised = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));
    const auto end = static_cast<std::int64_t>(mediaMixedFrames());
    // The block being counted as the gain changed may carry either gain.
    const std::int64_t before = raised - mediaOutputFacts().periodFrames;
    // A gain that is no number is none.
    ASSERT_TRUE(engine.setGains(voice, {370, 370, std::nan("")}));
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));
    const auto unity = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));

    // A sound played anew starts without a gain.
    engine.stop(voice);
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));
    ASSERT_NE(engine.play(path, {}).voice, kNoVoice);
    const auto reopened = static_cast<std::int64_t>(mediaMixedFrames());
    ASSERT_NO_FATAL_FAILURE(waitFrames(kSettle));
    const auto last = static_cast<std::int64_t>(mediaMixedFrames());
    const Samples out = recordedOutput();

    const std::int64_t start = firstSoundFrom(out, 0);
    ASSERT_LT(start, before);
    EXPECT_EQ(framesAt(out, start, before, 5550, 5550), before - start) << "30000 x 0.37 x 0.5";
    // 30000 x 0.37 x 3 would be 33300: +30000 is held at 32767, -30000 at -32768.
    EXPECT_EQ(framesAt(out, raised, end, 32767, 32767) + framesAt(out, raised, end, 32768, 32768), end - raised);
    EXPECT_EQ(framesAt(out, unity, unity + kSettle, 11100, 11100), kSettle) << "30000 x 0.37";
    const std::int64_t again = firstSoundFrom(out, reopened);
    EXPECT_EQ(framesAt(out, again, last, kAmplitude, kAmplitude), last - again);
}

}  // namespace
}  // namespace qinghe::test
