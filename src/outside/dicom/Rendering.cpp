// Hand-written display rendering beside DCMTK's DicomImage: an image is decoded once (native
// greyscale read in place) and a window change only re-maps through a table, straight onto the
// screen. Kept because it is faster than DicomImage at what the viewer does most, measured with
//   bench/viewer.sh   (2 shared cores, load 2.4, median of 60 steps, two runs, same run as the peer):
//   W/L drag, 3x3 CT 512x512:          0.94-1.00 ms against DicomImage 1.31-1.34 ms (0.72-0.75x)
//   window change, 3000x3000 CR at 1x1: 0.28 ms against 2.69-2.73 ms (0.10x)
//   first show, 3000x3000 CR:           42-44 ms against 124-130 ms (0.34x)
#include "Rendering.h"

#include "Image.h"
#include "Jpeg2000.h"
#include "Picture.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dccodec.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>
#include <dcmtk/dcmimgle/dipixel.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace orv::dicom {

namespace {

double float64(DcmDataset *ds, const DcmTagKey &key, double fallback)
{
    Float64 v = 0;
    return ds->findAndGetFloat64(key, v).good() && std::isfinite(v) ? v : fallback;
}

template<typename T>
void takeGrey(const T *data, std::size_t count, DecodedImage &out)
{
    if (count == 0)
        fail(QStringLiteral("No pixels"));
    const auto [lo, hi] = std::minmax_element(data, data + count);
    const std::int64_t min = *lo, range = std::int64_t(*hi) - min;
    int shift = 0;
    while ((range >> shift) > 65535)
        ++shift;
    out.base = double(min);
    out.step = double(std::int64_t(1) << shift);
    out.levels = int(range >> shift) + 1;
    out.putIndices(count, [&](std::size_t i) { return (std::int64_t(data[i]) - min) >> shift; });
}

// Samples one axis: for each output pixel the first source pixel, the next one and the weight
// of the next (0..256) for bilinear; the source span [first, last) for area averaging.
struct Tap
{
    int first;
    int second;
    int weight;
};

std::vector<Tap> taps(int outStart, int outCount, double placedStart, double scale, int size, bool smooth)
{
    std::vector<Tap> t(std::size_t(std::max(0, outCount)));
    for (int o = 0; o < outCount; ++o) {
        const double screen = outStart + o;
        if (!smooth) {
            const int s = std::clamp(int(std::floor((screen + 0.5 - placedStart) / scale)), 0, size - 1);
            t[std::size_t(o)] = {s, s, 0};
        } else if (scale >= 1) {
            const double f = std::clamp((screen + 0.5 - placedStart) / scale - 0.5, 0.0, double(size - 1));
            const int s = int(f);
            t[std::size_t(o)] = {s, std::min(s + 1, size - 1), int(std::lround((f - s) * 256))};
        } else {
            const int a = std::clamp(int(std::floor((screen - placedStart) / scale)), 0, size - 1);
            const int b = std::clamp(int(std::ceil((screen + 1 - placedStart) / scale)), a + 1, size);
            t[std::size_t(o)] = {a, b, -1};
        }
    }
    return t;
}

// Reads a source value as its index: identity for decoded buffers.
struct AsIs
{
    template<typename V>
    std::uint32_t operator()(V v) const { return v; }
};

template<int Channels, typename S, typename T, typename Index = AsIs>
void sample(const S *src, int width, int height, const QRectF &placed, const QRect &visible, bool smooth, T *dst,
            Index index = {})
{
    const double sx = placed.width() / width, sy = placed.height() / height;
    const bool area = smooth && sx < 1;
    const auto xt = taps(visible.x(), visible.width(), placed.x(), sx, width, smooth);
    const auto yt = taps(visible.y(), visible.height(), placed.y(), sy, height, smooth);
    const std::size_t stride = std::size_t(width) * Channels;
    const int ow = visible.width();
    if (area) {
        std::vector<std::uint64_t> sums(std::size_t(ow) * Channels);
        for (int oy = 0; oy < visible.height(); ++oy) {
            const Tap ty = yt[std::size_t(oy)];
            std::fill(sums.begin(), sums.end(), 0);
            for (int y = ty.first; y < ty.second; ++y) {
                const S *row = src + stride * std::size_t(y);
                for (int ox = 0; ox < ow; ++ox) {
                    const Tap tx = xt[std::size_t(ox)];
                    for (int x = tx.first; x < tx.second; ++x)
                        for (int c = 0; c < Channels; ++c)
                            sums[std::size_t(ox) * Channels + c] += index(row[std::size_t(x) * Channels + c]);
                }
            }
            T *out = dst + std::size_t(oy) * ow * Channels;
            for (int ox = 0; ox < ow; ++ox) {
                const Tap tx = xt[std::size_t(ox)];
                const std::uint64_t n = std::uint64_t(tx.second - tx.first) * std::uint64_t(ty.second - ty.first);
                for (int c = 0; c < Channels; ++c)
                    out[std::size_t(ox) * Channels + c] = T((sums[std::size_t(ox) * Channels + c] + n / 2) / n);
            }
        }
        return;
    }
    for (int oy = 0; oy < visible.height(); ++oy) {
        const Tap ty = yt[std::size_t(oy)];
        const S *r0 = src + stride * std::size_t(ty.first);
        const S *r1 = src + stride * std::size_t(ty.second);
        T *out = dst + std::size_t(oy) * ow * Channels;
        if (!smooth) {
            for (int ox = 0; ox < ow; ++ox)
                for (int c = 0; c < Channels; ++c)
                    out[std::size_t(ox) * Channels + c] = T(index(r0[std::size_t(xt[std::size_t(ox)].first) * Channels + c]));
            continue;
        }
        const std::uint32_t wy = std::uint32_t(ty.weight);
        for (int ox = 0; ox < ow; ++ox) {
            const Tap tx = xt[std::size_t(ox)];
            const std::uint32_t wx = std::uint32_t(tx.weight);
            for (int c = 0; c < Channels; ++c) {
                const std::size_t a = std::size_t(tx.first) * Channels + c, b = std::size_t(tx.second) * Channels + c;
                const std::uint32_t top = index(r0[a]) * (256 - wx) + index(r0[b]) * wx;
                const std::uint32_t bottom = index(r1[a]) * (256 - wx) + index(r1[b]) * wx;
                out[std::size_t(ox) * Channels + c] = T((top * (256 - wy) + bottom * wy + 32768) >> 16);
            }
        }
    }
}

// The first item of the VOI LUT Sequence, when its descriptor and data agree.
void takeVoiLut(DcmDataset *ds, DecodedImage &out)
{
    DcmItem *item = nullptr;
    if (ds->findAndGetSequenceItem(DCM_VOILUTSequence, item, 0).bad() || !item)
        return;
    Uint16 entries = 0, first = 0, bits = 0;
    if (item->findAndGetUint16(DCM_LUTDescriptor, entries, 0).bad() || item->findAndGetUint16(DCM_LUTDescriptor, first, 1).bad()
        || item->findAndGetUint16(DCM_LUTDescriptor, bits, 2).bad())
        return;
    const unsigned long n = entries == 0 ? 65536 : entries;
    const Uint16 *data = nullptr;
    unsigned long count = 0;
    if (item->findAndGetUint16Array(DCM_LUTData, data, &count).bad() || !data || count < n || bits < 1 || bits > 16)
        return;
    Uint16 pixelRepresentation = 0;
    ds->findAndGetUint16(DCM_PixelRepresentation, pixelRepresentation);
    out.voiFirst = pixelRepresentation ? double(Sint16(first)) : double(first);
    out.voiBits = bits;
    const Uint16 mask = Uint16((1u << bits) - 1);
    out.voiLut.resize(n);
    for (unsigned long i = 0; i < n; ++i)
        out.voiLut[i] = data[i] & mask;
}

// Native greyscale pixels (the common case of CT, MR, CR and most captures) stay in the data
// set: one pass finds their range, and sampling reads them through the index transform. False
// when the layout needs the general decoder.
template<typename T>
void takeNative(const T *raw, std::size_t count, int stored, int high, bool isSigned, DecodedImage &out)
{
    out.shift = high + 1 - stored;
    out.mask = (1u << stored) - 1;
    out.flip = isSigned ? 1u << (stored - 1) : 0; // signed values biased to keep their order
    std::uint32_t min = out.mask, max = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t v = ((std::uint32_t(raw[i]) >> out.shift) & out.mask) ^ out.flip;
        min = std::min(min, v);
        max = std::max(max, v);
    }
    out.offset = min;
    out.base = double(min) - double(out.flip);
    out.step = 1;
    out.levels = int(max - min) + 1;
    out.nativeBytes = int(sizeof(T));
}

