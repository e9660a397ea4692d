// The decoder layer through whole files: each format as the host would bring
// it, made by sox and ffmpeg (or written byte by byte) in a folder of the
// test's own, and heard as the player hears it: stereo at 48 kHz.

#include "media/decoders/file_levels.h"
#include "media/decoders/sound_decoder.h"
#include "media/decoders/stereo_stream.h"
#include "support/tone_measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace qinghe {
namespace {

namespace fs = std::filesystem;
using namespace test_support;

constexpr int kOutputRate = 48000;
// A tone's frequency must come out within 1%.
constexpr double kFrequencyTolerance = 0.01;
// Level within 0.5 dB for lossless and lossy files alike.
constexpr double kLevelToleranceDb = 0.5;
constexpr double kMinus3Db = -3.0103;
// A synthesised tone must at least be heard.
constexpr double kAudible = 0.01;
constexpr int kSpectrumFrames = 1 << 15;
// Bins each side of the tone counted as its own (the window's main lobe).
constexpr int kToneBins = 24;

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qinghe-decoders-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs a shell command in the test's folder; the file it makes is name.
    std::string make(const std::string& name, const std::string& command) const
    {
        const std::string line = "cd '" + dir_.string() + "' && " + command + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command;
        return path(name);
    }

    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) const
    {
        std::ofstream(path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }

    fs::path dir_;
};

std::vector<float> readAll(StereoStream& stream, std::int64_t most = 10 * kOutputRate)
{
    std::vector<float> all;
    std::vector<float> block(2 * 1000);
    while (static_cast<std::int64_t>(all.size()) / 2 < most) {
        const std::int64_t got = stream.read(block.data(), 1000);
        if (got <= 0)
            break;
        all.insert(all.end(), block.begin(), block.begin() + got * 2);
    }
    return all;
}

std::vector<double> side(const std::vector<float>& stereo, int which, std::size_t first, std::size_t count)
{
    std::vector<double> out;
    for (std::size_t frame = first; frame < first + count && frame * 2 + 1 < stereo.size(); ++frame)
        out.push_back(stereo[frame * 2 + static_cast<std::size_t>(which)]);
    return out;
}

struct Tone {
    double frequency;
    double amplitude;  // as written into the file; 0 where a synthesiser decides
};

// Opens the file at 48 kHz and checks the tone on both sides.
void expectTone(const std::string& file, Tone tone, double levelDb, const std::string& decoder)
{
    StreamOpening opening = openStereoStream(file, kOutputRate);
    ASSERT_TRUE(opening.stream) << file << ": " << opening.reason;
    EXPECT_EQ(opening.stream->facts().decoder, decoder) << file;
    const std::vector<float> all = readAll(*opening.stream);
    ASSERT_GE(all.size() / 2, static_cast<std::size_t>(kOutputRate / 2 + kOutputRate / 4)) << file;
    for (int which = 0; which < 2; ++which) {
        // A stretch past any codec's start-up and before any tail.
        const std::vector<double> stretch = side(all, which, kOutputRate / 4, kOutputRate / 2);
        const double found = dominantFrequency(
            std::vector<double>(stretch.begin(), stretch.begin() + (1 << 14)), kOutputRate);
        EXPECT_NEAR(found / tone.frequency, 1.0, kFrequencyTolerance) << file << " side " << which;
        if (tone.amplitude > 0)
            EXPECT_NEAR(decibels(toneAmplitude(stretch) / tone.amplitude), levelDb, kLevelToleranceDb)
                << file << " side " << which;
        else  // a synthesiser's level is its own: heard, well above -40 dBFS
            EXPECT_GT(toneAmplitude(stretch), kAudible) << file << " side " << which;
    }
}

std::string sine(double frequency, double amplitude, int rate, double seconds)
{
    return "-f lavfi -i 'aevalsrc=" + std::to_string(amplitude) + "*sin(2*PI*" + std::to_string(frequency) +
           "*t):s=" + std::to_string(rate) + ":d=" + std::to_string(seconds) + "'";
}

