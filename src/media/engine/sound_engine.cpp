#include "sound_engine.h"

#include "device_output.h"
#include "server_streams.h"
#include "sound_module.h"
#include "voice_mixer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qinghe {

namespace {

// How often the engine looks for voices that have ended, while any plays:
// often enough for a now-playing row to follow within a tenth of a second.
constexpr std::chrono::milliseconds kWatchInterval{20};
constexpr double kDecibelsPerDecade = 20;
// The longest a play waits for a synthesised sound to open and render its
// first blocks: a click never holds the window longer, and a MIDI file's
// first synthesiser, or thousands of its notes at once, start a little late.
constexpr std::chrono::milliseconds kOpenBudget{3};
// The most a gain may lift a sound: more would only lift its noise.
constexpr double kMostGainDb = 60;
// The longest a fade or the beds' glide takes: longer is a mistake, not a fade.
constexpr std::chrono::milliseconds kLongestFade{60000};

// A gain that is no number is none; one past the most is held there.
float factorOf(double decibels)
{
    if (!std::isfinite(decibels))
        return 1.0f;
    return static_cast<float>(std::pow(10.0, std::clamp(decibels, -kMostGainDb * 2, kMostGainDb) / kDecibelsPerDecade));
}

// A span as frames at a rate, held within 0..kLongestFade.
int framesOf(std::chrono::milliseconds span, int rate)
{
    return static_cast<int>(std::clamp<std::int64_t>(span.count(), 0, kLongestFade.count()) * rate / 1000);
}

// A MIDI file (its header says so): opened by building a synthesiser and
// rendering, tens of milliseconds, where any recorded sound opens in well
// under one and is opened on the click's own thread, to be heard at once.
bool synthesised(const std::string& path)
{
    constexpr char kMidiHeader[] = {'M', 'T', 'h', 'd'};
    char head[sizeof kMidiHeader] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(head, sizeof head) && std::equal(std::begin(head), std::end(head), std::begin(kMidiHeader));
}

AudioDeviceRequest deviceRequestFor(const MediaOutputDevice& target)
{
    AudioDeviceRequest request;
    request.driver = target.driver;
    request.device = target.device;
    return request;
}

// The beds' glide to their level, as the voices follow it frame by frame:
// a straight line in gain. A bed started during it joins the others where
// they are, and goes on with them.
struct BedGlide {
    using Clock = std::chrono::steady_clock;
    float from = 1.0f;
    float to = 1.0f;
    Clock::time_point start{};
    std::chrono::milliseconds length{0};

    std::chrono::milliseconds left(Clock::time_point at) const
    {
        return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(start + length - at),
                        std::chrono::milliseconds(0));
    }
    float gainAt(Clock::time_point at) const
    {
        if (left(at).count() == 0)
            return to;
        return from + (to - from) * (1.0f - static_cast<float>(left(at).count()) / static_cast<float>(length.count()));
    }
};

// One sound on one output: a voice in that output's mixer.
struct VoicePart {
    SoundOutput* output = nullptr;
    SoundVoice* voice = nullptr;
};

// A voice the engine holds a handle on: the sound on every output in use,
// the first part the one asked how far it has come.
struct HeldVoice {
    std::vector<VoicePart> parts;
    VoiceShape shape;

    bool finished() const
    {
        return std::all_of(parts.begin(), parts.end(), [](const VoicePart& part) { return part.voice->finished(); });
    }
    bool playingOn() const
    {
        return std::any_of(parts.begin(), parts.end(), [](const VoicePart& part) {
            return !part.voice->finished() && !part.voice->fadingOut();
        });
    }
};

// The engine's state, shared by the window thread's plays and the routing
// thread's output changes. The voices go before the outputs.
struct EngineState {
    std::mutex lock;
    DeviceOutput device{{}};
    // The sound server's own streams, while the target is kServerStreamsDriver:
    // the chat's first, then the listening device's.
    std::vector<std::unique_ptr<ServerStreams>> streams;
    bool chatStream = false;  // the first of the streams plays into the chat's mix
    MediaOutputDevice target;
    int mostPlaying = 1;
    // Where every bed is, or is gliding to: 0 dB its own level.
    double bedLevel = 0;
    BedGlide bedGlide;
    VoiceId lastVoice = kNoVoice;
    std::map<VoiceId, HeldVoice> voices;
    // Ended by a stop or a change of output, to be told by the watch.
    std::vector<std::pair<VoiceId, VoiceEnd>> ended;
    // Loads the sound module ahead of the first sound. Set under lock and
    // joined outside it, so that plays meanwhile are not held up.
    std::thread moduleLoad;

