#include "Connection.h"

#include "PrivateFiles.h"

#include "Error.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlResult>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <vector>

namespace orv {

namespace {

QString describe(const QSqlError &e)
{
    QString text = e.databaseText().trimmed();
    if (text.isEmpty())
        text = e.driverText().trimmed();
    if (text.isEmpty())
        text = e.text().trimmed();
    return text;
}

const QStringList &sqliteDatabases()
{
    static const QStringList names = {QStringLiteral("pacs"), QStringLiteral("Patient_Data"),
                                      QStringLiteral("build_file"), QStringLiteral("DICOM")};
    return names;
}

// The statement with its '?' placeholders numbered $1, $2, ... as the server's own binding wants
// them; quoted text and names are left as they are.
QString numberedPlaceholders(const QString &sql)
{
    QString out;
    out.reserve(sql.size() + 16);
    QChar quote;
    int n = 0;
    for (const QChar c : sql) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char('?')) {
            out += QLatin1Char('$') + QString::number(++n);
            continue;
        }
        out += c;
    }
    return out;
}

// A bound value as the server reads it in text form.
QByteArray serverText(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::QDate:
        return v.toDate().toString(Qt::ISODate).toLatin1();
    case QMetaType::QDateTime:
        return v.toDateTime().toString(Qt::ISODateWithMs).toLatin1();
    case QMetaType::Bool:
        return v.toBool() ? "true" : "false";
    case QMetaType::QByteArray:
        return v.toByteArray();
    default:
        return v.toString().toUtf8();
    }
}

} // namespace

RecordSet::RecordSet(QStringList columns, QList<QVariantList> rows)
    : m_columns(std::move(columns)), m_rows(std::move(rows))
{}

