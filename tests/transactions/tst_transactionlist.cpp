// The transaction list statement on every backend: filters, joins, order; the counter.
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QProcess>
#include <QSet>
#include <QTest>

using namespace orv;
using namespace orv::test;

namespace {
void addTransaction(Connection &db, const QString &no, const QString &patientId, const QString &hospnum,
                    const QString &modality, const QString &date, bool interpreted = false)
{
    db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,interpretation) "
                              "VALUES(?,?,?,?,?,Convert(varchar(10),?,101),?)"),
               {no, patientId, hospnum, modality, QStringLiteral("US01"), date,
                interpreted ? QVariant(QStringLiteral("Normal.")) : QVariant()});
}

void addPatient(Connection &db, int id, const QString &last, const QString &first, const QString &hosp)
{
    db.execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) "
                              "VALUES(?,?,?,?,?,?)"),
               {id, last, first, QString(), QStringLiteral("03/14/1958"), QStringLiteral("F")});
    db.execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) VALUES(?,?,?,?,?,?)"),
               {hosp, last, first, QString(), QStringLiteral("03/14/1958"), QStringLiteral("F")});
}

QStringList column(Connection &db, const SearchFilter &f, int c)
{
    TransactionListModel model;
    model.search(db, searchStatement(f));
    while (model.canFetchMore(QModelIndex()))
        model.fetchMore(QModelIndex());
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.text(r, c);
    return out;
}
} // namespace

class tst_TransactionList : public QObject
{
    Q_OBJECT
private slots:
    // The statement is the list statement's pieces joined as they stand.
    void statementPieces()
    {
        SearchFilter f;
        f.modality = QStringLiteral("US");
        f.text = QStringLiteral("O'BR");
        f.dateSpecified = true;
        f.date = QDate(2026, 12, 5);
        f.pendingOnly = true;
        const Statement s = listStatementFromPieces(f);
        QCOMPARE(s.sql, QStringLiteral(
            "SELECT trans_id as TransID,t.trans_no as TransNo,t.RevenueID as Modality,t.patient_id as RegNum,t.hospnum as HospNum,"
            " p.name_last as LastName,p.name_first as FirstName,p.name_middle as MiddleName,convert(varchar(10), p.date_birth, 101)as BDate ,p.sex_type as SEX"
            " ,E.exam_name AS ExamName ,t.date_trans as TransDate ,t.File_No as FileNo "
            " FROM pacs..tblTransaction t left outer join pacs..tblExam e ON e.exam_id = t.exam_id "
            " LEFT OUTER JOIN pacs..tblPatient p ON cast(p.patient_id as varchar) = cast(t.patient_id as varchar) "
            " WHERE t.RevenueID=? "
            "AND (p.name_last LIKE ? + '%' OR t.trans_no LIKE ? + '%') "
            "AND t.date_trans = convert(varchar(10), ?, 101)"
            " AND t.interpretation is null  "
            "ORDER BY name_last,name_first,name_middle,trans_no desc"));
        QCOMPARE(s.params, (QVariantList{QStringLiteral("US"), QStringLiteral("O'BR"), QStringLiteral("O'BR"), QStringLiteral("12/05/2026")}));
        SearchFilter h;
        h.useHospPat = 1;
        const QString hosp = listStatementFromPieces(h).sql;
        QVERIFY(hosp.contains(QLatin1String(" WHERE  1=1 ORDER BY p.LastName , p.FirstName, p.MiddleName,trans_id desc")));
        QVERIFY(hosp.contains(QLatin1String(" INNER JOIN Patient_Data.dbo.tbmaster p ON p.hospnum = t.hospnum ")));
    }

    void filtersJoinsAndOrder_data() { addBackendRows(); }
    void filtersJoinsAndOrder()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        db->execute(QStringLiteral("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES('US01', 'ABDOMEN', 'US')"));
        addPatient(*db, 1, QStringLiteral("O'BRIEN"), QStringLiteral("SEAN"), QStringLiteral("H1"));
        addPatient(*db, 2, QStringLiteral("ABAD"), QStringLiteral("ROSA"), QStringLiteral("H2"));
        addPatient(*db, 3, QStringLiteral("ABAD"), QStringLiteral("ANA"), QStringLiteral("H3"));
        addTransaction(*db, QStringLiteral("10"), QStringLiteral("1"), QStringLiteral("H1"), QStringLiteral("US"), QStringLiteral("12/05/2026"));
        addTransaction(*db, QStringLiteral("11"), QStringLiteral("2"), QStringLiteral("H2"), QStringLiteral("US"), QStringLiteral("12/04/2026"), true);
        addTransaction(*db, QStringLiteral("12"), QStringLiteral("3"), QStringLiteral("H3"), QStringLiteral("US"), QStringLiteral("12/05/2026"));
        addTransaction(*db, QStringLiteral("9"), QStringLiteral("3"), QStringLiteral("H3"), QStringLiteral("US"), QStringLiteral("12/05/2026"));
        addTransaction(*db, QStringLiteral("13"), QStringLiteral("77"), QStringLiteral("H77"), QStringLiteral("US"), QStringLiteral("12/05/2026"));
        addTransaction(*db, QStringLiteral("14"), QStringLiteral("1"), QStringLiteral("H1"), QStringLiteral("CT"), QStringLiteral("12/05/2026"));

