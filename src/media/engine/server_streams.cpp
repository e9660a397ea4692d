#include "server_streams.h"

#include "pulse_client.h"
#include "sound_voice.h"
#include "voice_mixer.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
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
// What each stream keeps in hand for the server at first: 5.8 ms at 44100 Hz
// (5.3 ms at 48000 Hz), asked
// for in steps of 1.5 ms. The server wakes the program that often while a
// sound plays; a click waits at most this long behind what is queued.
constexpr std::uint32_t kTargetFrames = 256;
constexpr std::uint32_t kRequestFrames = 64;
// A busy machine may keep the loop thread from writing in time, and the chat
// then hears a gap. Each gap the server reports doubles what the streams
// hold, up to this much (23 ms), where a click still sounds at once to the
// host; a gap in the chat is worse than a click a few milliseconds later.
constexpr std::uint32_t kMostTargetFrames = 4 * kTargetFrames;
// What a corked stream asks for: two seconds, the longest a sink keeps.
constexpr std::uint32_t kCorkedTargetSeconds = 2;
// The most the write callback renders at once; a larger request is served in parts.
constexpr std::size_t kBlockFrames = 4096;
// How often the streams look whether they have been quiet long enough to
// cork. By the clock, not by the frames the server asked for: a sink
// nobody records from asks for seconds at once, and then for nothing.
constexpr std::uint64_t kIdleCheckMicroseconds = 250000;
// What each stream keeps of the frames it was given, for a cut: 370 ms,
// far more than a stream holds at its short latency.
constexpr std::size_t kHistoryFrames = 16384;
// What a cut leaves to play of what a stream holds, while the writing over
// the rest is on its way: what the server last asked for, as it reads
// about that much at once (a graph takes a whole period), kept between a
// millisecond and a fade's length.
constexpr int kLeastCutLeadPerSecond = 1000;
// The rate the streams play at when the server does not say its own.
constexpr std::uint32_t kFallbackRate = 44100;
// The highest rate taken from a server: past it, the resampler's work for
// every voice buys nothing a host can hear.
constexpr std::uint32_t kHighestRate = 192000;
// The most a cut writes over, behind which a stream that holds more (one
// nobody reads) keeps it.
constexpr std::int64_t kMostOverwrittenFrames = kHistoryFrames / 2;

// One stream's side of the writing: what it was given of late, where the
// server's write index stands, and a cut sound's fade still to be mixed
// under what it gets next. The loop thread's own.
struct Feed {
    pa_stream* stream = nullptr;
    std::vector<std::int16_t> history = std::vector<std::int16_t>(kHistoryFrames * ServerStreams::kChannels);
    std::uint64_t given = 0;  // frames given since the connection; the history ends there
    // The server's write index in bytes, counted here from the answer to
    // the last flush's timing query on; until that answer, bytes since the flush.
    std::int64_t end = 0;
    bool endKnown = false;
    int queries = 0;          // timing queries not answered yet
    bool cutAwaited = false;  // a cut waits for the answer, and the writing with it
    std::int64_t unread = -1;  // bytes the server held unread at the cut's query; -1 for none
    // When that answer was current, how long a write takes to reach the
    // server, and whether it was reading: what it reads before the cut's
    // writing is in can no longer be written over.
    struct timeval unreadAt{};
    pa_usec_t transportUsec = 0;
    bool reading = false;
    std::int64_t seekTo = -1;  // where the next write begins, over what the server holds; -1 behind it
    std::vector<std::int16_t> fade;
    int fadeLength = 0;
    int fadeAt = 0;
    std::vector<std::int16_t> out = std::vector<std::int16_t>(kBlockFrames * ServerStreams::kChannels);
};

}  // namespace

struct ServerStreams::Impl {
    // The rate is the server's, known once connected: everything sized by it is made then.
    void setRate(int serverRate)
    {
        rate = serverRate;
        fadeFrames = cutFadeFrames(rate);
        voices = std::make_unique<VoiceMixer>(rate);
        feed.fade.assign(static_cast<std::size_t>(fadeFrames) * kChannels, 0);
        beyond.assign(static_cast<std::size_t>(fadeFrames) * kChannels, 0);
    }

    int rate = 0;
    int fadeFrames = 0;  // a cut's fade
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_io_event* kickWatch = nullptr;
    pa_time_event* idleCheck = nullptr;
    int kick = -1;  // eventfd: a new sound asks the loop to flush, uncork and start it

