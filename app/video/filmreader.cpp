#include "video/filmreader.h"

#include "video/ffmpegtext.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace vexa::video {

namespace {

// A video packet as the index pass meets it, in decoding order.
struct IndexEntry {
    std::int64_t pts = 0;
    bool key = false;
};

std::int64_t timestampOf(const AVPacket& packet)
{
    return packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
}

class FfmpegFilmReader final : public FilmReader {
public:
    ~FfmpegFilmReader() override
    {
        sws_freeContext(scale_);
        av_packet_free(&packet_);
        av_frame_free(&frame_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    bool start(const std::string& path, std::string& reason);

    int width() const override { return width_; }
    int height() const override { return height_; }
    int frameCount() const override { return int(pts_.size()); }
    double framesPerSecond() const override { return rate_; }
    double durationSeconds() const override { return duration_; }
    double frameTime(int n) const override
    {
        if (n < 0 || n >= frameCount())
            return 0;
        return double(pts_[std::size_t(n)] - pts_[0]) * av_q2d(timeBase_);
    }
    bool grey() const override { return grey_; }
    const std::string& notice() const override { return notice_; }
    bool decodeFrame(int n, std::vector<std::uint8_t>& rgba, std::string& reason) override;

private:
    bool fail(std::string& reason, const std::string& what, int err = 0) const
    {
        reason = path_ + " : " + what;
        if (err < 0)
            reason += " (" + ffmpegErrorText(err) + ")";
        return false;
    }
    bool seekTo(std::int64_t pts);
    // Decodes forward until frame n comes out. 1 found, 0 passed or ended without it,
    // -1 decoder error.
    int decodeUntil(int n, std::vector<std::uint8_t>& rgba);
    int indexOf(std::int64_t pts) const;
    bool convert(std::vector<std::uint8_t>& rgba);
    std::int64_t keyBefore(std::int64_t pts) const;

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scale_ = nullptr;
    std::vector<std::uint8_t> scaled_; // the scaler's padded output, reused frame to frame
    int stream_ = -1;
    int width_ = 0, height_ = 0;
    double rate_ = 25, duration_ = 0;
    AVRational timeBase_ { 1, 25 };
    bool grey_ = false;
    std::string notice_;
    std::vector<std::int64_t> pts_; // display order
    std::vector<std::int64_t> keys_; // key frames' timestamps, ascending
    int last_ = -1; // frame last handed out by the decoder, -1 after a seek
    bool drained_ = false; // the decoder was flushed at the end of the file
};

bool FfmpegFilmReader::start(const std::string& path, std::string& reason)
{
    path_ = path;
    int err = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (err < 0)
        return fail(reason, "film illisible", err);
    if ((err = avformat_find_stream_info(format_, nullptr)) < 0)
        return fail(reason, "film illisible", err);
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder)
        return fail(reason,
            stream_ == AVERROR_DECODER_NOT_FOUND ? "codage vidéo non reconnu ou film incomplet"
                                                 : "aucune piste vidéo");
    AVStream* stream = format_->streams[stream_];
    width_ = stream->codecpar->width;
    height_ = stream->codecpar->height;
    if (width_ <= 0 || height_ <= 0 || width_ > kMaxFilmSide || height_ > kMaxFilmSide)
        return fail(reason,
            "taille d'image refusée (" + std::to_string(width_) + " x " + std::to_string(height_)
                + ")");
    codec_ = avcodec_alloc_context3(decoder);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!codec_ || !frame_ || !packet_)
        return fail(reason, "mémoire insuffisante");
    if ((err = avcodec_parameters_to_context(codec_, stream->codecpar)) < 0
        || (err = avcodec_open2(codec_, decoder, nullptr)) < 0)
        return fail(reason, "décodeur vidéo indisponible", err);
    timeBase_ = stream->time_base;
    const AVRational rate
        = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        rate_ = av_q2d(rate);

    // One pass over the packets gives the exact frame count and the key frames, which
    // container headers do not always tell (or tell wrongly once a file is cut).
    bool cut = false;
    std::vector<IndexEntry> index;
    while ((err = av_read_frame(format_, packet_)) >= 0) {
        if (packet_->stream_index == stream_ && packet_->size > 0) {
            if (packet_->flags & AV_PKT_FLAG_CORRUPT) {
                cut = true;
                av_packet_unref(packet_);
                break;
            }
            const std::int64_t ts = timestampOf(*packet_);
            if (ts == AV_NOPTS_VALUE)
                index.push_back({ index.empty() ? 0 : index.back().pts + 1, index.empty() });
            else
                index.push_back({ ts, (packet_->flags & AV_PKT_FLAG_KEY) != 0 });
        }
        av_packet_unref(packet_);
    }
    if (err < 0 && err != AVERROR_EOF)
        cut = true;
    if (index.empty())
        return fail(reason, "aucune image lisible");
    for (const IndexEntry& entry : index) {
        pts_.push_back(entry.pts);
        if (entry.key)
            keys_.push_back(entry.pts);
    }
    std::sort(pts_.begin(), pts_.end());
    pts_.erase(std::unique(pts_.begin(), pts_.end()), pts_.end());
    std::sort(keys_.begin(), keys_.end());
    if (keys_.empty() || keys_.front() > pts_.front())
        keys_.insert(keys_.begin(), pts_.front());

