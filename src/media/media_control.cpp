#include "media_control.h"

#include "audio_output.h"
#include "media_command.h"
#include "media_devices.h"
#include "server_streams.h"
#include "sound_file_library.h"
#include "sound_library.h"

#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace qinghe {

namespace {

// The one instance of the layer. The devices go before the outputs.
struct MediaEngine {
    std::mutex lock;  // commands may come from more than one thread
    AudioOutput output;
    // The sound server's own streams, while the target is kServerStreamsDriver.
    std::unique_ptr<ServerStreams> streams;
    MediaOutputDevice target;
    MediaDevices devices{output};
    MediaCommandObserver observer;
    // Loads the sound library ahead of the first open. Set under lock and
    // joined outside it, so that commands meanwhile are not held up.
    std::thread libraryLoad;

    ~MediaEngine()
    {
        // A program that did not shut the layer down still ends no thread unjoined.
        if (libraryLoad.joinable())
            libraryLoad.join();
        devices.closeAll();
        output.close();
    }

    MusicOutput& active() { return streams ? static_cast<MusicOutput&>(*streams) : output; }
};

MediaEngine& engine()
{
    static MediaEngine instance;
    return instance;
}

void report(const MediaCommandObserver& observer, SentMediaCommand sent)
{
    if (observer)
        observer(sent);
}

}  // namespace

int openMediaDevice(const MediaOpenRecord& record)
{
    MediaEngine& e = engine();
    MediaCommandObserver observer;
    int result = kMediaOk;
    {
        std::lock_guard guard(e.lock);
        result = e.devices.open(record);
        observer = e.observer;
    }
    report(observer, {true, record, {}, result});
    return result;
}

int sendMediaCommand(const Text& command)
{
    MediaEngine& e = engine();
    MediaCommandObserver observer;
    int result = kMediaOk;
    {
        std::lock_guard guard(e.lock);
        MediaCommand parsed;
        result = parseMediaCommand(command, parsed);
        if (result == kMediaOk)
            result = e.devices.run(parsed);
        observer = e.observer;
    }
    report(observer, {false, {}, command, result});
    return result;
}

int setMediaLoudnessGain(const Text& alias, double factor)
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    return e.devices.setLoudnessGain(alias, factor);
}

void setMediaMixing(const MediaMixing& mixing)
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    e.devices.setMixing(mixing);
}

MediaMixing mediaMixing()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    return e.devices.mixing();
}

bool mediaDevicePlaying(const Text& alias)
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    return e.devices.playing(alias);
}

void setMediaCommandObserver(MediaCommandObserver observer)
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    e.observer = std::move(observer);
}

MediaOutputFormat mediaOutputFormat()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    return e.output.format();
}

void setMediaOutputDevice(const MediaOutputDevice& target)
{
    MediaEngine& e = engine();
    {
        std::lock_guard guard(e.lock);
        if (e.target == target)
            return;
    }
    // The server is waited for without the lock, so a click meanwhile plays on where it did.
    std::unique_ptr<ServerStreams> fresh;
    if (target.driver == kServerStreamsDriver)
        fresh = ServerStreams::connect(target.device, target.listeningDevice, kServerStreamsLimit);
    std::unique_ptr<ServerStreams> old;
    {
        std::lock_guard guard(e.lock);
        e.devices.closeAll();
        e.active().close();
        old = std::move(e.streams);
        e.streams = std::move(fresh);
        e.target = target;
        // Streams that could not be made leave the board silent rather than playing elsewhere.
        e.output.setTarget(target.driver == kServerStreamsDriver ? MediaOutputDevice{kNoAudioDriver, {}, {}} : target);
        e.devices.useOutput(e.active());
    }
}

MediaOutputDevice mediaOutputDevice()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    return e.target;
}

void setMediaOutputPeriod(int frames)
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    e.output.setRequestedPeriod(frames);
}

std::uint64_t mediaMixedFrames()
{
    return engine().output.mixedFrames();
}

std::uint64_t mediaLateBlocks()
{
    return engine().output.lateBlocks();
}

std::string mediaAudioDriver()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    if (e.streams)
        return e.streams->open() ? kServerStreamsDriver : "";
    return e.output.driverName();
}

void setMediaMixObserver(MediaMixObserver observer)
{
    engine().output.setMixObserver(std::move(observer));
}

void prepareMediaOutput()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    // One load is enough: the library stays once it is in.
    if (e.libraryLoad.joinable())
        return;
    try {
        e.libraryLoad = std::thread([] {
            soundLibrary();
            // The own voices' decoder, for the first sound they play.
            soundFileLibrary();
        });
    } catch (const std::system_error&) {
        // No thread to spare: the first open loads the library itself.
    }
}

void closeMediaOutput()
{
    MediaEngine& e = engine();
    std::lock_guard guard(e.lock);
    e.devices.closeAll();
    e.active().close();
    e.output.setRequestedPeriod(0);
}

void shutDownMediaOutput()
{
    closeMediaOutput();
    MediaEngine& e = engine();
    std::thread load;
    std::unique_ptr<ServerStreams> streams;
    {
        std::lock_guard guard(e.lock);
        load = std::move(e.libraryLoad);
        // The streams' loop thread ends here, not after main.
        streams = std::move(e.streams);
        e.target = {};
        e.output.setTarget({});
        e.devices.useOutput(e.output);
    }
    streams.reset();
    // Loading cannot be cut short, but it ends on its own within the time
    // the dynamic loader takes.
    if (load.joinable())
        load.join();
}

}  // namespace qinghe
