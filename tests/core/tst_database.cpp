// The department database on every backend the test run has: schema creation, the read idiom,
// dates, hostile values, refusals, and the schema-upgrade button's error path.
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "core/frmOptions.h"
#include "outside/Error.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace orv;
using namespace orv::test;

namespace {
const QStringList hostile = {
    QStringLiteral("O'Brien"), QStringLiteral("Müller"), QStringLiteral("中村"), QStringLiteral("a\"b;c--d"),
    QStringLiteral("100%_[x]"), QStringLiteral("tab\there"), QStringLiteral("'; DROP TABLE tblUser; --"),
    QStringLiteral("\\' OR 1=1"),
};
} // namespace

class tst_Database : public QObject
{
    Q_OBJECT
private slots:
    void schemaIsCreatedOnceAndReopened_data() { addBackendRows(); }
    void schemaIsCreatedOnceAndReopened()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        int version = 0;
        {
            auto db = openDepartmentDatabase(fresh.config());
            version = schemaVersion(*db);
            QVERIFY(version >= 1);
            db->execute(QStringLiteral("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES(?, ?, ?)"),
                        {QStringLiteral("US01"), QStringLiteral("ABDOMEN"), QStringLiteral("US")});
        }
        auto db = openDepartmentDatabase(fresh.config());
        QCOMPARE(schemaVersion(*db), version);
        QCOMPARE(db->query(QStringLiteral("SELECT exam_name FROM pacs..tblExam WHERE exam_id = ?"), {QStringLiteral("US01")})
                     .text(QStringLiteral("EXAM_NAME")),
                 QStringLiteral("ABDOMEN"));
        if (b == Backend::SQLite)
            for (const char *name : {"pacs", "Patient_Data", "build_file", "DICOM"})
                QVERIFY(QFile::exists(fresh.config().dataFolder + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".sqlite")));
    }

    void readIdiomAndCrossDatabaseJoin_data() { addBackendRows(); }
    void readIdiomAndCrossDatabaseJoin()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        RecordSet none = db->query(QStringLiteral("SELECT exam_name FROM pacs..tblExam WHERE exam_id = ?"), {QStringLiteral("NONE")});
        QVERIFY(none.isEmpty() && none.bof() && none.eof());

        db->execute(QStringLiteral("INSERT INTO build_file..tbcoDoctor(DoctorID, LastName, FirstName, MiddleName, userid, Status, "
                                   "Radiologist) VALUES(?, ?, ?, ?, ?, 'A', 'Y')"),
                    {QStringLiteral("1001"), QStringLiteral("VALDEZ"), QStringLiteral("RICARDO"), QVariant(), QStringLiteral("TECH1")});
        db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,hospnum,date_trans) VALUES(?,?,Convert(varchar(10),?,101))"),
                    {QStringLiteral("77"), QStringLiteral("1001"), QStringLiteral("02/29/2024")});
        // A NULL middle name makes the whole concatenation NULL, which reads as an empty text.
        RecordSet doc = db->query(QStringLiteral("select doctorid,lastname + ', ' + firstname + ' ' + middlename as docname "
                                                 "from build_file.dbo.tbcodoctor where userid = ?"),
                                  {QStringLiteral("TECH1")});
        QCOMPARE(doc.rowCount(), 1);
        QCOMPARE(doc.text(QStringLiteral("doctorid")), QStringLiteral("1001"));
        QCOMPARE(doc.text(QStringLiteral("docname")), QString());
        RecordSet joined = db->query(QStringLiteral("SELECT t.trans_no, d.LastName, t.date_trans, convert(varchar(10), t.date_trans, 101) AS d101 "
                                                    "FROM pacs..tblTransaction t INNER JOIN build_file..tbcoDoctor d ON d.DoctorID = t.hospnum "
                                                    "WHERE t.date_trans = convert(varchar(10), ?, 101)"),
                                     {QStringLiteral("02/29/2024")});
        QCOMPARE(joined.rowCount(), 1);
        QCOMPARE(joined.text(QStringLiteral("LastName")), QStringLiteral("VALDEZ"));
        QCOMPARE(joined.text(QStringLiteral("date_trans")), QStringLiteral("02/29/2024"));
        QCOMPARE(joined.text(QStringLiteral("d101")), QStringLiteral("02/29/2024"));
        QVERIFY_THROWS_EXCEPTION(Error, joined.text(QStringLiteral("no_such_column")));
    }

    // Every statement this part of the program runs binds its values: hostile text is stored and
    // read back exactly, and never changes a statement.
    void hostileValuesRoundTrip_data() { addBackendRows(); }
    void hostileValuesRoundTrip()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        int n = 0;
        for (const QString &v : hostile) {
            ++n;
            const QString hosp = QStringLiteral("H%1").arg(n);
            db->execute(QStringLiteral("INSERT INTO Patient_Data.dbo.tbMaster(HospNum, LastName, FirstName, MiddleName, BirthDate, sex) "
                                       "VALUES(?, ?, ?, ?, ?, ?)"),
                        {hosp, v, v, v, QStringLiteral("01/31/1970"), QStringLiteral("F")});
            db->execute(QStringLiteral("INSERT INTO pacs..tblTechnologist(technologist_id, name_last, name_first, name_middle) VALUES(?, ?, ?, ?)"),
                        {hosp, v, v, v});
            LoginComponent::addUser(*db, QStringLiteral("U%1").arg(n), v, v + QStringLiteral("-password"));
            RecordSet m = db->query(QStringLiteral("SELECT LastName, BirthDate FROM Patient_Data..tbMaster WHERE LastName = ?"), {v});
            QCOMPARE(m.rowCount(), 1);
            QCOMPARE(m.text(QStringLiteral("LastName")), v);
            QCOMPARE(m.text(QStringLiteral("BirthDate")), QStringLiteral("01/31/1970"));
            RecordSet like = db->query(QStringLiteral("SELECT name_last FROM pacs..tblTechnologist WHERE name_last LIKE ? + '%'"), {v});
            QVERIFY(like.rowCount() >= 1);
            RecordSet user = db->query(QStringLiteral("PACS..spPassword_UserName ?"), {QStringLiteral("u%1").arg(n).toUpper()});
            QCOMPARE(user.text(QStringLiteral("FullName")), v.trimmed());
            QCOMPARE(LoginComponent::check(*db, QStringLiteral("U%1").arg(n), v + QStringLiteral("-password")),
                     LoginComponent::Check::Accepted);
        }
        QCOMPARE(db->query(QStringLiteral("SELECT HospNum FROM Patient_Data..tbMaster")).rowCount(), int(hostile.size()));
        QCOMPARE(db->query(QStringLiteral("SELECT employee_code FROM pacs..tblUser")).rowCount(), int(hostile.size()));
    }

    // What the server refuses, every backend refuses, with the database's own description.
    void refusalsAreErrors_data() { addBackendRows(); }
    void refusalsAreErrors()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        try {
            db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no, patient_id) VALUES(?, ?)"),
                        {QStringLiteral("1"), QStringLiteral("12345678901")});
            QFAIL("a patient id of 11 characters was stored");
        } catch (const Error &e) {
            QVERIFY(!e.description().isEmpty());
        }
        db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no) VALUES(?)"), {QStringLiteral("5")});
        QVERIFY_THROWS_EXCEPTION(Error, db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no) VALUES(?)"),
                                                    {QStringLiteral("5")}));
        QVERIFY_THROWS_EXCEPTION(Error, db->query(QStringLiteral("SELECT nothing FROM pacs..tblNothing")));
        QVERIFY_THROWS_EXCEPTION(Error, db->execute(QStringLiteral("UPDATE pacs..tblTransaction SET date_trans = ? WHERE trans_no = ?"),
                                                    {QStringLiteral("31/12/2026"), QStringLiteral("5")}));
    }

    // "Update DB" on a schema that has the column already: the description goes to the log and
    // "Done." is shown all the same.
    void updateDbButtonLogsAndSaysDone_data() { addBackendRows(); }
    void updateDbButtonLogsAndSaysDone()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto *prompter = ScriptedPrompter::install();
        resetState();
        state().LoginComponent = std::make_unique<LoginComponent>([&] { return openDepartmentDatabase(fresh.config()); });
        auto db = openDepartmentDatabase(fresh.config());
        LoginComponent::addUser(*db, QStringLiteral("T1"), QStringLiteral("T"), QStringLiteral("password1"));
        state().LoginComponent->setScriptedLogin(QStringLiteral("T1"), QStringLiteral("password1"));
        state().LoginComponent->ShowMain();
        QVERIFY(state().LoginComponent->Connected());
        frmOptions *w = frmOptions::instance();
        w->cmdUpdateDB->click();
        QCOMPARE(prompter->messages(), QStringList{QStringLiteral("Done.")});
        QCOMPARE(prompter->shown.last().icon, Prompter::Icon::Information);
        const QString log = frmLog::instance()->text();
        QVERIFY2(log.startsWith(QLatin1Char('\n')) && log.toLower().contains(QLatin1String("studyuid")), qPrintable(log.toUtf8().toHex()));
        delete w;
        delete frmLog::instance();
        resetState();
    }

    void badDatabaseFilesAreNamed()
    {
        QTemporaryDir dir;
        QFile junk(dir.filePath(QStringLiteral("pacs.sqlite")));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        ConnectionConfig c;
        c.dataFolder = dir.path();
        try {
            openDepartmentDatabase(c);
            QFAIL("a file that is not a database was opened");
        } catch (const Error &e) {
            QVERIFY2(e.description().contains(QLatin1String("pacs.sqlite")), qPrintable(e.description()));
        }
        QFile::remove(junk.fileName());
        QVERIFY(QDir().mkdir(junk.fileName())); // a folder where the file should be
        QVERIFY_THROWS_EXCEPTION(Error, openDepartmentDatabase(c));
    }

    void unreachableServerFailsFastWithItsName()
    {
        ConnectionConfig c;
        c.backend = Backend::PostgreSQL;
        c.host = QStringLiteral("127.0.0.1");
        c.port = 1;
        QElapsedTimer t;
        t.start();
        try {
            Connection::open(c);
            QFAIL("connected to a closed port");
        } catch (const Error &e) {
            QVERIFY(e.description().contains(QLatin1String("127.0.0.1:1")));
        }
        QVERIFY(t.elapsed() < 10000);
        if (postgresPort() > 0) {
            c.port = postgresPort();
            c.user = QStringLiteral("orv_secure");
            c.password = QStringLiteral("wrong-password");
            c.database = QStringLiteral("orvaline");
            try {
                Connection::open(c);
                QFAIL("a wrong password was accepted");
            } catch (const Error &e) {
                QVERIFY2(e.description().contains(QLatin1String("password authentication failed")), qPrintable(e.description()));
            }
            c.password = QStringLiteral("right-password");
            QVERIFY(Connection::open(c) != nullptr);
        }
    }

    void demoDataIsSeededOnce_data() { addBackendRows(); }
    void demoDataIsSeededOnce()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        QVERIFY(seedDemoData(*db));
        QVERIFY(!seedDemoData(*db));
        QVERIFY(db->query(QStringLiteral("SELECT HospNum FROM Patient_Data..tbMaster")).rowCount() >= 24);
        QVERIFY(db->query(QStringLiteral("SELECT exam_id FROM pacs..tblExam WHERE modality_code = ?"), {QStringLiteral("US")}).rowCount() >= 4);
        QVERIFY(db->query(QStringLiteral("SELECT DoctorID FROM build_file..tbcoDoctor WHERE Radiologist = 'Y'")).rowCount() >= 2);
        QCOMPARE(db->query(QStringLiteral("SELECT name_last FROM pacs..tblPatient WHERE patient_id = 3")).text(QStringLiteral("name_last")),
                 QStringLiteral("O'BRIEN"));
        QVERIFY(db->query(QStringLiteral("SELECT employee_code FROM pacs..tblUser")).isEmpty()); // no default account
    }
};

ORV_TEST_MAIN(tst_Database)
#include "tst_database.moc"
