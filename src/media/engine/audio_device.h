#pragma once

// A sound card's output as the engine needs it: a device that asks for
// blocks of 16-bit stereo on an audio thread of its own. SDL2 stands behind
// it where no sound server answers, and for the tests' disk driver.

#include <cstdint>
#include <string>

namespace qinghe {

struct AudioDeviceRequest {
    // An audio driver ("alsa", "disk", ...); empty for the audio layer's own
    // choice (SDL_AUDIODRIVER, else its first that works).
    std::string driver;
    // A device of it by the name the driver gives it; empty for its default.
    std::string device;
    int rate = 44100;
    int periodFrames = 128;  // asked for; the device may take another
};

class AudioDevice {
public:
    // Fills frames interleaved stereo frames; runs on the audio thread.
    using Fill = void (*)(void* context, std::int16_t* samples, int frames);

    // Closes the device: once it returns, no block is asked for any more.
    virtual ~AudioDevice() = default;
    // Frames in each block the device asks for.
    virtual int periodFrames() const = 0;
    // The driver in use ("pulseaudio", "alsa", "disk", ...).
    virtual std::string driverName() const = 0;
};

}  // namespace qinghe
