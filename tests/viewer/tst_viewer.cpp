// The viewer window driven through its controls: tiling and remembered tiles, navigation, the
// double-click toggle, the empty viewer, and display adjustment by sliders, typed values,
// buttons and the mouse, checked on the images' values and on the pixels drawn.

#include "SyntheticImages.h"

#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "core/SharedState.h"
#include "viewer/frmImageViewer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

namespace {

GreySpec secondaryCapture()
{
    GreySpec s;
    s.bits = 8;
    s.sopClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.7");
    return s;
}

// A uniform CT: stored 1100 with intercept -1024 is 76 HU.
Image ct76(int size = 16)
{
    GreySpec ct;
    ct.intercept = -1024;
    return uniformImage(1100, size, ct);
}

void mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    QMouseEvent e(type, at, w->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget *w, QPoint from, QPoint to)
{
    mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(w, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    mouse(w, QEvent::MouseMove, to, Qt::LeftButton);
    mouse(w, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

void typeInto(QLineEdit *edit, const QString &text, QWidget *next)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    next->setFocus();
}

} // namespace

class tst_Viewer : public QObject
{
    Q_OBJECT
private:
    frmImageViewer *m_w = nullptr;
    ScriptedPrompter *m_prompter = nullptr;

    void fill(const QList<Image> &images)
    {
        m_w->Images().clear();
        for (const Image &i : images)
            m_w->Images().add(i);
    }
    void fillUniform(int n)
    {
        QList<Image> list;
        for (int i = 1; i <= n; ++i)
            list << uniformImage(20 * i, 16, secondaryCapture());
        fill(list);
    }
    void tiles(int rows, int columns)
    {
        m_w->findChild<QPushButton *>(QStringLiteral("cmnuTile%1x%2").arg(rows).arg(columns))->click();
    }
    double width(int i) const { return m_w->Viewer->windowWidth(m_w->Images().item(i)); }
    double level(int i) const { return m_w->Viewer->windowLevel(m_w->Images().item(i)); }
    int centreGrey(int tile) const { return qGray(m_w->Viewer->grab().toImage().pixel(m_w->Viewer->tileRect(tile).center())); }

private slots:
    void init();
    void cleanup();
    void opensAtThreeByThreeAndRemembersTheTiles();
    void tileControlsSetTheLayout();
    void currentImageNumberIsKeptWithinTheImages();
    void doubleClickTogglesOneImageAndTheTiles();
    void emptyViewerWarnsOnceAndChangesNothing();
    void windowingControlsFollowTheKindOfImage_data();
    void windowingControlsFollowTheKindOfImage();
    void slidersTypedValuesAndButtonsSetTheWindow();
    void zoomFollowsTheLogarithmicScale();
    void allChangeStretchAndEnhanceReachEveryImage();
    void mouseWindowingAndPanFollowThePointer();
};

void tst_Viewer::init()
{
    resetSettings();
    m_prompter = ScriptedPrompter::install();
    m_w = frmImageViewer::instance();
    m_w->Viewer->setBackgroundDecoding(false); // pixels are compared as soon as a tile is shown
    m_w->resize(1000, 700);
    m_w->show();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w));
}

void tst_Viewer::cleanup()
{
    if (auto *w = frmImageViewer::existing()) {
        w->close();
        QTRY_VERIFY(!frmImageViewer::existing());
    }
}

void tst_Viewer::opensAtThreeByThreeAndRemembersTheTiles()
{
    QCOMPARE(m_w->windowTitle(), QStringLiteral("DICOM Image Viewer"));
    QCOMPARE(m_w->Viewer->rows(), 3);
    QCOMPARE(m_w->Viewer->columns(), 3);
    QCOMPARE(m_w->mouseMode(), 1);
    tiles(2, 3);
    m_w->cmdRem->click();
    QCOMPARE(settings().read(apps::VelmorOrvaline, QStringLiteral("Viewer"), QStringLiteral("TileRows")), QStringLiteral("2"));
    QCOMPARE(settings().read(apps::VelmorOrvaline, QStringLiteral("Viewer"), QStringLiteral("TileColumns")), QStringLiteral("3"));
    m_w->cmdClose->click();
    QTRY_VERIFY(!frmImageViewer::existing());
    m_w = frmImageViewer::instance();
    QCOMPARE(m_w->Viewer->rows(), 2);
    QCOMPARE(m_w->Viewer->columns(), 3);
    // A stored value that is not a number counts as missing.
    settings().write(apps::VelmorOrvaline, QStringLiteral("Viewer"), QStringLiteral("TileRows"), QStringLiteral("x"));
    m_w->close();
    QTRY_VERIFY(!frmImageViewer::existing());
    QCOMPARE(frmImageViewer::instance()->Viewer->rows(), 3);
}

