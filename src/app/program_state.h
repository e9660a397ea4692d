#pragma once

#include "board/custom_sound_tables.h"
#include "online/online_texts.h"
#include "soundserver/sound_routing.h"

#include <memory>

namespace qinghe {

// What the program keeps from start-up to exit. Windows read and write it but
// do not own it, so it outlives them.
struct ProgramState {
    std::unique_ptr<CustomSoundTables> customSounds = std::make_unique<CustomSoundTables>();
    // Shared with the online jobs, which may still run when the program ends.
    std::shared_ptr<OnlineTexts> onlineTexts = std::make_shared<OnlineTexts>();
    // What the program loaded on the sound server; made by the start-up sequence.
    std::unique_ptr<SoundRouting> soundRouting;

    // The at-exit clean-up, in its order; writes no file.
    void cleanUp()
    {
        customSounds.reset();
        onlineTexts.reset();
        // Nothing the program loaded stays on the sound server.
        if (soundRouting)
            soundRouting->shutDown(SoundRouting::kExitLimit);
        soundRouting.reset();
    }
};

}  // namespace qinghe
