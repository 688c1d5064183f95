#pragma once

#include "outside/Connection.h"

#include <QList>
#include <QTemporaryDir>

#include <memory>

namespace orv::test {

// The port of the PostgreSQL server the test run started, 0 when none.
int postgresPort();

// A fresh, empty department database on a backend: a new folder for SQLite, a new database on
// the test run's PostgreSQL server. The folder (and, for the server, the database) lives as long
// as the returned object.
class FreshDatabase
{
public:
    explicit FreshDatabase(Backend backend);
    ~FreshDatabase();
    const ConnectionConfig &config() const { return m_config; }

private:
    ConnectionConfig m_config;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// Adds one row per backend to a data-driven test: column "backend" (orv::Backend as int).
// PostgreSQL is required when ORV_REQUIRE_POSTGRES=1 (set by the test run for the database suites).
void addBackendRows();

} // namespace orv::test

// Fetches the "backend" column of a data-driven database test; fails when the test run should
// have started PostgreSQL and did not.
#define ORV_FETCH_BACKEND(var)                                                   \
    QFETCH(int, backend);                                                        \
    if (backend < 0)                                                             \
        QFAIL("the test run's PostgreSQL server is not running");                \
    const orv::Backend var = orv::Backend(backend)
