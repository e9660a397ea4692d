#pragma once

// The open devices, kept by alias, and what each command does to them.

#include "media_command.h"
#include "media_control.h"
#include "music_output.h"

#include <cstdint>
#include <map>
#include <memory>

namespace qinghe {

class MediaDevices {
public:
    explicit MediaDevices(MusicOutput& output);
    ~MediaDevices();
    MediaDevices(const MediaDevices&) = delete;
    MediaDevices& operator=(const MediaDevices&) = delete;

    int open(const MediaOpenRecord& record);
    int run(const MediaCommand& command);
    int setLoudnessGain(const Text& alias, double factor);
    void closeAll();
    // Plays through output from now on; only while no device is open.
    void useOutput(MusicOutput& output) { output_ = &output; }

private:
    struct Device;

    Device* find(const Text& alias);
    void close(Device& device);
    int play(Device& device, std::optional<std::int64_t> fromMs);
    int seek(Device& device, const MediaCommand& command);
    int setAudio(Device& device, const MediaCommand& command);
    // Where the device stands, in output frames from the file's start.
    std::int64_t standingFrame(const Device& device) const;
    // Takes the sound output away from the device, keeping its position.
    void release(Device& device);
    MusicOutput* output_;
    std::map<Text, std::unique_ptr<Device>> devices_;  // by alias, lower case
    Device* playing_ = nullptr;  // the device the sound output plays, if any
};

}  // namespace qinghe
