#include "Database.h"

#include "outside/PrivateFiles.h"

#include "outside/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

// The schema files are compiled into this static library; their registration must not be dropped.
static void initCoreResources()
{
    Q_INIT_RESOURCE(core);
}

namespace orv {

QString perUserDataFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Orvaline"));
}

QString databaseConfigFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("Orvaline/database.conf"));
}

namespace {
QString optionValue(const QStringList &args, const QString &name)
{
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == name && i + 1 < args.size())
            return args[i + 1];
        if (args[i].startsWith(name + QLatin1Char('=')))
            return args[i].mid(name.size() + 1);
    }
    return {};
}

Backend parseBackend(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t.isEmpty() || t == QLatin1String("sqlite"))
        return Backend::SQLite;
    if (t == QLatin1String("postgres") || t == QLatin1String("postgresql") || t == QLatin1String("pg"))
        return Backend::PostgreSQL;
    if (t == QLatin1String("sqlserver") || t == QLatin1String("mssql") || t == QLatin1String("odbc"))
        return Backend::SqlServer;
    throw Error(QStringLiteral("Unknown database backend \"%1\" (use sqlite, postgres or sqlserver).").arg(text));
}

int parsePort(const QString &text)
{
    if (text.trimmed().isEmpty())
        return 0;
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port <= 0 || port > 65535)
        throw Error(QStringLiteral("The database port \"%1\" is not a port number.").arg(text));
    return port;
}
} // namespace

ConnectionConfig databaseConfig(const QStringList &arguments)
{
    QSettings file(databaseConfigFile(), QSettings::IniFormat);
    auto pick = [&](const QString &option, const QString &key) {
        const QString fromArgs = optionValue(arguments, option);
        return fromArgs.isEmpty() ? file.value(QStringLiteral("database/") + key).toString() : fromArgs;
    };
    ConnectionConfig c;
    c.backend = parseBackend(pick(QStringLiteral("--db"), QStringLiteral("backend")));
    c.host = pick(QStringLiteral("--db-host"), QStringLiteral("host"));
    c.port = parsePort(pick(QStringLiteral("--db-port"), QStringLiteral("port")));
    c.database = pick(QStringLiteral("--db-name"), QStringLiteral("name"));
    c.user = pick(QStringLiteral("--db-user"), QStringLiteral("user"));
    c.dataFolder = pick(QStringLiteral("--data-dir"), QStringLiteral("data_folder"));
    if (c.dataFolder.isEmpty()) {
        makePrivateFolder(perUserDataFolder()); // its own and its neighbours' data are the user's alone
        c.dataFolder = QDir(perUserDataFolder()).filePath(QStringLiteral("databases"));
    }
    const QString timeout = file.value(QStringLiteral("database/connect_timeout")).toString();
    if (!timeout.isEmpty())
        c.connectTimeoutSeconds = qBound(1, timeout.toInt(), 120);
    c.password = qEnvironmentVariable("ORVALINE_DB_PASSWORD");
    const QString driver = file.value(QStringLiteral("database/odbc_driver")).toString();
    if (!driver.isEmpty())
        c.odbcDriver = driver;
    return c;
}

std::unique_ptr<Connection> openDepartmentDatabase(const ConnectionConfig &config)
{
    auto db = Connection::open(config);
    if (config.backend != Backend::SqlServer)
        ensureSchema(*db);
    return db;
}

namespace {
QString schemaFolder(Backend backend)
{
    switch (backend) {
    case Backend::SQLite: return QStringLiteral(":/schema/sqlite");
    case Backend::PostgreSQL: return QStringLiteral(":/schema/postgres");
    case Backend::SqlServer: return QStringLiteral(":/schema/mssql");
    }
    return {};
}

bool schemaPresent(Connection &db)
{
    if (db.backend() == Backend::SQLite)
        return !db.query(QStringLiteral("SELECT name FROM pacs.sqlite_master WHERE type = 'table' AND name = 'tblSchemaVersion'")).isEmpty();
    return !db.query(QStringLiteral("SELECT table_name FROM information_schema.tables "
                                    "WHERE table_schema = 'pacs' AND table_name = 'tblschemaversion'")).isEmpty();
}
} // namespace

int schemaVersion(Connection &db)
{
    if (!schemaPresent(db))
        return 0;
    RecordSet rs = db.query(QStringLiteral("SELECT max(version) AS version FROM pacs..tblSchemaVersion"));
    return rs.isEmpty() ? 0 : rs.text(QStringLiteral("version")).toInt();
}

namespace {
// The session-level lock of the workstation that runs the online index work (the upgrade's own
// transaction-level lock is 704211).
constexpr int onlineWorkLock = 704212;

// A schema file's statements before the line "-- Built online" and after it.
std::pair<QString, QString> splitAtOnlinePart(const QString &text)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == QLatin1String("-- Built online"))
            return {lines.mid(0, i).join(QLatin1Char('\n')), lines.mid(i + 1).join(QLatin1Char('\n'))};
    }
    return {text, QString()};
}

bool onlineWorkTablePresent(Connection &db)
{
    return db.query(QStringLiteral("SELECT to_regclass('pacs.tblschemaonline') IS NOT NULL AS present")).value(QStringLiteral("present")).toBool();
}
} // namespace

