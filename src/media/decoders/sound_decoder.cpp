#include "media/decoders/sound_decoder.h"

#include "media/decoders/decoder_backends.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace qinghe {

namespace decoders {

namespace {

// Enough of a file's start for every format's signature (a MOD's sits at 1080).
constexpr std::int64_t kHeadBytes = 4096;

// WAV's order when a file names no speakers: the first six as every 5.1 file
// has them, then the two side channels of 7.1.
constexpr std::array kDefaultOrder{
    Speaker::FrontLeft, Speaker::FrontRight, Speaker::FrontCentre, Speaker::LowFrequency,
    Speaker::BackLeft,  Speaker::BackRight,  Speaker::SideLeft,    Speaker::SideRight,
};

}  // namespace

std::unique_ptr<SourceFile> SourceFile::open(const std::string& path, std::string* reason)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        *reason = std::string("cannot open: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat facts {};
    if (::fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        *reason = S_ISDIR(facts.st_mode) ? "a folder, not a file" : "not a regular file";
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<SourceFile>(new SourceFile(descriptor, facts.st_size));
}

SourceFile::~SourceFile()
{
    ::close(descriptor_);
}

std::int64_t SourceFile::read(void* data, std::int64_t size)
{
    auto* bytes = static_cast<unsigned char*>(data);
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(descriptor_, bytes + done, static_cast<std::size_t>(size - done), position_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return done > 0 ? done : -1;
        if (got == 0)
            break;
        done += got;
        position_ += got;
    }
    return done;
}

std::int64_t SourceFile::seek(std::int64_t offset, int whence)
{
    std::int64_t base = 0;
    if (whence == SEEK_CUR)
        base = position_;
    else if (whence == SEEK_END)
        base = size_;
    else if (whence != SEEK_SET)
        return -1;
    if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0)
        return -1;
    position_ = base + offset;
    return position_;
}

std::int64_t SourceFile::readHead(void* data, std::int64_t size)
{
    position_ = 0;
    const std::int64_t got = read(data, size);
    position_ = 0;
    return got;
}

Speaker defaultSpeaker(int channel, int channels)
{
    if (channels == 1)
        return Speaker::FrontCentre;
    if (channel >= 0 && channel < static_cast<int>(kDefaultOrder.size()))
        return kDefaultOrder[static_cast<std::size_t>(channel)];
    return Speaker::Unknown;
}

namespace {

// Hands out the block read at opening first, so a file that gives nothing
// is found out when it is opened, not when it is played.
class PrimedDecoder final : public SoundDecoder {
public:
    explicit PrimedDecoder(std::unique_ptr<SoundDecoder> inner) : inner_(std::move(inner)) {}

    // The first block: its frame count, 0 for nothing, -1 for a break.
    std::int64_t prime()
    {
        const auto channels = static_cast<std::size_t>(inner_->facts().channels);
        primed_.resize(static_cast<std::size_t>(kBlockFrames) * channels);
        const std::int64_t got = inner_->read(primed_.data(), kBlockFrames);
        primed_.resize(got > 0 ? static_cast<std::size_t>(got) * channels : 0);
        return got;
    }

    const SoundFileFacts& facts() const override { return inner_->facts(); }

    std::int64_t read(float* samples, std::int64_t frames) override
    {
        if (frames <= 0)
            return 0;
        if (handedOut_ < primed_.size()) {
            const auto channels = static_cast<std::size_t>(inner_->facts().channels);
            const std::size_t count =
                std::min(static_cast<std::size_t>(frames) * channels, primed_.size() - handedOut_);
            std::copy_n(primed_.begin() + static_cast<std::ptrdiff_t>(handedOut_), count, samples);
            handedOut_ += count;
            if (handedOut_ == primed_.size())
                release();
            return static_cast<std::int64_t>(count / channels);
        }
        return inner_->read(samples, frames);
    }

    bool seek(std::int64_t frame) override
    {
        release();
        return inner_->seek(frame);
    }

private:
    void release()
    {
        std::vector<float>().swap(primed_);
        handedOut_ = 0;
    }

