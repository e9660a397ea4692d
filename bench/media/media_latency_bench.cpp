// Click-to-sound latency of the media player, run by hand.
//
//   media_latency_bench [--clicks N] [--volume PERCENT] [--periods P,P...]
//       For each period asked of the audio device (by default 512 frames,
//       then 128), N clicks (default 200) on silence and N clicks that cut
//       off a playing sound, each from entering the board's click handler
//       (SoundBoard::playEffect, the body of every effect button's handler)
//       to the moment the first sample of the file is handed over.
//   media_latency_bench [--periods P] --first-audible FILE...
//       For each file, the time from the click to the first sample above
//       -40 dBFS, which includes the encoder's and the file's own leading
//       silence.
//
// Where the clock stops: when the block that holds the file's first sample
// enters the output's post-mix stage, inside the audio callback, just
// before SDL hands the block to its driver. What comes after that is not in
// these figures: the driver's and the hardware's own buffers (commonly one
// or two periods more) and a sound server's latency.
//
// Clicks fall at random moments of the device's period, in microsecond
// steps: each waits for a block to be handed over, then for a uniformly
// drawn offset within the time between blocks.
//
// The audio driver is SDL's choice or SDL_AUDIODRIVER (dummy or disk for
// measurements; with disk, SDL_DISKAUDIODELAY sets the wait between blocks).
// Both pace themselves with a sleep of whole milliseconds, so their blocks
// come a little faster than the period's length: the bench measures and
// prints the time between blocks rather than assume it.

#include "board/sound_board.h"
#include "media/engine/sound_engine.h"
#include "media/player/media_player.h"
#include "text/gbk.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
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
constexpr int kDefaultClicks = 200;
constexpr int kDefaultVolume = 100;  // the slider's starting position
// The period the output asked for before, then the one it asks for now.
constexpr std::array<int, 2> kDefaultPeriods = {512, 128};
// The click starts at full scale and the sound it cuts off stays far below,
// so the first loud block is the click's first block.
constexpr int kClickAmplitude = 30000;
constexpr int kBedAmplitude = 8000;
// -40 dBFS on the 16-bit scale: where a sound begins to be heard.
constexpr int kAudibleLevel = 328;
constexpr auto kDetectLimit = std::chrono::seconds(5);
// Blocks timed to find the time between blocks.
constexpr int kTimedBlocks = 128;
// Silence before a click on silence, and sound before a click that cuts it:
// several of the longest period.
constexpr auto kSilenceBefore = std::chrono::milliseconds(30);
constexpr auto kBedBefore = std::chrono::milliseconds(60);
// The last stretch before a click moment is waited out awake, because a
// sleep can overshoot by this much.
constexpr auto kSleepSlack = std::chrono::microseconds(300);
constexpr auto kPollStep = std::chrono::microseconds(50);

