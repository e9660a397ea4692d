#pragma once

// How a sound plays beyond its volume, as the host sets it in the sound's
// menu, and how my.ini keeps it: beside [音量], keyed the same way (the
// effect's caption, or slotSoundKey(N) for a custom slot).

#include "base/profile_document.h"
#include "text/text.h"

#include <QString>

#include <chrono>

namespace qinghe {

inline constexpr const char* kLoopSection = "循环";        // 1: plays until stopped
inline constexpr const char* kFadeInSection = "淡入";      // milliseconds
inline constexpr const char* kFadeOutSection = "淡出";     // milliseconds
inline constexpr const char* kMusicBedSection = "背景音乐";  // 1: a bed, lowered under the host's voice
// Ten seconds brings a bed in under a whole spoken introduction; a longer
// fade would only leave the host wondering whether it plays.
inline constexpr std::chrono::milliseconds kLongestSoundFade{10000};

struct SoundStyle {
    bool loop = false;
    std::chrono::milliseconds fadeIn{0};
    std::chrono::milliseconds fadeOut{0};
    bool musicBed = false;

    bool operator==(const SoundStyle&) const = default;
};

// The style kept for the sound; a value that is no whole number, is
// negative, or is over kLongestSoundFade (or, for a switch, is not 1 or 0)
// counts as none.
SoundStyle readSoundStyle(const ProfileSnapshot& settings, const Text& soundKey);
// Writes what differs from before; a switch off or a fade of 0 takes its key
// out, so my.ini holds only what was set. False when my.ini could not be written.
bool writeSoundStyle(const QString& iniPath, const Text& soundKey, const SoundStyle& before, const SoundStyle& after);
// Takes the sound's keys out of all four sections, whatever they hold.
bool removeSoundStyle(const QString& iniPath, const Text& soundKey);

}  // namespace qinghe
