// The workstation's own bitmap reader against Qt's image readers on the same captured-size
// frames (and the PNG import, which goes through Qt's reader): median milliseconds per picture,
// each side warmed up, in one process, one after the other.
#include "outside/dicom/Picture.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace orv;

namespace {
double median(const std::function<void()> &f, int runs = 15)
{
    f(); // warm-up: page cache, code, buffers
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[runs / 2];
}

QImage frame(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb((x * 255) / w, (y * 255) / h, (x ^ y) & 0xFF);
    }
    return img;
}

void row(const char *what, double ours, double qt)
{
    std::printf("%-34s ours %7.2f ms   Qt %7.2f ms   ratio %.2f\n", what, ours, qt, ours / qt);
}
} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080)}) {
        const QImage img = frame(size.width(), size.height());
        const QString bmp = dir.filePath(QStringLiteral("f.bmp")), png = dir.filePath(QStringLiteral("f.png"));
        img.save(png);
        img.convertToFormat(QImage::Format_RGB888).save(bmp, "BMP");
        std::printf("%dx%d\n", size.width(), size.height());
        row("read a BMP to RGB samples", median([&] { dicom::readPicture(bmp, QStringLiteral("BMP")); }),
            median([&] { (void)QImageReader(bmp).read().convertToFormat(QImage::Format_RGB888); }));
        row("read a PNG to RGB samples", median([&] { dicom::readPicture(png, QStringLiteral("PNG")); }),
            median([&] { (void)QImageReader(png).read().convertToFormat(QImage::Format_RGB888); }));
    }
    return 0;
}
