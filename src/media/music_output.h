#pragma once

// What the media devices play through: one sound at a time, streamed from
// its file, at the volumes and loudness gain in force. Two outputs stand
// behind it: SDL_mixer on the SDL audio device (AudioOutput), and the sound
// server's own streams while the virtual microphone is served
// (ServerStreams). Every call comes from the thread that holds the media
// layer's lock.

#include <optional>

namespace qinghe {

// A file an output has opened; each output knows its own kind.
struct OpenedMusic;

class MusicOutput {
public:
    virtual ~MusicOutput() = default;

    // Opens the output if it is not open yet; false when it cannot be.
    virtual bool open() = 0;
    virtual void close() = 0;
    // Called where a reopening cuts no sound.
    virtual void lengthenPeriodIfLate() {}

    // nullptr when the file cannot be played.
    virtual OpenedMusic* loadMusic(const char* path) = 0;
    virtual void freeMusic(OpenedMusic* music) = 0;
    // Seconds; negative when not known.
    virtual double musicDuration(OpenedMusic* music) = 0;
    // Plays the music from its start, or from a position in seconds, in
    // place of what played; 0 when it plays.
    virtual int playMusic(OpenedMusic* music, std::optional<double> fromSeconds) = 0;
    virtual void haltMusic() = 0;
    virtual bool playingMusic() = 0;
    // Seconds from the music's start; negative when not known.
    virtual double musicPosition(OpenedMusic* music) = 0;

    // Volumes 0..kFullVolume, and a factor on top, for the blocks from now on.
    virtual void setGain(int left, int right) = 0;
    virtual void setLoudnessGain(float factor) = 0;
};

}  // namespace qinghe