    ~EngineState()
    {
        // A program that did not shut the engine down still ends no thread unjoined.
        if (moduleLoad.joinable())
            moduleLoad.join();
        dropVoices();
        device.close();
    }

    // Where a sound plays now: every stream of the server's, else the
    // device; for the host alone, every one but the chat's.
    std::vector<SoundOutput*> outputs(Audience audience = Audience::Everyone)
    {
        if (streams.empty())
            return {&device};
        std::vector<SoundOutput*> all;
        for (const auto& stream : streams)
            if (audience == Audience::Everyone || !chatStream || stream != streams.front())
                all.push_back(stream.get());
        return all;
    }

    void closeOutputs()
    {
        for (SoundOutput* output : outputs())
            output->close();
    }

    // Every handle ends at once; the output takes its voices away with it.
    void dropVoices()
    {
        for (const auto& [id, held] : voices)
            ended.emplace_back(id, VoiceEnd::Stopped);
        voices.clear();
    }

    // Voices that ended on their own (or were cut for one more) let go of
    // their handles, their ends kept to be told.
    void reapEnded()
    {
        for (auto it = voices.begin(); it != voices.end();) {
            if (!it->second.finished()) {
                ++it;
                continue;
            }
            const SoundVoice* first = it->second.parts.front().voice;
            const VoiceEnd end = first->brokeOff()    ? VoiceEnd::BrokeOff
                                 : first->fadingOut() ? VoiceEnd::Cut
                                                      : VoiceEnd::Finished;
            ended.emplace_back(it->first, end);
            for (const VoicePart& part : it->second.parts)
                part.output->mixer().remove(part.voice);
            it = voices.erase(it);
        }
    }

    HeldVoice* find(VoiceId id)
    {
        const auto found = voices.find(id);
        return found == voices.end() ? nullptr : &found->second;
    }
};

EngineState& state()
{
    static EngineState instance;
    return instance;
}

}  // namespace

SoundEngine::SoundEngine()
{
    auto* watch = new QTimer(this);
    watch->setObjectName(QStringLiteral("voiceWatch"));
    watch->setInterval(kWatchInterval);
    connect(watch, &QTimer::timeout, this, &SoundEngine::watchVoices);
}

SoundEngine& SoundEngine::instance()
{
    static auto* const engine = new SoundEngine;
    return *engine;
}

