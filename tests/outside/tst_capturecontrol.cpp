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

using namespace orv;
using namespace orv::capture;
using orv::test::FileSizeLimit;

class tst_CaptureControl : public QObject
{
    Q_OBJECT
private:
    static std::unique_ptr<CaptureControl> connected(QSize requested = QSize())
    {
        auto c = std::make_unique<CaptureControl>();
        c->setRequestedWidth(qint16(requested.width()));
        c->setRequestedHeight(qint16(requested.height()));
        if (!c->ConnectVideo(0))
            qWarning("connect failed: %s", qPrintable(c->lastError()));
        return c;
    }

private slots:
    void init()
    {
        setTestPatternEnabled(true);
        setDeviceScanEnabled(false);
        qunsetenv("ORVALINE_TEST_PATTERN");
    }

    void testPatternListedWhenEnabled()
    {
        QCOMPARE(CaptureControl().DriverCount(), 1);
        CaptureControl c;
        QCOMPARE(c.DriverName(0), QStringLiteral("Test Pattern"));
        QCOMPARE(c.DriverVersion(0), QStringLiteral("1.0"));
        QCOMPARE(c.DriverName(1), QString());
        setTestPatternEnabled(false);
        QCOMPARE(CaptureControl().DriverCount(), 0);
        qputenv("ORVALINE_TEST_PATTERN", "1");
        QCOMPARE(CaptureControl().DriverCount(), 1);
    }

    // The driver's default size, or exactly the size asked for; a size the driver does not
    // deliver and a driver that does not exist are refused, leaving the control disconnected.
    void connectsAtTheRequestedSize_data()
    {
        QTest::addColumn<QSize>("requested");
        QTest::addColumn<int>("driver");
        QTest::addColumn<QSize>("delivered");
        QTest::newRow("default") << QSize(0, 0) << 0 << QSize(640, 480);
        QTest::newRow("720x576") << QSize(720, 576) << 0 << QSize(720, 576);
        QTest::newRow("1920x1080") << QSize(1920, 1080) << 0 << QSize(1920, 1080);
        QTest::newRow("refused 80x60") << QSize(80, 60) << 0 << QSize();
        QTest::newRow("no such driver") << QSize(0, 0) << 1 << QSize();
    }
    void connectsAtTheRequestedSize()
    {
        QFETCH(QSize, requested);
        QFETCH(int, driver);
        QFETCH(QSize, delivered);
        CaptureControl c;
        c.setRequestedWidth(qint16(requested.width()));
        c.setRequestedHeight(qint16(requested.height()));
        QCOMPARE(c.ConnectVideo(qint16(driver)), delivered.isValid());
        QCOMPARE(c.VideoConnected(), delivered.isValid());
        if (!delivered.isValid()) {
            QVERIFY(!c.lastError().isEmpty());
            QCOMPARE(c.CaptureHandle(), 0);
            return;
        }
        QTRY_VERIFY(!c.grabFrame().isNull());
        QCOMPARE(c.grabFrame().size(), delivered);
    }

    // Frames keep coming (the bars move); each connection has its own handle, gone with it.
    void liveFramesAndHandles()
    {
        auto c = connected();
        QTRY_VERIFY(!c->grabFrame().isNull());
        const QImage first = c->grabFrame();
        QTRY_VERIFY(c->grabFrame() != first);
        const qint32 h1 = c->CaptureHandle();
        QVERIFY(h1 != 0);
        QCOMPARE(CaptureControl::fromHandle(h1), c.get());
        QVERIFY(c->ConnectVideo(0)); // reconnecting replaces the stream
        QVERIFY(c->CaptureHandle() != h1 && c->CaptureHandle() != 0);
        QCOMPARE(CaptureControl::fromHandle(h1), nullptr);
        QVERIFY(c->DisconnectVideo());
        QVERIFY(!c->VideoConnected());
        QCOMPARE(c->CaptureHandle(), 0);
        QVERIFY(c->grabFrame().isNull());
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
        c->setFrameFileName(dir.filePath(QStringLiteral("f.bmp")));
        QVERIFY(c->CaptureFrame(quality, flags));
        QFile f(c->FrameFileName());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray head = f.read(54);
        QCOMPARE(head.left(2), QByteArray("BM"));
        QCOMPARE(int(uchar(head[28])), 24);
        QCOMPARE(f.size(), qint64(54 + 320 * 3 * 240));
        const QImage back(c->FrameFileName());
        QCOMPARE(back.size(), QSize(320, 240));

        // A full disc (a file-size limit stands in for it) and a folder that is gone.
        {
            FileSizeLimit limit(100 * 1024);
            c->setFrameFileName(dir.filePath(QStringLiteral("full.bmp")));
            QVERIFY(!c->CaptureFrame(quality, flags));
        }
        QVERIFY(c->lastError().startsWith(QStringLiteral("Cannot write ")));
        QVERIFY(!QFile::exists(c->FrameFileName()));
        c->setFrameFileName(dir.filePath(QStringLiteral("gone/f.bmp")));
        QVERIFY(!c->CaptureFrame(quality, flags));
        QVERIFY(c->lastError().contains(QStringLiteral("No such file or directory")));

        c->DisconnectVideo();
        c->setFrameFileName(dir.filePath(QStringLiteral("g.bmp")));
        QVERIFY(!c->CaptureFrame(quality, flags));
        QVERIFY(!QFile::exists(c->FrameFileName()));
    }

