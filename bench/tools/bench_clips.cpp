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
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/CaptureDriver.h"
#include "outside/capture/TestPattern.h"
#include "outside/encoder/AviEncoder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <sys/resource.h>

using namespace orv;

namespace {

// Runs the event loop (sleeping while there is nothing to do) until `done` or the timeout.
void waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll, limit;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    limit.setSingleShot(true);
    limit.start(timeoutMs);
    if (!done())
        loop.exec();
}

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of each thread of this process, by thread id.
QHash<int, double> threadCpu()
{
    QHash<int, double> out;
    const double tick = double(sysconf(_SC_CLK_TCK));
    for (const QString &tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = f.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            out.insert(tid.toInt(), (fields.at(11).toDouble() + fields.at(12).toDouble()) / tick);
    }
    return out;
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
    // The live picture alone first, for as long: what recording adds is the difference.
    const double base0 = processCpuSeconds();
    const qint64 baseShown0 = w->actiVideoX1->framesShown();
    QElapsedTimer baseWall;
    baseWall.start();
    waitFor([] { return false; }, seconds * 1000);
    const double baseCpu = processCpuSeconds() - base0;
    const double baseSeconds = double(baseWall.elapsed()) / 1000.0;
    std::printf("picture alone: seconds %.1f process-cpu %.2f shown %lld\n", baseSeconds, baseCpu,
                qint64(w->actiVideoX1->framesShown() - baseShown0));
    const double cpu0 = processCpuSeconds();
    const qint64 shown0 = w->actiVideoX1->framesShown();
    QElapsedTimer wall;
    wall.start();
    // The threads started for the recording (the clip's job and the codec's own) are the encoder's:
    // their processor time is sampled until the stop.
    const QHash<int, double> before = threadCpu();
    QHash<int, double> encoderThreads;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const QHash<int, double> now = threadCpu();
        for (auto it = now.begin(); it != now.end(); ++it)
            if (!before.contains(it.key()))
                encoderThreads[it.key()] = it.value();
    });
    w->cmdEncode->click();
    sample.start(250);
    waitFor([] { return false; }, seconds * 1000);
    sample.stop();
    emit sample.timeout({});
    double encoderCpu = 0;
    for (double v : std::as_const(encoderThreads))
        encoderCpu += v;
    w->cmdStopEncoder->click();
    waitFor([&] { return finished; }, 120000);
    const double cpu = processCpuSeconds() - cpu0;
    const double recSeconds = double(wall.elapsed()) / 1000.0;
    std::printf("live: seconds %.1f written %lld dropped %lld span %lld encoder-cpu %.2f process-cpu %.2f shown %lld file %s\n",
                recSeconds, qint64(w->AVIEncoderX1->framesWritten()),
                qint64(w->AVIEncoderX1->framesDropped()), qint64(w->AVIEncoderX1->frameSpan()),
                encoderCpu, cpu, qint64(w->actiVideoX1->framesShown() - shown0),
                qPrintable(w->AVIEncoderX1->OutputFileName()));
    std::fflush(stdout);
    w->close();
    return 0;
}

int emitFrames(int seconds)
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
        return emitFrames(args.at(2).toInt());
    if (args.size() >= 5 && args.at(1) == QLatin1String("file"))
        return file(args.at(2), args.at(3), args.at(4).toInt());
    std::fprintf(stderr, "usage: orv_bench_clips live SECONDS FOLDER | emit SECONDS | file IN OUT CODEC\n");
    return 2;
}
