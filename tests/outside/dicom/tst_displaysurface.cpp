// The display surface draws what the toolkit's own renderer computes for the same image and
// window, for every photometric interpretation and encoding a capture station or archive gives;
// tiles and windows change the drawn pixels as they should.

#include "SyntheticImages.h"

#include "common/TestMain.h"
#include "outside/dicom/DisplaySurface.h"
#include "outside/dicom/Rendering.h"

#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <QSemaphore>
#include <QSet>
#include <QTemporaryFile>
#include <QThreadPool>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

namespace {

const QString kSamples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/");

// The first frame as the toolkit renders it (greyscale under the given window), one QRgb per pixel.
QImage reference(const Image &image, double width, double level)
{
    DcmDataset *ds = image.fileFormat()->getDataset();
    const E_TransferSyntax xfer = ds->getOriginalXfer() == EXS_Unknown ? EXS_LittleEndianExplicit : ds->getOriginalXfer();
    DicomImage di(ds, xfer, 0UL, 0UL, 1UL);
    if (di.getStatus() != EIS_Normal)
        return {};
    const int w = int(di.getWidth()), h = int(di.getHeight());
    QImage out(w, h, QImage::Format_RGB32);
    if (di.isMonochrome()) {
        if (width > 0)
            di.setWindow(level, width);
        else
            di.setVoiLut(0);
        const auto *p = static_cast<const Uint8 *>(di.getOutputData(8));
        for (int i = 0; i < w * h; ++i)
            out.setPixel(i % w, i / w, qRgb(p[i], p[i], p[i]));
    } else {
        const auto *p = static_cast<const Uint8 *>(di.getOutputData(8));
        for (int i = 0; i < w * h; ++i)
            out.setPixel(i % w, i / w, qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]));
    }
    return out;
}

// A 1 x 1 surface whose tile interior is exactly the image, drawn at one screen pixel per
// image pixel.
QImage drawnAtOneToOne(DisplaySurface &s, const Image &image)
{
    s.images().clear();
    s.images().add(image);
    s.refresh();
    s.setTiles(1, 1);
    s.setCurrentIndex(1);
    s.setStretchToFit(image, false);
    s.setZoom(image, 1);
    s.setDisplayEnhance(image, false, false);
    return s.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int grey(const QImage &shot, int x, int y) { return qGray(shot.pixel(x, y)); }

GreySpec eightBit(int size = 16)
{
    GreySpec s;
    s.bits = 8;
    s.rows = s.columns = size;
    return s;
}

void show(DisplaySurface &s, const QList<Image> &images)
{
    for (const Image &i : images)
        s.images().add(i);
    s.refresh();
}

} // namespace

class tst_DisplaySurface : public QObject
{
    Q_OBJECT
private slots:
    void drawsWhatTheToolkitRenders_data();
    void drawsWhatTheToolkitRenders();
    void windowChangesThePixelsAsComputed();
    void drawsTheSameInsideAWindowAsAlone();
    void tilesShowTheImagesFromTheCurrentOne_data();
    void tilesShowTheImagesFromTheCurrentOne();
    void anImageThatCannotBeDecodedLeavesOnlyItsTileEmpty();
    void forgetsImagesRemovedFromTheCollection();
    void aBackgroundDecodeIsNotReachedByChangesToTheShownObject();
    void jpeg2000FollowsTheDataSetsPixelRepresentation();
};

