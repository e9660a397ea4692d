#include "sound_module.h"

#include "base/program_plugins.h"

#include <dlfcn.h>

#include <mutex>

namespace qinghe {

namespace {

constexpr const char* kSoundModuleFile = "qinghe_sound.so";

const SoundModule* load()
{
    const std::string path = findProgramPlugin(kSoundModuleFile);
    if (path.empty())
        return nullptr;
    // Local: the decoders' names stay out of the program's own scope. Now: a
    // module that cannot be bound fails here, not in the middle of a sound.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return nullptr;
    using Entry = const SoundModule* (*)();
    const auto entry = reinterpret_cast<Entry>(dlsym(module, kSoundModuleEntry));
    const SoundModule* found = entry ? entry() : nullptr;
    if (!found || found->version != kSoundModuleVersion || !found->openStream || !found->checkFile
        || !found->measureLevels || !found->openAudioDevice) {
        dlclose(module);
        return nullptr;
    }
    return found;
}

}  // namespace

const SoundModule* soundModule()
{
    // Never destroyed: a measurement may still run while the process exits.
    static auto* const lock = new std::mutex;
    static const SoundModule* loaded = nullptr;
    std::lock_guard guard(*lock);
    if (!loaded)
        loaded = load();
    return loaded;
}

}  // namespace qinghe
