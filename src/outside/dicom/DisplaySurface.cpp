// Display speed measured with bench/viewer.sh (figures at the top of Rendering.cpp): a W/L drag
// over 3x3 CT tiles maps each tile straight into the screen's backing store: 0.72-0.75x the
// time DicomImage takes to window the same 9 images on a quiet machine (up to 0.91x while
// others build).
#include "DisplaySurface.h"

#include "Rendering.h"

#include "outside/Error.h"

#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>

namespace orv::dicom {

namespace {
// What decoding an image gives: its pixels, or why it cannot be shown.
struct Decoding
{
    std::shared_ptr<const DecodedImage> pixels;
    QString reason;
};

// Safe on any thread.
Decoding decodeImage(const Image &image)
{
    Decoding d;
    try {
        d.pixels = DecodedImage::decode(image);
    } catch (const std::exception &ex) {
        d.reason = describe(ex);
    }
    return d;
}
} // namespace

struct DisplaySurface::Entry
{
    Image image;
    bool tried = false;
    QFuture<Decoding> pending; // a decode running in the background
    bool decoding = false;
    std::shared_ptr<const DecodedImage> pixels;
    QString reason;

    double width = 256;
    double level = 128;
    bool voiLut = false;
    double zoom = 1;
    bool stretch = true;
    double panX = 0;
    double panY = 0;
    bool enhance1 = true;
    bool enhance2 = true;
    int highlightStyle = 0;
    QColor highlightColour = Qt::red;
    QList<Label> labels;