void tst_DisplaySurface::drawsWhatTheToolkitRenders_data()
{
    QTest::addColumn<Image>("image");
    QTest::addColumn<bool>("colour");
    const auto file = [](const char *name) { return Image::fromFile(kSamples + QLatin1String(name)); };
    // Plain CT and MR, RLE, big endian and JPEG greyscale go through the same decoding in the
    // command line's render tests, against dcmj2pnm.
    QTest::newRow("NM JPEG lossy, multi-frame") << file("test_files/JPEG-lossy.dcm") << false;
    QTest::newRow("RT dose 32-bit, multi-frame") << file("test_files/rtdose.dcm") << false;
    QTest::newRow("US RGB big endian") << file("test_files/ExplVR_BigEnd.dcm") << true;
    QTest::newRow("RGB JPEG as YBR_FULL") << file("test_files/SC_rgb_jpeg_dcmtk.dcm") << true;
    QTest::newRow("YBR_FULL_422 native") << file("test_files/SC_ybr_full_422_uncompressed.dcm") << true;
    QTest::newRow("YBR_FULL native") << file("test_files/SC_rgb_dcmtk_+eb+cy+n1.dcm") << true;
    QTest::newRow("RGB RLE 16-bit, two frames") << file("test_files/SC_rgb_rle_16bit_2frame.dcm") << true;
    QTest::newRow("PALETTE COLOR") << paletteImage(40, [](int x, int y) { return (x * 6 + y) % 256; }) << true;
    GreySpec mono1;
    mono1.photometric = QStringLiteral("MONOCHROME1");
    mono1.isSigned = true;
    mono1.slope = 0.5;
    mono1.intercept = -100;
    QTest::newRow("MONOCHROME1 signed, fractional slope")
        << greyImage(mono1, [](int x, int y) { return x * 300 - y * 200 - 2000; }) << false;
    GreySpec eight;
    eight.bits = 8;
    eight.sopClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.7");
    GreySpec voi;
    voi.voiLutSequence = true;
    QTest::newRow("VOI LUT") << greyImage(voi, [](int x, int y) { return (x * 16 + y) % 1100; }) << false;
    QTest::newRow("8-bit secondary capture") << greyImage(eight, [](int x, int y) { return (x * 4 + y) & 255; }) << false;
}

void tst_DisplaySurface::drawsWhatTheToolkitRenders()
{
    QFETCH(Image, image);
    QFETCH(bool, colour);
    DisplaySurface s;
    s.setMinimumSize(1, 1);
    s.resize(image.width() + 2, image.height() + 2);
    s.images().add(image);
    s.refresh();
    QVERIFY2(s.failureReason(image).isEmpty(), qPrintable(s.failureReason(image)));
    // A window inside the value range, so that many values fall on the slope.
    double width = s.windowWidth(image), level = s.windowLevel(image);
    QCOMPARE(s.usesVoiLut(image), QByteArray(QTest::currentDataTag()) == "VOI LUT");
    if (s.usesVoiLut(image)) {
        width = 0; // the reference shows the LUT too
    } else if (!colour) {
        width = std::max(2.0, width * 0.6);
        level = level + width * 0.1;
        s.setWindow(image, width, level);
    }
    const QImage shot = drawnAtOneToOne(s, image);
    const QImage ref = reference(image, width, level);
    QCOMPARE(ref.size(), QSize(image.width(), image.height()));
    int worst = 0, off = 0;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x) {
            const QRgb a = shot.pixel(x + 1, y + 1), b = ref.pixel(x, y);
            const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
            worst = std::max(worst, d);
            off += d > 1;
        }
    // DCMTK rounds the window slope slightly differently; one step of 255 is allowed.
    QVERIFY2(worst <= 1, qPrintable(QStringLiteral("largest difference %1 (%2 pixels off by more than 1)").arg(worst).arg(off)));
    QSet<QRgb> distinct;
    for (int y = 0; y < ref.height(); ++y)
        for (int x = 0; x < ref.width(); ++x)
            distinct.insert(shot.pixel(x + 1, y + 1));
    QVERIFY(distinct.size() > 1);
}

void tst_DisplaySurface::windowChangesThePixelsAsComputed()
{
    DisplaySurface s;
    s.resize(66, 66);
    // CT: stored 1100, intercept -1024 gives 76 HU.
    GreySpec ct;
    ct.intercept = -1024;
    ct.window = std::make_pair(40.0, 400.0);
    const Image image = uniformImage(1100, 64, ct);
    show(s, {image});
    QCOMPARE(s.windowWidth(image), 400.0);
    QCOMPARE(s.windowLevel(image), 40.0);
    const auto at = [&](double width, double level) {
        s.setWindow(image, width, level);
        return grey(s.grab().toImage(), 33, 33);
    };
    QCOMPARE(at(400, 40), 151);  // ((76 - 39.5) / 399 + 0.5) * 255 = 150.8
    QCOMPARE(at(200, 100), 97);  // ((76 - 99.5) / 199 + 0.5) * 255 = 97.4
    QCOMPARE(at(100, 200), 0);   // below the window
    QCOMPARE(at(100, -50), 255); // above it
    QCOMPARE(at(-300, 76), 255); // widths below 1 count as 1: a threshold at level - 0.5
    QCOMPARE(at(1, 77), 0);
}

