#pragma once

// The media-control layer: devices opened from an open record and driven by
// string commands ("play <alias>", "setaudio <alias> left volume to 500"),
// each answering 0 or an error code. Devices are kept by alias; playback runs
// in the background and every command returns at once.
//
// Sound goes out through one audio device, opened on the first open command;
// the sound library is loaded then too (or before, by prepareMediaOutput,
// which loads the own voices' decoder as well), never at program start.
// When no audio device can be opened, or the
// library cannot be loaded, every command fails quietly and the next open
// tries again.
//
// By default the sound output plays one stream at a time: when several
// aliases are open, the latest play takes the output and the device playing
// before stops where it stood, as if "stop" had been sent to it. The mixing
// (setMediaMixing) lets several play at once and fades cuts out.

#include "text/text.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace qinghe {

// Answers, numbered as the platform numbers the same failures.
inline constexpr int kMediaOk = 0;
inline constexpr int kMediaUnrecognizedKeyword = 259;
inline constexpr int kMediaUnrecognizedCommand = 261;
inline constexpr int kMediaHardwareError = 262;      // no audio device could be opened
inline constexpr int kMediaInvalidDeviceName = 263;  // no device is open under the alias
inline constexpr int kMediaMissingCommandString = 267;
inline constexpr int kMediaBadInteger = 270;
inline constexpr int kMediaMissingParameter = 273;
inline constexpr int kMediaFileNotFound = 275;
inline constexpr int kMediaOutOfRange = 282;
inline constexpr int kMediaDuplicateAlias = 289;
inline constexpr int kMediaMissingDeviceName = 292;
inline constexpr int kMediaInvalidFile = 296;  // the file is there but cannot be played

// What the open command carries: device type, element and alias.
struct MediaOpenRecord {
    Text deviceType;   // "MPEGvideo", "waveaudio", ...; any file the decoders know plays
    Text elementName;  // file name as the program writes it (GBK, "\" or "/")
    Text alias;        // names the device in every later string command
};

// Opens the element under the alias. A relative element name is looked for in
// the current directory first, then in the program's folder.
int openMediaDevice(const MediaOpenRecord& record);

// Runs one string command: "close", "window ... handle N", "play", "play ...
// from N" (milliseconds), "stop", "seek ... to start|end|N", "setaudio ...
// [left|right] volume to N" (0..1000).
int sendMediaCommand(const Text& command);

// A factor on top of the volumes of the device under alias, until it closes
// (a new device starts at 1, untouched): the board brings the host's own
// files to the loudness of its effects with it. A sample the factor would
// push past full scale is held there. kMediaOk; kMediaInvalidDeviceName;
// kMediaOutOfRange for a factor that is not above 0 or passes
// kMostLoudnessGain.
inline constexpr double kMostLoudnessGain = 1000;  // +60 dB: more would only lift noise
int setMediaLoudnessGain(const Text& alias, double factor);

// How the devices share the sound output. The defaults are the layer as it
// always was: one sound at a time, and a sound that loses the output stops
// where it stands.
inline constexpr int kMostMediaVoices = 8;
// How long a cut sound takes to fade out.
inline constexpr std::chrono::microseconds kMediaCutFade{8000};
struct MediaMixing {
    // Devices that play at once, 1..kMostMediaVoices. With 1 the latest play
    // takes the output from the device playing before; with more, a play
    // beside as many others stops the one that started first. Each plays at
    // its own volumes, and their sum is held at full scale.
    int voices = 1;
    // A device that stops (by stop, seek, close, or another's play) fades
    // out over kMediaCutFade instead of breaking off mid-wave, and the last
    // kMediaCutFade of a file fade out too, in case it was cut short. A play
    // never waits for a fade: the new sound starts at once.
    bool fadeCuts = false;

    bool operator==(const MediaMixing&) const = default;
};
// From the next command on. Files opened while the mixing is other than
// the default are decoded by the layer's own voices; a file only the sound
// library can read plays as before, one at a time and without a fade. Fewer
// voices than play now stop those that started first.
void setMediaMixing(const MediaMixing& mixing);
MediaMixing mediaMixing();

// Whether the device under alias plays now (not stopped, not at its end).
bool mediaDevicePlaying(const Text& alias);

// Every open and string command as it is sent, with its answer.
struct SentMediaCommand {
    bool isOpen = false;
    MediaOpenRecord open;  // for an open
    Text command;          // for a string command
    int result = kMediaOk;
};
using MediaCommandObserver = std::function<void(const SentMediaCommand&)>;