bool takeNativeGrey(const Image &image, DcmDataset *ds, E_TransferSyntax xfer, DecodedImage &out)
{
    if (DcmXfer(xfer).isEncapsulated())
        return false;
    Uint16 rows = 0, columns = 0, samples = 1, allocated = 0, stored = 0, high = 0, representation = 0;
    OFString photometric;
    if (ds->findAndGetUint16(DCM_Rows, rows).bad() || ds->findAndGetUint16(DCM_Columns, columns).bad()
        || ds->findAndGetUint16(DCM_BitsAllocated, allocated).bad() || ds->findAndGetUint16(DCM_BitsStored, stored).bad()
        || ds->findAndGetUint16(DCM_HighBit, high).bad() || ds->findAndGetOFString(DCM_PhotometricInterpretation, photometric).bad())
        return false;
    ds->findAndGetUint16(DCM_SamplesPerPixel, samples);
    ds->findAndGetUint16(DCM_PixelRepresentation, representation);
    const bool mono1 = photometric == "MONOCHROME1";
    if (samples != 1 || !(mono1 || photometric == "MONOCHROME2") || (allocated != 8 && allocated != 16) || stored == 0
        || stored > allocated || high + 1 < stored || high >= allocated || rows == 0 || columns == 0)
        return false;
    DcmElement *element = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, element).bad() || !element)
        return false;
    const std::size_t count = std::size_t(rows) * columns;
    if (element->getLength() < count * (allocated / 8))
        return false;
    if (allocated == 16) {
        Uint16 *raw = nullptr;
        if (element->getUint16Array(raw).bad() || !raw)
            return false;
        takeNative(raw, count, stored, high, representation == 1, out);
    } else {
        Uint8 *raw = nullptr;
        if (element->getUint8Array(raw).bad() || !raw)
            return false;
        takeNative(raw, count, stored, high, representation == 1, out);
    }
    out.width = columns;
    out.height = rows;
    out.inverse = mono1;
    out.source = image;
    return true;
}

