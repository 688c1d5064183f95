#include "TestPattern.h"

#include "FrameRing.h"

#include <QDateTime>
#include <QFont>
#include <QPainter>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace orv::capture {

namespace {

std::atomic<int> g_unplugged{0};

enum ControlId : quint32 { Brightness = 1, Speed = 2 };

class TestPatternSource : public FrameSource
{
public:
    explicit TestPatternSource(QSize size) : m_size(size), m_unplugGeneration(g_unplugged.load()) {}
    ~TestPatternSource() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    QSize size() const override { return m_size; }

    void start(FrameCallback onFrame, LostCallback onLost) override
    {
        m_thread = std::thread([this, onFrame = std::move(onFrame), onLost = std::move(onLost)] {
            run(onFrame, onLost);
        });
    }

    QList<DeviceControl> controls() const override
    {
        return {{Brightness, QStringLiteral("Brightness"), -100, 100, 1, 0, m_brightness.load()},
                {Speed, QStringLiteral("Speed"), 0, 32, 1, 4, m_speed.load()}};
    }

    void setControl(quint32 id, int value) override
    {
        if (id == Brightness)
            m_brightness = qBound(-100, value, 100);
        else if (id == Speed)
            m_speed = qBound(0, value, 32);
    }

private:
    void run(const FrameCallback &onFrame, const LostCallback &onLost)
    {
        using clock = std::chrono::steady_clock;
        constexpr auto period = std::chrono::milliseconds(40);
        auto next = clock::now();
        qint64 frameNumber = 0;
        int offset = 0;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (m_wake.wait_until(lock, next, [this] { return m_stop; }))
                    return;
            }
            if (g_unplugged.load() != m_unplugGeneration) {
                onLost(QStringLiteral("The device was unplugged."));
                return;
            }
            offset += m_speed.load();
            onFrame(paint(++frameNumber, offset));
            next += period;
            if (clock::now() > next + period) // fell behind: skip frames rather than race
                next = clock::now();
        }
    }

    QImage paint(qint64 frameNumber, int offset)
    {
        static const QRgb bars[] = {qRgb(235, 235, 235), qRgb(235, 235, 16), qRgb(16, 235, 235), qRgb(16, 235, 16),
                                    qRgb(235, 16, 235),  qRgb(235, 16, 16),  qRgb(16, 16, 235)};
        constexpr int barCount = int(std::size(bars));
        QImage &img = m_ring.next();
        const int w = m_size.width(), h = m_size.height();
        const int shift = m_brightness.load();
        QPainter p(&img);
        const int barWidth = (w + barCount - 1) / barCount;
        const int start = offset % (barCount * barWidth);
        const int period = barCount * barWidth; // at least the frame's width
        for (int i = 0; i < barCount; ++i) {
            const QRgb c = bars[i];
            const QColor shifted(qBound(0, qRed(c) + shift, 255), qBound(0, qGreen(c) + shift, 255),
                                 qBound(0, qBlue(c) + shift, 255));
            const int x = ((start + i * barWidth) % period + period) % period;
            p.fillRect(x, 0, barWidth, h * 3 / 4, shifted);
            p.fillRect(x - period, 0, barWidth, h * 3 / 4, shifted); // the part wrapped round
        }
        p.fillRect(0, h * 3 / 4, w, h - h * 3 / 4, QColor(16, 16, 16));
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(qMax(8, h / 14));
        p.setFont(font);
        p.setPen(Qt::white);
        const QString text = QStringLiteral("%1  %2  %3x%4")
                                 .arg(frameNumber, 6, 10, QLatin1Char('0'))
                                 .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")))
                                 .arg(w)
                                 .arg(h);
        p.drawText(QRect(0, h * 3 / 4, w, h - h * 3 / 4), Qt::AlignCenter, text);
        p.end();
        return img;
    }

    const QSize m_size;
    FrameRing m_ring{m_size};
    const int m_unplugGeneration;
    std::atomic<int> m_brightness{0};
    std::atomic<int> m_speed{4};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

QList<QSize> TestPatternDriver::formats() const
{
    return {{160, 120}, {176, 144}, {320, 240}, {352, 288},  {640, 480},
            {720, 576}, {800, 600}, {1024, 768}, {1280, 720}, {1920, 1080}};
}

std::unique_ptr<FrameSource> TestPatternDriver::open(QSize requested)
{
    const QSize size = requested.isEmpty() ? QSize(640, 480) : requested;
    if (!formats().contains(size))
        throw Error(QStringLiteral("The test pattern does not deliver %1x%2 frames.").arg(size.width()).arg(size.height()));
    return std::make_unique<TestPatternSource>(size);
}

void unplugTestPattern() { ++g_unplugged; }

} // namespace orv::capture
