// Shared pieces of the database benches: options, timing, and a bulk fill that sets a table's
// indexes aside while it fills.
#pragma once

#include "outside/Connection.h"

#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace orv::bench {

inline int option(const QStringList &args, const QString &name, int fallback)
{
    const int i = int(args.indexOf(name));
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
}

inline int count(Connection &db, const QString &table)
{
    return db.query(QStringLiteral("SELECT count(*) AS n FROM %1").arg(table)).value(QStringLiteral("n")).toInt();
}

struct Timing
{
    double ms = 0;
    int rows = 0;
};

// Median time of `runs` calls of `read`, which returns the rows it read; with no runs, -1 rows.
inline Timing timed(int runs, const std::function<int()> &read)
{
    QList<double> times;
    Timing t;
    if (runs <= 0)
        return {0, -1};
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        t.rows = read();
        times << clock.nsecsElapsed() / 1e6;
    }
    std::sort(times.begin(), times.end());
    t.ms = times[times.size() / 2];
    return t;
}

// Every search is to answer within this.
constexpr double TargetMs = 50;

// Prints one search: ours beside the statement as written; returns whether ours is within the
// target.
inline bool report(const QString &what, const Timing &ours, const Timing &written)
{
    const bool met = ours.ms <= TargetMs;
    const QString beside = written.rows < 0 ? QStringLiteral("not run")
                                            : QStringLiteral("%1 rows, %2 ms").arg(written.rows).arg(written.ms, 0, 'f', 1);
    std::printf("%s: %d rows, median %.1f ms (statement as written: %s) -- %s\n", qPrintable(what), ours.rows, ours.ms, qPrintable(beside),
                met ? "met" : "NOT met");
    std::fflush(stdout);
    return met;
}

inline void summary(int missed)
{
    if (missed == 0)
        std::printf("every search within %.0f ms: met\n", TargetMs);
    else
        std::printf("%d searches over %.0f ms: NOT met\n", missed, TargetMs);
}

// Runs `fill` with the indexes of `tables` ("schema.table", as the schema names them) set aside
// and builds each again afterwards from its own definition, so the database ends as the schema
// upgrade left it: one sorted build per index instead of millions of scattered inserts. On
// SQLite, `withTriggers` sets the tables' triggers aside too (the fill then writes what they
// would); on PostgreSQL the fill sets its triggers aside itself (session_replication_role).
// Indexes that back a constraint stay.
inline void withoutIndexes(Connection &db, const QStringList &tables, bool withTriggers, const std::function<void()> &fill)
{
    QStringList rebuild;
    for (const QString &qualified : tables) {
        const QString schema = qualified.section(QLatin1Char('.'), 0, 0);
        const QString table = qualified.section(QLatin1Char('.'), 1);
        if (db.backend() == Backend::PostgreSQL) {
            RecordSet rs = db.query(QStringLiteral(
                                        "SELECT i.indexname AS name, i.indexdef AS def FROM pg_indexes i WHERE i.schemaname = lower(?) "
                                        "AND i.tablename = lower(?) AND NOT EXISTS (SELECT 1 FROM pg_constraint c "
                                        "WHERE c.conindid = (quote_ident(i.schemaname) || '.' || quote_ident(i.indexname))::regclass)"),
                                    {schema, table});
            for (; !rs.eof(); rs.moveNext()) {
                db.executeScript(QStringLiteral("DROP INDEX %1.%2;").arg(schema, rs.text(QStringLiteral("name"))));
                rebuild << rs.text(QStringLiteral("def")) + QLatin1Char(';');
            }
        } else {
            RecordSet rs = db.query(QStringLiteral("SELECT type, name, sql FROM %1.sqlite_master WHERE tbl_name = ? AND sql IS NOT NULL "
                                                   "AND (type = 'index' OR (type = 'trigger' AND ?))")
                                        .arg(schema),
                                    {table, withTriggers ? 1 : 0});
            for (; !rs.eof(); rs.moveNext()) {
                const QString type = rs.text(QStringLiteral("type"));
                const QString name = rs.text(QStringLiteral("name"));
                db.executeScript(QStringLiteral("DROP %1 %2.%3;").arg(type.toUpper(), schema, name));
                // The stored text names the object without its database: name it in its own.
                QString sql = rs.text(QStringLiteral("sql")).simplified();
                sql.replace(sql.indexOf(name), name.size(), schema + QLatin1Char('.') + name);
                rebuild << sql + QLatin1Char(';');
            }
        }
    }
    QElapsedTimer clock;
    clock.start();
    fill();
    std::printf("  rows written in %.1f s; building %d indexes and triggers again...\n", clock.elapsed() / 1000.0, int(rebuild.size()));
    std::fflush(stdout);
    clock.restart();
    if (db.backend() == Backend::PostgreSQL)
        db.executeScript(QStringLiteral("SET maintenance_work_mem = '512MB';"));
    for (const QString &sql : rebuild)
        db.executeScript(sql);
    std::printf("  built in %.1f s\n", clock.elapsed() / 1000.0);
    std::fflush(stdout);
}

} // namespace orv::bench