// Rescale, the image's own window and VOI LUT, once the stored values are taken.
void finishGrey(DcmDataset *ds, DecodedImage &out)
{
    out.slope = float64(ds, DCM_RescaleSlope, 1);
    if (out.slope == 0)
        out.slope = 1;
    out.intercept = float64(ds, DCM_RescaleIntercept, 0);
    takeVoiLut(ds, out);
    const double width = float64(ds, DCM_WindowWidth, 0);
    if (width >= 1) {
        out.defaultWidth = width;
        out.defaultLevel = float64(ds, DCM_WindowCenter, 0);
    } else {
        const double a = out.modalityValue(0), b = out.modalityValue(out.levels - 1);
        out.defaultWidth = std::max(1.0, std::abs(b - a) + 1);
        out.defaultLevel = (a + b) / 2 + 0.5;
    }
}

// The first frame of JPEG 2000 pixel data, decoded by OpenJPEG.
void takeJpeg2000(DcmDataset *ds, DecodedImage &out)
{
    const Jpeg2000Frame frame = decodeJpeg2000(ds);
    out.width = frame.width;
    out.height = frame.height;
    const std::size_t pixels = std::size_t(frame.width) * std::size_t(frame.height);
    if (pixels == 0)
        fail(QStringLiteral("Empty image"));
    OFString photometric;
    ds->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    if (frame.components == 3) {
        out.colour = true;
        out.rgb.resize(pixels * 3);
        const int shift = std::max(0, frame.precision - 8);
        const int bias = frame.isSigned ? 1 << (frame.precision - 1) : 0;
        const auto to8 = [&](std::int32_t v) { return std::uint8_t(std::clamp((v + bias) >> shift, 0, 255)); };
        // Only YBR_FULL needs converting: the codestream undoes its own ICT and RCT.
        const bool ybr = photometric == "YBR_FULL" || photometric == "YBR_FULL_422";
        for (std::size_t i = 0; i < pixels; ++i) {
            const double a = to8(frame.samples[i * 3]), b = to8(frame.samples[i * 3 + 1]), c = to8(frame.samples[i * 3 + 2]);
            if (ybr) {
                out.rgb[i * 3] = std::uint8_t(std::clamp(std::lround(a + 1.402 * (c - 128)), 0L, 255L));
                out.rgb[i * 3 + 1] = std::uint8_t(std::clamp(std::lround(a - 0.344136 * (b - 128) - 0.714136 * (c - 128)), 0L, 255L));
                out.rgb[i * 3 + 2] = std::uint8_t(std::clamp(std::lround(a + 1.772 * (b - 128)), 0L, 255L));
            } else {
                out.rgb[i * 3] = std::uint8_t(a);
                out.rgb[i * 3 + 1] = std::uint8_t(b);
                out.rgb[i * 3 + 2] = std::uint8_t(c);
            }
        }
        return;
    }
    takeGrey(frame.samples.data(), pixels, out);
    out.inverse = photometric == "MONOCHROME1";
    finishGrey(ds, out);
}

} // namespace

