// orv_transno_worker COUNT <database options>: issues COUNT transaction numbers on one connection
// and prints each on its own line.
#include "core/Database.h"
#include "outside/Error.h"
#include "transactions/TransactionStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int count = args.value(1).toInt();
    try {
        auto db = orv::openDepartmentDatabase(orv::databaseConfig(args));
        for (int i = 0; i < count; ++i)
            std::printf("%s\n", qPrintable(orv::TransactionStore::NextTransNo(*db)));
    } catch (const orv::Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
