// The statements are written once in T-SQL; these cases pin down what the dialect layer
// rewrites for SQLite and PostgreSQL, and what it must leave alone.
#include "common/TestMain.h"
#include "outside/Error.h"
#include "outside/SqlDialect.h"

#include <QTest>

using namespace orv;

class tst_SqlDialect : public QObject
{
    Q_OBJECT
private slots:
    void rewrites_data()
    {
        QTest::addColumn<QString>("tsql");
        QTest::addColumn<QString>("sqlite");
        QTest::addColumn<QString>("postgres");
        QTest::newRow("qualifiers") << "SELECT * FROM pacs..tblTransaction t JOIN PACS.dbo.tblExam e ON 1=1 JOIN Patient_Data.dbo.tbmaster p"
                                    << "SELECT * FROM pacs.tblTransaction t JOIN PACS.tblExam e ON 1=1 JOIN Patient_Data.tbmaster p"
                                    << "SELECT * FROM pacs.tblTransaction t JOIN PACS.tblExam e ON 1=1 JOIN Patient_Data.tbmaster p";
        QTest::newRow("literal untouched") << "SELECT 'pacs..x + y' + ? FROM build_file..tbcoDoctor"
                                           << "SELECT 'pacs..x + y' || ? FROM build_file.tbcoDoctor"
                                           << "SELECT 'pacs..x + y' || ? FROM build_file.tbcoDoctor";
        QTest::newRow("top") << "SELECT TOP 1 trans_no FROM pacs..tblTransNo"
                             << "SELECT  trans_no FROM pacs.tblTransNo LIMIT 1"
                             << "SELECT  trans_no FROM pacs.tblTransNo LIMIT 1";
        QTest::newRow("string concatenation") << "select lastname + ', ' + firstname + ' ' + middlename as d"
                                              << "select lastname || ', ' || firstname || ' ' || middlename as d"
                                              << "select lastname || ', ' || firstname || ' ' || middlename as d";
        QTest::newRow("numeric plus kept") << "SELECT max(patient_id)+1 FROM pacs..tblPatient"
                                           << "SELECT max(patient_id)+1 FROM pacs.tblPatient"
                                           << "SELECT max(patient_id)+1 FROM pacs.tblPatient";
        // PostgreSQL's LIKE would treat a typed backslash as an escape; SQL Server's does not.
        QTest::newRow("like prefix") << "WHERE (p.name_last LIKE ? + '%' OR t.trans_no LIKE ? + '%') ORDER BY 1"
                                     << "WHERE (p.name_last LIKE ? || '%' OR t.trans_no LIKE ? || '%') ORDER BY 1"
                                     << "WHERE (p.name_last LIKE ? || '%'  ESCAPE '' OR t.trans_no LIKE ? || '%' ESCAPE '' ) ORDER BY 1 NULLS FIRST";
        QTest::newRow("convert column") << "SELECT convert(varchar(10), p.date_birth, 101)as BDate"
                                        << "SELECT strftime('%m/%d/%Y', p.date_birth) as BDate"
                                        << "SELECT to_char(p.date_birth, 'MM/DD/YYYY') as BDate";
        // SQL Server sorts NULL first in ascending and last in descending order.
        QTest::newRow("null order") << "SELECT a FROM t ORDER BY name_last,f(x, y) asc,trans_no desc"
                                    << "SELECT a FROM t ORDER BY name_last,f(x, y) asc,trans_no desc"
                                    << "SELECT a FROM t ORDER BY name_last NULLS FIRST,f(x, y) asc NULLS FIRST,trans_no desc NULLS LAST";
        QTest::newRow("functions") << "UPDATE t SET date_updated = getdate(), x = isnull(y, '') WHERE len(z) > 0"
                                   << "UPDATE t SET date_updated = datetime('now','localtime'), x = coalesce(y, '') WHERE length(z) > 0"
                                   << "UPDATE t SET date_updated = localtimestamp(0), x = coalesce(y, '') WHERE length(z) > 0";
    }

    void rewrites()
    {
        QFETCH(QString, tsql);
        QFETCH(QString, sqlite);
        QFETCH(QString, postgres);
        QVariantList params{QStringLiteral("x")};
        QCOMPARE(translateSql(tsql, Backend::SQLite, params), sqlite);
        QCOMPARE(translateSql(tsql, Backend::PostgreSQL, params), postgres);
        QCOMPARE(translateSql(tsql, Backend::SqlServer, params), tsql);
    }

    // A text bound where the statement wants a date is read as MM/DD/YYYY, as SQL Server does.
    void dateParameters()
    {
        QVariantList p{QStringLiteral("A1"), QStringLiteral("12/05/2026"), QStringLiteral("U")};
        const QString sql = translateSql(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,date_trans,StudyUID) "
                                                        "VALUES(?,Convert(varchar(10),?,101),?)"),
                                         Backend::SQLite, p);
        QCOMPARE(sql, QStringLiteral("INSERT INTO pacs.tblTransaction(trans_no,date_trans,StudyUID) VALUES(?,?,?)"));
        QCOMPARE(p, (QVariantList{QStringLiteral("A1"), QStringLiteral("2026-12-05"), QStringLiteral("U")}));

        QVariantList upd{QStringLiteral("1/2/2025"), QStringLiteral("N")};
        translateSql(QStringLiteral("update pacs.dbo.tblTransaction set date_trans = ? where trans_no = ?"), Backend::PostgreSQL, upd);
        QCOMPARE(upd.at(0).toDate(), QDate(2025, 1, 2));
        QCOMPARE(upd.at(1).toString(), QStringLiteral("N"));

        QVariantList ins{QStringLiteral("H1"), QStringLiteral("07/22/1984")};
        translateSql(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum, BirthDate) VALUES(?, ?)"), Backend::SQLite, ins);
        QCOMPARE(ins.at(1).toString(), QStringLiteral("1984-07-22"));

        QVariantList empty{QString()};
        translateSql(QStringLiteral("UPDATE t SET date_birth = ?"), Backend::SQLite, empty);
        QVERIFY(empty.at(0).isNull());

        for (const QString &bad : {QStringLiteral("13/01/2026"), QStringLiteral("2026-12-05"), QStringLiteral("12/05/26'; --")}) {
            QVariantList b{bad};
            try {
                translateSql(QStringLiteral("SELECT 1 WHERE t.date_trans = convert(varchar(10), ?, 101)"), Backend::SQLite, b);
                QFAIL(qPrintable(QStringLiteral("accepted %1").arg(bad)));
            } catch (const Error &e) {
                QCOMPARE(e.description(), QStringLiteral("Conversion failed when converting date and/or time from character string."));
            }
        }
    }

    void storedProcedures()
    {
        QVariantList p{QStringLiteral("TECH1")};
        QCOMPARE(translateSql(QStringLiteral("PACS..spPassword_UserName ?"), Backend::SQLite, p),
                 QStringLiteral("SELECT full_name AS FullName FROM pacs.tblUser WHERE employee_code = ?"));
        QVariantList q{QStringLiteral("0"), QStringLiteral("VAL")};
        const QString sql = translateSql(QStringLiteral("DICOM.dbo.spRADIOLOGY_SearchDoctors ?, ?"), Backend::PostgreSQL, q);
        QVERIFY(sql.startsWith(QLatin1String("SELECT LastName || ', ' || FirstName")));
        QCOMPARE(q, QVariantList{QStringLiteral("VAL")});
    }
};

ORV_TEST_MAIN(tst_SqlDialect)
#include "tst_sqldialect.moc"