    std::atomic<bool> alive{false};
    std::atomic<bool> corked{true};
    // The sounds, each decoded on a thread of its own; the loop thread mixes them.
    std::unique_ptr<VoiceMixer> voices;

    // The loop thread's own.
    std::vector<std::int16_t> block = std::vector<std::int16_t>(kBlockFrames * kChannels);
    Feed feed;
    // The sounds a cut fades out, rendered past the last frame given: where
    // less than a fade's length is written over, the fade goes on with them.
    std::vector<std::int16_t> beyond;
    Clock::time_point quietSince = Clock::now();
    bool waking = false;     // the short latency is asked for; the streams play once the server has it
    int pendingResizes = 0;
    std::int64_t lastAskedFrames = 0;  // what the stream's last request asked for
    std::uint32_t targetFrames = kTargetFrames;  // what the streams hold while awake

    ~Impl();
    void render(std::int16_t* out, std::size_t frames);
    void write(std::size_t bytes);
    void give(Feed& feed, std::size_t frames);
    bool holding() const;
    void finishCut();
    bool takeCutFade(Feed& feed, std::int64_t over);
    void cork();
    void wake();
    void awake();
    void flush(Feed& feed);
    void flushStream();
    void startCut();
    static void onTimed(pa_stream* stream, int success, void* self);
    static void onResized(pa_stream* stream, int success, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
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
        if (stream) {
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
    if (voices)
        voices->clear();
    if (kick >= 0)
        ::close(kick);
}

void ServerStreams::Impl::render(std::int16_t* out, std::size_t frames)
{
    std::fill(out, out + frames * kChannels, std::int16_t{0});
    voices->mixInto(out, static_cast<int>(frames));
}

// The audio callback: the stream asks for blocks of the voices' sum.
void ServerStreams::Impl::onWritable(pa_stream*, std::size_t bytes, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    // A cut waits for the server to say where it reads; the answer writes what is asked meanwhile.
    if (impl->holding())
        return;
    impl->lastAskedFrames = static_cast<std::int64_t>(bytes / kBytesPerFrame);
    impl->write(bytes);
}

void ServerStreams::Impl::write(std::size_t bytes)
{
    while (bytes >= static_cast<std::size_t>(kBytesPerFrame)) {
        const std::size_t frames = std::min(bytes / kBytesPerFrame, kBlockFrames);
        render(block.data(), frames);
        give(feed, frames);
        bytes -= frames * kBytesPerFrame;
    }
}

// The block, with what is left of a cut sound's fade beneath it, into one
// stream and its history.
void ServerStreams::Impl::give(Feed& feed, std::size_t frames)
{
    const std::int16_t* data = block.data();
    if (feed.fadeAt < feed.fadeLength) {
        std::copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(frames * kChannels), feed.out.begin());
        const std::size_t count = std::min<std::size_t>(frames, static_cast<std::size_t>(feed.fadeLength - feed.fadeAt));
        for (std::size_t i = 0; i < count * kChannels; ++i) {
            const int sum = feed.out[i] + feed.fade[static_cast<std::size_t>(feed.fadeAt) * kChannels + i];
            feed.out[i] = static_cast<std::int16_t>(std::clamp(sum, -32768, 32767));
        }
        feed.fadeAt += static_cast<int>(count);
        data = feed.out.data();
    }
    const std::size_t length = frames * kBytesPerFrame;
    std::int64_t offset = 0;
    pa_seek_mode_t seek = PA_SEEK_RELATIVE;
    if (feed.seekTo >= 0) {
        // Over what the server holds: the history there is written anew.
        feed.given -= static_cast<std::uint64_t>((feed.end - feed.seekTo) / kBytesPerFrame);
        feed.end = feed.seekTo;
        offset = feed.seekTo;
        seek = PA_SEEK_ABSOLUTE;
        feed.seekTo = -1;
    }
    if (pa_stream_write(feed.stream, data, length, nullptr, offset, seek) < 0)
        feed.endKnown = false;
    feed.end += static_cast<std::int64_t>(length);
    for (std::size_t i = 0; i < frames; ++i) {
        const std::size_t at = ((feed.given + i) % kHistoryFrames) * kChannels;
        feed.history[at] = data[i * kChannels];
        feed.history[at + 1] = data[i * kChannels + 1];
    }
    feed.given += frames;
}

bool ServerStreams::Impl::holding() const
{
    return feed.cutAwaited;
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
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation* corking = pa_stream_cork(stream, 1, nullptr, nullptr))
            pa_operation_unref(corking);
        // A corked stream still asks its sink for its short latency, and a
        // sink asked for that wakes every few milliseconds: while corked it
        // asks for a long one.
        const pa_buffer_attr attributes = bufferAttributes(kCorkedTargetSeconds * static_cast<std::uint32_t>(rate));
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
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        const pa_buffer_attr attributes = bufferAttributes(targetFrames);
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

void ServerStreams::Impl::onUnderflow(pa_stream*, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    // Only a gap in a sound counts: a sink nobody records from may ask for
    // more at once than the streams hold, and in silence nobody hears it.
    if (impl->corked.load() || impl->waking || impl->targetFrames >= kMostTargetFrames
        || !impl->voices->anySounding())
        return;
    impl->targetFrames = std::min(impl->targetFrames * 2, kMostTargetFrames);
    const pa_buffer_attr attributes = bufferAttributes(impl->targetFrames);
    if (pa_stream* stream = impl->stream; stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation* resized = pa_stream_set_buffer_attr(stream, &attributes, nullptr, nullptr))
            pa_operation_unref(resized);
    }
}

