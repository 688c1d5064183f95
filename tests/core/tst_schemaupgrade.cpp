// Schema upgrades on the shared server: the index work of an upgrade runs online, after the new
// version has committed, while the other workstations start and save; an interrupted build is
// mended by the next start.
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "core/OnlineIndexRunner.h"
#include "core/SharedState.h"
#include "outside/Error.h"

#include <QTest>
#include <QThread>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

class tst_SchemaUpgrade : public QObject
{
    Q_OBJECT
private:
    // "valid", "invalid" or "" (no such index), then its definition.
    static QStringList indexState(Connection &db, const QString &name)
    {
        RecordSet rs = db.query("SELECT CASE WHEN i.indisvalid THEN 'valid' ELSE 'invalid' END AS state, "
                                "pg_get_indexdef(i.indexrelid) AS def FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid "
                                "WHERE c.relname = lower(?)",
                                {name});
        return rs.isEmpty() ? QStringList{QString(), QString()} : QStringList{rs.text("state"), rs.text("def")};
    }
    static int pendingVersions(Connection &db)
    {
        return db.query("SELECT count(*) AS n FROM pacs..tblSchemaOnline WHERE done_at IS NULL").value("n").toInt();
    }
    // The session of the online build of the list-order index, while it waits for a lock.
    static const QString waitingBuild()
    {
        return u"FROM pg_stat_activity WHERE datname = current_database() AND wait_event_type = 'Lock' "
               "AND position('ix_tbMaster_list_order' in query) > 0"_s;
    }
    // The list-order index built and the old one gone, nothing pending, at `version`.
    static void checkUpgraded(Connection &db, int version)
    {
        const QStringList listOrder = indexState(db, "ix_tbMaster_list_order");
        QCOMPARE(listOrder.at(0), u"valid"_s);
        QVERIFY2(listOrder.at(1).endsWith("(lastname NULLS FIRST, firstname NULLS FIRST, middlename NULLS FIRST)"),
                 qPrintable(listOrder.at(1)));
        QCOMPARE(indexState(db, "ix_tbMaster_name").at(0), QString());
        QCOMPARE(pendingVersions(db), 0);
        QCOMPARE(schemaVersion(db), version);
    }

private slots:
    void initTestCase()
    {
        if (postgresPort() == 0) {
            QVERIFY2(qEnvironmentVariable("ORV_REQUIRE_POSTGRES") != "1", "the test run's PostgreSQL server is not running");
            QSKIP("no PostgreSQL server in this run");
        }
    }

    void newDatabaseHasItsOnlineIndexesAtOnce()
    {
        FreshDatabase fresh(Backend::PostgreSQL);
        auto db = openDepartmentDatabase(fresh.config());
        checkUpgraded(*db, schemaVersion(*db));
        QVERIFY(schemaVersion(*db) >= 9);
    }

    // While one workstation builds the new index online, another starts at once, saves
    // transactions and the hospital's system writes the indexed table, none waiting for the
    // build. The builder dies halfway, leaving an invalid index; the next start mends it.
    void onlineBuildLetsOthersWorkAndSurvivesItsWorkstation()
    {
        FreshDatabase fresh(Backend::PostgreSQL);
        QString upgradeError;
        std::unique_ptr<QThread> upgrader; // goes after the connections, whose locks it may wait for
        auto hospital = Connection::open(fresh.config());
        ensureSchema(*hospital, 8);
        hospital->executeScript("INSERT INTO patient_data.tbMaster(HospNum, LastName, FirstName) SELECT 'H' || i, "
                                "CASE WHEN i % 10 = 0 THEN NULL ELSE 'LN' || (i % 37) END, 'FN' || i FROM generate_series(1, 2000) AS i;"
                                "INSERT INTO pacs.tblTransaction(trans_no, hospnum) SELECT 'T' || i, 'H' || i FROM generate_series(1, 2000) AS i;");
        // An open write of the hospital's system: the online build waits for it to end.
        QVERIFY(hospital->database().transaction());
        hospital->execute("UPDATE Patient_Data..tbMaster SET FirstName = ? WHERE HospNum = ?", {"X", "H1"});

        upgrader.reset(QThread::create([&] {
            try {
                auto db = Connection::open(fresh.config());
                ensureSchema(*db, 9);
                buildOnlineIndexes(*db);
            } catch (const Error &e) {
                upgradeError = e.description();
            }
        }));
        upgrader->start();
        auto other = Connection::open(fresh.config());
        QTRY_VERIFY_WITH_TIMEOUT(!other->query("SELECT pid " + waitingBuild()).isEmpty(), 30000);

        auto second = Connection::open(fresh.config());
        ensureSchema(*second, 9);
        QCOMPARE(schemaVersion(*second), 9);
        QVERIFY(!buildOnlineIndexes(*second)); // taken by the first
        // A write that had to wait for the build fails here instead of hanging the test.
        second->executeScript("SET lock_timeout = '5s';");
        second->execute("INSERT INTO pacs..tblTransaction(trans_no, hospnum) VALUES(?, ?)", {"T9001", "H9001"});
        second->execute("UPDATE pacs..tblTransaction SET file_no = ? WHERE trans_no = ?", {"F1", "T2"});
        second->execute("INSERT INTO Patient_Data..tbMaster(HospNum, LastName) VALUES(?, ?)", {"H9001", "NEW"});
        second->execute("UPDATE Patient_Data..tbMaster SET FirstName = ? WHERE HospNum = ?", {"Y", "H2"});
        QVERIFY(upgrader->isRunning());

        other->query("SELECT pg_terminate_backend(pid) AS gone " + waitingBuild());
        QVERIFY(upgrader->wait(30000));
        QVERIFY(!upgradeError.isEmpty());
        QVERIFY(hospital->database().rollback());
        QCOMPARE(indexState(*second, "ix_tbMaster_list_order").at(0), u"invalid"_s);
        QCOMPARE(pendingVersions(*second), 1);

        QVERIFY(buildOnlineIndexes(*Connection::open(fresh.config())));
        checkUpgraded(*second, 9);
    }

    // Closing the workstation that does the online work cancels the build in progress instead of
    // waiting for it; the work stays pending for the next start.
    void closingCancelsTheOnlineBuild()
    {
        FreshDatabase fresh(Backend::PostgreSQL);
        auto hospital = Connection::open(fresh.config());
        ensureSchema(*hospital, 8);
        hospital->execute("INSERT INTO Patient_Data..tbMaster(HospNum, LastName) VALUES(?, ?)", {"H1", "A"});
        ensureSchema(*hospital, 9);
        QVERIFY(hospital->database().transaction());
        hospital->execute("UPDATE Patient_Data..tbMaster SET FirstName = ? WHERE HospNum = ?", {"X", "H1"});

        OnlineIndexRunner::instance().start(fresh.config());
        auto other = Connection::open(fresh.config()); // the activity view stays as it was within a transaction
        QTRY_VERIFY_WITH_TIMEOUT(!other->query("SELECT pid " + waitingBuild()).isEmpty(), 30000);
        OnlineIndexRunner::instance().stop();
        QVERIFY(hospital->database().rollback());
        QCOMPARE(pendingVersions(*hospital), 1);
        QTRY_VERIFY(logModel().lines().join('\n').contains("Database upgrade, online work stopped (the next start takes it up again)"));
    }
};

ORV_TEST_MAIN(tst_SchemaUpgrade)
#include "tst_schemaupgrade.moc"
