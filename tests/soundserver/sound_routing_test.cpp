// The virtual microphone on a real PulseAudio server of the test's own: the
// board's effects reach the chat's capture and the host's ears at the
// slider's volume, the host's microphone only while pass-through is on,
// nothing stays on the server after the program, nothing doubles after a
// crash, and without a server the board plays as it always has.

#include "soundserver/sound_routing.h"

#include "board/sound_board.h"
#include "media/engine/sound_engine.h"
#include "media/player/media_player.h"
#include "media/engine/server_streams.h"
#include "media_test_support.h"
#include "support/private_sound_server.h"
#include "text/gbk.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>
#include <thread>
#include <vector>

#include <sys/types.h>

// Module lists read as text when a comparison fails.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << text.toStdString();
}

namespace qinghe::test {
namespace {

using namespace std::chrono_literals;
using test_support::PrivateSoundServer;
using test_support::ServerSamples;
using test_support::SourceRecorder;

// Longer than any request takes on a busy machine; only a hang reaches it.
constexpr auto kRequestLimit = 20s;
constexpr auto kFlowLimit = 10s;
constexpr int kEffectAmplitude = 8000;
constexpr int kVoiceAmplitude = 6000;
// What the recordings hold of an effect: it plays two seconds, the
// recording takes the first of them.
constexpr int kEffectSeconds = 2;
constexpr auto kListenFor = 1000ms;
// Levels are measured from a little after the onset, past the streams'
// settling, over most of the second a click sounds: a sound that breaks
// off early shows as a lower level.
constexpr std::int64_t kSettleFrames = test_support::kServerRate / 10;
constexpr std::int64_t kMeasureFrames = test_support::kServerRate * 8 / 10;
// A sample above this is sound; below, the server's rounding at most.
constexpr int kSoundThreshold = 100;
// The loopbacks resample to keep in step, which moves a level by a little.
constexpr double kLevelTolerance = 0.1;
constexpr const char* kReadyFileVariable = "QINGHE_ROUTING_READY_FILE";

// The sound a recording caught after a frame, from its onset on, as a level.
struct Heard {
    bool sound = false;
    double level = 0;
};

Heard heardAfter(const ServerSamples& samples, std::int64_t from)
{
    const std::int64_t onset = test_support::onsetFrame(samples, from, kSoundThreshold);
    if (onset < 0)
        return {};
    const std::int64_t settled = onset + kSettleFrames;
    return {true, test_support::rmsLevel(samples, settled, settled + kMeasureFrames)};
}

std::map<std::string, int> ownRoles(const QStringList& modules)
{
    std::map<std::string, int> roles;
    for (const QString& line : modules) {
        const qsizetype at = line.indexOf("qinghe.role=");
        if (at >= 0)
            ++roles[line.mid(at + 12).section(QRegularExpression("[ '\"]"), 0, 0).toStdString()];
    }
    return roles;
}

QStringList ownModules(const QStringList& modules)
{
    QStringList own;
    for (const QString& line : modules)
        if (line.contains("qinghe.role="))
            own << line;
    return own;
}

class RoutingOnServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(server_.isRunning()) << server_.log().toStdString();
        server_.useForThisProcess();
        writeLongSquareWav(dir_.filePath("effect.wav"), kEffectSeconds, kEffectAmplitude);
    }

    void TearDown() override
    {
        closeMediaOutput();
        if (HasFailure())
            std::cerr << server_.log().toStdString();
    }

    std::unique_ptr<SoundRouting> makeRouting()
    {
        return std::make_unique<SoundRouting>(
            [](const OutputTarget& target) { setMediaOutputDevice(target); });
    }

    void applyAndWait(SoundRouting& routing, const SoundSettings& settings)
    {
        routing.apply(settings);
        ASSERT_TRUE(routing.waitUntilIdle(kRequestLimit));
    }

