// Clip recording measured for bench/clips.sh. Three modes:
//   live SECONDS OUT-FOLDER   the capture station records the 1920x1080 test pattern with H.264 for
//                             SECONDS while its live picture runs; prints frames delivered,
//                             written and dropped, the encoding thread's and the process's
//                             processor time, and the live picture's frames shown.
//   emit SECONDS              writes the same test pattern frames (raw BGRA, 25 a second) to
//                             stdout, for the ffmpeg command line to encode.
//   file IN OUT CODEC-INDEX   re-encodes IN into OUT through the encoder layer; prints the time.
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "core/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/CaptureDriver.h"
#include "outside/capture/TestPattern.h"
#include "outside/encoder/AviEncoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <sys/resource.h>

using namespace orv;

namespace {

void waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int live(int seconds, const QString &folder)
{
    capture::setTestPatternEnabled(true);
    capture::setDeviceScanEnabled(false);
    registerAcquisitionWindows();
    state().TempFolder = folder;
    openTransaction().setValue(OpenTransaction::TransNo, QStringLiteral("1"));
    frmAcquire *w = frmAcquire::instance();
    w->resize(1024, 700);
    w->show();
    w->actiVideoX1->setRequestedWidth(1920);
    w->actiVideoX1->setRequestedHeight(1080);
    if (!w->actiVideoX1->ConnectVideo(0))
        qFatal("cannot connect: %s", qPrintable(w->actiVideoX1->lastError()));
    w->AVIEncoderX1->setSourceHandle(w->actiVideoX1->CaptureHandle());
    w->EncodeEnable();
    waitFor([w] { return !w->actiVideoX1->grabFrame().isNull(); }, 10000);
    for (int i = 0; i < w->lstCODECs->count(); ++i)
        if (w->lstCODECs->item(i)->text().startsWith(QLatin1String("H.264")))
            w->lstCODECs->setCurrentRow(i);
    qint64 delivered = 0;
    QObject::connect(w->actiVideoX1, &capture::CaptureControl::frameShown, [&] { ++delivered; });
    bool finished = false;
    QObject::connect(w, &frmAcquire::clipFinished, [&] { finished = true; });
    const double cpu0 = processCpuSeconds();
    const qint64 shown0 = w->actiVideoX1->framesShown();
    QElapsedTimer wall;
    wall.start();
    w->cmdEncode->click();
    waitFor([] { return false; }, seconds * 1000);
    w->cmdStopEncoder->click();
    waitFor([&] { return finished; }, 120000);
    const double cpu = processCpuSeconds() - cpu0;
    std::printf("live: seconds %.1f written %lld dropped %lld span %lld encoder-cpu %.2f process-cpu %.2f shown %lld file %s\n",
                double(wall.elapsed()) / 1000.0, qint64(w->AVIEncoderX1->framesWritten()),
                qint64(w->AVIEncoderX1->framesDropped()), qint64(w->AVIEncoderX1->frameSpan()),
                w->AVIEncoderX1->encoderCpuSeconds(), cpu, qint64(w->actiVideoX1->framesShown() - shown0),
                qPrintable(w->AVIEncoderX1->OutputFileName()));
    std::fflush(stdout);
    w->close();
    return 0;
}

int emit(int seconds)
{
    capture::TestPatternDriver driver;
    auto source = driver.open(QSize(1920, 1080));
    std::atomic<int> left{seconds * 25};
    std::atomic<bool> broken{false};
    source->start(
        [&](const QImage &frame) {
            if (left.load() <= 0 || broken.load())
                return;
            const char *p = reinterpret_cast<const char *>(frame.constBits());
            qsizetype n = frame.sizeInBytes();
            while (n > 0) {
                const ssize_t k = ::write(1, p, size_t(n));
                if (k <= 0) {
                    broken = true;
                    return;
                }
                p += k;
                n -= k;
            }
            --left;
        },
        [&](const QString &) { broken = true; });
    while (left.load() > 0 && !broken.load())
        QThread::msleep(20);
    source.reset();
    return 0;
}

int file(const QString &in, const QString &out, int codec)
{
    encoder::AVIEncoderX enc;
    enc.setInputFileName(in);
    enc.setOutputFileName(out);
    bool finished = false;
    int result = 0;
    QObject::connect(&enc, &encoder::AVIEncoderX::EncodingFinished, [&](qint32 r) {
        finished = true;
        result = r;
    });
    qint32 type = 0;
    QElapsedTimer t;
    t.start();
    if (enc.StartEncoding(type, -1, codec, 75, 0, 8, 0, 0, 0, 1) != 1)
        qFatal("cannot start: %s", qPrintable(enc.lastError()));
    waitFor([&] { return finished; }, 600000);
    std::printf("file: codec %s seconds %.3f frames %lld result %d\n", qPrintable(encoder::aviCodecs().at(codec).encoder),
                double(t.nsecsElapsed()) / 1e9, qint64(enc.framesWritten()), result);
    return result == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args.at(1) == QLatin1String("live"))
        return live(args.at(2).toInt(), args.at(3));
    if (args.size() >= 3 && args.at(1) == QLatin1String("emit"))
        return emit(args.at(2).toInt());
    if (args.size() >= 5 && args.at(1) == QLatin1String("file"))
        return file(args.at(2), args.at(3), args.at(4).toInt());
    std::fprintf(stderr, "usage: orv_bench_clips live SECONDS FOLDER | emit SECONDS | file IN OUT CODEC\n");
    return 2;
}
