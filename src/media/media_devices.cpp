#include "media_devices.h"

#include "audio_output.h"
#include "media_path.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace qinghe {

namespace {

constexpr std::int64_t kMillisecondsPerSecond = 1000;
// Decoders report "not known" as a negative length or position.
constexpr std::int64_t kUnknown = -1;

Text lowerAlias(const Text& alias)
{
    return toLowerAsciiText(alias);
}

constexpr int outputRate()
{
    return AudioOutput::kRate;
}

std::int64_t framesOfSeconds(double seconds)
{
    return seconds < 0 ? kUnknown : std::llround(seconds * outputRate());
}

// No position lies beyond a year of sound; larger numbers would overflow.
constexpr std::int64_t kLongestMilliseconds = 365LL * 24 * 3600 * kMillisecondsPerSecond;

std::int64_t framesOfMilliseconds(std::int64_t ms)
{
    return ms * outputRate() / kMillisecondsPerSecond;
}

// The frame a position in milliseconds names, or kUnknown when the device
// has no such position.
std::int64_t positionFrame(std::int64_t ms, std::int64_t lengthFrames)
{
    if (ms < 0 || ms > kLongestMilliseconds)
        return kUnknown;
    const std::int64_t frame = framesOfMilliseconds(ms);
    return lengthFrames != kUnknown && frame > lengthFrames ? kUnknown : frame;
}

// Seconds for a decoder seek; half a frame more, so a decoder that truncates
// lands on the frame itself rather than the one before.
double secondsOfFrame(std::int64_t frame)
{
    return (static_cast<double>(frame) + 0.5) / outputRate();
}

}  // namespace

struct MediaDevices::Device {
    MediaOpenRecord record;
    OpenedMusic* music = nullptr;
    std::int64_t lengthFrames = kUnknown;
    std::int64_t standFrame = 0;  // valid while the device does not own the output
    int leftVolume = kFullVolume;
    int rightVolume = kFullVolume;
    float loudnessGain = kUnityLoudnessGain;
};

MediaDevices::MediaDevices(MusicOutput& output) : output_(&output) {}

MediaDevices::~MediaDevices()
{
    closeAll();
}

int MediaDevices::open(const MediaOpenRecord& record)
{
    if (record.alias.empty())
        return kMediaMissingDeviceName;
    const Text key = lowerAlias(record.alias);
    if (devices_.count(key))
        return kMediaDuplicateAlias;
    // With nothing open the output can be opened again without cutting a sound.
    if (devices_.empty())
        output_->lengthenPeriodIfLate();
    if (!output_->open())
        return kMediaHardwareError;
    const QString path = resolveMediaFile(record.elementName);
    if (path.isEmpty())
        return kMediaFileNotFound;
    // Music is streamed from the file as it plays, so a long song costs no
    // more memory than a click and opens without being decoded.
    OpenedMusic* music = output_->loadMusic(QFile::encodeName(path).constData(), ownVoices());
    if (!music)
        return kMediaInvalidFile;
    auto device = std::make_unique<Device>();
    device->record = record;
    device->music = music;
    device->lengthFrames = framesOfSeconds(output_->musicDuration(music));
    devices_.emplace(key, std::move(device));
    return kMediaOk;
}

int MediaDevices::run(const MediaCommand& command)
{
    Device* device = find(command.alias);
    if (!device)
        return kMediaInvalidDeviceName;
    switch (command.verb) {
    case MediaVerb::Close:
        close(*device, true);
        return kMediaOk;
    case MediaVerb::Window:
        // No video is ever shown; audio devices accept the window and ignore it.
        return kMediaOk;
    case MediaVerb::Play:
        return play(*device, command.from);
    case MediaVerb::Stop:
        release(*device, true);
        return kMediaOk;
    case MediaVerb::Seek:
        return seek(*device, command);
    case MediaVerb::SetAudio:
        return setAudio(*device, command);
    }
    return kMediaUnrecognizedCommand;
}

void MediaDevices::closeAll()
{
    while (!devices_.empty())
        close(*devices_.begin()->second, false);
}

void MediaDevices::setMixing(const MediaMixing& mixing)
{
    mixing_ = mixing;
    mixing_.voices = std::clamp(mixing_.voices, 1, kMostMediaVoices);
    while (static_cast<int>(playing_.size()) > mixing_.voices)
        release(*playing_.front(), true);
}

bool MediaDevices::playing(const Text& alias)
{
    const Device* device = find(alias);
    return device && isPlaying(*device) && output_->playingMusic(device->music);
}

bool MediaDevices::ownVoices() const
{
    return mixing_ != MediaMixing{};
}

