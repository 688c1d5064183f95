#pragma once

#include <QByteArray>
#include <QString>

class QImage;

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace orv::dicom {

// Leaves new elements uninitialised (frame buffers are always filled after they grow).
template<typename T>
struct UninitialisedAllocator : std::allocator<T>
{
    template<typename U>
    struct rebind
    {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template<typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U> &) noexcept
    {}
    template<typename U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template<typename U, typename... Args>
    void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};

using PixelBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// Pixels of one or more frames, top row first: grey (1 sample) or interleaved RGB (3 samples),
// 8 bits per sample. Internal to this layer.
struct Picture
{
    int width = 0;
    int height = 0;
    int samples = 0;
    int frames = 1;
    double frameTimeMs = 0; // video only
    PixelBuffer pixels;

    std::size_t frameSize() const { return std::size_t(width) * height * samples; }
};

// Reads BMP/DIB (8-bit palette, 24-bit, 32-bit uncompressed), JPEG, PNG or AVI.
// `format` is the extension-like name the caller gives ("BMP", "jpg", "AVI"); the file's own
// signature decides when it disagrees. Throws Error on unreadable or unsupported data.
Picture readPicture(const QString &path, const QString &format);
Picture readVideo(const QString &path);

// Writes frame `frame` (0-based) as BMP or JPEG.
void writeBmp(const QString &path, const Picture &pic, int frame);
void writeJpegFile(const QString &path, const Picture &pic, int frame, int quality);
// Writes the first `frameCount` frames as an AVI (Motion JPEG) at the given quality (1..100).
void writeVideo(const QString &path, const Picture &pic, int frameCount, int quality);

// Encodes one 8-bit grey or RGB frame as a baseline JPEG with libjpeg-turbo; colour is
// encoded as YCbCr 4:2:2 (chroma halved horizontally).
QByteArray encodeJpeg(const std::uint8_t *pixels, int width, int height, int samples, int quality);
// Decodes one 8-bit YCbCr JPEG of exactly width x height into interleaved RGB with
// libjpeg-turbo. False (nothing to trust in `rgb`) for anything else: the caller then decodes
// it another way.
bool decodeJpegRgb(const std::uint8_t *data, std::size_t size, int width, int height, PixelBuffer &rgb);
// The same, read straight from a frame's own buffer (32-bit RGB, RGB888, BGR888, RGBX8888 or
// 8-bit grey; any other format is converted first). Grey frames stay grey.
QByteArray encodeJpeg(const QImage &frame, int quality);

} // namespace orv::dicom
