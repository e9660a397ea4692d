#pragma once

// SDL2_mixer, with the few SDL calls the sound output makes, loaded when the
// first sound is opened rather than when the program starts: the library
// and the decoders' and drivers' libraries it brings (some forty) would
// otherwise be mapped and relocated before main, ahead of the first window.

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

namespace qinghe {

// The entry points, typed from the library's own declarations.
struct SoundLibrary {
    decltype(&::SDL_SetHint) setHint;
    decltype(&::SDL_SetHintWithPriority) setHintWithPriority;
    decltype(&::SDL_InitSubSystem) initSubSystem;
    decltype(&::SDL_QuitSubSystem) quitSubSystem;
    decltype(&::SDL_GetCurrentAudioDriver) currentAudioDriver;
    decltype(&::Mix_Init) init;
    decltype(&::Mix_Quit) quit;
    decltype(&::Mix_OpenAudioDevice) openAudioDevice;
    decltype(&::Mix_CloseAudio) closeAudio;
    decltype(&::Mix_AllocateChannels) allocateChannels;
    decltype(&::Mix_VolumeMusic) volumeMusic;
    decltype(&::Mix_SetPostMix) setPostMix;
    decltype(&::Mix_LoadMUS) loadMusic;
    decltype(&::Mix_FreeMusic) freeMusic;
    decltype(&::Mix_MusicDuration) musicDuration;
    decltype(&::Mix_PlayMusic) playMusic;
    decltype(&::Mix_FadeInMusicPos) fadeInMusicAt;
    decltype(&::Mix_HaltMusic) haltMusic;
    decltype(&::Mix_PlayingMusic) playingMusic;
    decltype(&::Mix_GetMusicPosition) musicPosition;
};

// The library's entry points, loading it on the first call. nullptr when it
// cannot be loaded or lacks one of them, which the sound output treats like
// a machine without an audio device; a later call tries again. Once loaded
// the library stays for the life of the process.
const SoundLibrary* soundLibrary();

}  // namespace qinghe
