#include "sound_settings.h"

#include "base/private_profile.h"
#include "text/gbk.h"

#include <algorithm>
#include <charconv>
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
    if (text.empty())
        return kFullLevel;
    int level = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), level);
    if (error != std::errc() || end != text.data() + text.size())
        return kFullLevel;
    return std::clamp(level, 0, kFullLevel);
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
           && write(kOverlapPlaybackKey, settings.overlapPlayback ? kOn : kOff);
}

}  // namespace qinghe