    // Clicks the effect once at each slider position while recording the
    // given sources; what each source caught of each click.
    std::vector<std::vector<Heard>> clickAndListen(const std::vector<int>& positions,
                                                   const std::vector<std::string>& sources)
    {
        std::vector<std::unique_ptr<SourceRecorder>> recorders;
        for (const std::string& source : sources) {
            recorders.push_back(std::make_unique<SourceRecorder>(server_.address(), source));
            EXPECT_TRUE(recorders.back()->waitUntilFlowing(kFlowLimit)) << source;
        }
        std::vector<std::vector<std::int64_t>> clickFrames(recorders.size());
        for (int position : positions) {
            slider_ = position;
            for (std::size_t i = 0; i < recorders.size(); ++i)
                clickFrames[i].push_back(recorders[i]->framesSoFar());
            board_.playEffect(fromQString(dir_.filePath("effect.wav")));
            std::this_thread::sleep_for(kListenFor);
            board_.stop();
            // The loopbacks' last few milliseconds go by before the next click.
            std::this_thread::sleep_for(kListenFor / 4);
        }
        std::vector<std::vector<Heard>> heard(recorders.size());
        for (std::size_t i = 0; i < recorders.size(); ++i) {
            const ServerSamples samples = recorders[i]->stop();
            for (std::int64_t clickFrame : clickFrames[i])
                heard[i].push_back(heardAfter(samples, clickFrame));
        }
        return heard;
    }

    // Runs an instance of the routing in a child process until it has set
    // the virtual microphone up, then kills it as a crash would.
    bool runAndKillAnInstance()
    {
        const QString readyFile = dir_.filePath("ready");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QINGHE_MEDIA_TEST_CHILD", "1");
        env.insert(kReadyFileVariable, readyFile);
        child.setProcessEnvironment(env);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.setStandardErrorFile(QProcess::nullDevice());
        child.start(ownProgram(), {"--gtest_filter=KilledInstance.InChildLoadsTheMicrophoneAndWaits"});
        constexpr auto kPoll = 20ms;
        for (auto waited = 0ms; !QFile::exists(readyFile) && waited < kRequestLimit; waited += kPoll)
            std::this_thread::sleep_for(kPoll);
        child.kill();
        child.waitForFinished();
        return QFile::exists(readyFile);
    }

    // The level a source carries over the given time from now.
    double levelOf(const std::string& source, std::chrono::milliseconds length)
    {
        SourceRecorder recorder(server_.address(), source);
        EXPECT_TRUE(recorder.waitUntilFlowing(kFlowLimit));
        const std::int64_t from = recorder.framesSoFar();
        std::this_thread::sleep_for(length);
        const ServerSamples samples = recorder.stop();
        return test_support::rmsLevel(samples, from, test_support::frameCountOf(samples));
    }

    QTemporaryDir dir_;
    PrivateSoundServer server_;
    int slider_ = 100;
    MediaPlayer player_;
    CustomSoundTables tables_;
    SoundBoard board_{tables_, dir_.filePath("my.ini"),
                      BoardSurface{[this] { return slider_; }, {}, {}, {}, {}, {}, {}}};
};

TEST_F(RoutingOnServer, EffectReachesTheVirtualMicrophoneAndTheListeningDeviceAtTheSlidersVolumeAndTheirOwnLevels)
{
    auto routing = makeRouting();
    // Turned on from the settings window, as a host does: PipeWire makes the
    // microphone's source a moment after it has loaded its module, and the
    // host is never told meanwhile that the server refused it.
    applyAndWait(*routing, {test_support::kFakeHeadphones, false, false, {}});
    std::mutex toldLock;
    std::vector<RoutingStatus> told;
    routing->setStatusListener([&](const RoutingStatus& status) {
        const std::lock_guard hold(toldLock);
        told.push_back(status);
    });
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    const RoutingStatus status = routing->status();
    ASSERT_TRUE(status.serverReachable);
    ASSERT_TRUE(status.microphoneOn);
    EXPECT_EQ(status.problem, RoutingProblem::None);
    routing->setStatusListener({});
    for (const RoutingStatus& earlier : told)
        EXPECT_TRUE(earlier.microphoneOn && earlier.problem == RoutingProblem::None) << "told before the end";
    // Straight into the mix and to the headphones, as two streams of the board's own.
    EXPECT_EQ(mediaOutputDevice(), (MediaOutputDevice{kServerStreamsDriver, kMixSinkName, test_support::kFakeHeadphones}));

    const std::vector<std::string> sources{kMicrophoneName, "fake_headphones.monitor", "fake_speakers.monitor"};
    const std::vector<std::vector<Heard>> heard = clickAndListen({100, 50}, sources);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(sources[i]);
        const Heard& full = heard[i][0];
        const Heard& half = heard[i][1];
        ASSERT_TRUE(full.sound);
        ASSERT_TRUE(half.sound);
        EXPECT_NEAR(full.level, kEffectAmplitude, kEffectAmplitude * kLevelTolerance);
        EXPECT_NEAR(half.level / full.level, 0.5, 0.5 * kLevelTolerance);
    }
    // The host chose the headphones: the default speakers stay quiet.
    EXPECT_FALSE(heard[2][0].sound);
    EXPECT_FALSE(heard[2][1].sound);

    // 聊天音量 at 50 halves what the chat hears and leaves the host's ears alone.
    SoundSettings quieterChat{test_support::kFakeHeadphones, true, false, {}};
    quieterChat.chatLevel = 50;
    applyAndWait(*routing, quieterChat);
    const std::vector<std::vector<Heard>> levelled = clickAndListen({100}, {sources[0], sources[1]});
    ASSERT_TRUE(levelled[0][0].sound);
    ASSERT_TRUE(levelled[1][0].sound);
    EXPECT_NEAR(levelled[0][0].level / heard[0][0].level, 0.5, 0.5 * kLevelTolerance);
    EXPECT_NEAR(levelled[1][0].level / heard[1][0].level, 1.0, kLevelTolerance);

    applyAndWait(*routing, {test_support::kFakeHeadphones, false, false, {}});
    // Without the virtual microphone the board plays to the chosen device alone, in a stream of its own.
    EXPECT_EQ(mediaOutputDevice(), (MediaOutputDevice{kServerStreamsDriver, {}, test_support::kFakeHeadphones}));
    const auto alone = clickAndListen({100}, {"fake_headphones.monitor", "fake_speakers.monitor"});
    ASSERT_TRUE(alone[0][0].sound);
    EXPECT_NEAR(alone[0][0].level, kEffectAmplitude, kEffectAmplitude * kLevelTolerance);
    EXPECT_FALSE(alone[1][0].sound);
}