// A new window is drawn straight into the window's picture, a repeated one from a kept picture:
// both land where the surface lies in its window, and nowhere else.
void tst_DisplaySurface::drawsTheSameInsideAWindowAsAlone()
{
    QWidget window;
    window.resize(200, 160);
    auto *s = new DisplaySurface(&window);
    s->setGeometry(17, 23, 150, 110);
    s->setTiles(1, 2);
    GreySpec a = eightBit(90), b;
    b.rows = 80;
    b.columns = 60;
    show(*s, {greyImage(a, [](int x, int y) { return (x * 3 + y) % 256; }), greyImage(b, [](int x, int y) { return x * 40 + y; })});
    for (int round = 0; round < 3; ++round) {
        s->setWindow(s->images().item(1), round == 2 ? 120 : 200, 100);
        const QImage inside = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage alone = s->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(inside.copy(s->geometry()), alone);
        QCOMPARE(inside.pixel(16, 22), window.palette().window().color().rgb());
    }
}

void tst_DisplaySurface::tilesShowTheImagesFromTheCurrentOne_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("first");
    QTest::newRow("2x3") << 2 << 3 << 1;
    QTest::newRow("3x3 from the third") << 3 << 3 << 3;
    QTest::newRow("1x2 from the last") << 1 << 2 << 7;
}

void tst_DisplaySurface::tilesShowTheImagesFromTheCurrentOne()
{
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(int, first);
    DisplaySurface s;
    s.resize(300, 240);
    for (int i = 1; i <= 7; ++i)
        s.images().add(uniformImage(30 * i, 16, eightBit()));
    s.refresh();
    s.setTiles(rows, columns);
    s.setCurrentIndex(first);
    for (int i = 1; i <= 7; ++i)
        s.setWindow(s.images().item(i), 256, 128);
    const QImage shot = s.grab().toImage();
    for (int tile = 0; tile < rows * columns; ++tile) {
        const QPoint c = s.tileRect(tile).center();
        const int index = first + tile;
        const int expected = index <= 7 ? 30 * index : 0;
        QCOMPARE(s.imageIndexAt(c.x(), c.y()), index <= 7 ? index : 0);
        QVERIFY2(std::abs(grey(shot, c.x(), c.y()) - expected) <= 1, qPrintable(QStringLiteral("tile %1").arg(tile)));
    }
    QCOMPARE(s.imageIndexAt(-5, 10), 0);
    s.setCurrentIndex(0);
    QCOMPARE(s.currentIndex(), 1);
    s.setCurrentIndex(99);
    QCOMPARE(s.currentIndex(), 7);
}

