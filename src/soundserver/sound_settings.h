#pragma once

// The host's sound settings, kept in my.ini under a section of their own
// beside the custom slots, which they never touch.

#include <QString>

#include <string>

namespace qinghe {

inline constexpr const char* kSoundSettingsSection = "声音设置";

// Levels in percent of the sound's own: 100 leaves it as it is, 50 halves it.
inline constexpr int kFullLevel = 100;

struct SoundSettings {
    // Device names are the sound server's (UTF-8); empty means the server's default.
    std::string listeningDevice;
    bool virtualMicrophone = false;
    bool passThrough = false;
    std::string passThroughSource;
    // The effects as the chat hears them, as the host hears them, and the
    // host's microphone passed through; the board's slider scales both
    // effect levels on top.
    int chatLevel = kFullLevel;
    int listeningLevel = kFullLevel;
    int microphoneLevel = kFullLevel;
    // 叠加播放: a click starts its sound over those playing instead of cutting them.
    bool overlapPlayback = false;

    bool operator==(const SoundSettings&) const = default;
};

// What my.ini at iniPath holds; the defaults above for whatever it lacks,
// and a level outside 0..kFullLevel held to it.
SoundSettings readSoundSettings(const QString& iniPath);
// False when my.ini cannot be written; the keys written before stay.
bool writeSoundSettings(const QString& iniPath, const SoundSettings& settings);

}  // namespace qinghe
