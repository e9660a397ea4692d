// 说话时压低音乐: the rule on its own, and the whole way from the host's
// microphone to a music bed in the chat, on a sound server of the test's own.

#include "soundserver/duck_rule.h"
#include "soundserver/microphone_level.h"
#include "soundserver/sound_routing.h"

#include "media/engine/sound_engine.h"
#include "media_test_support.h"
#include "support/private_sound_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

namespace qinghe::test {
namespace {

using namespace std::chrono_literals;
using test_support::PrivateSoundServer;
using test_support::ServerSamples;
using test_support::SourceRecorder;
using Clock = DuckRule::Clock;

constexpr auto kLimit = 20s;
constexpr int kBedAmplitude = 8000;
constexpr int kVoiceAmplitude = 6000;  // about -15 dBFS: a voice close to the microphone
constexpr std::int64_t kRate = test_support::kServerRate;

// Polls until the condition holds; false when the limit passes first.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = kLimit)
{
    for (const auto end = Clock::now() + limit; !condition();) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(DuckRule, AVoiceLowersTheBedsAtOnceAndTheyComeBackOnlyAfterTheHold)
{
    DuckRule rule;
    SoundSettings settings;
    const Clock::time_point start{};
    // Off: nothing moves, however loud.
    EXPECT_EQ(rule.hear(1.0f, start), std::nullopt);
    settings.duckMusic = true;
    rule.setSettings(settings);
    // -40 dBFS is 0.01: just under it is the room, just over it a voice.
    EXPECT_EQ(rule.hear(0.009f, start), std::nullopt);
    EXPECT_EQ(rule.hear(0.011f, start), (BedLevel{-12, 50ms}));
    // A pause shorter than the hold keeps them down; a word in it starts the hold again.
    EXPECT_EQ(rule.hear(0.0f, start + 700ms), std::nullopt);
    EXPECT_EQ(rule.hear(0.2f, start + 790ms), std::nullopt);
    EXPECT_EQ(rule.check(start + 1500ms), std::nullopt);
    EXPECT_EQ(rule.check(start + 1590ms), (BedLevel{0, 500ms}));
    // A microphone that goes, or ducking turned off, brings them back at once.
    rule.hear(0.5f, start + 2s);
    EXPECT_EQ(rule.forget(), (BedLevel{0, 500ms}));
    rule.hear(0.5f, start + 3s);
    settings.duckMusic = false;
    EXPECT_EQ(rule.setSettings(settings), (BedLevel{0, 500ms}));
}

// The first 10 ms stretch from from on whose level is within a decibel of target; -1 when none.
std::int64_t reached(const ServerSamples& samples, std::int64_t from, double target)
{
    constexpr std::int64_t kStretch = kRate / 100;
    for (std::int64_t frame = from; frame + kStretch <= test_support::frameCountOf(samples); frame += kStretch)
        if (std::abs(20 * std::log10(test_support::rmsLevel(samples, frame, frame + kStretch) / target)) < 1)
            return frame;
    return -1;
}

// The program's own wiring on a server of the test's own: the routing hands
// the settings on, the watch moves the engine's beds.
TEST(DuckingOnServer, AVoiceLowersTheBedInTheChatByTheDepthSilenceBringsItBackAndSoDoesAnUnpluggedMicrophone)
{
    QTemporaryDir dir;
    PrivateSoundServer server;
    ASSERT_TRUE(server.isRunning()) << server.log().toStdString();
    server.useForThisProcess();
    writeLongSquareWav(dir.filePath("bed.wav"), 30, kBedAmplitude);
    std::mutex lock;
    std::optional<BedLevel> lastMove;
    const auto moved = [&](const BedLevel& bed) {
        std::lock_guard guard(lock);
        return lastMove == bed;
    };
    MicrophoneLevel level([&](const BedLevel& bed) {
        {
            std::lock_guard guard(lock);
            lastMove = bed;
        }
        SoundEngine::instance().setBedLevel(bed.decibels, bed.ramp);
    });
    SoundRouting routing([](const OutputTarget& target) { setMediaOutputDevice(target); });
    routing.addSettingsListener([&](const SoundSettings& fresh) { level.apply(fresh); });
    SoundSettings settings;
    settings.virtualMicrophone = true;
    settings.duckMusic = true;
    routing.apply(settings);
    ASSERT_TRUE(routing.waitUntilIdle(kLimit));
    ASSERT_TRUE(routing.status().microphoneOn);
    ASSERT_TRUE(waitUntil([&] { return level.watch() == MicrophoneWatch::Listening; }));
    ASSERT_NE(SoundEngine::instance()
                  .play(dir.filePath("bed.wav").toStdString(), {}, {}, Audience::Everyone,
                        VoiceShape{.loop = true, .bed = true})
                  .voice,
              kNoVoice);

    SourceRecorder chat(server.address(), kMicrophoneName);
    SourceRecorder microphone(server.address(), test_support::kFakeMicrophone);
    ASSERT_TRUE(chat.waitUntilFlowing(kLimit));
    ASSERT_TRUE(microphone.waitUntilFlowing(kLimit));
    const std::int64_t flowing = chat.framesSoFar();
    ASSERT_TRUE(waitUntil([&] { return chat.framesSoFar() > flowing + kRate / 2; }));
    const std::int64_t voiceFrame = chat.framesSoFar();
    const std::int64_t microphoneFrame = microphone.framesSoFar();
    std::optional<test_support::TonePlayer> voice;
    voice.emplace(server.address(), test_support::kFakeVoice, kVoiceAmplitude);
    ASSERT_TRUE(waitUntil([&] { return moved({-12, 50ms}); }));
    const std::int64_t lowered = chat.framesSoFar();
    ASSERT_TRUE(waitUntil([&] { return chat.framesSoFar() > lowered + kRate; }));
    const std::int64_t silenceFrame = chat.framesSoFar();
    voice.reset();
    ASSERT_TRUE(waitUntil([&] { return moved({0, 500ms}); }));
    ASSERT_TRUE(waitUntil([&] { return chat.framesSoFar() > silenceFrame + kRate * 3 / 2; }));
    const ServerSamples heard = chat.stop();
    const ServerSamples spoken = microphone.stop();

    const double full = test_support::rmsLevel(heard, voiceFrame - kRate / 4, voiceFrame);
    const double ducked = test_support::rmsLevel(heard, silenceFrame - kRate / 2, silenceFrame - kRate / 10);
    const std::int64_t end = test_support::frameCountOf(heard);
    EXPECT_NEAR(full, kBedAmplitude, kBedAmplitude * 0.1);
    EXPECT_NEAR(20 * std::log10(ducked / full), -12, 1);
    EXPECT_NEAR(20 * std::log10(test_support::rmsLevel(heard, end - kRate / 4, end) / full), 0, 1);
    // How long each took, from the voice's arrival at the microphone and its end there.
    const std::int64_t voiceOnset = test_support::onsetFrame(spoken, microphoneFrame, kVoiceAmplitude / 2);
    ASSERT_GE(voiceOnset, 0);
    std::int64_t voiceEnd = test_support::frameCountOf(spoken) - 1;
    while (voiceEnd > voiceOnset && std::abs(spoken[2 * voiceEnd]) < kVoiceAmplitude / 2)
        --voiceEnd;
    const std::int64_t down = reached(heard, voiceFrame, ducked);
    const std::int64_t up = reached(heard, silenceFrame, full);
    const auto millisecondsBetween = [](Clock::time_point from, Clock::time_point to) {
        return std::chrono::duration<double, std::milli>(to - from).count();
    };
    ASSERT_GE(down, 0);
    ASSERT_GE(up, 0);
    std::cout << "[ figures ] " << test_support::nameOf(server.kind()) << ": bed down by "
              << -20 * std::log10(ducked / full) << " dB "
              << millisecondsBetween(microphone.arrivalOf(voiceOnset), chat.arrivalOf(down))
              << " ms after the voice; back " << millisecondsBetween(microphone.arrivalOf(voiceEnd), chat.arrivalOf(up))
              << " ms after it ended\n";

    // The microphone unplugged while the host speaks: the music is not left down.
    voice.emplace(server.address(), test_support::kFakeVoice, kVoiceAmplitude);
    ASSERT_TRUE(waitUntil([&] { return moved({-12, 50ms}); }));
    QString module;
    for (const QString& line : server.pactl({"list", "short", "modules"}).split('\n'))
        module = line.contains("source_name=fake_microphone") ? line.section('\t', 0, 0) : module;
    bool unplugged = false;
    server.pactl({"unload-module", module}, &unplugged);
    ASSERT_TRUE(unplugged);
    ASSERT_TRUE(waitUntil([&] { return level.watch() == MicrophoneWatch::Lost; }));
    EXPECT_TRUE(moved({0, 500ms}));
    routing.shutDown(SoundRouting::kExitLimit);
    closeMediaOutput();
    if (::testing::Test::HasFailure())
        std::cerr << server.log().toStdString();
}

}  // namespace
}  // namespace qinghe::test
