// The viewer window driven through its controls: the double-click toggle, the empty viewer, and
// display adjustment by sliders, typed values, buttons and the mouse, checked on the images'
// values and on the pixels drawn.

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
    void slidersTypedValuesAndButtonsSetTheWindow();
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
