#include "AviEncoder.h"

#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>


extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace orv::encoder {

namespace {

// Frames of a live source waiting for the encoder: up to two seconds, and at most 256 MB of
// them; beyond that a frame is dropped.
constexpr std::size_t kQueueFrames = 50;
constexpr qsizetype kQueueBytes = 256 * 1024 * 1024;
// The rate of a live clip: the PAL rate the station's sources deliver.
constexpr int kLiveRate = 25;

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

struct CodecContextFree { void operator()(AVCodecContext *c) const { avcodec_free_context(&c); } };
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
struct FrameFree { void operator()(AVFrame *f) const { av_frame_free(&f); } };
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
struct PacketFree { void operator()(AVPacket *p) const { av_packet_free(&p); } };
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
struct InputClose { void operator()(AVFormatContext *c) const { avformat_close_input(&c); } };
using InputPtr = std::unique_ptr<AVFormatContext, InputClose>;

qint64 steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The sound of a live clip as the audio list names it: entry 0 takes the device's own rate and
// channels; the others are 8, 11.025 .. 48 kHz, each as 8 bit mono, 8 bit stereo, 16 bit mono
// and 16 bit stereo, in that order.
struct AudioSpec
{
    int rate = 0;     // 0 = the device's own
    int channels = 0; // 0 = the device's own
    int bits = 16;
};

AudioSpec audioSpecFor(int index)
{
    static const int rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    if (index <= 0 || index > int(std::size(rates)) * 4)
        return {};
    const int kind = (index - 1) % 4;
    return {rates[(index - 1) / 4], kind % 2 == 0 ? 1 : 2, kind < 2 ? 8 : 16};
}

// The sound of a live clip as it is written: the rate and channels the device delivers at.
struct LiveAudio
{
    int rate = 0, channels = 0, bits = 16;
};

AVPixelFormat pixelFormatFor(const AVCodec *codec)
{
    const AVPixelFormat preferred = codec->id == AV_CODEC_ID_MJPEG     ? AV_PIX_FMT_YUVJ420P
                                    : codec->id == AV_CODEC_ID_HUFFYUV ? AV_PIX_FMT_YUV422P
                                                                       : AV_PIX_FMT_YUV420P;
    if (!codec->pix_fmts)
        return preferred;
    for (const AVPixelFormat *p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == preferred)
            return preferred;
    return codec->pix_fmts[0];
}

// An encoder for `info` at `size` and `rate`, opened; throws Error with FFmpeg's reason when the
// codec refuses (a frame size it cannot take, for example).
CodecContextPtr openEncoder(const CodecInfo &info, const EncodeSettings &s, QSize size, AVRational rate)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(info.encoder.constData());
    if (!codec)
        throw Error(QStringLiteral("The codec %1 is not available.").arg(info.name));
    CodecContextPtr c(avcodec_alloc_context3(codec));
    c->width = size.width();
    c->height = size.height();
    c->time_base = av_inv_q(rate);
    c->framerate = rate;
    c->pix_fmt = pixelFormatFor(codec);
    c->sample_aspect_ratio = {1, 1};
    c->thread_count = 0;
    const int quality = qBound(0, s.quality, 100);
    if (info.keyFrames && s.forceKeyFrames && s.keyFrameEvery > 0)
        c->gop_size = s.keyFrameEvery;
    const bool rateLimited = info.dataRate && s.limitDataRate && s.bytesPerSecond > 0;
    if (rateLimited) {
        c->bit_rate = qint64(s.bytesPerSecond) * 8;
        c->rc_max_rate = c->bit_rate;
        c->rc_buffer_size = int(qMin<qint64>(c->bit_rate, INT_MAX));
    }
    if (info.encoder == "libx264") {
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
        if (!rateLimited && info.quality)
            av_opt_set_double(c->priv_data, "crf", 51.0 - quality * 0.4, 0);
    } else if (info.quality && !rateLimited) {
        // Quantiser scale 31 (coarsest) at quality 0 down to 2 at 100.
        c->flags |= AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA * (31 - quality * 29 / 100);
    }
    AVDictionary *options = nullptr;
    const int rc = avcodec_open2(c.get(), codec, &options);
    av_dict_free(&options);
    if (rc < 0)
        throw Error(QStringLiteral("The codec %1 refuses %2x%3 frames: %4")
                        .arg(info.name).arg(size.width()).arg(size.height()).arg(avError(rc)));
    return c;
}

// One AVI file being written: the video stream (and the input's audio, copied).
class AviWriter
{
public:
    AviWriter(const QString &path, CodecContextPtr encoder, const AVStream *audioIn, const LiveAudio *live = nullptr)
        : m_enc(std::move(encoder)), m_frame(av_frame_alloc()), m_packet(av_packet_alloc())
    {
        const QByteArray name = QFile::encodeName(path);
        int rc = avformat_alloc_output_context2(&m_out, nullptr, "avi", name.constData());
        if (rc < 0)
            throw Error(QStringLiteral("Cannot write %1: %2").arg(path, avError(rc)));
        m_video = avformat_new_stream(m_out, nullptr);
        avcodec_parameters_from_context(m_video->codecpar, m_enc.get());
        m_video->time_base = m_enc->time_base;
        m_video->avg_frame_rate = m_enc->framerate;
        if (audioIn && avformat_query_codec(m_out->oformat, audioIn->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) {
            m_audio = avformat_new_stream(m_out, nullptr);
            avcodec_parameters_copy(m_audio->codecpar, audioIn->codecpar);
            m_audio->codecpar->codec_tag = 0;
            m_audio->time_base = audioIn->time_base;
            m_audioInBase = audioIn->time_base;
        } else if (live) {
            m_audio = avformat_new_stream(m_out, nullptr);
            AVCodecParameters *par = m_audio->codecpar;
            par->codec_type = AVMEDIA_TYPE_AUDIO;
            par->codec_id = live->bits == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
            par->sample_rate = live->rate;
            av_channel_layout_default(&par->ch_layout, live->channels);
            par->bits_per_coded_sample = live->bits;
            par->block_align = live->channels * live->bits / 8;
            par->bit_rate = qint64(live->rate) * par->block_align * 8;
            m_audio->time_base = {1, live->rate};
            m_audioInBase = {1, live->rate};
        }
        if ((rc = avio_open(&m_out->pb, name.constData(), AVIO_FLAG_WRITE)) < 0) {
            avformat_free_context(m_out);
            m_out = nullptr;
            throw Error(QStringLiteral("Cannot create %1: %2").arg(path, avError(rc)));
        }
        if ((rc = avformat_write_header(m_out, nullptr)) < 0) {
            avio_closep(&m_out->pb);
            avformat_free_context(m_out);
            m_out = nullptr;
            throw Error(QStringLiteral("Cannot write %1: %2").arg(path, avError(rc)));
        }
        m_frame->format = m_enc->pix_fmt;
        m_frame->width = m_enc->width;
        m_frame->height = m_enc->height;
        if (av_frame_get_buffer(m_frame.get(), 0) < 0)
            fail(QStringLiteral("Out of memory."));
    }

    ~AviWriter()
    {
        if (m_out) {
            if (m_headerWritten)
                av_write_trailer(m_out);
            avio_closep(&m_out->pb);
            avformat_free_context(m_out);
        }
        sws_freeContext(m_sws);
    }

    // Converts a picture of any size and format to the clip's and encodes it at `pts`.
    void write(const uint8_t *const data[], const int linesize[], int width, int height, AVPixelFormat format, qint64 pts)
    {
        m_sws = sws_getCachedContext(m_sws, width, height, format, m_enc->width, m_enc->height, m_enc->pix_fmt,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_sws)
            fail(QStringLiteral("Cannot convert %1x%2 frames.").arg(width).arg(height));
        if (av_frame_make_writable(m_frame.get()) < 0)
            fail(QStringLiteral("Out of memory."));
        sws_scale(m_sws, data, linesize, 0, height, m_frame->data, m_frame->linesize);
        m_frame->pts = pts;
        send(m_frame.get());
        ++m_written;
        m_lastPts = pts;
    }

    // Encodes a decoded frame at `pts`, converted only when its size or format differs.
    void write(AVFrame *frame, qint64 pts)
    {
        if (frame->width != m_enc->width || frame->height != m_enc->height || frame->format != m_enc->pix_fmt) {
            write(frame->data, frame->linesize, frame->width, frame->height, AVPixelFormat(frame->format), pts);
            return;
        }
        frame->pts = pts;
        frame->pict_type = AV_PICTURE_TYPE_NONE; // the codec places its own key frames
        frame->key_frame = 0;
        send(frame);
        ++m_written;
        m_lastPts = pts;
    }

    void write(const QImage &image, qint64 pts)
    {
        const uint8_t *data[4] = {image.constBits(), nullptr, nullptr, nullptr};
        const int linesize[4] = {int(image.bytesPerLine()), 0, 0, 0};
        write(data, linesize, image.width(), image.height(), AV_PIX_FMT_BGRA, pts);
    }

    bool hasAudio() const { return m_audio != nullptr; }
    void copyAudio(AVPacket *packet)
    {
        packet->stream_index = m_audio->index;
        av_packet_rescale_ts(packet, m_audioInBase, m_audio->time_base);
        packet->pos = -1;
        const int rc = av_interleaved_write_frame(m_out, packet);
        if (rc < 0)
            fail(QStringLiteral("Cannot write the clip: %1").arg(avError(rc)));
    }

    // Writes `samples` samples of live sound starting at sample `pts`.
    void writeAudio(const QByteArray &data, int samples, qint64 pts)
    {
        PacketPtr packet(av_packet_alloc());
        if (av_new_packet(packet.get(), int(data.size())) < 0)
            fail(QStringLiteral("Out of memory."));
        memcpy(packet->data, data.constData(), size_t(data.size()));
        packet->pts = packet->dts = pts;
        packet->duration = samples;
        copyAudio(packet.get());
    }

    // Encodes what the codec still holds and closes the file; throws when the file cannot be
    // completed.
    void finish()
    {
        send(nullptr);
        const int rc = av_write_trailer(m_out);
        m_headerWritten = false;
        if (rc < 0)
            fail(QStringLiteral("Cannot write the clip: %1").arg(avError(rc)));
        if (m_out->pb && m_out->pb->error < 0)
            fail(QStringLiteral("Cannot write the clip: %1").arg(avError(m_out->pb->error)));
    }

    qint64 written() const { return m_written; }
    qint64 lastPts() const { return m_lastPts; }
    int rate() const { return m_enc->framerate.num / qMax(1, m_enc->framerate.den); }
    AVRational frameRate() const { return m_enc->framerate; }

private:
    [[noreturn]] void fail(const QString &why)
    {
        throw Error(why);
    }

    void send(AVFrame *frame)
    {
        int rc = avcodec_send_frame(m_enc.get(), frame);
        if (rc < 0 && rc != AVERROR_EOF)
            fail(QStringLiteral("The codec failed: %1").arg(avError(rc)));
        for (;;) {
            rc = avcodec_receive_packet(m_enc.get(), m_packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0)
                fail(QStringLiteral("The codec failed: %1").arg(avError(rc)));
            m_packet->stream_index = m_video->index;
            av_packet_rescale_ts(m_packet.get(), m_enc->time_base, m_video->time_base);
            rc = av_interleaved_write_frame(m_out, m_packet.get());
            if (rc < 0)
                fail(QStringLiteral("Cannot write the clip: %1").arg(avError(rc)));
            if (m_out->pb->error < 0)
                fail(QStringLiteral("Cannot write the clip: %1").arg(avError(m_out->pb->error)));
        }
    }

    CodecContextPtr m_enc;
    AVFormatContext *m_out = nullptr;
    AVStream *m_video = nullptr, *m_audio = nullptr;
    AVRational m_audioInBase{1, 1};
    FramePtr m_frame;
    PacketPtr m_packet;
    SwsContext *m_sws = nullptr;
    qint64 m_written = 0, m_lastPts = -1;
    bool m_headerWritten = true;
};

// An input file opened for decoding its video (and passing on its audio).
struct Input
{
    InputPtr format;
    int video = -1, audio = -1;
    CodecContextPtr decoder;
    qint64 frames = 0;
    AVRational rate{kLiveRate, 1};
};

// Opens `path`: -2 when it cannot be opened at all, -1 when FFmpeg finds no decodable video in
// it, else 0 with `in` filled.
int openInput(const QString &path, Input &in, QString *why = nullptr)
{
    AVFormatContext *raw = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int rc = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
    if (rc < 0) {
        if (why)
            *why = avError(rc);
        return rc == AVERROR_INVALIDDATA ? -1 : -2;
    }
    in.format.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) {
        if (why)
            *why = avError(rc);
        return -1;
    }
    const AVCodec *codec = nullptr;
    in.video = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (in.video < 0 || !codec) {
        if (why)
            *why = QStringLiteral("no video that can be decoded");
        return -1;
    }
    const AVStream *vs = raw->streams[in.video];
    if (vs->codecpar->width <= 0 || vs->codecpar->height <= 0) {
        if (why)
            *why = QStringLiteral("no frame size");
        return -1;
    }
    in.decoder.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(in.decoder.get(), vs->codecpar);
    in.decoder->thread_count = 0;
    if ((rc = avcodec_open2(in.decoder.get(), codec, nullptr)) < 0) {
        if (why)
            *why = avError(rc);
        return -1;
    }
    in.audio = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, in.video, nullptr, 0);
    in.frames = qMax<qint64>(0, vs->nb_frames);
    AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = {kLiveRate, 1};
    in.rate = rate;
    return 0;
}

} // namespace

