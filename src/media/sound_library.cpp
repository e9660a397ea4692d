#include "sound_library.h"

#include <dlfcn.h>

#include <mutex>
#include <optional>

namespace qinghe {

namespace {

// The name the library's run-time package installs (on Debian,
// libsdl2-mixer-2.0-0); the bare ".so" comes only with its development files.
constexpr const char* kSoundLibraryName = "libSDL2_mixer-2.0.so.0";

template <typename Entry>
bool resolve(void* library, const char* name, Entry& entry)
{
    entry = reinterpret_cast<Entry>(dlsym(library, name));
    return entry != nullptr;
}

std::optional<SoundLibrary> load()
{
    // Local: SDL's names stay out of the program's own scope. Now: a library
    // that cannot be bound fails here, not in the middle of a sound.
    void* library = dlopen(kSoundLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return std::nullopt;
    // SDL itself is found through the mixer, which depends on it.
    SoundLibrary l{};
    const bool complete = resolve(library, "SDL_SetHint", l.setHint)
                          && resolve(library, "SDL_SetHintWithPriority", l.setHintWithPriority)
                          && resolve(library, "SDL_InitSubSystem", l.initSubSystem)
                          && resolve(library, "SDL_QuitSubSystem", l.quitSubSystem)
                          && resolve(library, "SDL_GetCurrentAudioDriver", l.currentAudioDriver)
                          && resolve(library, "Mix_Init", l.init)
                          && resolve(library, "Mix_Quit", l.quit)
                          && resolve(library, "Mix_OpenAudioDevice", l.openAudioDevice)
                          && resolve(library, "Mix_CloseAudio", l.closeAudio)
                          && resolve(library, "Mix_AllocateChannels", l.allocateChannels)
                          && resolve(library, "Mix_VolumeMusic", l.volumeMusic)
                          && resolve(library, "Mix_SetPostMix", l.setPostMix)
                          && resolve(library, "Mix_LoadMUS", l.loadMusic)
                          && resolve(library, "Mix_FreeMusic", l.freeMusic)
                          && resolve(library, "Mix_MusicDuration", l.musicDuration)
                          && resolve(library, "Mix_PlayMusic", l.playMusic)
                          && resolve(library, "Mix_FadeInMusicPos", l.fadeInMusicAt)
                          && resolve(library, "Mix_HaltMusic", l.haltMusic)
                          && resolve(library, "Mix_PlayingMusic", l.playingMusic)
                          && resolve(library, "Mix_GetMusicPosition", l.musicPosition);
    if (!complete) {
        dlclose(library);
        return std::nullopt;
    }
    return l;
}

}  // namespace

const SoundLibrary* soundLibrary()
{
    // Never destroyed: a thread may still be loading while the process exits.
    static auto* const lock = new std::mutex;
    static auto* const loaded = new std::optional<SoundLibrary>;
    std::lock_guard guard(*lock);
    if (!*loaded)
        *loaded = load();
    return *loaded ? &**loaded : nullptr;
}

}  // namespace qinghe
