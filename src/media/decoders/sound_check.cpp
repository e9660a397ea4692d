// The quick check when a host binds a file: whether it would play, and why not.

#include "media/decoders/stereo_stream.h"

#include "media/decoders/decoder_backends.h"

#include <array>
#include <exception>

namespace qinghe {

namespace {

// A MIDI file's signature is its first four bytes.
constexpr std::int64_t kMidiSignatureBytes = 4;

SoundFileProblem answer(SoundFileProblem problem, std::string text, std::string* reason)
{
    if (reason)
        *reason = std::move(text);
    return problem;
}

SoundFileProblem checkChosen(const std::string& path, std::string* reason)
{
    std::string why;
    std::unique_ptr<decoders::SourceFile> file = decoders::SourceFile::open(path, &why);
    if (!file)
        return answer(SoundFileProblem::NotFound, why, reason);
    std::array<unsigned char, kMidiSignatureBytes> head{};
    const std::int64_t got = file->readHead(head.data(), kMidiSignatureBytes);
    if (got > 0 && decoders::looksLikeMidi(head.data(), static_cast<std::size_t>(got))) {
        // The synthesiser and its sound font are left for playing: reading
        // the song through says whether it would play.
        if (std::string fault = decoders::midiFileFault(*file); !fault.empty())
            return answer(SoundFileProblem::Damaged, "midi: " + fault, reason);
        if (!decoders::midiSoundFontInstalled())
            return answer(SoundFileProblem::Unsupported, "midi: no General MIDI sound font installed", reason);
        return answer(SoundFileProblem::None, {}, reason);
    }
    file.reset();
    // Opening reads the first block, which is the check.
    DecoderOpening opening = openSoundDecoder(path);
    return answer(opening.problem, std::move(opening.reason), reason);
}

}  // namespace

SoundFileProblem checkSoundFile(const std::string& path, std::string* reason)
{
    try {
        return checkChosen(path, reason);
    } catch (const std::exception& error) {
        return answer(SoundFileProblem::Damaged, error.what(), reason);
    } catch (...) {
        return answer(SoundFileProblem::Damaged, "failed while checking", reason);
    }
}

}  // namespace qinghe
