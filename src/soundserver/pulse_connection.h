#pragma once

// One connection to the desktop's sound server, driven on the calling thread:
// every call runs the client's main loop until the server answers or the
// call's time is up, so a server that hangs costs a bounded wait and never
// a stuck thread. Nothing is kept between calls but the connection itself;
// names and descriptions are the server's UTF-8.

#include "media/engine/pulse_client.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_io_event;
struct pa_operation;
struct pa_mainloop;

namespace qinghe {


struct ServerDevice {
    std::string name;         // the server's own name, e.g. "alsa_output.pci-0000_00_1b.0.analog-stereo"
    std::string description;  // what people see
    std::string role;         // kRoleProperty: set only on what the program made
    bool isMonitor = false;   // a sink's monitor source

    bool operator==(const ServerDevice&) const = default;
};

struct ServerModule {
    std::uint32_t index = 0;
    std::string name;      // "module-null-sink", ...
    std::string argument;  // exactly as loaded
};

// A program connected to the server.
struct ServerClient {
    std::uint32_t index = 0;
    std::string name;
    std::string processId;  // application.process.id, as the server reports it
    std::string holds;      // kHolderProperty: what the client holds for its program
};

// A stream playing into one of the server's sinks.
struct ServerStream {
    std::uint32_t index = 0;
    std::string role;        // kRoleProperty: set only on the program's own
    double level = 1.0;      // the loudest channel's volume, as a factor on the amplitude
    int channels = 0;
};

// A stream recording from one of the server's sources: a chat program's
// microphone, for one. Its index holds while it lives, wherever it is moved.
struct ServerRecording {
    std::uint32_t index = 0;
    std::string source;       // the source's name; empty when the server does not say
    std::string name;         // the stream's own, as its program gave it
    std::string application;  // its program's name and process id, as the server reports them
    std::string processId;
};

// The property a copy of the program sets on its own connection while it
// serves the virtual microphone: other copies see it, and it goes with the
// connection when the copy ends or crashes.
inline constexpr const char* kHolderProperty = "qinghe.holds";

struct ServerDefaults {
    std::string sink;
    std::string source;
};

// Cuts short, from any thread, every wait of the connections opened with it:
// once requested, their calls fail at once, the one under way included, and
// later opens fail too. It stays requested.
class PulseStop {
public:
    PulseStop();
    ~PulseStop();
    PulseStop(const PulseStop&) = delete;
    PulseStop& operator=(const PulseStop&) = delete;

    void request();
    bool requested() const { return requested_.load(); }

private:
    friend class PulseConnection;
    // Readable once requested: a connection's main loop watches it, so a
    // poll under way returns however long its limit. -1 when no pipe could
    // be had; the waits then end only at their limits.
    int readableWhenRequested() const { return pipe_[0]; }

    std::atomic<bool> requested_{false};
    int pipe_[2] = {-1, -1};
};

// Wakes, from any thread, a connection waiting for the server's news
// (PulseConnection::waitForNews): the routing thread's way of hearing about
// new settings while it watches the server.
class PulseWake {
public:
    PulseWake();
    ~PulseWake();
    PulseWake(const PulseWake&) = delete;
    PulseWake& operator=(const PulseWake&) = delete;

    void request();

private:
    friend class PulseConnection;
    // Readable once requested, until the watching connection drains it; -1
    // when no pipe could be had: a wait then ends only at its limit.
    int readable() const { return pipe_[0]; }
    void drain() const;

    int pipe_[2] = {-1, -1};
};

// What ended a wait for the server's news.
enum class ServerNews {
    Changed,     // a device, module or client came, went or changed
    Streams,     // only playback streams came, went or changed
    Recordings,  // only recording streams came, went or moved
    Woken,       // PulseWake::request
    Lost,        // the connection is gone: the server ended, or stop was requested
    Quiet,       // the limit passed
};

class PulseConnection {
public:
    // How long one call may wait for the server.
    using Limit = std::chrono::milliseconds;

