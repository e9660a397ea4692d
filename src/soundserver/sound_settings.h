#pragma once

// The host's sound settings, kept in my.ini under a section of their own
// beside the custom slots, which they never touch.

#include <QString>

#include <string>

namespace qinghe {

inline constexpr const char* kSoundSettingsSection = "声音设置";

struct SoundSettings {
    // Device names are the sound server's (UTF-8); empty means the server's default.
    std::string listeningDevice;
    bool virtualMicrophone = false;
    bool passThrough = false;
    std::string passThroughSource;

    bool operator==(const SoundSettings&) const = default;
};

// What my.ini at iniPath holds; the defaults above for whatever it lacks.
SoundSettings readSoundSettings(const QString& iniPath);
// False when my.ini cannot be written; the keys written before stay.
bool writeSoundSettings(const QString& iniPath, const SoundSettings& settings);

}  // namespace qinghe
