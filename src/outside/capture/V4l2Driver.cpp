#include "V4l2Driver.h"

#include "FrameRing.h"

#include <QDir>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace orv::capture {

namespace {

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int xioctl(int fd, unsigned long request, void *arg)
{
    int r;
    do
        r = ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

// An open descriptor of a device node for queries and controls (closed on scope exit).
struct DeviceFd
{
    explicit DeviceFd(const QString &path) : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK)) {}
    ~DeviceFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    DeviceFd(const DeviceFd &) = delete;
    DeviceFd &operator=(const DeviceFd &) = delete;
    int fd;
};

class V4l2Source : public FrameSource
{
public:
    V4l2Source(const QString &path, QSize requested) : m_path(path)
    {
        avdevice_register_all();
        const AVInputFormat *fmt = av_find_input_format("video4linux2");
        if (!fmt)
            throw Error(QStringLiteral("This FFmpeg has no video4linux2 input."));
        AVDictionary *opts = nullptr;
        if (!requested.isEmpty())
            av_dict_set(&opts, "video_size", QStringLiteral("%1x%2").arg(requested.width()).arg(requested.height()).toLatin1().constData(), 0);
        m_format = avformat_alloc_context();
        m_format->flags |= AVFMT_FLAG_NONBLOCK;
        int r = avformat_open_input(&m_format, QFile::encodeName(path).constData(), fmt, &opts);
        av_dict_free(&opts);
        if (r < 0)
            throw Error(QStringLiteral("Cannot open the video device %1: %2").arg(path, avError(r)));
        if (m_format->nb_streams < 1) {
            avformat_close_input(&m_format);
            throw Error(QStringLiteral("The video device %1 delivers no stream.").arg(path));
        }
        const AVCodecParameters *par = m_format->streams[0]->codecpar;
        m_size = QSize(par->width, par->height);
        if (!requested.isEmpty() && m_size != requested) {
            avformat_close_input(&m_format);
            throw Error(QStringLiteral("The video device %1 does not deliver %2x%3 frames.")
                            .arg(path)
                            .arg(requested.width())
                            .arg(requested.height()));
        }
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        m_codec = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!m_codec || avcodec_parameters_to_context(m_codec, par) < 0 || avcodec_open2(m_codec, codec, nullptr) < 0) {
            avcodec_free_context(&m_codec);
            avformat_close_input(&m_format);
            throw Error(QStringLiteral("The video device %1 delivers a format that cannot be decoded.").arg(path));
        }
    }

    ~V4l2Source() override
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        sws_freeContext(m_sws);
        avcodec_free_context(&m_codec);
        avformat_close_input(&m_format);
    }

    QSize size() const override { return m_size; }

    void start(FrameCallback onFrame, LostCallback onLost) override
    {
        m_thread = std::thread([this, onFrame = std::move(onFrame), onLost = std::move(onLost)] {
            const QString why = run(onFrame);
            if (!m_stop)
                onLost(why);
        });
    }

    QList<DeviceControl> controls() const override
    {
        QList<DeviceControl> out;
        DeviceFd dev(m_path);
        if (dev.fd < 0)
            return out;
        v4l2_queryctrl q{};
        q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
        while (xioctl(dev.fd, VIDIOC_QUERYCTRL, &q) == 0) {
            if (!(q.flags & V4L2_CTRL_FLAG_DISABLED) && (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN)) {
                v4l2_control c{};
                c.id = q.id;
                xioctl(dev.fd, VIDIOC_G_CTRL, &c);
                out.append({q.id, QString::fromLatin1(reinterpret_cast<const char *>(q.name)), q.minimum, q.maximum,
                            qMax(1, q.step), q.default_value, c.value});
            }
            q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
        }
        return out;
    }

    void setControl(quint32 id, int value) override
    {
        DeviceFd dev(m_path);
        v4l2_control c{};
        c.id = id;
        c.value = value;
        if (dev.fd >= 0)
            xioctl(dev.fd, VIDIOC_S_CTRL, &c);
    }