    // A device node that is gone, or a file that is no device, is refused with the reason.
    void missingDeviceIsRefused()
    {
        QTemporaryDir dir;
        QFile plain(dir.filePath(QStringLiteral("video0")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        for (const QString &path : {QStringLiteral("/dev/video-gone"), plain.fileName()}) {
            V4l2Driver driver(path, QStringLiteral("Camera"), QStringLiteral("1.0.0"));
            QVERIFY(driver.formats().isEmpty());
            try {
                driver.open(QSize(640, 480));
                QFAIL("a missing device opened");
            } catch (const Error &e) {
                QVERIFY2(e.description().startsWith(QStringLiteral("Cannot open the video device ") + path),
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
        const QString path = dir.filePath(QStringLiteral("odd.bmp"));
        writeBitmap(frame, path);
        QCOMPARE(QFileInfo(path).size(), qint64(54 + 16 * 3));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_RGB32), frame);
        // The test pattern's frames are full: no column is left unpainted as the bars move.
        auto c = connected(QSize(640, 480));
        QTRY_VERIFY(!c->grabFrame().isNull());
        for (int i = 0; i < 3; ++i) {
            const QImage f = c->grabFrame();
            for (int x = 0; x < f.width(); ++x)
                QVERIFY2(qMax(qMax(qRed(f.pixel(x, 1)), qGreen(f.pixel(x, 1))), qBlue(f.pixel(x, 1))) > 128,
                         qPrintable(QStringLiteral("column %1 is dark").arg(x)));
            QTest::qWait(250);
        }
    }

    void unpluggedDeviceDisconnects()
    {
        auto c = connected();
        QSignalSpy lost(c.get(), &CaptureControl::videoLost);
        QTRY_VERIFY(!c->grabFrame().isNull());
        unplugTestPattern();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!c->VideoConnected());
        QCOMPARE(c->CaptureHandle(), 0);
        QCOMPARE(lost.at(0).at(0).toString(), QStringLiteral("The device was unplugged."));
        QVERIFY(c->ConnectVideo(0)); // plugged in again
    }

    // A preset brings back the frame size, display mode and picture adjustments of its slot;
    // slots are independent; a missing slot, a bad name or an unwritable folder fail.
    void presetsPerSlot()
    {
        auto c = connected(QSize(320, 240));
        QVERIFY(c->HasSourceDialog() && c->HasFormatDialog() && !c->HasDisplayDialog() && !c->HasOverlay());
        auto brightness = [&] {
            for (const DeviceControl &d : c->deviceControls())
                if (d.name == QLatin1String("Brightness"))
                    return d.value;
            return -1000;
        };
        c->setDisplayMode(1);
        c->setDeviceControl(QStringLiteral("Brightness"), 40);
        QVERIFY(c->SavePreset(QStringLiteral("TestGUI"), 3));
        QVERIFY(QFile::exists(CaptureControl::presetFolder() + QStringLiteral("/TestGUI-3.ini")));
        c->setRequestedWidth(640);
        c->setRequestedHeight(480);
        QVERIFY(c->ConnectVideo(0));
        QCOMPARE(brightness(), 0); // a new stream starts at the device's defaults
        c->setDisplayMode(2);
        QVERIFY(c->SavePreset(QStringLiteral("TestGUI"), 4));

        QVERIFY(c->LoadPreset(QStringLiteral("TestGUI"), 3));
        QCOMPARE(c->frameSize(), QSize(320, 240));
        QCOMPARE(c->DisplayMode(), 1);
        QCOMPARE(brightness(), 40);
        QVERIFY(c->LoadPreset(QStringLiteral("TestGUI"), 4));
        QCOMPARE(c->frameSize(), QSize(640, 480));
        QCOMPARE(c->DisplayMode(), 2);
        QCOMPARE(brightness(), 0);

        QVERIFY(!c->LoadPreset(QStringLiteral("TestGUI"), 5));
        QVERIFY(c->lastError().contains(QStringLiteral("slot 5")));
        QVERIFY(!c->SavePreset(QStringLiteral("../x"), 1));
        QVERIFY(!c->SavePreset(QStringLiteral("TestGUI"), 10));
        QVERIFY(c->VideoConnected()); // a failed preset leaves the stream as it was

        // The presets folder cannot be made: a file holds its name.
        QDir(CaptureControl::presetFolder()).removeRecursively();
        QFile blocker(CaptureControl::presetFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!c->SavePreset(QStringLiteral("TestGUI"), 6));
        QVERIFY(c->lastError().contains(QStringLiteral("Cannot create the folder")));
        QFile::remove(CaptureControl::presetFolder());
    }
};

ORV_TEST_MAIN(tst_CaptureControl)
#include "tst_capturecontrol.moc"