void ServerStreams::Impl::awake()
{
    waking = false;
    flushStream();
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation* uncorking = pa_stream_cork(stream, 0, nullptr, nullptr))
            pa_operation_unref(uncorking);
    }
    corked.store(false);
    quietSince = Clock::now();
    pa_context_rttime_restart(context, idleCheck, pa_rtclock_now() + kIdleCheckMicroseconds);
    voices->armAll();
}

// Every flush is followed by a timing query, answered after it: the write
// index it gives is where the flush left it, and the count goes on from there.
void ServerStreams::Impl::flush(Feed& feed)
{
    if (!feed.stream || pa_stream_get_state(feed.stream) != PA_STREAM_READY)
        return;
    pa_operation* flushed = pa_stream_flush(feed.stream, nullptr, nullptr);
    if (!flushed)
        return;
    pa_operation_unref(flushed);
    feed.end = 0;
    feed.endKnown = false;
    // What was left of an earlier fade went with the flush.
    feed.fadeLength = 0;
    feed.fadeAt = 0;
    feed.seekTo = -1;
    feed.unread = -1;
    if (pa_operation* asked = pa_stream_update_timing_info(feed.stream, &Impl::onTimed, this)) {
        pa_operation_unref(asked);
        ++feed.queries;
    }
}

void ServerStreams::Impl::flushStream()
{
    flush(feed);
}

// A cut. A flush would leave the server nothing to play until the new
// sound came, and the sound cut off would break off mid-wave into that
// silence. Instead what a stream holds of it is written over, from a
// little past the frame the server reads now: the cut sound goes on from
// there under a fade, and the new sound starts there, mixed over it. A
// timing query says where the server reads; the writing waits for the
// answer. A stream whose write index is not known here, or that does not
// answer, is flushed: the new sound starts as soon, and the old one breaks off.
void ServerStreams::Impl::startCut()
{
    if (!feed.stream || pa_stream_get_state(feed.stream) != PA_STREAM_READY)
        return;
    feed.cutAwaited = false;
    feed.unread = -1;
    pa_operation* asked = feed.endKnown ? pa_stream_update_timing_info(feed.stream, &Impl::onTimed, this) : nullptr;
    if (!asked) {
        flush(feed);
        return;
    }
    pa_operation_unref(asked);
    ++feed.queries;
    feed.cutAwaited = true;
}

void ServerStreams::Impl::onTimed(pa_stream* stream, int success, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    if (stream != impl->feed.stream)
        return;
    Feed& feed = impl->feed;
    // An earlier query's answer: the latest one's is on its way.
    if (--feed.queries > 0)
        return;
    const pa_timing_info* timing = success ? pa_stream_get_timing_info(stream) : nullptr;
    const bool valid = timing && !timing->write_index_corrupt;
    const bool cut = std::exchange(feed.cutAwaited, false);
    if (cut) {
        // Nothing was written since the query: the write index is the one counted here.
        if (valid && timing->write_index == feed.end) {
            feed.unread = std::max<std::int64_t>(feed.end - timing->read_index, 0);
            feed.unreadAt = timing->timestamp;
            feed.transportUsec = timing->transport_usec;
            feed.reading = timing->playing != 0;
        } else {
            impl->flush(feed);
        }
    } else if (valid) {
        // The answer counts what was written since the query, which came right after the flush.
        feed.end = timing->write_index;
        feed.endKnown = true;
    }
    if (cut && !impl->holding())
        impl->finishCut();
}

