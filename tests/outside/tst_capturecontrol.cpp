// The capture control over the test pattern driver: drivers listed, connection at a requested
// size, live frames, bitmaps, a device that goes away, presets.
#include "common/CaptureTools.h"
#include "common/TestMain.h"
#include "outside/capture/Bitmap.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/TestPattern.h"
#include "outside/capture/V4l2Driver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>

using namespace orv;
using namespace orv::capture;
using orv::test::FileSizeLimit;
using namespace Qt::StringLiterals;

class tst_CaptureControl : public QObject
{
    Q_OBJECT
private:
    // A control connected to a driver (or refused) at the requested size (0x0: the default).
    static std::unique_ptr<CaptureControl> connected(QSize requested = QSize(), int driver = 0)
    {
        auto c = std::make_unique<CaptureControl>();
        c->setRequestedWidth(qint16(requested.width()));
        c->setRequestedHeight(qint16(requested.height()));
        c->ConnectVideo(qint16(driver));
        return c;
    }

private slots:
    void init()
    {
        setTestPatternEnabled(true);
        setDeviceScanEnabled(false);
        qunsetenv("ORVALINE_TEST_PATTERN");
    }

    // The test pattern is a driver only when enabled, by the program or by the environment.
    void testPatternListedWhenEnabled()
    {
        QCOMPARE(CaptureControl().DriverCount(), 1);
        QCOMPARE(CaptureControl().DriverName(1), QString());
        setTestPatternEnabled(false);
        QCOMPARE(CaptureControl().DriverCount(), 0);
        qputenv("ORVALINE_TEST_PATTERN", "1");
        QCOMPARE(CaptureControl().DriverCount(), 1);
    }

    // The driver's default size, or exactly the size asked for; a size the driver does not
    // deliver and a driver that does not exist are refused, leaving the control disconnected.
    void connectsAtTheRequestedSize()
    {
        const struct { QSize requested; int driver; QSize delivered; } cases[] = {
            {{0, 0}, 0, {640, 480}}, {{1920, 1080}, 0, {1920, 1080}}, {{80, 60}, 0, {}}, {{0, 0}, 1, {}}};
        for (const auto &k : cases) {
            auto c = connected(k.requested, k.driver);
            QCOMPARE(c->VideoConnected(), k.delivered.isValid());
            if (!k.delivered.isValid()) {
                QVERIFY(!c->lastError().isEmpty() && c->CaptureHandle() == 0);
                continue;
            }
            QTRY_VERIFY(!c->grabFrame().isNull());
            QCOMPARE(c->grabFrame().size(), k.delivered);
        }
    }