void put16(std::vector<unsigned char>& bytes, unsigned value)
{
    bytes.push_back(static_cast<unsigned char>(value >> 8));
    bytes.push_back(static_cast<unsigned char>(value));
}

void put32(std::vector<unsigned char>& bytes, std::uint32_t value)
{
    put16(bytes, value >> 16);
    put16(bytes, value & 0xFFFF);
}

// A one-track MIDI file: a flute holding A4 (440 Hz) for two seconds.
std::vector<unsigned char> heldNote(bool cutShort)
{
    std::vector<unsigned char> track{
        0x00, 0xC0, 73,         // program: flute, a near-pure fundamental
        0x00, 0x90, 69, 100,    // A4 on
        0x83, 0x00, 0x80, 69, 0,  // 384 ticks later (2 s at 120 bpm), off
        0x00, 0xFF, 0x2F, 0x00,  // end of track
    };
    std::vector<unsigned char> bytes{'M', 'T', 'h', 'd'};
    put32(bytes, 6);
    put16(bytes, 0);   // one track
    put16(bytes, 1);
    put16(bytes, 96);  // ticks a quarter note
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});
    put32(bytes, static_cast<std::uint32_t>(track.size()));
    bytes.insert(bytes.end(), track.begin(), track.end() - (cutShort ? 6 : 0));
    return bytes;
}

// A four-channel module: one looped sine sample of 32 points played at C-3
// (period 214, 16574 Hz), so a tone of 518 Hz.
std::vector<unsigned char> moduleTone()
{
    constexpr int kPoints = 32;
    std::vector<unsigned char> bytes(20, 0);  // title
    for (int sample = 0; sample < 31; ++sample) {
        std::vector<unsigned char> header(30, 0);
        if (sample == 0) {
            header[22] = 0, header[23] = kPoints / 2;  // length in words
            header[25] = 64;                           // volume
            header[28] = 0, header[29] = kPoints / 2;  // loop the whole sample
        }
        bytes.insert(bytes.end(), header.begin(), header.end());
    }
    bytes.push_back(1);    // one position
    bytes.push_back(127);
    bytes.resize(bytes.size() + 128, 0);
    bytes.insert(bytes.end(), {'M', '.', 'K', '.'});
    std::vector<unsigned char> pattern(64 * 4 * 4, 0);
    pattern[0] = 0x00, pattern[1] = 214, pattern[2] = 0x10;  // sample 1 at period 214 on channel 1
    bytes.insert(bytes.end(), pattern.begin(), pattern.end());
    for (int point = 0; point < kPoints; ++point)
        bytes.push_back(static_cast<unsigned char>(
            static_cast<signed char>(std::lround(100 * std::sin(2 * std::numbers::pi * point / kPoints)))));
    return bytes;
}

