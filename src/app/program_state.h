#pragma once

#include "board/custom_sound_tables.h"

#include <memory>

namespace qinghe {

// What the program keeps from start-up to exit. Windows read and write it but
// do not own it, so it outlives them.
struct ProgramState {
    std::unique_ptr<CustomSoundTables> customSounds = std::make_unique<CustomSoundTables>();

    // The at-exit clean-up, in its order; writes no file.
    void cleanUp() { customSounds.reset(); }
};

}  // namespace qinghe
