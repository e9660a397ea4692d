// MIDI files, played by FluidSynth with the General MIDI sound font the
// system packages, and checked by a reading of our own that needs no sound font.

#include "media/decoders/decoder_backends.h"

#include <fluidsynth.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <vector>

namespace qinghe::decoders {

namespace {

// Where Debian's General MIDI sound fonts land, best first.
constexpr std::array kSoundFonts{
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
};
// Songs are tens of kilobytes; the player holds the file and its events in
// memory, so a larger "MIDI file" is refused rather than held.
constexpr std::int64_t kMostMidiBytes = 8 << 20;
// Voices sounding at once: a chord of ten thousand notes takes no more.
constexpr int kMostVoices = 256;
// FluidSynth's own limits on its rate.
constexpr int kLowestSynthRate = 8000;
constexpr int kHighestSynthRate = 96000;
// After the last event the reverb rings out, but never longer than this.
constexpr double kMostTailSeconds = 2.0;
// Below this the tail counts as rung out (-80 dBFS).
constexpr float kSilentTail = 1e-4f;
// Bytes read at a time when checking a file.
constexpr std::size_t kCheckBlockBytes = 4096;
// Synthesisers kept loaded after their song: loading the sound font takes
// some 30 ms, and a host clicks the same MIDI sound again and again.
constexpr std::size_t kMostSpareSynths = 2;

void quietFluidsynth()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

const char* soundFontPath()
{
    for (const char* path : kSoundFonts) {
        struct stat facts {};
        if (::stat(path, &facts) == 0 && S_ISREG(facts.st_mode))
            return path;
    }
    return nullptr;
}

// A synthesiser with the sound font loaded, used by one decoder at a time.
struct LoadedSynth {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    int rate = 0;
};

void unload(LoadedSynth& loaded)
{
    if (loaded.synth)
        delete_fluid_synth(loaded.synth);
    if (loaded.settings)
        delete_fluid_settings(loaded.settings);
    loaded = {};
}

// Synthesisers whose songs ended, ready for the next. FluidSynth shares no
// sound font between synthesisers safely across threads, so each keeps its own.
class SpareSynths {
public:
    ~SpareSynths()
    {
        for (LoadedSynth& loaded : spare_)
            unload(loaded);
    }

    LoadedSynth take(int rate)
    {
        const std::lock_guard lock(mutex_);
        const auto found = std::find_if(spare_.begin(), spare_.end(), [rate](const LoadedSynth& each) { return each.rate == rate; });
        if (found == spare_.end())
            return {};
        const LoadedSynth loaded = *found;
        spare_.erase(found);
        return loaded;
    }

    void give(LoadedSynth loaded)
    {
        fluid_synth_system_reset(loaded.synth);
        {
            const std::lock_guard lock(mutex_);
            if (spare_.size() < kMostSpareSynths) {
                spare_.push_back(loaded);
                return;
            }
        }
        unload(loaded);
    }

private:
    std::mutex mutex_;
    std::vector<LoadedSynth> spare_;
};

SpareSynths& spareSynths()
{
    static SpareSynths spare;
    return spare;
}

// Reads a file front to back through a small buffer.
class ByteReader {
public:
    explicit ByteReader(SourceFile& file) : file_(file) { file_.seek(0, SEEK_SET); }

    bool byte(unsigned char& value)
    {
        if (next_ == filled_) {
            const std::int64_t got = file_.read(buffer_.data(), static_cast<std::int64_t>(buffer_.size()));
            if (got <= 0)
                return false;
            filled_ = static_cast<std::size_t>(got);
            next_ = 0;
        }
        value = buffer_[next_++];
        ++offset_;
        return true;
    }

    bool skip(std::uint64_t count)
    {
        const std::size_t buffered = std::min<std::uint64_t>(count, filled_ - next_);
        next_ += buffered;
        offset_ += buffered;
        count -= buffered;
        if (count == 0)
            return true;
        if (count > static_cast<std::uint64_t>(file_.size() - file_.tell()))
            return false;
        file_.seek(static_cast<std::int64_t>(count), SEEK_CUR);
        offset_ += count;
        return true;
    }

    bool word(int bytes, std::uint32_t& value)
    {
        value = 0;
        for (int index = 0; index < bytes; ++index) {
            unsigned char piece = 0;
            if (!byte(piece))
                return false;
            value = (value << 8) | piece;
        }
        return true;
    }

    // A variable-length number: at most four bytes of seven bits.
    bool variable(std::uint32_t& value)
    {
        value = 0;
        for (int index = 0; index < 4; ++index) {
            unsigned char piece = 0;
            if (!byte(piece))
                return false;
            value = (value << 7) | (piece & 0x7Fu);
            if (!(piece & 0x80))
                return true;
        }
        return false;
    }

