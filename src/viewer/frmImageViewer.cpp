#include "frmImageViewer.h"

#include "Information.h"
#include "LabelForm.h"
#include "ViewerTransfer.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "outside/Error.h"
#include "outside/Prompter.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cfenv>
#include <cmath>

namespace orv {

namespace {

const QString kViewerSection = QStringLiteral("Viewer");
const QString kNuclearMedicineClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.20");
constexpr int kTileSpinMax = 6;

// A whole number typed into a box; nullopt for empty or other text.
std::optional<int> wholeNumber(const QString &text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

std::optional<double> number(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

QString numberText(double v) { return QString::number(v, 'g', 10); }
// Zoom factors as the box can show them: four significant digits (2^(3/10) shows as 1.231).
QString zoomText(double z) { return QString::number(z, 'g', 4); }

// Half of a slider maximum, to the nearest integer with ties to even.
int halfToEven(int maximum)
{
    return int(std::nearbyint(maximum / 2.0));
}

QScrollBar *spinner(QWidget *parent, const char *name, int maximum)
{
    auto *s = new QScrollBar(Qt::Vertical, parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(1, maximum);
    s->setFixedHeight(26);
    return s;
}

QLineEdit *box(QWidget *parent, const char *name, int width = 48)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setFixedWidth(width);
    return e;
}

QSlider *slider(QWidget *parent, const char *name, int minimum, int maximum)
{
    auto *s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(minimum, maximum);
    return s;
}

} // namespace

frmImageViewer::frmImageViewer()
{
    setObjectName(QStringLiteral("frmImageViewer"));
    setWindowTitle(QStringLiteral("DICOM Image Viewer"));
    setAttribute(Qt::WA_DeleteOnClose);

    Viewer = new dicom::DisplaySurface(this);
    Viewer->setObjectName(QStringLiteral("Viewer"));
    // Images arriving while capturing decode off the GUI thread, so the live picture never waits.
    Viewer->setBackgroundDecoding(true);

    buildTools();
    auto *panel = new QVBoxLayout;
    panel->setSpacing(4);
    panel->addWidget(buildImageNumber());
    panel->addWidget(buildTile());
    panel->addWidget(buildDisplaySettings());
    panel->addWidget(buildMouseFunction());
    panel->addStretch(1);

    auto *body = new QHBoxLayout;
    body->addLayout(panel);
    body->addWidget(Viewer, 1);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(8, 8, 8, 8);
    root->addWidget(fraTools);
    root->addLayout(body, 1);

    ImageSetModel &images = session().images();
    Viewer->showCollection(&images.collection());
    for (auto signal : {&ImageSetModel::rowsInserted, &ImageSetModel::rowsRemoved})
        connect(&images, signal, this, [this] { imagesChanged(); });
    connect(&images, &ImageSetModel::modelReset, this, [this] { imagesChanged(); });
    connect(Viewer, &dicom::DisplaySurface::layoutChanged, this, [this] { syncFromSurface(); });
    connect(Viewer, &dicom::DisplaySurface::imageValuesChanged, this, [this] { copyImageValues(); });
    connect(Viewer, &dicom::DisplaySurface::doubleClick, this, [this] { doubleClicked(); });
    MouseTools::Hooks hooks;
    hooks.target = [this] { return GetSelectedImage(); };
    hooks.allChange = [this] { return allChange(); };
    hooks.style = []() -> const LabelStyle & { return *LabelForm::instance(); };
    m_mouse = new MouseTools(*Viewer, images, std::move(hooks), this);
    connect(m_mouse, &MouseTools::imageClicked, this, [this](int index) { select(index); });
    connect(m_mouse, &MouseTools::modeChanged, this, [this](int mode) { modeChanged(mode); });
    connect(Viewer, &dicom::DisplaySurface::mouseDown, m_mouse, &MouseTools::mouseDown);
    connect(Viewer, &dicom::DisplaySurface::mouseMove, m_mouse, &MouseTools::mouseMove);
    connect(Viewer, &dicom::DisplaySurface::mouseUp, m_mouse, [this](Qt::MouseButton, int x, int y) { m_mouse->mouseUp(x, y); });

    resize(1100, 760);
    RestoreWindow(this);

    // Remembered tiles; 0 (missing or not a number) means 3.
    const int columns = SettingsStore::intOf(settings().read(apps::VelmorOrvaline, kViewerSection, QStringLiteral("TileColumns")));
    const int rows = SettingsStore::intOf(settings().read(apps::VelmorOrvaline, kViewerSection, QStringLiteral("TileRows")));
    m_savedColumns = columns > 0 ? columns : 3;
    m_savedRows = rows > 0 ? rows : 3;
    Columns->setText(QString::number(m_savedColumns));
    Rows->setText(QString::number(m_savedRows));
    rowsOrColumnsEdited();
    Mouse[1]->setChecked(true);
    syncFromSurface();
}

void frmImageViewer::buildTools()
{
    fraTools = new QGroupBox(QStringLiteral("Remember Settings"), this);
    fraTools->setObjectName(QStringLiteral("fraTools"));
    auto *row = new QHBoxLayout(fraTools);
    cmdClose = namedControl(fraTools, "cmdClose", QStringLiteral("Close"));
    cmdDICOMSendOne = namedControl(fraTools, "cmdDICOMSendOne", QStringLiteral("Dicom Send"));
    cmdExportDir = namedControl(fraTools, "cmdExportDir", QStringLiteral("Export All"));
    cmdImageInfo = namedControl(fraTools, "cmdImageInfo", QStringLiteral("Image Info"));
    cmdPrintAll = namedControl(fraTools, "cmdPrintAll", QStringLiteral("Dicom Print"));
    cmdDicomSend = namedControl(fraTools, "cmdDicomSend", QStringLiteral("Dicom Send All"));
    FileWrite = namedControl(fraTools, "FileWrite", QStringLiteral("Save as..."));
    Export = namedControl(fraTools, "Export", QStringLiteral("Export Image"));
    cmdPrint = namedControl(fraTools, "cmdPrint", QStringLiteral("Print"));
    for (QPushButton *b : {cmdDICOMSendOne, cmdDicomSend, cmdImageInfo, FileWrite, Export, cmdExportDir, cmdPrintAll, cmdPrint})
        row->addWidget(b);

    prgWork = namedControl<QProgressBar>(fraTools, "prgWork");
    prgWork->setFixedWidth(120);
    prgWork->setVisible(false);
    row->addWidget(prgWork);
    connect(&session().jobs(), &JobRunner::progress, this, [this](const QString &, int done, int total, const QString &kind) {
        if (!prgWork->isVisible() || kind != ViewerTransfer::jobKind())
            return;
        prgWork->setMaximum(std::max(1, total));
        prgWork->setValue(done);
    });
    connect(cmdDICOMSendOne, &QPushButton::clicked, this, [this] { sendImages(false); });
    connect(cmdDicomSend, &QPushButton::clicked, this, [this] { sendImages(true); });
    connect(cmdPrintAll, &QPushButton::clicked, this, [this] { printOnFilm(); });
    connect(cmdPrint, &QPushButton::clicked, this, [this] { printImages(); });
    connect(FileWrite, &QPushButton::clicked, this, [this] { saveAsDicom(); });
    connect(Export, &QPushButton::clicked, this, [this] { exportImage(); });
    connect(cmdExportDir, &QPushButton::clicked, this, [this] { exportAll(); });
    connect(cmdImageInfo, &QPushButton::clicked, this, [this] {
        Information *info = Information::instance();
        info->NewData(this);
        info->show();
        info->raise();
    });
    row->addStretch(1);
    row->addWidget(cmdClose);
    connect(cmdClose, &QPushButton::clicked, this, [this] { close(); });
}

QGroupBox *frmImageViewer::buildImageNumber()
{
    Frame2 = new QGroupBox(this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    auto *row = new QHBoxLayout(Frame2);
    ImageLabel = namedControl<QLabel>(Frame2, "ImageLabel", QStringLiteral("Current Image Number"));
    current = box(Frame2, "current", 56);
    CurrentSpin = spinner(Frame2, "CurrentSpin", 1);
    row->addWidget(ImageLabel);
    row->addWidget(current);
    row->addWidget(CurrentSpin);
    row->addStretch(1);

    connect(current, &QLineEdit::textChanged, this, [this] { currentEdited(); });
    connect(CurrentSpin, &QScrollBar::valueChanged, this,
            [this](int v) { current->setText(QString::number(CurrentSpin->maximum() - v + 1)); });
    current->installEventFilter(this);
    return Frame2;
}

QGroupBox *frmImageViewer::buildTile()
{
    Frame3 = new QGroupBox(QStringLiteral("Tile"), this);
    Frame3->setObjectName(QStringLiteral("Frame3"));
    auto *grid = new QGridLayout(Frame3);
    Rows = box(Frame3, "Rows", 36);
    Columns = box(Frame3, "Columns", 36);
    RowSpin = spinner(Frame3, "RowSpin", kTileSpinMax);
    ColSpin = spinner(Frame3, "ColSpin", kTileSpinMax);
    grid->addWidget(new QLabel(QStringLiteral("Rows:"), Frame3), 0, 0);
    grid->addWidget(Rows, 0, 1);
    grid->addWidget(RowSpin, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Columns:"), Frame3), 1, 0);
    grid->addWidget(Columns, 1, 1);
    grid->addWidget(ColSpin, 1, 2);
    auto *buttons = new QGridLayout;
    buttons->setSpacing(2);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c) {
            const QByteArray name = QStringLiteral("cmnuTile%1x%2").arg(r).arg(c).toLatin1();
            auto *b = namedControl(Frame3, name.constData(), QStringLiteral("%1x%2").arg(r).arg(c));
            b->setFixedWidth(40);
            buttons->addWidget(b, r - 1, c - 1);
            connect(b, &QPushButton::clicked, this, [this, r, c] {
                int rows = r, columns = c;
                SetRC(rows, columns);
            });
        }
    grid->addLayout(buttons, 0, 3, 2, 1);
    cmdRem = namedControl(Frame3, "cmdRem", QStringLiteral("Remember"));
    grid->addWidget(cmdRem, 2, 0, 1, 4);
    grid->setColumnStretch(4, 1);

    connect(Rows, &QLineEdit::textChanged, this, [this] { rowsOrColumnsEdited(); });
    connect(Columns, &QLineEdit::textChanged, this, [this] { rowsOrColumnsEdited(); });
    connect(RowSpin, &QScrollBar::valueChanged, this, [this](int v) { Rows->setText(QString::number(kTileSpinMax - v + 1)); });
    connect(ColSpin, &QScrollBar::valueChanged, this, [this](int v) { Columns->setText(QString::number(kTileSpinMax - v + 1)); });
    Rows->installEventFilter(this);
    Columns->installEventFilter(this);
    connect(cmdRem, &QPushButton::clicked, this, [this] {
        settings().write(apps::VelmorOrvaline, kViewerSection, QStringLiteral("TileColumns"), Columns->text());
        settings().write(apps::VelmorOrvaline, kViewerSection, QStringLiteral("TileRows"), Rows->text());
    });
    return Frame3;
}

QGroupBox *frmImageViewer::buildDisplaySettings()
{
    fraT = new QGroupBox(QStringLiteral(" Display Settings "), this);
    fraT->setObjectName(QStringLiteral("fraT"));
    auto *grid = new QGridLayout(fraT);
    WidthLabel = namedControl<QLabel>(fraT, "WidthLabel", QStringLiteral("Width"));
    LevelLabel = namedControl<QLabel>(fraT, "LevelLabel", QStringLiteral("Level"));
    WLLabel = namedControl<QLabel>(fraT, "WLLabel", QStringLiteral("Window"));
    ZoomLabel = namedControl<QLabel>(fraT, "ZoomLabel", QStringLiteral("Zoom"));
    WidthSlider = slider(fraT, "WidthSlider", 2, 1000);
    LevelSlider = slider(fraT, "LevelSlider", 2, 1000);
    WLSlider = slider(fraT, "WLSlider", 2, 500);
    ZoomSlider = slider(fraT, "ZoomSlider", -40, 40);
    ZoomSlider->setPageStep(5);
    ZoomSlider->setSingleStep(1);
    ZoomSlider->setValue(0);
    width1 = box(fraT, "width1", 56);
    level1 = box(fraT, "level1", 56);
    Zoom = box(fraT, "Zoom", 56);
    grid->addWidget(WidthLabel, 0, 0);
    grid->addWidget(WidthSlider, 0, 1);
    grid->addWidget(width1, 0, 2);
    grid->addWidget(LevelLabel, 1, 0);
    grid->addWidget(LevelSlider, 1, 1);
    grid->addWidget(level1, 1, 2);
    grid->addWidget(WLLabel, 2, 0);
    grid->addWidget(WLSlider, 2, 1, 1, 2);
    grid->addWidget(ZoomLabel, 3, 0);
    grid->addWidget(ZoomSlider, 3, 1);
    grid->addWidget(Zoom, 3, 2);

    optAllChange = namedControl<QCheckBox>(fraT, "optAllChange", QStringLiteral("All Change"));
    StretchToFit = namedControl<QCheckBox>(fraT, "StretchToFit", QStringLiteral("Stretch to fit"));
    mnuDisplayEnhance = namedControl<QCheckBox>(fraT, "mnuDisplayEnhance", QStringLiteral("Display Enhance"));
    AnatomicMarkers = namedControl<QCheckBox>(fraT, "AnatomicMarkers", QStringLiteral("Side Markers"));
    connect(AnatomicMarkers, &QCheckBox::clicked, this, [this] { redrawMarkers(); });
    grid->addWidget(optAllChange, 4, 0, 1, 2);
    grid->addWidget(StretchToFit, 4, 2);
    grid->addWidget(mnuDisplayEnhance, 5, 0, 1, 2);
    grid->addWidget(AnatomicMarkers, 5, 2);
    btnChngSel = namedControl(fraT, "btnChngSel", QStringLiteral("Change Selected"));
    btnChngAll = namedControl(fraT, "btnChngAll", QStringLiteral("Change"));
    btnDefault = namedControl(fraT, "btnDefault", QStringLiteral("Default Selected"));
    btnDefaultAll = namedControl(fraT, "btnDefaultAll", QStringLiteral("Default"));
    auto *buttons = new QGridLayout;
    buttons->addWidget(btnChngSel, 0, 0);
    buttons->addWidget(btnChngAll, 0, 1);
    buttons->addWidget(btnDefault, 1, 0);
    buttons->addWidget(btnDefaultAll, 1, 1);
    grid->addLayout(buttons, 6, 0, 1, 3);

    connect(WidthSlider, &QSlider::valueChanged, this, [this](int v) { if (!m_copying) applyWidth(v); });
    connect(LevelSlider, &QSlider::valueChanged, this, [this](int v) { if (!m_copying) applyLevel(v); });
    connect(WLSlider, &QSlider::valueChanged, this, [this](int v) {
        if (m_copying)
            return;
        setWidthSlider(2 * v);
        setLevelSlider(v);
    });
    connect(ZoomSlider, &QSlider::valueChanged, this, [this](int s) {
        if (m_copying)
            return;
        const double z = std::pow(2.0, s / 10.0);
        Zoom->setText(zoomText(z));
        Viewer->setZoom(GetSelectedImage(), z);
    });
    for (QLineEdit *e : {width1, level1, Zoom})
        e->installEventFilter(this);
    connect(StretchToFit, &QCheckBox::clicked, this, [this](bool on) { stretchClicked(on); });
    connect(mnuDisplayEnhance, &QCheckBox::clicked, this, [this](bool on) { enhanceClicked(on); });
    connect(btnChngSel, &QPushButton::clicked, this, [this] { windowButton(false, false); });
    connect(btnChngAll, &QPushButton::clicked, this, [this] { windowButton(true, false); });
    connect(btnDefault, &QPushButton::clicked, this, [this] { windowButton(false, true); });
    connect(btnDefaultAll, &QPushButton::clicked, this, [this] { windowButton(true, true); });
    return fraT;
}

QGroupBox *frmImageViewer::buildMouseFunction()
{
    Frame1 = new QGroupBox(QStringLiteral(" Mouse Function "), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto *grid = new QGridLayout(Frame1);
    MouseGroup = new QButtonGroup(this);
    const std::pair<int, const char *> modes[] = {{1, "Select"}, {2, "Window"}, {3, "Hand"}, {4, "Text"},
                                                  {5, "Measure"}, {7, "Arrow"}, {8, "Line"}, {9, "Draw"},
                                                  {10, "Rectangle"}, {11, "Elipse"}, {12, "Polygon"}};
    int at = 0;
    for (const auto &[index, caption] : modes) {
        auto *option = new QRadioButton(QLatin1String(caption), Frame1);
        option->setObjectName(QStringLiteral("Mouse_%1").arg(index));
        Mouse[std::size_t(index)] = option;
        MouseGroup->addButton(option, index);
        grid->addWidget(option, at / 3, at % 3);
        ++at;
    }
    cmdLabelDetails = namedControl(Frame1, "cmdLabelDetails", QStringLiteral("Label Details..."));
    grid->addWidget(cmdLabelDetails, (at + 2) / 3, 0, 1, 3);
    connect(cmdLabelDetails, &QPushButton::clicked, this, [] {
        LabelForm *form = LabelForm::instance();
        form->show();
        form->raise();
    });
    connect(MouseGroup, &QButtonGroup::idClicked, this, [this](int id) { chooseMode(id); });
    return Frame1;
}

frmImageViewer *frmImageViewer::instance()
{
    auto &w = windowInstance<frmImageViewer>();
    if (!w)
        w = new frmImageViewer();
    return w;
}

frmImageViewer *frmImageViewer::existing()
{
    return windowInstance<frmImageViewer>();
}

ImageSetModel &frmImageViewer::Images()
{
    return session().images();
}

void frmImageViewer::imagesChanged()
{
    if (m_selected && !m_placeholder) {
        bool present = false;
        for (int i = 1; i <= Images().count() && !present; ++i)
            present = Images().item(i).fileFormat() == m_selected->fileFormat();
        if (!present)
            m_selected.reset();
    }
    if (m_placeholder && Images().count() > 0) {
        m_selected.reset();
        m_placeholder = false;
    }
    Viewer->refresh();
    redrawMarkers();
}

void frmImageViewer::SetRC(int &rows, int &columns)
{
    Viewer->setTiles(rows, columns);
    Rows->setText(QString::number(rows));
    Columns->setText(QString::number(columns));
}

dicom::Image frmImageViewer::GetSelectedImage()
{
    if (m_selected)
        return *m_selected;
    if (Images().count() > 0)
        return Viewer->currentImage();
    msgBox(this, QStringLiteral("No Images to manipulate!"));
    m_selected = dicom::Image();
    m_placeholder = true;
    return *m_selected;
}

bool frmImageViewer::allChange() const { return optAllChange->isChecked(); }

void frmImageViewer::rowsOrColumnsEdited()
{
    const auto rows = wholeNumber(Rows->text());
    const auto columns = wholeNumber(Columns->text());
    if (!rows || !columns || *rows < 1 || *columns < 1 || *rows > 12 || *columns > 12)
        return;
    int r = *rows, c = *columns;
    SetRC(r, c);
}

void frmImageViewer::currentEdited()
{
    const auto typed = wholeNumber(current->text());
    const int count = Images().count();
    if (!typed || count == 0)
        return;
    const int n = std::clamp(*typed, 1, count);
    if (n != *typed)
        current->setText(QString::number(n));
    Viewer->setCurrentIndex(n);
}

void frmImageViewer::syncFromSurface()
{
    const int count = Images().count();
    {
        const QSignalBlocker rb(Rows), cb(Columns), sb(CurrentSpin), rs(RowSpin), cs(ColSpin);
        Rows->setText(QString::number(Viewer->rows()));
        Columns->setText(QString::number(Viewer->columns()));
        RowSpin->setValue(kTileSpinMax - Viewer->rows() + 1);
        ColSpin->setValue(kTileSpinMax - Viewer->columns() + 1);
        CurrentSpin->setMaximum(std::max(1, count));
    }
    {
        const QSignalBlocker b(current);
        current->setText(QString::number(Viewer->currentIndex()));
    }
    setUpDisplayControls();
    copyImageValues();
}

void frmImageViewer::setUpDisplayControls()
{
    const auto hideWindowing = [this] {
        for (QWidget *w : std::initializer_list<QWidget *>{WLSlider, WidthSlider, LevelSlider, WLLabel, WidthLabel, LevelLabel})
            w->setVisible(false);
        width1->setEnabled(false);
        level1->setEnabled(false);
    };
    if (Images().count() == 0) {
        hideWindowing();
        return;
    }
    const dicom::Image image = GetSelectedImage();
    const dicom::DataSet ds = image.dataSet();
    if (ds.attribute(DCM_VOILUTSequence).found) {
        hideWindowing();
    } else if (ds.text(DCM_SOPClassUID).trimmed() != kNuclearMedicineClass) {
        const QSignalBlocker wb(WidthSlider), lb(LevelSlider);
        for (QWidget *w : std::initializer_list<QWidget *>{WidthSlider, LevelSlider, WidthLabel, LevelLabel})
            w->setVisible(true);
        WLSlider->setVisible(false);
        WLLabel->setVisible(false);
        width1->setEnabled(true);
        level1->setEnabled(true);
        if (ds.text(DCM_BitsAllocated).trimmed().toInt() == 8) {
            WidthSlider->setMaximum(512);
            LevelSlider->setMaximum(256);
        } else {
            WidthSlider->setRange(-1500, 4000);
            LevelSlider->setRange(-1000, 1000);
        }
    } else {
        WLSlider->setVisible(true);
        WLLabel->setVisible(true);
        for (QWidget *w : std::initializer_list<QWidget *>{WidthSlider, LevelSlider, WidthLabel, LevelLabel})
            w->setVisible(false);
        width1->setEnabled(true);
        level1->setEnabled(true);
    }
}

void frmImageViewer::copyImageValues()
{
    if (m_copying)
        return;
    m_copying = true;
    const int count = Images().count();
    if (count > 0 || m_selected) {
        const dicom::Image image = GetSelectedImage();
        const double w = Viewer->windowWidth(image), l = Viewer->windowLevel(image);
        WidthSlider->setValue(int(std::lround(w)));
        width1->setText(numberText(w));
        LevelSlider->setValue(int(std::lround(l)));
        level1->setText(numberText(l));
        Zoom->setText(zoomText(Viewer->zoom(image)));
        ZoomSlider->setValue(int(std::lround(10 * std::log2(Viewer->zoom(image)))));
        const bool stretch = Viewer->stretchToFit(image);
        StretchToFit->setChecked(stretch);
        for (QWidget *w : std::initializer_list<QWidget *>{Zoom, ZoomSlider, ZoomLabel})
            w->setEnabled(!stretch);
        Mouse[3]->setEnabled(!stretch);
    }
    const int first = Viewer->currentIndex();
    CurrentSpin->setEnabled(first != 0);
    {
        const QSignalBlocker b(CurrentSpin);
        CurrentSpin->setValue(first != 0 ? count - first + 1 : 0);
    }
    m_copying = false;
}

void frmImageViewer::applyWidth(int value)
{
    const dicom::Image image = GetSelectedImage();
    Viewer->setWindowWidth(image, value);
    if (allChange())
        for (int i = 1; i <= Images().count(); ++i)
            Viewer->setWindowWidth(Images().item(i), value);
    width1->setText(QString::number(value));
}

void frmImageViewer::applyLevel(int value)
{
    const dicom::Image image = GetSelectedImage();
    Viewer->setWindowLevel(image, value);
    if (allChange())
        for (int i = 1; i <= Images().count(); ++i)
            Viewer->setWindowLevel(Images().item(i), value);
    level1->setText(QString::number(value));
}

// Sets the slider and applies its value even when the slider already showed it.
void frmImageViewer::setWidthSlider(int value)
{
    {
        const QSignalBlocker b(WidthSlider);
        WidthSlider->setValue(value);
    }
    applyWidth(WidthSlider->value());
}

void frmImageViewer::setLevelSlider(int value)
{
    {
        const QSignalBlocker b(LevelSlider);
        LevelSlider->setValue(value);
    }
    applyLevel(LevelSlider->value());
}

void frmImageViewer::typedWindowValue(QLineEdit *edit, QSlider *slider)
{
    if (!edit->isModified())
        return;
    edit->setModified(false);
    const auto v = number(edit->text());
    if (!v || *v < slider->minimum() || *v > slider->maximum()) {
        edit->setText(QString::number(slider->value()));
        return;
    }
    if (slider == WidthSlider)
        setWidthSlider(int(std::lround(*v)));
    else
        setLevelSlider(int(std::lround(*v)));
}

void frmImageViewer::typedZoom()
{
    if (!Zoom->isModified()) // the focus passed through: what it shows is already applied
        return;
    Zoom->setModified(false);
    const auto z = number(Zoom->text());
    const int s = z && *z > 0 ? int(std::lround(10 * std::log2(*z))) : 0;
    if (!z || *z <= 0 || s < ZoomSlider->minimum() || s > ZoomSlider->maximum()) {
        Zoom->setText(zoomText(std::pow(2.0, ZoomSlider->value() / 10.0)));
        return;
    }
    {
        const QSignalBlocker b(ZoomSlider);
        ZoomSlider->setValue(s);
    }
    Viewer->setZoom(GetSelectedImage(), *z);
}

void frmImageViewer::windowButton(bool all, bool defaults)
{
    if (all && allChange()) {
        const double level = defaults ? LevelSlider->maximum() / 2.0 : LevelSlider->value();
        const double width = defaults ? WidthSlider->maximum() / 2.0 : WidthSlider->value();
        for (int i = 1; i <= Images().count(); ++i)
            Viewer->setWindow(Images().item(i), width, level);
        if (Images().count() == 0)
            GetSelectedImage();
    } else if (defaults) {
        setLevelSlider(halfToEven(LevelSlider->maximum()));
        setWidthSlider(halfToEven(WidthSlider->maximum()));
    } else {
        setLevelSlider(100);
        setWidthSlider(160);
    }
    Viewer->setFocus();
}

void frmImageViewer::stretchClicked(bool on)
{
    Viewer->setStretchToFit(GetSelectedImage(), on);
    if (allChange())
        for (int i = 1; i <= Images().count(); ++i)
            Viewer->setStretchToFit(Images().item(i), on);
    Mouse[3]->setEnabled(!on);
    for (QWidget *w : std::initializer_list<QWidget *>{Zoom, ZoomSlider, ZoomLabel})
        w->setEnabled(!on);
}

void frmImageViewer::enhanceClicked(bool on)
{
    Viewer->setDisplayEnhance(GetSelectedImage(), !on, !on);
    for (int i = 1; i <= Images().count(); ++i)
        Viewer->setDisplayEnhance(Images().item(i), !on, !on);
}

void frmImageViewer::doubleClicked()
{
    if (Viewer->rows() == 1 && Viewer->columns() == 1) {
        Rows->setText(QString::number(m_savedRows));
        Columns->setText(QString::number(m_savedColumns));
        Viewer->setCurrentIndex(1);
        return;
    }
    m_savedRows = Viewer->rows();
    m_savedColumns = Viewer->columns();
    Viewer->setCurrentIndex(m_mouse->lastClickIndex() > 0 ? m_mouse->lastClickIndex() : Viewer->currentIndex());
    int one = 1, alsoOne = 1;
    SetRC(one, alsoOne);
}

void frmImageViewer::select(int index)
{
    if (m_selected && !m_placeholder)
        Viewer->setHighlight(*m_selected, 0);
    m_selected = Images().item(index);
    m_placeholder = false;
    Viewer->setHighlight(*m_selected, 1, QColor(255, 0, 0));
    syncFromSurface();
    redrawMarkers();
}

bool frmImageViewer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut) {
        if (watched == width1)
            typedWindowValue(width1, WidthSlider);
        else if (watched == level1)
            typedWindowValue(level1, LevelSlider);
        else if (watched == Zoom)
            typedZoom();
        else if (watched == current) {
            if (const auto n = wholeNumber(current->text())) {
                const QSignalBlocker b(CurrentSpin);
                CurrentSpin->setValue(CurrentSpin->maximum() - *n + 1);
            }
        } else if (watched == Rows || watched == Columns) {
            auto *edit = static_cast<QLineEdit *>(watched);
            if (const auto n = wholeNumber(edit->text())) {
                QScrollBar *spin = watched == Rows ? RowSpin : ColSpin;
                const QSignalBlocker b(spin);
                spin->setValue(kTileSpinMax - *n + 1);
            }
        }
    } else if (event->type() == QEvent::KeyPress && (watched == width1 || watched == level1 || watched == Zoom)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Viewer->setFocus();
            return true;
        }
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            (watched == width1 ? WidthSlider : watched == level1 ? LevelSlider : ZoomSlider)->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void frmImageViewer::closeEvent(QCloseEvent *event)
{
    SaveWindow(this);
    Viewer->showCollection(nullptr);
    session().images().clear();
    QWidget::closeEvent(event);
}

void frmImageViewer::chooseMode(int mode) { m_mouse->setMode(mode); }

void frmImageViewer::modeChanged(int mode)
{
    if (Mouse[std::size_t(mode)] && !Mouse[std::size_t(mode)]->isChecked())
        Mouse[std::size_t(mode)]->setChecked(true);
    LabelForm::instance()->adjustToMode(mode);
    Viewer->setFocus();
}

void frmImageViewer::redrawMarkers() { m_mouse->showMarkers(AnatomicMarkers->isChecked()); }

QList<dicom::Image> frmImageViewer::allImages()
{
    QList<dicom::Image> images;
    for (int i = 1; i <= Images().count(); ++i)
        images << Images().item(i);
    return images;
}

QList<QPushButton *> frmImageViewer::transferCommands() const
{
    return {cmdDICOMSendOne, cmdDicomSend, FileWrite, Export, cmdExportDir, cmdPrintAll, cmdPrint};
}

void frmImageViewer::transfer(const std::function<void(std::function<void()>)> &start)
{
    for (QPushButton *b : transferCommands())
        b->setEnabled(false);
    prgWork->setValue(0);
    prgWork->setVisible(true);
    QPointer<frmImageViewer> self(this);
    start([self] {
        if (!self)
            return;
        for (QPushButton *b : self->transferCommands())
            b->setEnabled(true);
        self->prgWork->setVisible(false);
    });
}

void frmImageViewer::sendImages(bool all)
{
    QList<dicom::Image> images;
    if (all)
        images = allImages();
    else if (Images().count() > 0)
        images << GetSelectedImage();
    if (images.isEmpty()) {
        AddLog(QStringLiteral("Send Complete."));
        return;
    }
    dicom::Peer peer;
    try {
        peer = dicomNodes().storagePeer();
    } catch (const std::exception &e) {
        msgBox(this, describe(e), Prompter::Icon::Critical);
        return;
    }
    transfer([&](std::function<void()> done) { ViewerTransfer::send(images, peer, all, done); });
}

void frmImageViewer::printImages(const PaperTarget &target)
{
    const PaperHeader header = ViewerTransfer::paperHeader();
    const QList<dicom::Image> images = allImages();
    if (images.isEmpty())
        return;
    PaperTarget to = target;
    if (to.pdfFile.isEmpty() && !hasDefaultPrinter()) {
        // As the report window does: without a printer the pages can still be kept as a PDF.
        if (msgBox(this, QStringLiteral("No printer is set up on this workstation. Save the pages as a PDF file instead?"),
                   Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
            != Prompter::Yes)
            return;
        to.pdfFile = Prompter::instance().saveFile(this, QStringLiteral("Save as PDF"), QString(), QStringLiteral("PDF files (*.pdf)"));
        if (to.pdfFile.isEmpty())
            return;
    }
    transfer([&](std::function<void()> done) { ViewerTransfer::printPaper(images, header, to, done); });
}

void frmImageViewer::printOnFilm()
{
    if (msgBox(this,
               QStringLiteral("This routine prints all the images in the viewer to a DICOM printer, and several variables, as "
                              "defined in the printer's conformance statement may need to be set.  As  Do you wish to continue"),
               Prompter::Icon::Question, QString(), Prompter::Yes | Prompter::No)
        != Prompter::Yes)
        return;
    const QList<dicom::Image> images = allImages();
    ViewerTransfer::FilmSettings film;
    try {
        film = ViewerTransfer::filmSettings();
    } catch (const std::exception &e) {
        msgBox(this, describe(e), Prompter::Icon::Critical);
        return;
    }
    transfer([&](std::function<void()> done) { ViewerTransfer::printFilm(images, film, done); });
}

void frmImageViewer::saveAsDicom()
{
    if (Images().count() == 0) {
        msgBox(this, QStringLiteral("No image to export!"), Prompter::Icon::Warning);
        return;
    }
    const QString path = Prompter::instance().saveFile(this, QStringLiteral("Export to DICOM File"), QString(),
                                                       QStringLiteral("DICOM Image (*.dcm)"));
    if (path.isEmpty())
        return;
    const dicom::Image image = GetSelectedImage();
    transfer([&](std::function<void()> done) { ViewerTransfer::saveAs(image, path, done); });
}

void frmImageViewer::exportImage()
{
    if (Images().count() == 0) {
        msgBox(this, QStringLiteral("No image to export!"), Prompter::Icon::Warning);
        return;
    }
    const dicom::Image image = GetSelectedImage();
    const QString pictures = QStringLiteral("Windows Bitmap(*.bmp) (*.bmp);;JPeg(*.jpg) (*.jpg)");
    const QString filter = image.frameCount() > 1 ? QStringLiteral("AVI (*.avi);;") + pictures : pictures;
    const QString path = Prompter::instance().saveFile(this, QStringLiteral("Export to non-DICOM File"), QString(), filter);
    if (path.isEmpty())
        return;
    const QString format = path.right(3).toUpper();
    if (format != QLatin1String("BMP") && format != QLatin1String("JPG") && !(format == QLatin1String("AVI") && image.frameCount() > 1)) {
        msgBox(this, QStringLiteral("Choose a .bmp or .jpg file%1.").arg(image.frameCount() > 1 ? QStringLiteral(", or .avi") : QString()),
               Prompter::Icon::Warning);
        return;
    }
    transfer([&](std::function<void()> done) { ViewerTransfer::exportPicture(image, path, done); });
}

void frmImageViewer::exportAll()
{
    msgBox(this, QStringLiteral("This routine writes all image held in the viewer to a directory, complete with a DICOMDIR, for "
                                "copying to a CD-ROM etc."));
    const auto answer = Prompter::instance().input(this, QStringLiteral("Enter directory for images and dicomdir (will be created if necessary)"),
                                                   QString());
    if (!answer || answer->trimmed().isEmpty())
        return;
    QString directory = answer->trimmed();
    if (!directory.endsWith(QLatin1Char('\\')) && !directory.endsWith(QLatin1Char('/')))
        directory += QDir::separator();
    const QList<dicom::Image> images = allImages();
    if (images.isEmpty()) {
        msgBox(this, QStringLiteral("No image to export!"), Prompter::Icon::Warning);
        return;
    }
    transfer([&](std::function<void()> done) { ViewerTransfer::exportAll(images, QDir::fromNativeSeparators(directory), done); });
}

} // namespace orv
