// orv_bench_viewer [--steps N] [--count N]
// Generates CT (512 x 512, 16-bit signed) and CR (3000 x 3000, 16-bit) images in a scratch
// folder and times the viewer's display surface against DCMTK's DicomImage rendering of the
// same images and windows, in the same run:
//   1. window/level drag over 3 x 3 CT tiles: one full repaint per step (median);
//   2. one CR at 1 x 1: its first showing (read and decode), then one repaint per window
//      change (median);
//   3. opening --count CT files (default 500) into the viewer and showing the first tiles;
//      resident memory added against the images' pixel data, after opening and after paging
//      through every image;
//   4. dragging a measuring line across the middle tile of 3 x 3 CT tiles in the viewer window:
//      each pointer move with a full repaint of the surface (median; the window itself repaints
//      only the rubber band's region), against DicomImage windowing the 9 images.
#include "core/SharedState.h"
#include "outside/dicom/DisplaySurface.h"
#include "viewer/frmImageViewer.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmimage/diregist.h>
#include <dcmtk/dcmimgle/dcmimage.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace orv;

namespace {

int option(const QStringList &args, const QString &name, int fallback)
{
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
}

void writeImage(const QString &path, int size, bool ct, quint32 seed)
{
    DcmFileFormat file;
    DcmDataset *ds = file.getDataset();
    ds->putAndInsertString(DCM_SOPClassUID, ct ? UID_CTImageStorage : UID_ComputedRadiographyImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, QByteArray("1.2.826.0.1.3680043.2.1143.9.").append(QByteArray::number(seed)).constData());
    ds->putAndInsertString(DCM_Modality, ct ? "CT" : "CR");
    ds->putAndInsertUint16(DCM_Rows, Uint16(size));
    ds->putAndInsertUint16(DCM_Columns, Uint16(size));
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    ds->putAndInsertUint16(DCM_BitsAllocated, 16);
    ds->putAndInsertUint16(DCM_BitsStored, ct ? 16 : 12);
    ds->putAndInsertUint16(DCM_HighBit, ct ? 15 : 11);
    ds->putAndInsertUint16(DCM_PixelRepresentation, ct ? 1 : 0);
    if (ct) {
        ds->putAndInsertString(DCM_RescaleIntercept, "-1024");
        ds->putAndInsertString(DCM_RescaleSlope, "1");
        ds->putAndInsertString(DCM_WindowCenter, "40");
        ds->putAndInsertString(DCM_WindowWidth, "400");
    }
    QRandomGenerator rng(seed);
    std::vector<Uint16> px(std::size_t(size) * size);
    const double c = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double r = std::hypot(x - c, y - c) / c;
            int v = ct ? (r < 0.8 ? 1024 + 40 + int(60 * std::sin(x / 9.0) * std::cos(y / 13.0)) : (r < 0.85 ? 2200 : 0))
                       : int(2000 * (1 - r * 0.5) + 500 * std::sin(x / 50.0));
            v += int(rng.bounded(40)) - 20;
            px[std::size_t(y) * size + x] = Uint16(std::clamp(v, 0, ct ? 4095 : 4095));
        }
    ds->putAndInsertUint16Array(DCM_PixelData, px.data(), Uint32(px.size()));
    file.saveFile(QFile::encodeName(path).constData(), EXS_LittleEndianExplicit);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double residentMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

// Milliseconds per step, median over `steps`.
double timeSteps(int steps, const std::function<void(int)> &step)
{
    std::vector<double> t;
    QElapsedTimer timer;
    for (int i = 0; i < steps; ++i) {
        timer.start();
        step(i);
        t.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(t);
}

void report(const char *what, double ours, double peer, const char *target)
{
    std::printf("%-44s ours %8.2f ms   DicomImage %8.2f ms   ratio %.2f   (target %s)\n", what, ours, peer, ours / peer, target);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int steps = option(args, QStringLiteral("--steps"), 60);
    const int count = option(args, QStringLiteral("--count"), 500);
    QTemporaryDir work;
    const QDir dir(work.path());

    std::printf("generating images...\n");
    std::fflush(stdout);
    QStringList ctFiles;
    for (int i = 0; i < std::max(9, count); ++i) {
        const QString path = dir.filePath(QStringLiteral("ct%1.dcm").arg(i, 4, 10, QLatin1Char('0')));
        if (i < 9)
            writeImage(path, 512, true, quint32(i + 1));
        else
            QFile::copy(ctFiles.at(i % 9), path);
        ctFiles << path;
    }
    const QString crFile = dir.filePath(QStringLiteral("cr.dcm"));
    writeImage(crFile, 3000, false, 77);

    // 1. Window/level drag over 3 x 3 CT tiles (tile interior 512 x 512).
    {
        dicom::DisplaySurface s;
        s.resize(3 * 514, 3 * 514);
        s.setTiles(3, 3);
        for (int i = 0; i < 9; ++i)
            s.images().readFile(ctFiles.at(i));
        s.refresh();
        s.show();
        QCoreApplication::processEvents();
        s.repaint();
        const double ours = timeSteps(steps, [&](int i) {
            for (int k = 1; k <= 9; ++k)
                s.setWindow(s.images().item(k), 400 + i, 40 + i);
            s.repaint();
        });
        std::vector<std::unique_ptr<DicomImage>> ref;
        for (int i = 0; i < 9; ++i)
            ref.push_back(std::make_unique<DicomImage>(QFile::encodeName(ctFiles.at(i)).constData()));
        std::vector<Uint8> out(512 * 512);
        const double peer = timeSteps(steps, [&](int i) {
            for (auto &d : ref) {
                d->setWindow(40 + i, 400 + i);
                d->getOutputData(out.data(), out.size(), 8);
            }
        });
        report("W/L drag, 3x3 CT 512x512, full repaint", ours, peer, "<= 1.0x DicomImage");
    }

    // 2. One 3000 x 3000 CR at 1 x 1 on a 1000 x 1000 surface.
    {
        dicom::DisplaySurface s;
        s.resize(1002, 1002);
        s.show();
        QCoreApplication::processEvents();
        QElapsedTimer first;
        first.start();
        s.images().readFile(crFile);
        s.refresh();
        s.repaint();
        const double firstOurs = first.nsecsElapsed() / 1e6;
        first.start();
        {
            DicomImage once(QFile::encodeName(crFile).constData());
            std::vector<Uint8> out(3000 * 3000);
            once.getOutputData(out.data(), out.size(), 8);
        }
        report("first show (read, decode, draw), 3000x3000 CR", firstOurs, first.nsecsElapsed() / 1e6, "none");
        const dicom::Image image = s.images().item(1);
        const double ours = timeSteps(steps, [&](int i) {
            s.setWindow(image, 2000 + 10 * i, 2000 + 5 * i);
            s.repaint();
        });
        DicomImage ref(QFile::encodeName(crFile).constData());
        std::vector<Uint8> out(3000 * 3000);
        const double peer = timeSteps(std::max(5, steps / 4), [&](int i) {
            ref.setWindow(2000 + 5 * i, 2000 + 10 * i);
            ref.getOutputData(out.data(), out.size(), 8);
        });
        report("window change, 3000x3000 CR at 1x1", ours, peer, "<= 16 ms");
    }

    // 3. Opening the CT files into the viewer window (its fill, then the first 3 x 3 shown).
    {
        for (const QString &f : ctFiles) { // the same page cache for both
            QFile file(f);
            file.open(QIODevice::ReadOnly);
            file.readAll();
        }
        const double before = residentMiB();
        QElapsedTimer timer;
        timer.start();
        frmImageViewer *w = frmImageViewer::instance();
        w->resize(1400, 900);
        w->Viewer->setBackgroundDecoding(false); // measured to the first 3 x 3 drawn
        QList<dicom::Image> images;
        for (int i = 0; i < count; ++i)
            images << dicom::Image::fromFile(ctFiles.at(i));
        w->Images().add(images);
        w->show();
        QCoreApplication::processEvents();
        w->Viewer->repaint();
        const double ours = timer.nsecsElapsed() / 1e6;
        const double added = residentMiB() - before;
        const double pixels = double(count) * 512 * 512 * 2 / (1024 * 1024);
        // Every image shown once (each then holds its decoded pixels).
        for (int first = 1; first <= count; first += 9) {
            w->Viewer->setCurrentIndex(first);
            w->Viewer->repaint();
        }
        const double all = residentMiB() - before;

        timer.start();
        std::vector<std::unique_ptr<DicomImage>> ref;
        std::vector<Uint8> out(512 * 512);
        for (int i = 0; i < count; ++i) {
            ref.push_back(std::make_unique<DicomImage>(QFile::encodeName(ctFiles.at(i)).constData()));
            if (i < 9) {
                ref.back()->setWindow(40, 400);
                ref.back()->getOutputData(out.data(), out.size(), 8);
            }
        }
        const double peer = timer.nsecsElapsed() / 1e6;
        char what[80];
        std::snprintf(what, sizeof what, "opening %d CT images, first 3x3 shown", count);
        ref.clear();
        report(what, ours, peer, "<= 2000 ms");
        std::printf("%-44s %.0f MiB added for %.0f MiB of pixel data: %.2fx   (target <= 2x)\n", "memory after opening", added,
                    pixels, added / pixels);
        std::printf("%-44s %.0f MiB added for %.0f MiB of pixel data: %.2fx   (target <= 2x)\n",
                    "memory after paging through all", all, pixels, all / pixels);
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // 4. A measuring line dragged over 3 x 3 CT tiles.
    {
        frmImageViewer *w = frmImageViewer::instance();
        w->resize(1400, 900);
        w->Viewer->setBackgroundDecoding(false);
        QList<dicom::Image> images;
        for (int i = 0; i < 9; ++i)
            images << dicom::Image::fromFile(ctFiles.at(i));
        w->Images().add(images);
        w->findChild<QPushButton *>(QStringLiteral("cmnuTile3x3"))->click();
        w->show();
        QCoreApplication::processEvents();
        w->Viewer->repaint();
        const QRect tile = w->Viewer->tileRect(4);
        const auto send = [&](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
            QMouseEvent e(type, at, w->Viewer->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                          Qt::NoModifier);
            QApplication::sendEvent(w->Viewer, &e);
        };
        const auto drag = [&] {
            w->Mouse[5]->click();
            send(QEvent::MouseButtonPress, tile.topLeft() + QPointF(10, 10), Qt::LeftButton);
            const double t = timeSteps(steps, [&](int i) {
                send(QEvent::MouseMove, tile.topLeft() + QPointF(10 + 3 * i % (tile.width() - 20), 10 + 2 * i % (tile.height() - 20)),
                     Qt::LeftButton);
                w->Viewer->repaint();
            });
            send(QEvent::MouseButtonRelease, tile.center(), Qt::NoButton);
            return t;
        };
        const double full = drag();
        std::vector<std::unique_ptr<DicomImage>> ref;
        for (int i = 0; i < 9; ++i)
            ref.push_back(std::make_unique<DicomImage>(QFile::encodeName(ctFiles.at(i)).constData()));
        std::vector<Uint8> out(512 * 512);
        const double peer = timeSteps(steps, [&](int i) {
            for (auto &d : ref) {
                d->setWindow(40 + i, 400 + i);
                d->getOutputData(out.data(), out.size(), 8);
            }
        });
        report("measuring-line drag, 3x3 CT, full repaint", full, peer, "<= 8 ms");
        w->close();
    }
    resetState();
    return 0;
}
