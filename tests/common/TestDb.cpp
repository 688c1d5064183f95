#include "TestDb.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

namespace orv::test {

int postgresPort()
{
    QFile f(QStringLiteral(ORV_BUILD_DIR "/peers/postgres/port"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromLatin1(f.readAll()).trimmed().toInt();
}

namespace {
void adminExec(const QString &sql)
{
    const QString name = QStringLiteral("orv-test-admin");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(postgresPort());
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setUserName(QStringLiteral("postgres"));
        if (!db.open())
            qFatal("cannot reach the test PostgreSQL server: %s", qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        if (!q.exec(sql))
            qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
} // namespace

FreshDatabase::FreshDatabase(Backend backend)
{
    m_config.backend = backend;
    if (backend == Backend::SQLite) {
        m_dir = std::make_unique<QTemporaryDir>();
        m_config.dataFolder = m_dir->path();
    } else {
        m_config.host = QStringLiteral("127.0.0.1");
        m_config.port = postgresPort();
        m_config.user = QStringLiteral("postgres");
        m_config.database = QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128).left(16);
        adminExec(QStringLiteral("CREATE DATABASE ") + m_config.database);
    }
}

FreshDatabase::~FreshDatabase()
{
    if (m_config.backend == Backend::PostgreSQL)
        adminExec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_config.database));
}

void addBackendRows()
{
    QTest::addColumn<int>("backend");
    QTest::newRow("sqlite") << int(Backend::SQLite);
    if (postgresPort() > 0)
        QTest::newRow("postgres") << int(Backend::PostgreSQL);
    else if (qEnvironmentVariable("ORV_REQUIRE_POSTGRES") == QLatin1String("1"))
        QTest::newRow("postgres-missing") << -1;
}

} // namespace orv::test
