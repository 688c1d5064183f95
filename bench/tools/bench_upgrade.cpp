// orv_bench_upgrade [--transactions N] [--patients N] [--from V] [--blocking] <database options>
// The schema upgrade from version V (default 8) to the latest on a large database, and what it
// costs the other workstations. On a new database (or one filled at version V, such as a copy of
// the list bench's kept server): creates the schema up to version V, fills N transactions
// (default ten million) and N patients (default five million) in the department register and the
// hospital master (unless filled), then upgrades while a second
// connection, every 100 ms, saves a transaction (UPDATE of one row, INSERT of a new one) and
// writes the hospital master the way the hospital's system does (INSERT of a patient, UPDATE of
// another): the master is the table whose index the upgrade builds. Reports the upgrade's time
// (its transaction and its online work) and the longest of those writes during it. The target
// is met when no write waited for a lock longer than ten writes take before the upgrade (their
// median x 10, and at least 100 ms): the second connection's lock timeout (busy timeout on
// SQLite) is set to that, and a write refused for it counts as locked out. A write only slowed by
// the load of the build (the server sorting millions of rows beside it) is no lock-out: its time
// is reported, not judged.
// --blocking runs the online statements as upgrades used to, inside one transaction without
// CONCURRENTLY: the peer in the same run.
#include "DatabaseBench.h"

#include "core/Database.h"
#include "outside/Error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThread>

#include <atomic>
#include <cstdio>

using namespace orv;
using namespace orv::bench;

namespace {

struct WriteTimes
{
    QList<double> save;     // ms, a transaction's UPDATE and INSERT
    QList<double> hospital; // ms, the master's INSERT and UPDATE
    int refused = 0;        // writes that waited for a lock longer than the limit
    QString firstRefusal;
    qint64 longestSaveStart = 0;     // when the longest save began, ms since 1970
    qint64 longestHospitalStart = 0; // when the longest master write began
};

double longest(const QList<double> &ms)
{
    return ms.isEmpty() ? 0 : *std::max_element(ms.begin(), ms.end());
}

double median(QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms.isEmpty() ? 0 : ms[ms.size() / 2];
}

// The second workstation: writes every 100 ms on a connection of its own until `stop`, or `count`
// times when count > 0.
class Writer
{
public:
    // `lockLimitMs` > 0: a write that waits longer than this for a lock is refused and counted.
    Writer(const ConnectionConfig &config, int patients, int count, int lockLimitMs = 0)
        : m_thread(QThread::create([=, this] { run(config, patients, lockLimitMs); })), m_count(count)
    {
        m_thread->start();
    }
    ~Writer()
    {
        m_stop = true;
        m_thread->wait();
    }
    // Stops a writer without a count, waits for one with a count to complete it.
    WriteTimes finish()
    {
        m_stop = m_count == 0;
        m_thread->wait();
        if (!m_error.isEmpty())
            throw Error(m_error);
        return m_times;
    }

private:
    void run(const ConnectionConfig &config, int patients, int lockLimitMs)
    {
        try {
            auto db = Connection::open(config);
            if (lockLimitMs > 0)
                db->executeScript(db->backend() == Backend::PostgreSQL ? QStringLiteral("SET lock_timeout = %1;").arg(lockLimitMs)
                                                                       : QStringLiteral("PRAGMA busy_timeout = %1;").arg(lockLimitMs));
            static std::atomic<int> serial{0};
            auto timed = [&](const std::function<void()> &work) {
                QElapsedTimer clock;
                clock.start();
                try {
                    work();
                } catch (const Error &e) {
                    if (lockLimitMs == 0)
                        throw;
                    if (m_times.refused++ == 0)
                        m_times.firstRefusal = e.description();
                }
                return clock.nsecsElapsed() / 1e6;
            };
            // The first write of a connection also prepares its statements: not counted.
            for (int i = -1; !m_stop && (m_count == 0 || i < m_count); ++i) {
                const int n = ++serial;
                const QString number = QStringLiteral("W%1").arg(n);
                const QString some = QString::number(1 + (n * 7919) % patients);
                const qint64 saveStart = QDateTime::currentMSecsSinceEpoch();
                const double save = timed([&] {
                    db->execute(QStringLiteral("UPDATE pacs..tblTransaction SET file_no = ? WHERE trans_no = ?"), {number, QStringLiteral("B") + some});
                    db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no, patient_id, hospnum, RevenueID) VALUES(?, ?, ?, 'US')"),
                                {number, some, QStringLiteral("H") + some});
                });
                const qint64 hospitalStart = QDateTime::currentMSecsSinceEpoch();
                const double hospital = timed([&] {
                    db->execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum, LastName, FirstName) VALUES(?, ?, ?)"),
                                {number, QStringLiteral("LN") + some, QStringLiteral("FN")});
                    db->execute(QStringLiteral("UPDATE Patient_Data..tbMaster SET MiddleName = ? WHERE HospNum = ?"), {number, QStringLiteral("H") + some});
                });
                if (i >= 0) {
                    if (save > longest(m_times.save))
                        m_times.longestSaveStart = saveStart;
                    if (hospital > longest(m_times.hospital))
                        m_times.longestHospitalStart = hospitalStart;
                    m_times.save << save;
                    m_times.hospital << hospital;
                }
                QThread::msleep(100);
            }
        } catch (const Error &e) {
            m_error = e.description();
        }
    }

    std::unique_ptr<QThread> m_thread;
    const int m_count;
    std::atomic<bool> m_stop{false};
    WriteTimes m_times;
    QString m_error;
};

