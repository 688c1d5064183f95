// The capture control over the test pattern driver: bitmaps of the frame, exactly, and what is
// left when they cannot be written.
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
};

ORV_TEST_MAIN(tst_CaptureControl)
#include "tst_capturecontrol.moc"
