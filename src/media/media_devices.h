#pragma once

// The open devices, kept by alias, and what each command does to them.

#include "media_command.h"
#include "media_control.h"
#include "music_output.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

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
    // Every device closes at once, without a fade: the output goes next.
    void closeAll();
    // Plays through output from now on; only while no device is open.
    void useOutput(MusicOutput& output) { output_ = &output; }
    void setMixing(const MediaMixing& mixing);
    const MediaMixing& mixing() const { return mixing_; }
    bool playing(const Text& alias);

private:
    struct Device;

    Device* find(const Text& alias);
    void close(Device& device, bool fade);
    int play(Device& device, std::optional<std::int64_t> fromMs);
    int seek(Device& device, const MediaCommand& command);
    int setAudio(Device& device, const MediaCommand& command);
    bool isPlaying(const Device& device) const;
    // Files open as the output's own voices while the mixing is not the default.
    bool ownVoices() const;
    // Where the device stands, in output frames from the file's start.
    std::int64_t standingFrame(const Device& device) const;
    // Takes the sound output away from the device, keeping its position;
    // the sound fades out where the mixing says cuts fade and fade allows.
    void release(Device& device, bool fade);
    // Makes room for one more playing device: those at their end let go,
    // then those that started first stop until fewer than the voices play.
    void makeRoom(const Device& next);
    MusicOutput* output_;
    MediaMixing mixing_;
    std::map<Text, std::unique_ptr<Device>> devices_;  // by alias, lower case
    std::vector<Device*> playing_;  // the devices the output plays, in the order they started
};

}  // namespace qinghe
