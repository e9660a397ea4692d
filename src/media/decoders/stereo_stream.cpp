#include "media/decoders/stereo_stream.h"

#include "media/decoders/decoder_backends.h"

#include <soxr.h>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

namespace qinghe {

namespace {

using decoders::kBlockFrames;

// -3 dB: what the standard fold-down gives a centre or surround channel.
constexpr float kMinus3Db = 0.70710678f;

struct SideGains {
    float left = 0;
    float right = 0;
};

SideGains gainsOf(Speaker speaker)
{
    switch (speaker) {
    case Speaker::FrontLeft:
    case Speaker::FrontLeftOfCentre:
        return {1, 0};
    case Speaker::FrontRight:
    case Speaker::FrontRightOfCentre:
        return {0, 1};
    case Speaker::LowFrequency:
        return {0, 0};  // the listener's speakers are not the cinema's subwoofer
    case Speaker::BackLeft:
    case Speaker::SideLeft:
    case Speaker::TopLeft:
        return {kMinus3Db, 0};
    case Speaker::BackRight:
    case Speaker::SideRight:
    case Speaker::TopRight:
        return {0, kMinus3Db};
    case Speaker::FrontCentre:
    case Speaker::BackCentre:
    case Speaker::TopCentre:
    case Speaker::Unknown:  // a channel of no known place is heard on both sides
        return {kMinus3Db, kMinus3Db};
    }
    return {kMinus3Db, kMinus3Db};
}

enum class Fold { Mono, Stereo, Matrix };

class ConvertedStream final : public StereoStream {
public:
    ConvertedStream(std::unique_ptr<SoundDecoder> decoder, int outputRate, soxr_t resampler)
        : decoder_(std::move(decoder)), outputRate_(outputRate), resampler_(resampler)
    {
        const SoundFileFacts& facts = decoder_->facts();
        const int channels = facts.channels;
        for (int channel = 0; channel < channels; ++channel) {
            const bool named = facts.speakers.size() == static_cast<std::size_t>(channels);
            gains_.push_back(gainsOf(named ? facts.speakers[static_cast<std::size_t>(channel)]
                                           : decoders::defaultSpeaker(channel, channels)));
        }
        if (channels == 1)
            fold_ = Fold::Mono;
        else if (channels == 2 && gains_[0].left == 1 && gains_[0].right == 0 && gains_[1].left == 0 &&
                 gains_[1].right == 1)
            fold_ = Fold::Stereo;
        shortestPass_ = static_cast<std::int64_t>(facts.rate) * kShortestLoop.count() / 1000;
        decoded_.resize(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(channels));
        if (resampler_)
            stereo_.resize(static_cast<std::size_t>(kBlockFrames) * 2);
    }

    ~ConvertedStream() override
    {
        if (resampler_)
            soxr_delete(resampler_);
    }

    ConvertedStream(const ConvertedStream&) = delete;
    ConvertedStream& operator=(const ConvertedStream&) = delete;

    std::int64_t read(float* stereo, std::int64_t frames) override
    {
        if (frames <= 0)
            return 0;
        return resampler_ ? readResampled(stereo, frames) : readFolded(stereo, frames);
    }

    void setLooping(bool looping) override { looping_ = looping; }

    bool seek(std::int64_t frame) override
    {
        if (frame < 0)
            return false;
        const auto source = static_cast<std::int64_t>(static_cast<__int128>(frame) * decoder_->facts().rate / outputRate_);
        if (!decoder_->seek(source))
            return false;
        pass_ = 0;
        passFromStart_ = source == 0;
        pending_ = 0;
        pendingOffset_ = 0;
        inputEnded_ = false;
        if (resampler_)
            soxr_clear(resampler_);
        return true;
    }

    std::int64_t frames() const override
    {
        const SoundFileFacts& facts = decoder_->facts();
        if (facts.frames < 0)
            return -1;
        const __int128 scaled = static_cast<__int128>(facts.frames) * outputRate_ + facts.rate / 2;
        return static_cast<std::int64_t>(scaled / facts.rate);
    }

    int rate() const override { return outputRate_; }
    const SoundFileFacts& facts() const override { return decoder_->facts(); }

private:
    // Decodes up to frames and folds them into stereo at the file's rate;
    // 0 at the end (a file that breaks off ends there).
    std::int64_t readFolded(float* stereo, std::int64_t frames)
    {
        std::int64_t done = 0;
        while (done < frames) {
            const std::int64_t got = decoder_->read(decoded_.data(), std::min(kBlockFrames, frames - done));
            if (got == 0 && looping_ && !(passFromStart_ && pass_ < shortestPass_) && decoder_->seek(0)) {
                pass_ = 0;
                passFromStart_ = true;
                continue;
            }
            if (got <= 0) {
                looping_ = false;
                break;
            }
            fold(decoded_.data(), got, stereo + done * 2);
            done += got;
            pass_ += got;
        }
        return done;
    }

