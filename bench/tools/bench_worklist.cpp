// orv_bench_worklist --host H --port P --aec CALLED [--runs N] [--screenshot PNG]
// Opens the worklist window, clicks "&Search" with every search field empty and waits until the
// query has ended, N times (default 3). Prints per run the rows listed, the seconds from the click
// to the last row, and the longest gap between two turns of the GUI event loop meanwhile (a
// 1 ms timer measures it); then the median seconds. --screenshot: afterwards, the first answer
// chosen for verification, the window saved as a picture.
#include "core/DicomNodes.h"
#include "dicomnet/frmWorklistQuery.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    auto take = [&](const QString &name, const QString &def = QString()) {
        const int i = int(args.indexOf(name));
        return i < 0 || i + 1 >= args.size() ? def : args.at(i + 1);
    };
    const QString host = take(QStringLiteral("--host")), port = take(QStringLiteral("--port")), aec = take(QStringLiteral("--aec"));
    const int runs = take(QStringLiteral("--runs"), QStringLiteral("3")).toInt();
    if (host.isEmpty() || port.isEmpty() || aec.isEmpty() || runs < 1) {
        std::fputs("usage: orv_bench_worklist --host H --port P --aec CALLED [--runs N]\n", stderr);
        return 2;
    }
    dicomNodes().setValue(DicomNodes::wRemoteNode, host);
    dicomNodes().setValue(DicomNodes::wRemotePort, port);
    dicomNodes().setValue(DicomNodes::wRemoteAE, aec);

    frmWorklistQuery *w = frmWorklistQuery::instance();
    w->show();
    w->StudyDate->clear();
    QList<double> seconds;
    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock, gap;
        qint64 maxGap = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] { maxGap = qMax(maxGap, gap.restart()); });
        gap.start();
        ticker.start();
        clock.start();
        w->RunMWL->click();
        while (w->isSearching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        const double s = clock.elapsed() / 1000.0;
        ticker.stop();
        seconds << s;
        const int rows = w->model()->rowCount();
        failures += rows == 0;
        std::printf("run %d: %d rows listed in %.3f s, longest GUI event-loop gap %lld ms\n", run + 1, rows, s,
                    static_cast<long long>(maxGap));
    }
    if (const QString shot = take(QStringLiteral("--screenshot")); !shot.isEmpty()) {
        w->resize(1180, 600);
        w->Grid1->selectRow(0);
        w->cmdSelect->click();
        QApplication::processEvents();
        w->grab().save(shot);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("median %.3f\n", seconds.at(seconds.size() / 2));
    return failures ? 1 : 0;
}