// Called on the thread that sent the command; an empty observer stops it.
void setMediaCommandObserver(MediaCommandObserver observer);

// The shared sound output.
struct MediaOutputFormat {
    int rate = 0;          // frames per second
    int channels = 0;      // interleaved, left first
    // Frames in each block the audio device takes: what the device really
    // gave, once a block has been handed over; before that, what it was asked.
    int periodFrames = 0;
};
MediaOutputFormat mediaOutputFormat();

// Where the audio device opens: an audio driver ("pulseaudio", "alsa", ...)
// and a device of it by the name the driver gives it (for a sound server,
// the device's description). An empty driver is the audio layer's own
// choice (SDL_AUDIODRIVER, else its first that works), an empty device the
// driver's default. A device that cannot be opened gives way to the default.
struct MediaOutputDevice {
    std::string driver;
    std::string device;
    // kServerStreamsDriver only: the sink the host listens on (the server's
    // default when empty); device is then the sink a chat program hears.
    std::string listeningDevice;

    bool operator==(const MediaOutputDevice&) const = default;
};

// The driver name that stands for the sound server's own streams: the
// board's sound goes straight into two sinks at once (see server_streams.h).
// device and listeningDevice are the sinks' server names.
inline constexpr const char* kServerStreamsDriver = "qinghe-streams";
// The listening device that stands for none: only the chat hears the board.
inline constexpr const char* kNoListeningDevice = "-";
// The marks the two streams carry in the server's property "qinghe.role",
// so their levels can be set from outside.
inline constexpr const char* kChatStreamRole = "feed";
inline constexpr const char* kListeningStreamRole = "listen";

// The driver name that stands for no output at all: while it is the target,
// every open answers kMediaHardwareError at once, without trying any device
// (the sound server the output belongs to is away).
inline constexpr const char* kNoAudioDriver = "none";

// Sets where the audio device opens from the next open command on. A change
// closes every device and the audio device, as closeMediaOutput does, so
// nothing plays on where it no longer should; the same target again changes
// nothing. The server's streams are made here, before the change, for at
// most kServerStreamsLimit (the caller waits, a click meanwhile does not);
// when they cannot be, nothing plays until the next change.
inline constexpr std::chrono::milliseconds kServerStreamsLimit{2000};
void setMediaOutputDevice(const MediaOutputDevice& target);
MediaOutputDevice mediaOutputDevice();

// The period asked of the audio device when it next opens; until
// closeMediaOutput the output asks for 128 frames (2.9 ms), and a device
// that refuses a period is asked for the next longer one (256, then 512
// frames). A device that keeps running dry is opened again at the next
// longer one by an open command that finds no other device open.
void setMediaOutputPeriod(int frames);

// Frames counted since the audio device was opened. A block is counted as
// its post-mix stage begins, with the volumes in force at that instant: a
// volume set before reading this count is in force for every frame counted
// after it, and none counted before.
std::uint64_t mediaMixedFrames();

// Blocks that reached the device later than it could play them out, since
// it was opened.
std::uint64_t mediaLateBlocks();

// The name of the audio driver in use ("pulseaudio", "alsa", "disk", ...);
// empty while the output is closed.
std::string mediaAudioDriver();

// Sees every block as it is handed to the audio device, volumes applied:
// signed 16-bit interleaved samples, their frame count, and the index of the
// first frame. Runs on the audio thread, must return quickly and must not
// call back into this layer; setting another one waits until the audio
// thread is out of the old one.
using MediaMixObserver =
    std::function<void(const std::int16_t* samples, int frames, std::uint64_t firstFrame)>;
void setMediaMixObserver(MediaMixObserver observer);

// Loads the sound library on a thread of its own, joined by
// shutDownMediaOutput, so that the first sound does not wait for it; the
// audio device is not opened. Call it once the window is on screen: loading
// holds the dynamic loader's lock, which the window's own start-up takes to
// load its plugins.
void prepareMediaOutput();

// Closes every device and the audio device; the next open starts afresh,
// asking for the shortest period again.
void closeMediaOutput();

// The at-exit clean-up: closes as closeMediaOutput does and waits for the
// library load that prepareMediaOutput started, so no thread of this layer
// outlives the program's main.
void shutDownMediaOutput();

}  // namespace qinghe