namespace {
// A colour JPEG (YCbCr) of one frame in one fragment, as captured frames are written: decoded by
// libjpeg-turbo, several times faster than the toolkit's decoder. Kept for the figure of
// `SHOW_VIEWER=1 bench/capture.sh` (100 frames back to back at 1920x1080, the viewer showing each):
// the GUI thread's longest pause 145-204 ms through the toolkit's decoder, 30 ms through this.
// False for anything else.
bool takeColourJpeg(DcmDataset *ds, E_TransferSyntax xfer, DecodedImage &out)
{
    Uint16 samples = 0, bits = 0, rows = 0, columns = 0;
    OFString pi;
    Sint32 frames = 1;
    ds->findAndGetSint32(DCM_NumberOfFrames, frames);
    if ((xfer != EXS_JPEGProcess1 && xfer != EXS_JPEGProcess2_4) || frames > 1
        || ds->findAndGetUint16(DCM_SamplesPerPixel, samples).bad() || samples != 3
        || ds->findAndGetUint16(DCM_BitsAllocated, bits).bad() || bits != 8
        || ds->findAndGetUint16(DCM_Rows, rows).bad() || ds->findAndGetUint16(DCM_Columns, columns).bad()
        || ds->findAndGetOFString(DCM_PhotometricInterpretation, pi).bad()
        || (pi != "YBR_FULL_422" && pi != "YBR_FULL"))
        return false;
    DcmElement *elem = nullptr;
    DcmPixelSequence *seq = nullptr;
    DcmPixelItem *item = nullptr;
    Uint8 *data = nullptr;
    if (ds->findAndGetElement(DCM_PixelData, elem).bad() || !elem
        || static_cast<DcmPixelData *>(elem)->getEncapsulatedRepresentation(xfer, nullptr, seq).bad() || !seq
        || seq->card() != 2 || seq->getItem(item, 1).bad() || !item || item->getUint8Array(data).bad() || !data)
        return false;
    if (!decodeJpegRgb(data, item->getLength(), columns, rows, out.rgb))
        return false;
    out.width = columns;
    out.height = rows;
    out.colour = true;
    return true;
}
} // namespace

