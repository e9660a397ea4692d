#include "audio_output.h"

#include "sound_file_library.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>
#include <utility>

namespace qinghe {

namespace {

// Periods asked of the audio device, shortest first. 128 frames is 2.9 ms at
// 44100 Hz, so a click reaches the device within a few milliseconds; a
// device that refuses a period, or keeps falling behind at it, gets the next.
// 512 frames (11.6 ms) is long enough for a busy two-core machine.
constexpr std::array<int, 3> kPeriodLadder = {128, 256, 512};
constexpr int kBytesPerSample = 2;
// Half of the divisor, to round a scaled sample to the nearest value.
constexpr int kHalfVolume = kFullVolume / 2;

// The counted word: volumes in the low 20 bits (10 bits each hold 0..1000),
// frames above them; 44 bits of frames last twelve years at 44100 Hz.
constexpr int kVolumeBits = 10;
constexpr std::uint64_t kVolumeMask = (1u << kVolumeBits) - 1;
constexpr int kFrameShift = 2 * kVolumeBits;
constexpr std::uint64_t kVolumesMask = (std::uint64_t{1} << kFrameShift) - 1;

constexpr std::uint64_t volumesWord(int left, int right)
{
    return (static_cast<std::uint64_t>(left) << kVolumeBits) | static_cast<std::uint64_t>(right);
}

// A block that comes more than this many periods behind the best the device
// has kept in the current window left the device without sound to play.
constexpr int kLateByPeriods = 2;
// The window the best is kept over: long enough to see a stall against the
// steady pace, short enough that drift between the device's clock and the
// system's cannot add up to a period.
constexpr auto kPaceWindow = std::chrono::seconds(1);
// Blocks late at one period before the next longer one is tried: one stall
// (the machine busy starting something) is not a habit.
constexpr std::uint64_t kLateBlocksBeforeLongerPeriod = 3;

int scaled(int sample, int gain)
{
    const int product = sample * gain;
    return (product >= 0 ? product + kHalfVolume : product - kHalfVolume) / kFullVolume;
}

// A sample times volume and loudness gain together, rounded to the nearest
// value and held to the sample range rather than wrapped.
std::int16_t scaledAndHeld(std::int16_t sample, float factor)
{
    constexpr float kLowest = std::numeric_limits<std::int16_t>::min();
    constexpr float kHighest = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::clamp(std::nearbyint(sample * factor), kLowest, kHighest));
}

// A block at the volumes and a loudness gain other than unity.
void scaleWithLoudnessGain(std::int16_t* samples, int frames, int left, int right, float gain)
{
    const float leftFactor = static_cast<float>(left) / kFullVolume * gain;
    const float rightFactor = static_cast<float>(right) / kFullVolume * gain;
    for (int i = 0; i < frames; ++i) {
        samples[2 * i] = scaledAndHeld(samples[2 * i], leftFactor);
        samples[2 * i + 1] = scaledAndHeld(samples[2 * i + 1], rightFactor);
    }
}

// Drivers that pace themselves with a sleep (no sound is heard) cannot run
// dry: a late block only makes them slower.
bool keepsItsOwnClock(const char* driver)
{
    return driver && std::strcmp(driver, "disk") != 0 && std::strcmp(driver, "dummy") != 0;
}

}  // namespace

AudioOutput::~AudioOutput()
{
    close();
    delete observer_.exchange(nullptr);
}

bool AudioOutput::open()
{
    if (open_)
        return true;
    // Nothing may play while the output's place is away, not even the default.
    if (target_.driver == kNoAudioDriver)
        return false;
    library_ = soundLibrary();
    if (!library_)
        return false;
    // The program handles its own signals; the audio layer must not take them.
    library_->setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (!startAudio(target_) && (target_ == MediaOutputDevice{} || !startAudio({})))
        return false;
    // Only the music stream is used; its own volume stays at unity so the
    // post-mix gains are the only scaling.
    library_->allocateChannels(0);
    library_->volumeMusic(MIX_MAX_VOLUME);
    // The post-mix stage is not yet called: its state is this thread's to set.
    counted_.store(volumesWord(kFullVolume, kFullVolume));
    loudnessGain_.store(kUnityLoudnessGain);
    deviceFrames_.store(0);
    lateBlocks_.store(0);
    pace_ = Pace{};
    voices_.resetLimiter();
    library_->setPostMix(&AudioOutput::postMix, this);
    open_ = true;
    return true;
}

