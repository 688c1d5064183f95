// orv_bench_list [--transactions N] [--patients N] [--runs N] [--scroll] <database options>
// Fills the department database with N transactions and N patients, in the department register
// and in the hospital master (once), then times the transaction list in both patient modes: a
// last-name prefix search (all rows fetched) and the empty search (first screen), median of
// --runs (default 5) each. The peer in the same run is the list statement built from its
// pieces, read through one open cursor (the list as it was before it read in index order).
// --scroll: then scrolls the department register's list (empty search) once, page by page,
// through an offscreen grid of a 1280x800 window, and prints the rows scrolled, the time, the rows
// the list holds at the end against the rows the grid shows, and the resident memory before the
// search, at the first screen and at the end.
#include "core/Database.h"
#include "outside/Error.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace orv;

namespace {
int option(const QStringList &args, const QString &name, int fallback)
{
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
}

int count(Connection &db, const QString &table)
{
    return db.query(QStringLiteral("SELECT count(*) AS n FROM %1").arg(table)).value(QStringLiteral("n")).toInt();
}

void fill(Connection &db, int transactions, int patients)
{
    const bool sqlite = db.backend() == Backend::SQLite;
    bool filled = false;
    if (count(db, QStringLiteral("pacs..tblTransaction")) < transactions) {
        filled = true;
        std::printf("filling %d transactions and %d patients...\n", transactions, patients);
        std::fflush(stdout);
        if (sqlite) {
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
                "COMMIT;").arg(transactions).arg(patients));
        } else {
            db.executeScript(QStringLiteral(
                "INSERT INTO pacs.tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) "
                "SELECT i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', DATE '1950-01-01' + (i % 20000), "
                "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END FROM generate_series(1, %2) AS i;\n"
                "INSERT INTO pacs.tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,StudyUID) "
                "SELECT 'B' || i, CAST((i % %2) + 1 AS TEXT), 'H' || ((i % %2) + 1), 'US', 'US01', "
                "DATE '2020-01-01' + (i % 2000), '1.2.826.0.1.3680043.2.1143.' || i FROM generate_series(1, %1) AS i;").arg(transactions).arg(patients));
        }
    }
    if (count(db, QStringLiteral("Patient_Data..tbMaster")) < patients) {
        filled = true;
        std::printf("filling %d hospital master patients...\n", patients);
        std::fflush(stdout);
        db.executeScript(sqlite ? QStringLiteral(
                                      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                      "INSERT INTO Patient_Data.tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) "
                                      "SELECT 'H' || i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', date('1950-01-01', '+' || (i % 20000) || ' days'), "
                                      "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END FROM n;").arg(patients)
                                : QStringLiteral(
                                      "INSERT INTO patient_data.tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) "
                                      "SELECT 'H' || i, 'LN' || (i % 20000), 'FN' || (i % 977), 'M', DATE '1950-01-01' + (i % 20000), "
                                      "CASE i % 2 WHEN 0 THEN 'F' ELSE 'M' END FROM generate_series(1, %1) AS i;").arg(patients));
    }
    if (filled)
        db.executeScript(QStringLiteral("ANALYZE;"));
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Timing
{
    double ms = 0;
    int rows = 0;
};

// Median time of `runs` calls of `read`, which returns the rows it read.
Timing timed(int runs, const std::function<int()> &read)
{
    QList<double> times;
    Timing t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        t.rows = read();
        times << clock.nsecsElapsed() / 1e6;
    }
    t.ms = median(times);
    return t;
}

// The list: `all` fetches every row, otherwise the first screen.
int list(Connection &db, const SearchFilter &f, bool all)
{
    TransactionListModel model;
    model.search(db, searchStatement(f));
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
    while (cursor->fetch(TransactionListModel().partSize(), rows) && all) {
    }
    return int(rows.size());
}

// The process's resident memory in kB (VmRSS of /proc/self/status), 0 where there is none.
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// The department register's list, empty search, scrolled once page by page through a grid of
// the main window's size, painted at each page.
void scroll(Connection &db, const QString &backend)
{
    SearchFilter f;
    f.modality = QStringLiteral("US");
    const long before = residentKb();
    TransactionListModel model;
    QTableView grid;
    grid.setModel(&model);
    grid.verticalHeader()->setDefaultSectionSize(grid.fontMetrics().height() + 6);
    grid.verticalHeader()->hide();
    grid.resize(1280 - 170, 800 - 90); // the window less its command column and search box
    watchViewHeight(&grid, &model);
    grid.show();
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    model.search(db, searchStatement(f));
    QCoreApplication::processEvents();
    grid.viewport()->repaint();
    const long firstScreen = residentKb();
    QScrollBar *bar = grid.verticalScrollBar();
    for (;;) {
        QCoreApplication::processEvents();
        grid.viewport()->repaint();
        if (bar->value() == bar->maximum() && !model.canFetchMore(QModelIndex()))
            break;
        bar->setValue(bar->value() + bar->pageStep());
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const long after = residentKb();
    std::printf("%s, department register, scrolled once: %d rows in %.1f s; rows held at the end %d, rows shown %d: %s "
                "(held < 2x shown); resident memory %ld kB before the search, %ld kB at the first screen, %ld kB at the end\n",
                qPrintable(backend), model.rowCount(), seconds, model.heldRows(), model.visibleRows(),
                model.heldRows() < 2 * model.visibleRows() ? "met" : "NOT met", before, firstScreen, after);
    std::fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        auto db = openDepartmentDatabase(databaseConfig(args));
        fill(*db, option(args, QStringLiteral("--transactions"), 1000000), option(args, QStringLiteral("--patients"), 200000));
        const int runs = option(args, QStringLiteral("--runs"), 5);
        const QString backend = backendName(db->backend());
        for (int hosp : {0, 1}) {
            SearchFilter prefix;
            prefix.useHospPat = hosp;
            prefix.modality = QStringLiteral("US");
            prefix.text = QStringLiteral("LN1234");
            SearchFilter empty = prefix;
            empty.text.clear();
            const char *mode = hosp ? "hospital master" : "department register";
            const Timing p = timed(runs, [&] { return list(*db, prefix, true); });
            const Timing pw = timed(runs, [&] { return asWritten(*db, prefix, true); });
            const Timing e = timed(runs, [&] { return list(*db, empty, false); });
            const Timing ew = timed(runs, [&] { return asWritten(*db, empty, false); });
            std::printf("%s, %s: prefix search (%d rows) median %.1f ms (statement as written: %d rows, %.1f ms); "
                        "empty search first screen (%d rows) median %.1f ms (as written: %d rows, %.1f ms)\n",
                        qPrintable(backend), mode, p.rows, p.ms, pw.rows, pw.ms, e.rows, e.ms, ew.rows, ew.ms);
            std::fflush(stdout);
        }
        if (args.contains(QStringLiteral("--scroll")))
            scroll(*db, backend);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
