#include "routing_plan.h"

#include "base/program_plugins.h"

#include <algorithm>
#include <cctype>

namespace qinghe {

namespace {

// The microphone's loopback holds this much sound in hand: the host's voice
// reaches the chat this much later. soundserver_bench's 20 s steady tone
// through it found no gap on either server with the cores idle, nor on
// PulseAudio with both cores kept busy.
constexpr int kLoopbackLatencyMs = 10;
// Every device the program makes is named with this, and no one else's is.
constexpr const char* kOwnNamePrefix = "qinghe_";
constexpr const char* kMonitorSuffix = ".monitor";
// The limiter's label inside its plugin, and the plugin's file name.
constexpr const char* kLimiterLabel = "qinghe_limiter";
constexpr const char* kLimiterFile = "qinghe_limiter.so";

// A device name as a module argument value: bare when it is plain, else in
// single quotes with the two characters that need it escaped.
std::string argumentValue(const std::string& value)
{
    const bool plain = !value.empty() && std::all_of(value.begin(), value.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == ':' || c == '@';
    });
    if (plain)
        return value;
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

std::string roleProperty(const char* role)
{
    return std::string(kRoleProperty) + "=" + role;
}

PlannedModule nullSink(const char* role, const char* name, const char* description, const std::string& format)
{
    return {role, "module-null-sink",
            std::string("sink_name=") + name + format + " sink_properties='device.description=\"" + description
                + "\" " + roleProperty(role) + "'"};
}

// The microphone's loopback into the mix: it leaves neither, since a
// microphone's loopback moved to the default source could land on the
// virtual microphone itself.
PlannedModule loopback(const char* role, const std::string& source, const std::string& sink)
{
    return {role, "module-loopback",
            "source=" + argumentValue(source) + " sink=" + argumentValue(sink)
                + " sink_dont_move=true source_dont_move=true latency_msec=" + std::to_string(kLoopbackLatencyMs)
                + " sink_input_properties=" + roleProperty(role)};
}

const ServerDevice* firstHostDevice(const std::vector<ServerDevice>& devices, bool monitorsToo)
{
    for (const ServerDevice& device : devices)
        if (!isOwnDevice(device) && (monitorsToo || !device.isMonitor))
            return &device;
    return nullptr;
}

// The listening device the loopback names: empty for the server's default,
// which it then follows; nullptr when there is nowhere to listen.
struct Listening {
    const ServerDevice* device = nullptr;  // named explicitly
    bool followsDefault = false;
};

Listening pickListening(const SoundSettings& settings, const ServerPicture& server, RoutingProblem& problem)
{
    if (!settings.listeningDevice.empty()) {
        const ServerDevice* chosen = findDevice(server.sinks, settings.listeningDevice);
        if (chosen && !isOwnDevice(*chosen))
            return {chosen, false};
        problem = RoutingProblem::ListeningDeviceMissing;
    }
    // The default is followed as it changes, unless it is one of the
    // program's own sinks: effects must never loop back into themselves.
    const ServerDevice* byDefault = findDevice(server.sinks, server.defaults.sink);
    if (byDefault && !isOwnDevice(*byDefault))
        return {nullptr, true};
    return {firstHostDevice(server.sinks, false), false};
}

}  // namespace

const ServerDevice* hostMicrophone(const std::string& named, const ServerPicture& server)
{
    const ServerDevice* chosen = findDevice(server.sources, named.empty() ? server.defaults.source : named);
    if (chosen && !isOwnDevice(*chosen) && !chosen->isMonitor)
        return chosen;
    if (!named.empty())
        return nullptr;
    return firstHostDevice(server.sources, false);
}

const ServerDevice* findDevice(const std::vector<ServerDevice>& devices, const std::string& name)
{
    for (const ServerDevice& device : devices)
        if (device.name == name)
            return &device;
    return nullptr;
}

std::string findLimiterPlugin()
{
    return findProgramPlugin(kLimiterFile);
}

bool isOwnDevice(const ServerDevice& device)
{
    return !device.role.empty() || device.name.rfind(kOwnNamePrefix, 0) == 0;
}

std::string roleOfModule(const ServerModule& module)
{
    const std::string marker = std::string(kRoleProperty) + "=";
    const std::size_t at = module.argument.find(marker);
    if (at == std::string::npos)
        return {};
    const std::size_t from = at + marker.size();
    const std::size_t end = module.argument.find_first_of(" \t'\"", from);
    return module.argument.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

RoutingPlan planRouting(const SoundSettings& settings, const ServerPicture& server, const std::string& limiterPlugin)
{
    RoutingPlan plan;
    const Listening listening = pickListening(settings, server, plan.problem);
    if (!settings.virtualMicrophone) {
        // The board plays in a stream of its own at the server's rate, to the
        // chosen device or the server's default.
        if (listening.device)
            plan.output = {kServerStreamsDriver, {}, listening.device->name};
        else if (listening.followsDefault)
            plan.output = {kServerStreamsDriver, {}, {}};
        return plan;
    }
    // The chat records what comes out of the limiter, or the plain mix without it.
    std::string recorded = kMixSinkName;
    if (!limiterPlugin.empty()) {
        plan.modules.push_back(nullSink("limited", kLimitedSinkName, kLimitedSinkDescription, ""));
        plan.modules.push_back({"mix", "module-ladspa-sink",
                                std::string("sink_name=") + kMixSinkName + " sink_master=" + kLimitedSinkName
                                    + " plugin=" + argumentValue(limiterPlugin) + " label=" + kLimiterLabel
                                    + " sink_properties='device.description=\"" + kMixSinkDescription + "\" "
                                    + roleProperty("mix") + "'"});
        recorded = kLimitedSinkName;
    } else {
        plan.modules.push_back(nullSink("mix", kMixSinkName, kMixSinkDescription, ""));
    }
    plan.modules.push_back({"microphone", "module-remap-source",
                            "master=" + recorded + kMonitorSuffix + " source_name=" + kMicrophoneName
                                + " source_properties='device.description=\"" + kMicrophoneDescription + "\" "
                                + roleProperty("microphone") + "'"});
    if (settings.passThrough) {
        // Named explicitly even when it is the default: the default may
        // become the virtual microphone itself.
        if (const ServerDevice* microphone = hostMicrophone(settings.passThroughSource, server)) {
            plan.modules.push_back(loopback(kMicrophoneRole, microphone->name, kMixSinkName));
            plan.passThrough = true;
        } else if (plan.problem == RoutingProblem::None) {
            plan.problem = RoutingProblem::NoMicrophone;
        }
    }
    plan.microphone = true;
    // The listening stream follows the server's default, or plays to the
    // device chosen; with no device of the host's at all only the chat hears.
    std::string listeningDevice = kNoListeningDevice;
    if (listening.device)
        listeningDevice = listening.device->name;
    else if (listening.followsDefault)
        listeningDevice.clear();
    plan.output = {kServerStreamsDriver, kMixSinkName, listeningDevice};
    return plan;
}

}  // namespace qinghe