bool AudioOutput::startAudio(const MediaOutputDevice& target)
{
    chooseDriver(target.driver);
    if (library_->initSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    library_->init(MIX_INIT_MP3);
    if (!openDevice(target.device)) {
        library_->quit();
        library_->quitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

// The driver is read as the audio subsystem starts. A chosen one overrides
// SDL_AUDIODRIVER; going back to the default gives the environment its say again.
void AudioOutput::chooseDriver(const std::string& driver)
{
    if (driver.empty() && !driverChosen_)
        return;
    const char* fromEnvironment = std::getenv("SDL_AUDIODRIVER");
    const std::string chosen = driver.empty() ? (fromEnvironment ? fromEnvironment : "") : driver;
    // An empty name lets the audio layer try its drivers in its own order.
    library_->setHintWithPriority(SDL_HINT_AUDIODRIVER, chosen.c_str(), SDL_HINT_OVERRIDE);
    driverChosen_ = !driver.empty();
}

bool AudioOutput::openDevice(const std::string& device)
{
    int period = firstPeriod();
    for (;;) {
        // Rate, sample format and channels are fixed: blocks always arrive as
        // 16-bit stereo at kRate. The period may differ from the one asked:
        // a device that takes its own gets blocks of its own size.
        if (library_->openAudioDevice(kRate, AUDIO_S16SYS, kChannels, period,
                                      device.empty() ? nullptr : device.c_str(), SDL_AUDIO_ALLOW_SAMPLES_CHANGE)
            == 0) {
            askedPeriod_ = period;
            return true;
        }
        const auto longer = std::upper_bound(kPeriodLadder.begin(), kPeriodLadder.end(), period);
        if (longer == kPeriodLadder.end())
            return false;
        period = *longer;
    }
}

int AudioOutput::firstPeriod() const
{
    return requestedPeriod_ > 0 ? requestedPeriod_ : kPeriodLadder.front();
}

void AudioOutput::close()
{
    if (!open_)
        return;
    library_->haltMusic();
    libraryPlaying_ = nullptr;
    // Every block up to the last one handed over is still finished and counted.
    library_->closeAudio();
    library_->setPostMix(nullptr, nullptr);
    // The audio thread is gone: the voices can go without waiting for it.
    voices_.clear();
    library_->quit();
    library_->quitSubSystem(SDL_INIT_AUDIO);
    open_ = false;
}

void AudioOutput::lengthenPeriodIfLate()
{
    if (!open_ || lateBlocks_.load() < kLateBlocksBeforeLongerPeriod
        || !keepsItsOwnClock(library_->currentAudioDriver()))
        return;
    const auto longer = std::upper_bound(kPeriodLadder.begin(), kPeriodLadder.end(), askedPeriod_);
    if (longer == kPeriodLadder.end())
        return;
    close();
    requestedPeriod_ = *longer;
    open();
}

namespace {

Mix_Music* libraryMusicOf(const OpenedMusic* music)
{
    return static_cast<Mix_Music*>(music->libraryMusic);
}

}  // namespace

OpenedMusic* AudioOutput::loadMusic(const char* path, bool ownVoice)
{
    if (ownVoice) {
        if (const SoundFileLibrary* files = soundFileLibrary()) {
            auto music = std::make_unique<OpenedMusic>();
            music->path = path;
            music->held = files->open(path, SFM_READ, &music->info);
            if (music->held && music->info.samplerate > 0 && music->info.channels > 0)
                return music.release();
            if (music->held)
                files->close(music->held);
        }
        // What libsndfile cannot read, the sound library may.
    }
    Mix_Music* libraryMusic = library_->loadMusic(path);
    if (!libraryMusic)
        return nullptr;
    auto* music = new OpenedMusic;
    music->libraryMusic = libraryMusic;
    return music;
}

void AudioOutput::freeMusic(OpenedMusic* music)
{
    haltMusic(music, false);
    if (music->libraryMusic)
        library_->freeMusic(libraryMusicOf(music));
    if (music->held)
        soundFileLibrary()->close(music->held);
    delete music;
}

double AudioOutput::musicDuration(OpenedMusic* music)
{
    if (music->libraryMusic)
        return library_->musicDuration(libraryMusicOf(music));
    return voiceDuration(*music);
}

int AudioOutput::playMusic(OpenedMusic* music, std::optional<double> fromSeconds, bool fadeAtEnd)
{
    if (music->libraryMusic) {
        // The music's volumes and gain are in force before its first block is mixed.
        setMusicGain(music->leftVolume, music->rightVolume);
        setMusicLoudnessGain(music->loudnessGain);
        Mix_Music* libraryMusic = libraryMusicOf(music);
        const int started = fromSeconds ? library_->fadeInMusicAt(libraryMusic, 0, 0, *fromSeconds)
                                        : library_->playMusic(libraryMusic, 0);
        libraryPlaying_ = started == 0 ? music : nullptr;
        return started;
    }
    return startVoice(voices_, *soundFileLibrary(), *music, fromSeconds, fadeAtEnd, true) != nullptr ? 0 : -1;
}

void AudioOutput::haltMusic(OpenedMusic* music, bool fade)
{
    if (music->libraryMusic) {
        if (libraryPlaying_ == music) {
            library_->haltMusic();
            libraryPlaying_ = nullptr;
        }
        return;
    }
    if (music->voice) {
        if (fade)
            voices_.fadeOut(music->voice);
        else
            voices_.remove(music->voice);
        music->voice = nullptr;
    }
}

bool AudioOutput::playingMusic(OpenedMusic* music)
{
    if (music->libraryMusic)
        return libraryPlaying_ == music && library_->playingMusic() != 0;
    return music->voice && !music->voice->finished();
}

double AudioOutput::musicPosition(OpenedMusic* music)
{
    if (music->libraryMusic)
        return library_->musicPosition(libraryMusicOf(music));
    return music->voice ? static_cast<double>(music->voice->position()) / kRate : -1;
}

void AudioOutput::setGain(OpenedMusic* music, int left, int right)
{
    music->leftVolume = left;
    music->rightVolume = right;
    if (music->libraryMusic && libraryPlaying_ == music)
        setMusicGain(left, right);
    if (music->voice)
        music->voice->setVolumes(left, right);
}

void AudioOutput::setLoudnessGain(OpenedMusic* music, float factor)
{
    music->loudnessGain = factor;
    if (music->libraryMusic && libraryPlaying_ == music)
        setMusicLoudnessGain(factor);
    if (music->voice)
        music->voice->setLoudnessGain(factor);
}

void AudioOutput::setMusicGain(int left, int right)
{
    const std::uint64_t volumes = volumesWord(left, right);
    std::uint64_t word = counted_.load();
    // Only a block being counted at the same instant can make this retry.
    while (!counted_.compare_exchange_weak(word, (word & ~kVolumesMask) | volumes)) {
    }
}

std::uint64_t AudioOutput::mixedFrames() const
{
    return counted_.load() >> kFrameShift;
}

void AudioOutput::setMixObserver(MediaMixObserver observer)
{
    auto* fresh = observer ? new MediaMixObserver(std::move(observer)) : nullptr;
    MediaMixObserver* old = observer_.exchange(fresh);
    // The audio thread notes that it is inside before it reads the observer,
    // so once it is out no block can still be using the old one.
    while (observerCalls_.load() != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    delete old;
}

MediaOutputFormat AudioOutput::format() const
{
    const int frames = deviceFrames_.load();
    if (frames > 0)
        return {kRate, kChannels, frames};
    return {kRate, kChannels, askedPeriod_ > 0 ? askedPeriod_ : firstPeriod()};
}

std::string AudioOutput::driverName() const
{
    const char* name = open_ ? library_->currentAudioDriver() : nullptr;
    return name ? name : "";
}

void SDLCALL AudioOutput::postMix(void* self, Uint8* stream, int length)
{
    static_cast<AudioOutput*>(self)->finishBlock(
        reinterpret_cast<std::int16_t*>(stream), length / (kBytesPerSample * kChannels));
}

void AudioOutput::finishBlock(std::int16_t* samples, int frames)
{
    notePace(Clock::now(), frames);
    deviceFrames_.store(frames, std::memory_order_relaxed);
    const std::uint64_t word =
        counted_.fetch_add(static_cast<std::uint64_t>(frames) << kFrameShift);
    const int left = static_cast<int>((word >> kVolumeBits) & kVolumeMask);
    const int right = static_cast<int>(word & kVolumeMask);
    // Read after the block is counted: a gain set before a count is read is
    // in force for every block counted after it.
    const float loudnessGain = loudnessGain_.load();
    if (loudnessGain != kUnityLoudnessGain) {
        scaleWithLoudnessGain(samples, frames, left, right, loudnessGain);
    } else if (left != kFullVolume || right != kFullVolume) {
        for (int i = 0; i < frames; ++i) {
            samples[2 * i] = static_cast<std::int16_t>(scaled(samples[2 * i], left));
            samples[2 * i + 1] = static_cast<std::int16_t>(scaled(samples[2 * i + 1], right));
        }
    }
    // The own voices take their volumes here too, after the block is counted.
    voices_.mixInto(samples, frames);
    observerCalls_.fetch_add(1);
    if (const MediaMixObserver* observer = observer_.load())
        (*observer)(samples, frames, word >> kFrameShift);
    observerCalls_.fetch_sub(1);
}

// A device plays its frames at its rate whether or not the next block is
// ready; so frames due by the clock minus frames handed over is how far the
// blocks lag. The lag wanders with the device's own rhythm; a jump of more
// than kLateByPeriods above its least value means the device ran dry.
void AudioOutput::notePace(Clock::time_point now, int frames)
{
    if (!pace_.started) {
        pace_.started = true;
        pace_.start = now;
        pace_.windowStart = now;
    } else {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(now - pace_.start).count();
        constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
        const std::int64_t due = elapsed * kRate / kMicrosecondsPerSecond;
        const std::int64_t lag = due - pace_.handed;
        if (now - pace_.windowStart >= kPaceWindow) {
            pace_.windowStart = now;
            pace_.leastLag = lag;
        } else if (lag < pace_.leastLag) {
            pace_.leastLag = lag;
        }
        if (lag - pace_.leastLag > static_cast<std::int64_t>(kLateByPeriods) * frames) {
            lateBlocks_.fetch_add(1, std::memory_order_relaxed);
            pace_.leastLag = lag;  // one stall counts once
        }
    }
    pace_.handed += frames;
}

}  // namespace qinghe