private:
    // Reads and decodes until stopped; returns why the stream ended.
    QString run(const FrameCallback &onFrame)
    {
        AVPacket *pkt = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        QString why;
        while (!m_stop) {
            const int r = av_read_frame(m_format, pkt);
            if (r == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (r < 0) {
                why = QStringLiteral("The video device %1 stopped delivering frames: %2").arg(m_path, avError(r));
                break;
            }
            if (avcodec_send_packet(m_codec, pkt) == 0) {
                while (avcodec_receive_frame(m_codec, frame) == 0)
                    onFrame(convert(frame));
            }
            av_packet_unref(pkt);
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
        return why;
    }

    QImage convert(const AVFrame *f)
    {
        if (!m_ring || QSize(f->width, f->height) != m_ringSize) {
            m_ringSize = QSize(f->width, f->height);
            m_ring = std::make_unique<FrameRing>(m_ringSize);
        }
        QImage &img = m_ring->next();
        m_sws = sws_getCachedContext(m_sws, f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                     AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!m_sws)
            return img;
        uint8_t *dst[4] = {img.bits(), nullptr, nullptr, nullptr};
        int dstStride[4] = {int(img.bytesPerLine()), 0, 0, 0};
        sws_scale(m_sws, f->data, f->linesize, 0, f->height, dst, dstStride);
        return img;
    }

    QString m_path;
    QSize m_size;
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    SwsContext *m_sws = nullptr;
    std::unique_ptr<FrameRing> m_ring; // the decoding thread's
    QSize m_ringSize;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

V4l2Driver::V4l2Driver(QString devicePath, QString card, QString version)
    : m_path(std::move(devicePath)), m_card(std::move(card)), m_version(std::move(version))
{}

QList<QSize> V4l2Driver::formats() const
{
    QList<QSize> out;
    DeviceFd dev(m_path);
    if (dev.fd < 0)
        return out;
    v4l2_fmtdesc fd{};
    fd.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (fd.index = 0; xioctl(dev.fd, VIDIOC_ENUM_FMT, &fd) == 0; ++fd.index) {
        v4l2_frmsizeenum fs{};
        fs.pixel_format = fd.pixelformat;
        for (fs.index = 0; xioctl(dev.fd, VIDIOC_ENUM_FRAMESIZES, &fs) == 0; ++fs.index) {
            if (fs.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
            const QSize s(int(fs.discrete.width), int(fs.discrete.height));
            if (!out.contains(s))
                out.append(s);
        }
    }
    std::sort(out.begin(), out.end(), [](QSize a, QSize b) { return a.width() * a.height() < b.width() * b.height(); });
    return out;
}

std::unique_ptr<FrameSource> V4l2Driver::open(QSize requested)
{
    return std::make_unique<V4l2Source>(m_path, requested);
}

QList<std::shared_ptr<CaptureDriver>> V4l2Driver::scan(const QString &folder)
{
    QList<std::shared_ptr<CaptureDriver>> out;
    QList<int> numbers;
    for (const QString &entry : QDir(folder).entryList({QStringLiteral("video*")}, QDir::System)) {
        bool ok = false;
        const int n = entry.mid(5).toInt(&ok);
        if (ok)
            numbers.append(n);
    }
    std::sort(numbers.begin(), numbers.end());
    for (int n : numbers) {
        const QString path = QDir(folder).filePath(QStringLiteral("video%1").arg(n));
        DeviceFd dev(path);
        v4l2_capability cap{};
        if (dev.fd < 0 || xioctl(dev.fd, VIDIOC_QUERYCAP, &cap) < 0)
            continue;
        const quint32 caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
            continue;
        const QString version = QStringLiteral("%1.%2.%3")
                                    .arg((cap.version >> 16) & 0xff)
                                    .arg((cap.version >> 8) & 0xff)
                                    .arg(cap.version & 0xff);
        out.append(std::make_shared<V4l2Driver>(path, QString::fromUtf8(reinterpret_cast<const char *>(cap.card)), version));
    }
    return out;
}

} // namespace orv::capture