const QList<CodecInfo> &aviCodecs()
{
    static const QList<CodecInfo> codecs = [] {
        const QList<CodecInfo> known = {
            {QStringLiteral("Motion JPEG"), "mjpeg", false, false, true},
            {QStringLiteral("MPEG-4 Part 2"), "mpeg4", true, true, true},
            {QStringLiteral("H.264 / AVC (x264)"), "libx264", true, true, true},
            {QStringLiteral("Huffyuv (lossless)"), "huffyuv", false, false, false},
            {QStringLiteral("FFV1 (lossless)"), "ffv1", false, true, false},
        };
        const AVOutputFormat *avi = av_guess_format("avi", nullptr, nullptr);
        QList<CodecInfo> out;
        for (const CodecInfo &c : known) {
            const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder.constData());
            if (codec && avi && avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) == 1)
                out << c;
        }
        return out;
    }();
    return codecs;
}

struct AVIEncoderX::Job
{
    EncodeSettings settings;
    CodecInfo codec;
    bool live = false;
    QString input, output;
    QSize size;
    AVRational rate{kLiveRate, 1};
    CodecContextPtr encoder; // opened at the start, handed to the writer
    Input in;                // the input file, opened at the start
    QPointer<AVIEncoderX> owner;        // GUI thread only
    QPointer<capture::CaptureControl> source; // GUI thread only
    QString audioDevice;     // live sound from this ALSA device, if set
    AudioSpec audioSpec;

