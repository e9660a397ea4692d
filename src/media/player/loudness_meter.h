#pragma once

// How loud a sound file is, as EBU R128 measures it: its integrated
// loudness, and its peak, so that a gain can be kept below full scale.

#include "media/decoders/file_levels.h"
#include "text/text.h"

#include <atomic>
#include <optional>

namespace qinghe {

struct FileLoudness {
    double integratedLufs = 0;  // integrated loudness over the whole file, LUFS
    // The highest of the sample peak and the inter-sample (true) peak over
    // every channel; 1.0 is full scale.
    double peak = 0;
};

// Decodes the whole file the element name stands for (found as the media
// layer finds it) and measures its levels. Runs as long as the decoding
// takes, so call it on a worker thread. nullopt when the file cannot be
// decoded or cancelled turns true (looked at between blocks).
std::optional<FileLevels> measureFileLevels(const Text& elementName, const std::atomic<bool>& cancelled);

// Decodes the whole file the element name stands for (found as the media
// layer finds it) and measures it. Runs as long as the decoding takes, so
// call it on a worker thread. nullopt when the file cannot be decoded, holds
// nothing above the measurement's silence gate, or cancelled turns true
// (looked at between blocks).
std::optional<FileLoudness> measureFileLoudness(const Text& elementName, const std::atomic<bool>& cancelled);

}  // namespace qinghe