void tst_DisplaySurface::anImageThatCannotBeDecodedLeavesOnlyItsTileEmpty()
{
    DisplaySurface s;
    s.resize(202, 100);
    s.setTiles(1, 2);
    // JPEG 2000 data whose codestream is overwritten from its second marker on.
    QFile source(kSamples + QStringLiteral("test_files/JPEG2000.dcm"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const qsizetype soc = bytes.indexOf(QByteArray::fromHex("ff4fff51"));
    QVERIFY(soc > 0);
    for (qsizetype i = soc + 2; i < bytes.size() - 16; ++i)
        bytes[i] = char(0xff);
    QTemporaryFile damaged;
    QVERIFY(damaged.open());
    damaged.write(bytes);
    damaged.close();
    const Image bad = Image::fromFile(damaged.fileName());
    const Image good = uniformImage(200, 16, eightBit());
    show(s, {bad, good});
    s.setWindow(good, 256, 128);
    const QImage shot = s.grab().toImage();
    QVERIFY(!s.failureReason(bad).isEmpty());
    QVERIFY(s.failureReason(good).isEmpty());
    QCOMPARE(grey(shot, s.tileRect(1).center().x(), s.tileRect(1).center().y()), 200);
    int text = 0;
    const QRect badTile = s.tileRect(0).adjusted(2, 2, -2, -2);
    for (int y = badTile.top(); y <= badTile.bottom(); ++y)
        for (int x = badTile.left(); x <= badTile.right(); ++x)
            text += grey(shot, x, y) > 60;
    QVERIFY2(text > 20, "the reason is written into the empty tile");
    // The blank image (no pixel data) is refused the same way.
    const Image blank;
    QVERIFY(!s.failureReason(blank).isEmpty());
}

void tst_DisplaySurface::forgetsImagesRemovedFromTheCollection()
{
    DisplaySurface s;
    s.resize(100, 100);
    const Image a = uniformImage(10), b = uniformImage(20);
    show(s, {a, b});
    s.setCurrentIndex(2);
    s.setWindow(a, 10, 20);
    s.images().remove(2);
    s.refresh();
    QCOMPARE(s.currentIndex(), 1);
    QCOMPARE(s.windowWidth(a), 10.0);
    s.images().clear();
    s.refresh();
    QCOMPARE(s.currentIndex(), 0);
    QCOMPARE(s.imageIndexAt(50, 50), 0);
    QCOMPARE(s.currentImage().frameCount(), 0);
    show(s, {a});
    QCOMPARE(s.windowWidth(a), 1.0); // forgotten: back to its value range (one value)
    // Pixels replaced behind the surface's back (a smaller image) are never read beyond their end.
    DcmDataset *ds = a.fileFormat()->getDataset();
    const Uint16 few[4] = {1, 2, 3, 4};
    ds->putAndInsertUint16(DCM_Rows, 2);
    ds->putAndInsertUint16(DCM_Columns, 2);
    ds->putAndInsertUint16Array(DCM_PixelData, few, 4);
    s.setZoom(a, 3);
    s.setStretchToFit(a, false);
    QCOMPARE(grey(s.grab().toImage(), 50, 50), 0);
}

// The GUI thread goes on reading and completing the shown object (a send's copy, the dump)
// while its tile is decoded in the background: the decode works on a copy taken when the tile
// was first drawn, so nothing the GUI thread does to the object meanwhile reaches it.
void tst_DisplaySurface::aBackgroundDecodeIsNotReachedByChangesToTheShownObject()
{
    // Every thread of the pool held, so the decode waits in the queue until released.
    QThreadPool *pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    QSemaphore started, release;
    for (int i = 0; i < threads; ++i)
        pool->start([&] {
            started.release();
            release.acquire();
        });
    started.acquire(threads);

    DisplaySurface s;
    s.setBackgroundDecoding(true);
    s.resize(66, 66);
    Image image = uniformImage(100);
    show(s, {image});
    s.grab(); // the tile is drawn: its decode is queued
    putPixels<Uint16>(image.fileFormat()->getDataset(), 64, 64, [](int, int) { return 900; });
    release.release(threads);
    pool->waitForDone();
    const auto pixels = s.pixels(image);
    QVERIFY(pixels);
    std::vector<double> row;
    pixels->modalityRow(10, row);
    QCOMPARE(row.at(10), 100.0);
}

// A JPEG 2000 codestream marked unsigned in a data set whose Pixel Representation says signed:
// the values are those of the data set (air of the CT at -2000, not near +6000), as other
// toolkits read the same file.
void tst_DisplaySurface::jpeg2000FollowsTheDataSetsPixelRepresentation()
{
    DisplaySurface s;
    const Image image = Image::fromFile(kSamples + QStringLiteral("test_files/J2K_pixelrep_mismatch.dcm"));
    show(s, {image});
    const auto pixels = s.pixels(image);
    QVERIFY2(pixels, qPrintable(s.failureReason(image)));
    std::vector<double> row;
    pixels->modalityRow(0, row);
    QCOMPARE(row.at(0), -2000.0);
    QList<double> column;
    for (int y = 47; y < 57; ++y) {
        pixels->modalityRow(y, row);
        column << row.at(279);
    }
    QCOMPARE(column, (QList<double>{621, 412, 138, -193, -520, -767, -907, -966, -988, -995}));
}

ORV_TEST_MAIN(tst_DisplaySurface)
#include "tst_displaysurface.moc"
