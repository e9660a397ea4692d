#pragma once

// The media player behind the control 媒体播放1: plays one file at a time
// through the media-control layer under an alias of its own. Not a widget.

#include "text/text.h"

#include <optional>

namespace qinghe {

// Whether the file would open in the player: it is opened under an alias of
// its own and closed at once; what the players have open is left alone.
// Without an audio device, whether the file is there.
bool mediaFileOpens(const Text& fileName);

class MediaPlayer {
public:
    // The alias is a new GUID as 32 lowercase hex digits.
    MediaPlayer();
    // Closes the device.
    ~MediaPlayer();
    MediaPlayer(const MediaPlayer&) = delete;
    MediaPlayer& operator=(const MediaPlayer&) = delete;

    // Closes what was open (stopping its sound), then opens the file, e.g.
    // "data\\qzxs.mp3" as written. True if the device opened.
    bool open(const Text& fileName);
    // From the current position (-1) or from a position in milliseconds.
    // Returns at once; the sound plays in the background. No video is shown,
    // so no display window is taken.
    bool play(int position = -1);
    // Stops and, if that succeeded, rewinds to the start.
    bool stop();
    // Percent for each channel, absent to leave it alone; applied x10 on the
    // 0..1000 scale, a value outside it not sent. True when the left command
    // was sent and succeeded and the right one, when sent, succeeded.
    bool setVolume(std::optional<int> left, std::optional<int> right);
    // A gain in decibels on top of the volume for the open file, until the
    // next open; a sample it would push past full scale is held there.
    bool setLoudnessGain(double decibels);
    // Whether the open file plays now (not stopped, not at its end).
    bool playing() const;

    const Text& alias() const { return alias_; }
    const Text& fileName() const { return fileName_; }
    const Text& extension() const { return extension_; }
    bool hasVideo() const { return hasVideo_; }

private:
    int send(const Text& command) const;

    Text alias_;
    Text fileName_;
    Text extension_;
    bool hasVideo_ = false;
};

}  // namespace qinghe