VoiceStart SoundEngine::play(const std::string& path, const VoiceGains& asked, std::chrono::milliseconds from,
                             Audience audience, const VoiceShape& shape)
{
    // Volumes outside the scale are held at its ends.
    VoiceGains gains = asked;
    gains.left = std::clamp(gains.left, 0, kFullVolume);
    gains.right = std::clamp(gains.right, 0, kFullVolume);
    const SoundModule* module = soundModule();
    if (!module)
        return {kNoVoice, SoundFileProblem::None, true};
    EngineState& e = state();
    VoiceStart started;
    {
        std::lock_guard guard(e.lock);
        e.reapEnded();
        HeldVoice held;
        held.shape = shape;
        const auto now = BedGlide::Clock::now();
        const bool slowToOpen = synthesised(path);
        for (SoundOutput* output : e.outputs(audience)) {
            if (!output->mixer().anyAudible())
                output->lengthenPeriodIfLate();
            if (!output->open())
                continue;
            // The click cuts what it replaces at once, not once its own sound has opened.
            output->mixer().keepAtMost(e.mostPlaying - 1);
            SoundVoice::Setup setup;
            setup.rate = output->rate();
            setup.armed = false;
            // The file's own last frames fade out, in case it was cut short.
            setup.fadeAtEnd = true;
            setup.leftVolume = gains.left;
            setup.rightVolume = gains.right;
            setup.loudnessGain = factorOf(gains.decibels);
            setup.startFrame = from.count() > 0 ? from.count() * output->rate() / 1000 : 0;
            setup.loop = shape.loop;
            setup.fadeInFrames = framesOf(shape.fadeIn, output->rate());
            setup.fadeOutFrames = framesOf(shape.fadeOut, output->rate());
            setup.bed = shape.bed;
            setup.bedGain = e.bedGlide.gainAt(now);
            // Each output plays the sound from a decoder of its own, at its own rate and pace.
            const int rate = output->rate();
            auto voice = std::make_unique<SoundVoice>([module, path, rate] { return module->openStream(path, rate); },
                                                      setup);
            const SoundFileProblem problem = slowToOpen ? voice->startApart(kOpenBudget) : voice->startHere();
            if (problem != SoundFileProblem::None) {
                // The parts made on the other outputs go too: no sound plays without a handle on it.
                for (const VoicePart& part : held.parts)
                    part.output->mixer().remove(part.voice);
                return {kNoVoice, problem, false};
            }
            if (SoundVoice* added = output->mixer().add(std::move(voice), e.mostPlaying)) {
                if (const std::chrono::milliseconds left = e.bedGlide.left(now); shape.bed && left.count() > 0)
                    added->glideBed(e.bedGlide.to, framesOf(left, output->rate()));
                output->voiceAdded(added);
                held.parts.push_back({output, added});
            }
        }
        if (held.parts.empty())
            return {kNoVoice, SoundFileProblem::None, true};
        started.voice = ++e.lastVoice;
        e.voices[started.voice] = std::move(held);
    }
    // Without an event loop (a program that only plays) the next play reaps instead.
    if (QCoreApplication::instance())
        findChild<QTimer*>(QStringLiteral("voiceWatch"))->start();
    emit voiceStarted(started.voice, QFile::decodeName(path.c_str()));
    return started;
}

void SoundEngine::stop(VoiceId voice, std::chrono::milliseconds fade)
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    HeldVoice* held = e.find(voice);
    if (!held)
        return;
    for (const VoicePart& part : held->parts)
        part.output->mixer().fadeOut(part.voice, framesOf(fade, part.output->rate()));
    e.voices.erase(voice);
    e.ended.emplace_back(voice, VoiceEnd::Stopped);
}

void SoundEngine::stopAll(std::chrono::milliseconds fade)
{
    std::vector<VoiceId> ids;
    {
        EngineState& e = state();
        std::lock_guard guard(e.lock);
        for (const auto& entry : e.voices)
            ids.push_back(entry.first);
    }
    for (VoiceId id : ids)
        stop(id, fade);
}

bool SoundEngine::setGains(VoiceId voice, const VoiceGains& gains)
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    HeldVoice* held = e.find(voice);
    if (!held || held->finished())
        return false;
    for (const VoicePart& part : held->parts) {
        part.voice->setVolumes(std::clamp(gains.left, 0, kFullVolume), std::clamp(gains.right, 0, kFullVolume));
        part.voice->setLoudnessGain(factorOf(gains.decibels));
    }
    return true;
}

bool SoundEngine::playing(VoiceId voice) const
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    const HeldVoice* held = e.find(voice);
    return held && held->playingOn();
}

std::optional<VoiceProgress> SoundEngine::progress(VoiceId voice) const
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    const HeldVoice* held = e.find(voice);
    if (!held)
        return std::nullopt;
    const VoicePart& first = held->parts.front();
    VoiceProgress progress{first.voice->place(), first.voice->length(), first.output->rate()};
    progress.looping = first.voice->looping();
    progress.ducked = held->shape.bed && (e.bedLevel < 0 || first.voice->lowered());
    return progress;
}

void SoundEngine::setMostPlaying(int voices)
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    e.mostPlaying = std::clamp(voices, 1, kMostVoices);
    for (SoundOutput* output : e.outputs())
        output->mixer().keepAtMost(e.mostPlaying);
}

void SoundEngine::setBedLevel(double decibels, std::chrono::milliseconds ramp)
{
    // A level that is no number leaves the beds at their own; above it they are not lifted.
    const double level = std::isfinite(decibels) ? std::clamp(decibels, -kMostGainDb * 2, 0.0) : 0.0;
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    e.bedLevel = level;
    const float gain = factorOf(level);
    const auto now = BedGlide::Clock::now();
    e.bedGlide = {e.bedGlide.gainAt(now), gain, now, std::clamp(ramp, std::chrono::milliseconds(0), kLongestFade)};
    for (SoundOutput* output : e.outputs())
        output->mixer().glideBeds(gain, framesOf(ramp, output->rate()));
}