std::int64_t nanosecondsOf(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

Clock::time_point timeOf(std::int64_t ns)
{
    return Clock::time_point(std::chrono::nanoseconds(ns));
}

// Watches the blocks handed to the device: when each arrives, and the first
// one holding a sample at or above a level. Runs on the audio thread; it
// allocates nothing and takes no lock.
class BlockWatch {
public:
    BlockWatch()
    {
        qinghe::setMixObserver(
            [this](const std::int16_t* samples, int frames, std::uint64_t firstFrame) {
                const auto handed = Clock::now();
                blockFrames_.store(frames);
                const int timed = timedBlocks_.load();
                if (timed < kTimedBlocks) {
                    blockTimes_[static_cast<std::size_t>(timed)] = nanosecondsOf(handed);
                    timedBlocks_.store(timed + 1);
                }
                lastBlockNs_.store(nanosecondsOf(handed));
                blocks_.fetch_add(1);
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
    ~BlockWatch() { qinghe::setMixObserver({}); }

    // Times kTimedBlocks blocks from now; the median time between them in
    // microseconds, or 0 when the device stopped taking blocks.
    double timeBetweenBlocks()
    {
        timedBlocks_.store(0);
        const auto limit = Clock::now() + kDetectLimit;
        while (timedBlocks_.load() < kTimedBlocks) {
            if (Clock::now() > limit)
                return 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::vector<double> gaps;
        for (std::size_t i = 1; i < blockTimes_.size(); ++i)
            gaps.push_back(static_cast<double>(blockTimes_[i] - blockTimes_[i - 1]) / 1000.0);
        std::sort(gaps.begin(), gaps.end());
        return gaps[gaps.size() / 2];
    }
    int blockFrames() const { return blockFrames_.load(); }

    // Waits for the next block to be handed over, then for offset after it;
    // returns how far into the period the moment fell.
    std::chrono::microseconds waitIntoPeriod(std::chrono::microseconds offset)
    {
        const std::uint64_t seen = blocks_.load();
        while (blocks_.load() == seen)
            std::this_thread::sleep_for(kPollStep);
        const Clock::time_point blockAt = timeOf(lastBlockNs_.load());
        const Clock::time_point moment = blockAt + offset;
        if (moment - Clock::now() > kSleepSlack)
            std::this_thread::sleep_until(moment - kSleepSlack);
        while (Clock::now() < moment) {
        }
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - blockAt);
    }

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
    std::atomic<std::uint64_t> blocks_{0};
    std::atomic<std::int64_t> lastBlockNs_{0};
    std::atomic<int> blockFrames_{0};
    std::atomic<int> timedBlocks_{kTimedBlocks};
    std::array<std::int64_t, kTimedBlocks> blockTimes_{};
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

void printDriver()
{
    const std::string driver = qinghe::mediaOutputFacts().driver;
    const char* delay = std::getenv("SDL_DISKAUDIODELAY");
    std::printf("audio driver: %s", driver.empty() ? "(none)" : driver.c_str());
    if (driver == "disk")
        std::printf(", SDL_DISKAUDIODELAY=%s", delay ? delay : "(default: the period in whole ms)");
    std::printf("\n");
}

// The device as it runs: the period it really takes and the time between
// its blocks; false when it takes no blocks.
bool describeDevice(int asked, BlockWatch& watch, double& betweenBlocksUs)
{
    betweenBlocksUs = watch.timeBetweenBlocks();
    if (betweenBlocksUs <= 0) {
        std::printf("the audio device takes no blocks\n");
        return false;
    }
    printDriver();
    const qinghe::OutputFacts f = qinghe::mediaOutputFacts();
    std::printf("period asked %d frames; the device takes %d frames = %.2f ms at %d Hz "
                "(blocks seen: %d frames); a block every %.2f ms (median of %d)\n",
                asked, f.periodFrames, 1000.0 * f.periodFrames / f.rate, f.rate,
                watch.blockFrames(), betweenBlocksUs / 1000.0, kTimedBlocks - 1);
    return true;
}

struct PeriodRun {
    int asked = 0;
    int given = 0;
    std::vector<double> silentClick, cutClick;
};

bool clicksAtPeriod(int asked, int clicks, int volume, const QTemporaryDir& dir, PeriodRun& run)
{
    const qinghe::Text clickName = qinghe::fromQString(dir.filePath("click.wav"));
    const qinghe::Text bedName = qinghe::fromQString(dir.filePath("bed.wav"));
    const int clickLevel = kClickAmplitude * volume / 100;
    const int bedLevel = kBedAmplitude * volume / 100;

    qinghe::closeMediaOutput();
    qinghe::setMediaOutputPeriod(asked);
    MediaPlayer player;
    // The board's own click handler, with the slider standing at volume.
    qinghe::CustomSoundTables tables;
    qinghe::BoardSurface surface;
    surface.volumePosition = [volume] { return volume; };
    qinghe::SoundBoard board(tables, dir.filePath("my.ini"), surface);
    BlockWatch watch;
    // The engine opens its device on the first play, not on open: one play
    // opens it here, so no click below pays for the opening.
    if (!player.open(clickName) || !player.play(-1)) {
        std::printf("no audio device could be opened\n");
        return false;
    }
    player.stop();
    double betweenBlocksUs = 0;
    if (!describeDevice(asked, watch, betweenBlocksUs))
        return false;
    run.asked = asked;
    run.given = qinghe::mediaOutputFacts().periodFrames;

    std::mt19937 random(12345);
    std::uniform_int_distribution<std::int64_t> offsetUs(
        0, static_cast<std::int64_t>(betweenBlocksUs) - 1);
    std::vector<double> silentCall, cutCall, cutGone, phases;
    for (int i = 0; i < clicks; ++i) {
        // A click on silence.
        player.stop();
        std::this_thread::sleep_for(kSilenceBefore);
        std::chrono::microseconds phase = watch.waitIntoPeriod(std::chrono::microseconds(offsetUs(random)));
        watch.arm(clickLevel, -1);
        auto t0 = Clock::now();
        board.playEffect(clickName);
        auto returned = Clock::now();
        phases.push_back(static_cast<double>(phase.count()) / betweenBlocksUs);
        if (watch.wait()) {
            run.silentClick.push_back(ms(watch.at() - t0));
            silentCall.push_back(ms(returned - t0));
        }

        // A click that cuts off a sound that is playing.
        board.playEffect(bedName);
        std::this_thread::sleep_for(kBedBefore);
        phase = watch.waitIntoPeriod(std::chrono::microseconds(offsetUs(random)));
        watch.arm(clickLevel, bedLevel);
        t0 = Clock::now();
        board.playEffect(clickName);
        returned = Clock::now();
        phases.push_back(static_cast<double>(phase.count()) / betweenBlocksUs);
        if (watch.wait()) {
            run.cutClick.push_back(ms(watch.at() - t0));
            cutCall.push_back(ms(returned - t0));
            if (watch.bedGoneSeen())
                cutGone.push_back(ms(watch.bedGoneAt() - t0));
        }
    }
    const Summary p = summarise(phases);
    std::printf("click moments into the period (fraction of the time between blocks): "
                "min %.2f  median %.2f  max %.2f\n",
                p.min, p.median, p.max);
    std::printf("click-to-first-sample, %d clicks each, volume %d%%:\n", clicks, volume);
    print("click on silence: first sample handed over", run.silentClick);
    print("click on silence: handler returns", silentCall);
    print("click cutting a sound: first sample handed", run.cutClick);
    print("click cutting a sound: old sound gone", cutGone);
    print("click cutting a sound: handler returns", cutCall);
    std::printf("late blocks while measuring: %llu\n\n",
                static_cast<unsigned long long>(qinghe::mediaOutputFacts().lateBlocks));
    return true;
}

int clickLatency(const std::vector<int>& periods, int clicks, int volume)
{
    QTemporaryDir dir;
    writeSquareWav(dir.filePath("click.wav"), kRate / 2, kClickAmplitude);
    writeSquareWav(dir.filePath("bed.wav"), 30 * kRate, kBedAmplitude);
    std::printf("clock: from entering the click handler to the moment the block holding the\n"
                "file's first sample enters the post-mix stage in the audio callback, just\n"
                "before SDL hands it to its driver; the driver's and the hardware's own\n"
                "buffering come after and are not measured.\n");
    std::vector<PeriodRun> runs;
    for (int asked : periods) {
        PeriodRun run;
        if (!clicksAtPeriod(asked, clicks, volume, dir, run))
            return 1;
        runs.push_back(run);
    }
    std::printf("summary, click to first sample handed over, median / p95 in ms:\n");
    std::printf("  %-16s %-22s %-22s\n", "period", "click on silence", "click cutting a sound");
    for (const PeriodRun& run : runs) {
        const Summary silent = summarise(run.silentClick);
        const Summary cut = summarise(run.cutClick);
        char period[32];
        std::snprintf(period, sizeof period, "%d (asked %d)", run.given, run.asked);
        std::printf("  %-16s %6.2f / %6.2f        %6.2f / %6.2f\n", period, silent.median,
                    silent.p95, cut.median, cut.p95);
    }
    qinghe::closeMediaOutput();
    return 0;
}

int firstAudible(int period, int argc, char** argv, int first)
{
    qinghe::setMediaOutputPeriod(period);
    MediaPlayer player;
    BlockWatch watch;
    bool deviceShown = false;
    std::vector<double> toAudible, leading, opening;
    std::mt19937 random(12345);
    double betweenBlocksUs = 0;
    for (int a = first; a < argc; ++a) {
        const qinghe::Text name = qinghe::fromQString(QString::fromLocal8Bit(argv[a]));
        player.stop();
        std::this_thread::sleep_for(kSilenceBefore);
        if (betweenBlocksUs > 0) {
            std::uniform_int_distribution<std::int64_t> offsetUs(
                0, static_cast<std::int64_t>(betweenBlocksUs) - 1);
            watch.waitIntoPeriod(std::chrono::microseconds(offsetUs(random)));
        }
        watch.arm(kAudibleLevel, -1);
        const auto t0 = Clock::now();
        const bool opened = player.open(name);
        const auto openDone = Clock::now();
        player.play(-1);
        // Playback starts with the block counted after play; to within a
        // block only if one was counted while play ran (rare).
        const std::uint64_t playbackStart = qinghe::mediaMixedFrames();
        player.setVolume(100, 100);
        if (!opened) {
            std::printf("%-28s cannot be opened\n", argv[a]);
            continue;
        }
        if (!watch.wait()) {
            std::printf("%-28s nothing audible within %lld s\n", argv[a],
                        static_cast<long long>(kDetectLimit.count()));
            continue;
        }
        // Frames of the file before its first audible sample.
        const double inFile =
            1000.0 * static_cast<double>(watch.frameFound() - playbackStart) / kRate;
        if (!deviceShown) {
            if (!describeDevice(period, watch, betweenBlocksUs))
                return 1;
            std::printf("%-28s %10s %12s %12s\n", "file", "open ms", "audible ms", "in file ms");
            deviceShown = true;
        }
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

std::vector<int> periodsOf(const char* list)
{
    std::vector<int> periods;
    for (const QByteArray& part : QByteArray(list).split(',')) {
        const int frames = part.toInt();
        if (frames > 0)
            periods.push_back(frames);
    }
    return periods;
}

}  // namespace

int main(int argc, char** argv)
{
    int clicks = kDefaultClicks;
    int volume = kDefaultVolume;
    std::vector<int> periods(kDefaultPeriods.begin(), kDefaultPeriods.end());
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--first-audible") == 0)
            return firstAudible(periods.back(), argc, argv, i + 1);
        if (std::strcmp(argv[i], "--clicks") == 0 && i + 1 < argc)
            clicks = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--volume") == 0 && i + 1 < argc)
            volume = std::clamp(std::atoi(argv[++i]), 1, 100);
        else if (std::strcmp(argv[i], "--periods") == 0 && i + 1 < argc)
            periods = periodsOf(argv[++i]);
    }
    if (periods.empty()) {
        std::printf("--periods takes frame counts such as 512,128\n");
        return 2;
    }
    return clickLatency(periods, clicks, volume);
}
