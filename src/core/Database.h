#pragma once

#include "outside/Connection.h"

#include <QStringList>

#include <functional>
#include <limits>
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

// Applies the schema files newer than the database's version (up to `upToVersion`: a database as
// an older program left it), each in the one upgrade transaction. On PostgreSQL the statements
// of a file after its line "-- Built online" are not run there: they are recorded in
// pacs.tblSchemaOnline, for buildOnlineIndexes() to run after the new version has committed.
// A database created by this call gets them at once.
void ensureSchema(Connection &db, int upToVersion = std::numeric_limits<int>::max());
int schemaVersion(Connection &db);

// One step of the online index work: statement `number` of `count` of schema version `version`;
// version 0 for the removal of an index left invalid by an interrupted build.
struct OnlineStep
{
    int version = 0;
    int number = 0;
    int count = 0;
    QString statement;
};

// Runs the online index work that schema upgrades left pending (PostgreSQL; nothing elsewhere),
// one statement at a time outside any transaction, first dropping the indexes that an
// interrupted build left invalid; each version's work is marked done once all its statements
// succeeded. Returns false, at once, when another workstation is doing this work. Throws
// orv::Error when a statement fails: the work is pending still, and the next call takes it up.
// It may run for minutes on a large database: call it on a connection of its own, off the GUI
// thread (OnlineIndexRunner).
bool buildOnlineIndexes(Connection &db, const std::function<void(const OnlineStep &)> &progress = {});

// Seeds the demonstration rows once: hospital patients, admissions, doctors and exams, the
// department's exams, technologists and patients. Returns true when it wrote anything.
bool seedDemoData(Connection &db);

} // namespace orv
