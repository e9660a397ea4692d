// Click-to-sound latency of the media player, run by hand.
//
//   media_latency_bench [--clicks N] [--volume PERCENT]
//       From entering the board's click handler (SoundBoard::playEffect, the
//       body of every effect button's handler) to the moment the
//       first sample of the file is handed to the audio device; for a click
//       on silence and for a click that cuts off a playing sound.
//   media_latency_bench --first-audible FILE...
//       For each file, the time from the click to the first sample above
//       -40 dBFS, which includes the encoder's and the file's own leading
//       silence.
//
// The audio driver is SDL's choice or SDL_AUDIODRIVER (dummy or disk for
// measurements; with disk, SDL_DISKAUDIODELAY sets the wait between blocks).

#include "media/media_control.h"
#include "board/sound_board.h"
#include "media/media_player.h"
#include "text/gbk.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using qinghe::MediaPlayer;

constexpr int kRate = 44100;
constexpr int kDefaultClicks = 100;
constexpr int kDefaultVolume = 100;  // the slider's starting position
// The click starts at full scale and the sound it cuts off stays far below,
// so the first loud block is the click's first block.
constexpr int kClickAmplitude = 30000;
constexpr int kBedAmplitude = 8000;
// -40 dBFS on the 16-bit scale: where a sound begins to be heard.
constexpr int kAudibleLevel = 328;
constexpr auto kDetectLimit = std::chrono::seconds(5);

// Watches the blocks handed to the device for the first one holding a sample
// at or above a level, and notes when it was handed over and where in it.
class FirstLoudBlock {
public:
    FirstLoudBlock()
    {
        qinghe::setMediaMixObserver(
            [this](const std::int16_t* samples, int frames, std::uint64_t firstFrame) {
                const auto handed = Clock::now();
                if (!armed_.load())
                    return;
                const bool afterStart = firstFrame >= startFrame_.load();
                bool sawBed = false;
                int loud = -1;
                for (int i = 0; i < frames * 2; ++i) {
                    const int s = std::abs(static_cast<int>(samples[i]));
                    sawBed = sawBed || s == bedLevel_.load();
                    if (loud < 0 && s >= level_.load())
                        loud = i / 2;
                }
                if (afterStart && !sawBed && !bedGoneSeen_) {
                    bedGoneAt_ = handed;
                    bedGoneSeen_ = true;
                }
                if (loud >= 0) {
                    frameFound_ = firstFrame + static_cast<std::uint64_t>(loud);
                    at_ = handed;
                    armed_.store(false);
                }
            });
    }
    ~FirstLoudBlock() { qinghe::setMediaMixObserver({}); }

    void arm(int level, int bedLevel)
    {
        level_ = level;
        bedLevel_ = bedLevel;
        bedGoneSeen_ = false;
        startFrame_ = qinghe::mediaMixedFrames();
        armed_.store(true);
    }
    // False when nothing loud came in time.
    bool wait()
    {
        const auto limit = Clock::now() + kDetectLimit;
        while (armed_.load()) {
            if (Clock::now() > limit) {
                armed_.store(false);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return true;
    }
    Clock::time_point at() const { return at_; }
    Clock::time_point bedGoneAt() const { return bedGoneAt_; }
    bool bedGoneSeen() const { return bedGoneSeen_; }
    std::uint64_t frameFound() const { return frameFound_; }

private:
    std::atomic<bool> armed_{false};
    std::atomic<int> level_{0};
    std::atomic<int> bedLevel_{-1};
    std::atomic<std::uint64_t> startFrame_{0};
    // Written on the audio thread before armed_ falls, read after.
    Clock::time_point at_{};
    Clock::time_point bedGoneAt_{};
    bool bedGoneSeen_ = false;
    std::uint64_t frameFound_ = 0;
};

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Summary {
    double median = 0, p95 = 0, min = 0, max = 0;
};

Summary summarise(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        return v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))];
    };
    return {at(0.5), at(0.95), v.front(), v.back()};
}

void print(const char* what, const std::vector<double>& values)
{
    const Summary s = summarise(values);
    std::printf("  %-44s n=%3zu  median %7.2f ms  p95 %7.2f ms  min %7.2f  max %7.2f\n", what,
                values.size(), s.median, s.p95, s.min, s.max);
}

void writeSquareWav(const QString& path, int frames, int amplitude)
{
    QByteArray data;
    data.resize(frames * 4);
    auto* s = reinterpret_cast<std::int16_t*>(data.data());
    for (int i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] = static_cast<std::int16_t>((i / 50) % 2 ? -amplitude : amplitude);
    QByteArray h("RIFF");
    const auto put = [&h](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            h.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(36 + data.size(), 4);
    h.append("WAVEfmt ");
    put(16, 4), put(1, 2), put(2, 2), put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2);
    h.append("data");
    put(data.size(), 4);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(h + data);
}

void printDevice()
{
    const qinghe::MediaOutputFormat f = qinghe::mediaOutputFormat();
    const char* driver = SDL_GetCurrentAudioDriver();
    const char* delay = std::getenv("SDL_DISKAUDIODELAY");
    std::printf("audio driver: %s%s%s\n", driver ? driver : "(none)",
                driver && std::strcmp(driver, "disk") == 0 ? ", SDL_DISKAUDIODELAY=" : "",
                driver && std::strcmp(driver, "disk") == 0 ? (delay ? delay : "(default: one period)")
                                                           : "");
    std::printf("device period: %d frames = %.2f ms at %d Hz, %d channels (the floor)\n",
                f.periodFrames, 1000.0 * f.periodFrames / f.rate, f.rate, f.channels);
}

