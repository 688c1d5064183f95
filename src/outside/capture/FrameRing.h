#pragma once

#include <QImage>

#include <array>

namespace orv::capture {

// The frame buffers of one stream, allocated and touched when the stream starts: a frame is
// produced into a buffer that nobody else holds any more (the picture shown and the frames being
// written hold some), so a running stream does not allocate, and page-fault, a new frame each time.
// Used by the stream's thread only.
class FrameRing
{
public:
    FrameRing(QSize size) : m_size(size)
    {
        for (QImage &b : m_buffers) {
            b = QImage(size, QImage::Format_RGB32);
            b.fill(Qt::black);
        }
    }

    // A buffer to produce the next frame into; a new one only when every buffer is held.
    QImage &next()
    {
        for (std::size_t i = 0; i < m_buffers.size(); ++i) {
            QImage &candidate = m_buffers[(m_next + i) % m_buffers.size()];
            if (candidate.isDetached()) {
                m_next = (m_next + i + 1) % m_buffers.size();
                return candidate;
            }
        }
        QImage &b = m_buffers[m_next];
        b = QImage(m_size, QImage::Format_RGB32);
        m_next = (m_next + 1) % m_buffers.size();
        return b;
    }

private:
    QSize m_size;
    std::array<QImage, 4> m_buffers;
    std::size_t m_next = 0;
};

} // namespace orv::capture