void tst_Viewer::tileControlsSetTheLayout()
{
    tiles(1, 3); // the first digit is the row count
    QCOMPARE(m_w->Viewer->rows(), 1);
    QCOMPARE(m_w->Viewer->columns(), 3);
    QCOMPARE(m_w->Columns->text(), QStringLiteral("3"));
    m_w->Rows->setText(QStringLiteral("4"));
    QCOMPARE(m_w->Viewer->rows(), 4);
    for (const char *junk : {"", "x", "0", "-2", "2.5"}) {
        m_w->Columns->setText(QLatin1String(junk));
        QCOMPARE(m_w->Viewer->columns(), 3);
    }
    m_w->Columns->setText(QStringLiteral("3"));
    // The spinners run upside down: the upper arrow (a smaller value) increases the number.
    m_w->RowSpin->setValue(m_w->RowSpin->maximum());
    QCOMPARE(m_w->Viewer->rows(), 1);
    m_w->RowSpin->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(m_w->Rows->text(), QStringLiteral("2"));
    m_w->ColSpin->setValue(1);
    QCOMPARE(m_w->Viewer->columns(), 6);
}

void tst_Viewer::currentImageNumberIsKeptWithinTheImages()
{
    fillUniform(10);
    QCOMPARE(m_w->current->text(), QStringLiteral("1"));
    QCOMPARE(m_w->CurrentSpin->value(), 10);
    for (const auto &[typed, shown] : {std::pair{"0", "1"}, {"-4", "1"}, {"25", "10"}, {"x", "x"}}) {
        m_w->current->setText(QLatin1String(typed));
        QCOMPARE(m_w->current->text(), QLatin1String(shown));
    }
    QCOMPARE(m_w->Viewer->currentIndex(), 10);
    m_w->current->setText(QStringLiteral("4"));
    QCOMPARE(m_w->Viewer->currentIndex(), 4);
    QCOMPARE(m_w->CurrentSpin->value(), 7);
    m_w->CurrentSpin->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(m_w->current->text(), QStringLiteral("5"));
    fill({});
    QCOMPARE(m_w->current->text(), QStringLiteral("0"));
    QVERIFY(!m_w->CurrentSpin->isEnabled());
    QVERIFY(m_prompter->messages().isEmpty());
}

void tst_Viewer::doubleClickTogglesOneImageAndTheTiles()
{
    fillUniform(8);
    tiles(2, 3);
    const QPoint fifth = m_w->Viewer->tileRect(4).center();
    QTest::mouseClick(m_w->Viewer, Qt::LeftButton, {}, fifth);
    const Image image5 = m_w->Images().item(5);
    QCOMPARE(m_w->Viewer->highlightStyle(image5), 1);
    QCOMPARE(m_w->Viewer->highlightColour(image5), QColor(255, 0, 0));
    QCOMPARE(m_w->GetSelectedImage().fileFormat(), image5.fileFormat());
    QTest::mouseDClick(m_w->Viewer, Qt::LeftButton, {}, fifth);
    QCOMPARE(m_w->Viewer->rows() * m_w->Viewer->columns(), 1);
    QCOMPARE(m_w->current->text(), QStringLiteral("5"));
    m_w->Viewer->setWindow(image5, 256, 128);
    QCOMPARE(centreGrey(0), 100); // image 5 fills the surface
    QTest::mouseDClick(m_w->Viewer, Qt::LeftButton, {}, fifth);
    QCOMPARE(m_w->Viewer->rows(), 2);
    QCOMPARE(m_w->Viewer->columns(), 3);
    QCOMPARE(m_w->Viewer->currentIndex(), 1);
    QTest::mouseClick(m_w->Viewer, Qt::LeftButton, {}, m_w->Viewer->tileRect(1).center());
    QCOMPARE(m_w->Viewer->highlightStyle(image5), 0); // the frame moved to image 2
    QCOMPARE(m_w->Viewer->highlightStyle(m_w->Images().item(2)), 1);
}