std::shared_ptr<const DecodedImage> DecodedImage::decode(const Image &image, int frame)
{
    DcmFileFormat *file = image.fileFormat();
    if (!file || image.frameCount() == 0)
        fail(QStringLiteral("No pixel data"));
    image.requireDecodable();
    DcmDataset *ds = file->getDataset();
    try {
        const E_TransferSyntax xfer = ds->getOriginalXfer() == EXS_Unknown ? EXS_LittleEndianExplicit : ds->getOriginalXfer();
        if (isJpeg2000(DcmXfer(xfer).getXferID())) {
            if (frame != 0)
                fail(QStringLiteral("Only the first frame of JPEG 2000 data is shown"));
            auto out = std::make_shared<DecodedImage>();
            takeJpeg2000(ds, *out);
            return out;
        }
        if (DcmXfer(xfer).isEncapsulated() && !DcmCodecList::canChangeCoding(xfer, EXS_LittleEndianExplicit))
            fail(QStringLiteral("No decoder for %1").arg(QString::fromLatin1(DcmXfer(xfer).getXferName())));
        auto out = std::make_shared<DecodedImage>();
        if (frame < 0 || frame >= image.frameCount())
            fail(QStringLiteral("The image has no frame %1").arg(frame + 1));
        if (frame == 0 && takeNativeGrey(image, ds, xfer, *out)) {
            finishGrey(ds, *out);
            return out;
        }
        if (frame == 0 && takeColourJpeg(ds, xfer, *out))
            return out;
        // Partial access decodes only the first frame of compressed data; native data is in memory.
        const unsigned long flags = CIF_IgnoreModalityTransformation | (DcmXfer(xfer).isEncapsulated() ? CIF_UsePartialAccessToPixelData : 0);
        DicomImage di(ds, xfer, flags, unsigned(frame), 1);
        if (di.getStatus() != EIS_Normal)
            fail(QString::fromLatin1(DicomImage::getString(di.getStatus())));
        out->width = int(di.getWidth());
        out->height = int(di.getHeight());
        const std::size_t pixels = std::size_t(out->width) * std::size_t(out->height);
        if (pixels == 0)
            fail(QStringLiteral("Empty image"));
        if (!di.isMonochrome()) {
            out->colour = true;
            out->rgb.resize(pixels * 3);
            if (!di.getOutputData(out->rgb.data(), out->rgb.size(), 8, 0, 0))
                fail(QStringLiteral("Colour conversion failed"));
            return out;
        }
        const DiPixel *inter = di.getInterData();
        if (!inter || !inter->getData() || inter->getCount() < pixels)
            fail(QStringLiteral("Pixel data incomplete"));
        const void *data = inter->getData();
        switch (inter->getRepresentation()) {
        case EPR_Uint8: takeGrey(static_cast<const Uint8 *>(data), pixels, *out); break;
        case EPR_Sint8: takeGrey(static_cast<const Sint8 *>(data), pixels, *out); break;
        case EPR_Uint16: takeGrey(static_cast<const Uint16 *>(data), pixels, *out); break;
        case EPR_Sint16: takeGrey(static_cast<const Sint16 *>(data), pixels, *out); break;
        case EPR_Uint32: takeGrey(static_cast<const Uint32 *>(data), pixels, *out); break;
        case EPR_Sint32: takeGrey(static_cast<const Sint32 *>(data), pixels, *out); break;
        }
        out->inverse = di.getPhotometricInterpretation() == EPI_Monochrome1;
        finishGrey(ds, *out);
        return out;
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Not enough memory"));
    }
}

namespace {
inline std::uint8_t windowed(double value, double width, double level)
{
    width = std::max(1.0, width);
    const double centre = level - 0.5, half = (width - 1) / 2;
    if (value <= centre - half)
        return 0;
    if (value > centre + half)
        return 255;
    return std::uint8_t(std::clamp(std::lround(((value - centre) / (width - 1) + 0.5) * 255), 0L, 255L));
}
} // namespace

std::uint8_t windowValue(double value, double width, double level) { return windowed(value, width, level); }

QRectF placeImage(const QRectF &tile, int width, int height, double zoom, bool stretch, double panX, double panY)
{
    if (width <= 0 || height <= 0)
        return {};
    const double scale = stretch ? std::min(tile.width() / width, tile.height() / height) : zoom;
    const QSizeF size(width * scale, height * scale);
    QPointF centre = tile.center();
    if (!stretch)
        centre -= QPointF(panX, panY);
    return {centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height()};
}

