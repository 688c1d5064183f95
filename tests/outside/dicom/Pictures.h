#pragma once

#include <QColor>
#include <QImage>
#include <QString>

namespace orv::test {

// Colour test picture: a diagonal gradient with a bright square, distinct per `seed`.
inline QImage colourPicture(int w, int h, int seed = 0)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        uchar *row = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const bool square = x > w / 4 && x < w / 2 && y > h / 4 && y < h / 2;
            row[3 * x] = uchar(square ? 250 : (x * 255 / w + seed * 37) % 256);
            row[3 * x + 1] = uchar(square ? 240 : (y * 255 / h + seed * 11) % 256);
            row[3 * x + 2] = uchar(square ? 10 : ((x + y) * 127 / (w + h) + seed * 53) % 256);
        }
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

} // namespace orv::test
