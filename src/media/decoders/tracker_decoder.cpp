// Tracker modules (MOD, XM, IT, S3M and their kin), rendered by libopenmpt.

#include "media/decoders/decoder_backends.h"

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>

namespace qinghe::decoders {

namespace {

// libopenmpt's own range of output rates.
constexpr int kLowestModuleRate = 8000;
constexpr int kHighestModuleRate = 192000;
// A module is loaded whole; a file larger than any real module is refused.
constexpr std::int64_t kMostModuleBytes = 64 << 20;

std::size_t streamRead(void* stream, void* data, std::size_t bytes)
{
    const std::int64_t got = static_cast<SourceFile*>(stream)->read(data, static_cast<std::int64_t>(bytes));
    return got < 0 ? 0 : static_cast<std::size_t>(got);
}

int streamSeek(void* stream, std::int64_t offset, int whence)
{
    const int origin = whence == OPENMPT_STREAM_SEEK_CUR ? SEEK_CUR : whence == OPENMPT_STREAM_SEEK_END ? SEEK_END : SEEK_SET;
    return static_cast<SourceFile*>(stream)->seek(offset, origin) < 0 ? -1 : 0;
}

std::int64_t streamTell(void* stream)
{
    return static_cast<SourceFile*>(stream)->tell();
}

class OpenmptDecoder final : public SoundDecoder {
public:
    OpenmptDecoder(openmpt_module* module, int rate) : module_(module)
    {
        facts_.rate = rate;
        facts_.channels = 2;
        facts_.decoder = "openmpt";
        const double seconds = openmpt_module_get_duration_seconds(module_);
        if (std::isfinite(seconds) && seconds > 0)
            facts_.frames = static_cast<std::int64_t>(std::llround(seconds * rate));
    }

    ~OpenmptDecoder() override { openmpt_module_destroy(module_); }

    OpenmptDecoder(const OpenmptDecoder&) = delete;
    OpenmptDecoder& operator=(const OpenmptDecoder&) = delete;

    const SoundFileFacts& facts() const override { return facts_; }

    std::int64_t read(float* samples, std::int64_t frames) override
    {
        if (frames <= 0)
            return 0;
        return static_cast<std::int64_t>(
            openmpt_module_read_interleaved_float_stereo(module_, facts_.rate, static_cast<std::size_t>(frames), samples));
    }

    bool seek(std::int64_t frame) override
    {
        if (frame < 0)
            return false;
        openmpt_module_set_position_seconds(module_, static_cast<double>(frame) / facts_.rate);
        return true;
    }

private:
    openmpt_module* module_;
    SoundFileFacts facts_;
};

}  // namespace

bool looksLikeTracker(const unsigned char* head, std::size_t size, std::int64_t fileSize)
{
    const int answer = openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, head, size,
                                                 static_cast<std::uint64_t>(fileSize), openmpt_log_func_silent,
                                                 nullptr, openmpt_error_func_ignore, nullptr, nullptr, nullptr);
    return answer == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

Attempt openWithOpenmpt(std::unique_ptr<SourceFile> file, int renderRate)
{
    Attempt attempt;
    attempt.known = true;
    if (file->size() > kMostModuleBytes) {
        attempt.unreadable = true;
        attempt.reason = "larger than any module";
        return attempt;
    }
    openmpt_stream_callbacks callbacks{streamRead, streamSeek, streamTell};
    int error = 0;
    openmpt_module* module = openmpt_module_create2(callbacks, file.get(), openmpt_log_func_silent, nullptr,
                                                    openmpt_error_func_ignore, nullptr, &error, nullptr, nullptr);
    if (!module) {
        attempt.reason = "the module does not load";
        return attempt;
    }
    openmpt_module_set_repeat_count(module, 0);  // a sound plays once; looping is the player's
    attempt.decoder =
        std::make_unique<OpenmptDecoder>(module, std::clamp(renderRate, kLowestModuleRate, kHighestModuleRate));
    return attempt;
}

}  // namespace qinghe::decoders
