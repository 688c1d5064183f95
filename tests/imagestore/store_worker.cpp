// orv_store_worker SOURCE-FOLDER SERVER-NAME yyyy-MM-dd GROUP-FILES <database options>: saves every
// file of SOURCE-FOLDER (by name) as a New row of transaction 00123 into SERVER-NAME\ACQUIRE\US, in
// groups of GROUP-FILES, and prints the number of rows done after each row once its group is stored; a failure is printed on stderr with exit code 1.
#include "core/Database.h"
#include "imagestore/ServerStorage.h"
#include "outside/Error.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        orv::SaveRequest r;
        r.transNo = QStringLiteral("00123");
        r.serverName = args.value(2);
        r.serverFolder = QStringLiteral("ACQUIRE");
        r.modalityCode = QStringLiteral("US");
        r.userId = QStringLiteral("T01");
        r.computerName = QStringLiteral("WS1");
        r.when = QDateTime(QDate::fromString(args.value(3), Qt::ISODate), QTime(10, 0));
        r.groupFiles = args.value(4).toInt();
        const QDir source(args.value(1));
        for (const QString &name : source.entryList(QDir::Files, QDir::Name))
            r.rows << orv::ImageRow::make(orv::kStatusNew, QStringLiteral("Image"), orv::kLocalTemp, QString(),
                                          source.path(), name, QString());
        auto db = orv::openDepartmentDatabase(orv::databaseConfig(args));
        orv::SaveObserver observer;
        observer.progress = [](int done, int, const QString &) {
            std::printf("%d\n", done);
            std::fflush(stdout);
        };
        const orv::SaveOutcome outcome = orv::ServerStorage::save(*db, r, observer);
        if (!outcome.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(outcome.failure));
            return 1;
        }
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
