#include "Label.h"

#include "Rendering.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcitem.h>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace orv::dicom {

QRectF Label::bounds() const
{
    if ((type == PolyLine || type == Polygon) && !points.isEmpty())
        return QPolygonF(QVector<QPointF>(points.begin(), points.end())).boundingRect();
    return QRectF(left, top, width, height).normalized();
}

Label Label::mapped(const std::function<QPointF(const QPointF &)> &map) const
{
    Label out = *this;
    const QPointF a = map(QPointF(left, top)), b = map(QPointF(left + width, top + height));
    out.left = a.x();
    out.top = a.y();
    out.width = b.x() - a.x();
    out.height = b.y() - a.y();
    for (QPointF &p : out.points)
        p = map(p);
    return out;
}

namespace {

QFont labelFont(const Label &label)
{
    QString name = label.fontName;
    QFont font;
    if (name.endsWith(QLatin1String(" Italic"))) {
        font.setItalic(true);
        name.chop(7);
    }
    if (name.endsWith(QLatin1String(" Bold"))) {
        font.setBold(true);
        name.chop(5);
    }
    font.setFamily(name);
    font.setPointSizeF(label.fontSize > 0 ? label.fontSize : 8);
    return font;
}

void paintArrow(QPainter &painter, QPointF from, QPointF to, int width)
{
    painter.drawLine(from, to);
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length < 1)
        return;
    const QPointF u = d / length, n(-u.y(), u.x());
    const double head = std::min(length / 2, 8.0 + 2 * width);
    painter.drawLine(to, to - u * head + n * head / 2);
    painter.drawLine(to, to - u * head - n * head / 2);
}

} // namespace

void paintLabel(QPainter &painter, const Label &label, bool rubberBand)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPen pen(label.foreColour, std::max(1, label.lineWidth));
    painter.setPen(pen);
    const QBrush fill = label.transparent ? QBrush(Qt::NoBrush) : QBrush(label.backColour);
    const QRectF box = QRectF(label.left, label.top, label.width, label.height).normalized();
    const QPolygonF poly(QVector<QPointF>(label.points.begin(), label.points.end()));
    switch (label.type) {
    case Label::Text:
    case Label::SideMarker:
        if (rubberBand) {
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box);
            break;
        } else {
            painter.setFont(labelFont(label));
            const int horizontal = label.alignment % 8;
            const Qt::Alignment align = (horizontal == 1 ? Qt::AlignHCenter : horizontal == 2 ? Qt::AlignRight : Qt::AlignLeft)
                                        | (label.alignment >= 8 ? Qt::AlignBottom : Qt::AlignTop);
            // A label of no size grows from its top-left corner to fit its text.
            const QRectF area = box.width() < 1 || box.height() < 1 ? QRectF(box.topLeft(), QSizeF(4000, 4000)) : box;
            const QRectF used = painter.boundingRect(area, int(align), label.text);
            if (!label.transparent)
                painter.fillRect(used, label.backColour);
            painter.drawText(area, int(align), label.text);
        }
        break;
    case Label::Ellipse:
        painter.setBrush(fill);
        painter.drawEllipse(box);
        break;
    case Label::Rectangle:
        painter.setBrush(fill);
        painter.drawRect(box);
        break;
    case Label::Line:
        painter.drawLine(QPointF(label.left, label.top), QPointF(label.left + label.width, label.top + label.height));
        break;
    case Label::Arrow:
        paintArrow(painter, QPointF(label.left, label.top), QPointF(label.left + label.width, label.top + label.height),
                   label.lineWidth);
        break;
    case Label::PolyLine:
        painter.drawPolyline(poly);
        break;
    case Label::Polygon:
        if (rubberBand) {
            painter.drawPolyline(poly);
        } else {
            painter.setBrush(fill);
            painter.drawPolygon(poly);
        }
        break;
    default:
        break;
    }
    painter.restore();
}

