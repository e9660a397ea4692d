#include "server_streams.h"

#include "audio_output.h"
#include "sound_file_library.h"

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
// Decoded ahead of the streams (0.74 s): the decoder sleeps between rounds,
// and a long song costs no more memory than a click.
constexpr std::size_t kRingFrames = std::size_t{1} << 15;
// Decoded before a sound is handed over, so its first blocks are there at once.
constexpr std::size_t kPrefillFrames = 4096;
constexpr std::size_t kDecodeFrames = 4096;
constexpr auto kDecoderNap = std::chrono::milliseconds(20);
// How often the streams look whether they have been quiet long enough to
// cork. By the clock, not by the frames the server asked for: a sink
// nobody records from asks for seconds at once, and then for nothing.
constexpr std::uint64_t kIdleCheckMicroseconds = 250000;
constexpr float kSampleScale = 32768.0f;
constexpr int kMostChannels = 64;  // a corrupt header should not size a buffer

// Decoded frames handed from one decoder thread to the write callback.
// One writer, one reader, no lock.
class FrameRing {
public:
    explicit FrameRing(std::size_t frames) : samples_(frames * ServerStreams::kChannels), capacity_(frames) {}

    std::size_t writable() const { return capacity_ - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire)); }
    std::size_t readable() const { return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed); }

    void push(const std::int16_t* frames, std::size_t count)
    {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = ((head + i) % capacity_) * ServerStreams::kChannels;
            samples_[at] = frames[2 * i];
            samples_[at + 1] = frames[2 * i + 1];
        }
        head_.store(head + count, std::memory_order_release);
    }

    std::size_t pop(std::int16_t* frames, std::size_t count)
    {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t taken = std::min<std::size_t>(count, head_.load(std::memory_order_acquire) - tail);
        for (std::size_t i = 0; i < taken; ++i) {
            const std::size_t at = ((tail + i) % capacity_) * ServerStreams::kChannels;
            frames[2 * i] = samples_[at];
            frames[2 * i + 1] = samples_[at + 1];
        }
        tail_.store(tail + taken, std::memory_order_release);
        return taken;
    }

private:
    std::vector<std::int16_t> samples_;
    std::size_t capacity_;
    std::atomic<std::uint64_t> head_{0};
    std::atomic<std::uint64_t> tail_{0};
};

std::int16_t toSample(float value)
{
    return static_cast<std::int16_t>(std::clamp(std::lrint(value * kSampleScale), long{std::numeric_limits<std::int16_t>::min()},
                                                long{std::numeric_limits<std::int16_t>::max()}));
}

}  // namespace

// A file opened for the streams; the first play takes the open file, later ones open it again.
struct OpenedMusic {
    std::string path;
    SF_INFO info{};
    SNDFILE* held = nullptr;
};

namespace {

// One sound on its way out: its file, decoded on a thread of its own into
// the ring at the streams' rate and channels.
class Playing {
public:
    Playing(const SoundFileLibrary& files, SNDFILE* file, const SF_INFO& info, std::int64_t startFrame)
        : files_(files), file_(file), channels_(std::clamp(info.channels, 1, kMostChannels)),
          step_(static_cast<double>(info.samplerate) / ServerStreams::kRate), startFrame_(startFrame),
          input_(kDecodeFrames * static_cast<std::size_t>(channels_)), output_(kDecodeFrames * 2 + 4)
    {
    }

    ~Playing()
    {
        stop_.store(true);
        if (decoder_.joinable())
            decoder_.join();
        files_.close(file_);
    }

    Playing(const Playing&) = delete;
    Playing& operator=(const Playing&) = delete;

    // Decodes the first blocks here, then the rest on a thread of its own.
    void start()
    {
        while (!decodedAll_.load() && ring_.readable() < kPrefillFrames)
            decodeRound();
        if (decodedAll_.load())
            return;
        try {
            decoder_ = std::thread([this] {
                while (!stop_.load() && !decodedAll_.load()) {
                    if (ring_.writable() >= kDecodeFrames)
                        decodeRound();
                    else
                        std::this_thread::sleep_for(kDecoderNap);
                }
            });
        } catch (const std::system_error&) {
            // No thread to spare: what was decoded plays, and the sound ends there.
            decodedAll_.store(true);
        }
    }

