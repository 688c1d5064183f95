#pragma once

#include "ImageCollection.h"
#include "Label.h"

#include <QColor>
#include <QHash>
#include <QWidget>

#include <memory>
#include <optional>

namespace orv::dicom {

struct DecodedImage;

// The display surface: shows its image collection in rows x columns tiles, starting with the
// image at the current index in the top-left tile (left to right, then down). Each image keeps
// its own display values here (window width and level, zoom, stretch-to-fit, pan, the two
// display-enhancement switches, highlight frame), which take effect at once. An image is
// decoded once, when it is first shown (the visible tiles in parallel) or asked for a value;
// a window change only re-maps its sampled pixels through a lookup table. An image that cannot
// be decoded shows an empty tile with the reason; the other tiles are unaffected.
//
// Whoever changes images() calls refresh() afterwards. Indices are 1-based; 0 means none.
class DisplaySurface : public QWidget
{
    Q_OBJECT
public:
    explicit DisplaySurface(QWidget *parent = nullptr);
    ~DisplaySurface() override;

    // The images shown: the surface's own collection, or the one set by showCollection().
    ImageCollection &images() { return *m_collection; }
    const ImageCollection &images() const { return *m_collection; }
    // Shows `collection` (owned by the caller, outliving the surface or replaced first) in
    // place of the surface's own; nullptr returns to the own one. Calls refresh().
    void showCollection(ImageCollection *collection);

    int rows() const { return m_rows; }
    int columns() const { return m_columns; }
    // Counts below 1 become 1.
    void setRows(int rows);
    void setColumns(int columns);
    void setTiles(int rows, int columns);

    // The image in the top-left tile; 0 only while the collection is empty. Set values are
    // clamped to 1..count.
    int currentIndex() const { return m_current; }
    void setCurrentIndex(int index);
    // The image at the current index; a blank image when the collection is empty.
    Image currentImage() const;

    // The index of the image shown in the tile under (x, y), 0 when there is none.
    int imageIndexAt(int x, int y) const;
    // The screen rectangle of tile 0..rows*columns-1.
    QRect tileRect(int tile) const;

    // Re-reads the collection (forgets images no longer in it, keeps the current index in
    // range), repaints and reports layoutChanged.
    void refresh();

    // Per-image display values. Getters decode the image if it has not been yet; width and
    // level start from the image's own window (else its value range; an image with a VOI LUT is
    // shown through its LUT until a width or level is set), zoom at 1, stretch-to-fit
    // on, pan at 0, both enhancement switches on (smooth scaling), no highlight frame.
    double windowWidth(const Image &image) const;
    double windowLevel(const Image &image) const;
    void setWindowWidth(const Image &image, double width);
    void setWindowLevel(const Image &image, double level);
    void setWindow(const Image &image, double width, double level);
    double zoom(const Image &image) const;
    void setZoom(const Image &image, double zoom);
    bool stretchToFit(const Image &image) const;
    void setStretchToFit(const Image &image, bool on);
    double panX(const Image &image) const;
    double panY(const Image &image) const;
    void setPan(const Image &image, double x, double y);
    // Enhancement switch 1: smooth enlarging; switch 2: smooth reduction. Off: nearest neighbour.
    bool displayEnhance1(const Image &image) const;
    bool displayEnhance2(const Image &image) const;
    void setDisplayEnhance(const Image &image, bool first, bool second);
    // Highlight frame: style 0 none, 1 a frame around the image's tile, in the given colour.
    int highlightStyle(const Image &image) const;
    QColor highlightColour(const Image &image) const;
    void setHighlight(const Image &image, int style, const QColor &colour = Qt::red);
    // True while an image with a VOI LUT is shown through it: until a width or level is set.
    bool usesVoiLut(const Image &image) const;
    // The window the image came with (its first Window Center/Width, else its value range).
    double defaultWidth(const Image &image) const;
    double defaultLevel(const Image &image) const;
    // Why the image cannot be shown; empty when it can.
    QString failureReason(const Image &image) const;
    // Repaints the image's tile (with `now`, before returning).
    void redraw(const Image &image, bool now = false);

    // Labels of an image, drawn over it in its tile in their own space (Image, Cell or
    // Marker); they go when the image leaves the collection.
    QList<Label> labels(const Image &image) const;
    void addLabel(const Image &image, const Label &label);
    // Removes the image's labels of `type`, or all of them with -1.
    void removeLabels(const Image &image, int type = -1);
    // Labels of the surface itself, in surface pixels, drawn over every tile.
    QList<Label> surfaceLabels() const { return m_surfaceLabels; }
    void addSurfaceLabel(const Label &label);
    void clearSurfaceLabels();
    // The label being drawn, in surface pixels, shown as a rubber band; nullopt for none.
    void setRubberBand(const std::optional<Label> &label);

    // The surface rectangle the image occupies in its tile (after zoom, pan and stretch);
    // nullopt when the image is not shown or cannot be decoded.
    std::optional<QRectF> placedRect(const Image &image) const;
    // The rectangle inside the frame of the tile that shows the image; nullopt when not shown.
    std::optional<QRect> cellRect(const Image &image) const;
    // Surface pixels to image pixel coordinates and back, for an image that is shown.
    std::optional<QPointF> toImage(const Image &image, const QPointF &surfacePoint) const;
    std::optional<QPointF> toSurface(const Image &image, const QPointF &imagePoint) const;
    // A label of the image (or of the surface) converted to surface pixels.
    std::optional<Label> onSurface(const Image &image, const Label &label) const;
    // The decoded pixels of the image; null when it cannot be decoded.
    std::shared_ptr<const DecodedImage> pixels(const Image &image) const;

    // With background decoding a tile whose image is not decoded yet shows "Loading..." while a
    // thread of the pool decodes it; without (the default), painting decodes first.
    void setBackgroundDecoding(bool on) { m_backgroundDecoding = on; }

    QSize sizeHint() const override { return {640, 640}; }

signals:
    // Rows, columns, current index or the collection changed.
    void layoutChanged();
    // A display value of an image changed.
    void imageValuesChanged();
    void doubleClick();
    void mouseDown(Qt::MouseButton button, int x, int y);
    void mouseMove(Qt::MouseButtons buttons, int x, int y);
    void mouseUp(Qt::MouseButton button, int x, int y);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    struct Entry;
    Entry &entry(const Image &image) const;
    Entry &decoded(const Image &image) const;
    // Decodes the images of the visible tiles not decoded yet, in parallel, and lets go of the
    // screen pixels kept for images no longer visible (only decoded pixels stay per image).
    void prepareVisible();
    void changed(const Image &image);
    void paintTile(QPainter &painter, int tile, const Image &image);
    // Maps a greyscale image's sampled pixels straight into the painter's raster device, its
    // sampled origin at `at` (surface pixels), inside `clip`; false when the device is not a
    // 32-bit picture drawn on without scaling (the caller then draws a picture).
    bool mapOntoScreen(QPainter &painter, Entry &e, QPoint at, const QRect &clip);
    int tileOf(const Image &image) const;
    void updateBand(const std::optional<Label> &label);

    ImageCollection m_images;
    ImageCollection *m_collection = &m_images;
    bool m_backgroundDecoding = false;
    int m_rows = 1;
    int m_columns = 1;
    int m_current = 0;
    // Keyed by the image object; an entry holds a copy of the image so the key stays unique.
    mutable QHash<const void *, std::shared_ptr<Entry>> m_entries;
    QList<Label> m_surfaceLabels;
    std::optional<Label> m_rubberBand;
};

} // namespace orv::dicom
