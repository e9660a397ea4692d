#pragma once

// The heavy half of the sound engine, loaded when the first sound needs it
// rather than when the program starts: the decoders (libsndfile, FFmpeg,
// FluidSynth, libopenmpt), the resampler, the loudness meter and the SDL
// audio device bring some 160 libraries, which would otherwise be mapped
// and relocated before the first window (a tenth of a second). This is the
// program's one lazy loader.

#include "audio_device.h"
#include "media/decoders/file_levels.h"
#include "media/decoders/stereo_stream.h"

#include <atomic>
#include <memory>
#include <optional>
#include <string>

namespace qinghe {

// The module's entry points. Built in this tree with the program, so C++
// types cross freely; the version guards against a stale module beside it.
struct SoundModule {
    int version = 0;
    StreamOpening (*openStream)(const std::string& path, int outputRate) = nullptr;
    SoundFileProblem (*checkFile)(const std::string& path, std::string* reason) = nullptr;
    std::optional<FileLevels> (*measureLevels)(const std::string& path, const std::atomic<bool>& cancelled) = nullptr;
    // Null when the device cannot be opened as asked.
    std::unique_ptr<AudioDevice> (*openAudioDevice)(const AudioDeviceRequest& request, AudioDevice::Fill fill,
                                                    void* context) = nullptr;
};
inline constexpr int kSoundModuleVersion = 2;
// The symbol the module exports: const SoundModule* qinghe_sound_module().
inline constexpr const char* kSoundModuleEntry = "qinghe_sound_module";

// Loads the module on the first call, from beside the program or from the
// installed library folder; nullptr when it cannot be loaded, which the
// engine treats like a machine without sound. A later call tries again.
// Safe from any thread; once loaded the module stays for the process.
const SoundModule* soundModule();

}  // namespace qinghe
