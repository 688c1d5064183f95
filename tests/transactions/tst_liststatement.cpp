// What the transaction list shows against the list statement as its pieces give it, read whole
// in one go: the same rows in the same order, every column, for every combination of filters, on
// every backend; on a database that had rows before the patients' names were copied into the
// transactions, and after every kind of change those copies must follow.
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QFile>
#include <QSet>
#include <QTest>

using namespace orv;
using namespace orv::test;

namespace {
const QString Day1 = QStringLiteral("12/04/2026");
const QString Day2 = QStringLiteral("12/05/2026");

void patient(Connection &db, int id, const QVariant &last, const QVariant &first, const QVariant &middle)
{
    db.execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) "
                              "VALUES(?,?,?,?,?,?)"),
               {id, last, first, middle, QStringLiteral("03/14/1958"), QStringLiteral("F")});
}

void master(Connection &db, const QString &hospnum, const QString &last, const QString &first)
{
    db.execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) VALUES(?,?,?,?,?,?)"),
               {hospnum, last, first, QVariant(), QStringLiteral("01/02/1970"), QStringLiteral("M")});
}

void transaction(Connection &db, const QString &no, const QVariant &patientId, const QVariant &modality, const QString &date,
                 bool interpreted)
{
    const QString hospnum = patientId.isNull() ? QString() : QLatin1Char('H') + patientId.toString();
    db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,interpretation) "
                              "VALUES(?,?,?,?,?,Convert(varchar(10),?,101),?)"),
               {no, patientId, hospnum, modality, QStringLiteral("US01"), date,
                interpreted ? QVariant(QStringLiteral("Normal.")) : QVariant()});
}

// The rows as the list shows them, every row fetched.
QList<QStringList> listed(Connection &db, const SearchFilter &f)
{
    TransactionListModel model;
    model.search(db, searchStatement(f));
    while (model.canFetchMore(QModelIndex()))
        model.fetchMore(QModelIndex());
    QList<QStringList> rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < TransactionListModel::ColumnCount; ++c)
            row << model.text(r, c);
        rows << row;
    }
    return rows;
}

// The rows of the statement from its pieces, read at once.
QList<QStringList> readAtOnce(Connection &db, const SearchFilter &f)
{
    const Statement s = listStatementFromPieces(f);
    RecordSet rs = db.query(s.sql, s.params);
    QList<QStringList> rows;
    for (; !rs.eof(); rs.moveNext()) {
        QStringList row;
        for (int c = 0; c < rs.columns().size(); ++c)
            row << rs.text(c);
        rows << row;
    }
    return rows;
}

// The first filter whose rows differ, described; empty when all agree.
QString firstDifference(Connection &db, int *compared)
{
    const QStringList texts = {QString(), QStringLiteral("A"), QStringLiteral("ab"), QStringLiteral("O'B"), QStringLiteral("1"),
                               QStringLiteral("5"), QStringLiteral("%"), QStringLiteral("O_"), QStringLiteral("Z"),
                               QStringLiteral("AAR"), QStringLiteral("MOV"), QStringLiteral("1ST"), QStringLiteral("MH1"),
                               QStringLiteral("mh")};
    for (int hosp : {0, 1})
        for (const QString &modality : {QString(), QStringLiteral("US")})
            for (const QString &text : texts)
                for (bool dated : {false, true})
                    for (bool pending : {false, true}) {
                        SearchFilter f;
                        f.useHospPat = hosp;
                        f.modality = modality;
                        f.text = text;
                        f.dateSpecified = dated;
                        f.date = QDate(2026, 12, 5);
                        f.pendingOnly = pending;
                        const QList<QStringList> expected = readAtOnce(db, f);
                        const QList<QStringList> actual = listed(db, f);
                        ++*compared;
                        if (actual == expected)
                            continue;
                        QString where = QStringLiteral("hosp %1, modality '%2', text '%3', dated %4, pending %5: ")
                                            .arg(hosp).arg(modality, text).arg(dated).arg(pending);
                        for (qsizetype r = 0; r < qMax(actual.size(), expected.size()); ++r)
                            if (actual.value(r) != expected.value(r))
                                return where + QStringLiteral("row %1 is [%2], expected [%3] (%4 rows, expected %5)")
                                                   .arg(r).arg(actual.value(r).join(QLatin1Char('|')), expected.value(r).join(QLatin1Char('|')))
                                                   .arg(actual.size()).arg(expected.size());
                    }
    return {};
}
} // namespace