    std::mutex mutex;
    std::condition_variable wake;
    struct Queued
    {
        QImage frame;
        qint64 arrivedUs = 0;
        bool rebase = false; // the first frame of a run: after the start or a resume
        int run = 0;
    };
    std::deque<Queued> queue;
    // Sound read from the device, in the device's 16-bit samples, with when its first sample
    // was captured (the frames' clock) and the run of frames it belongs to.
    struct Sound
    {
        QByteArray data;
        qint64 capturedUs = 0;
        int run = 0;
    };
    std::deque<Sound> sound;
    int runNumber = 0; // goes up at each resume
    bool stop = false;
    bool paused = false;
    bool rebase = true; // the next live frame offered starts a new run of timestamps

    std::atomic<qint64> written{0}, dropped{0}, lastPts{-1};
    std::atomic<int> progress{-1};
    int result = 0;
    QString error;
    qint64 reportedSecond = -1; // what StatisticsChanged last said (the encoding's thread only)
    int reportedProgress = -2;

    // After a frame is written: StatisticsChanged on the GUI thread when the whole seconds of
    // video or the percent of the input have moved on.
    void reportStatistics()
    {
        const qint64 second = (lastPts.load() + 1) * rate.den / rate.num;
        const int percent = live ? -1 : progress.load();
        if (second == reportedSecond && percent == reportedProgress)
            return;
        reportedSecond = second;
        reportedProgress = percent;
        QMetaObject::invokeMethod(qApp, [owner = owner, second, percent] {
            if (owner)
                emit owner->StatisticsChanged(qint32(second), percent);
        }, Qt::QueuedConnection);
    }

