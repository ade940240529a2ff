#include "video/filmwriter.h"

#include "video/ffmpegtext.h"

#include "atomicsave.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace vexa::video {

namespace {

// Sides above this are refused before anything is allocated: the codecs' own limits
// are lower, and a wrong size must not reserve gigabytes.
constexpr int kMaxSide = 16384;

bool endsWithMp4(const std::string& path)
{
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".mp4";
}

class FfmpegFilmWriter final : public FilmWriter {
public:
    ~FfmpegFilmWriter() override { release(); }

    bool start(const FilmSettings& settings, std::string& reason);
    bool addFrameRgba(const std::uint8_t* rgba, int strideBytes, std::string& reason) override;
    bool close(std::string& reason) override;
    int framesWritten() const override { return frames_; }

private:
    bool openCodec(const AVCodec* codec, AVRational rate, bool mjpeg);
    bool drain(AVFrame* frame, std::string& reason);
    bool fail(std::string& reason, const std::string& what, int err = 0);
    void release();

    std::string path_;
    int width_ = 0, height_ = 0; // the caller's frames
    atomicsave::AtomicFile file_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVStream* stream_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* scale_ = nullptr;
    std::vector<std::uint8_t> padded_;
    int frames_ = 0;
    bool closed_ = false;
};

bool FfmpegFilmWriter::fail(std::string& reason, const std::string& what, int err)
{
    reason = path_ + " : " + what;
    if (err < 0)
        reason += " (" + ffmpegErrorText(err) + ")";
    return false;
}

bool FfmpegFilmWriter::openCodec(const AVCodec* codec, AVRational rate, bool mjpeg)
{
    if (codec_)
        avcodec_free_context(&codec_);
    codec_ = avcodec_alloc_context3(codec);
    if (!codec_)
        return false;
    // Codecs of 4:2:0 chroma need even sides; odd frames get their last column and row
    // repeated.
    codec_->width = (width_ + 1) & ~1;
    codec_->height = (height_ + 1) & ~1;
    codec_->time_base = av_inv_q(rate);
    codec_->framerate = rate;
    codec_->gop_size = 12;
    codec_->max_b_frames = 0;
    codec_->pix_fmt = mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    codec_->thread_count = 1;
    if (mjpeg) {
        // High, fixed quality: films of measurements are looked at frame by frame.
        codec_->flags |= AV_CODEC_FLAG_QSCALE;
        codec_->global_quality = FF_QP2LAMBDA * 2;
        codec_->color_range = AVCOL_RANGE_JPEG;
    } else {
        codec_->bit_rate = std::int64_t(codec_->width) * codec_->height * 4;
        if (codec->id == AV_CODEC_ID_H264)
            av_opt_set(codec_->priv_data, "preset", "fast", 0);
    }
    if (format_->oformat->flags & AVFMT_GLOBALHEADER)
        codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return avcodec_open2(codec_, codec, nullptr) >= 0;
}

bool FfmpegFilmWriter::start(const FilmSettings& settings, std::string& reason)
{
    path_ = settings.path;
    width_ = settings.width;
    height_ = settings.height;
    if (width_ <= 0 || height_ <= 0 || width_ > kMaxSide || height_ > kMaxSide)
        return fail(reason,
            "taille d'image refusée (" + std::to_string(width_) + " x " + std::to_string(height_)
                + ")");
    if (!(settings.framesPerSecond > 0) || settings.framesPerSecond > 1000)
        return fail(reason, "fréquence d'images refusée");
    const bool mp4 = endsWithMp4(path_);

    if (!file_.open(path_))
        return fail(reason,
            std::string("impossible de créer le fichier (") + std::strerror(file_.error()) + ")");
    // FFmpeg writes the temporary by name; the descriptor is only kept for the commit.
    int err = avformat_alloc_output_context2(&format_, nullptr, mp4 ? "mp4" : "avi", nullptr);
    if (err < 0 || !format_)
        return fail(reason, "format de film indisponible", err);

    const AVRational rate = av_d2q(settings.framesPerSecond, 100000);
    const AVCodec* codec = nullptr;
    bool opened = false;
    if (mp4) {
        // H.264 when this FFmpeg has an encoder for it, else MPEG-4 Part 2.
        codec = avcodec_find_encoder_by_name("libx264");
        opened = codec && openCodec(codec, rate, false);
        if (!opened) {
            codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
            opened = codec && openCodec(codec, rate, false);
        }
    } else {
        codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        opened = codec && openCodec(codec, rate, true);
    }
    if (!opened)
        return fail(reason, "aucun codeur vidéo disponible");

    stream_ = avformat_new_stream(format_, nullptr);
    if (!stream_)
        return fail(reason, "mémoire insuffisante");
    stream_->time_base = codec_->time_base;
    stream_->avg_frame_rate = rate;
    if ((err = avcodec_parameters_from_context(stream_->codecpar, codec_)) < 0)
        return fail(reason, "paramètres du codeur refusés", err);

    if ((err = avio_open(&format_->pb, file_.tempPath().c_str(), AVIO_FLAG_WRITE)) < 0)
        return fail(reason, "impossible d'écrire le fichier", err);
    if ((err = avformat_write_header(format_, nullptr)) < 0)
        return fail(reason, "impossible d'écrire l'en-tête du film", err);

    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_)
        return fail(reason, "mémoire insuffisante");
    frame_->format = codec_->pix_fmt;
    frame_->width = codec_->width;
    frame_->height = codec_->height;
    if ((err = av_frame_get_buffer(frame_, 0)) < 0)
        return fail(reason, "mémoire insuffisante", err);
    scale_ = sws_getContext(codec_->width, codec_->height, AV_PIX_FMT_RGBA, codec_->width,
        codec_->height, codec_->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!scale_)
        return fail(reason, "conversion des couleurs indisponible");
    if (codec_->width != width_ || codec_->height != height_)
        padded_.resize(std::size_t(codec_->width) * std::size_t(codec_->height) * 4);
    return true;
}

