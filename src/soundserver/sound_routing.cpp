#include "sound_routing.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

namespace qinghe {

namespace {

// The name the server shows for the program's connection.
constexpr const char* kClientName = "青禾主持人音效辅助工具";
// A local server answers a connection within milliseconds; one that has not
// answered in this time is taken as absent.
constexpr PulseConnection::Limit kConnectLimit{2000};
// Loading a module is the slowest call a server answers (it opens devices).
constexpr PulseConnection::Limit kCallLimit{5000};

// The roles without which there is no virtual microphone; the others only
// add to it.
bool isCoreRole(const std::string& role)
{
    return role == "effects" || role == "mix" || role == "microphone" || role == "feed";
}

std::optional<ServerPicture> pictureOf(PulseConnection& server)
{
    auto sinks = server.sinks(kCallLimit);
    auto sources = server.sources(kCallLimit);
    auto defaults = server.defaults(kCallLimit);
    if (!sinks || !sources || !defaults)
        return std::nullopt;
    return ServerPicture{std::move(*sinks), std::move(*sources), std::move(*defaults)};
}

std::vector<ServerModule> ownModules(PulseConnection& server, bool& answered)
{
    std::vector<ServerModule> own;
    auto modules = server.modules(kCallLimit);
    answered = modules.has_value();
    if (!modules)
        return own;
    for (ServerModule& module : *modules)
        if (!roleOfModule(module).empty())
            own.push_back(std::move(module));
    return own;
}

// Unloads, newest first, every module of the program that the plan does not
// hold, and every second copy of one it does.
void unloadUnwanted(PulseConnection& server, const std::vector<PlannedModule>& wanted)
{
    bool answered = false;
    std::vector<ServerModule> own = ownModules(server, answered);
    std::set<std::string> kept;
    // Oldest first decides which copy stays: the one dependants were loaded on.
    std::vector<std::uint32_t> unwanted;
    for (const ServerModule& module : own) {
        bool planned = false;
        for (const PlannedModule& plannedModule : wanted)
            planned = planned || (plannedModule.name == module.name && plannedModule.argument == module.argument);
        if (planned && kept.insert(module.argument).second)
            continue;
        unwanted.push_back(module.index);
    }
    for (auto index = unwanted.rbegin(); index != unwanted.rend(); ++index)
        server.unloadModule(*index, kCallLimit);
}

// Loads, in order, what the plan holds and the server lacks; false when the
// server refused one.
bool loadMissing(PulseConnection& server, const std::vector<PlannedModule>& wanted, std::vector<std::string>& refusedRoles)
{
    bool answered = false;
    const std::vector<ServerModule> own = ownModules(server, answered);
    if (!answered)
        return false;
    for (const PlannedModule& planned : wanted) {
        bool present = false;
        for (const ServerModule& module : own)
            present = present || (module.name == planned.name && module.argument == planned.argument);
        if (!present && !server.loadModule(planned.name, planned.argument, kCallLimit))
            refusedRoles.push_back(planned.role);
    }
    return refusedRoles.empty();
}

}  // namespace

struct SoundRouting::State {
    // Cuts the server's waits short once a shut-down has waited its limit.
    const std::shared_ptr<PulseStop> serverStop = std::make_shared<PulseStop>();
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::optional<SoundSettings> pending;
    bool stopping = false;
    bool busy = false;
    bool finished = false;
    SoundSettings settings;
    RoutingStatus status;
    StatusListener listener;
    OutputSwitch switchOutput;
    OutputTarget output;  // where the output was last told to play

