// orv_bench_imagelist save <source folder> <server folder>
// orv_bench_imagelist import <folder>
// Drives the image list window offscreen on an embedded database in a scratch folder.
// save: lists every file of the source folder as a New row and runs "&Save" into the server
// folder. import: runs "Import Folder" on the folder. Prints the wall time from the click to the
// end of the work and the longest gap of the GUI event loop meanwhile (a 5 ms timer).
#include "common/TestLogin.h"
#include "core/Database.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "session/ExamSession.h"
#include "imagestore/ctlImageList.h"
#include "viewer/frmImageViewer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace orv;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || (args[1] == QLatin1String("save") && args.size() < 4)) {
        std::fprintf(stderr, "usage: %s save <source> <server> | import <folder>\n", argv[0]);
        return 2;
    }
    QTemporaryDir scratch;
    std::unique_ptr<test::FreshDatabase> database;
    if (!test::loginOnFreshDatabase(database, Backend::SQLite, [](Connection &db) {
            db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no) VALUES('BENCH1')"));
        })) {
        std::fprintf(stderr, "cannot log in on the scratch database\n");
        return 1;
    }
    state().TempFolder = scratch.filePath(QStringLiteral("pacstemp"));
    openTransaction().setValue(OpenTransaction::TransNo, QStringLiteral("BENCH1"));

    ctlImageList *list = ctlImageList::instance();
    list->resize(900, 500);
    list->show();
    QPushButton *command = nullptr;
    if (args[1] == QLatin1String("save")) {
        state().Server_Name = args[3];
        state().Server_Folder = QStringLiteral("images");
        QDir().mkpath(QDir(args[3]).filePath(QStringLiteral("images")));
        const QStringList names = QDir(args[2]).entryList(QDir::Files, QDir::Name);
        for (const QString &n : names)
            session().openRows()->append(ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), args[2], n, QString()));
        command = list->cmdSave;
    } else {
        list->txtFolder->setText(args[2]);
        command = list->cmdImportFolder;
    }

    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
    QEventLoop loop;
    QObject::connect(list, &ctlImageList::workFinished, &loop, &QEventLoop::quit);
    QElapsedTimer wall;
    sinceTick.start();
    tick.start(5);
    wall.start();
    command->click();
    loop.exec();
    const double seconds = wall.nsecsElapsed() / 1e9;
    tick.stop();
    std::printf("%s rows=%d seconds=%.3f longest_gap_ms=%lld\n", qPrintable(args[1]), list->rowCount(), seconds,
                static_cast<long long>(longestGap));
    delete list;
    delete frmImageViewer::existing();
    resetState(); // the database connection closes while the application still exists
    return 0;
}
