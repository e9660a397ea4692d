#include "sound_settings.h"

#include "base/private_profile.h"
#include "text/gbk.h"

#include <algorithm>
#include <climits>
#include <string>

namespace qinghe {

namespace {

// Keys of the section, and the two words a switch is written as.
constexpr const char* kListeningDeviceKey = "监听设备";
constexpr const char* kVirtualMicrophoneKey = "虚拟麦克风";
constexpr const char* kPassThroughKey = "麦克风直通";
constexpr const char* kPassThroughSourceKey = "直通来源";
constexpr const char* kChatLevelKey = "聊天音量";
constexpr const char* kListeningLevelKey = "监听音量";
constexpr const char* kMicrophoneLevelKey = "麦克风音量";
constexpr const char* kOverlapPlaybackKey = "叠加播放";
constexpr const char* kSecondClickStopsKey = "再次点击停止";
constexpr const char* kStopFadeKey = "停止淡出";
constexpr const char* kDuckMusicKey = "说话时压低音乐";
constexpr const char* kDuckThresholdKey = "压低阈值";
constexpr const char* kDuckDepthKey = "压低幅度";
constexpr const char* kDuckAttackKey = "压低时间";
constexpr const char* kDuckHoldKey = "保持时间";
constexpr const char* kDuckReleaseKey = "恢复时间";
constexpr const char* kOn = "1";
constexpr const char* kOff = "0";

// my.ini is GBK; the server's names are UTF-8. Names go through the same
// conversion as file names, so one that GBK cannot hold still comes back.
Text gbk(const std::string& utf8)
{
    return nameFromQString(QString::fromStdString(utf8));
}

std::string utf8(const Text& gbkText)
{
    return nameToQString(gbkText).toStdString();
}

int levelOf(const Text& text)
{
    return std::clamp(wholeNumberFromText(text, INT_MIN, INT_MAX).value_or(kFullLevel), 0, kFullLevel);
}

// A number the host may have typed by hand: one outside first..last, or not
// a number at all, leaves the default.
int numberOf(const Text& text, int fallback, int first, int last)
{
    return wholeNumberFromText(text, first, last).value_or(fallback);
}

}  // namespace

SoundSettings readSoundSettings(const QString& iniPath)
{
    const ProfileSnapshot file = readProfileSnapshot(iniPath);
    const Text section = gbk(kSoundSettingsSection);
    auto read = [&](const char* key) { return readProfileString(file, section, gbk(key)); };
    SoundSettings settings;
    settings.listeningDevice = utf8(read(kListeningDeviceKey));
    settings.virtualMicrophone = read(kVirtualMicrophoneKey) == kOn;
    settings.passThrough = read(kPassThroughKey) == kOn;
    settings.passThroughSource = utf8(read(kPassThroughSourceKey));
    settings.chatLevel = levelOf(read(kChatLevelKey));
    settings.listeningLevel = levelOf(read(kListeningLevelKey));
    settings.microphoneLevel = levelOf(read(kMicrophoneLevelKey));
    settings.overlapPlayback = read(kOverlapPlaybackKey) == kOn;
    settings.secondClickStops = read(kSecondClickStopsKey) == kOn;
    settings.stopFadeMs = numberOf(read(kStopFadeKey), kDefaultStopFadeMs, 0, kLongestStopFadeMs);
    settings.duckMusic = read(kDuckMusicKey) == kOn;
    settings.duckThresholdDb = numberOf(read(kDuckThresholdKey), kDefaultDuckThresholdDb, kLowestDuckThresholdDb,
                                        kHighestDuckThresholdDb);
    settings.duckDepthDb = numberOf(read(kDuckDepthKey), kDefaultDuckDepthDb, 0, 60);
    settings.duckAttackMs = numberOf(read(kDuckAttackKey), kDefaultDuckAttackMs, 0, 5000);
    settings.duckHoldMs = numberOf(read(kDuckHoldKey), kDefaultDuckHoldMs, 0, 10000);
    settings.duckReleaseMs = numberOf(read(kDuckReleaseKey), kDefaultDuckReleaseMs, 0, 10000);
    return settings;
}

bool writeSoundSettings(const QString& iniPath, const SoundSettings& settings)
{
    const Text section = gbk(kSoundSettingsSection);
    auto write = [&](const char* key, const Text& value) { return writeProfileString(iniPath, section, gbk(key), value); };
    return write(kListeningDeviceKey, gbk(settings.listeningDevice))
           && write(kVirtualMicrophoneKey, settings.virtualMicrophone ? kOn : kOff)
           && write(kPassThroughKey, settings.passThrough ? kOn : kOff)
           && write(kPassThroughSourceKey, gbk(settings.passThroughSource))
           && write(kChatLevelKey, std::to_string(settings.chatLevel))
           && write(kListeningLevelKey, std::to_string(settings.listeningLevel))
           && write(kMicrophoneLevelKey, std::to_string(settings.microphoneLevel))
           && write(kOverlapPlaybackKey, settings.overlapPlayback ? kOn : kOff)
           && write(kSecondClickStopsKey, settings.secondClickStops ? kOn : kOff)
           && write(kStopFadeKey, std::to_string(settings.stopFadeMs))
           && write(kDuckMusicKey, settings.duckMusic ? kOn : kOff)
           && write(kDuckThresholdKey, std::to_string(settings.duckThresholdDb))
           && write(kDuckDepthKey, std::to_string(settings.duckDepthDb))
           && write(kDuckAttackKey, std::to_string(settings.duckAttackMs))
           && write(kDuckHoldKey, std::to_string(settings.duckHoldMs))
           && write(kDuckReleaseKey, std::to_string(settings.duckReleaseMs));
}

}  // namespace qinghe
