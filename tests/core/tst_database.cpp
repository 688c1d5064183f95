// The department database on every backend the test run has: schema creation, the read idiom,
// T-SQL giving SQL Server's results, hostile values and refusals.
#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "core/frmLog.h"
#include "core/frmOptions.h"
#include "outside/Error.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

class tst_Database : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_fresh;

    std::unique_ptr<Connection> freshDatabase(Backend backend)
    {
        m_fresh = std::make_unique<FreshDatabase>(backend);
        return openDepartmentDatabase(m_fresh->config());
    }
    // Why a connection with `config` cannot be opened; empty when it opens.
    static QString openFailure(const ConnectionConfig &config)
    {
        try {
            Connection::open(config);
        } catch (const Error &e) {
            return e.description();
        }
        return {};
    }

private slots:
    void cleanup() { m_fresh.reset(); }

    // The schema is made once and survives a reopen; reads find no row, a NULL, a join across
    // databases and dates as MM/DD/YYYY.
    void schemaSurvivesReopenAndReadsJoinAcrossDatabases_data() { addBackendRows(); }
    void schemaSurvivesReopenAndReadsJoinAcrossDatabases()
    {
        ORV_FETCH_BACKEND(b);
        int version = 0;
        {
            auto db = freshDatabase(b);
            version = schemaVersion(*db);
            QVERIFY(version >= 1);
            db->execute("INSERT INTO build_file..tbcoDoctor(DoctorID, LastName, FirstName, MiddleName, userid, Status, Radiologist) "
                        "VALUES(?, ?, ?, ?, ?, 'A', 'Y')", {"1001", "VALDEZ", "RICARDO", QVariant(), "TECH1"});
            db->execute("INSERT INTO pacs..tblTransaction(trans_no,hospnum,date_trans) VALUES(?,?,Convert(varchar(10),?,101))",
                        {"77", "1001", "02/29/2024"});
        }
        auto db = openDepartmentDatabase(m_fresh->config());
        QCOMPARE(schemaVersion(*db), version);
        RecordSet none = db->query("SELECT exam_name FROM pacs..tblExam WHERE exam_id = ?", {"NONE"});
        QVERIFY(none.isEmpty() && none.bof() && none.eof());
        // A NULL middle name makes the whole concatenation NULL, which reads as an empty text.
        RecordSet doc = db->query("select doctorid,lastname + ', ' + firstname + ' ' + middlename as docname "
                                  "from build_file.dbo.tbcodoctor where userid = ?", {"TECH1"});
        QCOMPARE(doc.rowCount(), 1);
        QCOMPARE(doc.text("doctorid") + '|' + doc.text("docname"), u"1001|"_s);
        QCOMPARE(db->query("DICOM.dbo.spRADIOLOGY_SearchDoctors ?, ?", {"0", "VAL"}).text("Code"), u"1001"_s);
        RecordSet joined = db->query("SELECT t.trans_no, d.LastName, t.date_trans, convert(varchar(10), t.date_trans, 101) AS d101 "
                                     "FROM pacs..tblTransaction t INNER JOIN build_file..tbcoDoctor d ON d.DoctorID = t.hospnum "
                                     "WHERE t.date_trans = convert(varchar(10), ?, 101)", {"02/29/2024"});
        QCOMPARE(joined.rowCount(), 1);
        QCOMPARE((QStringList{joined.text("LastName"), joined.text("date_trans"), joined.text("d101")}),
                 (QStringList{"VALDEZ", "02/29/2024", "02/29/2024"}));
        QVERIFY_THROWS_EXCEPTION(Error, joined.text("no_such_column"));
    }

    // Statements written in T-SQL return what SQL Server would return, and fail where it fails,
    // whatever the backend.
    void tsqlBehavesAsOnSqlServer_data() { addBackendRows(); }
    void tsqlBehavesAsOnSqlServer()
    {
        ORV_FETCH_BACKEND(b);
        auto db = freshDatabase(b);
        const QString abNull = "FROM (SELECT 'b' AS v UNION ALL SELECT NULL UNION ALL SELECT 'a') t ";
        const struct { QString sql; QVariantList params; QStringList rows; /* columns joined by '|' */ } cases[] = {
            {"SELECT TOP 1 v " + abNull + "WHERE v IS NOT NULL ORDER BY v", {}, {"a"}},
            {"SELECT v " + abNull + "ORDER BY v", {}, {"", "a", "b"}}, // NULL first ascending
            {"SELECT v " + abNull + "ORDER BY v desc", {}, {"b", "a", ""}},
            {"SELECT 'pacs..x + y' + ? + 'z' AS v", {"!"}, {"pacs..x + y!z"}}, // a literal is left alone
            {"SELECT max(v)+1 AS n FROM (SELECT 41 AS v) t", {}, {"42"}},       // a sum stays a sum
            // A typed backslash is no escape character.
            {"SELECT v FROM (SELECT 'a\\b' AS v UNION ALL SELECT 'a%b') t WHERE v LIKE ? + '%'", {"a\\"}, {"a\\b"}},
            {"SELECT isnull(?, 'z') AS a, len(?) AS n", {QVariant(), "abcd"}, {"z|4"}},
        };
        for (const auto &c : cases) {
            QStringList rows;
            for (RecordSet rs = db->query(c.sql, c.params); !rs.eof(); rs.moveNext()) {
                QStringList columns;
                for (int i = 0; i < rs.columns().size(); ++i)
                    columns << rs.text(i);
                rows << columns.join('|');
            }
            QVERIFY2(rows == c.rows, qPrintable(c.sql + " gave " + rows.join(", ")));
        }
        QVERIFY(db->query("SELECT getdate() AS now").text(0).contains(QString::number(QDate::currentDate().year())));

        // What the server refuses, every backend refuses, with the database's own description.
        try {
            db->execute("INSERT INTO pacs..tblTransaction(trans_no, patient_id) VALUES(?, ?)", {"1", "12345678901"});
            QFAIL("a patient id of 11 characters was stored");
        } catch (const Error &e) {
            QVERIFY(!e.description().isEmpty());
        }
        db->execute("INSERT INTO pacs..tblTransaction(trans_no) VALUES(?)", {"5"});
        QVERIFY_THROWS_EXCEPTION(Error, db->execute("INSERT INTO pacs..tblTransaction(trans_no) VALUES(?)", {"5"}));
        QVERIFY_THROWS_EXCEPTION(Error, db->query("SELECT nothing FROM pacs..tblNothing"));
        QVERIFY_THROWS_EXCEPTION(Error, db->execute("UPDATE pacs..tblTransaction SET date_trans = ? WHERE trans_no = ?",
                                                    {"31/12/2026", "5"}));
    }

    // Every statement binds its values: hostile text is stored and read back exactly, and never
    // changes a statement.
    void hostileValuesRoundTrip_data() { addBackendRows(); }
    void hostileValuesRoundTrip()
    {
        ORV_FETCH_BACKEND(b);
        auto db = freshDatabase(b);
        const QStringList hostile = {"O'Brien", "Müller", "中村", "a\"b;c--d", "100%_[x]", "tab\there",
                                     "'; DROP TABLE tblUser; --", "\\' OR 1=1"};
        for (int n = 1; n <= hostile.size(); ++n) {
            const QString v = hostile[n - 1], hosp = u"H%1"_s.arg(n), user = u"U%1"_s.arg(n);
            db->execute("INSERT INTO Patient_Data.dbo.tbMaster(HospNum, LastName, FirstName, MiddleName, BirthDate, sex) "
                        "VALUES(?, ?, ?, ?, ?, ?)", {hosp, v, v, v, "01/31/1970", "F"});
            db->execute("INSERT INTO pacs..tblTechnologist(technologist_id, name_last, name_first, name_middle) VALUES(?, ?, ?, ?)",
                        {hosp, v, v, v});
            LoginComponent::addUser(*db, user, v, v + "-password");
            RecordSet m = db->query("SELECT LastName, BirthDate FROM Patient_Data..tbMaster WHERE LastName = ?", {v});
            QCOMPARE(m.rowCount(), 1);
            QCOMPARE(m.text("LastName") + ' ' + m.text("BirthDate"), v + " 01/31/1970");
            QVERIFY(db->query("SELECT name_last FROM pacs..tblTechnologist WHERE name_last LIKE ? + '%'", {v}).rowCount() >= 1);
            QCOMPARE(db->query("PACS..spPassword_UserName ?", {user}).text("FullName"), v.trimmed());
            QCOMPARE(LoginComponent::check(*db, user, v + "-password"), LoginComponent::Check::Accepted);
        }
        QCOMPARE(db->query("SELECT HospNum FROM Patient_Data..tbMaster").rowCount(), int(hostile.size()));
        QCOMPARE(db->query("SELECT employee_code FROM pacs..tblUser").rowCount(), int(hostile.size()));
    }

    // A file that is no database, or a folder in its place, is refused naming the file.
    void badDatabaseFilesAreNamed()
    {
        QTemporaryDir dir;
        QFile junk(dir.filePath("pacs.sqlite"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write(QByteArray(4096, 'x')) == 4096);
        junk.close();
        ConnectionConfig c;
        c.dataFolder = dir.path();
        for (const bool folder : {false, true}) {
            if (folder)
                QVERIFY(QFile::remove(junk.fileName()) && QDir().mkdir(junk.fileName()));
            const QString failure = openFailure(c);
            QVERIFY2(failure.contains("pacs.sqlite"), qPrintable(failure));
        }
    }

    // The server's own account check: a wrong password is refused with the server's reason.
    void serverRefusesAWrongPassword()
    {
        if (postgresPort() == 0) {
            QVERIFY2(qEnvironmentVariable("ORV_REQUIRE_POSTGRES") != "1", "the test run's PostgreSQL server is not running");
            QSKIP("no PostgreSQL server in this run");
        }
        ConnectionConfig c;
        c.backend = Backend::PostgreSQL;
        c.host = "127.0.0.1";
        c.port = postgresPort();
        c.user = "orv_secure";
        c.password = "wrong-password";
        c.database = "orvaline";
        QVERIFY2(openFailure(c).contains("password authentication failed"), qPrintable(openFailure(c)));
        c.password = "right-password";
        QCOMPARE(openFailure(c), QString());
    }
};

ORV_TEST_MAIN(tst_Database)
#include "tst_database.moc"
