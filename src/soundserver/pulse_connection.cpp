#include "pulse_connection.h"

#include "media/engine/pulse_client.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace qinghe {

namespace {

using Clock = std::chrono::steady_clock;

std::string textOf(const char* text)
{
    return text ? text : "";
}

std::string roleOf(pa_proplist* properties)
{
    return properties ? textOf(pa_proplist_gets(properties, kRoleProperty)) : std::string();
}

}  // namespace

// What a call waits for; the server's callbacks fill it in.
struct PulseConnection::Wait {
    bool done = false;
    bool ok = false;
};

struct PulseConnection::PeakWatch {
    pa_stream* stream = nullptr;
    std::function<void(float)> heard;
    Wait ready;
    bool ended = false;
};

PulseStop::PulseStop()
{
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
}

PulseStop::~PulseStop()
{
    for (int end : pipe_)
        if (end >= 0)
            close(end);
}

void PulseStop::request()
{
    if (requested_.exchange(true) || pipe_[1] < 0)
        return;
    // The byte is never read: the pipe stays readable for every later poll.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(pipe_[1], &byte, 1);
}

PulseWake::PulseWake()
{
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        pipe_[0] = pipe_[1] = -1;
}

PulseWake::~PulseWake()
{
    for (int end : pipe_)
        if (end >= 0)
            close(end);
}

void PulseWake::request()
{
    if (pipe_[1] < 0)
        return;
    // A full pipe is readable already: the byte that did not fit is not missed.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(pipe_[1], &byte, 1);
}

void PulseWake::drain() const
{
    char bytes[64];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
}

PulseConnection::PulseConnection(pa_mainloop* loop, pa_context* context, std::shared_ptr<const PulseStop> stop,
                                 std::shared_ptr<const PulseWake> wake)
    : loop_(loop), context_(context), stop_(std::move(stop)), wake_(std::move(wake))
{
    pa_mainloop_api* api = pa_mainloop_get_api(loop_);
    if (stop_ && stop_->readableWhenRequested() >= 0) {
        // Nothing to do when it fires: the wait looks at the request itself.
        stopWatch_ = api->io_new(api, stop_->readableWhenRequested(), PA_IO_EVENT_INPUT,
                                 [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void*) {}, nullptr);
    }
    if (wake_ && wake_->readable() >= 0) {
        // Drained at once, so a call under way is not kept spinning; the
        // next wait for news sees the flag.
        wakeWatch_ = api->io_new(
            api, wake_->readable(), PA_IO_EVENT_INPUT,
            [](pa_mainloop_api*, pa_io_event*, int, pa_io_event_flags_t, void* userdata) {
                auto* self = static_cast<PulseConnection*>(userdata);
                self->wake_->drain();
                self->woken_ = true;
            },
            this);
    }
}

PulseConnection::~PulseConnection()
{
    stopPeaks();
    pa_context_set_subscribe_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_mainloop_api* api = pa_mainloop_get_api(loop_);
    if (stopWatch_)
        api->io_free(stopWatch_);
    if (wakeWatch_)
        api->io_free(wakeWatch_);
    pa_mainloop_free(loop_);
}

std::unique_ptr<PulseConnection> PulseConnection::open(const std::string& clientName, Limit limit,
                                                       std::shared_ptr<const PulseStop> stop,
                                                       std::shared_ptr<const PulseWake> wake)
{
    if (stop && stop->requested())
        return nullptr;
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop)
        return nullptr;
    pa_context* context = connectPulseClient(pa_mainloop_get_api(loop), clientName);
    if (!context) {
        pa_mainloop_free(loop);
        return nullptr;
    }
    std::unique_ptr<PulseConnection> connection(
        new PulseConnection(loop, context, std::move(stop), std::move(wake)));
    Wait ready;
    pa_context_set_state_callback(
        context,
        [](pa_context* c, void* userdata) {
            auto* wait = static_cast<Wait*>(userdata);
            const PulseClientState state = pulseClientState(c);
            if (state != PulseClientState::Connecting)
                *wait = {true, state == PulseClientState::Ready};
        },
        &ready);
    const bool connected = connection->runUntilDone(ready, limit) && ready.ok;
    pa_context_set_state_callback(context, nullptr, nullptr);
    return connected ? std::move(connection) : nullptr;
}

