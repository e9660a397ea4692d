#pragma once

// The board's sound straight into one of the sound server's sinks: a
// playback stream of our own at the server's rate, paced by that sink's own
// clock. While the virtual microphone is served there are two, one into the
// mix a chat program hears and one to the host's listening device, each
// playing every sound from a decoder of its own, so neither drifts with the
// other's device; without it, one plays to the listening device alone. No
// loopback stands between the board and either place.
//
// The sounds are the engine's voices (sound_voice.h), decoded a little
// ahead on a thread of each sound's own. The stream's write callback only
// mixes decoded frames at their volumes: it takes no lock and allocates
// nothing. A new sound with nothing else to be heard is written over what
// the stream holds (silence, or the sound it cut off), from a little past
// the frame the server reads, so it starts at once; the sound it cut off
// goes on there under the new one and fades out over kCutFade, so it never
// breaks off mid-wave. Beside other sounds, or one that fades out, it is
// written behind what is queued, so none of them skips. After
// kIdleBeforeCork with nothing playing the stream is corked, and the server
// asks nothing of it until the next sound uncorks it.

#include "output_target.h"
#include "sound_output.h"

#include <chrono>
#include <memory>
#include <string>

namespace qinghe {

class ServerStreams final : public SoundOutput {
public:
    // Silence this long corks the streams.
    static constexpr std::chrono::seconds kIdleBeforeCork{5};
    static constexpr int kChannels = 2;

    // Connects to the server the environment names and makes the stream,
    // corked, at the server's default rate, into sink (the server's default
    // when empty). It carries role as its mark (kChatStreamRole,
    // kListeningStreamRole, kBoardStreamRole) for whoever sets its level; the
    // chat's stream is never moved off its sink. nullptr when the server,
    // or the sink, does not answer within limit.
    static std::unique_ptr<ServerStreams> connect(const std::string& sink, const std::string& role,
                                                  std::chrono::milliseconds limit);
    ~ServerStreams() override;
    ServerStreams(const ServerStreams&) = delete;
    ServerStreams& operator=(const ServerStreams&) = delete;

    // Open from connect on, while the server keeps the connection.
    bool open() override;
    void close() override;

    int rate() const override;
    VoiceMixer& mixer() override;
    // The loop uncorks the streams if silence had corked them, and arms the sound.
    void voiceAdded(SoundVoice* voice) override;
    OutputFacts facts() const override;

    // Whether the streams are corked now (the server asks nothing of them).
    bool corked() const;

private:
    struct Impl;
    explicit ServerStreams(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace qinghe