int SoundEngine::mostPlaying() const
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    return e.mostPlaying;
}

SoundFileProblem SoundEngine::check(const std::string& path, std::string* reason) const
{
    const SoundModule* module = soundModule();
    // Without the module nothing can be told of the file but whether it is there.
    if (!module)
        return SoundFileProblem::None;
    return module->checkFile(path, reason);
}

// Every end is told here, on the window thread.
void SoundEngine::watchVoices()
{
    EngineState& e = state();
    std::vector<std::pair<VoiceId, VoiceEnd>> ended;
    bool watching = false;
    {
        std::lock_guard guard(e.lock);
        e.reapEnded();
        ended.swap(e.ended);
        watching = !e.voices.empty();
    }
    if (!watching)
        findChild<QTimer*>(QStringLiteral("voiceWatch"))->stop();
    for (const auto& [voice, end] : ended)
        emit voiceEnded(voice, end);
}

void setMediaOutputDevice(const MediaOutputDevice& target)
{
    EngineState& e = state();
    {
        std::lock_guard guard(e.lock);
        if (e.target == target)
            return;
    }
    // The server is waited for without the lock, so a click meanwhile plays on where it did.
    std::vector<std::unique_ptr<ServerStreams>> fresh;
    bool made = true;
    if (target.driver == kServerStreamsDriver) {
        const bool chat = !target.device.empty();
        if (chat)
            fresh.push_back(ServerStreams::connect(target.device, kChatStreamRole, kServerStreamsLimit));
        if (target.listeningDevice != kNoListeningDevice)
            fresh.push_back(ServerStreams::connect(target.listeningDevice, chat ? kListeningStreamRole : kBoardStreamRole,
                                                   kServerStreamsLimit));
        made = !fresh.empty() && std::all_of(fresh.begin(), fresh.end(), [](const auto& stream) { return stream != nullptr; });
    }
    // Streams that could not be made leave the board silent rather than playing elsewhere.
    if (!made)
        fresh.clear();
    std::vector<std::unique_ptr<ServerStreams>> old;
    {
        std::lock_guard guard(e.lock);
        e.dropVoices();
        e.closeOutputs();
        old = std::move(e.streams);
        e.streams = std::move(fresh);
        e.chatStream = made && target.driver == kServerStreamsDriver && !target.device.empty();
        e.target = target;
        e.device.setTarget(deviceRequestFor(target.driver == kServerStreamsDriver
                                                ? MediaOutputDevice{kNoAudioDriver, {}, {}}
                                                : target));
    }
}

MediaOutputDevice mediaOutputDevice()
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    return e.target;
}

OutputFacts mediaOutputFacts()
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    return e.outputs().front()->facts();
}

void setMediaOutputPeriod(int frames)
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    e.device.setRequestedPeriod(frames);
}

std::uint64_t mediaMixedFrames()
{
    return state().device.mixedFrames();
}

void setMixObserver(MixObserver observer)
{
    state().device.setMixObserver(std::move(observer));
}

void prepareMediaOutput()
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    // One load is enough: the module stays once it is in.
    if (e.moduleLoad.joinable())
        return;
    try {
        e.moduleLoad = std::thread([] { soundModule(); });
    } catch (const std::system_error&) {
        // No thread to spare: the first sound loads the module itself.
    }
}

void closeMediaOutput()
{
    EngineState& e = state();
    std::lock_guard guard(e.lock);
    e.dropVoices();
    e.closeOutputs();
    e.device.setRequestedPeriod(0);
}

void shutDownMediaOutput()
{
    closeMediaOutput();
    EngineState& e = state();
    std::thread load;
    std::vector<std::unique_ptr<ServerStreams>> streams;
    {
        std::lock_guard guard(e.lock);
        load = std::move(e.moduleLoad);
        // The streams' loop thread ends here, not after main.
        streams = std::move(e.streams);
        e.chatStream = false;
        e.target = {};
        e.device.setTarget({});
    }
    streams.clear();
    // Loading cannot be cut short, but it ends on its own within the time
    // the dynamic loader takes.
    if (load.joinable())
        load.join();
}

}  // namespace qinghe
