#include "microphone_level.h"

#include "pulse_connection.h"
#include "routing_plan.h"
#include "sound_routing.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <pthread.h>

namespace qinghe {

namespace {

// The name the server shows for the listening connection.
constexpr const char* kClientName = "青禾说话检测";
// Each peak covers 10 ms, and the server sends them two at a time: a first
// syllable is seen within 20 ms of reaching the server, well inside the
// 100 ms the beds have to be down, and fifty wake-ups a second keep the
// thread well under 1% of a core (ducking_bench).
constexpr int kPeaksPerSecond = 100;
constexpr PulseConnection::Limit kPeaksEvery{20};
// A local server answers within milliseconds; one that has not in this time is taken as absent.
constexpr PulseConnection::Limit kConnectLimit{2000};
constexpr PulseConnection::Limit kCallLimit{5000};
// Only to keep each wait bounded; news and requests end it sooner.
constexpr PulseConnection::Limit kNewsLimit{60000};
// What the thread is called in top and /proc, where its cost is read.
constexpr const char* kThreadName = "qinghe-ducking";

}  // namespace

struct MicrophoneLevel::State {
    // Cuts the server's waits short at shut-down; wakes the watch for new settings.
    const std::shared_ptr<PulseStop> serverStop = std::make_shared<PulseStop>();
    const std::shared_ptr<PulseWake> wake = std::make_shared<PulseWake>();
    mutable std::mutex lock;
    std::condition_variable changed;
    std::optional<SoundSettings> pending;
    bool stopping = false;
    MicrophoneWatch watch = MicrophoneWatch::Off;
    std::vector<WatchListener> listeners;
    BedListener moveBeds;

    // The watching thread's own.
    SoundSettings settings;
    DuckRule rule;
    std::unique_ptr<PulseConnection> server;
    std::string source;  // the microphone heard; empty while none is
    bool look = false;   // the microphone is to be looked for again

