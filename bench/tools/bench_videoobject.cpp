// Converts one clip into a DICOM video object as "S&end to PACS" does (transcode to H.264 and
// write the object) and prints the seconds it took, the frames and the stream's size.
#include "session/OpenTransaction.h"
#include "imagestore/VideoObjectFile.h"
#include "outside/Error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s clip.avi out.dcm\n", argv[0]);
        return 2;
    }
    orv::TransactionRecord record;
    record.transNo = QStringLiteral("BENCH");
    record.lastName = QStringLiteral("BENCH");
    record.examType = QStringLiteral("ES");
    QElapsedTimer t;
    t.start();
    try {
        orv::writeVideoObjectFile(QString::fromLocal8Bit(argv[1]), record, 1, QStringLiteral("BENCH"), QString::fromLocal8Bit(argv[2]));
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    std::printf("%.3f s, %lld bytes\n", double(t.nsecsElapsed()) / 1e9, qint64(QFileInfo(QString::fromLocal8Bit(argv[2])).size()));
    return 0;
}
