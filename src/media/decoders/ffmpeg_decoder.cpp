// FFmpeg for what libsndfile does not read: AAC in M4A, WMA, APE, ALAC, the
// sound of a video file. Only the file's own bytes are read: the format is
// found from its content, and a file that names other files or addresses
// (playlists, references) is never let open them.

#include "media/decoders/decoder_backends.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <climits>
#include <mutex>

namespace qinghe::decoders {

namespace {

// Bytes looked at to tell the format: enough for any header but a
// video's, and what keeps opening within a few milliseconds.
constexpr int kProbeBytes = 1 << 18;
// The most FFmpeg spends reading ahead for stream facts a header left out.
constexpr std::int64_t kAnalyseMicroseconds = 500000;
// Read buffer between our file and FFmpeg.
constexpr int kIoBufferBytes = 1 << 15;
// A format told with a score at or below FFmpeg's retry mark is a guess.
constexpr int kLeastProbeScore = AVPROBE_SCORE_RETRY;
// Packets that fail in a row before the file counts as broken off.
constexpr int kMostFailuresInRow = 64;
// Frames decoded before a seek's target and thrown away: two AAC frames.
constexpr std::int64_t kSeekPrerollFrames = 4096;
// Packets read for the first sound before the file counts as holding none.
constexpr int kMostPacketsBeforeSound = 4096;

void quietFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

int readFile(void* opaque, std::uint8_t* buffer, int size)
{
    const std::int64_t got = static_cast<SourceFile*>(opaque)->read(buffer, size);
    if (got < 0)
        return AVERROR(EIO);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence)
{
    auto* file = static_cast<SourceFile*>(opaque);
    if (whence & AVSEEK_SIZE)
        return file->size();
    return file->seek(offset, whence & ~AVSEEK_FORCE);
}

// Playlists and references would open other files or the network: refused.
int refuseOtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**)
{
    return AVERROR(EPERM);
}

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Speaker speakerOf(AVChannel channel)
{
    switch (channel) {
    case AV_CHAN_FRONT_LEFT:
    case AV_CHAN_STEREO_LEFT:
    case AV_CHAN_WIDE_LEFT:
    case AV_CHAN_BOTTOM_FRONT_LEFT:
        return Speaker::FrontLeft;
    case AV_CHAN_FRONT_RIGHT:
    case AV_CHAN_STEREO_RIGHT:
    case AV_CHAN_WIDE_RIGHT:
    case AV_CHAN_BOTTOM_FRONT_RIGHT:
        return Speaker::FrontRight;
    case AV_CHAN_FRONT_CENTER:
    case AV_CHAN_BOTTOM_FRONT_CENTER:
        return Speaker::FrontCentre;
    case AV_CHAN_LOW_FREQUENCY:
    case AV_CHAN_LOW_FREQUENCY_2:
        return Speaker::LowFrequency;
    case AV_CHAN_BACK_LEFT:
        return Speaker::BackLeft;
    case AV_CHAN_BACK_RIGHT:
        return Speaker::BackRight;
    case AV_CHAN_BACK_CENTER:
        return Speaker::BackCentre;
    case AV_CHAN_SIDE_LEFT:
    case AV_CHAN_SURROUND_DIRECT_LEFT:
        return Speaker::SideLeft;
    case AV_CHAN_SIDE_RIGHT:
    case AV_CHAN_SURROUND_DIRECT_RIGHT:
        return Speaker::SideRight;
    case AV_CHAN_FRONT_LEFT_OF_CENTER:
        return Speaker::FrontLeftOfCentre;
    case AV_CHAN_FRONT_RIGHT_OF_CENTER:
        return Speaker::FrontRightOfCentre;
    case AV_CHAN_TOP_FRONT_LEFT:
    case AV_CHAN_TOP_BACK_LEFT:
    case AV_CHAN_TOP_SIDE_LEFT:
        return Speaker::TopLeft;
    case AV_CHAN_TOP_FRONT_RIGHT:
    case AV_CHAN_TOP_BACK_RIGHT:
    case AV_CHAN_TOP_SIDE_RIGHT:
        return Speaker::TopRight;
    case AV_CHAN_TOP_CENTER:
    case AV_CHAN_TOP_FRONT_CENTER:
    case AV_CHAN_TOP_BACK_CENTER:
        return Speaker::TopCentre;
    default:
        return Speaker::Unknown;
    }
}

std::vector<Speaker> speakersOf(const AVChannelLayout& layout)
{
    std::vector<Speaker> speakers;
    if (layout.order != AV_CHANNEL_ORDER_NATIVE && layout.order != AV_CHANNEL_ORDER_CUSTOM)
        return speakers;  // the default order stands
    for (int channel = 0; channel < layout.nb_channels; ++channel)
        speakers.push_back(speakerOf(av_channel_layout_channel_from_index(&layout, static_cast<unsigned>(channel))));
    return speakers;
}

template <typename Sample>
float toFloat(Sample value);
template <>
float toFloat(std::uint8_t value)
{
    return (static_cast<float>(value) - 128.0f) / 128.0f;
}
template <>
float toFloat(std::int16_t value)
{
    return static_cast<float>(value) / 32768.0f;
}
template <>
float toFloat(std::int32_t value)
{
    return static_cast<float>(static_cast<double>(value) / 2147483648.0);
}
template <>
float toFloat(std::int64_t value)
{
    return static_cast<float>(static_cast<double>(value) / 9223372036854775808.0);
}
template <>
float toFloat(float value)
{
    return value;
}
template <>
float toFloat(double value)
{
    return static_cast<float>(value);
}

// Frames [first, first + count) of a frame, interleaved into out.
template <typename Sample>
void convertFrames(const AVFrame& frame, bool planar, int channels, int first, int count, float* out)
{
    if (planar) {
        for (int channel = 0; channel < channels; ++channel) {
            const auto* plane = reinterpret_cast<const Sample*>(frame.extended_data[channel]) + first;
            for (int index = 0; index < count; ++index)
                out[index * channels + channel] = toFloat(plane[index]);
        }
        return;
    }
    const auto* packed = reinterpret_cast<const Sample*>(frame.extended_data[0]) + std::int64_t{first} * channels;
    for (std::int64_t index = 0; index < std::int64_t{count} * channels; ++index)
        out[index] = toFloat(packed[index]);
}

bool convertFrame(const AVFrame& frame, int channels, int first, int count, float* out)
{
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
        convertFrames<std::uint8_t>(frame, planar, channels, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S16:
        convertFrames<std::int16_t>(frame, planar, channels, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S32:
        convertFrames<std::int32_t>(frame, planar, channels, first, count, out);
        return true;
    case AV_SAMPLE_FMT_S64:
        convertFrames<std::int64_t>(frame, planar, channels, first, count, out);
        return true;
    case AV_SAMPLE_FMT_FLT:
        convertFrames<float>(frame, planar, channels, first, count, out);
        return true;
    case AV_SAMPLE_FMT_DBL:
        convertFrames<double>(frame, planar, channels, first, count, out);
        return true;
    default:
        return false;
    }
}

class FfmpegDecoder final : public SoundDecoder {
public:
    explicit FfmpegDecoder(std::unique_ptr<SourceFile> file) : file_(std::move(file)) {}

    ~FfmpegDecoder() override
    {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
        if (io_) {
            av_freep(&io_->buffer);
            avio_context_free(&io_);
        }
    }

    FfmpegDecoder(const FfmpegDecoder&) = delete;
    FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

    // Opens the container and the decoder and decodes the first frame, which
    // tells the rate and channels the sound really has.
    Attempt open()
    {
        quietFfmpeg();
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
        if (!buffer)
            return failed(false, "out of memory");
        io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, file_.get(), readFile, nullptr, seekFile);
        if (!io_) {
            av_free(buffer);
            return failed(false, "out of memory");
        }
        const AVInputFormat* format = nullptr;
        const int score = av_probe_input_buffer2(io_, &format, "", nullptr, 0, kProbeBytes);
        if (score < 0 || !format || score <= kLeastProbeScore)
            return failed(false, "format not recognised");

        format_ = avformat_alloc_context();
        if (!format_)
            return failed(false, "out of memory");
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        format_->probesize = kProbeBytes;
        format_->max_analyze_duration = kAnalyseMicroseconds;
        format_->io_open = refuseOtherFiles;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", "none", 0);
        const int opened = avformat_open_input(&format_, "", format, &options);
        av_dict_free(&options);
        if (opened < 0)  // format_ is freed by FFmpeg
            return failed(true, std::string(format->name) + ": " + errorText(opened));

        const AVCodec* codec = nullptr;
        stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream_ == AVERROR_STREAM_NOT_FOUND && avformat_find_stream_info(format_, nullptr) >= 0)
            stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
        if (stream_ < 0 || !codec)
            return failed(true, std::string(format->name) + ": no sound it can decode", true);
        AVStream* stream = format_->streams[stream_];
        if (stream->codecpar->ch_layout.nb_channels > kMostChannels)
            return failed(true, "more than 64 channels", true);
        for (unsigned index = 0; index < format_->nb_streams; ++index) {
            if (static_cast<int>(index) != stream_)
                format_->streams[index]->discard = AVDISCARD_ALL;  // a video's pictures are never read
        }

        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
        if (!packet_ || !frame_)
            return failed(true, "out of memory");
        codecKind_ = codec;
        if (const int code = openCodec(); code < 0)
            return failed(true, std::string(codec->name) + ": " + errorText(code), true);

        const int first = nextFrame(kMostPacketsBeforeSound);
        if (first <= 0)
            return failed(true, std::string(codec->name) + (first == 0 ? ": holds no sound" : ": damaged"));
        held_ = true;
        facts_.rate = frame_->sample_rate;
        facts_.channels = frame_->ch_layout.nb_channels;
        if (facts_.rate <= 0 || facts_.rate > kHighestRate || facts_.channels < 1 || facts_.channels > kMostChannels)
            return failed(true, "channels or rate out of range", facts_.channels > kMostChannels);
        facts_.speakers = speakersOf(frame_->ch_layout);
        facts_.decoder = "ffmpeg";
        timeBase_ = stream->time_base;
        seekPreroll_ = stream->codecpar->seek_preroll;
        origin_ = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp
                  : stream->start_time != AV_NOPTS_VALUE      ? stream->start_time
                                                               : 0;
        const AVRational frameTime{1, facts_.rate};
        if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
            facts_.frames = av_rescale_q(stream->duration, timeBase_, frameTime);
        else if (format_->duration > 0 && format_->duration != AV_NOPTS_VALUE)
            facts_.frames = av_rescale_q(format_->duration, AV_TIME_BASE_Q, frameTime);
        if (!sameShape())
            return failed(true, "sample format not known", true);
        return {};
    }