int RecordSet::indexOf(const QString &column) const
{
    for (int i = 0; i < m_columns.size(); ++i)
        if (m_columns[i].compare(column, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant RecordSet::value(const QString &column) const
{
    const int i = indexOf(column);
    if (i < 0)
        throw Error(QStringLiteral("Item cannot be found in the collection corresponding to the requested name or ordinal: %1").arg(column));
    if (eof() || m_pos < 0)
        throw Error(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted."));
    return m_rows[m_pos][i];
}

QString RecordSet::text(const QString &column) const
{
    const QVariant v = value(column);
    return v.isNull() ? QString() : v.toString();
}

QString RecordSet::text(int column) const
{
    if (eof() || column < 0 || column >= m_columns.size())
        return {};
    const QVariant &v = m_rows[m_pos][column];
    return v.isNull() ? QString() : v.toString();
}

Connection::Connection(ConnectionConfig config) : m_config(std::move(config))
{
    static QAtomicInt counter;
    m_name = QStringLiteral("orv-connection-%1").arg(counter.fetchAndAddRelaxed(1));
}

Connection::~Connection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase Connection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

std::unique_ptr<Connection> Connection::open(const ConnectionConfig &config)
{
    std::unique_ptr<Connection> c(new Connection(config));
    switch (config.backend) {
    case Backend::SQLite: {
        QDir dir(config.dataFolder);
        if (config.dataFolder.isEmpty() || !makePrivateFolder(config.dataFolder))
            throw Error(QStringLiteral("Cannot open the database folder \"%1\".").arg(config.dataFolder));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), c->m_name);
        db.setDatabaseName(QStringLiteral(":memory:"));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            throw Error(QStringLiteral("Cannot open the embedded database: %1").arg(describe(db.lastError())));
        for (const QString &name : sqliteDatabases()) {
            const QString file = dir.filePath(name + QStringLiteral(".sqlite"));
            const QFileInfo info(file);
            if (info.exists() && (!info.isFile() || !info.isReadable()))
                throw Error(QStringLiteral("Cannot open the database file \"%1\": it is not a readable file.").arg(file));
            // Patients and password hashes: the file (and the journal SQLite derives from its
            // mode) for the user only.
            if (!makePrivateFile(file))
                throw Error(QStringLiteral("Cannot create the database file \"%1\".").arg(file));
            QSqlQuery q(db);
            q.prepare(QStringLiteral("ATTACH DATABASE ? AS %1").arg(name));
            q.addBindValue(file);
            if (!q.exec())
                throw Error(QStringLiteral("Cannot open the database file \"%1\": %2").arg(file, describe(q.lastError())));
            // Touching the schema reads the file header: a file that is not a database fails here.
            if (!q.exec(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(name)))
                throw Error(QStringLiteral("Cannot open the database file \"%1\": %2").arg(file, describe(q.lastError())));
            // A page cache of up to 64 MiB a file (2 MiB by default): a name prefix of ten million
            // transactions reads some 5,500 scattered pages, 74 ms a search when each is read
            // from the system again, 22 ms from the cache.
            if (!q.exec(QStringLiteral("PRAGMA %1.journal_mode=WAL").arg(name)) || !q.exec(QStringLiteral("PRAGMA %1.cache_size=-65536").arg(name)))
                throw Error(QStringLiteral("Cannot open the database file \"%1\": %2").arg(file, describe(q.lastError())));
        }
        break;
    }
    case Backend::PostgreSQL: {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), c->m_name);
        db.setHostName(config.host.isEmpty() ? QStringLiteral("localhost") : config.host);
        if (config.port > 0)
            db.setPort(config.port);
        db.setDatabaseName(config.database.isEmpty() ? QStringLiteral("orvaline") : config.database);
        db.setUserName(config.user);
        db.setPassword(config.password);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(qMax(1, config.connectTimeoutSeconds)));
        if (!db.open())
            throw Error(QStringLiteral("Cannot connect to the PostgreSQL server %1:%2: %3")
                            .arg(db.hostName()).arg(config.port > 0 ? config.port : 5432).arg(describe(db.lastError())));
        QSqlQuery q(db);
        // A workstation's reads are short and the server is shared: starting parallel workers
        // costs more than they save (an out-patient search of five million patients took
        // 120 ms with two workers, 6 ms without).
        if (!q.exec(QStringLiteral("SET search_path TO pacs, public")) || !q.exec(QStringLiteral("SET DateStyle TO 'ISO, MDY'"))
            || !q.exec(QStringLiteral("SET max_parallel_workers_per_gather TO 0")))
            throw Error(QStringLiteral("Cannot prepare the PostgreSQL session: %1").arg(describe(q.lastError())));
        break;
    }
    case Backend::SqlServer: {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), c->m_name);
        QString cs = QStringLiteral("DRIVER={%1};SERVER=%2;PORT=%3;DATABASE=%4;TDS_Version=7.4;ClientCharset=UTF-8")
                         .arg(config.odbcDriver, config.host)
                         .arg(config.port > 0 ? config.port : 1433)
                         .arg(config.database.isEmpty() ? QStringLiteral("pacs") : config.database);
        db.setDatabaseName(cs);
        db.setUserName(config.user);
        db.setPassword(config.password);
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%1").arg(qMax(1, config.connectTimeoutSeconds)));
        if (!db.open())
            throw Error(QStringLiteral("Cannot connect to the SQL Server %1: %2").arg(config.host, describe(db.lastError())));
        break;
    }
    }
    return c;
}

QString Connection::translate(const QString &tsql, QVariantList &params) const
{
    return translateSql(tsql, m_config.backend, params);
}

QSqlQuery Connection::run(const QString &tsql, const QVariantList &params, bool forwardOnly)
{
    QSqlDatabase db = database();
    if (!db.isOpen())
        throw Error(QStringLiteral("The database connection is closed."));
    QVariantList values = params;
    const QString sql = translate(tsql, values);
    static const bool trace = qEnvironmentVariableIsSet("ORVALINE_SQL_TRACE");
    if (trace)
        qInfo("SQL: %s", qPrintable(sql));
    QSqlQuery q(db);
    q.setForwardOnly(forwardOnly);
    if (values.isEmpty()) {
        // Nothing to bind: run as is (PostgreSQL cannot prepare every statement, DDL among them).
        if (!q.exec(sql))
            throw Error(describe(q.lastError()));
        return q;
    }
    if (!q.prepare(sql))
        throw Error(describe(q.lastError()));
    for (const QVariant &v : std::as_const(values))
        q.addBindValue(v);
    if (!q.exec())
        throw Error(describe(q.lastError()));
    return q;
}

