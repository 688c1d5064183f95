#include "Toolkit.h"
#include "VideoObject.h"

#include <QFile>
#include <QFileInfo>

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace orv::dicom {

namespace {

// Level 4.1 limits: macroblocks per frame and per second.
constexpr qint64 kMaxFrameMacroblocks = 8192;
constexpr qint64 kMaxMacroblockRate = 245760;
constexpr int kMaxWidth = 1920;
constexpr int kMaxHeight = 1080;
// One fragment holds at most 2^32 - 2 bytes (even length).
constexpr qint64 kMaxStream = 0xFFFFFFFEll - 2;

QString avText(int err)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

struct Guards
{
    AVFormatContext *format = nullptr;
    AVCodecContext *decoder = nullptr;
    AVCodecContext *encoder = nullptr;
    SwsContext *sws = nullptr;
    AVPacket *packet = nullptr;
    AVFrame *decoded = nullptr;
    AVFrame *scaled = nullptr;
    ~Guards()
    {
        av_frame_free(&scaled);
        av_frame_free(&decoded);
        av_packet_free(&packet);
        sws_freeContext(sws);
        avcodec_free_context(&encoder);
        avcodec_free_context(&decoder);
        if (format)
            avformat_close_input(&format);
    }
};

int evenDown(double v) { return qMax(2, int(v) & ~1); }

} // namespace

H264Clip transcodeToH264(const QString &path, const std::function<bool()> &stopped,
                         const std::function<void(double done)> &progress)
{
    av_log_set_level(AV_LOG_FATAL);
    const auto refuse = [&](const QString &why) { fail(QStringLiteral("The clip %1 cannot be converted: %2").arg(path, why)); };
    if (!QFileInfo(path).isFile())
        refuse(QStringLiteral("the file does not exist."));

    Guards g;
    const QByteArray name = QFile::encodeName(path);
    if (int err = avformat_open_input(&g.format, name.constData(), nullptr, nullptr); err < 0)
        refuse(avText(err));
    if (int err = avformat_find_stream_info(g.format, nullptr); err < 0)
        refuse(avText(err));
    const AVCodec *decoderCodec = nullptr;
    const int stream = av_find_best_stream(g.format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoderCodec, 0);
    if (stream < 0 || !decoderCodec)
        refuse(QStringLiteral("it holds no video that can be decoded."));
    AVStream *in = g.format->streams[stream];
    g.decoder = avcodec_alloc_context3(decoderCodec);
    avcodec_parameters_to_context(g.decoder, in->codecpar);
    g.decoder->thread_count = 0; // as many threads as the machine has, as the ffmpeg command line does
    if (int err = avcodec_open2(g.decoder, decoderCodec, nullptr); err < 0)
        refuse(avText(err));
    if (g.decoder->width <= 0 || g.decoder->height <= 0)
        refuse(QStringLiteral("its picture size is unknown."));

    H264Clip clip;
    clip.recorded = QFileInfo(path).lastModified();
    // Fit into 1920x1080 keeping the aspect; 4:2:0 needs even sides.
    const double scale = qMin(1.0, qMin(double(kMaxWidth) / g.decoder->width, double(kMaxHeight) / g.decoder->height));
    clip.width = evenDown(g.decoder->width * scale);
    clip.height = evenDown(g.decoder->height * scale);
    const qint64 macroblocks = qint64((clip.width + 15) / 16) * ((clip.height + 15) / 16);
    if (macroblocks > kMaxFrameMacroblocks)
        refuse(QStringLiteral("its picture is too large."));

    AVRational rate = av_guess_frame_rate(g.format, in, nullptr);
    if (rate.num <= 0 || rate.den <= 0 || rate.num > 1000 * qint64(rate.den))
        rate = AVRational{25, 1};
    int keepEvery = 1; // every n-th decoded frame is kept
    while (macroblocks * rate.num > kMaxMacroblockRate * rate.den) {
        rate.den *= 2;
        keepEvery *= 2;
    }
    clip.rateNum = rate.num;
    clip.rateDen = rate.den;

    const AVCodec *encoderCodec = avcodec_find_encoder_by_name("libx264");
    if (!encoderCodec)
        fail(QStringLiteral("The H.264 encoder (libx264) is not available to FFmpeg on this workstation."));
    g.encoder = avcodec_alloc_context3(encoderCodec);
    AVCodecContext *enc = g.encoder;
    enc->width = clip.width;
    enc->height = clip.height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = AVRational{rate.den, rate.num};
    enc->framerate = rate;
    enc->sample_aspect_ratio = AVRational{1, 1};
    enc->color_range = AVCOL_RANGE_MPEG;
    enc->colorspace = AVCOL_SPC_SMPTE170M;
    enc->gop_size = qMax(1, int(rate.num / rate.den)); // a key frame (with parameter sets) every second
    enc->level = 41;
    enc->thread_count = 0;
    // Level 4.1 High profile allows 62.5 Mbit/s; the cap keeps well inside it.
    enc->rc_max_rate = 40'000'000;
    enc->rc_buffer_size = 40'000'000;
    av_opt_set(enc->priv_data, "profile", "high", 0);
    av_opt_set(enc->priv_data, "preset", "veryfast", 0);
    av_opt_set(enc->priv_data, "crf", "18", 0);
    if (int err = avcodec_open2(enc, encoderCodec, nullptr); err < 0)
        fail(QStringLiteral("The H.264 encoder cannot be started for %1 x %2: %3").arg(clip.width).arg(clip.height).arg(avText(err)));

    g.packet = av_packet_alloc();
    g.decoded = av_frame_alloc();
    g.scaled = av_frame_alloc();
    g.scaled->format = AV_PIX_FMT_YUV420P;
    g.scaled->width = clip.width;
    g.scaled->height = clip.height;
    if (!g.packet || !g.decoded || !g.scaled || av_frame_get_buffer(g.scaled, 0) < 0)
        fail(QStringLiteral("Not enough memory to convert the clip %1.").arg(path));

    const double seconds = g.format->duration > 0 ? double(g.format->duration) / AV_TIME_BASE : 0.0;
    int percentShown = 0;
    qint64 decodedFrames = 0;
    qint64 nextPts = 0;
    const auto drain = [&] {
        int r;
        while ((r = avcodec_receive_packet(enc, g.packet)) == 0) {
            clip.stream.append(reinterpret_cast<const char *>(g.packet->data), g.packet->size);
            ++clip.frames;
            av_packet_unref(g.packet);
            if (clip.stream.size() > kMaxStream)
                refuse(QStringLiteral("the H.264 stream would exceed the 4 GB one DICOM object holds."));
        }
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF)
            refuse(avText(r));
    };
    const auto encode = [&](AVFrame *frame) {
        if (int err = avcodec_send_frame(enc, frame); err < 0)
            refuse(avText(err));
        drain();
    };
    const auto receiveDecoded = [&] {
        while (avcodec_receive_frame(g.decoder, g.decoded) == 0) {
            if (progress && seconds > 0 && g.decoded->best_effort_timestamp != AV_NOPTS_VALUE) {
                const double done = qBound(0.0, double(g.decoded->best_effort_timestamp) * av_q2d(in->time_base) / seconds, 1.0);
                if (int(done * 100) > percentShown) {
                    percentShown = int(done * 100);
                    progress(done);
                }
            }
            if (decodedFrames++ % keepEvery != 0)
                continue;
            g.sws = sws_getCachedContext(g.sws, g.decoded->width, g.decoded->height, AVPixelFormat(g.decoded->format),
                                           clip.width, clip.height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
            if (!g.sws)
                refuse(QStringLiteral("its pixel format cannot be converted."));
            if (av_frame_make_writable(g.scaled) < 0)
                fail(QStringLiteral("Not enough memory to convert the clip %1.").arg(path));
            sws_scale(g.sws, g.decoded->data, g.decoded->linesize, 0, g.decoded->height, g.scaled->data, g.scaled->linesize);
            g.scaled->pts = nextPts++;
            encode(g.scaled);
        }
    };

    while (av_read_frame(g.format, g.packet) >= 0) {
        if (stopped && stopped()) {
            av_packet_unref(g.packet);
            fail(QStringLiteral("The conversion of %1 was stopped.").arg(path));
        }
        if (g.packet->stream_index != stream) {
            av_packet_unref(g.packet);
            continue;
        }
        // A damaged packet is passed over: the frames around it still make the clip.
        const int sent = avcodec_send_packet(g.decoder, g.packet);
        av_packet_unref(g.packet);
        if (sent == 0 || sent == AVERROR(EAGAIN))
            receiveDecoded();
    }
    avcodec_send_packet(g.decoder, nullptr);
    receiveDecoded();
    if (nextPts == 0)
        refuse(QStringLiteral("it holds no frame that can be decoded."));
    encode(nullptr);
    if (clip.stream.size() & 1)
        clip.stream.append('\0'); // a trailing zero byte is allowed after the last NAL unit
    return clip;
}

} // namespace orv::dicom