    const SoundFileFacts& facts() const override { return facts_; }

    std::int64_t read(float* samples, std::int64_t frames) override
    {
        std::int64_t done = 0;
        while (done < frames && !ended_) {
            if (!held_) {
                const int got = nextFrame(INT_MAX);
                if (got < 0)
                    return done > 0 ? done : -1;
                if (got == 0 || !sameShape()) {
                    // A change of rate or channels mid-file would need
                    // resampling here: the sound ends where it changes.
                    ended_ = true;
                    break;
                }
                held_ = true;
                offset_ = 0;
            }
            const int count = static_cast<int>(std::min<std::int64_t>(frame_->nb_samples - offset_, frames - done));
            convertFrame(*frame_, facts_.channels, offset_, count, samples + done * facts_.channels);
            offset_ += count;
            done += count;
            if (offset_ >= frame_->nb_samples)
                release();
        }
        return done;
    }

    bool seek(std::int64_t frame) override
    {
        if (frame < 0 || (facts_.frames >= 0 && frame > facts_.frames))
            return false;
        const AVRational frameTime{1, facts_.rate};
        // Lapped and reservoir codecs (AAC, MP3, Opus) need frames before the
        // one asked for to decode it as a straight read would.
        // The first frames too: a priming packet may sit before the origin,
        // and where the container has nothing earlier, the origin will do.
        const std::int64_t preroll = std::max<std::int64_t>(kSeekPrerollFrames, seekPreroll_);
        const std::int64_t target = origin_ + av_rescale_q(frame - preroll, frameTime, timeBase_);
        if (av_seek_frame(format_, stream_, target, AVSEEK_FLAG_BACKWARD) < 0 &&
            av_seek_frame(format_, stream_, std::max(target, origin_), AVSEEK_FLAG_BACKWARD) < 0)
            return false;
        // A fresh decoder rather than a flushed one: some keep state across a
        // flush, and a seek must give what a straight read gives.
        if (openCodec() < 0)
            return false;
        release();
        draining_ = false;
        ended_ = false;
        failures_ = 0;
        // Decode forward to the frame asked for: a seek lands on a packet
        // at or before it.
        for (;;) {
            const int got = nextFrame(INT_MAX);
            if (got < 0)
                return false;
            if (got == 0 || !sameShape()) {
                ended_ = true;
                return true;
            }
            const std::int64_t stamp = frame_->best_effort_timestamp;
            const std::int64_t start =
                stamp == AV_NOPTS_VALUE ? frame : av_rescale_q(stamp - origin_, timeBase_, frameTime);
            if (start + frame_->nb_samples <= frame) {
                av_frame_unref(frame_);
                continue;
            }
            held_ = true;
            offset_ = static_cast<int>(std::clamp<std::int64_t>(frame - start, 0, frame_->nb_samples));
            return true;
        }
    }

private:
    int openCodec()
    {
        avcodec_free_context(&codec_);
        codec_ = avcodec_alloc_context3(codecKind_);
        if (!codec_)
            return AVERROR(ENOMEM);
        const AVStream* stream = format_->streams[stream_];
        if (const int code = avcodec_parameters_to_context(codec_, stream->codecpar); code < 0)
            return code;
        codec_->pkt_timebase = stream->time_base;
        codec_->thread_count = 1;  // one voice, one thread: no pool per sound
        codec_->request_sample_fmt = AV_SAMPLE_FMT_FLT;
        return avcodec_open2(codec_, codecKind_, nullptr);
    }