namespace {

// Millimetres per pixel across (x) and down (y) at the given image points; nullopt when
// nothing calibrates the image there.
std::optional<std::pair<double, double>> spacing(const Image &image, const QList<QPointF> &at)
{
    DcmFileFormat *file = image.fileFormat();
    if (!file)
        return std::nullopt;
    DcmDataset *ds = file->getDataset();
    // Ultrasound regions in centimetres (unit code 3) whose rectangle holds every point.
    for (unsigned long i = 0;; ++i) {
        DcmItem *region = nullptr;
        if (ds->findAndGetSequenceItem(DCM_SequenceOfUltrasoundRegions, region, long(i)).bad() || !region)
            break;
        Uint32 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        Uint16 unitX = 0, unitY = 0;
        Float64 dx = 0, dy = 0;
        if (region->findAndGetUint32(DCM_RegionLocationMinX0, x0).bad() || region->findAndGetUint32(DCM_RegionLocationMinY0, y0).bad()
            || region->findAndGetUint32(DCM_RegionLocationMaxX1, x1).bad() || region->findAndGetUint32(DCM_RegionLocationMaxY1, y1).bad()
            || region->findAndGetUint16(DCM_PhysicalUnitsXDirection, unitX).bad()
            || region->findAndGetUint16(DCM_PhysicalUnitsYDirection, unitY).bad()
            || region->findAndGetFloat64(DCM_PhysicalDeltaX, dx).bad() || region->findAndGetFloat64(DCM_PhysicalDeltaY, dy).bad())
            continue;
        if (unitX != 3 || unitY != 3 || !(std::abs(dx) > 0) || !(std::abs(dy) > 0))
            continue;
        const QRectF area(QPointF(x0, y0), QPointF(double(x1) + 1, double(y1) + 1));
        bool inside = !at.isEmpty();
        for (const QPointF &p : at)
            inside = inside && area.contains(p);
        if (inside)
            return std::make_pair(std::abs(dx) * 10, std::abs(dy) * 10);
    }
    for (const DcmTagKey &tag : {DCM_PixelSpacing, DCM_ImagerPixelSpacing}) {
        Float64 row = 0, column = 0;
        if (ds->findAndGetFloat64(tag, row, 0).good() && ds->findAndGetFloat64(tag, column, 1).good() && row > 0 && column > 0
            && std::isfinite(row) && std::isfinite(column))
            return std::make_pair(double(column), double(row)); // the first value is the spacing between rows
    }
    return std::nullopt;
}

QList<QPointF> corners(const Label &label)
{
    if (label.type == Label::PolyLine || label.type == Label::Polygon)
        return label.points;
    return {QPointF(label.left, label.top), QPointF(label.left + label.width, label.top + label.height)};
}

double polygonArea(const QList<QPointF> &p)
{
    double twice = 0;
    for (qsizetype i = 0; i < p.size(); ++i) {
        const QPointF &a = p[i], &b = p[(i + 1) % p.size()];
        twice += a.x() * b.y() - b.x() * a.y();
    }
    return std::abs(twice) / 2;
}

} // namespace

Measurement measureLength(const Image &image, const Label &label)
{
    const QList<QPointF> points = corners(label);
    const auto mm = spacing(image, points);
    const double sx = mm ? mm->first : 1, sy = mm ? mm->second : 1;
    double length = 0;
    for (qsizetype i = 1; i < points.size(); ++i)
        length += std::hypot((points[i].x() - points[i - 1].x()) * sx, (points[i].y() - points[i - 1].y()) * sy);
    return {length, mm ? QStringLiteral("mm") : QStringLiteral("pixels")};
}

Measurement measureArea(const Image &image, const Label &label)
{
    const QList<QPointF> points = corners(label);
    const auto mm = spacing(image, points);
    const double scale = mm ? mm->first * mm->second : 1;
    double area = 0;
    if (label.type == Label::Polygon)
        area = polygonArea(label.points);
    else if (label.type == Label::Rectangle)
        area = std::abs(label.width * label.height);
    else if (label.type == Label::Ellipse)
        area = std::numbers::pi * std::abs(label.width / 2) * std::abs(label.height / 2);
    return {area * scale, mm ? QStringLiteral("mm") : QStringLiteral("pixels")};
}

std::optional<double> meanInside(const DecodedImage &pixels, const Label &label)
{
    if (!label.isClosed())
        return std::nullopt;
    const QRectF box = label.bounds();
    const QPolygonF poly(QVector<QPointF>(label.points.begin(), label.points.end()));
    const double cx = box.center().x(), cy = box.center().y(), rx = box.width() / 2, ry = box.height() / 2;
    const auto inside = [&](double x, double y) {
        switch (label.type) {
        case Label::Rectangle: return box.contains(x, y);
        case Label::Ellipse:
            return rx > 0 && ry > 0 && std::pow((x - cx) / rx, 2) + std::pow((y - cy) / ry, 2) <= 1;
        default: return poly.containsPoint(QPointF(x, y), Qt::OddEvenFill);
        }
    };
    const int y0 = std::max(0, int(std::floor(box.top()))), y1 = std::min(pixels.height - 1, int(std::ceil(box.bottom())));
    const int x0 = std::max(0, int(std::floor(box.left()))), x1 = std::min(pixels.width - 1, int(std::ceil(box.right())));
    double sum = 0;
    std::size_t n = 0;
    std::vector<double> row;
    for (int y = y0; y <= y1; ++y) {
        bool any = false;
        for (int x = x0; x <= x1 && !any; ++x)
            any = inside(x + 0.5, y + 0.5);
        if (!any)
            continue;
        pixels.modalityRow(y, row);
        for (int x = x0; x <= x1; ++x)
            if (inside(x + 0.5, y + 0.5)) {
                sum += row[std::size_t(x)];
                ++n;
            }
    }
    if (n == 0)
        return std::nullopt;
    return sum / double(n);
}

QString measureText(double value)
{
    QString text = QString::number(std::round(value * 100) / 100, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

} // namespace orv::dicom