    std::unique_ptr<SoundDecoder> inner_;
    std::vector<float> primed_;
    std::size_t handedOut_ = 0;
};

void addReason(std::string& all, const std::string& name, const std::string& reason)
{
    if (!all.empty())
        all += "; ";
    all += name + ": " + reason;
}

DecoderOpening refused(SoundFileProblem problem, std::string reason)
{
    DecoderOpening opening;
    opening.problem = problem;
    opening.reason = std::move(reason);
    return opening;
}

// A decoder that opened must also give its first block.
DecoderOpening primed(Attempt& attempt, const std::string& name)
{
    const SoundFileFacts& facts = attempt.decoder->facts();
    if (facts.channels < 1 || facts.channels > kMostChannels || facts.rate <= 0 || facts.rate > kHighestRate)
        return refused(SoundFileProblem::Damaged, name + ": channels or rate out of range");
    auto decoder = std::make_unique<PrimedDecoder>(std::move(attempt.decoder));
    const std::int64_t first = decoder->prime();
    if (first < 0)
        return refused(SoundFileProblem::Damaged, name + ": breaks off in its first block");
    if (first == 0)
        return refused(SoundFileProblem::Damaged, name + ": holds no sound");
    DecoderOpening opening;
    opening.decoder = std::move(decoder);
    return opening;
}

DecoderOpening openChosen(const std::string& path, int renderRate)
{
    std::string reason;
    std::unique_ptr<SourceFile> file = SourceFile::open(path, &reason);
    if (!file)
        return refused(SoundFileProblem::NotFound, reason);
    if (file->size() == 0)
        return refused(SoundFileProblem::Damaged, "an empty file");
    std::array<unsigned char, kHeadBytes> head{};
    const std::int64_t headSize = file->readHead(head.data(), kHeadBytes);
    if (headSize < 0)
        return refused(SoundFileProblem::NotFound, "cannot be read");
    const auto headBytes = static_cast<std::size_t>(headSize);
    const std::int64_t fileSize = file->size();

    // MIDI has a signature of its own that nothing else claims.
    if (looksLikeMidi(head.data(), headBytes)) {
        Attempt attempt = openWithFluidsynth(std::move(file), renderRate);
        if (!attempt.decoder)
            return refused(attempt.unreadable ? SoundFileProblem::Unsupported : SoundFileProblem::Damaged,
                           "fluidsynth: " + attempt.reason);
        return primed(attempt, "fluidsynth");
    }

    std::string reasons;
    bool known = false;
    auto tried = [&](Attempt& attempt, const std::string& name) -> bool {
        if (attempt.decoder)
            return true;
        known = known || (attempt.known && !attempt.unreadable);
        addReason(reasons, name, attempt.reason);
        return false;
    };
    auto reopen = [&]() { return SourceFile::open(path, &reason); };

    Attempt bySndfile = openWithSndfile(std::move(file));
    if (tried(bySndfile, "sndfile")) {
        DecoderOpening opening = primed(bySndfile, "sndfile");
        if (opening.decoder)
            return opening;
        // libsndfile's MP3 reader takes some files it then cannot decode; FFmpeg may.
        addReason(reasons, "sndfile", opening.reason);
        known = true;
    }
    if (looksLikeTracker(head.data(), headBytes, fileSize)) {
        if (auto again = reopen()) {
            Attempt byOpenmpt = openWithOpenmpt(std::move(again), renderRate);
            if (tried(byOpenmpt, "openmpt"))
                return primed(byOpenmpt, "openmpt");
        }
    }
    if (auto again = reopen()) {
        Attempt byFfmpeg = openWithFfmpeg(std::move(again));
        if (tried(byFfmpeg, "ffmpeg")) {
            DecoderOpening opening = primed(byFfmpeg, "ffmpeg");
            if (opening.decoder)
                return opening;
            addReason(reasons, "ffmpeg", opening.reason);
            known = true;
        }
    } else {
        return refused(SoundFileProblem::NotFound, reason);
    }
    return refused(known ? SoundFileProblem::Damaged : SoundFileProblem::Unsupported, reasons);
}

}  // namespace

}  // namespace decoders

DecoderOpening openSoundDecoder(const std::string& path, int renderRate)
{
    // Nothing thrown inside a library, or by an allocation, leaves the layer.
    try {
        return decoders::openChosen(path, renderRate);
    } catch (const std::bad_alloc&) {
        return decoders::refused(SoundFileProblem::Damaged, "out of memory while opening");
    } catch (const std::exception& error) {
        return decoders::refused(SoundFileProblem::Damaged, error.what());
    } catch (...) {
        return decoders::refused(SoundFileProblem::Damaged, "failed while opening");
    }
}

}  // namespace qinghe