bool PulseConnection::isReady() const
{
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

bool PulseConnection::watchChanges(Limit limit)
{
    pa_context_set_subscribe_callback(
        context_,
        [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* userdata) {
            auto* self = static_cast<PulseConnection*>(userdata);
            const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
            if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT)
                self->streamsChanged_ = true;
            else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE_OUTPUT)
                self->recordingsChanged_ = true;
            else
                self->changed_ = true;
        },
        this);
    Wait wait;
    const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE
                                                          | PA_SUBSCRIPTION_MASK_MODULE | PA_SUBSCRIPTION_MASK_CLIENT
                                                          | PA_SUBSCRIPTION_MASK_SERVER
                                                          | PA_SUBSCRIPTION_MASK_SINK_INPUT
                                                          | PA_SUBSCRIPTION_MASK_SOURCE_OUTPUT);
    pa_operation* operation = pa_context_subscribe(
        context_, mask,
        [](pa_context*, int success, void* userdata) { *static_cast<Wait*>(userdata) = {true, success != 0}; },
        &wait);
    return await(operation, wait, limit);
}

ServerNews PulseConnection::waitForNews(Limit limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        if ((stop_ && stop_->requested()) || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            return ServerNews::Lost;
        if (woken_) {
            woken_ = false;
            return ServerNews::Woken;
        }
        if (changed_) {
            // A full look covers the streams as well.
            changed_ = false;
            streamsChanged_ = false;
            recordingsChanged_ = false;
            return ServerNews::Changed;
        }
        if (streamsChanged_) {
            streamsChanged_ = false;
            return ServerNews::Streams;
        }
        if (recordingsChanged_) {
            recordingsChanged_ = false;
            return ServerNews::Recordings;
        }
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return ServerNews::Quiet;
        if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 || pa_mainloop_poll(loop_) < 0
            || pa_mainloop_dispatch(loop_) < 0)
            return ServerNews::Lost;
    }
}

bool PulseConnection::runUntilDone(Wait& wait, Limit limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    while (!wait.done) {
        if (stop_ && stop_->requested())
            return false;
        // A connection that fails meanwhile answers nothing more.
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0 || pa_mainloop_poll(loop_) < 0
            || pa_mainloop_dispatch(loop_) < 0)
            return false;
    }
    return true;
}

bool PulseConnection::await(pa_operation* operation, Wait& wait, Limit limit)
{
    if (!operation)
        return false;
    const bool answered = runUntilDone(wait, limit);
    // A call that gives up cancels its operation: no callback may reach its frame later.
    if (!answered)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return answered && wait.ok;
}

std::optional<std::vector<ServerDevice>> PulseConnection::sinks(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerDevice> devices;
    } state;
    pa_operation* operation = pa_context_get_sink_info_list(
        context_,
        [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            s->devices.push_back({textOf(info->name), textOf(info->description), roleOf(info->proplist), false});
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.devices);
}

std::optional<std::vector<ServerDevice>> PulseConnection::sources(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerDevice> devices;
    } state;
    pa_operation* operation = pa_context_get_source_info_list(
        context_,
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            s->devices.push_back({textOf(info->name), textOf(info->description), roleOf(info->proplist),
                                  info->monitor_of_sink != PA_INVALID_INDEX});
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.devices);
}

std::optional<ServerDefaults> PulseConnection::defaults(Limit limit)
{
    struct State {
        Wait wait;
        ServerDefaults defaults;
    } state;
    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (info)
                s->defaults = {textOf(info->default_sink_name), textOf(info->default_source_name)};
            s->wait = {true, info != nullptr};
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.defaults);
}

std::optional<std::vector<ServerModule>> PulseConnection::modules(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerModule> modules;
    } state;
    pa_operation* operation = pa_context_get_module_info_list(
        context_,
        [](pa_context*, const pa_module_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            s->modules.push_back({info->index, textOf(info->name), textOf(info->argument)});
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.modules);
}

