#pragma once

#include "board/custom_sound_tables.h"
#include "hotkeys/global_hot_keys.h"
#include "net/download_service.h"
#include "net/download_task.h"
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
    // The download object, idle, and its task record with the defaults,
    // until the updater fills the record and starts a task.
    std::unique_ptr<DownloadService> downloadService = std::make_unique<DownloadService>();
    std::unique_ptr<DownloadTask> downloadTask = std::make_unique<DownloadTask>();
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
        onlineTexts.reset();
        // A task still running is stopped, within its stop wait, before the object goes.
        if (downloadService)
            downloadService->stop();
        downloadService.reset();
        downloadTask.reset();
        // Nothing the program loaded stays on the sound server.
        if (soundRouting)
            soundRouting->shutDown(SoundRouting::kExitLimit);
        soundRouting.reset();
    }
};

}  // namespace qinghe