// The answer is in: what the server asked for meanwhile is written, and
// the cut goes over what the stream holds.
void ServerStreams::Impl::finishCut()
{
    if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
        return;
    const std::size_t asked = pa_stream_writable_size(stream);
    const std::int64_t askedFrames =
        asked == static_cast<std::size_t>(-1) ? 0 : static_cast<std::int64_t>(asked / kBytesPerFrame);
    const std::int64_t lead = std::clamp<std::int64_t>(lastAskedFrames, rate / kLeastCutLeadPerSecond, fadeFrames);
    const auto overwritable = [this, lead](const Feed& feed) {
        if (feed.unread < 0 || feed.unread % kBytesPerFrame != 0)
            return std::int64_t{-1};
        // On a busy machine the answer may be old by now: what the server has
        // read since, and will read before the writing is in, is no longer
        // there to be written over.
        const pa_usec_t since = feed.reading ? pa_timeval_age(&feed.unreadAt) + feed.transportUsec : 0;
        const auto read = static_cast<std::int64_t>(since * static_cast<pa_usec_t>(rate) / PA_USEC_PER_SEC);
        const std::int64_t unread = std::max<std::int64_t>(feed.unread / kBytesPerFrame - read, 0);
        return std::min(unread - std::min(unread, lead), kMostOverwrittenFrames);
    };
    const std::int64_t over = overwritable(feed);
    if (feed.unread < 0)
        return;
    feed.unread = -1;
    if (!takeCutFade(feed, over))
        flush(feed);
    write(static_cast<std::size_t>(std::max<std::int64_t>(over, 0) + askedFrames) * kBytesPerFrame);
}

// Where the stream is written over from, over frames before its write
// index, and the fade of what it held: the frames from there on, then the
// cut sounds past them, under a fade over a cut's fade. False when the
// history does not reach back there.
bool ServerStreams::Impl::takeCutFade(Feed& feed, std::int64_t over)
{
    if (over < 0 || static_cast<std::uint64_t>(over) > feed.given)
        return false;
    const std::uint64_t from = feed.given - static_cast<std::uint64_t>(over);
    for (int i = 0; i < fadeFrames; ++i) {
        const std::int16_t* frame = i < over ? &feed.history[((from + static_cast<std::uint64_t>(i)) % kHistoryFrames) * kChannels]
                                             : &beyond[static_cast<std::size_t>(i - over) * kChannels];
        const float gain = fadeOutGain(i + 1, fadeFrames);
        for (int channel = 0; channel < kChannels; ++channel)
            feed.fade[static_cast<std::size_t>(i) * kChannels + static_cast<std::size_t>(channel)] =
                static_cast<std::int16_t>(std::lrint(static_cast<float>(frame[channel]) * gain));
    }
    feed.fadeLength = fadeFrames;
    feed.fadeAt = 0;
    feed.seekTo = feed.end - over * kBytesPerFrame;
    return true;
}

void ServerStreams::Impl::onKick(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t drained = read(fd, &count, sizeof count);
    impl->quietSince = Clock::now();
    // What the streams hold is silence, or the sound the click cuts off:
    // the new sound is written over it, so it starts at once, and the cut
    // sound fades out under it from the frame where it starts. Where other
    // sounds go on (beside it, or fading out), what is queued stays, so
    // none of them skips. Corked streams are woken first; the sound is
    // armed once they are.
    if (impl->waking)
        return;
    if (impl->corked.load()) {
        impl->wake();
        return;
    }
    // A sound let go of slowly fades on as it was asked to, under the new one.
    if (impl->voices->anyWaitingForFlush() && !impl->voices->anyFadingSlowly()) {
        // The sounds being cut, on past the last frame given (the new one is not armed yet).
        std::fill(impl->beyond.begin(), impl->beyond.end(), std::int16_t{0});
        impl->voices->mixInto(impl->beyond.data(), impl->fadeFrames);
        impl->startCut();
        // Their fade is the streams' own now, from the frame where the new sound starts.
        impl->voices->endFadingOut();
    }
    impl->voices->armAll();
}

