// The SDL2 audio device, built into the sound module: SDL and the drivers
// it brings are loaded with it, not with the program.

#include "audio_device.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace qinghe {

namespace {

constexpr int kChannels = 2;

// SDL's audio subsystem is one per process: devices open one at a time.
std::mutex& subsystemLock()
{
    static auto* const lock = new std::mutex;
    return *lock;
}

// Where the audio thread's blocks go: made before the device, so SDL has it from the first block.
struct BlockTarget {
    AudioDevice::Fill fill;
    void* context;

    static void SDLCALL callback(void* self, Uint8* stream, int length)
    {
        auto* target = static_cast<BlockTarget*>(self);
        target->fill(target->context, reinterpret_cast<std::int16_t*>(stream),
                     length / static_cast<int>(sizeof(std::int16_t) * kChannels));
    }
};

class SdlDevice final : public AudioDevice {
public:
    SdlDevice(std::unique_ptr<BlockTarget> target, SDL_AudioDeviceID id, int periodFrames)
        : target_(std::move(target)), id_(id), periodFrames_(periodFrames)
    {
        SDL_PauseAudioDevice(id_, 0);
    }

    ~SdlDevice() override
    {
        std::lock_guard guard(subsystemLock());
        // Every block up to the last one asked for is finished first.
        SDL_CloseAudioDevice(id_);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    int periodFrames() const override { return periodFrames_; }

    std::string driverName() const override
    {
        const char* name = SDL_GetCurrentAudioDriver();
        return name ? name : "";
    }

private:
    std::unique_ptr<BlockTarget> target_;
    SDL_AudioDeviceID id_;
    int periodFrames_;
};

// The driver is read as the audio subsystem starts. A chosen one overrides
// SDL_AUDIODRIVER; none gives the environment its say.
void chooseDriver(const std::string& driver)
{
    const char* fromEnvironment = std::getenv("SDL_AUDIODRIVER");
    const std::string chosen = driver.empty() ? (fromEnvironment ? fromEnvironment : "") : driver;
    // An empty name lets the audio layer try its drivers in its own order.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, chosen.c_str(), SDL_HINT_OVERRIDE);
}

}  // namespace

std::unique_ptr<AudioDevice> openSdlAudioDevice(const AudioDeviceRequest& request, AudioDevice::Fill fill,
                                                void* context)
{
    std::unique_lock guard(subsystemLock());
    // The program handles its own signals; the audio layer must not take them.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    chooseDriver(request.driver);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return nullptr;
    auto target = std::make_unique<BlockTarget>(BlockTarget{fill, context});
    SDL_AudioSpec wanted{};
    wanted.freq = request.rate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = kChannels;
    wanted.samples = static_cast<Uint16>(request.periodFrames);
    wanted.callback = &BlockTarget::callback;
    wanted.userdata = target.get();
    SDL_AudioSpec got{};
    // Rate, format and channels are fixed: blocks always arrive as 16-bit
    // stereo at the rate asked. The period may differ from the one asked.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(request.device.empty() ? nullptr : request.device.c_str(), 0,
                                                     &wanted, &got, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (id == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    guard.unlock();
    return std::make_unique<SdlDevice>(std::move(target), id, got.samples);
}

}  // namespace qinghe