    const std::int64_t announced = stream->nb_frames;
    if (announced > std::int64_t(pts_.size()) || cut)
        notice_ = path_ + " : film tronqué, " + std::to_string(pts_.size()) + " images lisibles"
            + (announced > std::int64_t(pts_.size())
                    ? " sur " + std::to_string(announced) + " annoncées"
                    : "");

    duration_ = double(pts_.size()) / rate_;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(codec_->pix_fmt);
    grey_ = desc && desc->nb_components <= 2
        && !(desc->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_RGB));
    seekTo(pts_.front());
    return true;
}

bool FfmpegFilmReader::seekTo(std::int64_t pts)
{
    avcodec_flush_buffers(codec_);
    last_ = -1;
    drained_ = false;
    return av_seek_frame(format_, stream_, pts, AVSEEK_FLAG_BACKWARD) >= 0;
}

int FfmpegFilmReader::indexOf(std::int64_t pts) const
{
    return int(std::lower_bound(pts_.begin(), pts_.end(), pts) - pts_.begin());
}

std::int64_t FfmpegFilmReader::keyBefore(std::int64_t pts) const
{
    auto it = std::upper_bound(keys_.begin(), keys_.end(), pts);
    return it == keys_.begin() ? keys_.front() : *(it - 1);
}

bool FfmpegFilmReader::convert(std::vector<std::uint8_t>& rgba)
{
    if (frame_->width != width_ || frame_->height != height_)
        return false; // a stream changing size midway is not a film we show
    scale_ = sws_getCachedContext(scale_, width_, height_, AVPixelFormat(frame_->format), width_,
        height_, AV_PIX_FMT_RGBA, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scale_)
        return false;
    // The scaler stores whole vector blocks, past the end of a short row and of the last
    // one (found writing beyond a 6 x 4 picture): it scales into aligned rows with room
    // to spare, copied out after.
    const std::size_t row = std::size_t(width_) * 4;
    const std::size_t stride = (row + 63) & ~std::size_t(63);
    scaled_.resize(stride * (std::size_t(height_) + 1) + 64);
    const auto start = reinterpret_cast<std::uintptr_t>(scaled_.data());
    std::uint8_t* aligned = scaled_.data() + ((64 - start % 64) % 64);
    std::uint8_t* planes[1] = { aligned };
    const int strides[1] = { int(stride) };
    if (sws_scale(scale_, frame_->data, frame_->linesize, 0, height_, planes, strides) != height_)
        return false;
    rgba.resize(row * std::size_t(height_));
    for (int y = 0; y < height_; ++y)
        std::memcpy(rgba.data() + std::size_t(y) * row, aligned + std::size_t(y) * stride, row);
    return true;
}

int FfmpegFilmReader::decodeUntil(int n, std::vector<std::uint8_t>& rgba)
{
    auto takeFrames = [&]() -> int {
        int err;
        while ((err = avcodec_receive_frame(codec_, frame_)) >= 0) {
            std::int64_t ts = frame_->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE)
                ts = frame_->pts;
            const int at = ts == AV_NOPTS_VALUE ? last_ + 1 : indexOf(ts);
            last_ = at;
            if (at == n) {
                const bool ok = convert(rgba);
                av_frame_unref(frame_);
                return ok ? 1 : -1;
            }
            av_frame_unref(frame_);
            if (at > n)
                return 0;
        }
        return err == AVERROR(EAGAIN) || err == AVERROR_EOF ? 2 : -1;
    };
    if (drained_)
        return 0;
    int got = takeFrames(); // frames the decoder still holds from the last call
    if (got != 2)
        return got;
    for (;;) {
        const int err = av_read_frame(format_, packet_);
        if (err < 0) {
            // End of the file (or of what is left of it): flush what the decoder holds.
            avcodec_send_packet(codec_, nullptr);
            drained_ = true;
            got = takeFrames();
            return got == 2 ? 0 : got;
        }
        if (packet_->stream_index != stream_ || (packet_->flags & AV_PKT_FLAG_CORRUPT)) {
            av_packet_unref(packet_);
            continue;
        }
        const int sent = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        // A damaged packet is skipped: the frames after it may still decode.
        if (sent < 0 && sent != AVERROR(EAGAIN))
            continue;
        got = takeFrames();
        if (got != 2)
            return got;
    }
}

bool FfmpegFilmReader::decodeFrame(int n, std::vector<std::uint8_t>& rgba, std::string& reason)
{
    if (n < 0 || n >= frameCount())
        return fail(reason,
            "image " + std::to_string(n) + " hors du film (" + std::to_string(frameCount())
                + " images)");
    const std::int64_t key = keyBefore(pts_[std::size_t(n)]);
    // Forward from where the decoder stands while no key frame lies in between.
    const bool forward = !drained_ && last_ >= 0 && n > last_
        && (n == last_ + 1 || key <= pts_[std::size_t(last_)]);
    if (!forward)
        seekTo(key);
    int got = decodeUntil(n, rgba);
    if (got == 0) {
        // Seeking lands on the previous key frame in most containers; where it did not,
        // decoding from the start always reaches the frame.
        seekTo(pts_.front());
        got = decodeUntil(n, rgba);
    }
    if (got != 1) {
        seekTo(pts_.front());
        return fail(reason, "image " + std::to_string(n) + " illisible");
    }
    return true;
}

} // namespace

std::unique_ptr<FilmReader> FilmReader::open(const std::string& path, std::string& reason)
{
    quietFfmpeg();
    auto reader = std::make_unique<FfmpegFilmReader>();
    if (!reader->start(path, reason))
        return nullptr;
    return reader;
}

} // namespace vexa::video
