#pragma once

// One connection to the desktop's sound server, driven on the calling thread:
// every call runs the client's main loop until the server answers or the
// call's time is up, so a server that hangs costs a bounded wait and never
// a stuck thread. Nothing is kept between calls but the connection itself;
// names and descriptions are the server's UTF-8.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pa_context;
struct pa_operation;
struct pa_mainloop;

namespace qinghe {

// The property the program marks everything it loads with; its value says
// which part of the virtual microphone the module is.
inline constexpr const char* kRoleProperty = "qinghe.role";

struct ServerDevice {
    std::string name;         // the server's own name, e.g. "alsa_output.pci-0000_00_1b.0.analog-stereo"
    std::string description;  // what people see
    std::string role;         // kRoleProperty: set only on what the program made
    bool isMonitor = false;   // a sink's monitor source
};

struct ServerModule {
    std::uint32_t index = 0;
    std::string name;      // "module-null-sink", ...
    std::string argument;  // exactly as loaded
};

struct ServerDefaults {
    std::string sink;
    std::string source;
};

class PulseConnection {
public:
    // How long one call may wait for the server.
    using Limit = std::chrono::milliseconds;

    // Connects to the server the environment names (PULSE_SERVER) or the
    // user's own; null when none answers within limit. Never starts one.
    static std::unique_ptr<PulseConnection> open(const std::string& clientName, Limit limit);
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

    bool isReady() const;

private:
    PulseConnection(pa_mainloop* loop, pa_context* context);
    struct Wait;
    // Runs the main loop until the wait is over, the connection fails or the limit passes.
    bool runUntilDone(Wait& wait, Limit limit);
    // Waits for the operation's answer; true when it came and says success.
    bool await(pa_operation* operation, Wait& wait, Limit limit);

    pa_mainloop* loop_;
    pa_context* context_;
};

}  // namespace qinghe