MediaDevices::Device* MediaDevices::find(const Text& alias)
{
    const auto it = devices_.find(lowerAlias(alias));
    return it == devices_.end() ? nullptr : it->second.get();
}

void MediaDevices::close(Device& device, bool fade)
{
    release(device, fade);
    output_->freeMusic(device.music);
    devices_.erase(lowerAlias(device.record.alias));
}

int MediaDevices::play(Device& device, std::optional<std::int64_t> fromMs)
{
    std::int64_t start = 0;
    if (fromMs) {
        start = positionFrame(*fromMs, device.lengthFrames);
        if (start == kUnknown)
            return kMediaOutOfRange;
    } else {
        if (isPlaying(device) && output_->playingMusic(device.music))
            return kMediaOk;  // already playing: carry on
        start = standingFrame(device);
    }
    release(device, true);
    makeRoom(device);
    if (device.lengthFrames != kUnknown && start >= device.lengthFrames) {
        device.standFrame = device.lengthFrames;  // at the end: nothing left to play
        return kMediaOk;
    }
    // The device's volumes and gain are in force before its first block is mixed.
    output_->setGain(device.music, device.leftVolume, device.rightVolume);
    output_->setLoudnessGain(device.music, device.loudnessGain);
    const int started = output_->playMusic(
        device.music, start == 0 ? std::nullopt : std::optional<double>(secondsOfFrame(start)), mixing_.fadeCuts);
    if (started != 0) {
        device.standFrame = start;
        return kMediaHardwareError;
    }
    playing_.push_back(&device);
    return kMediaOk;
}

void MediaDevices::makeRoom(const Device& next)
{
    // A device played to its end holds no voice: it lets go, keeping its place at the end.
    for (std::size_t i = 0; i < playing_.size();) {
        Device* other = playing_[i];
        if (other != &next && !output_->playingMusic(other->music))
            release(*other, false);
        else
            ++i;
    }
    while (static_cast<int>(playing_.size()) >= mixing_.voices)
        release(*playing_.front(), true);
}

int MediaDevices::seek(Device& device, const MediaCommand& command)
{
    std::int64_t target = 0;
    switch (command.seekTarget) {
    case SeekTarget::Start:
        break;
    case SeekTarget::End:
        target = device.lengthFrames != kUnknown ? device.lengthFrames : standingFrame(device);
        break;
    case SeekTarget::Position:
        target = positionFrame(command.number, device.lengthFrames);
        if (target == kUnknown)
            return kMediaOutOfRange;
        break;
    }
    // Seeking stops the device, as it does on the platform.
    release(device, true);
    device.standFrame = target;
    return kMediaOk;
}

int MediaDevices::setAudio(Device& device, const MediaCommand& command)
{
    if (command.number < 0 || command.number > kFullVolume)
        return kMediaOutOfRange;
    const int volume = static_cast<int>(command.number);
    if (command.channel != AudioChannel::Right)
        device.leftVolume = volume;
    if (command.channel != AudioChannel::Left)
        device.rightVolume = volume;
    if (isPlaying(device))
        output_->setGain(device.music, device.leftVolume, device.rightVolume);
    return kMediaOk;
}

int MediaDevices::setLoudnessGain(const Text& alias, double factor)
{
    Device* device = find(alias);
    if (!device)
        return kMediaInvalidDeviceName;
    if (!std::isfinite(factor) || factor <= 0 || factor > kMostLoudnessGain)
        return kMediaOutOfRange;
    device->loudnessGain = static_cast<float>(factor);
    if (isPlaying(*device))
        output_->setLoudnessGain(device->music, device->loudnessGain);
    return kMediaOk;
}

bool MediaDevices::isPlaying(const Device& device) const
{
    return std::find(playing_.begin(), playing_.end(), &device) != playing_.end();
}

std::int64_t MediaDevices::standingFrame(const Device& device) const
{
    if (!isPlaying(device))
        return device.standFrame;
    if (!output_->playingMusic(device.music) && device.lengthFrames != kUnknown)
        return device.lengthFrames;  // played to its end and stays there
    std::int64_t frame = framesOfSeconds(output_->musicPosition(device.music));
    if (frame == kUnknown)
        frame = device.standFrame;
    if (device.lengthFrames != kUnknown && frame > device.lengthFrames)
        frame = device.lengthFrames;
    return frame;
}

void MediaDevices::release(Device& device, bool fade)
{
    const auto at = std::find(playing_.begin(), playing_.end(), &device);
    if (at == playing_.end())
        return;
    device.standFrame = standingFrame(device);
    output_->haltMusic(device.music, fade && mixing_.fadeCuts);
    playing_.erase(at);
}

}  // namespace qinghe