QStringList Connection::dateColumnsOf(const QSqlQuery &query) const
{
    // SQLite keeps dates as ISO text; the declared type of the result column tells them apart.
    QStringList result;
    if (m_config.backend != Backend::SQLite)
        return result;
    const QVariant handle = query.result() ? query.result()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3_stmt*") != 0)
        return result;
    auto *stmt = *static_cast<sqlite3_stmt *const *>(handle.constData());
    if (!stmt)
        return result;
    const int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
        const char *decl = sqlite3_column_decltype(stmt, i);
        const QByteArray type = QByteArray(decl ? decl : "").toLower();
        result << (type.startsWith("date") ? QString::fromLatin1(type) : QString());
    }
    return result;
}

QString Connection::displayText(const QVariant &value, bool dateColumn)
{
    if (value.isNull())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::QDate:
        return value.toDate().toString(QStringLiteral("MM/dd/yyyy"));
    case QMetaType::QDateTime: {
        const QDateTime dt = value.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.date().toString(QStringLiteral("MM/dd/yyyy"));
        return dt.toString(QStringLiteral("MM/dd/yyyy h:mm:ss AP"));
    }
    default:
        break;
    }
    const QString text = value.toString();
    if (dateColumn) {
        // SQLite keeps dates as ISO text: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS".
        if (const QDate d = QDate::fromString(text, Qt::ISODate); d.isValid())
            return displayText(d, false);
        if (const QDateTime dt = QDateTime::fromString(text.left(19), Qt::ISODate); dt.isValid())
            return displayText(dt, false);
    }
    return text;
}

RecordSet Connection::query(const QString &tsql, const QVariantList &params)
{
    QSqlQuery q = run(tsql, params, true);
    const QSqlRecord rec = q.record();
    QStringList columns;
    for (int i = 0; i < rec.count(); ++i)
        columns << rec.fieldName(i);
    const QStringList dates = dateColumnsOf(q);
    QList<QVariantList> rows;
    while (q.next()) {
        QVariantList row;
        row.reserve(columns.size());
        for (int i = 0; i < columns.size(); ++i) {
            const QVariant v = q.value(i);
            const bool isDate = i < dates.size() && !dates[i].isEmpty();
            if (v.isNull())
                row << QVariant();
            else if (isDate || v.metaType().id() == QMetaType::QDate || v.metaType().id() == QMetaType::QDateTime)
                row << displayText(v, isDate);
            else
                row << v;
        }
        rows << row;
    }
    if (q.lastError().isValid())
        throw Error(describe(q.lastError()));
    return RecordSet(columns, rows);
}

int Connection::execute(const QString &tsql, const QVariantList &params)
{
    QSqlQuery q = run(tsql, params, true);
    return q.numRowsAffected();
}

std::unique_ptr<Cursor> Connection::openCursor(const QString &tsql, const QVariantList &params)
{
    QSqlQuery q = run(tsql, params, true);
    QStringList dates = dateColumnsOf(q);
    return std::make_unique<Cursor>(std::move(q), std::move(dates));
}

