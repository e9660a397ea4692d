#pragma once

// The board's sound straight into the sound server while the virtual
// microphone is served: two playback streams of our own, one into the mix
// a chat program hears, one to the host's listening device, both fed the
// same blocks of the same sounds, so they keep in step and a new click
// cuts the old sound on both. No loopback stands between the board and
// either place.
//
// The sounds are the engine's voices (sound_voice.h), decoded a little
// ahead on a thread of each sound's own, at the server's own rate. The streams'
// write callback only mixes decoded frames at their volumes: it takes no
// lock and allocates nothing. A new sound with nothing else to be heard
// is written over what the streams hold (silence, or the sound it cut
// off), from a little past the frame the server reads, so it starts at
// once; the sound it cut off goes on there under the new one and fades out
// over kCutFade, so it never breaks off mid-wave. Beside other sounds,
// or one that fades out, it is written behind what is queued, so none of
// them skips. After kIdleBeforeCork with nothing playing both streams are
// corked, and the server asks nothing of them until the next sound uncorks
// them.

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

    // Connects to the server the environment names and makes both streams
    // (or, with an empty mixSink, the listening one alone), corked, at the
    // server's default rate: into mixSink (never moved elsewhere) and into listeningSink
    // (the server's default when empty). The streams carry the role marks
    // kChatStreamRole and kListeningStreamRole for whoever sets their
    // levels. nullptr when the server, or a sink, does not answer within limit.
    static std::unique_ptr<ServerStreams> connect(const std::string& mixSink, const std::string& listeningSink,
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
