#pragma once

#include "SqlDialect.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>

namespace orv {

// Where the department databases live. Nothing configured means the embedded SQLite files.
struct ConnectionConfig
{
    Backend backend = Backend::SQLite;
    QString dataFolder;   // SQLite: folder of the four database files
    QString host;         // PostgreSQL / SQL Server
    int port = 0;
    QString database;     // PostgreSQL database; SQL Server: the connection's current database
    QString user;
    QString password;     // never stored in the settings store
    QString odbcDriver = QStringLiteral("FreeTDS");
    int connectTimeoutSeconds = 10;
};

// The rows of one read, copied out of the database at once (the client-side cursor of the read
// idiom). Columns are found by name without case; a NULL reads as an empty text.
class RecordSet
{
public:
    RecordSet() = default;
    RecordSet(QStringList columns, QList<QVariantList> rows);

    bool bof() const { return m_rows.isEmpty() || m_pos < 0; }
    bool eof() const { return m_pos >= m_rows.size(); }
    // Both flags set: the read found nothing.
    bool isEmpty() const { return m_rows.isEmpty(); }
    void moveNext() { ++m_pos; }
    void moveFirst() { m_pos = 0; }
    int rowCount() const { return int(m_rows.size()); }
    const QStringList &columns() const { return m_columns; }

    // The current row's value as text; NULL becomes "". Dates read as MM/DD/YYYY.
    QString text(const QString &column) const;
    QString text(int column) const;
    QVariant value(const QString &column) const;
    int indexOf(const QString &column) const;

private:
    QStringList m_columns;
    QList<QVariantList> m_rows;
    int m_pos = 0;
};

// A forward-only read whose rows are fetched as the caller needs them (the transaction list).
// Values come as the read idiom gives them: NULL as an empty text, dates as MM/DD/YYYY.
class Cursor
{
public:
    Cursor(QSqlQuery query, QStringList dateColumns);
    const QStringList &columns() const { return m_columns; }
    // Reads up to `count` more rows into `rows`; false once the result is exhausted.
    bool fetch(int count, QList<QStringList> &rows);
    // Passes over up to `count` rows without reading their values; returns the rows passed.
    qint64 skip(qint64 count);
    bool atEnd() const { return m_atEnd; }

private:
    QSqlQuery m_query;
    QStringList m_columns;
    QStringList m_dates;
    bool m_atEnd = false;
};

// A read the PostgreSQL server holds open as a scrollable cursor, whose rows are taken by
// position. Values are bound by the server. In its own transaction (`ownTransaction`) the cursor
// lives in a read-only transaction begun for it: the connection must then run nothing else until
// the cursor closes. Otherwise it is declared WITH HOLD outside any transaction: the server
// computes the whole result when it opens it, and the connection's other statements and
// transactions leave it untouched. Closing it (destruction) ends it and its transaction; a
// connection already gone is not touched.
class ScrollCursor
{
public:
    ~ScrollCursor();
    ScrollCursor(const ScrollCursor &) = delete;
    ScrollCursor &operator=(const ScrollCursor &) = delete;

    // The read's column names, known from the first call of rows() on.
    const QStringList &columns() const { return m_columns; }
    // Rows `first` (from 0) to first + count - 1; fewer at the end of the result.
    QList<QStringList> rows(qint64 first, int count);

private:
    friend class Connection;
    ScrollCursor(QString connection, QString name, bool ownTransaction);
    // Runs a statement on the cursor's connection through libpq; throws orv::Error when it fails.
    void run(const QString &sql);

    QString m_connection; // the QSqlDatabase connection name, looked up at each use
    QString m_name;
    bool m_ownTransaction;
    qint64 m_position = 0; // rows before the cursor
    QStringList m_columns;
};

// The one open database connection of a workstation. Statements are written once in T-SQL with
// '?' placeholders and translated for the backend (SqlDialect.h); values are always bound.
// Every failure throws orv::Error with the database's own description.
// A Connection belongs to the thread that opened it.
class Connection
{
public:
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    static std::unique_ptr<Connection> open(const ConnectionConfig &config);

    Backend backend() const { return m_config.backend; }
    const ConnectionConfig &config() const { return m_config; }

    RecordSet query(const QString &tsql, const QVariantList &params = {});
    // Runs a write statement on its own (no transaction); returns the rows affected.
    int execute(const QString &tsql, const QVariantList &params = {});
    // Runs statements as given, without translation (schema files); stops at the first failure.
    void executeScript(const QString &script);
    // The statements of a script as executeScript() runs them: split after lines that end in ';',
    // without comment lines and "GO" lines.
    static QStringList scriptStatements(const QString &script);

    // A forward-only read left open for a caller that fetches rows as it needs them.
    std::unique_ptr<Cursor> openCursor(const QString &tsql, const QVariantList &params = {});
    // A read held open by the server (PostgreSQL only; see ScrollCursor).
    std::unique_ptr<ScrollCursor> openScrollCursor(const QString &tsql, const QVariantList &params, bool ownTransaction);

    // Runs `work` inside a transaction that holds the write lock on `table` (a T-SQL name such as
    // "pacs..tblTransNo") from its first statement, so that a read followed by a write is atomic
    // across workstations. Commits when `work` returns, rolls back when it throws.
    void runLocked(const QString &table, const std::function<void()> &work);
    // Runs `work` inside one transaction (its writes are committed together, or not at all when it
    // throws). `immediate`: on SQLite the write lock is taken at the start (a read followed by a
    // write is then atomic across workstations).
    void runInTransaction(const std::function<void()> &work, bool immediate = false);

    // Converts a value read from the database into the text the program shows.
    static QString displayText(const QVariant &value, bool dateColumn);

    QString translate(const QString &tsql, QVariantList &params) const;
    QSqlDatabase database() const;

private:
    void begin(bool immediate);
    explicit Connection(ConnectionConfig config);
    QSqlQuery run(const QString &tsql, const QVariantList &params, bool forwardOnly);
    QStringList dateColumnsOf(const QSqlQuery &query) const;
    void commitOrRollBack(const std::function<void()> &work);

    ConnectionConfig m_config;
    QString m_name;
};

} // namespace orv
