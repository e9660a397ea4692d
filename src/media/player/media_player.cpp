#include "media_player.h"

#include "media_path.h"

#include <QFile>

namespace qinghe {

namespace {

// Volumes are given in percent; the engine counts 0..kFullVolume.
constexpr int kPercentScale = kFullVolume / 100;
constexpr int kMostPercent = 100;

bool inPercentRange(std::optional<int> percent)
{
    return percent && *percent >= 0 && *percent <= kMostPercent;
}

std::string nativePath(const Text& fileName)
{
    const QString path = resolveMediaFile(fileName);
    return path.isEmpty() ? std::string() : QFile::encodeName(path).toStdString();
}

}  // namespace

SoundFileProblem mediaFileProblem(const Text& fileName)
{
    const std::string path = nativePath(fileName);
    if (path.empty())
        return SoundFileProblem::NotFound;
    return SoundEngine::instance().check(path);
}

MediaPlayer::~MediaPlayer()
{
    stop();
}

bool MediaPlayer::open(const Text& fileName)
{
    stop();
    fileName_ = fileName;
    path_ = nativePath(fileName);
    gains_.decibels = 0;
    return !path_.empty() && SoundEngine::instance().check(path_) == SoundFileProblem::None;
}

bool MediaPlayer::play(int position)
{
    SoundEngine& engine = SoundEngine::instance();
    if (position == -1 && engine.playing(voice_))
        return true;
    if (path_.empty())
        return false;
    engine.stop(voice_);
    voice_ = engine.play(path_, gains_, position > 0 ? std::chrono::milliseconds(position)
                                                      : std::chrono::milliseconds(0))
                 .voice;
    return voice_ != kNoVoice;
}

bool MediaPlayer::stop()
{
    if (voice_ == kNoVoice)
        return false;
    SoundEngine::instance().stop(voice_);
    voice_ = kNoVoice;
    return true;
}

bool MediaPlayer::setVolume(std::optional<int> left, std::optional<int> right)
{
    if (inPercentRange(left))
        gains_.left = *left * kPercentScale;
    if (inPercentRange(right))
        gains_.right = *right * kPercentScale;
    SoundEngine::instance().setGains(voice_, gains_);
    return inPercentRange(left) && (!right || inPercentRange(right));
}

bool MediaPlayer::setLoudnessGain(double decibels)
{
    gains_.decibels = decibels;
    SoundEngine::instance().setGains(voice_, gains_);
    return true;
}

bool MediaPlayer::playing() const
{
    return SoundEngine::instance().playing(voice_);
}

}  // namespace qinghe