    // The loop thread's side, once what the streams held before this sound
    // has been flushed: from now on it plays.
    void arm() { armed_.store(true, std::memory_order_release); }

    // The write callback's side: frames taken, the rest of out left alone.
    std::size_t take(std::int16_t* out, std::size_t frames)
    {
        if (!armed_.load(std::memory_order_acquire) || finished_.load(std::memory_order_relaxed))
            return 0;
        // Read before the ring: a ring found short after the last frame was decoded is the end.
        const bool all = decodedAll_.load(std::memory_order_acquire);
        const std::size_t taken = ring_.pop(out, frames);
        played_.fetch_add(static_cast<std::int64_t>(taken), std::memory_order_relaxed);
        if (taken < frames && all)
            finished_.store(true, std::memory_order_relaxed);
        return taken;
    }

    bool finished() const { return finished_.load(std::memory_order_relaxed); }
    std::int64_t position() const { return startFrame_ + played_.load(std::memory_order_relaxed); }

private:
    // One round: a block of the file to frames at the streams' rate, linearly
    // interpolated when the file's rate is another.
    void decodeRound()
    {
        const std::size_t room = std::min(ring_.writable(), kDecodeFrames);
        const auto wanted = static_cast<sf_count_t>(std::floor(static_cast<double>(room) * std::min(step_, 1.0)) - 2);
        if (wanted <= 0)
            return;
        const sf_count_t read = files_.readFloatFrames(file_, input_.data(), std::min<sf_count_t>(wanted, kDecodeFrames));
        if (read <= 0) {
            decodedAll_.store(true, std::memory_order_release);
            return;
        }
        std::size_t produced = 0;
        for (sf_count_t i = 0; i < read; ++i) {
            const float* frame = &input_[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels_)];
            const std::array<float, 2> now = {frame[0], channels_ > 1 ? frame[1] : frame[0]};
            if (step_ == 1.0) {
                output_[2 * produced] = toSample(now[0]);
                output_[2 * produced + 1] = toSample(now[1]);
                ++produced;
                continue;
            }
            if (!primed_) {
                previous_ = now;
                primed_ = true;
                continue;
            }
            while (phase_ < 1.0 && produced < kDecodeFrames + 2) {
                const auto part = static_cast<float>(phase_);
                output_[2 * produced] = toSample(previous_[0] + (now[0] - previous_[0]) * part);
                output_[2 * produced + 1] = toSample(previous_[1] + (now[1] - previous_[1]) * part);
                ++produced;
                phase_ += step_;
            }
            phase_ -= 1.0;
            previous_ = now;
        }
        ring_.push(output_.data(), std::min(produced, ring_.writable()));
    }

    const SoundFileLibrary& files_;
    SNDFILE* file_;
    const int channels_;
    const double step_;  // file frames per stream frame
    const std::int64_t startFrame_;
    FrameRing ring_{kRingFrames};
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<bool> decodedAll_{false};
    std::atomic<bool> finished_{false};
    std::atomic<std::int64_t> played_{0};
    std::thread decoder_;
    // The decoder's own (the first round runs on the caller's thread, before the decoder starts).
    std::vector<float> input_;
    std::vector<std::int16_t> output_;
    std::array<float, 2> previous_{};
    bool primed_ = false;
    double phase_ = 0;
};

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
    std::atomic<Playing*> current{nullptr};
    std::atomic<int> inRender{0};
    // Left volume in the high half, right in the low: one word, never half seen.
    std::atomic<std::uint32_t> volumes{(std::uint32_t{kFullVolume} << 16) | kFullVolume};
    std::atomic<float> loudness{kUnityLoudnessGain};

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
    void armCurrent();
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
    delete current.exchange(nullptr);
    if (kick >= 0)
        ::close(kick);
}