void ensureSchema(Connection &db, int upToVersion)
{
    initCoreResources();
    const QDir dir(schemaFolder(db.backend()));
    auto versionOf = [](const QString &file) { return file.section(QLatin1Char('_'), 0, 0).toInt(); };
    QStringList files = dir.entryList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        throw Error(QStringLiteral("The database schema files are missing from this build."));
    files.removeIf([&](const QString &file) { return versionOf(file) > upToVersion; });
    const int latest = files.isEmpty() ? 0 : versionOf(files.last());
    if (schemaVersion(db) >= latest)
        return;
    const bool server = db.backend() == Backend::PostgreSQL;
    bool created = false;
    // Workstations starting at once on a new database: one creates the schema, the others wait.
    db.runInTransaction(
        [&] {
            if (server)
                db.execute(QStringLiteral("SELECT pg_advisory_xact_lock(704211)"));
            const int current = schemaVersion(db);
            created = current == 0;
            for (const QString &name : files) {
                if (versionOf(name) <= current)
                    continue;
                QFile f(dir.filePath(name));
                if (!f.open(QIODevice::ReadOnly))
                    throw Error(QStringLiteral("Cannot read the schema file %1.").arg(name));
                // On the embedded files the online part runs in the transaction too: there is no
                // other workstation to keep working.
                const auto [inTransaction, online] = server ? splitAtOnlinePart(QString::fromUtf8(f.readAll()))
                                                            : std::pair(QString::fromUtf8(f.readAll()), QString());
                try {
                    db.executeScript(inTransaction);
                    if (!Connection::scriptStatements(online).isEmpty())
                        db.execute(QStringLiteral("INSERT INTO pacs..tblSchemaOnline(version, statements) VALUES(?, ?)"),
                                   {versionOf(name), online});
                } catch (const Error &e) {
                    throw Error(QStringLiteral("Cannot create the database schema (%1): %2").arg(name, e.description()));
                }
            }
        },
        true);
    // A database created just now has empty tables: its indexes are built before anyone uses it.
    // Should that fail, the work stays pending for the online runner of a later start.
    if (created && server) {
        try {
            buildOnlineIndexes(db);
        } catch (const Error &) {
        }
    }
}

bool buildOnlineIndexes(Connection &db, const std::function<void(const OnlineStep &)> &progress)
{
    if (db.backend() != Backend::PostgreSQL || !onlineWorkTablePresent(db))
        return true;
    const QString pendingWork = QStringLiteral("SELECT version, statements FROM pacs..tblSchemaOnline WHERE done_at IS NULL ORDER BY version");
    if (db.query(pendingWork).isEmpty())
        return true;
    if (!db.query(QStringLiteral("SELECT pg_try_advisory_lock(%1) AS got").arg(onlineWorkLock)).value(QStringLiteral("got")).toBool())
        return false;
    struct Unlock
    {
        Connection &db;
        ~Unlock()
        {
            try {
                db.query(QStringLiteral("SELECT pg_advisory_unlock(%1) AS done").arg(onlineWorkLock));
            } catch (const Error &) {
                // The connection is gone, and the lock with it.
            }
        }
    } unlock{db};
    // A build whose workstation has gone is cancelled by the server, instead of running to its
    // end and holding the lock meanwhile (PostgreSQL 14 and later; older servers build on).
    try {
        db.executeScript(QStringLiteral("SET client_connection_check_interval = '5s';"));
    } catch (const Error &) {
    }
    // What an interrupted CONCURRENTLY build or drop left behind: an index marked invalid, which
    // IF NOT EXISTS would take as built. Only the holder of the lock builds, so none is in progress.
    for (RecordSet rs = db.query(QStringLiteral("SELECT quote_ident(n.nspname) || '.' || quote_ident(c.relname) AS name "
                                                "FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                                "JOIN pg_namespace n ON n.oid = c.relnamespace WHERE NOT i.indisvalid "
                                                "AND n.nspname IN ('pacs', 'patient_data', 'build_file', 'dicom')"));
         !rs.eof(); rs.moveNext()) {
        const QString drop = QStringLiteral("DROP INDEX CONCURRENTLY IF EXISTS %1;").arg(rs.text(QStringLiteral("name")));
        if (progress)
            progress({0, 0, 0, drop});
        db.executeScript(drop);
    }
    // Read again under the lock: another workstation may have completed some meanwhile.
    for (RecordSet rs = db.query(pendingWork); !rs.eof(); rs.moveNext()) {
        const int version = rs.value(QStringLiteral("version")).toInt();
        const QStringList statements = Connection::scriptStatements(rs.text(QStringLiteral("statements")));
        for (int i = 0; i < statements.size(); ++i) {
            if (progress)
                progress({version, i + 1, int(statements.size()), statements[i].simplified()});
            db.executeScript(statements[i]);
        }
        db.execute(QStringLiteral("UPDATE pacs..tblSchemaOnline SET done_at = ? WHERE version = ?"),
                   {QDateTime::currentMSecsSinceEpoch(), version});
    }
    return true;
}

} // namespace orv
