// orv_bench_send_list --host H --port P --aec CALLED [--tls-ca CA --tls-cert CERT --tls-key KEY] FILE...
// Lists the files as New DICOM rows of the image list, clicks "S&end to PACS" and waits until the
// list is no longer busy (the send queue lives in a fresh embedded database of its own). Prints the seconds the send took, the longest gap between two turns of
// the GUI event loop meanwhile (a 1 ms timer measures it) and the status line of the log.
#include "common/TestLogin.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ctlImageList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    auto take = [&](const QString &name) {
        const int i = int(args.indexOf(name));
        if (i < 0 || i + 1 >= args.size())
            return QString();
        const QString v = args.at(i + 1);
        args.remove(i, 2);
        return v;
    };
    const QString host = take(QStringLiteral("--host")), port = take(QStringLiteral("--port")),
                  aec = take(QStringLiteral("--aec"));
    if (host.isEmpty() || port.isEmpty() || aec.isEmpty() || args.isEmpty()) {
        std::fputs("usage: orv_bench_send_list --host H --port P --aec CALLED FILE...\n", stderr);
        return 2;
    }
    std::unique_ptr<test::FreshDatabase> database;
    if (!test::loginOnFreshDatabase(database, Backend::SQLite)) {
        std::fputs("cannot create the send queue's database\n", stderr);
        return 1;
    }
    dicomNodes().setValue(DicomNodes::StorageNode, host);
    dicomNodes().setValue(DicomNodes::StoragePort, port);
    dicomNodes().setValue(DicomNodes::StorageAE, aec);
    if (const QString ca = take(QStringLiteral("--tls-ca")); !ca.isEmpty()) {
        dicomNodes().setValue(DicomNodes::StorageTLS, QStringLiteral("1"));
        dicomNodes().setValue(DicomNodes::TLSTrustedCertificates, ca);
        dicomNodes().setValue(DicomNodes::TLSCertificate, take(QStringLiteral("--tls-cert")));
        dicomNodes().setValue(DicomNodes::TLSPrivateKey, take(QStringLiteral("--tls-key")));
    }

    ctlImageList *list = ctlImageList::instance();
    list->show();
    for (const QString &f : args) {
        const QFileInfo info(f);
        list->GrdFilesAddImage(QStringLiteral("New"), QStringLiteral("Image"), QStringLiteral("localtemp"), QString(),
                               info.absolutePath(), info.fileName(), QString());
    }

    QElapsedTimer clock, gap;
    qint64 maxGap = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        maxGap = qMax(maxGap, gap.restart());
    });
    QObject::connect(list, &ctlImageList::workFinished, &app, [&] {
        const double seconds = clock.elapsed() / 1000.0;
        ticker.stop();
        const QString log = frmLog::instance()->text().trimmed();
        std::printf("%.3f s, longest GUI event-loop gap %lld ms, %lld log lines, last: %s\n", seconds,
                    static_cast<long long>(maxGap), static_cast<long long>(log.count(QLatin1Char('\n')) + 1),
                    qPrintable(log.section(QLatin1Char('\n'), -1)));
        QApplication::exit(log.endsWith(QLatin1String("Send Complete.")) ? 0 : 1);
    });
    QTimer::singleShot(0, [&] {
        gap.start();
        ticker.start();
        clock.start();
        list->cmdSendToPACS->click();
    });
    const int rc = QApplication::exec();
    resetSession();
    resetState(); // the database goes before the application object
    return rc;
}