    std::uint64_t offset() const { return offset_; }

private:
    SourceFile& file_;
    std::array<unsigned char, kCheckBlockBytes> buffer_{};
    std::size_t next_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t offset_ = 0;
};

// One track's events, up to its end-of-track event or its chunk's end.
std::string trackFault(ByteReader& reader, std::uint32_t length)
{
    const std::uint64_t end = reader.offset() + length;
    unsigned char running = 0;
    while (reader.offset() < end) {
        std::uint32_t delta = 0;
        unsigned char status = 0;
        if (!reader.variable(delta) || !reader.byte(status))
            return "a track breaks off";
        if (status == 0xFF) {
            unsigned char type = 0;
            std::uint32_t size = 0;
            if (!reader.byte(type) || !reader.variable(size) || !reader.skip(size))
                return "a meta event breaks off";
            if (type == 0x2F)  // end of track: what follows in the chunk is not played
                return reader.offset() <= end && reader.skip(end - reader.offset()) ? "" : "a track runs past its chunk";
            continue;
        }
        if (status == 0xF0 || status == 0xF7) {
            std::uint32_t size = 0;
            if (!reader.variable(size) || !reader.skip(size))
                return "a system exclusive message breaks off";
            continue;
        }
        if (status > 0xF0)
            return "a system message where only events belong";
        int data = 0;
        if (status & 0x80) {
            running = status;
            data = ((status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0) ? 1 : 2;
        } else {
            if (!running)
                return "data without a status";
            // The byte read was the first data byte of a running-status event.
            data = ((running & 0xF0) == 0xC0 || (running & 0xF0) == 0xD0) ? 0 : 1;
        }
        if (!reader.skip(static_cast<std::uint64_t>(data)))
            return "an event breaks off";
    }
    return reader.offset() == end ? "" : "a track runs past its chunk";
}

class FluidsynthDecoder final : public SoundDecoder {
public:
    FluidsynthDecoder(std::vector<unsigned char> song, int rate) : song_(std::move(song))
    {
        facts_.rate = rate;
        facts_.channels = 2;
        facts_.decoder = "fluidsynth";
    }

    ~FluidsynthDecoder() override
    {
        if (player_) {
            fluid_player_stop(player_);
            delete_fluid_player(player_);
        }
        if (loaded_.synth)
            spareSynths().give(loaded_);
        else
            unload(loaded_);
    }

    FluidsynthDecoder(const FluidsynthDecoder&) = delete;
    FluidsynthDecoder& operator=(const FluidsynthDecoder&) = delete;

    std::string open(const char* soundFont)
    {
        loaded_ = spareSynths().take(facts_.rate);
        if (!loaded_.synth) {
            // FluidSynth sets up its shared tables on the first synthesiser
            // without a lock of its own: two decoders opening at once wait.
            static std::mutex creating;
            const std::lock_guard lock(creating);
            loaded_.rate = facts_.rate;
            loaded_.settings = new_fluid_settings();
            if (!loaded_.settings)
                return "no synthesiser settings";
            fluid_settings_setnum(loaded_.settings, "synth.sample-rate", facts_.rate);
            fluid_settings_setint(loaded_.settings, "synth.polyphony", kMostVoices);
            fluid_settings_setint(loaded_.settings, "synth.threadsafe-api", 0);  // one thread at a time plays it
            fluid_settings_setint(loaded_.settings, "synth.lock-memory", 0);
            fluid_settings_setint(loaded_.settings, "synth.cpu-cores", 1);
            loaded_.synth = new_fluid_synth(loaded_.settings);
            if (!loaded_.synth)
                return "no synthesiser";
            if (fluid_synth_sfload(loaded_.synth, soundFont, 1) == FLUID_FAILED) {
                unload(loaded_);
                return std::string("the sound font ") + soundFont + " does not load";
            }
        }
        synth_ = loaded_.synth;
        return start() ? "" : "the player refuses the file";
    }

    const SoundFileFacts& facts() const override { return facts_; }

    std::int64_t read(float* samples, std::int64_t frames) override
    {
        std::int64_t done = 0;
        const auto mostTail = static_cast<std::int64_t>(kMostTailSeconds * facts_.rate);
        while (done < frames && !ended_) {
            const int count = static_cast<int>(std::min<std::int64_t>(frames - done, kBlockFrames));
            float* out = samples + done * 2;
            if (fluid_synth_write_float(synth_, count, out, 0, 2, out, 1, 2) != FLUID_OK)
                return done > 0 ? done : -1;
            done += count;
            if (!eventsDone_) {
                // FluidSynth's player keeps going while any note sounds; the
                // song ends at its last event, and a note still held there
                // is let go so it fades as its instrument does.
                eventsDone_ = fluid_player_get_status(player_) == FLUID_PLAYER_DONE ||
                              fluid_player_get_current_tick(player_) > fluid_player_get_total_ticks(player_);
                if (!eventsDone_)
                    continue;
                fluid_synth_all_notes_off(synth_, -1);
            }
            tail_ += count;
            float loudest = 0;
            for (std::int64_t index = 0; index < std::int64_t{count} * 2; ++index)
                loudest = std::max(loudest, std::fabs(out[index]));
            ended_ = tail_ >= mostTail || (fluid_synth_get_active_voice_count(synth_) == 0 && loudest < kSilentTail);
        }
        return done;
    }

    bool seek(std::int64_t frame) override
    {
        if (frame < 0 || !start())
            return false;
        // The song is rendered through from its start: MIDI has no index of time.
        std::array<float, kBlockFrames * 2> scratch{};
        for (std::int64_t skipped = 0; skipped < frame;) {
            const std::int64_t got = read(scratch.data(), std::min<std::int64_t>(kBlockFrames, frame - skipped));
            if (got <= 0)
                return false;
            skipped += got;
        }
        return true;
    }

private:
    // The song from its beginning, on a synthesiser set back to its start.
    bool start()
    {
        if (player_) {
            fluid_player_stop(player_);
            delete_fluid_player(player_);
            player_ = nullptr;
        }
        fluid_synth_system_reset(synth_);
        player_ = new_fluid_player(synth_);
        ended_ = false;
        eventsDone_ = false;
        tail_ = 0;
        return player_ && fluid_player_add_mem(player_, song_.data(), song_.size()) == FLUID_OK &&
               fluid_player_play(player_) == FLUID_OK;
    }

    std::vector<unsigned char> song_;  // kept for a seek, which plays it again
    SoundFileFacts facts_;
    LoadedSynth loaded_;
    fluid_synth_t* synth_ = nullptr;  // loaded_'s
    fluid_player_t* player_ = nullptr;
    bool ended_ = false;
    bool eventsDone_ = false;
    std::int64_t tail_ = 0;  // frames rendered since the player finished
};

}  // namespace

bool looksLikeMidi(const unsigned char* head, std::size_t size)
{
    return size >= 4 && head[0] == 'M' && head[1] == 'T' && head[2] == 'h' && head[3] == 'd';
}

std::string midiFileFault(SourceFile& file)
{
    if (file.size() > kMostMidiBytes)
        return "larger than any MIDI song";
    ByteReader reader(file);
    std::uint32_t magic = 0;
    std::uint32_t length = 0;
    std::uint32_t format = 0;
    std::uint32_t tracks = 0;
    std::uint32_t division = 0;
    if (!reader.word(4, magic) || !reader.word(4, length) || length < 6 || !reader.word(2, format) ||
        !reader.word(2, tracks) || !reader.word(2, division) || !reader.skip(length - 6))
        return "the header breaks off";
    if (format > 2)
        return "an unknown MIDI file format";
    if (tracks == 0)
        return "no tracks";
    if (division == 0)
        return "no time division";
    for (std::uint32_t found = 0; found < tracks;) {
        std::uint32_t chunk = 0;
        std::uint32_t size = 0;
        if (!reader.word(4, chunk) || !reader.word(4, size))
            return "fewer tracks than the header says";
        if (chunk != 0x4D54726B) {  // not "MTrk": a chunk players pass over
            if (!reader.skip(size))
                return "a chunk breaks off";
            continue;
        }
        if (std::string fault = trackFault(reader, size); !fault.empty())
            return fault;
        ++found;
    }
    return {};
}

Attempt openWithFluidsynth(std::unique_ptr<SourceFile> file, int renderRate)
{
    Attempt attempt;
    attempt.known = true;
    quietFluidsynth();
    if (std::string fault = midiFileFault(*file); !fault.empty()) {
        attempt.reason = fault;
        return attempt;
    }
    const char* soundFont = soundFontPath();
    if (!soundFont) {
        attempt.unreadable = true;
        attempt.reason = "no General MIDI sound font installed";
        return attempt;
    }
    std::vector<unsigned char> song(static_cast<std::size_t>(file->size()));
    file->seek(0, SEEK_SET);
    if (file->read(song.data(), file->size()) != file->size()) {
        attempt.reason = "cannot be read";
        return attempt;
    }
    auto decoder = std::make_unique<FluidsynthDecoder>(
        std::move(song), std::clamp(renderRate, kLowestSynthRate, kHighestSynthRate));
    attempt.reason = decoder->open(soundFont);
    if (attempt.reason.empty())
        attempt.decoder = std::move(decoder);
    return attempt;
}

bool midiSoundFontInstalled()
{
    return soundFontPath() != nullptr;
}

}  // namespace qinghe::decoders
