// The transaction list on every backend: filters, joins and order; the list against the list
// statement as its pieces give it, read whole in one go (the same rows in the same order, every
// column, for every combination of filters), on a database that had rows before the patients'
// columns were copied into the transactions, before and after the copies were filled, and after
// every kind of change those copies must follow; rows added while scrolling; a long list scrolled in a grid; the counter, alone and from several workstations at once.
#include "common/TestDb.h"
#include "common/TestMain.h"
#include "core/Database.h"
#include "transactions/TransactionListModel.h"
#include "transactions/TransactionStore.h"

#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QSet>
#include <QTableView>
#include <QTest>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {
const QString Day1 = "12/04/2026";
const QString Day2 = "12/05/2026";

// A patient; a null pointer stands for a NULL name.
void patient(Connection &db, int id, const char *last, const char *first, const char *middle)
{
    const auto text = [](const char *t) { return t ? QVariant(QString::fromUtf8(t)) : QVariant(); };
    db.execute("INSERT INTO pacs..tblPatient(patient_id,name_last,name_first,name_middle,date_birth,sex_type) VALUES(?,?,?,?,?,?)",
               {id, text(last), text(first), text(middle), "03/14/1958", "F"});
}

void master(Connection &db, const QString &hospnum, const QString &last, const QString &first)
{
    db.execute("INSERT INTO Patient_Data..tbMaster(HospNum,LastName,FirstName,MiddleName,BirthDate,sex) VALUES(?,?,?,?,?,?)",
               {hospnum, last, first, QVariant(), "01/02/1970", "M"});
}

void transaction(Connection &db, const QString &no, const QVariant &patientId, const QVariant &modality, const QString &date,
                 bool interpreted)
{
    const QString hospnum = patientId.isNull() ? QString() : QLatin1Char('H') + patientId.toString();
    db.execute("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID,exam_id,date_trans,interpretation) "
               "VALUES(?,?,?,?,?,Convert(varchar(10),?,101),?)",
               {no, patientId, hospnum, modality, "US01", date, interpreted ? QVariant("Normal.") : QVariant()});
}

// The rows as the list shows them, every row fetched; or, with `atOnce`, the rows of the
// statement from its pieces read in one go.
QList<QStringList> rowsOf(Connection &db, const SearchFilter &f, bool atOnce)
{
    QList<QStringList> rows;
    if (atOnce) {
        const Statement s = listStatementFromPieces(f);
        for (RecordSet rs = db.query(s.sql, s.params); !rs.eof(); rs.moveNext()) {
            rows << QStringList();
            for (int c = 0; c < rs.columns().size(); ++c)
                rows.last() << rs.text(c);
        }
        return rows;
    }
    TransactionListModel model;
    model.search(db, searchStatement(db.backend(), f));
    while (model.canFetchMore(QModelIndex()))
        model.fetchMore(QModelIndex());
    for (int r = 0; r < model.rowCount(); ++r) {
        rows << QStringList();
        for (int c = 0; c < TransactionListModel::ColumnCount; ++c)
            rows.last() << model.text(r, c);
    }
    return rows;
}

QStringList column(Connection &db, const SearchFilter &f, int c)
{
    QStringList out;
    for (const QStringList &row : rowsOf(db, f, false))
        out << row.value(c);
    return out;
}