void ServerStreams::Impl::render(std::int16_t* out, std::size_t frames)
{
    // Noted before the sound is read, so haltMusic knows when it may let the sound go.
    inRender.fetch_add(1);
    std::size_t taken = 0;
    if (Playing* playing = current.load())
        taken = playing->take(out, frames);
    inRender.fetch_sub(1);
    std::fill(out + taken * kChannels, out + frames * kChannels, std::int16_t{0});
    const std::uint32_t word = volumes.load(std::memory_order_relaxed);
    const float factor = loudness.load(std::memory_order_relaxed);
    const float left = static_cast<float>(word >> 16) / kFullVolume * factor;
    const float right = static_cast<float>(word & 0xffff) / kFullVolume * factor;
    if (left == 1.0f && right == 1.0f)
        return;
    for (std::size_t i = 0; i < taken; ++i) {
        out[2 * i] = toSample(out[2 * i] / kSampleScale * left);
        out[2 * i + 1] = toSample(out[2 * i + 1] / kSampleScale * right);
    }
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
    armCurrent();
}

void ServerStreams::Impl::armCurrent()
{
    inRender.fetch_add(1);
    if (Playing* playing = current.load())
        playing->arm();
    inRender.fetch_sub(1);
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
    // What the streams hold is silence, or the sound the click cuts: it
    // goes, and the new sound is written behind the flush, so it starts at
    // once and none of its first frames goes with it. Corked streams are
    // woken first; the sound is armed once they are.
    if (impl->waking)
        return;
    if (impl->corked.load()) {
        impl->wake();
        return;
    }
    impl->flushBoth();
    impl->armCurrent();
}

void ServerStreams::Impl::onIdleCheck(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* self)
{
    auto* impl = static_cast<Impl*>(self);
    impl->inRender.fetch_add(1);
    const Playing* playing = impl->current.load();
    const bool sounding = playing && !playing->finished();
    impl->inRender.fetch_sub(1);
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
    haltMusic();
}

bool ServerStreams::corked() const
{
    return impl_->corked.load();
}

OpenedMusic* ServerStreams::loadMusic(const char* path)
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
    if (music && music->held)
        impl_->files->close(music->held);
    delete music;
}

double ServerStreams::musicDuration(OpenedMusic* music)
{
    const sf_count_t frames = music->info.frames;
    if (frames <= 0 || frames == std::numeric_limits<sf_count_t>::max())
        return -1;
    return static_cast<double>(frames) / music->info.samplerate;
}

int ServerStreams::playMusic(OpenedMusic* music, std::optional<double> fromSeconds)
{
    haltMusic();
    SF_INFO info = music->info;
    SNDFILE* file = std::exchange(music->held, nullptr);
    if (!file)
        file = impl_->files->open(music->path.c_str(), SFM_READ, &info);
    if (!file)
        return -1;
    std::int64_t startFrame = 0;
    if (fromSeconds) {
        const auto fileFrame = static_cast<sf_count_t>(std::llround(*fromSeconds * info.samplerate));
        if (impl_->files->seek(file, fileFrame, SEEK_SET) < 0) {
            impl_->files->close(file);
            return -1;
        }
        startFrame = std::llround(*fromSeconds * kRate);
    }
    auto playing = std::make_unique<Playing>(*impl_->files, file, info, startFrame);
    playing->start();
    impl_->current.store(playing.release());
    // The loop uncorks the streams if silence had corked them.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(impl_->kick, &one, sizeof one);
    return 0;
}

void ServerStreams::haltMusic()
{
    Playing* old = impl_->current.exchange(nullptr);
    if (!old)
        return;
    // The write callback (and the kick, which arms a sound) notes itself
    // before it reads the sound: once it is out, none can still be using the old one.
    while (impl_->inRender.load() != 0)
        std::this_thread::yield();
    delete old;
}

bool ServerStreams::playingMusic()
{
    const Playing* playing = impl_->current.load();
    return playing && !playing->finished();
}

double ServerStreams::musicPosition(OpenedMusic*)
{
    const Playing* playing = impl_->current.load();
    return playing ? static_cast<double>(playing->position()) / kRate : -1;
}

void ServerStreams::setGain(int left, int right)
{
    impl_->volumes.store((static_cast<std::uint32_t>(left) << 16) | static_cast<std::uint32_t>(right));
}

void ServerStreams::setLoudnessGain(float factor)
{
    impl_->loudness.store(factor);
}

}  // namespace qinghe
