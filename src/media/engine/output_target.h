#pragma once

// Where the engine plays: what the sound server's routing asks for.

#include <string>

namespace qinghe {

// An audio driver ("pulseaudio", "alsa", ...) and a device of it by the
// name the driver gives it. An empty driver is the audio layer's own choice
// (SDL_AUDIODRIVER, else its first that works), an empty device the
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
// board's sound goes straight into two sinks at once (see server_streams.h),
// or into the listening sink alone. device and listeningDevice are the
// sinks' server names; an empty device is no chat mix.
inline constexpr const char* kServerStreamsDriver = "qinghe-streams";
// The listening device that stands for none: only the chat hears the board.
inline constexpr const char* kNoListeningDevice = "-";
// The marks the two streams carry in the server's property "qinghe.role",
// so their levels can be set from outside.
inline constexpr const char* kChatStreamRole = "feed";
inline constexpr const char* kListeningStreamRole = "listen";
// The mark of the one stream that plays while there is no virtual
// microphone: the host hears the board as ever, at no level of the settings.
inline constexpr const char* kBoardStreamRole = "board";

// The driver name that stands for no output at all: while it is the target,
// nothing plays and nothing is tried (the sound server the output belongs
// to is away).
inline constexpr const char* kNoAudioDriver = "none";

}  // namespace qinghe