bool FfmpegFilmWriter::drain(AVFrame* frame, std::string& reason)
{
    int err = avcodec_send_frame(codec_, frame);
    if (err < 0)
        return fail(reason, "échec du codage de l'image", err);
    while ((err = avcodec_receive_packet(codec_, packet_)) >= 0) {
        av_packet_rescale_ts(packet_, codec_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        err = av_interleaved_write_frame(format_, packet_);
        if (err < 0)
            return fail(reason, "échec de l'écriture du film", err);
    }
    if (err != AVERROR(EAGAIN) && err != AVERROR_EOF)
        return fail(reason, "échec du codage de l'image", err);
    return true;
}

bool FfmpegFilmWriter::addFrameRgba(const std::uint8_t* rgba, int strideBytes, std::string& reason)
{
    if (closed_ || !codec_)
        return fail(reason, "film déjà fermé");
    if (!rgba || strideBytes < width_ * 4)
        return fail(reason, "image refusée");
    const std::uint8_t* source = rgba;
    int sourceStride = strideBytes;
    if (!padded_.empty()) {
        const int paddedStride = codec_->width * 4;
        for (int y = 0; y < codec_->height; ++y) {
            const std::uint8_t* from = rgba + std::size_t(std::min(y, height_ - 1)) * strideBytes;
            std::uint8_t* to = padded_.data() + std::size_t(y) * paddedStride;
            std::memcpy(to, from, std::size_t(width_) * 4);
            if (codec_->width > width_)
                std::memcpy(to + width_ * 4, from + (width_ - 1) * 4, 4);
        }
        source = padded_.data();
        sourceStride = paddedStride;
    }
    int err = av_frame_make_writable(frame_);
    if (err < 0)
        return fail(reason, "mémoire insuffisante", err);
    const std::uint8_t* planes[1] = { source };
    const int strides[1] = { sourceStride };
    sws_scale(scale_, planes, strides, 0, codec_->height, frame_->data, frame_->linesize);
    frame_->pts = frames_;
    if (!drain(frame_, reason))
        return false;
    ++frames_;
    return true;
}

bool FfmpegFilmWriter::close(std::string& reason)
{
    if (closed_)
        return fail(reason, "film déjà fermé");
    closed_ = true;
    bool ok = drain(nullptr, reason);
    if (ok) {
        const int err = av_write_trailer(format_);
        if (err < 0)
            ok = fail(reason, "échec de l'écriture de la fin du film", err);
    }
    if (format_ && format_->pb) {
        // Write errors that avio kept to itself show here.
        if (ok && format_->pb->error < 0)
            ok = fail(reason, "échec de l'écriture du film", format_->pb->error);
        avio_closep(&format_->pb);
    }
    if (ok && frames_ == 0)
        ok = fail(reason, "film sans image");
    if (ok && !file_.commit())
        ok = fail(reason,
            std::string("impossible de remplacer le fichier (") + std::strerror(file_.error())
                + ")");
    release();
    return ok;
}

void FfmpegFilmWriter::release()
{
    if (format_ && format_->pb)
        avio_closep(&format_->pb);
    // A film never closed (or failed) leaves no file behind; the old one stays.
    file_.discard();
    sws_freeContext(scale_);
    scale_ = nullptr;
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_free_context(format_);
    format_ = nullptr;
    stream_ = nullptr;
}

} // namespace

std::unique_ptr<FilmWriter> FilmWriter::open(const FilmSettings& settings, std::string& reason)
{
    quietFfmpeg();
    auto writer = std::make_unique<FfmpegFilmWriter>();
    if (!writer->start(settings, reason))
        return nullptr;
    return writer;
}

} // namespace vexa::video
