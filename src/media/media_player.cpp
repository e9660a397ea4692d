#include "media_player.h"

#include "media_control.h"
#include "media_file_kind.h"
#include "media_path.h"

#include <QUuid>

#include <cmath>
#include <cstdint>

namespace qinghe {

namespace {

// Volumes are given in percent; the device counts 0..1000.
constexpr std::int64_t kPercentScale = 10;
constexpr std::int64_t kLowestVolume = 0;
constexpr std::int64_t kHighestVolume = 1000;
// Stands for an absent volume; never sent.
constexpr std::int64_t kNoVolume = -1;
// Decibels of an amplitude ratio: 20 per factor of ten.
constexpr double kDecibelBase = 10;
constexpr double kDecibelsPerDecade = 20;

Text newAlias()
{
    const QUuid id = QUuid::createUuid();
    if (id.isNull())
        return {};  // commands then name no device and fail
    return id.toString(QUuid::Id128).toLower().toStdString();
}

std::int64_t scaledVolume(std::optional<int> percent)
{
    return percent ? *percent * kPercentScale : kNoVolume;
}

bool inVolumeRange(std::int64_t volume)
{
    return volume >= kLowestVolume && volume <= kHighestVolume;
}

}  // namespace

MediaPlayer::MediaPlayer() : alias_(newAlias()) {}

MediaPlayer::~MediaPlayer()
{
    send("close " + alias_);
}

bool MediaPlayer::open(const Text& fileName)
{
    send("close " + alias_);  // the previous sound stops here; the answer does not matter
    fileName_ = fileName;
    extension_ = mediaExtension(fileName_);
    const int result = openMediaDevice({deviceTypeForExtension(extension_), fileName_, alias_});
    hasVideo_ = extensionHasVideo(extension_);
    // A display window is never remembered (no video is shown), so none is attached here.
    return result == kMediaOk;
}

bool MediaPlayer::play(int position)
{
    const Text command =
        position == -1 ? "play " + alias_ : "play " + alias_ + " from " + std::to_string(position);
    return send(command) == kMediaOk;
}

bool MediaPlayer::stop()
{
    if (send("stop " + alias_) != kMediaOk)
        return false;
    send("seek " + alias_ + " to start");
    return true;
}

bool MediaPlayer::setVolume(std::optional<int> left, std::optional<int> right)
{
    const std::int64_t leftVolume = scaledVolume(left);
    const std::int64_t rightVolume = scaledVolume(right);
    const Text leftCommand =
        "setaudio " + alias_ + " left volume to " + std::to_string(leftVolume);
    const Text rightCommand =
        "setaudio " + alias_ + " right volume to " + std::to_string(rightVolume);
    bool result = false;
    if (inVolumeRange(leftVolume))
        result = send(leftCommand) == kMediaOk;
    if (inVolumeRange(rightVolume) && send(rightCommand) != kMediaOk)
        result = false;
    return result;
}

bool MediaPlayer::setLoudnessGain(double decibels)
{
    return setMediaLoudnessGain(alias_, std::pow(kDecibelBase, decibels / kDecibelsPerDecade)) == kMediaOk;
}

bool MediaPlayer::playing() const
{
    return mediaDevicePlaying(alias_);
}

bool mediaFileOpens(const Text& fileName)
{
    const Text alias = newAlias();
    if (alias.empty())
        return false;
    const int result = openMediaDevice({deviceTypeForExtension(mediaExtension(fileName)), fileName, alias});
    sendMediaCommand("close " + alias);
    // Without an audio device no file can be tried; one that is there may
    // well play once the device is back.
    if (result == kMediaHardwareError)
        return !resolveMediaFile(fileName).isEmpty();
    return result == kMediaOk;
}

int MediaPlayer::send(const Text& command) const
{
    return sendMediaCommand(command);
}

}  // namespace qinghe
