#pragma once

#include "Image.h"
#include "Picture.h"

#include <QImage>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class DcmDataset;

namespace orv::dicom {

using IndexBuffer = std::vector<std::uint16_t, UninitialisedAllocator<std::uint16_t>>;

// The first frame of an image, decoded once into the values that display needs, so that a
// window change only re-maps through a lookup table.
// Greyscale: stored values as indices, one byte each when 256 levels suffice, else two, or read
// in place (value = base + index * step, then slope and intercept
// give the modality value that width and level refer to). Colour: 8-bit interleaved RGB.
struct DecodedImage
{
    int width = 0;
    int height = 0;
    bool colour = false;
    bool inverse = false; // MONOCHROME1: high values are dark
    // greyscale
    IndexBuffer indices;
    PixelBuffer narrowIndices;
    // Native greyscale pixels are not copied: they stay in the source's data set and each is
    // read as index (((raw >> shift) & mask) ^ flip) - offset, raw being nativeBytes wide.
    Image source;
    int nativeBytes = 0;
    int shift = 0;
    std::uint32_t mask = 0;
    std::uint32_t flip = 0;
    std::uint32_t offset = 0;
    double base = 0;
    double step = 1;
    int levels = 1;
    double slope = 1;
    double intercept = 0;
    // the first VOI LUT of the image, if it has one: modality value first + i shows as
    // voiLut[i] of voiBits bits (values beyond either end take the end entries)
    std::vector<std::uint16_t> voiLut;
    double voiFirst = 0;
    int voiBits = 8;
    // colour
    PixelBuffer rgb;
    // the window the image asks for (its first Window Center/Width), else its value range
    double defaultWidth = 256;
    double defaultLevel = 128;

    // Decodes the first frame of every photometric interpretation and transfer syntax the
    // toolkit reads. Throws Error with a short reason when the image cannot be shown.
    // `frame` (0-based) other than 0 is decoded by the general decoder (not for JPEG 2000).
    static std::shared_ptr<const DecodedImage> decode(const Image &image, int frame = 0);

    double modalityValue(int index) const { return (base + index * step) * slope + intercept; }
    // Row y (0-based) as modality values; for colour the mean of the three samples. `out` is
    // resized to the width; a row outside the image gives zeros.
    void modalityRow(int y, std::vector<double> &out) const;
    // Stores index i of every pixel, in the narrow form when levels allow it.
    template<typename F>
    void putIndices(std::size_t count, F index)
    {
        if (levels <= 256) {
            narrowIndices.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                narrowIndices[i] = std::uint8_t(index(i));
        } else {
            indices.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                indices[i] = std::uint16_t(index(i));
        }
    }
};

// Display value (0..255) of a modality value under a linear window of the given width and
// level (centre); widths below 1 count as 1.
std::uint8_t windowValue(double value, double width, double level);

// Where an image of the given size lies in a tile: fitted (aspect kept) when stretched, else
// `zoom` screen pixels per image pixel, centred and moved against the pan.
QRectF placeImage(const QRectF &tile, int width, int height, double zoom, bool stretch, double panX, double panY);

// The image's values sampled onto the screen pixels of `visible` (integer rectangle inside
// the tile) for an image placed at `placed`; nearest neighbour or smooth (bilinear when
// enlarging, area average when reducing). Greyscale gives indices, colour RGB triples.
struct Sampled
{
    int width = 0;
    int height = 0;
    IndexBuffer indices;
    PixelBuffer narrowIndices;
    PixelBuffer rgb;
};
Sampled sampleImage(const DecodedImage &image, const QRectF &placed, const QRect &visible, bool smooth);

// Maps sampled values through the window (or, with `voiLut`, the image's VOI LUT) into a
// picture ready to draw.
QImage windowImage(const DecodedImage &image, const Sampled &sampled, double width, double level, bool voiLut = false);

// The screen colour of each index of a greyscale image under the window (or its VOI LUT).
using GreyTable = std::vector<QRgb>;
GreyTable greyTable(const DecodedImage &image, double width, double level, bool voiLut = false);
// Writes the greyscale sampled values of `area` (in sampled coordinates) through `table` into
// `target` (32-bit RGB), the sampled origin lying at `origin` of the target. The caller keeps
// the area inside both.
void mapGrey(const Sampled &sampled, const GreyTable &table, QImage &target, QPoint origin, const QRect &area);

// The picture a display surface tile shows for the image with stretch-to-fit and smooth
// scaling on: at `tile` size (the image fitted, black around it), or, with an empty size, at
// one screen pixel per image pixel. Without a window the image's own (its VOI LUT if it has
// one). Throws Error when the image cannot be decoded.
struct RenderWindow
{
    double width = 0;
    double level = 0;
};
QImage renderTile(const Image &image, int frame, const std::optional<RenderWindow> &window, QSize tile = QSize());

} // namespace orv::dicom