void tst_Viewer::emptyViewerWarnsOnceAndChangesNothing()
{
    QVERIFY(!m_w->WidthSlider->isVisibleTo(m_w));
    QVERIFY(!m_w->width1->isEnabled());
    m_w->btnChngSel->click();
    m_w->btnDefault->click();
    m_w->StretchToFit->click();
    m_w->ZoomSlider->setValue(10);
    QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("No Images to manipulate!")});
    QCOMPARE(m_w->Images().count(), 0);
    // Images arriving later are what the controls act on.
    fillUniform(2);
    m_w->btnChngSel->click();
    QCOMPARE(level(1), 100.0);
    QCOMPARE(m_prompter->messages().size(), 1);
}

void tst_Viewer::windowingControlsFollowTheKindOfImage_data()
{
    QTest::addColumn<Image>("image");
    QTest::addColumn<bool>("widthLevel");
    QTest::addColumn<bool>("combined");
    QTest::addColumn<QList<int>>("ranges"); // width min, max, level min, max
    QTest::newRow("8-bit secondary capture") << uniformImage(50, 16, secondaryCapture()) << true << false
                                             << QList<int>{2, 512, 2, 256};
    QTest::newRow("16-bit CT") << uniformImage(50) << true << false << QList<int>{-1500, 4000, -1000, 1000};
    GreySpec nm;
    nm.sopClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.20");
    QTest::newRow("nuclear medicine") << uniformImage(50, 16, nm) << false << true << QList<int>{};
    GreySpec voi;
    voi.voiLutSequence = true;
    QTest::newRow("VOI LUT sequence") << uniformImage(50, 16, voi) << false << false << QList<int>{};
}

void tst_Viewer::windowingControlsFollowTheKindOfImage()
{
    QFETCH(Image, image);
    QFETCH(bool, widthLevel);
    QFETCH(bool, combined);
    QFETCH(QList<int>, ranges);
    fill({image});
    QCOMPARE(m_w->WidthSlider->isVisibleTo(m_w), widthLevel);
    QCOMPARE(m_w->LevelLabel->isVisibleTo(m_w), widthLevel);
    QCOMPARE(m_w->WLSlider->isVisibleTo(m_w), combined);
    QCOMPARE(m_w->width1->isEnabled(), widthLevel || combined);
    if (!ranges.isEmpty())
        QCOMPARE((QList<int>{m_w->WidthSlider->minimum(), m_w->WidthSlider->maximum(), m_w->LevelSlider->minimum(),
                             m_w->LevelSlider->maximum()}),
                 ranges);
    if (combined) {
        m_w->WLSlider->setValue(100);
        QCOMPARE(width(1), 200.0);
        QCOMPARE(level(1), 100.0);
    }
}

void tst_Viewer::slidersTypedValuesAndButtonsSetTheWindow()
{
    fill({ct76(), ct76()});
    m_w->WidthSlider->setValue(200);
    m_w->LevelSlider->setValue(100);
    QCOMPARE(width(1), 200.0);
    QCOMPARE(m_w->level1->text(), QStringLiteral("100"));
    QCOMPARE(centreGrey(0), 97); // ((76 - 99.5) / 199 + 0.5) * 255
    QCOMPARE(level(2), 76.5);    // untouched: the middle of its one value

    for (const char *refused : {"abc", "9000"}) { // not a number; beyond the slider
        typeInto(m_w->width1, QLatin1String(refused), m_w->Viewer);
        QCOMPARE(width(1), 200.0);
        QCOMPARE(m_w->width1->text(), QStringLiteral("200"));
    }
    typeInto(m_w->width1, QStringLiteral("50.4"), m_w->Viewer);
    QCOMPARE(width(1), 50.0);
    QCOMPARE(m_w->WidthSlider->value(), 50);
    // Enter gives the focus to the surface, which applies the typed value.
    m_w->level1->setFocus();
    m_w->level1->selectAll();
    QTest::keyClicks(m_w->level1, QStringLiteral("60"));
    QTest::keyClick(m_w->level1, Qt::Key_Return);
    QVERIFY(m_w->Viewer->hasFocus());
    QCOMPARE(level(1), 60.0);
    QCOMPARE(centreGrey(0), 213); // ((76 - 59.5) / 49 + 0.5) * 255

    m_w->btnChngSel->click();
    QCOMPARE(level(1), 100.0);
    QCOMPARE(width(1), 160.0);
    m_w->btnDefault->click(); // half the maxima of -1500..4000 and -1000..1000
    QCOMPARE(width(1), 2000.0);
    QCOMPARE(level(1), 500.0);
    QCOMPARE(level(2), 76.5);
    m_w->optAllChange->click();
    m_w->LevelSlider->setValue(-20);
    m_w->btnChngAll->click(); // every image takes the sliders' level and width
    QCOMPARE(level(2), -20.0);
    QCOMPARE(width(2), 2000.0);
}