namespace {

// The native pixels of the source data set, fetched anew for each use so that they are never
// read after the data set changed; null when they no longer match the decoded size.
const void *nativePixels(const DecodedImage &image)
{
    DcmDataset *ds = image.source.fileFormat()->getDataset();
    Uint16 rows = 0, columns = 0;
    DcmElement *element = nullptr;
    if (ds->findAndGetUint16(DCM_Rows, rows).bad() || ds->findAndGetUint16(DCM_Columns, columns).bad()
        || rows != image.height || columns != image.width || ds->findAndGetElement(DCM_PixelData, element).bad() || !element
        || element->getLength() < std::size_t(rows) * columns * image.nativeBytes)
        return nullptr;
    if (image.nativeBytes == 2) {
        Uint16 *p = nullptr;
        return element->getUint16Array(p).good() ? p : nullptr;
    }
    Uint8 *p = nullptr;
    return element->getUint8Array(p).good() ? p : nullptr;
}

template<typename S>
void sampleNative(const DecodedImage &image, const S *src, const QRectF &placed, const QRect &visible, bool smooth, Sampled &s)
{
    const auto index = [shift = image.shift, mask = image.mask, flip = image.flip, offset = image.offset](S raw) {
        return (((std::uint32_t(raw) >> shift) & mask) ^ flip) - offset;
    };
    const std::size_t n = std::size_t(s.width) * std::size_t(s.height);
    if (image.levels <= 256) {
        s.narrowIndices.resize(n);
        sample<1>(src, image.width, image.height, placed, visible, smooth, s.narrowIndices.data(), index);
    } else {
        s.indices.resize(n);
        sample<1>(src, image.width, image.height, placed, visible, smooth, s.indices.data(), index);
    }
}

} // namespace

Sampled sampleImage(const DecodedImage &image, const QRectF &placed, const QRect &visible, bool smooth)
{
    Sampled s;
    if (visible.isEmpty() || placed.isEmpty())
        return s;
    s.width = visible.width();
    s.height = visible.height();
    const std::size_t n = std::size_t(s.width) * std::size_t(s.height);
    if (image.nativeBytes != 0) {
        const void *raw = nativePixels(image);
        if (!raw)
            return {};
        if (image.nativeBytes == 2)
            sampleNative(image, static_cast<const std::uint16_t *>(raw), placed, visible, smooth, s);
        else
            sampleNative(image, static_cast<const std::uint8_t *>(raw), placed, visible, smooth, s);
    } else if (image.colour) {
        s.rgb.resize(n * 3);
        sample<3>(image.rgb.data(), image.width, image.height, placed, visible, smooth, s.rgb.data());
    } else if (!image.narrowIndices.empty()) {
        s.narrowIndices.resize(n);
        sample<1>(image.narrowIndices.data(), image.width, image.height, placed, visible, smooth, s.narrowIndices.data());
    } else {
        s.indices.resize(n);
        sample<1>(image.indices.data(), image.width, image.height, placed, visible, smooth, s.indices.data());
    }
    return s;
}

QImage windowImage(const DecodedImage &image, const Sampled &sampled, double width, double level, bool voiLut)
{
    if (sampled.width == 0 || sampled.height == 0)
        return {};
    if (image.colour) {
        std::uint8_t lut[256];
        for (int v = 0; v < 256; ++v)
            lut[v] = windowValue(v, width, level);
        QImage out(sampled.width, sampled.height, QImage::Format_RGB32);
        const std::uint8_t *src = sampled.rgb.data();
        for (int y = 0; y < sampled.height; ++y) {
            auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < sampled.width; ++x, src += 3)
                dst[x] = 0xff000000u | QRgb(lut[src[0]]) << 16 | QRgb(lut[src[1]]) << 8 | lut[src[2]];
        }
        return out;
    }
    // Grey is written as 32-bit pixels: the screen's format, so that drawing is a plain copy.
    QImage out(sampled.width, sampled.height, QImage::Format_RGB32);
    mapGrey(sampled, greyTable(image, width, level, voiLut), out, QPoint(0, 0), QRect(0, 0, sampled.width, sampled.height));
    return out;
}

GreyTable greyTable(const DecodedImage &image, double width, double level, bool voiLut)
{
    GreyTable lut(std::size_t(image.levels));
    for (int i = 0; i < image.levels; ++i) {
        std::uint8_t v = 0;
        if (voiLut && !image.voiLut.empty()) {
            const double at = std::clamp(std::floor(image.modalityValue(i) - image.voiFirst), 0.0, double(image.voiLut.size() - 1));
            v = std::uint8_t((image.voiLut[std::size_t(at)] * 255 + ((1 << image.voiBits) - 1) / 2) / ((1 << image.voiBits) - 1));
        } else {
            v = windowed(image.modalityValue(i), width, level);
        }
        if (image.inverse)
            v = std::uint8_t(255 - v);
        lut[std::size_t(i)] = 0xff000000u | QRgb(v) << 16 | QRgb(v) << 8 | v;
    }
    return lut;
}

