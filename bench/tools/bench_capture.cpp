// Frame capture timed through the capture station over the test pattern driver: from the
// "Capture Frame" click to the New row added, per frame size, and the live picture's longest
// pause while frames are captured back to back. Prints one line per measurement; writes one
// captured frame per size as a bitmap into the given folder (for the reference encoder).
// usage: orv_bench_capture OUT-FOLDER [frames-per-size] [back-to-back-frames]
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/CaptureDriver.h"
#include "viewer/frmImageViewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace orv;

namespace {

void waitFor(const std::function<bool()> &done, int timeoutMs = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// Connects the station's control at `size` and waits for its first frame.
void connectAt(frmAcquire *w, QSize size)
{
    w->actiVideoX1->setRequestedWidth(qint16(size.width()));
    w->actiVideoX1->setRequestedHeight(qint16(size.height()));
    if (!w->actiVideoX1->ConnectVideo(0))
        qFatal("cannot connect at %dx%d: %s", size.width(), size.height(), qPrintable(w->actiVideoX1->lastError()));
    waitFor([w] { return !w->actiVideoX1->grabFrame().isNull(); });
}

// Where the time of the frames written goes: the object (stamping, JPEG from the frame's
// buffer), the file write.
std::vector<double> g_objectMs, g_writeMs, g_cpuMs;

QString stages()
{
    auto med = [](const std::vector<double> &v) { return v.empty() ? 0.0 : percentile(v, 0.5); };
    const QString s = QStringLiteral("[writer: DICOM object median %1 ms, file write median %2 ms, processor time median %3 ms]")
                          .arg(med(g_objectMs), 0, 'f', 2)
                          .arg(med(g_writeMs), 0, 'f', 2)
                          .arg(med(g_cpuMs), 0, 'f', 2);
    g_writeMs.clear();
    g_cpuMs.clear();
    g_objectMs.clear();
    return s;
}

// One capture, waited for; returns milliseconds from the click to the row.
double captureOne(frmAcquire *w, int &stored)
{
    const int before = stored;
    QElapsedTimer t;
    t.start();
    w->cmdCaptureBMP->click();
    waitFor([&] { return stored > before; });
    return double(t.nsecsElapsed()) / 1e6;
}

void clearList()
{
    ctlImageList::instance()->clearRows();
    frmImageViewer::instance()->Images().clear();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orv_bench_capture OUT-FOLDER [frames-per-size] [back-to-back-frames]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const int perSize = argc > 2 ? std::atoi(argv[2]) : 40;
    const int backToBack = argc > 3 ? std::atoi(argv[3]) : 100;

    registerAcquisitionWindows();
    capture::setTestPatternEnabled(true);
    capture::setDeviceScanEnabled(false);
    QTemporaryDir temp;
    state().TempFolder = temp.path();
    state().CompanyName = QStringLiteral("ORVALINE GENERAL");
    openTransaction().setValue(OpenTransaction::TransNo, QStringLiteral("1001"));
    openTransaction().setValue(OpenTransaction::PatientID, QStringLiteral("3"));
    openTransaction().setValue(OpenTransaction::LName, QStringLiteral("DELA CRUZ"));
    openTransaction().setValue(OpenTransaction::FName, QStringLiteral("JUAN"));
    openTransaction().setValue(OpenTransaction::Gender, QStringLiteral("M"));
    openTransaction().setValue(OpenTransaction::BDate, QStringLiteral("02/29/1968"));

    frmAcquire *w = frmAcquire::instance();
    w->show();
    // SHOW_VIEWER=1: the viewer window open beside the station, repainting as frames arrive.
    if (qEnvironmentVariableIntValue("SHOW_VIEWER") == 1)
        frmImageViewer::instance()->show();
    int stored = 0;
    QObject::connect(w, &frmAcquire::frameStored, [&stored] { ++stored; });
    QObject::connect(w, &frmAcquire::frameTimed, [](double objectMs, double writeMs, double cpuMs) {
        g_objectMs.push_back(objectMs);
        g_writeMs.push_back(writeMs);
        g_cpuMs.push_back(cpuMs);
    });

    for (const QSize size : {QSize(1280, 720), QSize(1920, 1080)}) {
        connectAt(w, size);
        for (int i = 0; i < 3; ++i) // warm-up: page cache, codec tables
            captureOne(w, stored);
        stages();
        std::vector<double> ms;
        for (int i = 0; i < perSize; ++i) {
            ms.push_back(captureOne(w, stored));
            if (i % 10 == 9)
                clearList();
        }
        const QString sample = QDir(out).filePath(QStringLiteral("frame-%1x%2.bmp").arg(size.width()).arg(size.height()));
        QFile::remove(sample);
        w->actiVideoX1->grabFrame().save(sample, "BMP");
        std::printf("click-to-row %dx%d: median %.1f ms, p90 %.1f ms, max %.1f ms (%d frames) %s\n", size.width(),
                    size.height(), percentile(ms, 0.5), percentile(ms, 0.9), percentile(ms, 1.0), perSize,
                    qPrintable(stages()));
        std::fflush(stdout);
        clearList();
        QDir(temp.path()).removeRecursively();
        QDir().mkpath(temp.path());
    }

    // Back to back at 1920x1080: each click as soon as the previous row is there. The live
    // picture's pause is the longest gap between two frames painted, and the GUI thread's the
    // longest gap of a 5 ms timer.
    connectAt(w, QSize(1920, 1080));
    QElapsedTimer clock;
    clock.start();
    qint64 lastPaint = -1, paintGap = 0, lastTick = -1, tickGap = 0, paints = 0;
    bool measuring = false;
    QObject::connect(w->actiVideoX1, &capture::CaptureControl::frameShown, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measuring && lastPaint >= 0)
            paintGap = std::max(paintGap, now - lastPaint);
        lastPaint = now;
        ++paints;
    });
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (measuring && lastTick >= 0)
            tickGap = std::max(tickGap, now - lastTick);
        lastTick = now;
    });
    ticker.start(5);
    waitFor([&] { return paints > 5; });
    measuring = true;
    paints = 0;
    const qint64 t0 = clock.nsecsElapsed();
    std::vector<double> ms;
    for (int i = 0; i < backToBack; ++i) {
        ms.push_back(captureOne(w, stored));
        if (i % 25 == 24)
            clearList();
    }
    const double seconds = double(clock.nsecsElapsed() - t0) / 1e9;
    measuring = false;
    std::printf("back-to-back 1920x1080: %d frames in %.2f s (%.1f frames/s), click-to-row median %.1f ms, "
                "max %.1f ms; live picture: %lld frames painted (%.1f/s), longest pause %.1f ms; "
                "GUI thread longest pause %.1f ms %s\n",
                backToBack, seconds, backToBack / seconds, percentile(ms, 0.5), percentile(ms, 1.0),
                static_cast<long long>(paints), double(paints) / seconds, double(paintGap) / 1e6,
                double(tickGap) / 1e6, qPrintable(stages()));
    w->close();
    return 0;
}