std::optional<std::uint32_t> PulseConnection::loadModule(const std::string& name, const std::string& argument,
                                                         Limit limit)
{
    struct State {
        Wait wait;
        std::uint32_t index = PA_INVALID_INDEX;
    } state;
    pa_operation* operation = pa_context_load_module(
        context_, name.c_str(), argument.c_str(),
        [](pa_context*, std::uint32_t index, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            s->index = index;
            s->wait = {true, index != PA_INVALID_INDEX};
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return state.index;
}

bool PulseConnection::unloadModule(std::uint32_t index, Limit limit)
{
    Wait wait;
    pa_operation* operation = pa_context_unload_module(
        context_, index,
        [](pa_context*, int success, void* userdata) { *static_cast<Wait*>(userdata) = {true, success != 0}; },
        &wait);
    return await(operation, wait, limit);
}

std::optional<std::vector<ServerClient>> PulseConnection::clients(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerClient> clients;
    } state;
    pa_operation* operation = pa_context_get_client_info_list(
        context_,
        [](pa_context*, const pa_client_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            const auto property = [&](const char* key) {
                return info->proplist ? textOf(pa_proplist_gets(info->proplist, key)) : std::string();
            };
            s->clients.push_back(
                {info->index, textOf(info->name), property(PA_PROP_APPLICATION_PROCESS_ID), property(kHolderProperty)});
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.clients);
}

std::optional<std::vector<ServerStream>> PulseConnection::playbackStreams(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerStream> streams;
    } state;
    pa_operation* operation = pa_context_get_sink_input_info_list(
        context_,
        [](pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            s->streams.push_back({info->index, roleOf(info->proplist), pa_sw_volume_to_linear(pa_cvolume_max(&info->volume)),
                                  info->volume.channels});
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    return std::move(state.streams);
}

bool PulseConnection::setPlaybackStreamLevel(const ServerStream& stream, double level, Limit limit)
{
    pa_cvolume volume;
    pa_cvolume_set(&volume, static_cast<unsigned>(std::max(stream.channels, 1)), pa_sw_volume_from_linear(level));
    Wait wait;
    pa_operation* operation = pa_context_set_sink_input_volume(
        context_, stream.index, &volume,
        [](pa_context*, int success, void* userdata) { *static_cast<Wait*>(userdata) = {true, success != 0}; },
        &wait);
    return await(operation, wait, limit);
}

std::optional<std::vector<ServerRecording>> PulseConnection::recordings(Limit limit)
{
    struct State {
        Wait wait;
        std::vector<ServerRecording> recordings;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sourceAndClient;
        std::map<std::uint32_t, std::string> sources;
    } state;
    pa_operation* operation = pa_context_get_source_output_info_list(
        context_,
        [](pa_context*, const pa_source_output_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0) {
                s->wait = {true, eol > 0};
                return;
            }
            const char* name = info->proplist ? pa_proplist_gets(info->proplist, PA_PROP_MEDIA_NAME) : nullptr;
            s->recordings.push_back({info->index, {}, textOf(name ? name : info->name), {}, {}});
            s->sourceAndClient.emplace_back(info->source, info->client);
        },
        &state);
    if (!await(operation, state.wait, limit))
        return std::nullopt;
    // The stream tells its source and program by index only.
    state.wait = {};
    operation = pa_context_get_source_info_list(
        context_,
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* s = static_cast<State*>(userdata);
            if (eol != 0)
                s->wait = {true, eol > 0};
            else
                s->sources[info->index] = textOf(info->name);
        },
        &state);
    auto programs = await(operation, state.wait, limit) ? clients(limit) : std::nullopt;
    if (!programs)
        return std::nullopt;
    for (std::size_t i = 0; i < state.recordings.size(); ++i) {
        const auto [source, client] = state.sourceAndClient[i];
        if (const auto found = state.sources.find(source); found != state.sources.end())
            state.recordings[i].source = found->second;
        for (const ServerClient& program : *programs)
            if (program.index == client) {
                state.recordings[i].application = program.name;
                state.recordings[i].processId = program.processId;
            }
    }
    return std::move(state.recordings);
}

bool PulseConnection::moveRecording(std::uint32_t index, const std::string& source, Limit limit)
{
    Wait wait;
    pa_operation* operation = pa_context_move_source_output_by_name(
        context_, index, source.c_str(),
        [](pa_context*, int success, void* userdata) { *static_cast<Wait*>(userdata) = {true, success != 0}; },
        &wait);
    return await(operation, wait, limit);
}

std::optional<std::uint32_t> PulseConnection::clientIndex() const
{
    const std::uint32_t index = pa_context_get_index(context_);
    if (index == PA_INVALID_INDEX)
        return std::nullopt;
    return index;
}

bool PulseConnection::setOwnProperty(const std::string& key, const std::string& value, Limit limit)
{
    Wait wait;
    // Replaced rather than removed, even to clear it: PipeWire's Pulse layer
    // does not remove a client's properties.
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, key.c_str(), value.c_str());
    pa_operation* operation = pa_context_proplist_update(
        context_, PA_UPDATE_REPLACE, properties,
        [](pa_context*, int success, void* userdata) { *static_cast<Wait*>(userdata) = {true, success != 0}; },
        &wait);
    pa_proplist_free(properties);
    return await(operation, wait, limit);
}