// Silence costs nothing: a few seconds after the last sound the board's
// streams are corked (the server asks nothing of them), and the next click
// is still heard in the chat and by the host.
TEST_F(RoutingOnServer, AfterSomeSilenceTheStreamsAreCorkedAndTheNextClickIsStillHeard)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    // The board's two streams, by their role marks, that the server lists as corked.
    const auto corkedStreams = [&] {
        int corked = 0;
        for (const QString& stream : server_.pactl({"list", "sink-inputs"}).split("Sink Input #"))
            if (stream.contains("Corked: yes") && stream.contains(QRegularExpression("qinghe.role = \"(feed|listen)\"")))
                ++corked;
        return corked;
    };
    board_.playEffect(fromQString(dir_.filePath("effect.wav")));
    std::this_thread::sleep_for(kListenFor / 4);
    EXPECT_EQ(corkedStreams(), 0);
    board_.stop();
    std::this_thread::sleep_for(ServerStreams::kIdleBeforeCork + 1s);
    EXPECT_EQ(corkedStreams(), 2);
    const std::vector<std::vector<Heard>> heard =
        clickAndListen({100}, {kMicrophoneName, std::string(test_support::kFakeHeadphones) + ".monitor"});
    EXPECT_TRUE(heard[0][0].sound);
    EXPECT_TRUE(heard[1][0].sound);
}

// A steady sound's own largest step between neighbouring samples: the
// middle of the largest steps of 10 ms stretches, so a stretch the server
// played late (a gap of silence) does not count as the sound's own.
int typicalLargestStep(const ServerSamples& samples, std::int64_t from, std::int64_t to, int channel)
{
    constexpr std::int64_t kStretch = test_support::kServerRate / 100;
    std::vector<int> steps;
    for (std::int64_t at = from; at + kStretch <= to; at += kStretch)
        steps.push_back(largestStep(samples, at, at + kStretch, channel));
    if (steps.empty())
        return 0;
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    return steps[steps.size() / 2];
}

