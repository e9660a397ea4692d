#pragma once

// The host's sound settings, kept in my.ini under a section of their own
// beside the custom slots, which they never touch.

#include <QString>

#include <string>

namespace qinghe {

inline constexpr const char* kSoundSettingsSection = "声音设置";

// Levels in percent of the sound's own: 100 leaves it as it is, 50 halves it.
inline constexpr int kFullLevel = 100;

// 停止播放's fade: long enough to end a music bed softly, short enough
// that the room is quiet when the host wants it.
inline constexpr int kDefaultStopFadeMs = 300;
inline constexpr int kLongestStopFadeMs = 3000;
// Lowering the music under the host's voice: a speaking voice is well
// above -40 dBFS and a quiet room well below it; 12 dB keeps the bed
// audible but clear of the words; the beds drop in 50 ms so the first
// syllable is heard, and wait 800 ms before a 500 ms return so the
// pauses between sentences do not pump.
inline constexpr int kDefaultDuckThresholdDb = -40;
inline constexpr int kDefaultDuckDepthDb = 12;
inline constexpr int kDefaultDuckAttackMs = 50;
inline constexpr int kDefaultDuckHoldMs = 800;
inline constexpr int kDefaultDuckReleaseMs = 500;
// A threshold below the quietest room or at full scale makes no sense.
inline constexpr int kLowestDuckThresholdDb = -90;
inline constexpr int kHighestDuckThresholdDb = 0;

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
    // 再次点击停止: a click on a sound that plays fades it out instead of
    // starting it again.
    bool secondClickStops = false;
    // How long 停止播放 fades every sound out; 0 cuts at once (with the
    // click-free few milliseconds).
    int stopFadeMs = kDefaultStopFadeMs;
    // 说话时压低音乐: while the host's microphone is above the threshold,
    // every bed sound is lowered by duckDepthDb, reached over duckAttackMs;
    // once it falls silent the beds stay low for duckHoldMs, then come back
    // over duckReleaseMs.
    bool duckMusic = false;
    int duckThresholdDb = kDefaultDuckThresholdDb;
    int duckDepthDb = kDefaultDuckDepthDb;
    int duckAttackMs = kDefaultDuckAttackMs;
    int duckHoldMs = kDefaultDuckHoldMs;
    int duckReleaseMs = kDefaultDuckReleaseMs;

    bool operator==(const SoundSettings&) const = default;
};

// What my.ini at iniPath holds; the defaults above for whatever it lacks,
// and a level outside 0..kFullLevel held to it.
SoundSettings readSoundSettings(const QString& iniPath);
// False when my.ini cannot be written; the keys written before stay.
bool writeSoundSettings(const QString& iniPath, const SoundSettings& settings);

}  // namespace qinghe
