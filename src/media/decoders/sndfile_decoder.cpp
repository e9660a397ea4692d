// libsndfile's formats: WAV, AIFF, FLAC, Ogg Vorbis and Opus, MP3 and the rest
// of its list, read through our own file so the name is never looked at.

#include "media/decoders/decoder_backends.h"

#include <sndfile.h>

#include <vector>

namespace qinghe::decoders {

namespace {

sf_count_t fileLength(void* user)
{
    return static_cast<SourceFile*>(user)->size();
}

sf_count_t fileSeek(sf_count_t offset, int whence, void* user)
{
    return static_cast<SourceFile*>(user)->seek(offset, whence);
}

sf_count_t fileRead(void* data, sf_count_t count, void* user)
{
    const std::int64_t got = static_cast<SourceFile*>(user)->read(data, count);
    return got < 0 ? 0 : got;
}

sf_count_t fileWrite(const void*, sf_count_t, void*)
{
    return 0;  // opened for reading only
}

sf_count_t fileTell(void* user)
{
    return static_cast<SourceFile*>(user)->tell();
}

Speaker speakerOf(int place)
{
    switch (place) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
        return Speaker::FrontLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
        return Speaker::FrontRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
        return Speaker::FrontCentre;
    case SF_CHANNEL_MAP_LFE:
        return Speaker::LowFrequency;
    case SF_CHANNEL_MAP_REAR_LEFT:
        return Speaker::BackLeft;
    case SF_CHANNEL_MAP_REAR_RIGHT:
        return Speaker::BackRight;
    case SF_CHANNEL_MAP_REAR_CENTER:
        return Speaker::BackCentre;
    case SF_CHANNEL_MAP_SIDE_LEFT:
        return Speaker::SideLeft;
    case SF_CHANNEL_MAP_SIDE_RIGHT:
        return Speaker::SideRight;
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
        return Speaker::FrontLeftOfCentre;
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
        return Speaker::FrontRightOfCentre;
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
        return Speaker::TopLeft;
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
        return Speaker::TopRight;
    case SF_CHANNEL_MAP_TOP_CENTER:
    case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
    case SF_CHANNEL_MAP_TOP_REAR_CENTER:
        return Speaker::TopCentre;
    default:
        return Speaker::Unknown;
    }
}

class SndfileDecoder final : public SoundDecoder {
public:
    SndfileDecoder(std::unique_ptr<SourceFile> file, SNDFILE* handle, const SF_INFO& info)
        : file_(std::move(file)), handle_(handle)
    {
        facts_.rate = info.samplerate;
        facts_.channels = info.channels;
        // libsndfile says SF_COUNT_MAX where it cannot tell.
        facts_.frames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
        facts_.decoder = "sndfile";
        std::vector<int> places(static_cast<std::size_t>(info.channels));
        if (sf_command(handle_, SFC_GET_CHANNEL_MAP_INFO, places.data(),
                       static_cast<int>(places.size() * sizeof(int))) == SF_TRUE) {
            for (const int place : places)
                facts_.speakers.push_back(speakerOf(place));
        }
    }

    ~SndfileDecoder() override { sf_close(handle_); }

    const SoundFileFacts& facts() const override { return facts_; }

    std::int64_t read(float* samples, std::int64_t frames) override
    {
        if (frames <= 0)
            return 0;
        const sf_count_t got = sf_readf_float(handle_, samples, frames);
        if (got <= 0)
            return sf_error(handle_) != SF_ERR_NO_ERROR ? -1 : 0;
        return got;
    }

    bool seek(std::int64_t frame) override
    {
        if (frame < 0 || (facts_.frames >= 0 && frame > facts_.frames))
            return false;
        return sf_seek(handle_, frame, SEEK_SET) == frame;
    }

private:
    std::unique_ptr<SourceFile> file_;
    SNDFILE* handle_;
    SoundFileFacts facts_;
};

}  // namespace

Attempt openWithSndfile(std::unique_ptr<SourceFile> file)
{
    Attempt attempt;
    SF_VIRTUAL_IO io{fileLength, fileSeek, fileRead, fileWrite, fileTell};
    SF_INFO info{};
    SNDFILE* handle = sf_open_virtual(&io, SFM_READ, &info, file.get());
    if (!handle) {
        // Without a handle libsndfile keeps its last error process-wide, so
        // another thread's opening may show here; it only shades the reason.
        const int code = sf_error(nullptr);
        attempt.reason = sf_strerror(nullptr);
        attempt.known = code != SF_ERR_UNRECOGNISED_FORMAT && code != SF_ERR_SYSTEM;
        attempt.unreadable = code == SF_ERR_UNSUPPORTED_ENCODING;
        return attempt;
    }
    if (info.channels < 1 || info.channels > kMostChannels || info.samplerate <= 0 || info.samplerate > kHighestRate) {
        sf_close(handle);
        attempt.known = true;
        attempt.unreadable = info.channels > kMostChannels;
        attempt.reason = info.channels > kMostChannels ? "more than 64 channels" : "channels or rate out of range";
        return attempt;
    }
    attempt.decoder = std::make_unique<SndfileDecoder>(std::move(file), handle, info);
    return attempt;
}

}  // namespace qinghe::decoders
