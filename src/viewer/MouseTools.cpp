#include "MouseTools.h"

#include "core/SharedState.h"
#include "core/CoreRoutines.h"
#include "outside/Prompter.h"
#include "session/ImageSetModel.h"

namespace orv {

namespace {

// The label type each drawing mode draws.
int typeOfMode(int mode)
{
    switch (mode) {
    case 4: return dicom::Label::Text;
    case 5: return dicom::Label::Line;
    case 7: return dicom::Label::Arrow;
    case 8: return dicom::Label::Line;
    case 9: return dicom::Label::PolyLine;
    case 10: return dicom::Label::Rectangle;
    case 11: return dicom::Label::Ellipse;
    case 12: return dicom::Label::Polygon;
    default: return -1;
    }
}

} // namespace

MouseTools::MouseTools(dicom::DisplaySurface &surface, ImageSetModel &images, Hooks hooks, QObject *parent)
    : QObject(parent), m_surface(surface), m_images(images), m_hooks(std::move(hooks))
{
}

void MouseTools::setMode(int mode)
{
    m_mode = mode;
    emit modeChanged(mode);
}

void MouseTools::mouseDown(Qt::MouseButton button, int x, int y)
{
    m_drag = Drag::None;
    switch (m_mode) {
    case 1: {
        const int index = m_surface.imageIndexAt(x, y);
        m_lastClickIndex = index;
        if (index == 0)
            return;
        emit imageClicked(index);
        const dicom::Image image = m_images.item(index);
        if (button == Qt::LeftButton && !m_surface.stretchToFit(image)) {
            m_dragTarget = image;
            m_drag = Drag::Pan;
            m_baseA = m_surface.panX(image) + x;
            m_baseB = m_surface.panY(image) + y;
        }
        break;
    }
    case 2: {
        m_dragTarget = m_hooks.target();
        m_drag = Drag::Window;
        m_baseA = m_surface.windowWidth(*m_dragTarget) - x;
        m_baseB = m_surface.windowLevel(*m_dragTarget) + y;
        break;
    }
    case 3: {
        m_dragTarget = m_hooks.target();
        m_drag = Drag::Pan;
        m_baseA = m_surface.panX(*m_dragTarget) + x;
        m_baseB = m_surface.panY(*m_dragTarget) + y;
        break;
    }
    default:
        startDrawing(x, y);
        break;
    }
}

void MouseTools::mouseMove(Qt::MouseButtons buttons, int x, int y)
{
    if (m_drawing) {
        if (buttons == Qt::NoButton)
            return;
        m_band.width = x - m_band.left;
        m_band.height = y - m_band.top;
        m_band.addPoint(QPointF(x, y));
        m_surface.setRubberBand(m_band);
        return;
    }
    if (buttons == Qt::NoButton || m_drag == Drag::None || !m_dragTarget)
        return;
    if (m_drag == Drag::Pan) {
        m_surface.setPan(*m_dragTarget, m_baseA - x, m_baseB - y);
        return;
    }
    const double width = m_baseA + x, level = m_baseB - y;
    m_surface.setWindow(*m_dragTarget, width, level);
    if (m_hooks.allChange())
        for (int i = 1; i <= m_images.count(); ++i)
            m_surface.setWindow(m_images.item(i), width, level);
}

void MouseTools::mouseUp(int x, int y)
{
    m_drag = Drag::None;
    if (m_drawing)
        finishDrawing(x, y);
}

void MouseTools::startDrawing(int x, int y)
{
    int type = typeOfMode(m_mode);
    if (type < 0)
        return;
    const LabelStyle &style = m_hooks.style();
    // Measuring draws a line, or the closed shape chosen as the label type, whose area is measured.
    if (m_mode == 5 && (style.labelType() == dicom::Label::Rectangle || style.labelType() == dicom::Label::Ellipse
                        || style.labelType() == dicom::Label::Polygon))
        type = style.labelType();
    m_band = style.newLabel(type);
    m_band.space = dicom::Label::Space::Surface;
    m_band.left = x;
    m_band.top = y;
    m_band.addPoint(QPointF(x, y));
    m_drawing = true;
    m_surface.setRubberBand(m_band);
}

bool MouseTools::placeLabel(dicom::Label &label, int mode)
{
    const LabelStyle::Tie tie = mode == 5 ? LabelStyle::Tie::Image : m_hooks.style().tie();
    if (tie == LabelStyle::Tie::Control) {
        label.space = dicom::Label::Space::Surface;
        m_surface.addSurfaceLabel(label);
        return true;
    }
    const QPointF corner(label.left, label.top);
    const int index = m_surface.imageIndexAt(int(corner.x()), int(corner.y()));
    if (index == 0) {
        msgBox(m_surface.window(), QStringLiteral("A label is drawn on an image: start it inside one."), Prompter::Icon::Warning);
        return false;
    }
    const dicom::Image image = m_images.item(index);
    if (tie == LabelStyle::Tie::ImageCell) {
        const QPointF origin = m_surface.cellRect(image)->topLeft();
        label = label.mapped([&](const QPointF &p) { return p - origin; });
        label.space = dicom::Label::Space::Cell;
    } else {
        if (!m_surface.placedRect(image)) {
            msgBox(m_surface.window(), QStringLiteral("This image cannot be displayed, so nothing can be drawn on it."),
                   Prompter::Icon::Warning);
            return false;
        }
        label = label.mapped([&](const QPointF &p) { return *m_surface.toImage(image, p); });
        label.space = dicom::Label::Space::Image;
    }
    m_drawImage = image;
    m_surface.addLabel(image, label);
    return true;
}

void MouseTools::finishDrawing(int x, int y)
{
    m_drawing = false;
    m_surface.setRubberBand(std::nullopt);
    const int mode = m_mode;
    dicom::Label label = m_band;
    label.width = x - label.left;
    label.height = y - label.top;
    m_drawImage.reset();
    QWidget *parent = m_surface.window();
    const auto backToSelect = [this] {
        m_surface.update();
        setMode(1);
    };

    const bool poly = label.type == dicom::Label::PolyLine || label.type == dicom::Label::Polygon;
    const bool sized = poly ? label.bounds().width() + label.bounds().height() > 0 : (label.width != 0 || label.height != 0);
    if (label.type != dicom::Label::Text && !sized) {
        msgBox(parent, QStringLiteral("The label has no size: hold the button down and drag to draw it."), Prompter::Icon::Warning);
        backToSelect();
        return;
    }
    if (!placeLabel(label, mode)) {
        backToSelect();
        return;
    }
    if (mode == 5 && m_drawImage) {
        const dicom::Image image = *m_drawImage;
        if (label.isClosed()) {
            const dicom::Measurement area = dicom::measureArea(image, label);
            msgBox(parent, dicom::measureText(area.value) + QStringLiteral(" square ") + area.unit);
            const auto pixels = m_surface.pixels(image);
            const auto mean = pixels ? dicom::meanInside(*pixels, label) : std::nullopt;
            msgBox(parent, QStringLiteral("Mean value = ") + (mean ? dicom::measureText(*mean) : QStringLiteral("none")));
        } else {
            const dicom::Measurement length = dicom::measureLength(image, label);
            dicom::Label result = m_hooks.style().newLabel(dicom::Label::Text);
            result.fontName = QStringLiteral("Arial Bold");
            result.fontSize = 8.25;
            result.foreColour = QColor(255, 255, 0);
            result.transparent = state().LabelTransparent;
            result.text = dicom::measureText(length.value) + QLatin1Char(' ') + length.unit;
            if (const auto at = m_surface.toImage(image, QPointF(x, y))) {
                result.left = at->x();
                result.top = at->y();
                result.space = dicom::Label::Space::Image;
                m_surface.addLabel(image, result);
            }
        }
    }
    if (mode == 4) {
        const auto answer = Prompter::instance().input(parent, QStringLiteral("Enter label text"), QString());
        const QString text = QLatin1Char(' ') + answer.value_or(QString()) + QLatin1Char(' ');
        // The label was placed already: give the stored copy its text.
        if (label.space == dicom::Label::Space::Surface) {
            QList<dicom::Label> all = m_surface.surfaceLabels();
            m_surface.clearSurfaceLabels();
            all.last().text = text;
            for (const dicom::Label &l : all)
                m_surface.addSurfaceLabel(l);
        } else if (m_drawImage) {
            QList<dicom::Label> all = m_surface.labels(*m_drawImage);
            m_surface.removeLabels(*m_drawImage);
            all.last().text = text;
            for (const dicom::Label &l : all)
                m_surface.addLabel(*m_drawImage, l);
        }
    }
    backToSelect();
}

void MouseTools::showMarkers(bool on)
{
    if (!on && !m_markersShown)
        return;
    m_markersShown = on;
    const auto marker = [](const QString &text, double left, double top, int alignment) {
        dicom::Label l;
        l.type = dicom::Label::SideMarker;
        l.space = dicom::Label::Space::Marker;
        l.text = text;
        l.width = 200;
        l.height = 200;
        l.left = left;
        l.top = top;
        l.fontName = QStringLiteral("Arial Bold");
        l.fontSize = 9;
        l.foreColour = QColor(0, 0, 0);
        // Black text needs a light ground to be read on a dark image.
        l.backColour = QColor(255, 255, 255);
        l.transparent = false;
        l.alignment = alignment;
        return l;
    };
    for (int i = 1; i <= m_images.count(); ++i) {
        const dicom::Image image = m_images.item(i);
        m_surface.removeLabels(image, dicom::Label::SideMarker);
        if (!on)
            continue;
        m_surface.addLabel(image, marker(QStringLiteral("LEFT"), 0, 500, 0));
        m_surface.addLabel(image, marker(QStringLiteral("TOP"), 500 - 200 / 2, 0, 1));
        m_surface.addLabel(image, marker(QStringLiteral("RIGHT"), 1000 - 200, 500, 2));
        m_surface.addLabel(image, marker(QStringLiteral("BOTTOM"), 500 - 200 / 2, 1000 - 200, 9));
    }
}

} // namespace orv