void tst_Viewer::zoomFollowsTheLogarithmicScale()
{
    fillUniform(1);
    QVERIFY(!m_w->ZoomSlider->isEnabled());
    m_w->StretchToFit->click();
    QVERIFY(m_w->ZoomSlider->isEnabled());
    const Image image = m_w->Images().item(1);
    for (const auto &[s, z] : {std::pair{10, 2.0}, {-40, 0.0625}, {0, 1.0}, {40, 16.0}}) {
        m_w->ZoomSlider->setValue(s);
        QCOMPARE(m_w->Viewer->zoom(image), z);
        QCOMPARE(m_w->Zoom->text().toDouble(), z);
    }
    typeInto(m_w->Zoom, QStringLiteral("3"), m_w->Viewer);
    QCOMPARE(m_w->Viewer->zoom(image), 3.0);
    QCOMPARE(m_w->ZoomSlider->value(), 16); // 10 * log2(3) = 15.85
    for (const char *refused : {"0", "-1", "x", "100"}) {
        typeInto(m_w->Zoom, QLatin1String(refused), m_w->Viewer);
        QCOMPARE(m_w->Viewer->zoom(image), 3.0);
    }
}

void tst_Viewer::allChangeStretchAndEnhanceReachEveryImage()
{
    fillUniform(4);
    QVERIFY(m_w->StretchToFit->isChecked());
    QVERIFY(!m_w->Mouse[3]->isEnabled());
    m_w->optAllChange->click();
    m_w->StretchToFit->click();
    QVERIFY(m_w->Mouse[3]->isEnabled());
    m_w->LevelSlider->setValue(40);
    for (int i = 1; i <= 4; ++i) {
        QVERIFY(!m_w->Viewer->stretchToFit(m_w->Images().item(i)));
        QCOMPARE(level(i), 40.0);
    }
    m_w->StretchToFit->click();
    QVERIFY(!m_w->Mouse[3]->isEnabled());
    // Display Enhance switches every image, whatever "All Change" says.
    m_w->optAllChange->click();
    m_w->mnuDisplayEnhance->click();
    for (int i = 1; i <= 4; ++i)
        QVERIFY(!m_w->Viewer->displayEnhance1(m_w->Images().item(i)) && !m_w->Viewer->displayEnhance2(m_w->Images().item(i)));
}

void tst_Viewer::mouseWindowingAndPanFollowThePointer()
{
    fill({ct76(64), ct76(64)});
    tiles(1, 2);
    const Image first = m_w->Images().item(1), second = m_w->Images().item(2);
    m_w->Viewer->setWindow(first, 300, 40);
    m_w->Mouse[2]->click();
    const QPoint c = m_w->Viewer->tileRect(0).center();
    drag(m_w->Viewer, c, c + QPoint(30, -20)); // right widens, up raises the level
    QCOMPARE(width(1), 330.0);
    QCOMPARE(level(1), 60.0);
    QCOMPARE(m_w->width1->text(), QStringLiteral("330"));
    QCOMPARE(centreGrey(0), 140); // ((76 - 59.5) / 329 + 0.5) * 255
    QVERIFY(width(2) != 330.0);
    m_w->optAllChange->click();
    drag(m_w->Viewer, c, c + QPoint(-100, 0));
    QCOMPARE(width(2), 230.0);
    QCOMPARE(level(2), 60.0);
    mouse(m_w->Viewer, QEvent::MouseMove, c + QPoint(50, 50), Qt::NoButton); // no button: nothing
    QCOMPARE(width(1), 230.0);

    m_w->StretchToFit->click(); // all images: off
    m_w->Mouse[3]->click();
    drag(m_w->Viewer, c, c + QPoint(15, 25));
    QCOMPARE(m_w->Viewer->panX(first), -15.0);
    QCOMPARE(m_w->Viewer->panY(first), -25.0);
    m_w->Mouse[1]->click(); // Select pans the clicked image too, while it is not stretched
    const QPoint c2 = m_w->Viewer->tileRect(1).center();
    drag(m_w->Viewer, c2, c2 + QPoint(-10, 0));
    QCOMPARE(m_w->Viewer->panX(second), 10.0);
}

ORV_TEST_MAIN(tst_Viewer)
#include "tst_viewer.moc"