bool PulseConnection::watchPeaks(const std::string& source, int peaksPerSecond, Limit every,
                                 std::function<void(float)> heard, Limit limit)
{
    stopPeaks();
    // Mono float peaks: the server takes the loudest sample of each stretch.
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(peaksPerSecond), 1};
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, kRoleProperty, "microphone-level");
    // A volume the server remembers for it is its own, nobody else's.
    pa_proplist_sets(properties, "module-stream-restore.id", "source-output-by-qinghe-role:microphone-level");
    pa_stream* stream = pa_stream_new_with_proplist(context_, "说话检测", &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!stream)
        return false;
    peaks_ = std::make_unique<PeakWatch>();
    peaks_->stream = stream;
    peaks_->heard = std::move(heard);
    pa_stream_set_state_callback(
        stream,
        [](pa_stream* s, void* userdata) {
            auto* watch = static_cast<PeakWatch*>(userdata);
            const pa_stream_state_t state = pa_stream_get_state(s);
            if (state == PA_STREAM_READY)
                watch->ready = {true, true};
            else if (!PA_STREAM_IS_GOOD(state)) {
                watch->ready = {true, false};
                watch->ended = true;
            }
        },
        peaks_.get());
    pa_stream_set_read_callback(
        stream,
        [](pa_stream* s, std::size_t, void* userdata) {
            auto* watch = static_cast<PeakWatch*>(userdata);
            const void* data = nullptr;
            std::size_t bytes = 0;
            while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
                // A hole (no data) is dropped unheard.
                if (data) {
                    float peak = 0;
                    const auto* samples = static_cast<const float*>(data);
                    for (std::size_t i = 0; i < bytes / sizeof(float); ++i)
                        peak = std::max(peak, std::fabs(samples[i]));
                    watch->heard(peak);
                }
                pa_stream_drop(s);
            }
        },
        peaks_.get());
    // The server sends what it has measured once a fragment is full.
    const auto peaksAtOnce = std::max<std::int64_t>(1, peaksPerSecond * every.count() / 1000);
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<std::uint32_t>(-1);
    buffer.fragsize = static_cast<std::uint32_t>(peaksAtOnce * sizeof(float));
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_PEAK_DETECT | PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream, source.c_str(), &buffer, flags) < 0 || !runUntilDone(peaks_->ready, limit)
        || !peaks_->ready.ok) {
        stopPeaks();
        return false;
    }
    return true;
}

bool PulseConnection::peaksFlowing() const
{
    return peaks_ && !peaks_->ended;
}

void PulseConnection::stopPeaks()
{
    if (!peaks_)
        return;
    pa_stream_set_state_callback(peaks_->stream, nullptr, nullptr);
    pa_stream_set_read_callback(peaks_->stream, nullptr, nullptr);
    pa_stream_disconnect(peaks_->stream);
    pa_stream_unref(peaks_->stream);
    peaks_.reset();
}

}  // namespace qinghe