    // The routing thread's own.
    void bringInLine(const SoundSettings& wanted);
    void tearDown();
    void report(const RoutingStatus& fresh);
    void moveOutput(const OutputTarget& target);
};

void SoundRouting::State::moveOutput(const OutputTarget& target)
{
    if (target == output)
        return;
    output = target;
    OutputSwitch tell;
    {
        // A shut-down that gave up waiting takes the switch away.
        std::lock_guard guard(lock);
        tell = switchOutput;
    }
    if (tell)
        tell(target);
}

void SoundRouting::State::report(const RoutingStatus& fresh)
{
    StatusListener notify;
    {
        std::lock_guard guard(lock);
        status = fresh;
        notify = listener;
    }
    if (notify)
        notify(fresh);
}

void SoundRouting::State::bringInLine(const SoundSettings& wanted)
{
    RoutingStatus fresh;
    fresh.checked = true;
    std::unique_ptr<PulseConnection> server = PulseConnection::open(kClientName, kConnectLimit, serverStop);
    std::optional<ServerPicture> picture;
    if (server)
        picture = pictureOf(*server);
    if (!picture) {
        // No server: the board plays as it always has.
        moveOutput({});
        fresh.problem = RoutingProblem::NoServer;
        report(fresh);
        return;
    }
    fresh.serverReachable = true;
    RoutingPlan plan = planRouting(wanted, *picture);
    // The output leaves the program's sinks before they go.
    if (!plan.microphone)
        moveOutput(plan.output);
    unloadUnwanted(*server, plan.modules);
    std::vector<std::string> refused;
    if (!loadMissing(*server, plan.modules, refused)) {
        bool coreRefused = refused.empty();  // the server stopped answering
        for (const std::string& role : refused)
            coreRefused = coreRefused || isCoreRole(role);
        if (coreRefused) {
            // Half a microphone is none: take it all away again.
            moveOutput(OutputTarget{});
            unloadUnwanted(*server, {});
            plan = planRouting({wanted.listeningDevice, false, false, {}}, *picture);
            moveOutput(plan.output);
        } else {
            plan.passThrough = false;
        }
        plan.problem = RoutingProblem::ServerRefused;
    }
    moveOutput(plan.output);
    fresh.microphoneOn = plan.microphone;
    fresh.passThroughOn = plan.passThrough;
    fresh.problem = plan.problem;
    for (const ServerDevice& sink : picture->sinks)
        if (!isOwnDevice(sink))
            fresh.listeningDevices.push_back(sink);
    for (const ServerDevice& source : picture->sources)
        if (!isOwnDevice(source) && !source.isMonitor)
            fresh.microphones.push_back(source);
    report(fresh);
}

void SoundRouting::State::tearDown()
{
    moveOutput({});
    if (std::unique_ptr<PulseConnection> server = PulseConnection::open(kClientName, kConnectLimit, serverStop))
        unloadUnwanted(*server, {});
}

SoundRouting::SoundRouting(OutputSwitch switchOutput) : state_(std::make_unique<State>())
{
    state_->switchOutput = std::move(switchOutput);
    try {
        thread_ = std::thread(&SoundRouting::run, std::ref(*state_));
    } catch (const std::system_error&) {
        // No thread to spare: no request is ever carried out and the board plays as it always has.
        state_->finished = true;
    }
}

SoundRouting::~SoundRouting()
{
    if (!shutDown_)
        shutDown(kExitLimit);
}

void SoundRouting::run(State& state)
{
    std::unique_lock guard(state.lock);
    for (;;) {
        state.changed.wait(guard, [&] { return state.pending || state.stopping; });
        state.busy = true;
        if (state.stopping) {
            guard.unlock();
            state.tearDown();
            guard.lock();
            state.busy = false;
            state.finished = true;
            state.changed.notify_all();
            return;
        }
        const SoundSettings wanted = *state.pending;
        state.pending.reset();
        guard.unlock();
        state.bringInLine(wanted);
        guard.lock();
        state.busy = false;
        state.changed.notify_all();
    }
}

void SoundRouting::apply(const SoundSettings& settings)
{
    std::lock_guard guard(state_->lock);
    state_->settings = settings;
    state_->pending = settings;
    state_->changed.notify_all();
}

void SoundRouting::refresh()
{
    std::lock_guard guard(state_->lock);
    state_->pending = state_->settings;
    state_->changed.notify_all();
}

void SoundRouting::setStatusListener(StatusListener listener)
{
    std::lock_guard guard(state_->lock);
    state_->listener = std::move(listener);
}

RoutingStatus SoundRouting::status() const
{
    std::lock_guard guard(state_->lock);
    return state_->status;
}

SoundSettings SoundRouting::settings() const
{
    std::lock_guard guard(state_->lock);
    return state_->settings;
}

bool SoundRouting::waitUntilIdle(Limit limit) const
{
    std::unique_lock guard(state_->lock);
    return state_->changed.wait_for(guard, limit, [&] {
        return state_->finished || (!state_->pending && !state_->busy);
    });
}

bool SoundRouting::shutDown(Limit limit)
{
    shutDown_ = true;
    bool inTime = true;
    {
        std::unique_lock guard(state_->lock);
        state_->stopping = true;
        state_->listener = nullptr;
        state_->changed.notify_all();
        inTime = state_->changed.wait_for(guard, limit, [&] { return state_->finished; });
        if (!inTime) {
            // The output is no longer the thread's to move once the program goes on to end.
            state_->switchOutput = nullptr;
        }
    }
    // A server that has not answered by now is not waited for any longer:
    // every wait of the thread ends at once, and so does the thread.
    if (!inTime)
        state_->serverStop->request();
    if (thread_.joinable())
        thread_.join();
    return inTime;
}

}  // namespace qinghe
