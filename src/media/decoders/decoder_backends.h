#pragma once

// The decoders behind openSoundDecoder, each over the library that reads its
// formats, and what they share: the opened file and how an attempt ends.

#include "media/decoders/sound_decoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qinghe::decoders {

// More channels than any sound a host would bind; a lying header must not
// size a buffer past this.
constexpr int kMostChannels = 64;
// Rates no sound file has beyond; a header saying more is lying.
constexpr int kHighestRate = 768000;
// Frames a decoder reads at a time inside the layer: tens of milliseconds.
constexpr std::int64_t kBlockFrames = 4096;

// A file opened for reading by descriptor, so every library reads the same
// bytes and none of them guesses anything from the name.
class SourceFile {
public:
    static std::unique_ptr<SourceFile> open(const std::string& path, std::string* reason);
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // Up to size bytes from the current position; -1 on a read error.
    std::int64_t read(void* data, std::int64_t size);
    // Like lseek: the new position, or -1.
    std::int64_t seek(std::int64_t offset, int whence);
    std::int64_t tell() const { return position_; }
    std::int64_t size() const { return size_; }
    // Up to size bytes from the start, leaving the position at the start.
    std::int64_t readHead(void* data, std::int64_t size);

private:
    SourceFile(int descriptor, std::int64_t size) : descriptor_(descriptor), size_(size) {}
    int descriptor_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

// How one decoder took a file: a decoder, or why not. known says the
// decoder knows the format, so its failure means a damaged file.
struct Attempt {
    std::unique_ptr<SoundDecoder> decoder;
    bool known = false;
    bool unreadable = false;  // a known container with content nothing here decodes
    std::string reason;
};

Attempt openWithSndfile(std::unique_ptr<SourceFile> file);
Attempt openWithFfmpeg(std::unique_ptr<SourceFile> file);
Attempt openWithFluidsynth(std::unique_ptr<SourceFile> file, int renderRate);
Attempt openWithOpenmpt(std::unique_ptr<SourceFile> file, int renderRate);

// Whether the head of a file is a MIDI file's, and whether a tracker module's.
bool looksLikeMidi(const unsigned char* head, std::size_t size);
bool looksLikeTracker(const unsigned char* head, std::size_t size, std::int64_t fileSize);

// Reads a MIDI file's header and every track through, a block at a time,
// without the synthesiser: empty when it would play, else why not.
std::string midiFileFault(SourceFile& file);
// Whether a General MIDI sound font is there to play MIDI with.
bool midiSoundFontInstalled();

// The default place of each channel when a file names none.
Speaker defaultSpeaker(int channel, int channels);

}  // namespace qinghe::decoders
