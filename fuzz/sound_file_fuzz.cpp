// Any bytes as a sound file the host binds: the check and the opening say a
// problem with its reason or give a stream, and a second of it reads and
// seeks, and loops, without a fault in our code or in how it drives the libraries.

#include "media/decoders/stereo_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Read after opening: about a second at the output's rate.
constexpr std::int64_t kFramesRead = 44100;
constexpr std::int64_t kBlockFrames = 4096;
constexpr int kOutputRate = 44100;

void require(bool promise)
{
    if (!promise)
        std::abort();
}

// One file for the whole run, rewritten for every input.
const std::string& scratchFile()
{
    static const std::string path = [] {
        std::string pattern = "/tmp/qinghe-sound-fuzz-XXXXXX";
        const int descriptor = mkstemp(pattern.data());
        require(descriptor >= 0);
        close(descriptor);
        return pattern;
    }();
    return path;
}

void writeFile(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr);
    require(size == 0 || std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
}

std::int64_t readSome(qinghe::StereoStream& stream, std::vector<float>& block, std::int64_t most)
{
    std::int64_t total = 0;
    while (total < most) {
        const std::int64_t asked = std::min(kBlockFrames, most - total);
        const std::int64_t got = stream.read(block.data(), asked);
        require(got >= 0 && got <= asked);
        if (got == 0)
            break;
        total += got;
    }
    return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = scratchFile();
    writeFile(path, data, size);

    std::string reason;
    const qinghe::SoundFileProblem checked = qinghe::checkSoundFile(path, &reason);
    require(checked == qinghe::SoundFileProblem::None || !reason.empty());

    qinghe::StreamOpening opening = qinghe::openStereoStream(path, kOutputRate);
    require((opening.stream != nullptr) == (opening.problem == qinghe::SoundFileProblem::None));
    if (!opening.stream) {
        require(!opening.reason.empty());
        return 0;
    }
    require(opening.stream->rate() == kOutputRate);
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames) * 2);
    readSome(*opening.stream, block, kFramesRead);
    if (opening.stream->seek(0))
        readSome(*opening.stream, block, kBlockFrames);
    // Looped, every read still ends: a file too short, or one that cannot go back, ends the loop.
    opening.stream->setLooping(true);
    readSome(*opening.stream, block, kFramesRead);
    return 0;
}
