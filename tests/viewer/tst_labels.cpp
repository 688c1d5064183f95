// The viewer's mouse tools: the measuring line and shapes measure in millimetres or pixels,
// checked on the image's values.

#include "SyntheticImages.h"

#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "core/SharedState.h"
#include "viewer/LabelForm.h"
#include "viewer/frmImageViewer.h"

#include <dcmtk/dcmdata/dcitem.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

namespace {

void mouse(QWidget *w, QEvent::Type type, QPointF at, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget *w, QPointF from, QPointF to, int steps = 4)
{
    mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int i = 1; i <= steps; ++i)
        mouse(w, QEvent::MouseMove, from + (to - from) * i / steps, Qt::LeftButton);
    mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// A 200 x 200 CT whose stored value at (x, y) is x + 2y, read as x + 2y - 1024.
Image gradientCt(const std::function<void(DcmDataset *)> &calibrate = {})
{
    GreySpec spec;
    spec.rows = spec.columns = 200;
    spec.intercept = -1024;
    Image image = greyImage(spec, [](int x, int y) { return x + 2 * y; });
    if (calibrate)
        calibrate(image.fileFormat()->getDataset());
    return image;
}

void ultrasoundRegion(DcmDataset *ds, Uint32 x0, Uint32 y0, Uint32 x1, Uint32 y1, double deltaCm)
{
    auto *item = new DcmItem;
    item->putAndInsertUint32(DCM_RegionLocationMinX0, x0);
    item->putAndInsertUint32(DCM_RegionLocationMinY0, y0);
    item->putAndInsertUint32(DCM_RegionLocationMaxX1, x1);
    item->putAndInsertUint32(DCM_RegionLocationMaxY1, y1);
    item->putAndInsertUint16(DCM_PhysicalUnitsXDirection, 3);
    item->putAndInsertUint16(DCM_PhysicalUnitsYDirection, 3);
    item->putAndInsertFloat64(DCM_PhysicalDeltaX, deltaCm);
    item->putAndInsertFloat64(DCM_PhysicalDeltaY, deltaCm);
    ds->insertSequenceItem(DCM_SequenceOfUltrasoundRegions, item);
}

} // namespace

class tst_Labels : public QObject
{
    Q_OBJECT
private:
    frmImageViewer *m_w = nullptr;
    ScriptedPrompter *m_prompter = nullptr;

    // One image alone, one screen pixel per image pixel.
    Image showOne(const Image &image)
    {
        m_w->Images().clear();
        m_w->Images().add(image);
        m_w->findChild<QPushButton *>(QStringLiteral("cmnuTile1x1"))->click();
        m_w->Viewer->setStretchToFit(image, false);
        m_w->Viewer->setZoom(image, 1);
        // Whole screen pixels fall on whole image pixels, so pointer positions map exactly.
        const QRectF placed = *m_w->Viewer->placedRect(image);
        m_w->Viewer->setPan(image, placed.left() - std::floor(placed.left()), placed.top() - std::floor(placed.top()));
        return image;
    }
    void chooseMode(int mode) { m_w->findChild<QRadioButton *>(QStringLiteral("Mouse_%1").arg(mode))->click(); }
    QPointF screenOf(const Image &image, QPointF imagePoint) { return *m_w->Viewer->toSurface(image, imagePoint); }

private slots:
    void init();
    void cleanup();
    void measuringLineGivesMillimetresWhereCalibrated_data();
    void measuringLineGivesMillimetresWhereCalibrated();
    void closedMeasuringShapesGiveAreaAndMean();
    void labelsArePlacedAsTiedOrRefused();
};

void tst_Labels::init()
{
    resetSettings();
    m_prompter = ScriptedPrompter::install();
    m_w = frmImageViewer::instance();
    m_w->Viewer->setBackgroundDecoding(false);
    m_w->resize(1000, 700);
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w));
}

void tst_Labels::cleanup()
{
    if (auto *w = frmImageViewer::existing()) {
        w->close();
        QTRY_VERIFY(!frmImageViewer::existing());
    }
    LabelForm *form = LabelForm::instance();
    form->ImageScale->setChecked(true);
    form->LabelType[0]->setChecked(true);
    form->Alignment[0]->setChecked(true);
    form->LineWidth->setText(QStringLiteral("1"));
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(12);
    form->setLabelFont(arial);
}

void tst_Labels::measuringLineGivesMillimetresWhereCalibrated_data()
{
    QTest::addColumn<Image>("image");
    QTest::addColumn<QString>("shown");
    QTest::newRow("pixel spacing") << gradientCt([](DcmDataset *ds) { ds->putAndInsertString(DCM_PixelSpacing, "0.5\\0.5"); })
                                   << "50 mm";
    QTest::newRow("no spacing") << gradientCt() << "100 pixels";
    QTest::newRow("imager spacing") << gradientCt([](DcmDataset *ds) { ds->putAndInsertString(DCM_ImagerPixelSpacing, "0.3\\0.3"); })
                                    << "30 mm";
    QTest::newRow("uneven spacing, two decimals")
        << gradientCt([](DcmDataset *ds) { ds->putAndInsertString(DCM_PixelSpacing, "0.3333\\0.3333"); }) << "33.33 mm";
    // An ultrasound region (0.02 cm a pixel) holding the line calibrates it over the spacing.
    QTest::newRow("ultrasound region") << gradientCt([](DcmDataset *ds) {
        ds->putAndInsertString(DCM_PixelSpacing, "0.5\\0.5");
        ultrasoundRegion(ds, 10, 10, 190, 190, 0.02);
    }) << "20 mm";
    QTest::newRow("outside the region") << gradientCt([](DcmDataset *ds) { ultrasoundRegion(ds, 150, 150, 199, 199, 0.02); })
                                        << "100 pixels";
}