void mapGrey(const Sampled &sampled, const GreyTable &table, QImage &target, QPoint origin, const QRect &area)
{
    const auto map = [&](const auto *src) {
        // Locals, so that the stores into the target are not taken to change them.
        const QRgb *const lut = table.data();
        const qsizetype stride = target.bytesPerLine();
        const std::size_t width = std::size_t(area.width()), rows = std::size_t(area.height());
        const std::size_t sourceStride = std::size_t(sampled.width);
        uchar *row = target.bits() + (origin.y() + area.y()) * stride + (origin.x() + area.x()) * qsizetype(sizeof(QRgb));
        src += std::size_t(area.y()) * sourceStride + std::size_t(area.x());
        for (std::size_t y = 0; y < rows; ++y, src += sourceStride, row += stride) {
            QRgb *const dst = reinterpret_cast<QRgb *>(row);
            // Four pixels a step, stored two at a time: the loop is bound by its stores.
            std::size_t x = 0;
            for (; x + 4 <= width; x += 4) {
                const std::uint64_t a = lut[src[x]] | std::uint64_t(lut[src[x + 1]]) << 32;
                const std::uint64_t b = lut[src[x + 2]] | std::uint64_t(lut[src[x + 3]]) << 32;
                std::memcpy(dst + x, &a, sizeof a);
                std::memcpy(dst + x + 2, &b, sizeof b);
            }
            for (; x < width; ++x)
                dst[x] = lut[src[x]];
        }
    };
    if (!sampled.narrowIndices.empty())
        map(sampled.narrowIndices.data());
    else
        map(sampled.indices.data());
}

void DecodedImage::modalityRow(int y, std::vector<double> &out) const
{
    out.assign(std::size_t(std::max(0, width)), 0.0);
    if (y < 0 || y >= height)
        return;
    const std::size_t w = std::size_t(width), at = std::size_t(y) * w;
    if (colour) {
        const std::uint8_t *p = rgb.data() + at * 3;
        for (std::size_t x = 0; x < w; ++x, p += 3)
            out[x] = (double(p[0]) + p[1] + p[2]) / 3;
        return;
    }
    if (nativeBytes != 0) {
        const void *raw = nativePixels(*this);
        if (!raw)
            return;
        const auto take = [&](const auto *row) {
            for (std::size_t x = 0; x < w; ++x)
                out[x] = modalityValue(int((((std::uint32_t(row[x]) >> shift) & mask) ^ flip) - offset));
        };
        if (nativeBytes == 2)
            take(static_cast<const std::uint16_t *>(raw) + at);
        else
            take(static_cast<const std::uint8_t *>(raw) + at);
        return;
    }
    for (std::size_t x = 0; x < w; ++x)
        out[x] = modalityValue(narrowIndices.empty() ? indices[at + x] : narrowIndices[at + x]);
}

QImage renderTile(const Image &image, int frame, const std::optional<RenderWindow> &window, QSize tile)
{
    const std::shared_ptr<const DecodedImage> pixels = DecodedImage::decode(image, frame);
    if (tile.isEmpty())
        tile = QSize(pixels->width, pixels->height);
    const QRectF local(QPointF(0, 0), QSizeF(tile));
    const QRectF placed = placeImage(local, pixels->width, pixels->height, 1, true, 0, 0);
    const QRect visible = placed.toAlignedRect() & local.toRect();
    const bool smooth = true;
    const Sampled sampled = sampleImage(*pixels, placed, visible, smooth);
    const bool voiLut = !window && !pixels->voiLut.empty();
    const QImage shown = windowImage(*pixels, sampled, window ? window->width : pixels->defaultWidth,
                                     window ? window->level : pixels->defaultLevel, voiLut);
    if (visible.topLeft() == QPoint(0, 0) && shown.size() == tile)
        return shown;
    QImage out(tile, QImage::Format_RGB32);
    out.fill(Qt::black);
    for (int y = 0; y < shown.height(); ++y)
        std::copy_n(reinterpret_cast<const QRgb *>(shown.constScanLine(y)), shown.width(),
                    reinterpret_cast<QRgb *>(out.scanLine(y + visible.top())) + visible.left());
    return out;
}

} // namespace orv::dicom
