#include "server_streams.h"

#include "audio_output.h"
#include "sound_file_library.h"
#include "sound_voice.h"

#include <pulse/context.h>
#include <pulse/proplist.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qinghe {

namespace {

using Clock = std::chrono::steady_clock;

// The name the server shows for the streams' connection.
constexpr const char* kClientName = "青禾主持人音效辅助工具";
constexpr int kBytesPerFrame = ServerStreams::kChannels * 2;
// What each stream keeps in hand for the server: 5.8 ms at 44100 Hz, asked
// for in steps of 1.5 ms. The server wakes the program that often while a
// sound plays; a click waits at most this long behind what is queued.
constexpr std::uint32_t kTargetFrames = 256;
constexpr std::uint32_t kRequestFrames = 64;
// What a corked stream asks for: two seconds, the longest a sink keeps.
constexpr std::uint32_t kCorkedTargetFrames = 2 * ServerStreams::kRate;
// The most the write callback renders at once; a larger request is served in parts.
constexpr std::size_t kBlockFrames = 4096;
// How often the streams look whether they have been quiet long enough to
// cork. By the clock, not by the frames the server asked for: a sink
// nobody records from asks for seconds at once, and then for nothing.
constexpr std::uint64_t kIdleCheckMicroseconds = 250000;

}  // namespace

struct ServerStreams::Impl {
    const SoundFileLibrary* files = nullptr;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* mix = nullptr;
    pa_stream* listening = nullptr;
    pa_io_event* kickWatch = nullptr;
    pa_time_event* idleCheck = nullptr;
    int kick = -1;  // eventfd: a new sound asks the loop to flush, uncork and start it

    std::atomic<bool> alive{false};
    std::atomic<bool> corked{true};
    // The sounds, each decoded on a thread of its own; the loop thread mixes them.
    VoiceMixer voices;

    // The loop thread's own.
    std::vector<std::int16_t> block = std::vector<std::int16_t>(kBlockFrames * kChannels);
    Clock::time_point quietSince = Clock::now();
    bool waking = false;     // the short latency is asked for; the streams play once the server has it
    int pendingResizes = 0;

    ~Impl();
    void render(std::int16_t* out, std::size_t frames);
    void cork();
    void wake();
    void awake();
    void flushBoth();
    static void onResized(pa_stream* stream, int success, void* self);
    static void onWritable(pa_stream* stream, std::size_t bytes, void* self);
    static void onKick(pa_mainloop_api* api, pa_io_event* event, int fd, pa_io_event_flags_t flags, void* self);
    static void onIdleCheck(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);
};