// A loud steady tone cut by another sound while the virtual microphone is
// on: the streams drop what they held of the tone so the new sound starts
// at once, and the tone fades out from the very frame the chat heard last.
// No step the chat hears is larger than the two sounds' own steps together
// (each measured in the same recording, past the server's conversions),
// and the new sound is heard.
TEST_F(RoutingOnServer, AToneCutByAnotherSoundFadesOutInTheChatWithoutAClick)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    constexpr int kToneAmplitude = 20000;
    constexpr int kNextAmplitude = 6000;
    // Both start at a zero crossing; the next one is low, so its own steps are small beside the tone's.
    ASSERT_NO_FATAL_FAILURE(
        writeWav(dir_.filePath("tone.wav"), sineWave(kEffectSeconds * kRate, 441, kToneAmplitude, true, true)));
    ASSERT_NO_FATAL_FAILURE(
        writeWav(dir_.filePath("next.wav"), sineWave(kEffectSeconds * kRate, 110, kNextAmplitude, true, true)));
    SourceRecorder chat(server_.address(), kMicrophoneName);
    ASSERT_TRUE(chat.waitUntilFlowing(kFlowLimit));
    const std::int64_t toneClick = chat.framesSoFar();
    board_.playEffect(fromQString(dir_.filePath("tone.wav")));
    std::this_thread::sleep_for(kListenFor / 2);
    const std::int64_t cutClick = chat.framesSoFar();
    board_.playEffect(fromQString(dir_.filePath("next.wav")));
    std::this_thread::sleep_for(kListenFor / 2);
    const ServerSamples samples = chat.stop();
    const std::int64_t end = test_support::frameCountOf(samples);

    const std::int64_t onset = test_support::onsetFrame(samples, toneClick, kSoundThreshold);
    ASSERT_GE(onset, 0);
    ASSERT_LT(onset + kSettleFrames, cutClick);
    // The sounds alone: the tone before the cut, the next sound well after it.
    const std::int64_t nextFrom = end - kSettleFrames * 2;
    ASSERT_GT(nextFrom, cutClick + kSettleFrames);
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel);
        const int toneStep = typicalLargestStep(samples, onset + kSettleFrames, cutClick, channel);
        const int nextStep = typicalLargestStep(samples, nextFrom, end, channel);
        ASSERT_GT(toneStep, nextStep * 4);
        // A little for the rounding of the server's conversions.
        const int allowed = (toneStep + nextStep) * 21 / 20;
        // Where the cut reached the chat: the tone's last loud frame ends its
        // fade. Only around there: a busy machine may make the server play
        // a moment of silence anywhere, which is no click of the cut's.
        std::int64_t lastLoud = -1;
        for (std::int64_t i = cutClick; i < end; ++i)
            if (std::abs(samples[2 * i + channel]) > kNextAmplitude * 3 / 2)
                lastLoud = i;
        ASSERT_GE(lastLoud, cutClick) << "the tone reached the cut";
        int worst = 0;
        std::int64_t worstAt = 0;
        const std::int64_t from = std::max(cutClick, lastLoud - kRate / 20);
        for (std::int64_t i = from; i < std::min(end, lastLoud + kRate / 20); ++i) {
            const int step = std::abs(samples[2 * i + channel] - samples[2 * (i - 1) + channel]);
            if (step > worst) {
                worst = step;
                worstAt = i;
            }
        }
        EXPECT_LE(worst, allowed) << "at frame " << worstAt - cutClick << " after the cut's click; the tone steps by "
                                  << toneStep << ", the next sound by " << nextStep;
    }
    // The next sound is heard, at its own level and alone.
    EXPECT_NEAR(test_support::rmsLevel(samples, nextFrom, end), kNextAmplitude / std::numbers::sqrt2,
                kNextAmplitude / std::numbers::sqrt2 * kLevelTolerance);
}

// A voice just below full scale and a loud effect added together: the
// limiter keeps every sample the chat hears below full scale, and both
// are still there.
TEST_F(RoutingOnServer, ALoudVoiceAndALoudEffectTogetherNeverReachFullScaleInTheChat)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {{}, true, true, {}});
    ASSERT_TRUE(routing->status().passThroughOn);
    constexpr int kAlmostFullScale = 30935;  // -0.5 dBFS
    test_support::TonePlayer voice(server_.address(), test_support::kFakeVoice, kAlmostFullScale);
    ASSERT_TRUE(voice.started());
    writeLongSquareWav(dir_.filePath("loud.wav"), kEffectSeconds, kAlmostFullScale);
    SourceRecorder chat(server_.address(), kMicrophoneName);
    ASSERT_TRUE(chat.waitUntilFlowing(kFlowLimit));
    std::this_thread::sleep_for(kListenFor / 2);
    const std::int64_t clickFrame = chat.framesSoFar();
    board_.playEffect(fromQString(dir_.filePath("loud.wav")));
    std::this_thread::sleep_for(kListenFor);
    const ServerSamples samples = chat.stop();
    const std::int64_t onset = test_support::onsetFrame(samples, clickFrame, kSoundThreshold);
    ASSERT_GE(onset, 0);
    int loudest = 0;
    for (std::int16_t sample : samples)
        loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
    EXPECT_LT(loudest, std::numeric_limits<std::int16_t>::max());
    // Limited, not silenced (two squares that cancel part of the time leave
    // less than either, by how their phases fall).
    EXPECT_GT(test_support::rmsLevel(samples, onset + kSettleFrames, onset + kSettleFrames + kMeasureFrames),
              kAlmostFullScale / 8);
}

