// The dialect layer's handling of values: texts bound where a statement wants a date are read as
// SQL Server reads them, or refused as it refuses them. (What the rewritten statements return is
// checked by running them on the real backends, in the database tests.)
#include "common/TestMain.h"
#include "outside/Error.h"
#include "outside/SqlDialect.h"

#include <QTest>

using namespace orv;
using namespace Qt::StringLiterals;

class tst_SqlDialect : public QObject
{
    Q_OBJECT
private slots:
    // A text bound where the statement wants a date is read as MM/DD/YYYY, as SQL Server does.
    void dateParametersAreReadAsMonthDayYear()
    {
        QVariantList p{"A1", "12/05/2026", "U"};
        translateSql("INSERT INTO pacs..tblTransaction(trans_no,date_trans,StudyUID) VALUES(?,Convert(varchar(10),?,101),?)",
                     Backend::SQLite, p);
        QCOMPARE(p, (QVariantList{"A1", "2026-12-05", "U"}));
        QVariantList upd{"1/2/2025", "N"};
        translateSql("update pacs.dbo.tblTransaction set date_trans = ? where trans_no = ?", Backend::PostgreSQL, upd);
        QCOMPARE(upd, (QVariantList{QDate(2025, 1, 2), "N"}));
        QVariantList ins{"H1", "07/22/1984"};
        translateSql("INSERT INTO Patient_Data..tbMaster(HospNum, BirthDate) VALUES(?, ?)", Backend::SQLite, ins);
        QCOMPARE(ins.at(1).toString(), u"1984-07-22"_s);
        QVariantList empty{QString()};
        translateSql("UPDATE t SET date_birth = ?", Backend::SQLite, empty);
        QVERIFY(empty.at(0).isNull());
        // SQL Server takes the text as it is.
        QVariantList unchanged{"12/05/2026"};
        const QString tsql = "SELECT TOP 1 trans_no FROM pacs..tblTransaction WHERE date_trans = ?";
        QCOMPARE(translateSql(tsql, Backend::SqlServer, unchanged), tsql);
        QCOMPARE(unchanged, QVariantList{"12/05/2026"});
    }

    void textsThatAreNoDateAreRefusedOnEveryBackend()
    {
        for (const Backend backend : {Backend::SQLite, Backend::PostgreSQL})
            for (const QString &bad : {u"13/01/2026"_s, u"2026-12-05"_s, u"12/05/26'; --"_s}) {
                QVariantList p{bad};
                try {
                    translateSql("SELECT 1 WHERE t.date_trans = convert(varchar(10), ?, 101)", backend, p);
                    QFAIL(qPrintable("accepted " + bad));
                } catch (const Error &e) {
                    QCOMPARE(e.description(), u"Conversion failed when converting date and/or time from character string."_s);
                }
            }
    }
};

ORV_TEST_MAIN(tst_SqlDialect)
#include "tst_sqldialect.moc"
