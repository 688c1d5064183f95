#pragma once

#include "Image.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <functional>
#include <optional>

class QPainter;

namespace orv::dicom {

struct DecodedImage;

// An annotation drawn by the display surface over an image or over the surface itself.
// Geometry is in the label's space: left/top with width/height (a line or arrow runs from
// (left, top) to (left + width, top + height)); poly-lines and polygons use `points`.
struct Label
{
    enum Type { Text = 0, Ellipse = 1, Rectangle = 2, Line = 3, PolyLine = 4, Polygon = 5, SideMarker = 7, Arrow = 10 };
    // Image: image pixel coordinates (the label follows zoom, pan and stretch). Cell: pixels
    // from the top-left corner of the image's tile. Marker: 0..1000 across and down the tile.
    // Surface: pixels of the display surface (labels of the surface itself).
    enum class Space { Image, Cell, Marker, Surface };

    int type = Text;
    Space space = Space::Image;
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    QList<QPointF> points;
    QString text;
    QString fontName = QStringLiteral("Arial");
    double fontSize = 12;
    QColor foreColour = QColor(255, 0, 0);
    QColor backColour = QColor(64, 64, 64);
    bool transparent = true;
    int lineWidth = 1;
    // 0 left, 1 centre, 2 right; 8 added: the text sits at the bottom of its box.
    int alignment = 0;

    void addPoint(const QPointF &p) { points.append(p); }
    QRectF bounds() const;
    // True for the closed shapes an area can be measured in.
    bool isClosed() const { return type == Rectangle || type == Ellipse || type == Polygon; }
    // The same label with every coordinate passed through `map` (sizes scale with it).
    Label mapped(const std::function<QPointF(const QPointF &)> &map) const;
};

// Draws a label whose coordinates are already in the painter's pixels. `rubberBand` draws a
// label still being drawn: text as its box, a polygon as an open poly-line.
void paintLabel(QPainter &painter, const Label &label, bool rubberBand = false);

// Measurements of a label in image pixel coordinates. The unit is "mm" when the image is
// calibrated at the label's place (an ultrasound region holding its points, else Pixel
// Spacing, else Imager Pixel Spacing) and "pixels" otherwise.
struct Measurement
{
    double value = 0;
    QString unit;
};
Measurement measureLength(const Image &image, const Label &label);
Measurement measureArea(const Image &image, const Label &label);
// The mean modality value (after rescale; for colour the mean of the three samples) of the
// pixels whose centres lie inside the closed label; nullopt when none do.
std::optional<double> meanInside(const DecodedImage &pixels, const Label &label);
// A measured number with at most two decimals and no trailing zeros ("50", "12.5", "0.33").
QString measureText(double value);

} // namespace orv::dicom