TEST_F(DecoderTest, EveryFormatPlaysItsToneAtItsLevelAsStereoAt48k)
{
    const Tone tone{1000, 0.5};
    expectTone(make("8bit.wav", "sox -D -n -r 44100 -c 2 -b 8 8bit.wav synth 1 sine 1000 vol 0.5"), tone, 0, "sndfile");
    expectTone(make("24bit.wav", "sox -n -r 44100 -c 2 -b 24 24bit.wav synth 1 sine 1000 vol 0.5"), tone, 0, "sndfile");
    expectTone(make("float.wav", "sox -n -r 22050 -c 2 -e floating-point -b 32 float.wav synth 1 sine 1000 vol 0.5"),
               tone, 0, "sndfile");
    expectTone(make("mono8k.wav", "sox -n -r 8000 -c 1 -b 16 mono8k.wav synth 1 sine 440 vol 0.5"), {440, 0.5}, 0,
               "sndfile");
    expectTone(make("hi.flac", "sox -n -r 96000 -c 2 -b 24 hi.flac synth 1 sine 1000 vol 0.5"), tone, 0, "sndfile");
    expectTone(make("tone.ogg", "sox -n -r 44100 -c 2 tone.ogg synth 1 sine 1000 vol 0.5"), tone, 0, "sndfile");
    expectTone(make("tone.opus", "ffmpeg " + sine(1000, 0.5, 48000, 1) + " -c:a libopus -b:a 128k tone.opus"), tone, 0,
               "sndfile");
    expectTone(make("tone.mp3", "ffmpeg " + sine(1000, 0.5, 44100, 1) + " -c:a libmp3lame -b:a 192k tone.mp3"), tone, 0,
               "sndfile");
    expectTone(make("tone.m4a", "ffmpeg " + sine(1000, 0.5, 44100, 1) + " -c:a aac -b:a 192k tone.m4a"), tone, 0, "ffmpeg");
    expectTone(make("tone.wma", "ffmpeg " + sine(1000, 0.5, 44100, 1) + " -c:a wmav2 -b:a 192k tone.wma"), tone, 0, "ffmpeg");
    expectTone(make("tone.mkv", "ffmpeg -f lavfi -i testsrc=size=64x64:rate=10:duration=1 " + sine(1000, 0.5, 44100, 1) +
                                    " -c:v ffv1 -c:a flac tone.mkv"),
               tone, 0, "ffmpeg");
    // Content wins over the name: AAC in a file called .wav.
    expectTone(make("named.wav", "ffmpeg " + sine(1000, 0.5, 44100, 1) + " -c:a aac -f ipod named.wav"), tone, 0, "ffmpeg");
    // A tone only in the centre of a 5.1 file: both sides at -3 dB.
    expectTone(make("centre.wav", "sox -n -r 48000 -c 1 -b 24 c.wav synth 1 sine 1000 vol 0.5 && "
                                  "sox c.wav centre.wav remix 0 0 1 0 0 0"),
               tone, kMinus3Db, "sndfile");
    expectTone(write("held.mid", heldNote(false)), {440, 0}, 0, "fluidsynth");
    expectTone(write("tone.mod", moduleTone()), {7093789.2 / (2 * 214) / 32, 0}, 0, "openmpt");
}

TEST_F(DecoderTest, AFileThatCannotPlayIsKnownAtOnceWithItsReason)
{
    const std::string wav = make("good.wav", "sox -n -r 44100 -c 2 -b 16 good.wav synth 1 sine 1000 vol 0.5");
    std::vector<unsigned char> bytes(static_cast<std::size_t>(fs::file_size(wav)));
    std::ifstream(wav, std::ios::binary).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    std::mt19937 noise(7);
    std::vector<unsigned char> random(64 * 1024);
    for (auto& byte : random)
        byte = static_cast<unsigned char>(noise());
    fs::create_directory(path("folder.wav"));

    const struct {
        std::string file;
        SoundFileProblem problem;
    } cases[] = {
        {path("missing.wav"), SoundFileProblem::NotFound},
        {path("folder.wav"), SoundFileProblem::NotFound},
        {write("empty.wav", {}), SoundFileProblem::Damaged},
        {write("noise.mp3", random), SoundFileProblem::Unsupported},
        {write("notes.txt", std::vector<unsigned char>(2000, 'a')), SoundFileProblem::Unsupported},
        {write("cut.wav", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 30)), SoundFileProblem::Damaged},
        {write("cut.mid", heldNote(true)), SoundFileProblem::Damaged},
        {make("many.wav", "sox -n -r 8000 -c 65 -b 16 many.wav synth 0.1 sine 1000"), SoundFileProblem::Unsupported},
    };
    for (const auto& each : cases) {
        std::string reason;
        EXPECT_EQ(checkSoundFile(each.file, &reason), each.problem) << each.file;
        EXPECT_FALSE(reason.empty()) << each.file;
        const StreamOpening opening = openStereoStream(each.file, kOutputRate);
        EXPECT_EQ(opening.problem, each.problem) << each.file << ": " << opening.reason;
        EXPECT_FALSE(opening.stream) << each.file;
    }

    // A header claiming 4 GB of data before one second: what is there plays.
    std::vector<unsigned char> lying = bytes;
    for (int index : {4, 40})
        lying[static_cast<std::size_t>(index)] = lying[static_cast<std::size_t>(index) + 1] =
            lying[static_cast<std::size_t>(index) + 2] = lying[static_cast<std::size_t>(index) + 3] = 0xFF;
    const std::string liar = write("liar.wav", lying);
    EXPECT_EQ(checkSoundFile(liar), SoundFileProblem::None);
    StreamOpening opening = openStereoStream(liar, kOutputRate);
    ASSERT_TRUE(opening.stream) << opening.reason;
    EXPECT_NEAR(static_cast<double>(readAll(*opening.stream, 100 * kOutputRate).size() / 2), kOutputRate, kOutputRate / 100);
    EXPECT_EQ(checkSoundFile(write("held.mid", heldNote(false))), SoundFileProblem::None);
}

