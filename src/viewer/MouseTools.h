#pragma once

#include "outside/dicom/DisplaySurface.h"
#include "outside/dicom/Label.h"

#include <QObject>

#include <functional>
#include <optional>

namespace orv {

class ImageSetModel;

// The look and placement of new labels (the "Label Details" window offers it).
class LabelStyle
{
public:
    enum class Tie { Control, ImageCell, Image };
    virtual ~LabelStyle() = default;
    // A new label of `type` with the chosen look.
    virtual dicom::Label newLabel(int type) const = 0;
    // The label type chosen (a closed shape makes "Measure" measure an area).
    virtual int labelType() const = 0;
    virtual Tie tie() const = 0;
};

// The viewer's mouse tools over its display surface and image set: 1 Select (and pan an image
// not stretched), 2 Window, 3 Hand; 4 Text, 5 Measure, 7 Arrow, 8 Line, 9 Draw, 10 Rectangle,
// 11 Elipse, 12 Polygon draw labels and return to Select when done. Also the side markers.
// Messages go to the operator over the surface's window.
class MouseTools : public QObject
{
    Q_OBJECT
public:
    // What the tools ask the window at the moment of use.
    struct Hooks
    {
        // The image Window and Hand act on (the selected one, else the current one).
        std::function<dicom::Image()> target;
        // True while a change goes to every image ("All Change").
        std::function<bool()> allChange;
        // The look of the next label; asked only when one is drawn.
        std::function<const LabelStyle &()> style;
    };
    MouseTools(dicom::DisplaySurface &surface, ImageSetModel &images, Hooks hooks, QObject *parent = nullptr);

    int mode() const { return m_mode; }
    // Takes a tool; reports modeChanged even when it is the one held.
    void setMode(int mode);
    // The image clicked last in Select, 0 for none.
    int lastClickIndex() const { return m_lastClickIndex; }

    void mouseDown(Qt::MouseButton button, int x, int y);
    void mouseMove(Qt::MouseButtons buttons, int x, int y);
    void mouseUp(int x, int y);

    // Removes the side markers of every image and, with `on`, puts the four markers on each again.
    void showMarkers(bool on);

signals:
    void modeChanged(int mode);
    // Select clicked the image at `index`; the image becomes the selected one before this returns.
    void imageClicked(int index);

private:
    void startDrawing(int x, int y);
    void finishDrawing(int x, int y);
    // Places a finished label (surface pixels) as its tie says; false when refused.
    bool placeLabel(dicom::Label &label, int mode);

    dicom::DisplaySurface &m_surface;
    ImageSetModel &m_images;
    Hooks m_hooks;
    int m_mode = 1;
    int m_lastClickIndex = 0;
    bool m_drawing = false;
    // The label being drawn, in surface pixels.
    dicom::Label m_band;
    bool m_markersShown = false;
    // The image the last drawing was attached to.
    std::optional<dicom::Image> m_drawImage;
    // A drag in progress: its target image and the two base values it moves from.
    enum class Drag { None, Window, Pan } m_drag = Drag::None;
    std::optional<dicom::Image> m_dragTarget;
    double m_baseA = 0;
    double m_baseB = 0;
};

} // namespace orv
