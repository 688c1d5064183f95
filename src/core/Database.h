#pragma once

#include "outside/Connection.h"

#include <QStringList>

#include <memory>

namespace orv {

// The per-user data folder (embedded databases, demo image server, temporary folder).
QString perUserDataFolder();

// Which backend and server: the file <config folder>/Orvaline/database.conf, then the command
// line (--db, --db-host, --db-port, --db-name, --db-user, --data-dir). Nothing configured means
// the embedded SQLite files in the per-user data folder. The password never comes from a
// settings file: ORVALINE_DB_PASSWORD, else (PostgreSQL) libpq's own password file.
ConnectionConfig databaseConfig(const QStringList &arguments);
QString databaseConfigFile();

// Opens the department database and brings its schema up to date (every backend but SQL Server,
// whose schema the hospital's administrator installs from resources/schema/mssql).
std::unique_ptr<Connection> openDepartmentDatabase(const ConnectionConfig &config);

// Applies the schema files newer than the database's version.
void ensureSchema(Connection &db);
int schemaVersion(Connection &db);

// Seeds the demonstration rows once: hospital patients, admissions, doctors and exams, the
// department's exams, technologists and patients. Returns true when it wrote anything.
bool seedDemoData(Connection &db);

} // namespace orv