// The first filter whose rows differ, described; empty when all agree.
QString firstDifference(Connection &db, int *compared)
{
    const QStringList texts = {"", "A", "ab", "O'B", "1", "5", "%", "O_", "Z", "AAR", "MOV", "1ST", "MH1", "mh"};
    for (int filter = 0; filter < 2 * 2 * 2 * 2 * int(texts.size()); ++filter) {
        SearchFilter f;
        f.useHospPat = filter & 1;
        f.modality = filter & 2 ? "US" : "";
        f.dateSpecified = filter & 4;
        f.date = QDate(2026, 12, 5);
        f.pendingOnly = filter & 8;
        f.text = texts[filter >> 4];
        const QList<QStringList> expected = rowsOf(db, f, true), actual = rowsOf(db, f, false);
        ++*compared;
        for (qsizetype r = 0; r < qMax(actual.size(), expected.size()); ++r)
            if (actual.value(r) != expected.value(r))
                return u"hosp %1, modality '%2', text '%3', dated %4, pending %5: row %6 is [%7], expected [%8]"_s
                    .arg(f.useHospPat).arg(f.modality, f.text).arg(f.dateSpecified).arg(f.pendingOnly).arg(r)
                    .arg(actual.value(r).join('|'), expected.value(r).join('|'));
    }
    return {};
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
        const struct { int id; const char *last, *first; } people[] = {{1, "O'BRIEN", "SEAN"}, {2, "ABAD", "ROSA"}, {3, "ABAD", "ANA"}};
        for (const auto &p : people) {
            patient(*db, p.id, p.last, p.first, nullptr);
            master(*db, u"H%1"_s.arg(p.id), p.last, p.first);
        }
        transaction(*db, "10", "1", "US", Day2, false);
        transaction(*db, "11", "2", "US", Day1, true);
        transaction(*db, "12", "3", "US", Day2, false);
        transaction(*db, "9", "3", "US", Day2, false);
        transaction(*db, "13", "77", "US", Day2, false);
        transaction(*db, "14", "1", "CT", Day2, false);

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
        f.text = "%"; // typed wildcards match as SQL Server would
        QCOMPARE(column(*db, f, 1).size(), 5);
        f.text = "O_B";
        QCOMPARE(column(*db, f, 1), QStringList{"10"});
        f.text = "_";
        QCOMPARE(column(*db, f, 1), (QStringList{"13", "9", "12", "11", "10"}));
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

    // The list shows what the statement from its pieces returns, for every filter.
    void listShowsTheRowsOfThePiecesThroughUpgradeAndChanges_data() { addBackendRows(); }
    void listShowsTheRowsOfThePiecesThroughUpgradeAndChanges()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        {
            // The rows exist before the schema that copies the patients' names into the transactions.
            auto db = Connection::open(fresh.config());
            Q_INIT_RESOURCE(core);
            QFile first(u":/schema/%1/001_initial.sql"_s.arg(b == Backend::SQLite ? "sqlite" : "postgres"));
            QVERIFY(first.open(QIODevice::ReadOnly));
            db->executeScript(QString::fromUtf8(first.readAll()));
            db->execute("INSERT INTO pacs..tblExam(exam_id, exam_name, modality_code) VALUES('US01', 'ABDOMEN', 'US')");
            const struct { int id; const char *last, *first, *middle; } patients[] = {
                {12, "O'BRIEN", "SEAN", nullptr}, {13, "ABAD", "ROSA", "M"}, {14, "ABAD", "ROSA", "M"}, {15, "ABAD", "ROSA", nullptr},
                {16, "abad", "ana", ""}, {17, nullptr, "X", nullptr}, {18, "ZED", "ZOE", "Q"}, {19, "MOVE", "MAX", nullptr},
                {20, "OLDNUM", "ODA", nullptr}, {22, "1ST", "ONE", nullptr}, {23, "O_NEIL", "UNA", nullptr}};
            for (const auto &p : patients)
                patient(*db, p.id, p.last, p.first, p.middle);
            for (const char *h : {"H12", "H13", "H16", "H17", "H19", "H22"})
                master(*db, h, u"M"_s + h, "F");
            master(*db, "H15", "MH13", "F"); // the names of H13
            db->execute("INSERT INTO Patient_Data..tbMaster(HospNum,FirstName) VALUES('H012','NONAME')");
            transaction(*db, "5", QVariant(), "US", Day2, false);
            transaction(*db, "50", "012", "US", Day2, false); // not patient 12
            transaction(*db, "51", "99", "US", Day1, false);  // no such patient yet
            transaction(*db, "52", "12", "CT", Day2, true);
            transaction(*db, "53", "13", QVariant(), Day2, false);
            db->execute("INSERT INTO pacs..tblTransaction(trans_no,patient_id,hospnum,RevenueID) VALUES('54','13','H13','US')");
            transaction(*db, "60", "13", "US", Day2, false);
            transaction(*db, "61", "18", "US", Day2, false);
            transaction(*db, "62", "21", "US", Day2, false);
            const QStringList cycle = {"12", "13", "14", "15", "16", "17", "18", "19", "20", "22", "23", "", "012"};
            for (int i = 0; i < 480; ++i) // more rows than a screen, names shared across screens
                transaction(*db, QString::number(100 + i * 7 % 480), cycle[i % cycle.size()].isEmpty() ? QVariant() : QVariant(cycle[i % cycle.size()]),
                            "US", i % 3 ? Day2 : Day1, i % 4 == 0);
        }
        auto db = openDepartmentDatabase(fresh.config());
        int compared = 0;
        QString difference = firstDifference(*db, &compared);
        QVERIFY2(difference.isEmpty(), qPrintable("after the upgrade: " + difference));
        // The server's list reads the transactions' copies of their patients once the online
        // work has filled them.
        QVERIFY(buildOnlineIndexes(*db));
        difference = firstDifference(*db, &compared);
        QVERIFY2(difference.isEmpty(), qPrintable("after the online work: " + difference));

        // Renames, a new registration number, a deleted patient, a patient who arrives after
        // the transaction, transactions moved to another patient or none, new transactions.
        db->execute("UPDATE pacs..tblPatient SET name_last='AARON' WHERE patient_id=19");
        db->execute("UPDATE pacs..tblPatient SET name_middle=NULL, name_first='ROSE' WHERE patient_id=14");
        db->execute("UPDATE pacs..tblPatient SET patient_id=21 WHERE patient_id=20");
        db->execute("DELETE FROM pacs..tblPatient WHERE patient_id=18");
        patient(*db, 99, "ZULU", "ZIA", nullptr);
        db->execute("UPDATE pacs..tblTransaction SET patient_id='19' WHERE trans_no='60'");
        db->execute("UPDATE pacs..tblTransaction SET patient_id=NULL WHERE trans_no='53'");
        db->execute("UPDATE pacs..tblTransaction SET patient_id='13' WHERE trans_no='5'");
        transaction(*db, "70", "12", "US", Day2, false);
        transaction(*db, "71", "012", "US", Day2, false);
        transaction(*db, "72", "99", "US", Day2, false);
        // The same for the hospital master, and birth dates and sexes on both sides.
        db->execute("UPDATE pacs..tblPatient SET date_birth='07/08/1990', sex_type='M' WHERE patient_id=13");
        db->execute("UPDATE Patient_Data..tbMaster SET BirthDate='05/06/1980', Sex='F' WHERE HospNum='H13'");
        db->execute("UPDATE Patient_Data..tbMaster SET LastName='MAARON' WHERE HospNum='H19'");
        db->execute("UPDATE Patient_Data..tbMaster SET HospNum='H18' WHERE HospNum='H17'");
        db->execute("DELETE FROM Patient_Data..tbMaster WHERE HospNum='H16'");
        master(*db, "H99", "MZULU", "ZIA");
        db->execute("UPDATE pacs..tblTransaction SET hospnum='H22' WHERE trans_no='61'");
        difference = firstDifference(*db, &compared);
        QVERIFY2(difference.isEmpty(), qPrintable("after the changes: " + difference));
        QCOMPARE(compared, 3 * 224);
    }

    // Rows that come or go while the list is read in parts are neither listed twice nor lost.
    void rowsAddedWhileScrollingAreListedOnce_data() { addBackendRows(); }
    void rowsAddedWhileScrollingAreListedOnce()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        patient(*db, 1, "BB", "B", nullptr);
        QSet<QString> before;
        for (int i = 0; i < 450; ++i) {
            transaction(*db, QString::number(1000 + i), "1", "US", Day2, false);
            before.insert(QString::number(1000 + i));
        }
        SearchFilter f;
        f.modality = "US";
        TransactionListModel model;
        model.search(*db, searchStatement(db->backend(), f));
        QCOMPARE(model.rowCount(), model.partSize());
        QCOMPARE(model.text(0, 1), u"1449"_s);
        // The rows as they come, taken as a grid scrolling down shows them.
        QSet<QString> seen;
        const auto take = [&](int from) {
            for (int r = from; r < model.rowCount(); ++r) {
                QVERIFY2(!seen.contains(model.text(r, 1)), qPrintable(model.text(r, 1)));
                seen.insert(model.text(r, 1));
            }
        };
        take(0);
        transaction(*db, "1", QVariant(), "US", Day2, false); // sorts first
        while (model.canFetchMore(QModelIndex())) {
            const int from = model.rowCount();
            model.fetchMore(QModelIndex());
            take(from);
        }
        QVERIFY(seen.contains(before));
    }

    // Thousands of rows scrolled through once in a grid: every row shown once, in the statement's
    // order, while the list holds only the rows near the screen; the workstation's own statements
    // halfway do not cut the list short; back at the top, the first rows show again.
    void scrollingTheListHoldsOnlyTheRowsNearTheScreen_data() { addBackendRows(); }
    void scrollingTheListHoldsOnlyTheRowsNearTheScreen()
    {
        ORV_FETCH_BACKEND(b);
        FreshDatabase fresh(b);
        auto db = openDepartmentDatabase(fresh.config());
        db->runInTransaction([&] {
            patient(*db, 1, "BB", "B", nullptr);
            for (int i = 0; i < 3000; ++i)
                transaction(*db, QString::number(10000 + i * 7 % 3000), "1", "US", i % 2 ? Day1 : Day2, i % 3 == 0);
        });
        SearchFilter f;
        f.modality = "US";
        const Statement s = searchStatement(db->backend(), f);
        QList<QStringList> expected;
        for (RecordSet rs = db->query(s.sql, s.params); !rs.eof(); rs.moveNext()) {
            expected << QStringList();
            for (int c = 0; c < TransactionListModel::ColumnCount; ++c)
                expected.last() << rs.text(c);
        }
        QCOMPARE(expected.size(), 3000);

        TransactionListModel model;
        QTableView view;
        view.setModel(&model);
        view.resize(800, 600);
        watchViewHeight(&view, &model);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(model.visibleRows() >= view.viewport()->height() / view.verticalHeader()->defaultSectionSize());
        model.search(*db, s);
        QMap<int, QStringList> shown;
        int mostHeld = 0;
        const auto showScreen = [&] {
            QCoreApplication::processEvents();
            view.viewport()->repaint();
            mostHeld = std::max(mostHeld, model.heldRows());
            const int top = view.rowAt(0);
            int bottom = view.rowAt(view.viewport()->height() - 1);
            if (bottom < 0)
                bottom = model.rowCount() - 1;
            for (int r = top; r >= 0 && r <= bottom; ++r) {
                QStringList row;
                for (int c = 0; c < TransactionListModel::ColumnCount; ++c)
                    row << model.data(model.index(r, c)).toString();
                shown[r] = row;
            }
        };
        QScrollBar *bar = view.verticalScrollBar();
        showScreen();
        bool others = false;
        for (int step = 0; bar->value() < bar->maximum() || model.canFetchMore(QModelIndex()); ++step) {
            QVERIFY2(step < 3000, "the grid stopped scrolling");
            if (!others && model.rowCount() > 1500) {
                QCOMPARE(db->query(s.sql, s.params).rowCount(), 3000);
                QVERIFY(!TransactionStore::NextTransNo(*db).isEmpty());
                others = true;
            }
            bar->setValue(bar->value() + bar->pageStep());
            showScreen();
        }
        QVERIFY(others);
        QCOMPARE(model.rowCount(), expected.size());
        for (int r = 0; r < expected.size(); ++r)
            QVERIFY2(shown.value(r) == expected[r], qPrintable(u"row %1: [%2], expected [%3]"_s.arg(r).arg(shown.value(r).join('|'), expected[r].join('|'))));
        QVERIFY2(mostHeld < 2 * model.visibleRows(), qPrintable(u"%1 rows held, %2 shown"_s.arg(mostHeld).arg(model.visibleRows())));

        shown.clear();
        bar->setValue(0);
        showScreen();
        QVERIFY(shown.size() > 10);
        for (auto it = shown.cbegin(); it != shown.cend(); ++it)
            QCOMPARE(it.value(), expected[it.key()]);
    }
};

ORV_TEST_MAIN(tst_TransactionList)
#include "tst_transactionlist.moc"
