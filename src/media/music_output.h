#pragma once

// What the media devices play through: files streamed as they play, each
// at its own volumes and loudness gain. Two outputs stand behind it: the
// SDL audio device (AudioOutput), and the sound server's own streams while
// the virtual microphone is served (ServerStreams). Every call comes from
// the thread that holds the media layer's lock.
//
// Files opened as the layer's own voices play side by side, their sum held
// at full scale, and can fade out; the SDL output opens files otherwise as
// the sound library's music, of which one plays at a time.

#include <optional>

namespace qinghe {

// A file an output has opened (see sound_voice.h).
struct OpenedMusic;

class MusicOutput {
public:
    virtual ~MusicOutput() = default;

    // Opens the output if it is not open yet; false when it cannot be.
    virtual bool open() = 0;
    // Stops every sound at once and closes the output.
    virtual void close() = 0;
    // Called where a reopening cuts no sound.
    virtual void lengthenPeriodIfLate() {}

    // nullptr when the file cannot be played. ownVoice: the file is to play
    // as one of the layer's own voices where the output can (the server's
    // streams always play those).
    virtual OpenedMusic* loadMusic(const char* path, bool ownVoice) = 0;
    // Stops the music at once if it plays, and lets the file go.
    virtual void freeMusic(OpenedMusic* music) = 0;
    // Seconds; negative when not known.
    virtual double musicDuration(OpenedMusic* music) = 0;
    // Plays the music from its start, or from a position in seconds, beside
    // what else plays (the caller stops what must not); 0 when it plays.
    // fadeAtEnd: the file's own last frames fade out.
    virtual int playMusic(OpenedMusic* music, std::optional<double> fromSeconds, bool fadeAtEnd) = 0;
    // Stops the music: at once, or fading out over kMediaCutFade while the
    // call returns at once.
    virtual void haltMusic(OpenedMusic* music, bool fade) = 0;
    // Whether the music plays and has not reached its end.
    virtual bool playingMusic(OpenedMusic* music) = 0;
    // Seconds from the music's start; negative when not known.
    virtual double musicPosition(OpenedMusic* music) = 0;

    // Volumes 0..kFullVolume, and a factor on top, for the music's blocks
    // from now on (and its next play).
    virtual void setGain(OpenedMusic* music, int left, int right) = 0;
    virtual void setLoudnessGain(OpenedMusic* music, float factor) = 0;
};

}  // namespace qinghe