// The online statements as upgrades ran them before: in one transaction, taking each table's lock
// for the whole build.
void buildInTransaction(Connection &db)
{
    RecordSet rs = db.query(QStringLiteral("SELECT version, statements FROM pacs..tblSchemaOnline WHERE done_at IS NULL"));
    db.runInTransaction([&] {
        for (; !rs.eof(); rs.moveNext()) {
            for (QString statement : Connection::scriptStatements(rs.text(QStringLiteral("statements")))) {
                std::printf("  in the transaction: %s\n", qPrintable(statement.simplified()));
                std::fflush(stdout);
                db.executeScript(statement.replace(QStringLiteral(" CONCURRENTLY"), QString()));
            }
            db.execute(QStringLiteral("UPDATE pacs..tblSchemaOnline SET done_at = 0 WHERE version = ?"), {rs.value(QStringLiteral("version"))});
        }
    });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    try {
        const ConnectionConfig config = databaseConfig(args);
        const int transactions = option(args, QStringLiteral("--transactions"), 10000000);
        const int patients = option(args, QStringLiteral("--patients"), 5000000);
        const bool blocking = args.contains(QStringLiteral("--blocking"));
        const int from = option(args, QStringLiteral("--from"), 8);
        auto db = Connection::open(config);
        if (schemaVersion(*db) > from)
            throw Error(QStringLiteral("The database is past schema version %1: give a new one.").arg(from));
        ensureSchema(*db, from);
        fillListRows(*db, transactions, patients);
        const QString backend = backendName(db->backend());

        const WriteTimes before = Writer(config, patients, 30).finish();
        const double limit = std::max(100.0, 10 * std::max(median(before.save), median(before.hospital)));
        Writer during(config, patients, 0, int(limit));
        QThread::msleep(500); // its first write, not counted, before the upgrade
        QElapsedTimer clock;
        clock.start();
        const qint64 upgradeStart = QDateTime::currentMSecsSinceEpoch();
        ensureSchema(*db);
        const double inTransaction = clock.elapsed() / 1000.0;
        if (blocking && db->backend() == Backend::PostgreSQL)
            buildInTransaction(*db);
        else
            buildOnlineIndexes(*db, [upgradeStart](const OnlineStep &step) {
                std::printf("  online, from %.1f s: %s\n", (QDateTime::currentMSecsSinceEpoch() - upgradeStart) / 1000.0,
                            qPrintable(step.statement));
                std::fflush(stdout);
            });
        const double total = clock.elapsed() / 1000.0;
        QThread::msleep(300); // the write under way when the upgrade ended
        const WriteTimes writes = during.finish();

        std::printf("%s, %d transactions, %d hospital patients%s: upgrade to version %d in %.1f s (its transaction %.2f s, "
                    "then %.1f s of index work%s)\n",
                    qPrintable(backend), transactions, patients, blocking ? " (--blocking)" : "", schemaVersion(*db), total,
                    inTransaction, total - inTransaction, blocking ? " in a transaction" : " online");
        std::printf("%s: %d writes of each kind on a second connection during the upgrade: a transaction save took at most %.1f ms "
                    "(begun %.1f s into the upgrade; median before the upgrade %.2f ms), a hospital-master write at most %.1f ms "
                    "(begun %.1f s into it; median before %.2f ms)\n",
                    qPrintable(backend), int(writes.save.size()), longest(writes.save), (writes.longestSaveStart - upgradeStart) / 1000.0,
                    median(before.save), longest(writes.hospital), (writes.longestHospitalStart - upgradeStart) / 1000.0,
                    median(before.hospital));
        if (writes.refused > 0)
            std::printf("%s: %d writes refused after waiting %.0f ms for a lock, the first with: %s\n", qPrintable(backend), writes.refused,
                        limit, qPrintable(writes.firstRefusal.simplified()));
        std::printf("%s: no write waited longer than %.0f ms for a lock during the upgrade: %s\n", qPrintable(backend), limit,
                    verdict(writes.refused == 0));
        std::fflush(stdout);
    } catch (const Error &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}
