#pragma once

// What the media player reads from a file name: its extension, the device
// type it opens the file with, and whether the file may carry video.

#include "text/text.h"

#include <string_view>

namespace qinghe {

// The (up to) three bytes after the last "." of the name, or its first three
// bytes when it has no "."; ASCII letters lower-cased, second bytes of
// double-byte characters left alone.
Text mediaExtension(std::string_view fileName);

// The device type for an extension; "MPEGvideo" for any extension not listed.
Text deviceTypeForExtension(std::string_view extension);

// False for the audio extensions "mp3", "wav", "cda" and "mid".
bool extensionHasVideo(std::string_view extension);

}  // namespace qinghe
