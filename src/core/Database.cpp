#include "Database.h"

#include "outside/PrivateFiles.h"

#include "outside/Error.h"

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

void ensureSchema(Connection &db)
{
    initCoreResources();
    const QDir dir(schemaFolder(db.backend()));
    const QStringList files = dir.entryList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        throw Error(QStringLiteral("The database schema files are missing from this build."));
    auto versionOf = [](const QString &file) { return file.section(QLatin1Char('_'), 0, 0).toInt(); };
    const int latest = files.isEmpty() ? 0 : versionOf(files.last());
    if (schemaVersion(db) >= latest)
        return;
    // Workstations starting at once on a new database: one creates the schema, the others wait.
    db.runInTransaction(
        [&] {
            if (db.backend() == Backend::PostgreSQL)
                db.execute(QStringLiteral("SELECT pg_advisory_xact_lock(704211)"));
            const int current = schemaVersion(db);
            for (const QString &name : files) {
                if (versionOf(name) <= current)
                    continue;
                QFile f(dir.filePath(name));
                if (!f.open(QIODevice::ReadOnly))
                    throw Error(QStringLiteral("Cannot read the schema file %1.").arg(name));
                try {
                    db.executeScript(QString::fromUtf8(f.readAll()));
                } catch (const Error &e) {
                    throw Error(QStringLiteral("Cannot create the database schema (%1): %2").arg(name, e.description()));
                }
            }
        },
        true);
}

} // namespace orv