ServerStreams::Impl::~Impl()
{
    if (loop) {
        pa_threaded_mainloop_lock(loop);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        if (kickWatch)
            api->io_free(kickWatch);
        if (idleCheck)
            api->time_free(idleCheck);
        for (pa_stream* stream : {mix, listening}) {
            if (!stream)
                continue;
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }
    // The loop has ended: nothing renders any more.
    voices.clear();
    if (kick >= 0)
        ::close(kick);
}

void ServerStreams::Impl::render(std::int16_t* out, std::size_t frames)
{
    std::fill(out, out + frames * kChannels, std::int16_t{0});
    voices.mixInto(out, static_cast<int>(frames));
}

// The audio callback: the mix stream asks, both streams get the same block.
void ServerStreams::Impl::onWritable(pa_stream* stream, std::size_t bytes, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    while (bytes >= static_cast<std::size_t>(kBytesPerFrame)) {
        const std::size_t frames = std::min(bytes / kBytesPerFrame, kBlockFrames);
        impl->render(impl->block.data(), frames);
        const std::size_t length = frames * kBytesPerFrame;
        pa_stream_write(stream, impl->block.data(), length, nullptr, 0, PA_SEEK_RELATIVE);
        if (impl->listening)
            pa_stream_write(impl->listening, impl->block.data(), length, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= length;
    }
}

pa_buffer_attr bufferAttributes(std::uint32_t targetFrames)
{
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = targetFrames * kBytesPerFrame;
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = std::min(targetFrames, kRequestFrames) * kBytesPerFrame;
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    return attributes;
}

void ServerStreams::Impl::cork()
{
    for (pa_stream* stream : {mix, listening}) {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
            continue;
        if (pa_operation* corking = pa_stream_cork(stream, 1, nullptr, nullptr))
            pa_operation_unref(corking);
        // A corked stream still asks its sink for its short latency, and a
        // sink asked for that wakes every few milliseconds: while corked it
        // asks for a long one.
        const pa_buffer_attr attributes = bufferAttributes(kCorkedTargetFrames);
        if (pa_operation* resized = pa_stream_set_buffer_attr(stream, &attributes, nullptr, nullptr))
            pa_operation_unref(resized);
    }
    corked.store(true);
}

// The short latency first, and only once the server has it the streams
// play: a stream uncorked at its long one would be asked for seconds at
// once, more than is decoded, and the sound would break off.
void ServerStreams::Impl::wake()
{
    waking = true;
    pendingResizes = 0;
    for (pa_stream* stream : {mix, listening}) {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
            continue;
        const pa_buffer_attr attributes = bufferAttributes(kTargetFrames);
        if (pa_operation* resized = pa_stream_set_buffer_attr(stream, &attributes, &Impl::onResized, this)) {
            ++pendingResizes;
            pa_operation_unref(resized);
        }
    }
    if (pendingResizes == 0)
        awake();
}

void ServerStreams::Impl::onResized(pa_stream*, int, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    if (--impl->pendingResizes == 0)
        impl->awake();
}

void ServerStreams::Impl::awake()
{
    waking = false;
    flushBoth();
    for (pa_stream* stream : {mix, listening}) {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
            continue;
        if (pa_operation* uncorking = pa_stream_cork(stream, 0, nullptr, nullptr))
            pa_operation_unref(uncorking);
    }
    corked.store(false);
    quietSince = Clock::now();
    pa_context_rttime_restart(context, idleCheck, pa_rtclock_now() + kIdleCheckMicroseconds);
    voices.armAll();
}

void ServerStreams::Impl::flushBoth()
{
    for (pa_stream* stream : {mix, listening}) {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
            continue;
        if (pa_operation* flushed = pa_stream_flush(stream, nullptr, nullptr))
            pa_operation_unref(flushed);
    }
}

void ServerStreams::Impl::onKick(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(fd, &count, sizeof count);
    impl->quietSince = Clock::now();
    // What the streams hold is silence, or the sound the click cuts off
    // where it stands: it goes, and the new sound is written behind the
    // flush, so it starts at once and none of its first frames goes with
    // it. Where other sounds go on (beside it, or fading out), what is
    // queued stays, so none of them skips. Corked streams are woken first;
    // the sound is armed once they are.
    if (impl->waking)
        return;
    if (impl->corked.load()) {
        impl->wake();
        return;
    }
    if (impl->voices.anyWaitingForFlush()) {
        impl->flushBoth();
        // A sound fading out lost what was queued of it: its tail would not join what was heard.
        impl->voices.endFadingOut();
    }
    impl->voices.armAll();
}

void ServerStreams::Impl::onIdleCheck(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    const bool sounding = impl->voices.anySounding();
    const Clock::time_point now = Clock::now();
    if (sounding)
        impl->quietSince = now;
    else if (!impl->waking && now - impl->quietSince >= kIdleBeforeCork)
        impl->cork();
    // Corked, nothing wakes the program until the next sound restarts the check.
    if (!impl->corked.load())
        pa_context_rttime_restart(impl->context, event, pa_rtclock_now() + kIdleCheckMicroseconds);
}

ServerStreams::ServerStreams(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ServerStreams::~ServerStreams() = default;

namespace {

// Waits, with the loop locked, until ready() or failed() or the deadline;
// the loop runs meanwhile.
template <typename Ready, typename Failed>
bool awaitState(pa_threaded_mainloop* loop, Clock::time_point deadline, Ready ready, Failed failed)
{
    constexpr auto kPoll = std::chrono::milliseconds(1);
    while (!ready()) {
        if (failed() || Clock::now() >= deadline)
            return false;
        pa_threaded_mainloop_unlock(loop);
        std::this_thread::sleep_for(kPoll);
        pa_threaded_mainloop_lock(loop);
    }
    return true;
}

pa_stream* newStream(pa_context* context, const char* name, const std::string& role)
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, ServerStreams::kRate, ServerStreams::kChannels};
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, "qinghe.role", role.c_str());
    // Each stream is remembered by the server apart from the other, so
    // neither is restored to the other's device or volume.
    pa_proplist_sets(properties, "module-stream-restore.id", ("sink-input-by-qinghe-role:" + role).c_str());
    pa_stream* stream = pa_stream_new_with_proplist(context, name, &format, nullptr, properties);
    pa_proplist_free(properties);
    return stream;
}

}  // namespace