namespace {
// The libpq connection under the Qt connection `name`; throws orv::Error when it is not open.
PGconn *libpqConnection(const QString &name)
{
    const QSqlDatabase db = QSqlDatabase::database(name, false);
    if (!db.isValid() || !db.isOpen())
        throw Error(QStringLiteral("The database connection is closed."));
    const QVariant handle = db.driver()->handle();
    // The driver's handle is a PGconn*, which Qt names after its struct.
    const bool pgconn = qstrcmp(handle.typeName(), "PGconn*") == 0 || qstrcmp(handle.typeName(), "pg_conn*") == 0;
    if (!handle.isValid() || !pgconn || !*static_cast<PGconn *const *>(handle.constData()))
        throw Error(QStringLiteral("The database connection is closed."));
    return *static_cast<PGconn *const *>(handle.constData());
}

using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

// Runs `sql` on `pg` with the server binding `values` (nullptr for NULL) to $1, $2, ...; throws
// orv::Error with the server's description when it fails. Without values it goes as one simple
// query message (a list's FETCH of each part).
PgResult pgExec(PGconn *pg, const QString &sql, const std::vector<const char *> &values = {})
{
    const QByteArray text = sql.toUtf8();
    PgResult result(values.empty() ? PQexec(pg, text.constData())
                                   : PQexecParams(pg, text.constData(), int(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
                    &PQclear);
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw Error(QString::fromUtf8(PQerrorMessage(pg)).trimmed());
    return result;
}
} // namespace

std::unique_ptr<ScrollCursor> Connection::openScrollCursor(const QString &tsql, const QVariantList &params, bool ownTransaction)
{
    if (m_config.backend != Backend::PostgreSQL)
        throw Error(QStringLiteral("A scrollable read needs a PostgreSQL server."));
    PGconn *pg = libpqConnection(m_name);
    QVariantList values = params;
    const QString sql = translate(tsql, values);
    static QAtomicInt counter;
    const QString name = QStringLiteral("orv_rows_%1").arg(counter.fetchAndAddRelaxed(1));
    std::unique_ptr<ScrollCursor> cursor(new ScrollCursor(m_name, name, ownTransaction));
    if (ownTransaction) {
        cursor->run(QStringLiteral("BEGIN READ ONLY"));
        // The server plans a cursor for its first tenth of the rows, and compiles the plan of a
        // large read before its first rows; a list shows its first screen at once and is seldom
        // scrolled far: plan for its first rows, without compiling. orv_bench_list --transactions
        // 200000 --patients 100000 on PostgreSQL, department register, first screen of the empty
        // search: 342 ms as the server plans it, 267 ms planned for the first rows, 47-51 ms
        // without compiling as well.
        cursor->run(QStringLiteral("SET LOCAL cursor_tuple_fraction = 0.1"));
        cursor->run(QStringLiteral("SET LOCAL jit = off"));
    }
    // The driver binds by preparing the statement, and PostgreSQL prepares no DECLARE: the
    // declaration goes to libpq, which has the server bind the values.
    const QString declare = QStringLiteral("DECLARE %1 SCROLL CURSOR %2FOR %3")
                                .arg(name, ownTransaction ? QString() : QStringLiteral("WITH HOLD "), numberedPlaceholders(sql));
    static const bool trace = qEnvironmentVariableIsSet("ORVALINE_SQL_TRACE");
    if (trace)
        qInfo("SQL: %s", qPrintable(declare));
    std::vector<QByteArray> texts;
    std::vector<const char *> bound;
    texts.reserve(values.size());
    for (const QVariant &v : std::as_const(values)) {
        texts.push_back(v.isNull() ? QByteArray() : serverText(v));
        bound.push_back(v.isNull() ? nullptr : texts.back().constData());
    }
    pgExec(pg, declare, bound);
    return cursor;
}

ScrollCursor::ScrollCursor(QString connection, QString name, bool ownTransaction)
    : m_connection(std::move(connection)), m_name(std::move(name)), m_ownTransaction(ownTransaction)
{}

ScrollCursor::~ScrollCursor()
{
    try {
        run(m_ownTransaction ? QStringLiteral("ROLLBACK") : QStringLiteral("CLOSE ") + m_name);
    } catch (const Error &) {
        // The connection is gone, and the cursor with it.
    }
}

void ScrollCursor::run(const QString &sql)
{
    pgExec(libpqConnection(m_connection), sql);
}

QList<QStringList> ScrollCursor::rows(qint64 first, int count)
{
    if (first != m_position) {
        run(QStringLiteral("MOVE ABSOLUTE %1 FROM %2").arg(first).arg(m_name));
        m_position = first;
    }
    // Straight through libpq: through the driver each part took nearly three times as long
    // (75 us more a part, a quarter of the time to read a prefix's 5,500 rows).
    const PgResult part = pgExec(libpqConnection(m_connection), QStringLiteral("FETCH FORWARD %1 FROM %2").arg(count).arg(m_name));
    // Values as the driver gives them to Connection::displayText(): dates and times as such
    // (the server's text is ISO), booleans as true and false, the rest as text.
    constexpr Oid boolType = 16, dateType = 1082, timestampType = 1114, timestampTzType = 1184;
    const int columns = PQnfields(part.get());
    m_columns.clear();
    QList<bool> dates, booleans;
    for (int c = 0; c < columns; ++c) {
        m_columns << QString::fromUtf8(PQfname(part.get(), c));
        const Oid type = PQftype(part.get(), c);
        dates << (type == dateType || type == timestampType || type == timestampTzType);
        booleans << (type == boolType);
    }
    QList<QStringList> rows;
    const int found = PQntuples(part.get());
    rows.reserve(found);
    for (int r = 0; r < found; ++r) {
        QStringList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            if (PQgetisnull(part.get(), r, c)) {
                row << QString();
                continue;
            }
            const QString text = QString::fromUtf8(PQgetvalue(part.get(), r, c), PQgetlength(part.get(), r, c));
            if (booleans[c])
                row << (text == QLatin1String("t") ? QStringLiteral("true") : QStringLiteral("false"));
            else
                row << (dates[c] ? Connection::displayText(text, true) : text);
        }
        rows << row;
    }
    m_position += rows.size();
    return rows;
}

Cursor::Cursor(QSqlQuery query, QStringList dateColumns) : m_query(std::move(query)), m_dates(std::move(dateColumns))
{
    const QSqlRecord rec = m_query.record();
    for (int i = 0; i < rec.count(); ++i)
        m_columns << rec.fieldName(i);
}

bool Cursor::fetch(int count, QList<QStringList> &rows)
{
    for (int n = 0; n < count && !m_atEnd; ++n) {
        if (!m_query.next()) {
            m_atEnd = true;
            if (m_query.lastError().isValid())
                throw Error(describe(m_query.lastError()));
            break;
        }
        QStringList row;
        row.reserve(m_columns.size());
        for (int i = 0; i < m_columns.size(); ++i)
            row << Connection::displayText(m_query.value(i), i < m_dates.size() && !m_dates[i].isEmpty());
        rows << row;
    }
    return !m_atEnd;
}

qint64 Cursor::skip(qint64 count)
{
    qint64 passed = 0;
    while (passed < count && !m_atEnd) {
        if (!m_query.next()) {
            m_atEnd = true;
            if (m_query.lastError().isValid())
                throw Error(describe(m_query.lastError()));
            break;
        }
        ++passed;
    }
    return passed;
}

void Connection::begin(bool immediate)
{
    // SQLite takes its write lock at the first write unless asked at the start; the drivers'
    // own transaction start cannot ask.
    if (immediate && m_config.backend == Backend::SQLite) {
        execute(QStringLiteral("BEGIN IMMEDIATE"));
        return;
    }
    QSqlDatabase db = database();
    if (!db.transaction())
        throw Error(QStringLiteral("Cannot start a transaction: %1").arg(db.lastError().text()));
}

void Connection::runLocked(const QString &table, const std::function<void()> &work)
{
    QVariantList none;
    const QString name = translate(table, none);
    begin(true);
    commitOrRollBack([&] {
        if (m_config.backend == Backend::PostgreSQL)
            execute(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE").arg(name));
        else if (m_config.backend == Backend::SqlServer)
            execute(QStringLiteral("SELECT COUNT(*) FROM %1 WITH (TABLOCKX, HOLDLOCK)").arg(name));
        work();
    });
}

void Connection::runInTransaction(const std::function<void()> &work, bool immediate)
{
    begin(immediate);
    commitOrRollBack(work);
}

void Connection::commitOrRollBack(const std::function<void()> &work)
{
    QSqlDatabase db = database();
    try {
        work();
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QString why = db.lastError().text();
        db.rollback();
        throw Error(QStringLiteral("Cannot commit: %1").arg(why));
    }
}

QStringList Connection::scriptStatements(const QString &script)
{
    QStringList statements;
    QString statement;
    const auto lines = script.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("--")) || trimmed.compare(QLatin1String("GO"), Qt::CaseInsensitive) == 0)
            continue;
        statement += line + QLatin1Char('\n');
        if (trimmed.endsWith(QLatin1Char(';'))) {
            statements << statement;
            statement.clear();
        }
    }
    if (!statement.trimmed().isEmpty())
        statements << statement;
    return statements;
}

void Connection::executeScript(const QString &script)
{
    QSqlDatabase db = database();
    for (const QString &statement : scriptStatements(script)) {
        QSqlQuery q(db);
        if (!q.exec(statement))
            throw Error(QStringLiteral("%1 (in: %2)").arg(describe(q.lastError()), statement.trimmed().left(200)));
    }
}

} // namespace orv
