#include "Bitmap.h"

#include "outside/Error.h"

#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace orv::capture {

namespace {
void put16(uchar *p, quint16 v) { qToLittleEndian(v, p); }
void put32(uchar *p, quint32 v) { qToLittleEndian(v, p); }

QString osError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }
} // namespace

void writeBitmap(const QImage &frame, const QString &path)
{
    if (frame.isNull())
        throw Error(QStringLiteral("There is no frame to write."));
    const QImage img = frame.format() == QImage::Format_RGB32 || frame.format() == QImage::Format_ARGB32
                           ? frame
                           : frame.convertToFormat(QImage::Format_RGB32);
    const int w = img.width(), h = img.height();
    const int rowBytes = (w * 3 + 3) & ~3;
    const quint32 pixelBytes = quint32(rowBytes) * quint32(h);
    // One buffer per writing thread, kept between frames: a fresh multi-megabyte allocation
    // costs more in page faults than the conversion itself.
    thread_local std::vector<uchar> buf;
    buf.resize(54 + pixelBytes);
    uchar *hd = buf.data();
    hd[0] = 'B';
    hd[1] = 'M';
    put32(hd + 2, quint32(buf.size()));
    put32(hd + 6, 0);
    put32(hd + 10, 54);
    put32(hd + 14, 40);
    put32(hd + 18, quint32(w));
    put32(hd + 22, quint32(h)); // positive height: bottom row first
    put16(hd + 26, 1);
    put16(hd + 28, 24);
    put32(hd + 30, 0);
    put32(hd + 34, pixelBytes);
    put32(hd + 38, 2835);
    put32(hd + 42, 2835);
    put32(hd + 46, 0);
    put32(hd + 50, 0);
    for (int y = 0; y < h; ++y) {
        const uchar *src = img.constScanLine(h - 1 - y); // B G R X per pixel in memory
        uchar *dst = hd + 54 + std::size_t(y) * rowBytes;
        // Four bytes per pixel are copied and the next pixel overwrites the fourth; the last
        // pixel of the row is copied exactly, so nothing spills past the row.
        for (int x = 0; x < w - 1; ++x) {
            std::memcpy(dst, src, 4);
            dst += 3;
            src += 4;
        }
        std::memcpy(dst, src, 3);
        dst += 3;
        std::memset(dst, 0, std::size_t(rowBytes - w * 3));
    }

    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error(QStringLiteral("Cannot create %1: %2").arg(path, osError(errno)), errno);
    std::size_t done = 0;
    int err = 0;
    while (done < buf.size()) {
        const ssize_t n = ::write(fd, buf.data() + done, buf.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        done += std::size_t(n);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(name.constData());
        throw Error(QStringLiteral("Cannot write %1: %2").arg(path, osError(err)), err);
    }
}

} // namespace orv::capture