TEST_F(DecoderTest, AMidiSongEndsWithinTwoSecondsOfItsLastEventEvenWithTenThousandNotesHeld)
{
    // Ten thousand notes struck at once and never let go; the last event
    // (end of track) one second in, at 96 ticks a half second.
    std::vector<unsigned char> track;
    for (int note = 0; note < 10000; ++note)
        track.insert(track.end(), {0x00, static_cast<unsigned char>(0x90 | (note % 16)),
                                   static_cast<unsigned char>(24 + note % 80), 100});
    track.insert(track.end(), {0x81, 0x40, 0xFF, 0x2F, 0x00});
    std::vector<unsigned char> bytes{'M', 'T', 'h', 'd'};
    put32(bytes, 6);
    put16(bytes, 0);
    put16(bytes, 1);
    put16(bytes, 96);
    bytes.insert(bytes.end(), {'M', 'T', 'r', 'k'});
    put32(bytes, static_cast<std::uint32_t>(track.size()));
    bytes.insert(bytes.end(), track.begin(), track.end());
    StreamOpening opening = openStereoStream(write("storm.mid", bytes), kOutputRate);
    ASSERT_TRUE(opening.stream) << opening.reason;
    const std::vector<float> all = readAll(*opening.stream, 60 * kOutputRate);
    EXPECT_GT(toneAmplitude(side(all, 0, 0, kOutputRate)), kAudible);
    EXPECT_LE(all.size() / 2, static_cast<std::size_t>(3 * kOutputRate + 4096));
}

TEST_F(DecoderTest, ResamplingKeepsAliasesNinetyDecibelsDownAndTheTopOfTheBandAtItsLevel)
{
    for (const double frequency : {10000.0, 19000.0}) {
        const std::string name = std::to_string(static_cast<int>(frequency)) + ".wav";
        const std::string file = make(name, "sox -n -r 48000 -c 1 -e floating-point -b 32 " + name + " synth 2 sine " +
                                                std::to_string(frequency) + " vol 0.5");
        StreamOpening opening = openStereoStream(file, 44100);
        ASSERT_TRUE(opening.stream) << opening.reason;
        EXPECT_EQ(opening.stream->frames(), 2 * 44100);
        const std::vector<float> all = readAll(*opening.stream);
        const std::vector<double> stretch = side(all, 0, 20000, kSpectrumFrames);
        ASSERT_EQ(stretch.size(), static_cast<std::size_t>(kSpectrumFrames));
        EXPECT_NEAR(decibels(toneAmplitude(side(all, 1, 20000, 44100)) / 0.5), 0, kLevelToleranceDb);
        const std::vector<double> power = spectrum(stretch);
        const auto peak = static_cast<std::size_t>(std::max_element(power.begin(), power.end()) - power.begin());
        EXPECT_NEAR(static_cast<double>(peak) * 44100 / kSpectrumFrames, frequency, 44100.0 / kSpectrumFrames);
        double loudestOther = 0;
        for (std::size_t bin = 0; bin < power.size(); ++bin) {
            if (bin + kToneBins < peak || bin > peak + kToneBins)
                loudestOther = std::max(loudestOther, power[bin]);
        }
        EXPECT_LT(10 * std::log10(loudestOther / power[peak]), -90) << frequency;
    }
}

