#pragma once

// The media player behind the control 媒体播放1: one file at a time on the
// sound engine, with its four operations: open, play, stop and the volume
// of each channel. Not a widget.

#include "media/decoders/sound_decoder.h"
#include "media/engine/sound_engine.h"
#include "text/text.h"

#include <optional>
#include <string>

namespace qinghe {

// Whether the file an element name stands for would play, and why not:
// NotFound when there is no such file; else what its decoder says.
SoundFileProblem mediaFileProblem(const Text& fileName);

class MediaPlayer {
public:
    MediaPlayer() = default;
    // Stops its sound.
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Stops what played, then takes the file, e.g. "data\\qzxs.mp3" as
    // written. True if the file is there and would play.
    bool open(const Text& fileName);
    // From the start (-1 after a stop, or where it plays on) or from a
    // position in milliseconds. Returns at once; the sound plays in the background.
    bool play(int position = -1);
    // Stops the sound (fading out over a cut's few milliseconds); the next
    // play starts from the beginning.
    bool stop();
    // Percent for each channel, absent to leave it alone; applied x10 on
    // the 0..1000 scale, a value outside 0..100 left alone. True when the
    // left value was in range and, when given, the right one too.
    bool setVolume(std::optional<int> left, std::optional<int> right);
    // A gain in decibels on top of the volume for the open file, until the
    // next open; a sample it would push past full scale is held there.
    bool setLoudnessGain(double decibels);
    // Whether the open file plays now (not stopped, not at its end).
    bool playing() const;

    const Text& fileName() const { return fileName_; }
    // The voice playing the file now, kNoVoice when none.
    VoiceId voice() const { return voice_; }

private:
    Text fileName_;
    std::string path_;  // the native path it stands for; empty when none
    VoiceGains gains_;
    VoiceId voice_ = kNoVoice;
};

}  // namespace qinghe