TEST_F(RoutingOnServer, PassThroughCarriesTheMicrophoneIntoTheVirtualMicrophoneOnlyWhileOn)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {{}, true, true, {}});
    ASSERT_TRUE(routing->status().passThroughOn);
    test_support::TonePlayer voice(server_.address(), test_support::kFakeVoice, kVoiceAmplitude);
    ASSERT_TRUE(voice.started());
    EXPECT_NEAR(levelOf(kMicrophoneName, 600ms), kVoiceAmplitude, kVoiceAmplitude * kLevelTolerance);
    // The host's voice goes to the chat, not back into the host's ears.
    EXPECT_LT(levelOf("fake_speakers.monitor", 300ms), kSoundThreshold);
    // 麦克风音量 scales it.
    SoundSettings quieterVoice{{}, true, true, {}};
    quieterVoice.microphoneLevel = 50;
    applyAndWait(*routing, quieterVoice);
    EXPECT_NEAR(levelOf(kMicrophoneName, 600ms), kVoiceAmplitude / 2, kVoiceAmplitude / 2 * kLevelTolerance);

    applyAndWait(*routing, {{}, true, false, {}});
    EXPECT_FALSE(routing->status().passThroughOn);
    EXPECT_TRUE(routing->status().microphoneOn);
    EXPECT_LT(levelOf(kMicrophoneName, 600ms), kSoundThreshold);
    EXPECT_EQ(ownRoles(server_.modules()).count("passthrough"), 0u);
}

TEST_F(RoutingOnServer, TheProgramsOwnDevicesAsDefaultsNeverLoopBackIntoThemselves)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {{}, true, true, {}});
    // A host may make the virtual microphone the default input, and a
    // desktop may make any new sink the default output.
    server_.pactl({"set-default-source", kMicrophoneName});
    server_.pactl({"set-default-sink", kMixSinkName});
    routing->refresh();
    ASSERT_TRUE(routing->waitUntilIdle(kRequestLimit));
    EXPECT_EQ(mediaOutputDevice().listeningDevice, test_support::kFakeSpeakers);
    for (const QString& module : ownModules(server_.modules())) {
        if (module.contains("qinghe.role=passthrough")) {
            EXPECT_TRUE(module.contains("source=fake_microphone")) << module.toStdString();
        }
    }
    EXPECT_EQ(ownRoles(server_.modules()),
              (std::map<std::string, int>{{"limited", 1}, {"mix", 1}, {"microphone", 1}, {"passthrough", 1}}));
}

TEST_F(RoutingOnServer, ShuttingDownRemovesEveryModuleTheProgramLoaded)
{
    const QStringList before = server_.modules();
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, true, {}});
    ASSERT_EQ(server_.modules().size(), before.size() + 4);
    // An effect plays into the program's sink right up to the end.
    board_.playEffect(fromQString(dir_.filePath("effect.wav")));
    EXPECT_TRUE(routing->shutDown(SoundRouting::kExitLimit));
    EXPECT_EQ(server_.modules(), before);
    EXPECT_EQ(mediaOutputDevice(), MediaOutputDevice{});
}

// The source a recording of this test's own records from, by the server's account; empty when there is none.
QString sourceOfChatRecording(const PrivateSoundServer& server)
{
    QString index;
    for (const QString& stream : server.pactl({"list", "source-outputs"}).split("Source Output #"))
        if (stream.contains("application.name = \"qinghe-tests\""))
            index = QRegularExpression("Source: (\\d+)").match(stream).captured(1);
    for (const QString& line : server.pactl({"list", "sources", "short"}).split('\n'))
        if (!index.isEmpty() && line.section('\t', 0, 0) == index)
            return line.section('\t', 1, 1);
    return {};
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    return condition();
}

