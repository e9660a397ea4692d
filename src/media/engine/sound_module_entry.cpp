// The sound module's one export: the table of what it does.

#include "audio_device.h"
#include "sound_module.h"

namespace qinghe {

std::unique_ptr<AudioDevice> openSdlAudioDevice(const AudioDeviceRequest& request, AudioDevice::Fill fill,
                                                void* context);

namespace {

SoundFileProblem checkFile(const std::string& path, std::string* reason)
{
    return checkSoundFile(path, reason);
}

const SoundModule kModule{
    kSoundModuleVersion, &openStereoStream, &checkFile, &measureSoundFileLevels, &openSdlAudioDevice,
};

}  // namespace

}  // namespace qinghe

extern "C" __attribute__((visibility("default"))) const qinghe::SoundModule* qinghe_sound_module()
{
    return &qinghe::kModule;
}
