#include "device_output.h"

#include "output_target.h"
#include "sound_module.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>
#include <utility>

namespace qinghe {

namespace {

// Periods asked of the audio device, shortest first. 128 frames is 2.9 ms at
// 44100 Hz, so a click reaches the device within a few milliseconds; a
// device that refuses a period, or keeps falling behind at it, gets the next.
// 512 frames (11.6 ms) is long enough for a busy two-core machine.
constexpr std::array<int, 3> kPeriodLadder = {128, 256, 512};

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

// Drivers that pace themselves with a sleep (no sound is heard) cannot run
// dry: a late block only makes them slower.
bool keepsItsOwnClock(const std::string& driver)
{
    return driver != "disk" && driver != "dummy";
}

}  // namespace

DeviceOutput::~DeviceOutput()
{
    close();
    delete observer_.exchange(nullptr);
}

bool DeviceOutput::open()
{
    if (device_)
        return true;
    // Nothing may play while the output's place is away, not even the default.
    if (target_.driver == kNoAudioDriver)
        return false;
    // The audio thread is not running: its state is this thread's to set.
    deviceFrames_.store(0);
    lateBlocks_.store(0);
    pace_ = Pace{};
    voices_.resetLimiter();
    // A device that cannot be opened gives way to the default.
    return openAt(target_) || (!(target_.driver.empty() && target_.device.empty()) && openAt({}));
}

bool DeviceOutput::openAt(const AudioDeviceRequest& target)
{
    const SoundModule* module = soundModule();
    if (!module)
        return false;
    AudioDeviceRequest request = target;
    request.rate = kRate;
    for (int period = firstPeriod();;) {
        request.periodFrames = period;
        device_ = module->openAudioDevice(request, &DeviceOutput::fill, this);
        if (device_) {
            askedPeriod_ = period;
            return true;
        }
        const auto longer = std::upper_bound(kPeriodLadder.begin(), kPeriodLadder.end(), period);
        if (longer == kPeriodLadder.end())
            return false;
        period = *longer;
    }
}

int DeviceOutput::firstPeriod() const
{
    return requestedPeriod_ > 0 ? requestedPeriod_ : kPeriodLadder.front();
}

void DeviceOutput::close()
{
    // Every block up to the last one handed over is still finished and counted.
    device_.reset();
    // The audio thread is gone: the voices can go without waiting for it.
    voices_.clear();
    // A closed output has counted nothing, so the count read before the
    // play that opens it again stands where its first block will.
    counted_.store(0);
}

void DeviceOutput::lengthenPeriodIfLate()
{
    if (!device_ || lateBlocks_.load() < kLateBlocksBeforeLongerPeriod || !keepsItsOwnClock(device_->driverName()))
        return;
    const auto longer = std::upper_bound(kPeriodLadder.begin(), kPeriodLadder.end(), askedPeriod_);
    if (longer == kPeriodLadder.end())
        return;
    close();
    requestedPeriod_ = *longer;
    open();
}

void DeviceOutput::setMixObserver(MixObserver observer)
{
    auto* fresh = observer ? new MixObserver(std::move(observer)) : nullptr;
    MixObserver* old = observer_.exchange(fresh);
    // The audio thread notes that it is inside before it reads the observer,
    // so once it is out no block can still be using the old one.
    while (observerCalls_.load() != 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    delete old;
}

OutputFacts DeviceOutput::facts() const
{
    const int frames = deviceFrames_.load();
    OutputFacts facts{kRate, kVoiceChannels, frames > 0 ? frames : (askedPeriod_ > 0 ? askedPeriod_ : firstPeriod()),
                      lateBlocks_.load(), {}};
    if (device_)
        facts.driver = device_->driverName();
    return facts;
}

void DeviceOutput::fill(void* self, std::int16_t* samples, int frames)
{
    static_cast<DeviceOutput*>(self)->finishBlock(samples, frames);
}

void DeviceOutput::finishBlock(std::int16_t* samples, int frames)
{
    notePace(Clock::now(), frames);
    deviceFrames_.store(frames, std::memory_order_relaxed);
    // Counted before the voices are mixed: a change made before the count
    // is read is in force for every block counted after it.
    const std::uint64_t first = counted_.fetch_add(static_cast<std::uint64_t>(frames));
    std::memset(samples, 0, static_cast<std::size_t>(frames) * kVoiceChannels * sizeof(std::int16_t));
    voices_.mixInto(samples, frames);
    observerCalls_.fetch_add(1);
    if (const MixObserver* observer = observer_.load())
        (*observer)(samples, frames, first);
    observerCalls_.fetch_sub(1);
}

// A device plays its frames at its rate whether or not the next block is
// ready; so frames due by the clock minus frames handed over is how far the
// blocks lag. The lag wanders with the device's own rhythm; a jump of more
// than kLateByPeriods above its least value means the device ran dry.
void DeviceOutput::notePace(Clock::time_point now, int frames)
{
    if (!pace_.started) {
        pace_.started = true;
        pace_.start = now;
        pace_.windowStart = now;
    } else {
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - pace_.start).count();
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