TEST_F(DecoderTest, SeekingLandsOnTheFrameAStraightReadGivesAndSameRateIsUntouched)
{
    // Float samples at the output's rate come back bit for bit.
    const std::string wav = make("float48.wav", "sox -n -r 48000 -c 2 -e floating-point -b 32 float48.wav synth 1 sine 700 vol 0.3");
    const std::string m4a = make("seek.m4a", "ffmpeg " + sine(700, 0.3, 48000, 2) + " -c:a aac seek.m4a");
    for (const std::string& file : {wav, m4a}) {
        StreamOpening straight = openStereoStream(file, kOutputRate);
        ASSERT_TRUE(straight.stream) << straight.reason;
        const std::vector<float> all = readAll(*straight.stream);
        StreamOpening sought = openStereoStream(file, kOutputRate);
        ASSERT_TRUE(sought.stream);
        for (const std::int64_t frame : {std::int64_t{30011}, std::int64_t{0}, std::int64_t{12345}}) {
            ASSERT_TRUE(sought.stream->seek(frame)) << file;
            std::vector<float> again(2 * 2000);
            ASSERT_EQ(sought.stream->read(again.data(), 2000), 2000);
            // A lossy decoder's sums may round apart by a few units in the
            // last place; a frame off would differ by a hundred times more.
            const float tolerance = file == wav ? 0.0f : 1e-4f;
            for (std::size_t index = 0; index < again.size(); ++index)
                ASSERT_NEAR(again[index], all[static_cast<std::size_t>(frame) * 2 + index], tolerance)
                    << file << " at " << frame;
        }
    }
}

TEST_F(DecoderTest, LevelsAreMeasuredOnWhatTheListenerHears)
{
    // EBU's reference: a 1 kHz sine at -23 dBFS on both sides is -23 LUFS;
    // a 5.1 file's centre at -20 dBFS folds to just that.
    const std::string centre = make("centre.wav", "sox -n -r 48000 -c 1 -b 24 c.wav synth 3 sine 1000 vol 0.1 && "
                                                  "sox c.wav centre.wav remix 0 0 1 0 0 0");
    const std::string mono = make("mono.flac", "sox -n -r 44100 -c 1 -b 24 mono.flac synth 3 sine 1000 vol 0.0707946");
    const std::atomic<bool> going{false};
    for (const std::string& file : {centre, mono}) {
        const std::optional<FileLevels> levels = measureSoundFileLevels(file, going);
        ASSERT_TRUE(levels && levels->integratedLufs) << file;
        EXPECT_NEAR(*levels->integratedLufs, -23, 0.1) << file;
        EXPECT_NEAR(levels->peak, 0.0708, 0.002) << file;
    }
    const std::optional<FileLevels> silence =
        measureSoundFileLevels(make("silence.wav", "sox -n -r 44100 -c 2 silence.wav trim 0 1"), going);
    ASSERT_TRUE(silence);
    EXPECT_FALSE(silence->integratedLufs);
    EXPECT_EQ(silence->peak, 0);
    const std::atomic<bool> cancelled{true};
    EXPECT_FALSE(measureSoundFileLevels(mono, cancelled));
    EXPECT_FALSE(measureSoundFileLevels(path("missing.flac"), going));
}

}  // namespace
}  // namespace qinghe
