#include "sound_routing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include <unistd.h>

namespace qinghe {

namespace {

// The name the server shows for the program's connection.
constexpr const char* kClientName = "青禾主持人音效辅助工具";
// A local server answers a connection within milliseconds; one that has not
// answered in this time is taken as absent.
constexpr PulseConnection::Limit kConnectLimit{2000};
// Loading a module is the slowest call a server answers (it opens devices).
constexpr PulseConnection::Limit kCallLimit{5000};
// A wait for the server's news wakes up this often even when none comes;
// only to keep each wait bounded, as every wait here is.
constexpr PulseConnection::Limit kNewsLimit{60000};

// The roles without which there is no virtual microphone; the others only
// add to it.
bool isCoreRole(const std::string& role)
{
    return role == "limited" || role == "mix" || role == "microphone";
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

// PipeWire answers a module's load before it has made the module's devices,
// and on a busy machine the microphone's source comes a moment later: it is
// looked for again on each change the server reports, for as long as a call
// may take, before the microphone counts as refused. A request from the
// program or a lost server ends the wait at once; the caller sees to both.
std::optional<std::vector<ServerDevice>> sourcesOnceMicrophoneIsIn(PulseConnection& server)
{
    const auto deadline = std::chrono::steady_clock::now() + kCallLimit;
    auto sources = server.sources(kCallLimit);
    while (sources && !findDevice(*sources, kMicrophoneName)) {
        const auto left =
            std::chrono::duration_cast<PulseConnection::Limit>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const ServerNews news = server.waitForNews(left);
        if (news != ServerNews::Changed && news != ServerNews::Streams && news != ServerNews::Recordings)
            break;
        sources = server.sources(kCallLimit);
    }
    return sources;
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

// A level's factor is set again only when the server's differs by more than
// its own rounding of volumes.
constexpr double kLevelTolerance = 0.005;

// Each of the program's streams at the level the settings give its role.
void applyLevels(PulseConnection& server, const SoundSettings& settings)
{
    auto streams = server.playbackStreams(kCallLimit);
    if (!streams)
        return;
    for (const ServerStream& stream : *streams) {
        int level = -1;
        if (stream.role == kChatRole)
            level = settings.chatLevel;
        else if (stream.role == kListeningRole)
            level = settings.listeningLevel;
        else if (stream.role == kMicrophoneRole)
            level = settings.microphoneLevel;
        if (level < 0)
            continue;
        const double factor = static_cast<double>(level) / kFullLevel;
        if (std::abs(stream.level - factor) > kLevelTolerance)
            server.setPlaybackStreamLevel(stream, factor, kCallLimit);
    }
}

// A chat program's recording that was on the virtual microphone, known again
// by its index while the connection it was seen on lasts, and by its
// program after that (a server that restarted gave it a new one).
struct NotedRecording {
    std::uint32_t index = 0;
    std::uint64_t connection = 0;
    std::string name;
    std::string application;
    std::string processId;
    std::chrono::steady_clock::time_point stranded;
};

// A server that restarts ends every recording; the chat program that made
// one records again within seconds, and only that new recording is taken
// for the old one. Past this, a recording is the host's new choice.
constexpr auto kReturnAcrossRestart = std::chrono::seconds(60);

bool sameProgram(const NotedRecording& noted, const ServerRecording& recording)
{
    return noted.application == recording.application && noted.processId == recording.processId;
}

bool sameRecording(const NotedRecording& noted, const ServerRecording& recording, std::uint64_t connection)
{
    if (noted.connection == connection)
        return noted.index == recording.index && sameProgram(noted, recording);
    return sameProgram(noted, recording) && noted.name == recording.name;
}

// Who serves the virtual microphone on the server.
enum class Holder { ThisCopy, OtherCopy, Nobody };
constexpr const char* kHeldValue = "microphone";

// Another copy that holds the microphone is alive by the server's own
// account: its connection is there, under a process id not this one's. A
// copy that crashed has no connection left, so what it loaded is anyone's.
std::optional<Holder> claimMicrophone(PulseConnection& server, bool wanted)
{
    const std::string thisProcess = std::to_string(getpid());
    const std::optional<std::uint32_t> ownIndex = server.clientIndex();
    auto clients = server.clients(kCallLimit);
    if (!clients || !ownIndex)
        return std::nullopt;
    bool otherHolds = false;
    bool thisHolds = false;
    for (const ServerClient& client : *clients) {
        if (client.holds != kHeldValue)
            continue;
        if (client.processId != thisProcess)
            otherHolds = true;
        else if (client.index == *ownIndex)
            thisHolds = true;
    }
    if (otherHolds || !wanted) {
        if (thisHolds && !server.setOwnProperty(kHolderProperty, {}, kCallLimit))
            return std::nullopt;
        return otherHolds ? Holder::OtherCopy : Holder::Nobody;
    }
    if (thisHolds)
        return Holder::ThisCopy;
    if (!server.setOwnProperty(kHolderProperty, kHeldValue, kCallLimit))
        return std::nullopt;
    // Two copies that claimed at the same moment both see the other now:
    // the older connection keeps the microphone.
    clients = server.clients(kCallLimit);
    if (!clients)
        return std::nullopt;
    for (const ServerClient& client : *clients) {
        if (client.holds == kHeldValue && client.processId != thisProcess && client.index < *ownIndex) {
            server.setOwnProperty(kHolderProperty, {}, kCallLimit);
            return Holder::OtherCopy;
        }
    }
    return Holder::ThisCopy;
}

}  // namespace

struct SoundRouting::State {
    // Cuts the server's waits short once a shut-down has waited its limit.
    const std::shared_ptr<PulseStop> serverStop = std::make_shared<PulseStop>();
    // Wakes the thread from its watch of the server when there is a request.
    const std::shared_ptr<PulseWake> wake = std::make_shared<PulseWake>();
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    std::optional<SoundSettings> pending;
    bool stopping = false;
    bool busy = false;
    bool finished = false;
    SoundSettings settings;
    RoutingStatus status;
    bool reported = false;  // status has been told to the listener there is now
    StatusListener listener;
    std::vector<StatusListener> moreListeners;
    std::vector<SettingsListener> settingsListeners;
    OutputSwitch switchOutput;

    // The routing thread's own.
    OutputTarget output;  // where the output was last told to play
    std::unique_ptr<PulseConnection> server;
    bool serverSeen = false;  // the server has answered since the thread started
    bool serving = false;     // this copy's virtual microphone is on the server
    const std::string limiterPlugin = findLimiterPlugin();
    // The chat programs' recordings: those on the virtual microphone at the
    // last look, and those its absence left elsewhere (the server moves
    // them to the default source), to go back when it returns.
    std::uint64_t connection = 0;  // connections made so far
    std::vector<NotedRecording> onMicrophone;
    std::vector<NotedRecording> stranded;

    void connect();
    void noteRecordings(const std::vector<ServerRecording>& recordings);
    void strand();
    void keepRecordings();
    void bringInLine(const SoundSettings& wanted);
    void serverAway();
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
    std::vector<StatusListener> others;
    {
        std::lock_guard guard(lock);
        // The window hears of a change, not of every look at the server.
        if (reported && fresh == status)
            return;
        reported = true;
        status = fresh;
        notify = listener;
        others = moreListeners;
    }
    if (notify)
        notify(fresh);
    for (const StatusListener& other : others)
        other(fresh);
}

void SoundRouting::State::connect()
{
    server = PulseConnection::open(kClientName, kConnectLimit, serverStop, wake);
    if (server && !server->watchChanges(kCallLimit))
        server.reset();
    if (server) {
        serverSeen = true;
        ++connection;
    }
}

void SoundRouting::State::noteRecordings(const std::vector<ServerRecording>& recordings)
{
    onMicrophone.clear();
    for (const ServerRecording& recording : recordings)
        if (recording.source == kMicrophoneName)
            onMicrophone.push_back({recording.index, connection, recording.name, recording.application,
                                    recording.processId, {}});
}

// The microphone is gone, or about to go: what was on it waits for its return.
void SoundRouting::State::strand()
{
    const auto now = std::chrono::steady_clock::now();
    for (NotedRecording& noted : onMicrophone) {
        noted.stranded = now;
        stranded.push_back(std::move(noted));
    }
    onMicrophone.clear();
}

// Recordings that ended are forgotten; while the microphone is served, the
// stranded ones still there go back onto it, and what is on it is noted.
void SoundRouting::State::keepRecordings()
{
    if (!server || (!serving && stranded.empty()))
        return;
    std::optional<std::vector<ServerRecording>> recordings = server->recordings(kCallLimit);
    if (!recordings)
        return;
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(stranded, [&](const NotedRecording& noted) {
        if (noted.connection != connection)
            return now - noted.stranded > kReturnAcrossRestart;
        return std::none_of(recordings->begin(), recordings->end(), [&](const ServerRecording& recording) {
            return sameRecording(noted, recording, connection);
        });
    });
    if (!serving)
        return;
    // A microphone gone since the last look (the news of it still on the
    // way) took its recordings elsewhere: that was not the host's choice.
    bool microphoneThere = false;
    for (const ServerRecording& recording : *recordings)
        microphoneThere = microphoneThere || recording.source == kMicrophoneName;
    if (!microphoneThere && !onMicrophone.empty()) {
        const auto sources = server->sources(kCallLimit);
        if (!sources || !findDevice(*sources, kMicrophoneName)) {
            strand();
            return;
        }
    }
    for (auto noted = stranded.begin(); noted != stranded.end();) {
        const auto found = std::find_if(recordings->begin(), recordings->end(), [&](const ServerRecording& recording) {
            return sameRecording(*noted, recording, connection);
        });
        if (found == recordings->end()) {
            ++noted;
            continue;
        }
        // One that will not move stays where it is, and is not asked again.
        if (found->source != kMicrophoneName && server->moveRecording(found->index, kMicrophoneName, kCallLimit))
            found->source = kMicrophoneName;
        noted = stranded.erase(noted);
    }
    noteRecordings(*recordings);
}

void SoundRouting::State::serverAway()
{
    server.reset();
    strand();
    serving = false;
    // Without a server from the start the board plays as it always has; one
    // that went away takes the output with it until it is back, so a click
    // meanwhile neither plays elsewhere nor waits for it.
    moveOutput(serverSeen ? kNoOutput : OutputTarget{});
    RoutingStatus fresh;
    fresh.checked = true;
    fresh.reconnecting = serverSeen;
    fresh.problem = RoutingProblem::NoServer;
    report(fresh);
}

void SoundRouting::State::bringInLine(const SoundSettings& wanted)
{
    RoutingStatus fresh;
    fresh.checked = true;
    std::optional<ServerPicture> picture = pictureOf(*server);
    if (!picture) {
        serverAway();
        return;
    }
    fresh.serverReachable = true;
    serving = false;
    for (const ServerDevice& sink : picture->sinks)
        if (!isOwnDevice(sink))
            fresh.listeningDevices.push_back(sink);
    for (const ServerDevice& source : picture->sources)
        if (!isOwnDevice(source) && !source.isMonitor)
            fresh.microphones.push_back(source);
    const std::optional<Holder> holder = claimMicrophone(*server, wanted.virtualMicrophone);
    if (!holder) {
        serverAway();
        return;
    }
    if (*holder == Holder::OtherCopy) {
        // The other copy's modules are its own: this one plays on its own
        // output and leaves them as they are, while it runs and at its end.
        const RoutingPlan own = planRouting({wanted.listeningDevice, false, false, {}}, *picture);
        moveOutput(own.output);
        fresh.problem = wanted.virtualMicrophone ? RoutingProblem::HeldByOtherCopy : own.problem;
        report(fresh);
        return;
    }
    RoutingPlan plan = planRouting(wanted, *picture, limiterPlugin);
    // The chat programs recording the microphone are noted before it goes;
    // one gone since the last look took them elsewhere already.
    const bool microphoneThere = findDevice(picture->sources, kMicrophoneName) != nullptr;
    if (microphoneThere && !plan.microphone) {
        if (auto recordings = server->recordings(kCallLimit))
            noteRecordings(*recordings);
    }
    if (!microphoneThere || !plan.microphone)
        strand();
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
            strand();
            moveOutput(OutputTarget{});
            unloadUnwanted(*server, {});
            plan = planRouting({wanted.listeningDevice, false, false, {}}, *picture);
            moveOutput(plan.output);
        } else {
            plan.passThrough = false;
        }
        plan.problem = RoutingProblem::ServerRefused;
    }
    // What the server has now, not what was asked of it, is what the host is told.
    bool answered = false;
    const std::vector<ServerModule> loaded = ownModules(*server, answered);
    if (!answered) {
        serverAway();
        return;
    }
    const auto has = [&](const std::string& role) {
        for (const PlannedModule& planned : plan.modules)
            if (planned.role == role) {
                for (const ServerModule& module : loaded)
                    if (module.name == planned.name && module.argument == planned.argument)
                        return true;
            }
        return false;
    };
    bool coreLoaded = plan.microphone;
    for (const PlannedModule& planned : plan.modules)
        coreLoaded = coreLoaded && (!isCoreRole(planned.role) || has(planned.role));
    auto sources = coreLoaded ? sourcesOnceMicrophoneIsIn(*server) : server->sources(kCallLimit);
    if (!sources) {
        serverAway();
        return;
    }
    const bool microphoneOn = coreLoaded && findDevice(*sources, kMicrophoneName) != nullptr;
    if (plan.microphone && !microphoneOn) {
        moveOutput(OutputTarget{});
        plan = planRouting({wanted.listeningDevice, false, false, {}}, *picture);
        plan.problem = RoutingProblem::ServerRefused;
    }
    moveOutput(plan.output);
    serving = microphoneOn;
    if (serving)
        applyLevels(*server, wanted);
    else
        strand();
    keepRecordings();
    fresh.microphoneOn = microphoneOn;
    fresh.passThroughOn = microphoneOn && plan.passThrough && has("passthrough");
    fresh.problem = plan.problem;
    report(fresh);
}

void SoundRouting::State::tearDown()
{
    moveOutput({});
    if (!server || !server->isReady())
        server = PulseConnection::open(kClientName, kConnectLimit, serverStop);
    // Another live copy's microphone stays; this copy's, or a crashed one's, goes.
    if (server && claimMicrophone(*server, false) == Holder::Nobody)
        unloadUnwanted(*server, {});
    server.reset();
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
    // Nothing is asked of the server before the first settings come.
    state.changed.wait(guard, [&] { return state.pending || state.stopping; });
    SoundSettings wanted;
    bool check = false;  // the server is to be brought in line with wanted
    Limit retry = kFirstRetry;
    while (!state.stopping) {
        if (state.pending) {
            wanted = *state.pending;
            state.pending.reset();
            check = true;
        }
        state.busy = true;
        guard.unlock();
        if (!state.server || !state.server->isReady()) {
            state.connect();
            if (state.server) {
                retry = kFirstRetry;
                check = true;
            } else {
                state.serverAway();
            }
        }
        if (state.server && check) {
            check = false;
            state.bringInLine(wanted);
        }
        guard.lock();
        state.busy = false;
        state.changed.notify_all();
        if (state.pending || state.stopping)
            continue;
        if (!state.server) {
            // Requests wake the wait; the server's return is found by calling it.
            state.changed.wait_for(guard, retry, [&] { return state.pending || state.stopping; });
            retry = std::min(retry * 2, kLongestRetry);
            continue;
        }
        guard.unlock();
        const ServerNews news = state.server->waitForNews(kNewsLimit);
        guard.lock();
        // A change may be the program's own modules arriving, or the
        // host's devices: either way one more look shows what is there.
        if (news == ServerNews::Changed)
            check = true;
        // A stream of the program's came back (a loopback the server
        // restarted, the board's own): its level is set again.
        if (news == ServerNews::Streams && state.serving) {
            const SoundSettings levels = wanted;
            guard.unlock();
            applyLevels(*state.server, levels);
            guard.lock();
        }
        // A chat program started, ended or moved a recording.
        if (news == ServerNews::Recordings) {
            guard.unlock();
            state.keepRecordings();
            guard.lock();
        }
    }
    state.busy = true;
    guard.unlock();
    state.tearDown();
    guard.lock();
    state.busy = false;
    state.finished = true;
    state.changed.notify_all();
}

void SoundRouting::apply(const SoundSettings& settings)
{
    std::vector<SettingsListener> followers;
    {
        std::lock_guard guard(state_->lock);
        state_->settings = settings;
        state_->pending = settings;
        state_->changed.notify_all();
        followers = state_->settingsListeners;
    }
    state_->wake->request();
    for (const SettingsListener& follower : followers)
        follower(settings);
}

void SoundRouting::refresh()
{
    {
        std::lock_guard guard(state_->lock);
        state_->pending = state_->settings;
        state_->changed.notify_all();
    }
    state_->wake->request();
}

void SoundRouting::setStatusListener(StatusListener listener)
{
    std::lock_guard guard(state_->lock);
    state_->listener = std::move(listener);
    // A new listener hears the next status even when it is the same as the last.
    state_->reported = false;
}

void SoundRouting::addStatusListener(StatusListener listener)
{
    std::lock_guard guard(state_->lock);
    state_->moreListeners.push_back(std::move(listener));
}

void SoundRouting::addSettingsListener(SettingsListener listener)
{
    std::lock_guard guard(state_->lock);
    state_->settingsListeners.push_back(std::move(listener));
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
        state_->moreListeners.clear();
        state_->settingsListeners.clear();
        state_->changed.notify_all();
        state_->wake->request();
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