    void take(const SoundSettings& fresh);
    bool connect();
    void listen();
    void hear();
    void lose();
    void tell(const std::optional<BedLevel>& level) const;
    void report(MicrophoneWatch now);
};

void MicrophoneLevel::State::tell(const std::optional<BedLevel>& level) const
{
    if (level && moveBeds)
        moveBeds(*level);
}

void MicrophoneLevel::State::report(MicrophoneWatch now)
{
    std::vector<WatchListener> notify;
    {
        std::lock_guard guard(lock);
        if (watch == now)
            return;
        watch = now;
        notify = listeners;
    }
    for (const WatchListener& listener : notify)
        listener(now);
}

void MicrophoneLevel::State::take(const SoundSettings& fresh)
{
    settings = fresh;
    tell(rule.setSettings(fresh));
    if (!settings.duckMusic) {
        // Nothing of the program's records the microphone while ducking is off.
        server.reset();
        source.clear();
        report(MicrophoneWatch::Off);
        return;
    }
    look = true;
}

bool MicrophoneLevel::State::connect()
{
    server = PulseConnection::open(kClientName, kConnectLimit, serverStop, wake);
    if (server && !server->watchChanges(kCallLimit))
        server.reset();
    if (!server) {
        lose();
        return false;
    }
    look = true;
    return true;
}

// The beds are not left down for a voice that can no longer be heard.
void MicrophoneLevel::State::lose()
{
    source.clear();
    tell(rule.forget());
    report(settings.duckMusic ? MicrophoneWatch::Lost : MicrophoneWatch::Off);
}

void MicrophoneLevel::State::listen()
{
    auto sources = server->sources(kCallLimit);
    auto defaults = server->defaults(kCallLimit);
    if (!sources || !defaults) {
        lose();
        return;
    }
    const ServerPicture picture{{}, std::move(*sources), std::move(*defaults)};
    // With pass-through off the chat records the host's voice from the default source.
    const ServerDevice* microphone =
        hostMicrophone(settings.passThrough ? settings.passThroughSource : std::string(), picture);
    if (microphone && microphone->name == source && server->peaksFlowing()) {
        report(MicrophoneWatch::Listening);
        return;
    }
    server->stopPeaks();
    source.clear();
    const auto heard = [this](float peak) { tell(rule.hear(peak, DuckRule::Clock::now())); };
    if (!microphone || !server->watchPeaks(microphone->name, kPeaksPerSecond, kPeaksEvery, heard, kCallLimit)) {
        lose();
        return;
    }
    source = microphone->name;
    report(MicrophoneWatch::Listening);
}

// Hears the microphone until the server has news, the hold may have ended,
// or new settings come.
void MicrophoneLevel::State::hear()
{
    if (look) {
        look = false;
        listen();
    }
    PulseConnection::Limit limit = kNewsLimit;
    if (rule.ducked()) {
        const auto left = std::chrono::ceil<PulseConnection::Limit>(rule.releaseAt() - DuckRule::Clock::now());
        limit = std::clamp(left, PulseConnection::Limit(1), kNewsLimit);
    }
    const ServerNews news = server->waitForNews(limit);
    tell(rule.check(DuckRule::Clock::now()));
    if (news == ServerNews::Lost) {
        server.reset();
        lose();
        return;
    }
    // A source came or went, the default changed, or the stream was ended.
    if (news == ServerNews::Changed || (!source.empty() && !server->peaksFlowing()))
        look = true;
}

MicrophoneLevel::MicrophoneLevel(BedListener moveBeds) : state_(std::make_unique<State>())
{
    state_->moveBeds = std::move(moveBeds);
    try {
        thread_ = std::thread(&MicrophoneLevel::run, std::ref(*state_));
    } catch (const std::system_error&) {
        // No thread to spare: the music is simply never lowered.
    }
}

MicrophoneLevel::~MicrophoneLevel()
{
    shutDown();
}

void MicrophoneLevel::run(State& state)
{
    pthread_setname_np(pthread_self(), kThreadName);
    Limit retry = SoundRouting::kFirstRetry;
    std::unique_lock guard(state.lock);
    while (!state.stopping) {
        if (state.pending) {
            const SoundSettings fresh = *state.pending;
            state.pending.reset();
            guard.unlock();
            state.take(fresh);
            guard.lock();
            continue;
        }
        if (!state.settings.duckMusic) {
            state.changed.wait(guard, [&] { return state.pending || state.stopping; });
            continue;
        }
        guard.unlock();
        const bool connected = state.server || state.connect();
        if (connected) {
            retry = SoundRouting::kFirstRetry;
            state.hear();
        }
        guard.lock();
        if (!connected) {
            // A server that is away is called again, a little less often each time.
            state.changed.wait_for(guard, retry, [&] { return state.pending || state.stopping; });
            retry = std::min(retry * 2, SoundRouting::kLongestRetry);
        }
    }
    guard.unlock();
    state.server.reset();
    // The beds are left at their level when the watch ends.
    state.tell(state.rule.forget());
}

void MicrophoneLevel::apply(const SoundSettings& settings)
{
    {
        std::lock_guard guard(state_->lock);
        state_->pending = settings;
        state_->changed.notify_all();
    }
    state_->wake->request();
}

void MicrophoneLevel::addWatchListener(WatchListener listener)
{
    std::lock_guard guard(state_->lock);
    state_->listeners.push_back(std::move(listener));
}

MicrophoneWatch MicrophoneLevel::watch() const
{
    std::lock_guard guard(state_->lock);
    return state_->watch;
}

void MicrophoneLevel::shutDown()
{
    {
        std::lock_guard guard(state_->lock);
        state_->stopping = true;
        state_->listeners.clear();
        state_->changed.notify_all();
    }
    state_->serverStop->request();
    if (thread_.joinable())
        thread_.join();
}

}  // namespace qinghe
