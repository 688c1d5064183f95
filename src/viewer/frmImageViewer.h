#pragma once

#include "session/ImageSetModel.h"
#include "outside/dicom/DisplaySurface.h"
#include "viewer/MouseTools.h"
#include "viewer/PaperPrint.h"

#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QSlider;

namespace orv {

// The viewer window "DICOM Image Viewer": its display surface `Viewer` shows the session's image
// set, the program's working set of images, which the image list fills and imports and capture
// add to. One instance per run, created on first use; it unloads (is deleted) when closed, and
// the image set is emptied with it.
class frmImageViewer : public QWidget
{
    Q_OBJECT
public:
    static frmImageViewer *instance();
    // The instance when loaded, else nullptr.
    static frmImageViewer *existing();

    // The image set shown, 1-based.
    ImageSetModel &Images();

    // Shows rows x columns tiles and writes the two numbers into `Rows` and `Columns`.
    void SetRC(int &rows, int &columns);
    // The image every per-image operation acts on: the selected image, else the surface's
    // current one. With neither, tells the operator "No Images to manipulate!" once and returns
    // a blank image that is not shown, until an image is selected or the set is filled.
    dicom::Image GetSelectedImage();
    // 1 Select, 2 Window, 3 Hand; 4 Text, 5 Measure, 7 Arrow, 8 Line, 9 Draw, 10 Rectangle,
    // 11 Elipse, 12 Polygon draw labels (see LabelForm) and return to Select when done.
    int mouseMode() const { return m_mouse->mode(); }
    // Removes the side markers of every image and, while "Side Markers" is ticked, puts the
    // four markers on each again.
    void redrawMarkers();

    dicom::DisplaySurface *Viewer = nullptr;

    // Image number
    QGroupBox *Frame2 = nullptr;
    QLineEdit *current = nullptr;
    QScrollBar *CurrentSpin = nullptr;
    QLabel *ImageLabel = nullptr;
    // Tile
    QGroupBox *Frame3 = nullptr;
    QLineEdit *Rows = nullptr;
    QLineEdit *Columns = nullptr;
    QScrollBar *RowSpin = nullptr;
    QScrollBar *ColSpin = nullptr;
    QPushButton *cmdRem = nullptr;
    // Tools
    QGroupBox *fraTools = nullptr;
    QPushButton *cmdClose = nullptr;
    QPushButton *cmdDICOMSendOne = nullptr;
    QPushButton *cmdExportDir = nullptr;
    QPushButton *cmdImageInfo = nullptr;
    QPushButton *cmdPrintAll = nullptr;
    QPushButton *cmdDicomSend = nullptr;
    QPushButton *FileWrite = nullptr;
    QPushButton *Export = nullptr;
    QPushButton *cmdPrint = nullptr;
    // Shows the progress of the viewer's send or export while one runs.
    QProgressBar *prgWork = nullptr;
    // Display settings
    QGroupBox *fraT = nullptr;
    QSlider *WLSlider = nullptr;
    QSlider *WidthSlider = nullptr;
    QSlider *LevelSlider = nullptr;
    QSlider *ZoomSlider = nullptr;
    QLineEdit *width1 = nullptr;
    QLineEdit *level1 = nullptr;
    QLineEdit *Zoom = nullptr;
    QLabel *WLLabel = nullptr;
    QLabel *WidthLabel = nullptr;
    QLabel *LevelLabel = nullptr;
    QLabel *ZoomLabel = nullptr;
    QCheckBox *optAllChange = nullptr;
    QCheckBox *StretchToFit = nullptr;
    QCheckBox *mnuDisplayEnhance = nullptr;
    QCheckBox *AnatomicMarkers = nullptr;
    QPushButton *btnChngSel = nullptr;
    QPushButton *btnChngAll = nullptr;
    QPushButton *btnDefault = nullptr;
    QPushButton *btnDefaultAll = nullptr;
    // Mouse function: option array `Mouse`, indices 1..12 without 6 (objectName "Mouse_<i>").
    QGroupBox *Frame1 = nullptr;
    QButtonGroup *MouseGroup = nullptr;
    std::array<QRadioButton *, 13> Mouse{};
    QPushButton *cmdLabelDetails = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmImageViewer();
    void imagesChanged();
    void buildTools();
    QGroupBox *buildImageNumber();
    QGroupBox *buildTile();
    QGroupBox *buildDisplaySettings();
    QGroupBox *buildMouseFunction();

    void rowsOrColumnsEdited();
    void currentEdited();
    void syncFromSurface();
    void setUpDisplayControls();
    void copyImageValues();
    void applyWidth(int value);
    void applyLevel(int value);
    void setWidthSlider(int value);
    void setLevelSlider(int value);
    void typedWindowValue(QLineEdit *edit, QSlider *slider);
    void typedZoom();
    void windowButton(bool all, bool defaults);
    void stretchClicked(bool on);
    void enhanceClicked(bool on);
    void doubleClicked();
    void sendImages(bool all);
    // "Dicom Print": every image on film, after the question, with the node settings of the moment.
    void printOnFilm();
public:
    // "Print": every image six to a page under the open transaction's header, as a background
    // job (the system's default printer for an empty target).
    void printImages(const PaperTarget &target = {});
private:
    void saveAsDicom();
    void exportImage();
    void exportAll();
    // Runs `start` with the send and export commands refused until the job's end.
    void transfer(const std::function<void(std::function<void()>)> &start);
    QList<QPushButton *> transferCommands() const;
    // Every image of the set, in order.
    QList<dicom::Image> allImages();
    void select(int index);
    void chooseMode(int mode);
    // Shows the tool taken (also when the tools return to Select by themselves).
    void modeChanged(int mode);
    bool allChange() const;

    std::optional<dicom::Image> m_selected;
    bool m_placeholder = false;
    int m_savedRows = 3;
    int m_savedColumns = 3;
    MouseTools *m_mouse = nullptr;
    bool m_copying = false;
};

} // namespace orv
