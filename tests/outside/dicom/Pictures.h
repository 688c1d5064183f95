#pragma once

#include "outside/Error.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <functional>

namespace orv::test {

// Colour test picture: gradients with a bright square, distinct per `seed`.
inline QImage colourPicture(int w, int h, int seed = 0)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool square = x > w / 4 && x < w / 2 && y > h / 4 && y < h / 2;
            uchar *p = img.scanLine(y) + 3 * x;
            p[0] = uchar(square ? 250 : (x * 255 / w + seed * 37) % 256);
            p[1] = uchar(square ? 240 : (y * 255 / h + seed * 11) % 256);
            p[2] = uchar(square ? 10 : ((x + y) * 127 / (w + h) + seed * 53) % 256);
        }
    return img;
}

// Grey test picture (8-bit).
inline QImage greyPicture(int w, int h, int seed = 0)
{
    QImage img(w, h, QImage::Format_Grayscale8);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.scanLine(y)[x] = uchar((x * 3 + y + seed * 40) % 256);
    return img;
}

// The description of the orv::Error that `f` throws; "(no error)" when it throws none.
inline QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const orv::Error &e) {
        return e.description();
    }
    return QStringLiteral("(no error)");
}

// Writes a JPEG 2000 MR image whose codestream is overwritten after its main header: a file
// that reads as DICOM and cannot be decoded. False when the sample cannot be read or written.
inline bool writeUndecodableImage(const QString &path)
{
    QFile source(QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/MR_small_jp2klossless.dcm"));
    if (!source.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = source.readAll();
    const qsizetype soc = bytes.indexOf(QByteArray::fromHex("ff4fff51"));
    const qsizetype end = bytes.lastIndexOf(QByteArray::fromHex("feffdde0")); // the fragments' end
    if (soc < 0 || end < soc + 300)
        return false;
    for (qsizetype i = soc + 200; i < end - 2; ++i)
        bytes[i] = char(0x5a);
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
}

} // namespace orv::test