    static Attempt failed(bool known, std::string reason, bool unreadable = false)
    {
        Attempt attempt;
        attempt.known = known;
        attempt.unreadable = unreadable;
        attempt.reason = std::move(reason);
        return attempt;
    }

    bool sameShape() const
    {
        const auto format = av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame_->format));
        const bool convertible = format == AV_SAMPLE_FMT_U8 || format == AV_SAMPLE_FMT_S16 ||
                                 format == AV_SAMPLE_FMT_S32 || format == AV_SAMPLE_FMT_S64 ||
                                 format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_DBL;
        return convertible && frame_->sample_rate == facts_.rate && frame_->ch_layout.nb_channels == facts_.channels;
    }

    void release()
    {
        av_frame_unref(frame_);
        held_ = false;
        offset_ = 0;
    }

    // The next decoded frame into frame_: 1, or 0 at the end, or -1 when
    // packets keep failing. At most packetBudget packets are read.
    int nextFrame(int packetBudget)
    {
        for (;;) {
            const int received = avcodec_receive_frame(codec_, frame_);
            if (received == 0) {
                if (frame_->nb_samples <= 0 || !frame_->extended_data) {
                    av_frame_unref(frame_);
                    continue;
                }
                failures_ = 0;
                return 1;
            }
            if (received == AVERROR_EOF)
                return 0;
            if (received != AVERROR(EAGAIN)) {
                if (++failures_ > kMostFailuresInRow)
                    return -1;
                continue;
            }
            if (draining_)
                return 0;
            if (packetBudget-- <= 0)
                return 0;
            const int read = av_read_frame(format_, packet_);
            if (read < 0) {
                // The end, or a file cut short: what was decoded still plays.
                draining_ = true;
                avcodec_send_packet(codec_, nullptr);
                continue;
            }
            if (packet_->stream_index != stream_) {
                av_packet_unref(packet_);
                continue;
            }
            const int sent = avcodec_send_packet(codec_, packet_);
            av_packet_unref(packet_);
            if (sent < 0 && sent != AVERROR(EAGAIN) && ++failures_ > kMostFailuresInRow)
                return -1;
        }
    }

    std::unique_ptr<SourceFile> file_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
    const AVCodec* codecKind_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    int stream_ = -1;
    AVRational timeBase_{1, 1};
    std::int64_t origin_ = 0;
    std::int64_t seekPreroll_ = 0;  // the codec's own, in frames
    SoundFileFacts facts_;
    bool held_ = false;  // frame_ holds frames not yet handed out
    int offset_ = 0;     // of them, how many are handed out
    bool draining_ = false;
    bool ended_ = false;
    int failures_ = 0;
};

}  // namespace

Attempt openWithFfmpeg(std::unique_ptr<SourceFile> file)
{
    auto decoder = std::make_unique<FfmpegDecoder>(std::move(file));
    Attempt attempt = decoder->open();
    if (attempt.reason.empty())
        attempt.decoder = std::move(decoder);
    return attempt;
}

}  // namespace qinghe::decoders