    void offer(const QImage &frame, qint64 arrivedUs)
    {
        {
            std::lock_guard lock(mutex);
            if (stop || paused)
                return;
            const std::size_t limit = std::clamp<std::size_t>(std::size_t(kQueueBytes / qMax<qsizetype>(1, frame.sizeInBytes())), 4, kQueueFrames);
            if (queue.size() >= limit) {
                ++dropped;
                return;
            }
            queue.push_back({frame, arrivedUs, rebase, runNumber});
            rebase = false;
        }
        wake.notify_one();
    }

    void offerSound(QByteArray data, qint64 capturedUs)
    {
        {
            std::lock_guard lock(mutex);
            if (stop || paused)
                return;
            sound.push_back({std::move(data), capturedUs, runNumber});
        }
        wake.notify_one();
    }

    bool stopped()
    {
        std::lock_guard lock(mutex);
        return stop;
    }

    void run(const std::function<bool()> &cancelled);
    void runLive(AviWriter &writer, const std::function<bool()> &cancelled, AVFormatContext *audioIn,
                 const LiveAudio &audio);
    InputPtr openAudio(LiveAudio &audio);
    void runFile(AviWriter &writer, Input &in, const std::function<bool()> &cancelled);
};

void AVIEncoderX::Job::run(const std::function<bool()> &cancelled)
{
    try {
        LiveAudio audio;
        InputPtr audioIn = live && !audioDevice.isEmpty() ? openAudio(audio) : InputPtr();
        AviWriter writer(output, std::move(encoder), !live && in.audio >= 0 ? in.format->streams[in.audio] : nullptr,
                         audioIn ? &audio : nullptr);
        try {
            if (live)
                runLive(writer, cancelled, audioIn.get(), audio);
            else
                runFile(writer, in, cancelled);
            writer.finish();
        } catch (const Error &e) {
            result = -1;
            error = e.description();
        }
    } catch (const Error &e) {
        result = -1;
        error = e.description();
    }
}