    // Connects to the server the environment names (PULSE_SERVER) or the
    // user's own; null when none answers within limit, or stop is requested
    // first. Never starts one. Every later call of the connection also ends
    // when stop is requested.
    static std::unique_ptr<PulseConnection> open(const std::string& clientName, Limit limit,
                                                 std::shared_ptr<const PulseStop> stop = nullptr,
                                                 std::shared_ptr<const PulseWake> wake = nullptr);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Each gives nothing when the server does not answer in time or the
    // connection is gone.
    std::optional<std::vector<ServerDevice>> sinks(Limit limit);
    std::optional<std::vector<ServerDevice>> sources(Limit limit);
    std::optional<ServerDefaults> defaults(Limit limit);
    std::optional<std::vector<ServerModule>> modules(Limit limit);
    // The new module's index.
    std::optional<std::uint32_t> loadModule(const std::string& name, const std::string& argument, Limit limit);
    bool unloadModule(std::uint32_t index, Limit limit);
    std::optional<std::vector<ServerClient>> clients(Limit limit);
    std::optional<std::vector<ServerStream>> playbackStreams(Limit limit);
    // Sets every channel of the stream to level, a factor on the amplitude.
    bool setPlaybackStreamLevel(const ServerStream& stream, double level, Limit limit);
    // Every stream recording from a source, with its source and program.
    std::optional<std::vector<ServerRecording>> recordings(Limit limit);
    // Moves a recording onto the source of that name; false when the server
    // would not (the stream asked never to be moved, or has ended).
    bool moveRecording(std::uint32_t index, const std::string& source, Limit limit);
    // This connection's own index among the clients.
    std::optional<std::uint32_t> clientIndex() const;
    // Sets a property of this connection as the other clients see it.
    bool setOwnProperty(const std::string& key, const std::string& value, Limit limit);

    bool isReady() const;

    // Peaks of a source as the server measures them, peaksPerSecond of them
    // (1 is full scale), sent by the server every so often and each handed
    // to heard on this thread while a call or a wait for news runs the loop.
    // The stream is never moved: it ends with its source. A second watch
    // replaces the first; false when the server would not record.
    bool watchPeaks(const std::string& source, int peaksPerSecond, Limit every, std::function<void(float)> heard,
                    Limit limit);
    // False once the watched source went, or the stream was refused or stopped.
    bool peaksFlowing() const;
    void stopPeaks();

    // Asks the server to tell of changes to its devices, modules, clients,
    // streams and defaults from now on; false when it would not.
    bool watchChanges(Limit limit);
    // Waits until the server tells of a change (since the last wait; one
    // that came during another call counts), the wake is requested, the
    // connection is lost or the limit passes.
    ServerNews waitForNews(Limit limit);

private:
    PulseConnection(pa_mainloop* loop, pa_context* context, std::shared_ptr<const PulseStop> stop,
                    std::shared_ptr<const PulseWake> wake);
    struct Wait;
    // Runs the main loop until the wait is over, the connection fails or the limit passes.
    bool runUntilDone(Wait& wait, Limit limit);
    // Waits for the operation's answer; true when it came and says success.
    bool await(pa_operation* operation, Wait& wait, Limit limit);

    struct PeakWatch;

    pa_mainloop* loop_;
    pa_context* context_;
    std::unique_ptr<PeakWatch> peaks_;
    std::shared_ptr<const PulseStop> stop_;
    pa_io_event* stopWatch_ = nullptr;
    std::shared_ptr<const PulseWake> wake_;
    pa_io_event* wakeWatch_ = nullptr;
    // Set by the main loop's callbacks, cleared by waitForNews.
    bool changed_ = false;
    bool streamsChanged_ = false;
    bool recordingsChanged_ = false;
    bool woken_ = false;
};

}  // namespace qinghe