    // Frames keep coming (the bars move); each connection has its own handle, gone with it; an
    // unplugged device disconnects with the reason and connects again once plugged in.
    void liveFramesHandlesAndUnplugging()
    {
        auto c = connected();
        QSignalSpy lost(c.get(), &CaptureControl::videoLost);
        QTRY_VERIFY(!c->grabFrame().isNull());
        const QImage first = c->grabFrame();
        QTRY_VERIFY(c->grabFrame() != first);
        const qint32 h1 = c->CaptureHandle();
        QVERIFY(h1 != 0);
        QCOMPARE(CaptureControl::fromHandle(h1), c.get());
        QVERIFY(c->ConnectVideo(0)); // reconnecting replaces the stream
        QVERIFY(c->CaptureHandle() != h1 && c->CaptureHandle() != 0);
        QCOMPARE(CaptureControl::fromHandle(h1), nullptr);
        QTRY_VERIFY(!c->grabFrame().isNull());
        unplugTestPattern();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!lost.at(0).at(0).toString().isEmpty());
        QVERIFY(!c->VideoConnected() && c->CaptureHandle() == 0);
        QVERIFY(c->ConnectVideo(0));
        QVERIFY(c->DisconnectVideo());
        QVERIFY(!c->VideoConnected() && c->CaptureHandle() == 0 && c->grabFrame().isNull());
    }

    // The bitmap is a 24-bit BMP of the frame; without a frame or a writable folder nothing is
    // left behind and the reason is given.
    void captureFrameWritesABitmap()
    {
        QTemporaryDir dir;
        auto c = connected(QSize(320, 240));
        qint32 quality = 100;
        qint16 flags = 0;
        QTRY_VERIFY(!c->grabFrame().isNull());
        c->setFrameFileName(dir.filePath("f.bmp"));
        QVERIFY(c->CaptureFrame(quality, flags));
        QFile f(c->FrameFileName());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(int(uchar(f.read(54)[28])), 24); // bits per pixel
        QCOMPARE(f.size(), qint64(54 + 320 * 3 * 240));
        QCOMPARE(QImage(c->FrameFileName()).size(), QSize(320, 240));

        // A full disc (a file-size limit stands in for it) and a folder that is gone.
        {
            FileSizeLimit limit(100 * 1024);
            c->setFrameFileName(dir.filePath(u"full.bmp"_s));
            QVERIFY(!c->CaptureFrame(quality, flags));
        }
        QVERIFY(c->lastError().startsWith(u"Cannot write "_s) && !QFile::exists(c->FrameFileName()));
        c->setFrameFileName(dir.filePath(u"gone/f.bmp"_s));
        QVERIFY(!c->CaptureFrame(quality, flags) && c->lastError().contains(u"No such file or directory"_s));

        c->DisconnectVideo(); // no frame
        c->setFrameFileName(dir.filePath(u"g.bmp"_s));
        QVERIFY(!c->CaptureFrame(quality, flags) && !QFile::exists(c->FrameFileName()));
    }

    // A device node that is gone, or a file that is no device, is refused with the reason.
    void missingDeviceIsRefused()
    {
        QTemporaryFile plain;
        QVERIFY(plain.open());
        for (const QString &path : {u"/dev/video-gone"_s, plain.fileName()}) {
            V4l2Driver driver(path, "Camera", "1.0.0");
            QVERIFY(driver.formats().isEmpty());
            try {
                driver.open(QSize(640, 480));
                QFAIL("a missing device opened");
            } catch (const Error &e) {
                QVERIFY2(e.description().startsWith(u"Cannot open the video device "_s + path),
                         qPrintable(e.description()));
            }
        }
    }

    // Rows bottom-up, blue-green-red, padded to four bytes: an odd width shows every mistake.
    void bitmapHoldsTheFrameExactly()
    {
        QTemporaryDir dir;
        QImage frame(5, 3, QImage::Format_RGB32);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                frame.setPixel(x, y, qRgb(40 * x + 10, 70 * y + 5, (x * 31 + y * 17) % 256));
        const QString path = dir.filePath(u"odd.bmp"_s);
        writeBitmap(frame, path);
        QCOMPARE(QFileInfo(path).size(), qint64(54 + 16 * 3));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), frame);
    }

    // A preset brings back the frame size, display mode and picture adjustments of its slot;
    // slots are independent; a missing slot or a bad name fail.
    void presetsPerSlot()
    {
        auto c = connected(QSize(320, 240));
        auto settings = [&] {
            int brightness = -1000;
            for (const DeviceControl &d : c->deviceControls())
                brightness = d.name == "Brightness" ? d.value : brightness;
            return u"%1x%2 mode %3 brightness %4"_s.arg(c->frameSize().width()).arg(c->frameSize().height())
                .arg(c->DisplayMode()).arg(brightness);
        };
        c->setDisplayMode(1);
        c->setDeviceControl(u"Brightness"_s, 40);
        QVERIFY(c->SavePreset(u"TestGUI"_s, 3));
        c->setRequestedWidth(640);
        c->setRequestedHeight(480);
        QVERIFY(c->ConnectVideo(0)); // a new stream starts at the device's defaults
        c->setDisplayMode(2);
        QVERIFY(c->SavePreset(u"TestGUI"_s, 4));

        QCOMPARE(settings(), u"640x480 mode 2 brightness 0"_s);
        QVERIFY(c->LoadPreset(u"TestGUI"_s, 3));
        QCOMPARE(settings(), u"320x240 mode 1 brightness 40"_s);
        QVERIFY(c->LoadPreset(u"TestGUI"_s, 4));
        QCOMPARE(settings(), u"640x480 mode 2 brightness 0"_s);

        QVERIFY(!c->LoadPreset(u"TestGUI"_s, 5) && c->lastError().contains(u"slot 5"_s));
        QVERIFY(!c->SavePreset(u"../x"_s, 1));
        QVERIFY(!c->SavePreset(u"TestGUI"_s, 10));
        QVERIFY(c->VideoConnected()); // a failed preset leaves the stream as it was
    }
};

ORV_TEST_MAIN(tst_CaptureControl)
#include "tst_capturecontrol.moc"