int clickLatency(int clicks, int volume)
{
    QTemporaryDir dir;
    const QString click = dir.filePath("click.wav");
    const QString bed = dir.filePath("bed.wav");
    writeSquareWav(click, kRate / 2, kClickAmplitude);
    writeSquareWav(bed, 30 * kRate, kBedAmplitude);
    const qinghe::Text clickName = qinghe::fromQString(click);
    const qinghe::Text bedName = qinghe::fromQString(bed);
    const int clickLevel = kClickAmplitude * volume / 100;
    const int bedLevel = kBedAmplitude * volume / 100;

    MediaPlayer player;
    // The board's own click handler, with the slider standing at volume.
    qinghe::CustomSoundTables tables;
    qinghe::BoardSurface surface;
    surface.volumePosition = [volume] { return volume; };
    qinghe::SoundBoard board(player, tables, dir.filePath("my.ini"), surface);
    FirstLoudBlock watch;
    if (!player.open(clickName)) {
        std::printf("no audio device could be opened\n");
        return 1;
    }
    printDevice();
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> phase(0, 1000 * qinghe::mediaOutputFormat().periodFrames / kRate);

    std::vector<double> silentClick, silentCall, cutClick, cutCall, cutGone;
    for (int i = 0; i < clicks; ++i) {
        // A click on silence, at a random moment of the device's period.
        player.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(20 + phase(random)));
        watch.arm(clickLevel, -1);
        auto t0 = Clock::now();
        board.playEffect(clickName);
        auto returned = Clock::now();
        if (watch.wait()) {
            silentClick.push_back(ms(watch.at() - t0));
            silentCall.push_back(ms(returned - t0));
        }

        // A click that cuts off a sound that is playing.
        board.playEffect(bedName);
        std::this_thread::sleep_for(std::chrono::milliseconds(60 + phase(random)));
        watch.arm(clickLevel, bedLevel);
        t0 = Clock::now();
        board.playEffect(clickName);
        returned = Clock::now();
        if (watch.wait()) {
            cutClick.push_back(ms(watch.at() - t0));
            cutCall.push_back(ms(returned - t0));
            if (watch.bedGoneSeen())
                cutGone.push_back(ms(watch.bedGoneAt() - t0));
        }
    }
    std::printf("click-to-sound, %d clicks each, volume %d%%:\n", clicks, volume);
    print("click on silence: first sample handed over", silentClick);
    print("click on silence: handler returns", silentCall);
    print("click cutting a sound: first sample handed", cutClick);
    print("click cutting a sound: old sound gone", cutGone);
    print("click cutting a sound: handler returns", cutCall);
    qinghe::closeMediaOutput();
    return 0;
}

int firstAudible(int argc, char** argv, int first)
{
    MediaPlayer player;
    FirstLoudBlock watch;
    bool deviceShown = false;
    std::vector<double> toAudible, leading, opening;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> phase(0, 1000 * qinghe::mediaOutputFormat().periodFrames / kRate);
    for (int a = first; a < argc; ++a) {
        const qinghe::Text name = qinghe::fromQString(QString::fromLocal8Bit(argv[a]));
        player.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + phase(random)));
        watch.arm(kAudibleLevel, -1);
        const auto t0 = Clock::now();
        const bool opened = player.open(name);
        const auto openDone = Clock::now();
        player.play(-1);
        // Playback starts with the block mixed after play; to within a block
        // only if one was handed over while play ran (rare).
        const std::uint64_t playbackStart = qinghe::mediaMixedFrames();
        player.setVolume(100, 100);
        if (!opened) {
            std::printf("%-28s cannot be opened\n", argv[a]);
            continue;
        }
        if (!deviceShown) {
            printDevice();
            std::printf("%-28s %10s %12s %12s\n", "file", "open ms", "audible ms", "in file ms");
            deviceShown = true;
        }
        if (!watch.wait()) {
            std::printf("%-28s nothing audible within %lld s\n", argv[a],
                        static_cast<long long>(kDetectLimit.count()));
            continue;
        }
        // Frames of the file before its first audible sample.
        const double inFile =
            1000.0 * static_cast<double>(watch.frameFound() - playbackStart) / kRate;
        const QByteArray base = QByteArray(argv[a]).split('/').last();
        std::printf("%-28s %10.2f %12.2f %12.2f\n", base.constData(), ms(openDone - t0),
                    ms(watch.at() - t0), inFile);
        toAudible.push_back(ms(watch.at() - t0));
        leading.push_back(inFile);
        opening.push_back(ms(openDone - t0));
    }
    std::printf("over %zu files:\n", toAudible.size());
    print("click to first audible sample (> -40 dBFS)", toAudible);
    print("silence at the file's start", leading);
    print("open (window thread blocked)", opening);
    qinghe::closeMediaOutput();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    int clicks = kDefaultClicks;
    int volume = kDefaultVolume;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--first-audible") == 0)
            return firstAudible(argc, argv, i + 1);
        if (std::strcmp(argv[i], "--clicks") == 0 && i + 1 < argc)
            clicks = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--volume") == 0 && i + 1 < argc)
            volume = std::clamp(std::atoi(argv[++i]), 1, 100);
    }
    return clickLatency(clicks, volume);
}
