#pragma once

// Reading a string command into its parts.

#include "text/text.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace qinghe {

enum class MediaVerb { Close, Window, Play, Stop, Seek, SetAudio };
enum class SeekTarget { Start, End, Position };
enum class AudioChannel { Both, Left, Right };

struct MediaCommand {
    MediaVerb verb = MediaVerb::Close;
    Text alias;
    std::optional<std::int64_t> from;  // play: milliseconds
    SeekTarget seekTarget = SeekTarget::Start;
    std::int64_t number = 0;  // seek position, volume or window handle
    AudioChannel channel = AudioChannel::Both;
};

// Fills command and answers kMediaOk, or answers the error code of the
// command's first fault. Keywords are matched ignoring case.
int parseMediaCommand(std::string_view text, MediaCommand& command);

}  // namespace qinghe
