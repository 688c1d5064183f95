// orv_bench_list [--transactions N] [--patients N] <database options>
// Fills the department database with N transactions and N patients (once), then times the
// transaction list: a last-name prefix search (all rows fetched) and the empty search (first
// screen), five times each, and prints the medians in milliseconds.
#include "core/Database.h"
#include "outside/Error.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace orv;

namespace {
int option(const QStringList &args, const QString &name, int fallback)
{
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
}

void fill(Connection &db, int transactions, int patients)
{
    if (db.query(QStringLiteral("SELECT count(*) AS n FROM pacs..tblTransaction")).value(QStringLiteral("n")).toInt() >= transactions)
        return;
    std::printf("filling %d transactions and %d patients...\n", transactions, patients);
    std::fflush(stdout);
    if (db.backend() == Backend::SQLite) {
        db.executeScript(QStringLiteral(
            "BEGIN;\n"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %2) "
            "INSERT INTO pacs.tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) "
            "SELECT i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', date('1950-01-01', '+' || (i % 20000) || ' days'), "
            "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END FROM n;\n"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO pacs.tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,StudyUID) "
            "SELECT 'B' || i, CAST((i % %2) + 1 AS TEXT), 'H' || ((i % %2) + 1), 'US', 'US01', "
            "date('2020-01-01', '+' || (i % 2000) || ' days'), '1.2.826.0.1.3680043.2.1143.' || i FROM n;\n"
            "COMMIT;\nANALYZE;").arg(transactions).arg(patients));
    } else {
        db.executeScript(QStringLiteral(
            "INSERT INTO pacs.tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) "
            "SELECT i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', DATE '1950-01-01' + (i % 20000), "
            "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END FROM generate_series(1, %2) AS i;\n"
            "INSERT INTO pacs.tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,StudyUID) "
            "SELECT 'B' || i, CAST((i % %2) + 1 AS TEXT), 'H' || ((i % %2) + 1), 'US', 'US01', "
            "DATE '2020-01-01' + (i % 2000), '1.2.826.0.1.3680043.2.1143.' || i FROM generate_series(1, %1) AS i;\n"
            "ANALYZE;").arg(transactions).arg(patients));
    }
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        auto db = openDepartmentDatabase(databaseConfig(args));
        fill(*db, option(args, QStringLiteral("--transactions"), 1000000), option(args, QStringLiteral("--patients"), 200000));
        SearchFilter prefix;
        prefix.modality = QStringLiteral("US");
        prefix.text = QStringLiteral("LN1234");
        SearchFilter empty;
        empty.modality = QStringLiteral("US");
        QList<double> prefixTimes, emptyTimes;
        int prefixRows = 0;
        for (int i = 0; i < 5; ++i) {
            TransactionListModel model;
            QElapsedTimer t;
            t.start();
            model.search(*db, searchStatement(prefix));
            while (model.canFetchMore(QModelIndex()))
                model.fetchMore(QModelIndex());
            prefixTimes << t.nsecsElapsed() / 1e6;
            prefixRows = model.rowCount();
            TransactionListModel all;
            t.restart();
            all.search(*db, searchStatement(empty));
            emptyTimes << t.nsecsElapsed() / 1e6;
        }
        std::printf("%s: prefix search (%d rows) median %.1f ms; empty search first screen (%d rows) median %.1f ms\n",
                    qPrintable(backendName(db->backend())), prefixRows, median(prefixTimes),
                    TransactionListModel::FetchSize, median(emptyTimes));
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