// A chat program records the virtual microphone. Turned off, the server
// moves the recording to the host's microphone; turned on again, it is back
// on the virtual one, and the room hears the next click.
TEST_F(RoutingOnServer, AChatRecordingGoesBackOntoTheVirtualMicrophoneWhenItIsTurnedOnAgain)
{
    auto routing = makeRouting();
    const SoundSettings on{test_support::kFakeHeadphones, true, false, {}};
    applyAndWait(*routing, on);
    ASSERT_TRUE(routing->status().microphoneOn);
    SourceRecorder chat(server_.address(), kMicrophoneName);
    ASSERT_TRUE(chat.waitUntilFlowing(kFlowLimit));
    ASSERT_EQ(sourceOfChatRecording(server_), kMicrophoneName);
    applyAndWait(*routing, {test_support::kFakeHeadphones, false, false, {}});
    ASSERT_TRUE(eventually([&] { return sourceOfChatRecording(server_) == test_support::kFakeMicrophone; }, 10s))
        << sourceOfChatRecording(server_).toStdString();
    applyAndWait(*routing, on);
    ASSERT_TRUE(eventually([&] { return sourceOfChatRecording(server_) == kMicrophoneName; }, 10s))
        << sourceOfChatRecording(server_).toStdString();

    const std::int64_t clickFrame = chat.framesSoFar();
    board_.playEffect(fromQString(dir_.filePath("effect.wav")));
    ASSERT_TRUE(eventually([&] { return chat.framesSoFar() > clickFrame + test_support::kServerRate; }, 10s));
    EXPECT_TRUE(heardAfter(chat.stop(), clickFrame).sound);
}

// 试听 in 音量… is for the host's ears: the sound reaches the listening
// device and the chat hears nothing of it.
TEST_F(RoutingOnServer, APreviewIsHeardOnTheHeadphonesAndNotAtTheVirtualMicrophone)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    SourceRecorder chat(server_.address(), kMicrophoneName);
    SourceRecorder headphones(server_.address(), std::string(test_support::kFakeHeadphones) + ".monitor");
    ASSERT_TRUE(chat.waitUntilFlowing(kFlowLimit));
    ASSERT_TRUE(headphones.waitUntilFlowing(kFlowLimit));
    const std::int64_t chatFrame = chat.framesSoFar();
    const std::int64_t headphonesFrame = headphones.framesSoFar();
    board_.previewSound(fromQString(dir_.filePath("effect.wav")), {}, 0);
    const auto heardFor = [](SourceRecorder& recorder, std::int64_t from) {
        return recorder.framesSoFar() > from + test_support::kServerRate;
    };
    ASSERT_TRUE(eventually([&] { return heardFor(chat, chatFrame) && heardFor(headphones, headphonesFrame); }, 10s));
    const Heard onHeadphones = heardAfter(headphones.stop(), headphonesFrame);
    EXPECT_TRUE(onHeadphones.sound);
    EXPECT_NEAR(onHeadphones.level, kEffectAmplitude, kEffectAmplitude * kLevelTolerance);
    EXPECT_FALSE(heardAfter(chat.stop(), chatFrame).sound);
}

// The server restarts under the running program (updates, log-ins): the
// routing notices, keeps the board quiet meanwhile, and builds the virtual
// microphone again on its own once the server is back.
TEST_F(RoutingOnServer, AServerThatRestartsGetsTheVirtualMicrophoneBackAndTheNextClickReachesIt)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    // A chat program records the microphone, as the routing has seen.
    SourceRecorder chat(server_.address(), kMicrophoneName);
    ASSERT_TRUE(chat.waitUntilFlowing(kFlowLimit));
    routing->refresh();
    ASSERT_TRUE(routing->waitUntilIdle(kRequestLimit));
    board_.playEffect(fromQString(dir_.filePath("effect.wav")));
    server_.kill();
    ASSERT_TRUE(eventually([&] { return routing->status().reconnecting; }, 10s));
    EXPECT_FALSE(routing->status().microphoneOn);
    EXPECT_EQ(mediaOutputDevice(), kNoOutput);
    // A click meanwhile plays nowhere and returns.
    board_.playEffect(fromQString(dir_.filePath("effect.wav")));
    EXPECT_EQ(mediaOutputFacts().driver, "");

    ASSERT_TRUE(server_.start()) << server_.log().toStdString();
    // The host waits no longer than this for the chat to hear the board again.
    ASSERT_TRUE(eventually([&] { return routing->status().microphoneOn; }, 15s));
    ASSERT_TRUE(routing->waitUntilIdle(kRequestLimit));
    EXPECT_FALSE(routing->status().reconnecting);
    EXPECT_EQ(ownRoles(server_.modules()).count("microphone"), 1u);
    // It records again where the server puts it, and is moved back.
    SourceRecorder again(server_.address(), test_support::kFakeMicrophone);
    ASSERT_TRUE(again.waitUntilFlowing(kFlowLimit));
    EXPECT_TRUE(eventually([&] { return sourceOfChatRecording(server_) == kMicrophoneName; }, 10s));
    const std::vector<std::vector<Heard>> heard = clickAndListen({100}, {kMicrophoneName});
    ASSERT_TRUE(heard[0][0].sound);
    EXPECT_NEAR(heard[0][0].level, kEffectAmplitude, kEffectAmplitude * kLevelTolerance);
}

