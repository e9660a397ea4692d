#pragma once

// The sound engine: every sound the program plays, through one mixer on the
// output in use, with a handle on each playing voice. A sound is played
// from a file with its gains, and comes back as a voice the caller can stop
// (with a fade), change the gains of while it plays, and ask how far it has
// come; the engine says when a voice ends.
//
// Sound goes out through one output at a time: the sound server's own
// streams while the routing asks for them (at the server's rate), else an
// SDL audio device. The output opens on the first sound; the decoders and
// the device come from the sound module, loaded then (or before, by
// prepareMediaOutput), never at program start. When no output can be
// opened, a play fails at once and the next one tries again.

#include "media/decoders/sound_decoder.h"
#include "output_target.h"
#include "sound_output.h"
#include "sound_voice.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace qinghe {

using VoiceId = std::uint64_t;
inline constexpr VoiceId kNoVoice = 0;

// What a voice plays at. Each channel's volume is applied exactly, on the
// 0..kFullVolume scale; the decibels go on top (a file's loudness gain and
// a sound's own volume), a sample they would push past full scale held there.
struct VoiceGains {
    int left = kFullVolume;
    int right = kFullVolume;
    double decibels = 0;

    bool operator==(const VoiceGains&) const = default;
};

struct VoiceProgress {
    std::int64_t position = 0;  // frames played, at rate; within the file's length when it loops
    std::int64_t length = -1;   // frames; -1 when the file does not tell
    int rate = 0;
    bool looping = false;
    bool ducked = false;        // a bed held below its level while the host speaks
};

// How a sound is shaped as it plays, beyond its gains.
struct VoiceShape {
    // Plays again from its start, without a gap or a click at the seam,
    // until it is stopped. A file too short to loop (under 20 ms) or one
    // that breaks off ends instead.
    bool loop = false;
    // Rises from silence to its level over fadeIn.
    std::chrono::milliseconds fadeIn{0};
    // Falls to silence over fadeOut when stopped or cut, and before its
    // natural end; a stop asking for a longer fade gets the longer one.
    std::chrono::milliseconds fadeOut{0};
    // A music bed: lowered with every other bed by setBedLevel.
    bool bed = false;

    bool operator==(const VoiceShape&) const = default;
};

struct VoiceStart {
    VoiceId voice = kNoVoice;  // kNoVoice when the sound cannot play
    SoundFileProblem problem = SoundFileProblem::None;
    bool noOutput = false;     // the file is fine, but no output could be opened
};

// Who hears a voice: everyone the board plays to (with the virtual
// microphone on, the chat and the host), or the host alone, on the
// listening output only: a sound tried out before the room hears it.
enum class Audience { Everyone, HostOnly };

// Why a voice ended.
enum class VoiceEnd { Finished, Stopped, Cut, BrokeOff };

class SoundEngine : public QObject {
    Q_OBJECT

public:
    // The program's one engine, made on first use.
    static SoundEngine& instance();

    // Plays the file (a native path) from its start, or from a point in it.
    // Returns at once; the sound is heard from the output's next block. A
    // sound for the host alone cuts only what the host hears; where the host
    // has no output of its own it does not play (noOutput).
    VoiceStart play(const std::string& path, const VoiceGains& gains,
                    std::chrono::milliseconds from = std::chrono::milliseconds(0),
                    Audience audience = Audience::Everyone, const VoiceShape& shape = {});
    // Fades the voice out over fade, or its own fade-out when that is
    // longer (a cut's few milliseconds at least).
    void stop(VoiceId voice, std::chrono::milliseconds fade = {});
    void stopAll(std::chrono::milliseconds fade = {});
    // False when the voice no longer plays.
    bool setGains(VoiceId voice, const VoiceGains& gains);
    bool playing(VoiceId voice) const;
    std::optional<VoiceProgress> progress(VoiceId voice) const;
    // Sounds that may play at once, 1..kMostVoices: one more stops the one
    // that started first, fading out. With 1, each sound cuts the one before.
    void setMostPlaying(int voices);
    int mostPlaying() const;
    // Brings every bed, playing or started later, to decibels (0 its own
    // level, below 0 lowered), gliding there over ramp; on every output.
    // Callable from any thread once the engine is made: the microphone's
    // watcher lowers the beds from its own, so a word is not held up by
    // the window thread.
    void setBedLevel(double decibels, std::chrono::milliseconds ramp);

    // Whether the file would play, known at once: its reason when not.
    SoundFileProblem check(const std::string& path, std::string* reason = nullptr) const;

signals:
    // A play that started a voice, as it returns.
    void voiceStarted(qinghe::VoiceId voice, const QString& path);
    // On the engine's thread (the window thread), within a few tens of
    // milliseconds of the voice's end.
    void voiceEnded(qinghe::VoiceId voice, qinghe::VoiceEnd end);

private:
    SoundEngine();
    void watchVoices();
};

// The output side, callable from any thread.

// Sets where sound goes from the next play on. A change stops every voice
// and closes the output, so nothing plays on where it no longer should; the
// same target again changes nothing. The server's streams are made here,
// before the change, for at most kServerStreamsLimit (the caller waits, a
// click meanwhile plays where it did); when they cannot be, nothing plays
// until the next change.
inline constexpr std::chrono::milliseconds kServerStreamsLimit{2000};
void setMediaOutputDevice(const MediaOutputDevice& target);
MediaOutputDevice mediaOutputDevice();

// The output in use: its rate, channels, period, late blocks and driver.
OutputFacts mediaOutputFacts();

// The period asked of the SDL device when it next opens; until
// closeMediaOutput it asks for 128 frames (2.9 ms), and a device that
// refuses a period is asked for the next longer one (256, then 512
// frames). A device that keeps running dry is opened again at the next
// longer one by a play that finds nothing else playing.
void setMediaOutputPeriod(int frames);

// Frames counted since the SDL device opened. A block is counted before
// its voices are mixed: a change made before reading this count is in
// force for every frame counted after it, and none counted before.
std::uint64_t mediaMixedFrames();

// Sees every block the SDL device gets (see MixObserver).
void setMixObserver(MixObserver observer);

// Loads the sound module on a thread of its own, joined by
// shutDownMediaOutput, so that the first sound does not wait for it; no
// output is opened. Call it once the window is on screen: loading holds the
// dynamic loader's lock, which the window's own start-up takes to load its plugins.
void prepareMediaOutput();

// Stops every voice and closes the output; the next play starts afresh,
// asking for the shortest period again.
void closeMediaOutput();

// The at-exit clean-up: closes as closeMediaOutput does, ends the server's
// streams and waits for the module load that prepareMediaOutput started,
// so no thread of the engine outlives the program's main.
void shutDownMediaOutput();

}  // namespace qinghe