InputPtr AVIEncoderX::Job::openAudio(LiveAudio &audio)
{
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
    QString why;
    InputPtr in;
    if (const AVInputFormat *alsa = av_find_input_format("alsa")) {
        AVDictionary *options = nullptr;
        if (audioSpec.rate > 0)
            av_dict_set_int(&options, "sample_rate", audioSpec.rate, 0);
        if (audioSpec.channels > 0)
            av_dict_set_int(&options, "channels", audioSpec.channels, 0);
        // Not blocking, so that stopping need not wait for the device.
        AVFormatContext *raw = avformat_alloc_context();
        raw->flags |= AVFMT_FLAG_NONBLOCK;
        const int rc = avformat_open_input(&raw, audioDevice.toLocal8Bit().constData(), alsa, &options);
        av_dict_free(&options);
        if (rc < 0) {
            why = avError(rc);
        } else {
            in.reset(raw);
            const AVCodecParameters *par = raw->nb_streams > 0 ? raw->streams[0]->codecpar : nullptr;
            if (!par || par->codec_id != AV_CODEC_ID_PCM_S16LE || par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0) {
                why = QStringLiteral("it delivers no 16-bit sound");
                in.reset();
            } else {
                audio = {par->sample_rate, par->ch_layout.nb_channels, audioSpec.bits};
            }
        }
    } else {
        why = QStringLiteral("this FFmpeg has no ALSA input");
    }
    if (!in) {
        const QString text = QStringLiteral("The audio device \"%1\" cannot be opened (%2); the clip is recorded without sound.")
                                 .arg(audioDevice, why);
        QMetaObject::invokeMethod(qApp, [owner = owner, text] {
            if (owner)
                emit owner->AudioUnavailable(text);
        }, Qt::QueuedConnection);
    }
    return in;
}