    // What was last drawn, in tile coordinates: the sampled pixels for one placement, and
    // the picture for one window over them.
    bool sampledValid = false;
    QSizeF tileSize;
    QRectF placed;
    QRect visible;
    bool smooth = true;
    Sampled sampled;
    QImage shown;
    double shownWidth = 0;
    double shownLevel = 0;
    bool shownVoiLut = false;
    // The grey colours for one window, when grey is mapped straight onto the screen, and
    // whether the last paint did so with that window.
    GreyTable table;
    double tableWidth = 0;
    double tableLevel = 0;
    bool tableVoiLut = false;
    bool mappedDirectly = false;
};

DisplaySurface::DisplaySurface(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setMinimumSize(64, 64);
}

DisplaySurface::~DisplaySurface() = default;

void DisplaySurface::setRows(int rows) { setTiles(rows, m_columns); }
void DisplaySurface::setColumns(int columns) { setTiles(m_rows, columns); }

void DisplaySurface::setTiles(int rows, int columns)
{
    rows = std::max(1, rows);
    columns = std::max(1, columns);
    if (rows == m_rows && columns == m_columns)
        return;
    m_rows = rows;
    m_columns = columns;
    update();
    emit layoutChanged();
}

void DisplaySurface::setCurrentIndex(int index)
{
    index = m_collection->count() == 0 ? 0 : std::clamp(index, 1, m_collection->count());
    if (index == m_current)
        return;
    m_current = index;
    update();
    emit layoutChanged();
}

Image DisplaySurface::currentImage() const
{
    return m_current >= 1 && m_current <= m_collection->count() ? m_collection->item(m_current) : Image();
}

QRect DisplaySurface::tileRect(int tile) const
{
    const int r = tile / m_columns, c = tile % m_columns;
    const int x0 = c * width() / m_columns, x1 = (c + 1) * width() / m_columns;
    const int y0 = r * height() / m_rows, y1 = (r + 1) * height() / m_rows;
    return {x0, y0, x1 - x0, y1 - y0};
}

int DisplaySurface::imageIndexAt(int x, int y) const
{
    if (m_current < 1)
        return 0;
    for (int tile = 0; tile < m_rows * m_columns; ++tile)
        if (tileRect(tile).contains(x, y)) {
            const int index = m_current + tile;
            return index <= m_collection->count() ? index : 0;
        }
    return 0;
}

void DisplaySurface::refresh()
{
    QSet<const void *> present;
    for (int i = 1; i <= m_collection->count(); ++i)
        present.insert(m_collection->item(i).fileFormat());
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = present.contains(it.key()) ? std::next(it) : m_entries.erase(it);
    m_current = m_collection->count() == 0 ? 0 : std::clamp(m_current, 1, m_collection->count());
    update();
    emit layoutChanged();
}

DisplaySurface::Entry &DisplaySurface::entry(const Image &image) const
{
    auto &slot = m_entries[image.fileFormat()];
    if (!slot) {
        slot = std::make_shared<Entry>();
        slot->image = image;
    }
    return *slot;
}

namespace {
template<typename Entry>
void apply(Entry &e, const Decoding &d)
{
    e.tried = true;
    e.decoding = false;
    e.pixels = d.pixels;
    e.reason = d.reason;
    if (e.pixels) {
        e.width = e.pixels->defaultWidth;
        e.level = e.pixels->defaultLevel;
        e.voiLut = !e.pixels->voiLut.empty();
    }
}
} // namespace

DisplaySurface::Entry &DisplaySurface::decoded(const Image &image) const
{
    Entry &e = entry(image);
    if (!e.tried)
        apply(e, e.decoding ? e.pending.result() : decodeImage(e.image));
    return e;
}

void DisplaySurface::showCollection(ImageCollection *collection)
{
    m_collection = collection ? collection : &m_images;
    refresh();
}

void DisplaySurface::prepareVisible()
{
    QList<Entry *> visible;
    for (int tile = 0; tile < m_rows * m_columns && m_current >= 1; ++tile) {
        const int index = m_current + tile;
        if (index > m_collection->count())
            break;
        Entry *e = &entry(m_collection->item(index));
        visible.append(e);
        if (e->tried || e->decoding)
            continue;
        if (!m_backgroundDecoding) {
            apply(*e, decodeImage(e->image));
            continue;
        }
        // Decoded off the GUI thread, from a copy taken here: the toolkit's data set may not be
        // read on two threads at once, and the GUI thread goes on reading and completing the
        // shown object (sends, prints, the dump). The tile shows when its pixels are there.
        e->decoding = true;
        e->pending = QtConcurrent::run(decodeImage, e->image.clone());
        const void *key = e->image.fileFormat();
        std::weak_ptr<Entry> weak = m_entries.value(key);
        e->pending.then(this, [this, weak](const Decoding &d) {
            const std::shared_ptr<Entry> live = weak.lock();
            if (!live || live->tried)
                return;
            apply(*live, d);
            redraw(live->image);
            emit imageValuesChanged();
        });
    }
    for (const auto &e : std::as_const(m_entries))
        if (e->sampledValid && !visible.contains(e.get())) {
            e->sampledValid = false;
            e->sampled = Sampled();
            e->shown = QImage();
            e->table = GreyTable();
            e->mappedDirectly = false;
        }
}

void DisplaySurface::changed(const Image &image)
{
    redraw(image);
    emit imageValuesChanged();
}

double DisplaySurface::windowWidth(const Image &image) const { return decoded(image).width; }
double DisplaySurface::windowLevel(const Image &image) const { return decoded(image).level; }

void DisplaySurface::setWindowWidth(const Image &image, double width)
{
    setWindow(image, width, windowLevel(image));
}

void DisplaySurface::setWindowLevel(const Image &image, double level)
{
    setWindow(image, windowWidth(image), level);
}

void DisplaySurface::setWindow(const Image &image, double width, double level)
{
    Entry &e = decoded(image);
    if (e.width == width && e.level == level && !e.voiLut)
        return;
    e.voiLut = false;
    e.width = width;
    e.level = level;
    changed(image);
}

double DisplaySurface::zoom(const Image &image) const { return decoded(image).zoom; }

void DisplaySurface::setZoom(const Image &image, double zoom)
{
    Entry &e = decoded(image);
    if (e.zoom == zoom || !(zoom > 0) || !std::isfinite(zoom))
        return;
    e.zoom = zoom;
    changed(image);
}

bool DisplaySurface::stretchToFit(const Image &image) const { return decoded(image).stretch; }

void DisplaySurface::setStretchToFit(const Image &image, bool on)
{
    Entry &e = decoded(image);
    if (e.stretch == on)
        return;
    e.stretch = on;
    changed(image);
}

double DisplaySurface::panX(const Image &image) const { return decoded(image).panX; }
double DisplaySurface::panY(const Image &image) const { return decoded(image).panY; }

void DisplaySurface::setPan(const Image &image, double x, double y)
{
    Entry &e = decoded(image);
    if (e.panX == x && e.panY == y)
        return;
    e.panX = x;
    e.panY = y;
    changed(image);
}

bool DisplaySurface::displayEnhance1(const Image &image) const { return decoded(image).enhance1; }
bool DisplaySurface::displayEnhance2(const Image &image) const { return decoded(image).enhance2; }

void DisplaySurface::setDisplayEnhance(const Image &image, bool first, bool second)
{
    Entry &e = decoded(image);
    if (e.enhance1 == first && e.enhance2 == second)
        return;
    e.enhance1 = first;
    e.enhance2 = second;
    changed(image);
}

int DisplaySurface::highlightStyle(const Image &image) const { return entry(image).highlightStyle; }
QColor DisplaySurface::highlightColour(const Image &image) const { return entry(image).highlightColour; }

void DisplaySurface::setHighlight(const Image &image, int style, const QColor &colour)
{
    Entry &e = entry(image);
    e.highlightStyle = style;
    e.highlightColour = colour;
    redraw(image);
}

bool DisplaySurface::usesVoiLut(const Image &image) const { return decoded(image).voiLut; }

double DisplaySurface::defaultWidth(const Image &image) const
{
    const Entry &e = decoded(image);
    return e.pixels ? e.pixels->defaultWidth : 256;
}

double DisplaySurface::defaultLevel(const Image &image) const
{
    const Entry &e = decoded(image);
    return e.pixels ? e.pixels->defaultLevel : 128;
}

QString DisplaySurface::failureReason(const Image &image) const { return decoded(image).reason; }

void DisplaySurface::redraw(const Image &image, bool now)
{
    const void *key = image.fileFormat();
    for (int tile = 0; tile < m_rows * m_columns; ++tile) {
        const int index = m_current + tile;
        if (m_current < 1 || index > m_collection->count())
            break;
        if (m_collection->item(index).fileFormat() == key) {
            if (now)
                repaint(tileRect(tile));
            else
                update(tileRect(tile));
        }
    }
}

void DisplaySurface::paintEvent(QPaintEvent *event)
{
    prepareVisible();
    QPainter painter(this);
    // A tile with an image paints its own ground; the ground elsewhere is painted here.
    QRegion ground = event->region();
    QList<int> painted;
    for (int tile = 0; tile < m_rows * m_columns; ++tile) {
        const int index = m_current + tile;
        if (m_current < 1 || index > m_collection->count())
            break;
        if (event->region().intersects(tileRect(tile))) {
            painted << tile;
            ground -= tileRect(tile).adjusted(1, 1, -1, -1);
        }
    }
    for (const QRect &r : ground)
        painter.fillRect(r, Qt::black);
    for (int tile : std::as_const(painted))
        paintTile(painter, tile, m_collection->item(m_current + tile));
    painter.setPen(QColor(60, 60, 60));
    for (int tile = 0; tile < m_rows * m_columns; ++tile)
        painter.drawRect(tileRect(tile).adjusted(0, 0, -1, -1));
    for (const Label &label : std::as_const(m_surfaceLabels))
        paintLabel(painter, label);
    if (m_rubberBand)
        paintLabel(painter, *m_rubberBand, true);
}

int DisplaySurface::tileOf(const Image &image) const
{
    if (m_current < 1)
        return -1;
    for (int tile = 0; tile < m_rows * m_columns; ++tile) {
        const int index = m_current + tile;
        if (index > m_collection->count())
            break;
        if (m_collection->item(index).fileFormat() == image.fileFormat())
            return tile;
    }
    return -1;
}

QList<Label> DisplaySurface::labels(const Image &image) const { return entry(image).labels; }

void DisplaySurface::addLabel(const Image &image, const Label &label)
{
    entry(image).labels.append(label);
    redraw(image);
}

void DisplaySurface::removeLabels(const Image &image, int type)
{
    Entry &e = entry(image);
    const auto removed = e.labels.removeIf([type](const Label &l) { return type < 0 || l.type == type; });
    if (removed > 0)
        redraw(image);
}

void DisplaySurface::addSurfaceLabel(const Label &label)
{
    m_surfaceLabels.append(label);
    update();
}

void DisplaySurface::clearSurfaceLabels()
{
    m_surfaceLabels.clear();
    update();
}

namespace {
QRect bandArea(const Label &label)
{
    const int margin = 12 + 2 * label.lineWidth;
    return label.bounds().toAlignedRect().adjusted(-margin, -margin, margin, margin);
}
} // namespace

void DisplaySurface::setRubberBand(const std::optional<Label> &label)
{
    // Only what the old and the new band cover is repainted.
    if (m_rubberBand)
        update(bandArea(*m_rubberBand));
    m_rubberBand = label;
    if (m_rubberBand)
        update(bandArea(*m_rubberBand));
}

std::optional<QRect> DisplaySurface::cellRect(const Image &image) const
{
    const int tile = tileOf(image);
    if (tile < 0)
        return std::nullopt;
    return tileRect(tile).adjusted(1, 1, -1, -1);
}

std::optional<QRectF> DisplaySurface::placedRect(const Image &image) const
{
    const auto cell = cellRect(image);
    if (!cell)
        return std::nullopt;
    const Entry &e = decoded(image);
    if (!e.pixels)
        return std::nullopt;
    const QRectF local(QPointF(0, 0), QSizeF(cell->size()));
    return placeImage(local, e.pixels->width, e.pixels->height, e.zoom, e.stretch, e.panX, e.panY).translated(cell->topLeft());
}

std::optional<QPointF> DisplaySurface::toImage(const Image &image, const QPointF &surfacePoint) const
{
    const auto placed = placedRect(image);
    if (!placed || placed->isEmpty())
        return std::nullopt;
    const Entry &e = decoded(image);
    return QPointF((surfacePoint.x() - placed->left()) * e.pixels->width / placed->width(),
                   (surfacePoint.y() - placed->top()) * e.pixels->height / placed->height());
}

std::optional<QPointF> DisplaySurface::toSurface(const Image &image, const QPointF &imagePoint) const
{
    const auto placed = placedRect(image);
    if (!placed)
        return std::nullopt;
    const Entry &e = decoded(image);
    return QPointF(placed->left() + imagePoint.x() * placed->width() / e.pixels->width,
                   placed->top() + imagePoint.y() * placed->height() / e.pixels->height);
}

std::optional<Label> DisplaySurface::onSurface(const Image &image, const Label &label) const
{
    switch (label.space) {
    case Label::Space::Surface:
        return label;
    case Label::Space::Image: {
        const auto placed = placedRect(image);
        if (!placed)
            return std::nullopt;
        const Entry &e = decoded(image);
        const double sx = placed->width() / e.pixels->width, sy = placed->height() / e.pixels->height;
        const QPointF origin = placed->topLeft();
        return label.mapped([&](const QPointF &p) { return origin + QPointF(p.x() * sx, p.y() * sy); });
    }
    case Label::Space::Cell: {
        const auto cell = cellRect(image);
        if (!cell)
            return std::nullopt;
        return label.mapped([&](const QPointF &p) { return p + QPointF(cell->topLeft()); });
    }
    case Label::Space::Marker: {
        const auto cell = cellRect(image);
        if (!cell)
            return std::nullopt;
        return label.mapped([&](const QPointF &p) {
            return QPointF(cell->left() + p.x() * cell->width() / 1000.0, cell->top() + p.y() * cell->height() / 1000.0);
        });
    }
    }
    return std::nullopt;
}

std::shared_ptr<const DecodedImage> DisplaySurface::pixels(const Image &image) const { return decoded(image).pixels; }

void DisplaySurface::paintTile(QPainter &painter, int tile, const Image &image)
{
    const QRect frame = tileRect(tile);
    const QRect inner = frame.adjusted(1, 1, -1, -1);
    Entry &e = entry(image);
    painter.save();
    painter.setClipRect(inner);
    if (!e.tried || !e.pixels)
        painter.fillRect(inner, Qt::black);
    if (!e.tried) {
        painter.setPen(QColor(120, 120, 120));
        painter.drawText(inner, Qt::AlignCenter, QStringLiteral("Loading..."));
    } else if (!e.pixels) {
        painter.setPen(QColor(170, 170, 170));
        painter.drawText(inner.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("Cannot display this image:\n%1").arg(e.reason));
    } else {
        const QRectF local(QPointF(0, 0), QSizeF(inner.size()));
        const QRectF placed = placeImage(local, e.pixels->width, e.pixels->height, e.zoom, e.stretch, e.panX, e.panY);
        const QRect visible = placed.toAlignedRect() & local.toRect();
        const bool smooth = placed.width() >= e.pixels->width ? e.enhance1 : e.enhance2;
        if (!e.sampledValid || e.placed != placed || e.visible != visible || e.smooth != smooth) {
            e.sampled = sampleImage(*e.pixels, placed, visible, smooth);
            e.sampledValid = true;
            e.placed = placed;
            e.visible = visible;
            e.smooth = smooth;
            e.shown = QImage();
            e.mappedDirectly = false;
        }
        const QRect at(inner.topLeft() + visible.topLeft(), QSize(e.sampled.width, e.sampled.height));
        for (const QRect &r : QRegion(inner) - at)
            painter.fillRect(r, Qt::black);
        // A new window is mapped straight onto the screen (a drag changes it with every paint);
        // a window painted twice is kept as a picture, which later paints (a label drawn over
        // the image) only copy.
        const bool shownStale = e.shown.isNull() || e.shownWidth != e.width || e.shownLevel != e.level || e.shownVoiLut != e.voiLut;
        const bool newWindow = !e.mappedDirectly || e.tableWidth != e.width || e.tableLevel != e.level || e.tableVoiLut != e.voiLut;
        e.mappedDirectly = shownStale && newWindow && !e.pixels->colour && mapOntoScreen(painter, e, at.topLeft(), inner);
        if (e.mappedDirectly) {
            e.shown = QImage();
        } else {
            if (shownStale) {
                e.shown = windowImage(*e.pixels, e.sampled, e.width, e.level, e.voiLut);
                e.shownWidth = e.width;
                e.shownLevel = e.level;
                e.shownVoiLut = e.voiLut;
            }
            if (!e.shown.isNull())
                painter.drawImage(at.topLeft(), e.shown);
        }
    }
    // Labels in image pixels wait for the pixels (never decoding here, on the GUI thread).
    for (const Label &label : std::as_const(e.labels))
        if (label.space != Label::Space::Image || e.pixels)
            if (const auto shown = onSurface(image, label))
                paintLabel(painter, *shown);
    painter.restore();
    if (e.highlightStyle != 0) {
        painter.setPen(QPen(e.highlightColour, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(frame).adjusted(1.5, 1.5, -1.5, -1.5));
    }
}

bool DisplaySurface::mapOntoScreen(QPainter &painter, Entry &e, QPoint at, const QRect &clip)
{
    QPaintEngine *engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || !engine->paintDevice()
        || engine->paintDevice()->devType() != QInternal::Image || e.sampled.width == 0)
        return false;
    auto *screen = static_cast<QImage *>(engine->paintDevice());
    const QImage::Format format = screen->format();
    const QTransform transform = painter.deviceTransform();
    const QPoint offset(int(transform.dx()), int(transform.dy()));
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 && format != QImage::Format_ARGB32_Premultiplied)
        || transform.type() > QTransform::TxTranslate || QPointF(offset) != QPointF(transform.dx(), transform.dy()))
        return false;
    if (e.table.empty() || e.tableWidth != e.width || e.tableLevel != e.level || e.tableVoiLut != e.voiLut) {
        e.table = greyTable(*e.pixels, e.width, e.level, e.voiLut);
        e.tableWidth = e.width;
        e.tableLevel = e.level;
        e.tableVoiLut = e.voiLut;
    }
    const QPoint origin = at + offset;
    // Only what this paint may change: the tile, the screen and the painter's system clip.
    QRegion region = QRegion(QRect(origin, QSize(e.sampled.width, e.sampled.height)) & clip.translated(offset) & screen->rect());
    if (const QRegion system = engine->systemClip(); !system.isEmpty())
        region &= system;
    for (const QRect &r : region)
        mapGrey(e.sampled, e.table, *screen, origin, r.translated(-origin));
    return true;
}

void DisplaySurface::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit mouseDown(event->button(), p.x(), p.y());
}

void DisplaySurface::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit mouseMove(event->buttons(), p.x(), p.y());
}

void DisplaySurface::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    emit mouseUp(event->button(), p.x(), p.y());
}

void DisplaySurface::mouseDoubleClickEvent(QMouseEvent *)
{
    emit doubleClick();
}

} // namespace orv::dicom