std::unique_ptr<ServerStreams> ServerStreams::connect(const std::string& mixSink, const std::string& listeningSink,
                                                      std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    auto impl = std::make_unique<Impl>();
    impl->files = soundFileLibrary();
    impl->kick = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    impl->loop = pa_threaded_mainloop_new();
    if (!impl->files || impl->kick < 0 || !impl->loop)
        return nullptr;
    pa_threaded_mainloop* loop = impl->loop;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    impl->context = pa_context_new(api, kClientName);
    if (!impl->context || pa_context_connect(impl->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0
        || pa_threaded_mainloop_start(loop) < 0)
        return nullptr;
    Impl* self = impl.get();
    pa_threaded_mainloop_lock(loop);
    struct Unlock {
        pa_threaded_mainloop* loop;
        ~Unlock() { pa_threaded_mainloop_unlock(loop); }
    } unlock{loop};
    pa_context_set_state_callback(
        impl->context,
        [](pa_context* context, void* userdata) {
            auto* impl = static_cast<Impl*>(userdata);
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
                impl->alive.store(false);
        },
        self);
    const auto contextState = [&] { return pa_context_get_state(impl->context); };
    if (!awaitState(loop, deadline, [&] { return contextState() == PA_CONTEXT_READY; },
                    [&] { return !PA_CONTEXT_IS_GOOD(contextState()); }))
        return nullptr;

    const bool listens = listeningSink != kNoListeningDevice;
    impl->mix = newStream(impl->context, "青禾音效（聊天）", kChatStreamRole);
    if (listens)
        impl->listening = newStream(impl->context, "青禾音效（监听）", kListeningStreamRole);
    if (!impl->mix || (listens && !impl->listening))
        return nullptr;
    // Made corked, as silence leaves them.
    const pa_buffer_attr attributes = bufferAttributes(kCorkedTargetFrames);
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    // The mix is the chat's: the stream never wanders off it. The listening
    // stream follows its device, or the default, as the server moves it.
    pa_stream_set_write_callback(impl->mix, &Impl::onWritable, self);
    if (pa_stream_connect_playback(impl->mix, mixSink.c_str(), &attributes,
                                   static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE), nullptr, nullptr)
            < 0
        || (listens
            && pa_stream_connect_playback(impl->listening, listeningSink.empty() ? nullptr : listeningSink.c_str(),
                                          &attributes, flags, nullptr, nullptr)
                   < 0))
        return nullptr;
    const auto ready = [](pa_stream* stream) { return !stream || pa_stream_get_state(stream) == PA_STREAM_READY; };
    const auto failed = [](pa_stream* stream) { return stream && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)); };
    if (!awaitState(loop, deadline, [&] { return ready(impl->mix) && ready(impl->listening); },
                    [&] { return failed(impl->mix) || failed(impl->listening) || !PA_CONTEXT_IS_GOOD(contextState()); }))
        return nullptr;
    const auto streamFailed = [](pa_stream* stream, void* userdata) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            static_cast<Impl*>(userdata)->alive.store(false);
    };
    pa_stream_set_state_callback(impl->mix, streamFailed, self);
    if (impl->listening)
        pa_stream_set_state_callback(impl->listening, streamFailed, self);
    impl->kickWatch = api->io_new(api, impl->kick, PA_IO_EVENT_INPUT, &Impl::onKick, self);
    // Started by the first sound: the streams begin corked.
    impl->idleCheck = pa_context_rttime_new(impl->context, PA_USEC_INVALID, &Impl::onIdleCheck, self);
    impl->alive.store(true);
    return std::unique_ptr<ServerStreams>(new ServerStreams(std::move(impl)));
}

bool ServerStreams::open()
{
    return impl_->alive.load();
}

void ServerStreams::close()
{
    impl_->voices.clear();
}

bool ServerStreams::corked() const
{
    return impl_->corked.load();
}

OpenedMusic* ServerStreams::loadMusic(const char* path, bool)
{
    auto music = std::make_unique<OpenedMusic>();
    music->path = path;
    music->held = impl_->files->open(path, SFM_READ, &music->info);
    if (!music->held || music->info.samplerate <= 0 || music->info.channels <= 0) {
        if (music->held)
            impl_->files->close(music->held);
        return nullptr;
    }
    return music.release();
}

void ServerStreams::freeMusic(OpenedMusic* music)
{
    haltMusic(music, false);
    if (music->held)
        impl_->files->close(music->held);
    delete music;
}

double ServerStreams::musicDuration(OpenedMusic* music)
{
    return voiceDuration(*music);
}

int ServerStreams::playMusic(OpenedMusic* music, std::optional<double> fromSeconds, bool fadeAtEnd)
{
    // With nothing else playing on, the streams hold silence or a sound
    // being cut: the new sound goes behind a flush, at once. (After a wake
    // the server may hold a second of what plays; a fade is not worth that wait.)
    const bool flushFirst = !impl_->voices.anyPlayingOn();
    if (!startVoice(impl_->voices, *impl_->files, *music, fromSeconds, fadeAtEnd, false, flushFirst))
        return -1;
    // The loop uncorks the streams if silence had corked them, and arms the sound.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->kick, &one, sizeof one);
    return 0;
}

void ServerStreams::haltMusic(OpenedMusic* music, bool fade)
{
    if (!music->voice)
        return;
    if (fade)
        impl_->voices.fadeOut(music->voice);
    else
        impl_->voices.remove(music->voice);
    music->voice = nullptr;
}

bool ServerStreams::playingMusic(OpenedMusic* music)
{
    return music->voice && !music->voice->finished();
}

double ServerStreams::musicPosition(OpenedMusic* music)
{
    return music->voice ? static_cast<double>(music->voice->position()) / kRate : -1;
}

void ServerStreams::setGain(OpenedMusic* music, int left, int right)
{
    music->leftVolume = left;
    music->rightVolume = right;
    if (music->voice)
        music->voice->setVolumes(left, right);
}

void ServerStreams::setLoudnessGain(OpenedMusic* music, float factor)
{
    music->loudnessGain = factor;
    if (music->voice)
        music->voice->setLoudnessGain(factor);
}

}  // namespace qinghe