void AVIEncoderX::Job::runLive(AviWriter &writer, const std::function<bool()> &cancelled, AVFormatContext *audioIn,
                               const LiveAudio &audio)
{
    const qint64 periodUs = 1000000LL * rate.den / rate.num;
    qint64 ptsBase = 0, timeBase = 0, last = -1;
    int videoRun = -1;
    std::map<int, std::pair<qint64, qint64>> runs; // run -> its first frame's pts and arrival

    // The sound is read on a thread of its own and joins the frames' queue.
    std::atomic<bool> audioStop{false};
    std::thread reader;
    if (audioIn) {
        reader = std::thread([this, audioIn, &audioStop, &audio] {
            PacketPtr packet(av_packet_alloc());
            const int frameBytes = 2 * audio.channels;
            // Packets (a single sample on some devices) are gathered into chunks of 20 ms; a
            // device that delivers faster than real time (ALSA's null device) is held back.
            const qint64 chunk = qMax(1, audio.rate / 50);
            const qint64 startUs = steadyUs();
            qint64 total = 0;
            QByteArray gathered;
            while (!audioStop) {
                if (total * 1000000 / audio.rate > steadyUs() - startUs + 100000) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                const int rc = av_read_frame(audioIn, packet.get());
                if (rc == AVERROR(EAGAIN)) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                if (rc < 0)
                    return; // the device went away: the clip goes on silent
                const qint64 samples = packet->size / frameBytes;
                total += samples;
                gathered.append(reinterpret_cast<const char *>(packet->data), int(samples * frameBytes));
                av_packet_unref(packet.get());
                const qint64 have = gathered.size() / frameBytes;
                if (have >= chunk) {
                    offerSound(gathered, steadyUs() - have * 1000000 / audio.rate);
                    gathered.clear();
                }
            }
        });
    }
    // Sound goes in sample by sample; it is placed where its capture time falls in the clip,
    // padded with silence or trimmed when it strays from there by more than a twentieth of a
    // second, and ends with the pictures.
    qint64 nextSample = 0;
    const int inFrame = 2 * qMax(1, audio.channels), outFrame = qMax(1, audio.channels) * audio.bits / 8;
    auto put = [&](QByteArray data) {
        const int samples = int(data.size() / inFrame);
        if (samples <= 0)
            return;
        if (audio.bits == 8) {
            QByteArray out(samples * outFrame, Qt::Uninitialized);
            const auto *in = reinterpret_cast<const qint16 *>(data.constData());
            for (int i = 0; i < out.size(); ++i)
                out[i] = char((in[i] >> 8) + 128);
            data = out;
        }
        writer.writeAudio(data, samples, nextSample);
        nextSample += samples;
    };
    auto padTo = [&](qint64 sample) {
        while (nextSample < sample)
            put(QByteArray(int(qMin<qint64>(sample - nextSample, audio.rate / 10) * inFrame), 0));
    };
    auto placeSound = [&](Sound &s, qint64 endSample) {
        const auto base = runs.find(s.run);
        if (base == runs.end())
            return;
        const qint64 clipUs = base->second.first * periodUs + (s.capturedUs - base->second.second);
        const qint64 target = clipUs * audio.rate / 1000000;
        const qint64 tolerance = audio.rate / 20;
        qint64 samples = s.data.size() / inFrame, skip = 0;
        if (target > nextSample + tolerance) {
            padTo(qMin(target, endSample));
        } else if (target < nextSample - tolerance) {
            skip = qMin(samples, nextSample - target);
        }
        samples = qMin(samples - skip, qMax<qint64>(0, endSample - nextSample));
        if (samples > 0)
            put(s.data.mid(int(skip * inFrame), int(samples * inFrame)));
    };
    std::deque<Sound> pending;
    // Sound whose run has its first frame is placed; sound of a run without frames is dropped.
    auto drainSound = [&](qint64 endSample) {
        while (!pending.empty()) {
            Sound &s = pending.front();
            if (!runs.count(s.run) && s.run >= videoRun && endSample == LLONG_MAX)
                return;
            placeSound(s, endSample);
            pending.pop_front();
        }
    };
    auto finishSound = [&] {
        if (!audioIn)
            return;
        audioStop = true;
        reader.join();
        {
            std::lock_guard lock(mutex);
            for (Sound &s : sound)
                pending.push_back(std::move(s));
            sound.clear();
        }
        const qint64 endSample = av_rescale(last + 1, qint64(audio.rate) * rate.den, rate.num);
        drainSound(endSample);
        padTo(endSample);
    };
    struct JoinReader
    {
        std::thread &t;
        std::atomic<bool> &stop;
        ~JoinReader()
        {
            stop = true;
            if (t.joinable())
                t.join();
        }
    } joinReader{reader, audioStop};

    for (;;) {
        Queued next;
        bool haveFrame = false;
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop || !queue.empty() || !sound.empty(); });
            for (Sound &s : sound)
                pending.push_back(std::move(s));
            sound.clear();
            if (queue.empty()) {
                if (!stop && cancelled())
                    stop = true;
                if (stop) {
                    lock.unlock();
                    finishSound();
                    return;
                }
            } else {
                next = std::move(queue.front());
                queue.pop_front();
                haveFrame = true;
            }
        }
        if (haveFrame) {
            if (next.rebase) {
                ptsBase = last + 1;
                timeBase = next.arrivedUs;
                runs[next.run] = {ptsBase, timeBase};
                videoRun = next.run;
            }
            // Timestamps follow the arrival times; a source faster than the clip's rate is thinned.
            const qint64 pts = ptsBase + (next.arrivedUs - timeBase + periodUs / 2) / periodUs;
            if (pts > last) {
                writer.write(next.frame, pts);
                last = pts;
                lastPts = pts;
                written = writer.written();
                reportStatistics();
            }
        }
        if (audioIn)
            drainSound(LLONG_MAX);
    }
}