std::size_t threadsOfThisProcess()
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                                  std::filesystem::directory_iterator()));
}

// Holds the server's process still for the scope, as a server that hangs stands.
class FrozenServer {
public:
    explicit FrozenServer(qint64 process) : process_(static_cast<pid_t>(process)) { kill(process_, SIGSTOP); }
    ~FrozenServer() { kill(process_, SIGCONT); }
    FrozenServer(const FrozenServer&) = delete;
    FrozenServer& operator=(const FrozenServer&) = delete;

private:
    pid_t process_;
};

TEST_F(RoutingOnServer, AServerThatHangsAtExitIsLeftAtTheLimitWithTheThreadEnded)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {{}, true, false, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    const QStringList loaded = ownModules(server_.modules());
    {
        const FrozenServer frozen(server_.processId());
        const std::size_t threadsWithRouting = threadsOfThisProcess();
        // Far shorter than the waits for the server, which end early only when cut short.
        EXPECT_FALSE(routing->shutDown(200ms));
        // The board's streams, told to stop playing on the server, end with it.
        EXPECT_LE(threadsOfThisProcess(), threadsWithRouting - 1) << "the routing thread still runs";
    }
    // What the thread had no time to unload stays for the next run to take over.
    EXPECT_EQ(ownModules(server_.modules()), loaded);
}

// Run by the case below in a child process, which it then kills.
TEST(KilledInstance, InChildLoadsTheMicrophoneAndWaits)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs only inside the case that kills it";
    SoundRouting routing([](const OutputTarget&) {});
    routing.apply({test_support::kFakeHeadphones, true, true, {}});
    ASSERT_TRUE(routing.waitUntilIdle(kRequestLimit));
    ASSERT_TRUE(routing.status().microphoneOn);
    QFile ready(qEnvironmentVariable(kReadyFileVariable));
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.close();
    std::this_thread::sleep_for(std::chrono::minutes(1));
}

// Run by the case below in a child process: a second copy of the program
// with the same settings. It says what it found in the ready file, then
// ends as the program does once the case makes the end file.
TEST(SecondCopy, InChildSharesTheServerUntilTold)
{
    if (!isChildRun())
        GTEST_SKIP() << "runs only inside the case that starts it";
    OutputTarget output;
    SoundRouting routing([&](const OutputTarget& target) { output = target; });
    routing.apply({test_support::kFakeHeadphones, true, true, {}});
    ASSERT_TRUE(routing.waitUntilIdle(kRequestLimit));
    const RoutingStatus status = routing.status();
    const bool heldElsewhere = !status.microphoneOn && status.problem == RoutingProblem::HeldByOtherCopy
                               && output == OutputTarget{kServerStreamsDriver, {}, test_support::kFakeHeadphones};
    const QString readyFile = qEnvironmentVariable(kReadyFileVariable);
    QFile ready(readyFile + ".part");
    ASSERT_TRUE(ready.open(QIODevice::WriteOnly));
    ready.write(heldElsewhere ? "held elsewhere" : "taken");
    ready.close();
    ASSERT_TRUE(ready.rename(readyFile));
    for (auto waited = 0ms; !QFile::exists(readyFile + ".end") && waited < kRequestLimit; waited += 20ms)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(routing.shutDown(SoundRouting::kExitLimit));
}