class tst_ListStatement : public QObject
{
    Q_OBJECT
private slots:
    void listShowsTheRowsOfThePiecesThroughUpgradeAndChanges_data() { addBackendRows(); }
    void listShowsTheRowsOfThePiecesThroughUpgradeAndChanges()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        {
            // The rows exist before the schema that copies the patients' names into the transactions.
            auto db = Connection::open(fresh.config());
            Q_INIT_RESOURCE(core);
            QFile first(QStringLiteral(":/schema/%1/001_initial.sql").arg(b == Backend::SQLite ? "sqlite" : "postgres"));
            QVERIFY(first.open(QIODevice::ReadOnly));
            db->executeScript(QString::fromUtf8(first.readAll()));
            db->execute(QStringLiteral("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES('US01', 'ABDOMEN', 'US')"));
            patient(*db, 12, QStringLiteral("O'BRIEN"), QStringLiteral("SEAN"), QVariant());
            patient(*db, 13, QStringLiteral("ABAD"), QStringLiteral("ROSA"), QStringLiteral("M"));
            patient(*db, 14, QStringLiteral("ABAD"), QStringLiteral("ROSA"), QStringLiteral("M"));
            patient(*db, 15, QStringLiteral("ABAD"), QStringLiteral("ROSA"), QVariant());
            patient(*db, 16, QStringLiteral("abad"), QStringLiteral("ana"), QString(""));
            patient(*db, 17, QVariant(), QStringLiteral("X"), QVariant());
            patient(*db, 18, QStringLiteral("ZED"), QStringLiteral("ZOE"), QStringLiteral("Q"));
            patient(*db, 19, QStringLiteral("MOVE"), QStringLiteral("MAX"), QVariant());
            patient(*db, 20, QStringLiteral("OLDNUM"), QStringLiteral("ODA"), QVariant());
            patient(*db, 22, QStringLiteral("1ST"), QStringLiteral("ONE"), QVariant());
            patient(*db, 23, QStringLiteral("O_NEIL"), QStringLiteral("UNA"), QVariant());
            for (const char *h : {"H12", "H13", "H16", "H17", "H19", "H22"})
                master(*db, QLatin1String(h), QStringLiteral("M") + QLatin1String(h), QStringLiteral("F"));
            master(*db, QStringLiteral("H15"), QStringLiteral("MH13"), QStringLiteral("F")); // the names of H13
            db->execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum,FirstName) VALUES('H012','NONAME')"));
            transaction(*db, QStringLiteral("5"), QVariant(), QStringLiteral("US"), Day2, false);
            transaction(*db, QStringLiteral("50"), QStringLiteral("012"), QStringLiteral("US"), Day2, false); // not patient 12
            transaction(*db, QStringLiteral("51"), QStringLiteral("99"), QStringLiteral("US"), Day1, false);  // no such patient yet
            transaction(*db, QStringLiteral("52"), QStringLiteral("12"), QStringLiteral("CT"), Day2, true);
            transaction(*db, QStringLiteral("53"), QStringLiteral("13"), QVariant(), Day2, false);
            db->execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID) VALUES('54','13','H13','US')"));
            transaction(*db, QStringLiteral("60"), QStringLiteral("13"), QStringLiteral("US"), Day2, false);
            transaction(*db, QStringLiteral("61"), QStringLiteral("18"), QStringLiteral("US"), Day2, false);
            transaction(*db, QStringLiteral("62"), QStringLiteral("21"), QStringLiteral("US"), Day2, false);
            const QStringList cycle = {"12", "13", "14", "15", "16", "17", "18", "19", "20", "22", "23", "", "012"};
            for (int i = 0; i < 480; ++i) // more rows than a screen, names shared across screens
                transaction(*db, QString::number(100 + i * 7 % 480), cycle[i % cycle.size()].isEmpty() ? QVariant() : QVariant(cycle[i % cycle.size()]),
                            QStringLiteral("US"), i % 3 ? Day2 : Day1, i % 4 == 0);
        }
        auto db = openDepartmentDatabase(fresh.config());
        int compared = 0;
        QString difference = firstDifference(*db, &compared);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("after the upgrade: ") + difference));

        // Renames, a new registration number, a deleted patient, a patient who arrives after
        // the transaction, transactions moved to another patient or none, new transactions.
        db->execute(QStringLiteral("UPDATE pacs..tblPatient SET name_last='AARON' WHERE patient_id=19"));
        db->execute(QStringLiteral("UPDATE pacs..tblPatient SET name_middle=NULL, name_first='ROSE' WHERE patient_id=14"));
        db->execute(QStringLiteral("UPDATE pacs..tblPatient SET patient_id=21 WHERE patient_id=20"));
        db->execute(QStringLiteral("DELETE FROM pacs..tblPatient WHERE patient_id=18"));
        patient(*db, 99, QStringLiteral("ZULU"), QStringLiteral("ZIA"), QVariant());
        db->execute(QStringLiteral("UPDATE pacs..tblTransaction SET patient_id='19' WHERE trans_no='60'"));
        db->execute(QStringLiteral("UPDATE pacs..tblTransaction SET patient_id=NULL WHERE trans_no='53'"));
        db->execute(QStringLiteral("UPDATE pacs..tblTransaction SET patient_id='13' WHERE trans_no='5'"));
        transaction(*db, QStringLiteral("70"), QStringLiteral("12"), QStringLiteral("US"), Day2, false);
        transaction(*db, QStringLiteral("71"), QStringLiteral("012"), QStringLiteral("US"), Day2, false);
        transaction(*db, QStringLiteral("72"), QStringLiteral("99"), QStringLiteral("US"), Day2, false);
        difference = firstDifference(*db, &compared);
        QVERIFY2(difference.isEmpty(), qPrintable(QStringLiteral("after the changes: ") + difference));
        QCOMPARE(compared, 2 * 224);
    }

    // Rows that come or go while the list is read in parts are neither listed twice nor lost.
    void rowsAddedWhileScrollingAreListedOnce_data() { addBackendRows(); }
    void rowsAddedWhileScrollingAreListedOnce()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        patient(*db, 1, QStringLiteral("BB"), QStringLiteral("B"), QVariant());
        QSet<QString> before;
        for (int i = 0; i < 450; ++i) {
            transaction(*db, QString::number(1000 + i), QStringLiteral("1"), QStringLiteral("US"), Day2, false);
            before.insert(QString::number(1000 + i));
        }
        SearchFilter f;
        f.modality = QStringLiteral("US");
        TransactionListModel model;
        model.search(*db, searchStatement(f));
        QCOMPARE(model.rowCount(), TransactionListModel::FetchSize);
        QCOMPARE(model.text(0, 1), QStringLiteral("1449"));
        transaction(*db, QStringLiteral("1"), QVariant(), QStringLiteral("US"), Day2, false); // sorts first
        while (model.canFetchMore(QModelIndex()))
            model.fetchMore(QModelIndex());
        QSet<QString> seen;
        for (int r = 0; r < model.rowCount(); ++r) {
            QVERIFY2(!seen.contains(model.text(r, 1)), qPrintable(model.text(r, 1)));
            seen.insert(model.text(r, 1));
        }
        QVERIFY(seen.contains(before));
    }
};

ORV_TEST_MAIN(tst_ListStatement)
#include "tst_liststatement.moc"