void AVIEncoderX::Job::runFile(AviWriter &writer, Input &in, const std::function<bool()> &cancelled)
{
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    const AVStream *vs = in.format->streams[in.video];
    const qint64 total = in.frames;
    const qint64 durationUs = in.format->duration > 0 ? in.format->duration : 0;
    qint64 last = -1, decoded = 0, undecodable = 0;
    auto drain = [&] {
        for (;;) {
            const int rc = avcodec_receive_frame(in.decoder.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0) {
                ++undecodable;
                return;
            }
            // Frames keep their place in the input's timeline, at its rate.
            qint64 pts = last + 1;
            if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                const qint64 start = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0;
                pts = av_rescale_q(frame->best_effort_timestamp - start, vs->time_base, av_inv_q(in.rate));
            }
            if (pts <= last)
                pts = last + 1;
            writer.write(frame.get(), pts);
            last = pts;
            lastPts = pts;
            written = writer.written();
            ++decoded;
            av_frame_unref(frame.get());
            if (total > 0)
                progress = int(qMin<qint64>(100, decoded * 100 / total));
            else if (durationUs > 0)
                progress = int(qMin<qint64>(100, av_rescale_q(pts, av_inv_q(in.rate), {1, 1000000}) * 100 / durationUs));
            reportStatistics();
        }
    };
    for (;;) {
        {
            std::unique_lock lock(mutex);
            if (!wake.wait_for(lock, std::chrono::milliseconds(100), [&] { return stop || !paused; }) && !cancelled())
                continue;
            if (stop)
                break;
        }
        if (cancelled())
            break;
        const int rc = av_read_frame(in.format.get(), packet.get());
        if (rc == AVERROR_EOF || (rc < 0 && avio_feof(in.format->pb)))
            break;
        if (rc < 0) {
            ++undecodable;
            if (undecodable > 1000)
                break;
            continue;
        }
        if (packet->stream_index == in.video) {
            if (avcodec_send_packet(in.decoder.get(), packet.get()) < 0)
                ++undecodable; // a damaged packet: the frames around it still go through
            else
                drain();
        } else if (packet->stream_index == in.audio && writer.hasAudio()) {
            writer.copyAudio(packet.get());
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(in.decoder.get(), nullptr);
    drain();
    if (!stopped() && !cancelled())
        progress = 100;
    reportStatistics();
}

AVIEncoderX::AVIEncoderX(QObject *parent) : QObject(parent) {}

AVIEncoderX::~AVIEncoderX()
{
    // An encoding still running closes its file on its own thread.
    StopEncoding();
}

void AVIEncoderX::setInputFileName(const QString &path)
{
    m_input = path;
    if (path.isEmpty()) {
        m_inputStatus = 0;
        return;
    }
    Input in;
    QString why;
    const int status = openInput(path, in, &why);
    m_inputStatus = status < 0 ? status : qint32(qMin<qint64>(in.frames, INT_MAX));
    m_lastError = status < 0 ? why : QString();
}

qint32 AVIEncoderX::Progress() const
{
    return m_last && !m_last->live ? m_last->progress.load() : -1;
}

qint32 AVIEncoderX::ElapsedSeconds() const
{
    if (!m_last)
        return -1;
    return qint32((m_last->lastPts.load() + 1) * m_last->rate.den / m_last->rate.num);
}

qint32 AVIEncoderX::StartEncoding(qint32 &sourceType, qint32 frameRate, qint32 codec, qint32 quality,
                                  qint32 forceKeyFrames, qint32 keyFrameEvery, qint32 limitDataRate,
                                  qint32 bytesPerSecond, qint32 interleave, qint32 interleaveEvery)
{
    auto refuse = [this](const QString &why) {
        m_lastError = why;
        return 0;
    };
    if (m_job)
        return refuse(QStringLiteral("An encoding is running."));
    if (m_output.isEmpty())
        return refuse(QStringLiteral("No output file is set."));
    if (codec < 0 || codec >= aviCodecs().size())
        return refuse(QStringLiteral("No codec is selected."));
    auto job = std::make_shared<Job>();
    job->settings = {codec, frameRate, quality, forceKeyFrames != 0, keyFrameEvery, limitDataRate != 0, bytesPerSecond,
                     interleave != 0, interleaveEvery};
    job->codec = aviCodecs().at(codec);
    job->live = sourceType != 0;
    job->output = m_output;
    job->owner = this;
    if (job->live) {
        capture::CaptureControl *source = capture::CaptureControl::fromHandle(m_sourceHandle);
        if (!source || !source->VideoConnected())
            return refuse(QStringLiteral("No live source is connected."));
        job->size = source->frameSize();
        job->rate = {frameRate > 0 ? frameRate : kLiveRate, 1};
        job->source = source;
        job->audioDevice = m_audioDevice;
        job->audioSpec = audioSpecFor(m_audioFormat);
    } else {
        Input &in = job->in;
        QString why;
        if (m_input.isEmpty() || openInput(m_input, in, &why) != 0)
            return refuse(QStringLiteral("The input file cannot be read: %1").arg(why));
        job->input = m_input;
        job->size = QSize(in.decoder->width, in.decoder->height);
        job->rate = frameRate > 0 ? AVRational{frameRate, 1} : in.rate;
    }
    try {
        job->encoder = openEncoder(job->codec, job->settings, job->size, job->rate);
    } catch (const Error &e) {
        return refuse(e.description());
    }
    if (job->live) {
        job->source->setEncoderSink([job](const QImage &frame, qint64 arrivedUs) { job->offer(frame, arrivedUs); });
    }
    m_job = job;
    m_last = job;
    m_lastError.clear();
    Work work = [job](const std::function<bool()> &cancelled) {
        job->run(cancelled);
        // The control hears of the end on the GUI thread, if it is still there.
        QMetaObject::invokeMethod(qApp, [job] {
            if (job->owner)
                job->owner->finished(job);
        }, Qt::QueuedConnection);
    };
    if (m_executor) {
        m_executor(std::move(work));
    } else {
        QThreadPool::globalInstance()->start([work, job] { work([job] { return false; }); });
    }
    return 1;
}

void AVIEncoderX::StopEncoding()
{
    if (!m_job)
        return;
    if (m_job->source)
        m_job->source->setEncoderSink({});
    {
        std::lock_guard lock(m_job->mutex);
        m_job->stop = true;
        m_job->paused = false;
    }
    m_job->wake.notify_all();
}

void AVIEncoderX::finished(const std::shared_ptr<Job> &job)
{
    if (m_job != job)
        return;
    if (job->source)
        job->source->setEncoderSink({});
    m_job.reset();
    m_lastError = job->error;
    emit EncodingFinished(job->result);
}

bool AVIEncoderX::Paused() const
{
    if (!m_job)
        return false;
    std::lock_guard lock(m_job->mutex);
    return m_job->paused;
}

void AVIEncoderX::Pause()
{
    if (!m_job)
        return;
    std::lock_guard lock(m_job->mutex);
    m_job->paused = true;
}

void AVIEncoderX::Resume()
{
    if (!m_job)
        return;
    {
        std::lock_guard lock(m_job->mutex);
        m_job->paused = false;
        m_job->rebase = true; // the clip goes on from its last frame, without a gap
        ++m_job->runNumber;
    }
    m_job->wake.notify_all();
}

qint64 AVIEncoderX::framesWritten() const { return m_last ? m_last->written.load() : 0; }
qint64 AVIEncoderX::framesDropped() const { return m_last ? m_last->dropped.load() : 0; }
qint64 AVIEncoderX::frameSpan() const { return m_last ? m_last->lastPts.load() + 1 : 0; }

qint32 AVIEncoderX::CodecCount(qint32 &) const { return qint32(aviCodecs().size()) - 1; }

QString AVIEncoderX::CodecName(qint32 &, qint32 index) const
{
    return index >= 0 && index < aviCodecs().size() ? aviCodecs().at(index).name : QString();
}

qint32 AVIEncoderX::CodecSupportsDataRate(qint32 &, qint32 index) const
{
    return index >= 0 && index < aviCodecs().size() && aviCodecs().at(index).dataRate ? 1 : 0;
}

qint32 AVIEncoderX::CodecSupportsKeyFrames(qint32 &, qint32 index) const
{
    return index >= 0 && index < aviCodecs().size() && aviCodecs().at(index).keyFrames ? 1 : 0;
}

qint32 AVIEncoderX::CodecSupportsQuality(qint32 &, qint32 index) const
{
    return index >= 0 && index < aviCodecs().size() && aviCodecs().at(index).quality ? 1 : 0;
}

qint32 AVIEncoderX::CodecHasAbout(qint32 &, qint32 index) const
{
    return index >= 0 && index < aviCodecs().size() ? 1 : 0;
}

qint32 AVIEncoderX::CodecHasConfigure(qint32 &, qint32) const { return 0; }

void AVIEncoderX::ShowCodecAbout(qint32 &, qint32 index)
{
    if (index < 0 || index >= aviCodecs().size())
        return;
    const CodecInfo &c = aviCodecs().at(index);
    const AVCodec *codec = avcodec_find_encoder_by_name(c.encoder.constData());
    msgBox(nullptr,
           QStringLiteral("%1\n\nFFmpeg encoder \"%2\": %3\nlibavcodec %4")
               .arg(c.name, QString::fromLatin1(c.encoder), QString::fromUtf8(codec ? codec->long_name : ""),
                    QString::fromLatin1(AV_STRINGIFY(LIBAVCODEC_VERSION))),
           Prompter::Icon::Information, c.name);
}

void AVIEncoderX::ShowCodecConfigure(qint32 &, qint32) {}

void AVIEncoderX::ShowAbout()
{
    msgBox(nullptr,
           QStringLiteral("AVI encoder over FFmpeg\nlibavformat %1, libavcodec %2, libswscale %3")
               .arg(QString::fromLatin1(AV_STRINGIFY(LIBAVFORMAT_VERSION)),
                    QString::fromLatin1(AV_STRINGIFY(LIBAVCODEC_VERSION)),
                    QString::fromLatin1(AV_STRINGIFY(LIBSWSCALE_VERSION))),
           Prompter::Icon::Information, QStringLiteral("About"));
}

} // namespace orv::encoder