TEST_F(RoutingOnServer, ASecondCopyLeavesTheFirstCopysMicrophoneAsItIsWhileItRunsAndAfter)
{
    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, true, {}});
    ASSERT_TRUE(routing->status().microphoneOn);
    const QStringList before = server_.modules();

    const QString readyFile = dir_.filePath("second");
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QINGHE_MEDIA_TEST_CHILD", "1");
    env.insert(kReadyFileVariable, readyFile);
    second.setProcessEnvironment(env);
    second.setStandardOutputFile(QProcess::nullDevice());
    second.start(ownProgram(), {"--gtest_filter=SecondCopy.InChildSharesTheServerUntilTold"});
    for (auto waited = 0ms; !QFile::exists(readyFile) && waited < kRequestLimit; waited += 20ms)
        std::this_thread::sleep_for(20ms);
    QFile ready(readyFile);
    ASSERT_TRUE(ready.open(QIODevice::ReadOnly));
    EXPECT_EQ(ready.readAll().toStdString(), "held elsewhere");
    EXPECT_EQ(server_.modules(), before);

    QFile end(readyFile + ".end");
    ASSERT_TRUE(end.open(QIODevice::WriteOnly));
    end.close();
    ASSERT_TRUE(second.waitForFinished(static_cast<int>(std::chrono::milliseconds(kRequestLimit).count())));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(server_.modules(), before);
    // The first copy's effects still reach the chat.
    ASSERT_TRUE(routing->waitUntilIdle(kRequestLimit));
    EXPECT_TRUE(routing->status().microphoneOn);
    const std::vector<std::vector<Heard>> heard = clickAndListen({100}, {kMicrophoneName});
    EXPECT_TRUE(heard[0][0].sound);
}

TEST_F(RoutingOnServer, AStartAfterAKilledRunTakesOverWhatItLeftWithoutDuplicates)
{
    ASSERT_TRUE(runAndKillAnInstance());
    const QStringList left = ownModules(server_.modules());
    ASSERT_EQ(left.size(), 4) << "the killed run left its modules behind";

    auto routing = makeRouting();
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, true, {}});
    EXPECT_EQ(ownModules(server_.modules()), left);
    applyAndWait(*routing, {test_support::kFakeHeadphones, true, false, {}});
    EXPECT_EQ(ownModules(server_.modules()).size(), 3);
    EXPECT_EQ(ownRoles(server_.modules()).count("passthrough"), 0u);
    EXPECT_TRUE(routing->shutDown(SoundRouting::kExitLimit));
    EXPECT_TRUE(ownModules(server_.modules()).isEmpty());
}

TEST_F(RoutingOnServer, AStartWithTheMicrophoneOffCleansUpAfterAKilledRun)
{
    ASSERT_TRUE(runAndKillAnInstance());
    ASSERT_FALSE(ownModules(server_.modules()).isEmpty());

    auto routing = makeRouting();
    applyAndWait(*routing, {});
    EXPECT_TRUE(ownModules(server_.modules()).isEmpty());
}

// Without a sound server the routing says so and the board plays through
// the audio layer's own driver (here the disk driver, into a file).
class RoutingWithoutServer : public DiskOutputTest {};

TEST_F(RoutingWithoutServer, SaysWhyAndTheBoardStillPlaysThroughTheDiskDriver)
{
    setenv("PULSE_SERVER", ("unix:" + pathOf("absent")).toUtf8().constData(), 1);
    SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
    routing.apply({test_support::kFakeHeadphones, true, true, {}});
    ASSERT_TRUE(routing.waitUntilIdle(kRequestLimit));
    const RoutingStatus status = routing.status();
    EXPECT_TRUE(status.checked);
    EXPECT_FALSE(status.serverReachable);
    EXPECT_FALSE(status.microphoneOn);
    EXPECT_EQ(status.problem, RoutingProblem::NoServer);
    EXPECT_EQ(mediaOutputDevice(), MediaOutputDevice{});

    // Even an output sent to one of the server's sinks falls back to the default driver.
    setMediaOutputDevice({"pulseaudio", "Headphones", {}});
    writeLongSquareWav(pathOf("effect.wav"), 1, kEffectAmplitude);
    constexpr int kSlider = 37;
    MediaPlayer player;
    CustomSoundTables tables;
    SoundBoard board(tables, pathOf("my.ini"), BoardSurface{[] { return kSlider; }, {}, {}, {}, {}, {}, {}});
    board.playEffect(fromQString(pathOf("effect.wav")));
    EXPECT_EQ(mediaOutputFacts().driver, "disk");
    waitFrames(kRate / 2);
    const Samples out = recordedOutput();
    const int expected = kEffectAmplitude * kSlider / 100;
    EXPECT_GT(framesAt(out, 0, frameCount(out), expected, expected), kRate / 4);
}

}  // namespace
}  // namespace qinghe::test
