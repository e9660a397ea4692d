#pragma once

// How loud a sound file is as the listener hears it: EBU R128 measured on
// the stereo the file plays as, at the file's own rate.

#include <atomic>
#include <optional>
#include <string>

namespace qinghe {

// What a decoded file holds: its loudness, where it can be measured, and
// its peak (0 for silence).
struct FileLevels {
    std::optional<double> integratedLufs;  // absent for silence or less than one measuring block
    double peak = 0;                       // highest sample or true peak over both sides; 1.0 is full scale
};

// Decodes the whole file (a native path) and measures it. Runs as long as
// the decoding takes, so call it on a worker thread. nullopt when the file
// cannot be decoded or cancelled turns true (looked at between blocks).
std::optional<FileLevels> measureSoundFileLevels(const std::string& path, const std::atomic<bool>& cancelled);

}  // namespace qinghe
