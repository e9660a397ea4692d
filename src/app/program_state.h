#pragma once

#include "board/custom_sound_tables.h"
#include "hotkeys/global_hot_keys.h"
#include "online/updater.h"
#include "soundserver/microphone_level.h"
#include "soundserver/sound_routing.h"

#include <memory>

namespace qinghe {

// What the program keeps from start-up to exit. Windows read and write it but
// do not own it, so it outlives them.
struct ProgramState {
    std::unique_ptr<CustomSoundTables> customSounds = std::make_unique<CustomSoundTables>();
    // The version checks, the user counter and the update with its
    // download; made by the start-up sequence once the application exists.
    std::unique_ptr<Updater> updater;
    // 说话时压低音乐's ear on the host's microphone; before the routing,
    // which hands it the settings, so it outlives the routing.
    std::unique_ptr<MicrophoneLevel> microphoneLevel;
    // What the program loaded on the sound server; made by the start-up sequence.
    std::unique_ptr<SoundRouting> soundRouting;
    // The global hot keys; made by the start-up sequence once the application exists.
    std::unique_ptr<GlobalHotKeys> hotKeys;

    // The at-exit clean-up, in its order; writes no file.
    void cleanUp()
    {
        // Other programs may take the keys as soon as the board is gone.
        if (hotKeys)
            hotKeys->releaseAll();
        hotKeys.reset();
        customSounds.reset();
        // Its page reads and a download still running are stopped and joined.
        updater.reset();
        // Nothing the program loaded stays on the sound server.
        if (soundRouting)
            soundRouting->shutDown(SoundRouting::kExitLimit);
        soundRouting.reset();
        microphoneLevel.reset();
    }
};

}  // namespace qinghe