    void fold(const float* in, std::int64_t frames, float* out) const
    {
        const auto channels = static_cast<std::int64_t>(gains_.size());
        switch (fold_) {
        case Fold::Mono:
            for (std::int64_t frame = 0; frame < frames; ++frame)
                out[frame * 2] = out[frame * 2 + 1] = in[frame];
            return;
        case Fold::Stereo:
            std::copy_n(in, frames * 2, out);
            return;
        case Fold::Matrix:
            for (std::int64_t frame = 0; frame < frames; ++frame) {
                float left = 0;
                float right = 0;
                for (std::int64_t channel = 0; channel < channels; ++channel) {
                    const float sample = in[frame * channels + channel];
                    left += gains_[static_cast<std::size_t>(channel)].left * sample;
                    right += gains_[static_cast<std::size_t>(channel)].right * sample;
                }
                out[frame * 2] = left;
                out[frame * 2 + 1] = right;
            }
            return;
        }
    }

    std::int64_t readResampled(float* stereo, std::int64_t frames)
    {
        std::int64_t done = 0;
        while (done < frames) {
            if (pending_ == 0 && !inputEnded_) {
                pending_ = static_cast<std::size_t>(std::max<std::int64_t>(readFolded(stereo_.data(), kBlockFrames), 0));
                pendingOffset_ = 0;
                inputEnded_ = pending_ == 0;
            }
            std::size_t used = 0;
            std::size_t made = 0;
            const auto room = static_cast<std::size_t>(frames - done);
            // With no input left, a null input drains what the filter still holds.
            const float* in = pending_ > 0 ? stereo_.data() + pendingOffset_ * 2 : nullptr;
            if (soxr_process(resampler_, in, pending_, &used, stereo + done * 2, room, &made) != nullptr)
                break;
            pending_ -= used;
            pendingOffset_ += used;
            done += static_cast<std::int64_t>(made);
            if (made == 0 && (!in || used == 0))
                break;  // drained, or the filter takes nothing more: never spin
        }
        return done;
    }

    std::unique_ptr<SoundDecoder> decoder_;
    int outputRate_;
    soxr_t resampler_;  // null where the rates agree: the samples pass untouched
    std::vector<SideGains> gains_;
    Fold fold_ = Fold::Matrix;
    std::vector<float> decoded_;  // one block in the file's channels
    std::vector<float> stereo_;   // one folded block waiting for the resampler
    std::size_t pending_ = 0;
    std::size_t pendingOffset_ = 0;
    bool inputEnded_ = false;
    bool looping_ = false;
    std::int64_t shortestPass_ = 0;  // in the file's frames
    std::int64_t pass_ = 0;          // frames read since the stream last went to a place
    bool passFromStart_ = true;
};

}  // namespace

std::unique_ptr<StereoStream> StereoStream::make(std::unique_ptr<SoundDecoder> decoder, int outputRate)
{
    if (!decoder || outputRate <= 0 || outputRate > decoders::kHighestRate)
        return nullptr;
    const SoundFileFacts& facts = decoder->facts();
    if (facts.channels < 1 || facts.channels > decoders::kMostChannels || facts.rate <= 0 ||
        facts.rate > decoders::kHighestRate)
        return nullptr;
    soxr_t resampler = nullptr;
    if (facts.rate != outputRate) {
        // HQ: 20-bit precision, so aliases stay far more than 90 dB down,
        // and the pass band reaches past 19 kHz at 44.1 kHz.
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);  // no thread pool per voice
        soxr_error_t error = nullptr;
        resampler = soxr_create(facts.rate, outputRate, 2, &error, &io, &quality, &runtime);
        if (error || !resampler)
            return nullptr;
    }
    try {
        return std::make_unique<ConvertedStream>(std::move(decoder), outputRate, resampler);
    } catch (...) {
        if (resampler)
            soxr_delete(resampler);
        return nullptr;
    }
}

StreamOpening openStereoStream(const std::string& path, int outputRate)
{
    StreamOpening opening;
    try {
        DecoderOpening decoded = openSoundDecoder(path, outputRate);
        if (!decoded.decoder) {
            opening.problem = decoded.problem;
            opening.reason = std::move(decoded.reason);
            return opening;
        }
        opening.stream = StereoStream::make(std::move(decoded.decoder), outputRate);
        if (!opening.stream) {
            opening.problem = SoundFileProblem::Damaged;
            opening.reason = "cannot be converted to stereo at " + std::to_string(outputRate) + " Hz";
        }
    } catch (const std::exception& error) {
        opening.stream.reset();
        opening.problem = SoundFileProblem::Damaged;
        opening.reason = error.what();
    } catch (...) {
        opening.stream.reset();
        opening.problem = SoundFileProblem::Damaged;
        opening.reason = "failed while opening";
    }
    return opening;
}

}  // namespace qinghe