void ServerStreams::Impl::onIdleCheck(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    const bool sounding = impl->voices->anySounding();
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

// What the server shows for the stream of each role.
const char* nameOfRole(const std::string& role)
{
    if (role == kChatStreamRole)
        return "青禾音效（聊天）";
    if (role == kListeningStreamRole)
        return "青禾音效（监听）";
    return "青禾音效";
}

pa_stream* newStream(pa_context* context, const char* name, const std::string& role, int rate)
{
    const pa_sample_spec format{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), ServerStreams::kChannels};
    pa_proplist* properties = roleProperties(role);
    pa_stream* stream = pa_stream_new_with_proplist(context, name, &format, nullptr, properties);
    pa_proplist_free(properties);
    return stream;
}

}  // namespace

std::unique_ptr<ServerStreams> ServerStreams::connect(const std::string& sink, const std::string& role,
                                                      std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    auto impl = std::make_unique<Impl>();
    impl->kick = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    impl->loop = pa_threaded_mainloop_new();
    if (impl->kick < 0 || !impl->loop)
        return nullptr;
    pa_threaded_mainloop* loop = impl->loop;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    impl->context = connectPulseClient(api, kClientName);
    if (!impl->context || pa_threaded_mainloop_start(loop) < 0)
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
    const auto contextState = [&] { return pulseClientState(impl->context); };
    if (!awaitState(loop, deadline, [&] { return contextState() == PulseClientState::Ready; },
                    [&] { return contextState() == PulseClientState::Failed; }))
        return nullptr;

    // The streams play at the server's own rate, so it resamples nothing of ours.
    std::uint32_t serverRate = 0;
    pa_operation* asked = pa_context_get_server_info(
        impl->context,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            *static_cast<std::uint32_t*>(userdata) = info && pa_sample_spec_valid(&info->sample_spec)
                                                          ? info->sample_spec.rate
                                                          : kFallbackRate;
        },
        &serverRate);
    if (!asked)
        return nullptr;
    const bool answered = awaitState(loop, deadline, [&] { return serverRate != 0; },
                                     [&] { return contextState() == PulseClientState::Failed; });
    pa_operation_cancel(asked);
    pa_operation_unref(asked);
    if (!answered)
        return nullptr;
    impl->setRate(static_cast<int>(std::min(serverRate, kHighestRate)));

    impl->stream = newStream(impl->context, nameOfRole(role), role, impl->rate);
    if (!impl->stream)
        return nullptr;
    impl->feed.stream = impl->stream;
    // Made corked, as silence leaves it.
    const pa_buffer_attr attributes = bufferAttributes(kCorkedTargetSeconds * static_cast<std::uint32_t>(impl->rate));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    // The mix is the chat's: its stream never wanders off it. A listening
    // stream follows its device, or the default, as the server moves it.
    if (role == kChatStreamRole)
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    pa_stream_set_write_callback(impl->stream, &Impl::onWritable, self);
    pa_stream_set_underflow_callback(impl->stream, &Impl::onUnderflow, self);
    if (pa_stream_connect_playback(impl->stream, sink.empty() ? nullptr : sink.c_str(), &attributes, flags, nullptr,
                                   nullptr)
        < 0)
        return nullptr;
    const auto streamState = [&] { return pa_stream_get_state(impl->stream); };
    if (!awaitState(loop, deadline, [&] { return streamState() == PA_STREAM_READY; },
                    [&] { return !PA_STREAM_IS_GOOD(streamState()) || contextState() == PulseClientState::Failed; }))
        return nullptr;
    pa_stream_set_state_callback(
        impl->stream,
        [](pa_stream* stream, void* userdata) {
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
                static_cast<Impl*>(userdata)->alive.store(false);
        },
        self);
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
    impl_->voices->clear();
}

bool ServerStreams::corked() const
{
    return impl_->corked.load();
}

int ServerStreams::rate() const
{
    return impl_->rate;
}

VoiceMixer& ServerStreams::mixer()
{
    return *impl_->voices;
}

void ServerStreams::voiceAdded(SoundVoice* voice)
{
    // With nothing else playing on, the streams hold silence or a sound
    // being cut: the new sound is written over it, at once. (After a wake
    // the server may hold a second of what plays; a fade is not worth that wait.)
    voice->flushFirst.store(!impl_->voices->anyPlayingOn());
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->kick, &one, sizeof one);
}

OutputFacts ServerStreams::facts() const
{
    OutputFacts facts;
    facts.rate = impl_->rate;
    facts.channels = kChannels;
    facts.periodFrames = static_cast<int>(kTargetFrames);
    if (impl_->alive.load())
        facts.driver = kServerStreamsDriver;
    return facts;
}

}  // namespace qinghe
