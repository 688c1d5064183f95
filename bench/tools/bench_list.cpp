// orv_bench_list [--transactions N] [--patients N] [--runs N] [--written-runs N] [--analyze] <database options>
// Fills the department database with N transactions (default ten million) and N patients (default
// five million) in the department register and in the hospital master (once), then times the
// transaction list in both patient modes: the empty search's first screen, and a last-name prefix
// search's first screen and every row, median of --runs (default 5) each, and whether each is
// within 50 ms. Beside each: the list statement built from its pieces, read through one open
// cursor (the list as it was before it read in index order), median of --written-runs (default 1).
#include "DatabaseBench.h"

#include "core/Database.h"
#include "outside/Error.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QCoreApplication>

#include <cstdio>

using namespace orv;

namespace {
using namespace orv::bench;

// Patient i is named LN(i % 20000), FN(i % 977) M; transaction i belongs to patient (i % patients) + 1
// in the register and H((i % patients) + 1) in the hospital master.
void fill(Connection &db, int transactions, int patients)
{
    const bool sqlite = db.backend() == Backend::SQLite;
    auto series = [&](int rows) {
        return sqlite ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) SELECT ").arg(rows)
                      : QStringLiteral("SELECT ");
    };
    auto from = [&](int rows) { return sqlite ? QStringLiteral(" FROM n") : QStringLiteral(" FROM generate_series(1, %1) AS i").arg(rows); };
    const QString day = sqlite ? QStringLiteral("date('%1', '+' || (%2) || ' days')") : QStringLiteral("DATE '%1' + (%2)");
    bool filled = false;
    if (count(db, QStringLiteral("pacs..tblTransaction")) < transactions) {
        filled = true;
        std::printf("filling %d transactions and %d patients...\n", transactions, patients);
        std::fflush(stdout);
        // The triggers that keep the list's copies of the names are set aside with the indexes;
        // the fill writes the copies itself through the same join.
        withoutIndexes(db, {QStringLiteral("pacs.tblTransaction"), QStringLiteral("pacs.tblPatient")}, true, [&] {
            db.executeScript(sqlite ? QStringLiteral("BEGIN;") : QStringLiteral("SET session_replication_role = replica;"));
            db.executeScript(QStringLiteral("INSERT INTO pacs.tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) ")
                             + series(patients)
                             + QStringLiteral("i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', %1, CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END")
                                   .arg(QString(day).arg(QStringLiteral("1950-01-01"), QStringLiteral("i % 20000")))
                             + from(patients) + QLatin1Char(';'));
            db.executeScript(QStringLiteral("INSERT INTO pacs.tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,StudyUID,"
                                            "list_last,list_first,list_middle) ")
                             + series(transactions)
                             + QStringLiteral("'B' || i, CAST((i % %1) + 1 AS TEXT), 'H' || ((i % %1) + 1), 'US', 'US01', %2, "
                                              "'1.2.826.0.1.3680043.2.1143.' || i, p.name_last, p.name_first, p.name_middle")
                                   .arg(patients)
                                   .arg(QString(day).arg(QStringLiteral("2020-01-01"), QStringLiteral("i % 2000")))
                             + from(transactions)
                             + QStringLiteral(" LEFT JOIN pacs.tblPatient p ON p.patient_id = (i % %1) + 1;").arg(patients));
            db.executeScript(sqlite ? QStringLiteral("COMMIT;") : QStringLiteral("SET session_replication_role = origin;"));
        });
    }
    if (count(db, QStringLiteral("Patient_Data..tbMaster")) < patients) {
        filled = true;
        std::printf("filling %d hospital master patients...\n", patients);
        std::fflush(stdout);
        withoutIndexes(db, {QStringLiteral("Patient_Data.tbMaster")}, false, [&] {
            db.executeScript(QStringLiteral("INSERT INTO Patient_Data.tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) ")
                             + series(patients)
                             + QStringLiteral("'H' || i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', %1, CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END")
                                   .arg(QString(day).arg(QStringLiteral("1950-01-01"), QStringLiteral("i % 20000")))
                             + from(patients) + QLatin1Char(';'));
        });
    }
    if (filled)
        db.executeScript(QStringLiteral("ANALYZE;"));
}

// The list: `all` fetches every row, otherwise the first screen.
int list(Connection &db, const SearchFilter &f, bool all)
{
    TransactionListModel model;
    model.search(db, searchStatement(db.backend(), f));
    while (all && model.canFetchMore(QModelIndex()))
        model.fetchMore(QModelIndex());
    return model.rowCount();
}

// The statement from its pieces through one open cursor.
int asWritten(Connection &db, const SearchFilter &f, bool all)
{
    const Statement s = listStatementFromPieces(f);
    auto cursor = db.openCursor(s.sql, s.params);
    QList<QStringList> rows;
    while (cursor->fetch(TransactionListModel::FetchSize, rows) && all) {
    }
    return int(rows.size());
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        auto db = openDepartmentDatabase(databaseConfig(args));
        fill(*db, option(args, QStringLiteral("--transactions"), 10000000), option(args, QStringLiteral("--patients"), 5000000));
        if (args.contains(QStringLiteral("--analyze")))
            db->executeScript(QStringLiteral("ANALYZE;")); // statistics of a fresh sample, as a fresh fill gathers them
        const int runs = option(args, QStringLiteral("--runs"), 5);
        const int writtenRuns = option(args, QStringLiteral("--written-runs"), 1);
        const QString backend = backendName(db->backend());
        int missed = 0;
        for (int hosp : {0, 1}) {
            SearchFilter prefix;
            prefix.useHospPat = hosp;
            prefix.modality = QStringLiteral("US");
            prefix.text = QStringLiteral("LN1234");
            SearchFilter empty = prefix;
            empty.text.clear();
            const QString mode = backend + (hosp ? QStringLiteral(", hospital master") : QStringLiteral(", department register"));
            for (const SearchFilter &f : {empty, prefix}) {
                for (bool all : {false, true}) {
                    if (all && f.text.isEmpty())
                        continue; // the whole list is read by scrolling
                    const QString what = mode + (f.text.isEmpty() ? QStringLiteral(", empty search") : QStringLiteral(", prefix \"%1\"").arg(f.text))
                                       + (all ? QStringLiteral(", every row") : QStringLiteral(", first screen"));
                    missed += !report(what, timed(runs, [&] { return list(*db, f, all); }), timed(writtenRuns, [&] { return asWritten(*db, f, all); }));
                }
            }
        }
        summary(missed);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