void tst_Labels::measuringLineGivesMillimetresWhereCalibrated()
{
    QFETCH(Image, image);
    QFETCH(QString, shown);
    showOne(image);
    chooseMode(5);
    drag(m_w->Viewer, screenOf(image, {50, 60}), screenOf(image, {150, 60}));
    const QList<Label> labels = m_w->Viewer->labels(image);
    QCOMPARE(labels.size(), 2);
    const Label &result = labels[1];
    QCOMPARE(result.text, shown);
    QVERIFY(std::abs(result.left - 150) < 1 && std::abs(result.top - 60) < 1); // at the release point
}

void tst_Labels::closedMeasuringShapesGiveAreaAndMean()
{
    const Image image = showOne(gradientCt([](DcmDataset *ds) { ds->putAndInsertString(DCM_PixelSpacing, "0.5\\0.5"); }));
    // The value at (x, y) is x + 2y - 1024: inside the 40 x 20 rectangle from (20, 30) the mean
    // is the value at its centre (39.5, 39.5), and its area is 800 pixels of 0.25 mm².
    const auto drawShape = [&](int type, QPointF from, QPointF to) {
        m_prompter->shown.clear();
        LabelForm::instance()->LabelType[std::size_t(type)]->setChecked(true);
        chooseMode(5);
        drag(m_w->Viewer, screenOf(image, from), screenOf(image, to));
        return m_prompter->messages();
    };
    QCOMPARE(drawShape(Label::Rectangle, {20, 30}, {60, 50}),
             (QStringList{QStringLiteral("200 square mm"), QStringLiteral("Mean value = ") + QString::number(39.5 + 2 * 39.5 - 1024)}));
    // An ellipse over the same box: pi * 20 * 10 pixels; the gradient is symmetric about its
    // centre, so the mean stays the centre value.
    const QStringList ellipse = drawShape(Label::Ellipse, {20, 30}, {60, 50});
    QCOMPARE(ellipse.value(0), QStringLiteral("157.08 square mm"));
    QCOMPARE(ellipse.value(1), QStringLiteral("Mean value = ") + QString::number(39.5 + 2 * 39.5 - 1024));
    // A polygon traced as a triangle (0,0)-(100,0)-(0,100) relative to (40, 40): 5000 pixels.
    m_prompter->shown.clear();
    LabelForm::instance()->LabelType[Label::Polygon]->setChecked(true);
    chooseMode(5);
    mouse(m_w->Viewer, QEvent::MouseButtonPress, screenOf(image, {40, 40}), Qt::LeftButton);
    mouse(m_w->Viewer, QEvent::MouseMove, screenOf(image, {140, 40}), Qt::LeftButton);
    mouse(m_w->Viewer, QEvent::MouseMove, screenOf(image, {40, 140}), Qt::LeftButton);
    mouse(m_w->Viewer, QEvent::MouseButtonRelease, screenOf(image, {40, 140}), Qt::NoButton);
    QCOMPARE(m_prompter->messages().value(0), QStringLiteral("1250 square mm"));
    // The mean of a linear gradient is its value at the centroid (73.3, 73.3), less half a pixel
    // for pixel centres, within one value for the pixels the edge cuts.
    const double shownMean = m_prompter->messages().value(1).mid(13).toDouble();
    QVERIFY2(std::abs(shownMean - (3 * (40 + 100 / 3.0 - 0.5) - 1024)) < 1, qPrintable(m_prompter->messages().value(1)));
}

// Labels go where "Tied To" says, a text label takes the text typed after it is drawn, and a
// label started off every image or without a size is refused; each drawing returns to Select.
void tst_Labels::labelsArePlacedAsTiedOrRefused()
{
    const Image image = showOne(gradientCt());
    LabelForm *form = LabelForm::instance();
    const auto draw = [&](int mode, QPointF from, QPointF to) {
        m_prompter->shown.clear();
        chooseMode(mode);
        drag(m_w->Viewer, from, to);
        QCOMPARE(m_w->mouseMode(), 1);
        QVERIFY(m_w->Mouse[1]->isChecked());
    };
    m_prompter->inputAnswers << QStringLiteral("LEFT KNEE");
    chooseMode(4);
    form->Control->setChecked(true);
    draw(4, screenOf(image, {10, 10}), screenOf(image, {60, 30}));
    QCOMPARE(m_w->Viewer->surfaceLabels().size(), 1);
    QCOMPARE(m_w->Viewer->surfaceLabels().first().text, QStringLiteral(" LEFT KNEE "));

    form->ImageScale->setChecked(true);
    draw(10, screenOf(image, {20, 30}), screenOf(image, {60, 50}));
    QCOMPARE(m_w->Viewer->labels(image).size(), 1);
    const Label box = m_w->Viewer->labels(image).first();
    QCOMPARE(box.space, Label::Space::Image);
    QVERIFY(std::abs(box.left - 20) < 1 && std::abs(box.top - 30) < 1);

    draw(10, screenOf(image, {20, 30}), screenOf(image, {20, 30}));
    QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("The label has no size: hold the button down and drag to draw it.")});
    m_w->findChild<QPushButton *>(QStringLiteral("cmnuTile3x3"))->click();
    draw(10, QPointF(m_w->Viewer->tileRect(5).center()), QPointF(m_w->Viewer->tileRect(5).center()) + QPointF(20, 20));
    QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("A label is drawn on an image: start it inside one.")});
    QCOMPARE(m_w->Viewer->labels(image).size(), 1);
}

ORV_TEST_MAIN(tst_Labels)
#include "tst_labels.moc"
