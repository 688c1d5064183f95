// orv_bench_list [--transactions N] [--patients N] [--runs N] [--written-runs N] [--analyze] [--scroll]
//                <database options>
// Fills the department database with N transactions (default ten million) and N patients (default
// five million) in the department register and in the hospital master (once), then times the
// transaction list in both patient modes: the empty search's first screen, and a last-name prefix
// search's first screen and every row, median of --runs (default 5) each, and whether each is
// within 50 ms. Beside each: the list statement built from its pieces, read through one open
// cursor (the list as it was before it read in index order), median of --written-runs (default 1).
// --scroll: then scrolls the department register's list (empty search) once, page by page,
// through an offscreen grid of a 1280x800 window, and prints the rows scrolled, the time, the rows
// the list holds at the end against the rows the grid shows, and the resident memory before the
// search, at the first screen and at the end.
#include "DatabaseBench.h"

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

#include <cstdio>

using namespace orv;

namespace {
using namespace orv::bench;

// The list: `all` fetches every row, otherwise the first screen. The model is the main window's,
// which lives as long as the window: every search runs on it.
int list(TransactionListModel &model, Connection &db, const SearchFilter &f, bool all)
{
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
    model.search(db, searchStatement(db.backend(), f));
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
        fillListRows(*db, option(args, QStringLiteral("--transactions"), 10000000), option(args, QStringLiteral("--patients"), 5000000));
        if (args.contains(QStringLiteral("--analyze")))
            db->executeScript(QStringLiteral("ANALYZE;")); // statistics of a fresh sample, as a fresh fill gathers them
        const int runs = option(args, QStringLiteral("--runs"), 5);
        const int writtenRuns = option(args, QStringLiteral("--written-runs"), 1);
        const QString backend = backendName(db->backend());
        int missed = 0;
        TransactionListModel model;
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
                    missed += !report(what, timed(runs, [&] { return list(model, *db, f, all); }), timed(writtenRuns, [&] { return asWritten(*db, f, all); }));
                }
            }
        }
        summary(missed);
        if (args.contains(QStringLiteral("--scroll")))
            scroll(*db, backend);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
