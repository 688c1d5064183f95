// The transaction list on every backend: filters, joins, order; the counter, alone and from
// several workstations at once.
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
using namespace Qt::StringLiterals;

namespace {
void addTransaction(Connection &db, const QString &no, const QString &patientId, const QString &modality,
                    const QString &date, bool interpreted = false)
{
    db.execute("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,interpretation) "
               "VALUES(?,?,?,?,?,Convert(varchar(10),?,101),?)",
               {no, patientId, "H" + patientId, modality, "US01", date, interpreted ? QVariant("Normal.") : QVariant()});
}

void addPatient(Connection &db, int id, const QString &last, const QString &first)
{
    db.execute("INSERT INTO pacs..tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) VALUES(?,?,?,?,?,?)",
               {id, last, first, QString(), "03/14/1958", "F"});
    db.execute("INSERT INTO Patient_Data..tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) VALUES(?,?,?,?,?,?)",
               {"H" + QString::number(id), last, first, QString(), "03/14/1958", "F"});
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
    void filtersJoinsAndOrder_data() { addBackendRows(); }
    void filtersJoinsAndOrder()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        db->execute("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES('US01', 'ABDOMEN', 'US')");
        addPatient(*db, 1, "O'BRIEN", "SEAN");
        addPatient(*db, 2, "ABAD", "ROSA");
        addPatient(*db, 3, "ABAD", "ANA");
        addTransaction(*db, "10", "1", "US", "12/05/2026");
        addTransaction(*db, "11", "2", "US", "12/04/2026", true);
        addTransaction(*db, "12", "3", "US", "12/05/2026");
        addTransaction(*db, "9", "3", "US", "12/05/2026");
        addTransaction(*db, "13", "77", "US", "12/05/2026");
        addTransaction(*db, "14", "1", "CT", "12/05/2026");

        SearchFilter f;
        f.modality = "US";
        // Unknown patients first (NULL names), then by name, then by number descending (as text).
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "9", "12", "11", "10"}));
        QCOMPARE(column(*db, f, 5), (QStringList{"", "ABAD", "ABAD", "ABAD", "O'BRIEN"}));
        QCOMPARE(column(*db, f, 8).last(), u"03/14/1958"_s);
        QCOMPARE(column(*db, f, 10).first(), u"ABDOMEN"_s);
        QCOMPARE(column(*db, f, 11).first(), u"12/05/2026"_s);
        f.text = "O'B";
        QCOMPARE(column(*db, f, 1), QStringList{"10"});
        f.text = "1"; // a number prefix
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "12", "11", "10"}));
        f.text = "%"; // a typed wildcard matches as SQL Server would
        QCOMPARE(column(*db, f, 1).size(), 5);
        f.text.clear();
        f.pendingOnly = true;
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "9", "12", "10"}));
        f.dateSpecified = true;
        f.date = QDate(2026, 12, 4);
        QCOMPARE(column(*db, f, 1), QStringList{});
        f.pendingOnly = false;
        QCOMPARE(column(*db, f, 1), QStringList{"11"});
        QCOMPARE(column(*db, SearchFilter(), 1).size(), 6); // no modality: every modality
        SearchFilter hosp;
        hosp.useHospPat = 1;
        hosp.modality = "US";
        QCOMPARE(column(*db, hosp, 1), (QStringList{"9", "12", "11", "10"})); // inner join drops H77; trans_id descending
    }

    void counterStartsAtOneAndPasses32767_data() { addBackendRows(); }
    void counterStartsAtOneAndPasses32767()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        QCOMPARE(TransactionStore::NextTransNo(*db), u"1"_s);
        QCOMPARE(TransactionStore::NextTransNo(*db), u"2"_s);
        QCOMPARE(db->query("SELECT trans_no FROM pacs..tblTransNo").rowCount(), 1);
        db->execute("UPDATE pacs..tblTransNo SET trans_no=32766");
        QCOMPARE(TransactionStore::NextTransNo(*db), u"32767"_s);
        QCOMPARE(TransactionStore::NextTransNo(*db), u"32768"_s);
    }

    // Four workstations generating at once never get the same number.
    void concurrentWorkstationsGetDistinctNumbers_data() { addBackendRows(); }
    void concurrentWorkstationsGetDistinctNumbers()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        openDepartmentDatabase(fresh.config()); // the schema exists before the workers start
        const ConnectionConfig &c = fresh.config();
        QStringList args{"250"};
        if (b == Backend::SQLite)
            args << "--data-dir" << c.dataFolder;
        else
            args << "--db" << "postgres" << "--db-host" << c.host << "--db-port" << QString::number(c.port)
                 << "--db-user" << c.user << "--db-name" << c.database;
        QList<QProcess *> workers;
        for (int i = 0; i < 4; ++i) {
            workers << new QProcess(this);
            workers.last()->start(ORV_TRANSNO_WORKER, args);
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
        QVERIFY(numbers.contains("1") && numbers.contains("1000"));
    }
};

ORV_TEST_MAIN(tst_TransactionList)
#include "tst_transactionlist.moc"