        SearchFilter f;
        f.modality = QStringLiteral("US");
        // Unknown patients first (NULL names), then by name, then by number descending (as text).
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "9", "12", "11", "10"}));
        QCOMPARE(column(*db, f, 5), (QStringList{"", "ABAD", "ABAD", "ABAD", "O'BRIEN"}));
        QCOMPARE(column(*db, f, 8).last(), QStringLiteral("03/14/1958"));
        QCOMPARE(column(*db, f, 10).first(), QStringLiteral("ABDOMEN"));
        QCOMPARE(column(*db, f, 11).first(), QStringLiteral("12/05/2026"));
        f.text = QStringLiteral("O'B");
        QCOMPARE(column(*db, f, 1), QStringList{"10"});
        f.text = QStringLiteral("1");            // a number prefix
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "12", "11", "10"}));
        f.text = QStringLiteral("%");            // a typed wildcard matches as SQL Server would
        QCOMPARE(column(*db, f, 1).size(), 5);
        f.text.clear();
        f.pendingOnly = true;
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "9", "12", "10"}));
        f.dateSpecified = true;
        f.date = QDate(2026, 12, 4);
        QCOMPARE(column(*db, f, 1), QStringList{});
        f.pendingOnly = false;
        QCOMPARE(column(*db, f, 1), QStringList{"11"});
        SearchFilter all;
        QCOMPARE(column(*db, all, 1).size(), 6);   // no modality: every modality
        SearchFilter hosp;
        hosp.useHospPat = 1;
        hosp.modality = QStringLiteral("US");
        QCOMPARE(column(*db, hosp, 1), (QStringList{"9", "12", "11", "10"})); // inner join drops H77; trans_id descending
    }

    // The first screen arrives alone; the rest follows as the view asks for it, in order.
    void lazyFetchOfALongList_data() { addBackendRows(); }
    void lazyFetchOfALongList()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        db->executeScript(b == Backend::SQLite
                              ? QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                                               "INSERT INTO pacs.tblTransaction(trans_no, RevenueID) SELECT printf('%05d', i), 'US' FROM n;")
                              : QStringLiteral("INSERT INTO pacs.tblTransaction(trans_no, RevenueID) "
                                               "SELECT to_char(i, 'FM00000'), 'US' FROM generate_series(1, 3000) AS i;"));
        TransactionListModel model;
        SearchFilter f;
        f.modality = QStringLiteral("US");
        model.search(*db, searchStatement(f));
        QCOMPARE(model.rowCount(), TransactionListModel::FetchSize);
        QVERIFY(model.canFetchMore(QModelIndex()));
        QCOMPARE(model.text(0, 1), QStringLiteral("03000"));
        while (model.canFetchMore(QModelIndex()))
            model.fetchMore(QModelIndex());
        QCOMPARE(model.rowCount(), 3000);
        for (int r = 0; r < 3000; ++r)
            QCOMPARE(model.text(r, 1), QStringLiteral("%1").arg(3000 - r, 5, 10, QLatin1Char('0')));
    }

    void counterStartsAtOneAndPasses32767_data() { addBackendRows(); }
    void counterStartsAtOneAndPasses32767()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        QCOMPARE(TransactionStore::NextTransNo(*db), QStringLiteral("1"));
        QCOMPARE(db->query(QStringLiteral("SELECT trans_no FROM pacs..tblTransNo")).rowCount(), 1);
        QCOMPARE(TransactionStore::NextTransNo(*db), QStringLiteral("2"));
        db->execute(QStringLiteral("UPDATE pacs..tblTransNo SET trans_no=32766"));
        QCOMPARE(TransactionStore::NextTransNo(*db), QStringLiteral("32767"));
        QCOMPARE(TransactionStore::NextTransNo(*db), QStringLiteral("32768"));
    }

    // Four workstations generating at once never get the same number.
    void concurrentWorkstationsGetDistinctNumbers_data() { addBackendRows(); }
    void concurrentWorkstationsGetDistinctNumbers()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        openDepartmentDatabase(fresh.config()); // the schema exists before the workers start
        const ConnectionConfig &c = fresh.config();
        QStringList args{QStringLiteral("250")};
        if (b == Backend::SQLite)
            args << QStringLiteral("--data-dir") << c.dataFolder;
        else
            args << QStringLiteral("--db") << QStringLiteral("postgres") << QStringLiteral("--db-host") << c.host
                 << QStringLiteral("--db-port") << QString::number(c.port) << QStringLiteral("--db-user") << c.user
                 << QStringLiteral("--db-name") << c.database;
        QList<QProcess *> workers;
        for (int i = 0; i < 4; ++i) {
            auto *p = new QProcess(this);
            p->start(QStringLiteral(ORV_TRANSNO_WORKER), args);
            workers << p;
        }
        QSet<QString> numbers;
        int lines = 0;
        for (QProcess *p : workers) {
            QVERIFY(p->waitForFinished(120000));
            QCOMPARE(p->exitCode(), 0);
            for (const QByteArray &line : p->readAllStandardOutput().split('\n'))
                if (!line.isEmpty()) {
                    numbers.insert(QString::fromLatin1(line));
                    ++lines;
                }
            delete p;
        }
        QCOMPARE(lines, 1000);
        QCOMPARE(numbers.size(), 1000);
        QVERIFY(numbers.contains(QStringLiteral("1")) && numbers.contains(QStringLiteral("1000")));
    }
};

ORV_TEST_MAIN(tst_TransactionList)
#include "tst_transactionlist.moc"
