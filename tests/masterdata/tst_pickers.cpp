// The patient, staff and exam windows and the pickers, driven through their controls offscreen
// on each backend.
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/Database.h"
#include "core/SharedState.h"
#include "masterdata/GridModel.h"
#include "masterdata/StaffPickers.h"
#include "masterdata/frmExamCoded.h"
#include "masterdata/frmExams.h"
#include "masterdata/frmPatient.h"
#include "masterdata/frmSelectPatient.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

using namespace orv;
using namespace orv::test;

namespace {
// The rows of the last search, every one fetched (a grid fetches only those it shows).
int allRows(GridModel *m)
{
    while (m->canFetchMore(QModelIndex()))
        m->fetchMore(QModelIndex());
    return m->rowCount();
}

QStringList column(GridModel *m, int c)
{
    QStringList out;
    for (int r = 0; r < allRows(m); ++r)
        out << m->text(r, c);
    return out;
}

// What a picker handed back, and how many times.
template<typename Choice>
struct Picked
{
    int calls = 0;
    std::optional<Choice> choice;
    PickDone<Choice> done()
    {
        return [this](const std::optional<Choice> &c) {
            ++calls;
            choice = c;
        };
    }
};

// The backend rows, each with every value of an int column.
void addBackendRowsTimes(const char *name, std::initializer_list<int> values)
{
    QTest::addColumn<int>("backend");
    QTest::addColumn<int>(name);
    const int pg = postgresPort() > 0 ? int(Backend::PostgreSQL) : (qEnvironmentVariableIntValue("ORV_REQUIRE_POSTGRES") ? -1 : 0);
    for (int v : values) {
        QTest::addRow("sqlite/%s=%d", name, v) << int(Backend::SQLite) << v;
        if (pg != 0)
            QTest::addRow("postgres/%s=%d", name, v) << pg << v;
    }
}
} // namespace

class tst_Pickers : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    ScriptedPrompter *m_prompter = nullptr;

    Connection &db() { return state().db(); }

    void login(Backend b)
    {
        QVERIFY(loginOnFreshDatabase(m_db, b, [](Connection &db) { seedDemoData(db); }));
    }

    int count(const QString &sql, const QVariantList &params = {}) { return db().query(sql, params).rowCount(); }
    // The first row's values as texts.
    QStringList rowTexts(const QString &sql, const QVariantList &params = {})
    {
        RecordSet rs = db().query(sql, params);
        QStringList out;
        for (int c = 0; c < rs.columns().size(); ++c)
            out << rs.text(c);
        return out;
    }

    // A search that found nothing: a disabled two-row grid.
    static bool emptyGrid(QTableView *grid) { return !grid->isEnabled() && grid->model()->rowCount() == 1; }

private slots:
    void init() { m_prompter = ScriptedPrompter::install(); }
    void cleanup()
    {
        for (QWidget *w : std::initializer_list<QWidget *>{frmPatient::loaded(), frmPatient_Add::loaded(),
                                                           frmPatient_Edit::loaded(), frmSelectPatient::loaded(), frmSelectDoc::loaded(),
                                                           frmSelectRad::loaded(), frmSelectTech::loaded(), frmExams::loaded(),
                                                           frmExamCoded::loaded(), frmExamCode_Add::loaded(), frmExamCode_Edit::loaded()})
            delete w;
        resetState();
        m_db.reset();
    }

    // The register: search, add (with an id taken meanwhile), edit and the delete guard.
    void patientRegister_data() { addBackendRows(); }
    void patientRegister()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        frmPatient *w = frmPatient::instance();
        w->show();
        QCOMPARE(w->model()->rowCount(), 0); // empty until the first search
        w->btnSearch->click();
        QCOMPARE(allRows(w->model()), 30);
        QStringList names = column(w->model(), 2);
        QStringList sorted = names;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(names, sorted);
        typeText(w->txtSearch, QStringLiteral("o'b"));
        QTest::keyClick(w->txtSearch, Qt::Key_Return);
        QCOMPARE(column(w->model(), 2), QStringList{QStringLiteral("O'BRIEN")});

        // Add: generate, then the id is taken by another workstation before "&Add".
        w->btnAdd->click();
        frmPatient_Add *add = frmPatient_Add::loaded();
        QVERIFY(add && add->isVisible());
        add->btnRefresh->click();
        QCOMPARE(add->txtEmpID->text(), QStringLiteral("31"));
        add->btnAdd->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("First Name is required!"));
        typeText(add->txtFName, QStringLiteral("d'arcy"));
        typeText(add->txtMName, QStringLiteral("_x"));
        typeText(add->txtLName, QStringLiteral("100% o'neil"));
        QCOMPARE(add->txtLName->text(), QStringLiteral("100% O'NEIL"));
        add->dtBDate->setDate(QDate(1980, 2, 29));
        add->optFemale->setChecked(true);
        db().execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id, name_last) VALUES(31, 'ELSEWHERE')"));
        add->btnAdd->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Patient ID already exist!\nPlease click on refresh to get the latest ID."));
        QCOMPARE(count(QStringLiteral("SELECT 1 FROM pacs..tblPatient WHERE name_last = ?"), {QStringLiteral("100% O'NEIL")}), 0);
        add->txtEmpID->setText(QStringLiteral("3X"));              // not a number: the database refuses it
        add->btnAdd->click();
        QCOMPARE(m_prompter->shown.size(), 3);
        QVERIFY(add->isVisible());
        add->btnRefresh->click();
        add->btnAdd->click();
        QVERIFY(!add->isVisible());
        QCOMPARE(rowTexts(QStringLiteral("SELECT name_first, name_middle, date_birth, sex_type, by_created FROM pacs..tblPatient "
                                          "WHERE patient_id = 32")),
                 (QStringList{"D'ARCY", "_X", "02/29/1980", "F", "T01"}));

        // Typed % and _ are literal: "100%" finds the new name only, "_" finds nothing.
        w->txtSearch->setText(QStringLiteral("100%"));
        w->btnSearch->click();
        QCOMPARE(column(w->model(), 1), QStringList{QStringLiteral("32")});
        w->txtSearch->setText(QStringLiteral("_"));
        w->btnSearch->click();
        QVERIFY(emptyGrid(w->fgridUser));
        w->btnEdit->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("No record to edit!"));
        w->btnDelete->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("No record to delete!"));

        // Edit keeps apostrophes; a patient with a transaction cannot be deleted.
        w->txtSearch->setText(QStringLiteral("SANTOS"));
        w->btnSearch->click();
        QTest::keyClick(w->fgridUser, Qt::Key_Return);
        frmPatient_Edit *edit = frmPatient_Edit::loaded();
        QVERIFY(edit && edit->isVisible());
        QVERIFY(edit->txtFName->text() == QStringLiteral("MARIA") && edit->dtBDate->date() == QDate(1958, 3, 14)
                && edit->optFemale->isChecked());
        edit->txtLName->setText(QStringLiteral("SANTOS'; --"));
        edit->btnUpdate->click();
        QCOMPARE(db().query(QStringLiteral("SELECT name_last FROM pacs..tblPatient WHERE patient_id = 1")).text(0), QStringLiteral("SANTOS'; --"));
        QCOMPARE(column(w->model(), 2), QStringList{QStringLiteral("SANTOS'; --")}); // searched again
        w->btnDelete->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Record selected cannot be deleted because it is linked to another record!"));
        QCOMPARE(count(QStringLiteral("SELECT 1 FROM pacs..tblPatient WHERE patient_id = 1")), 1);

        w->txtSearch->setText(QStringLiteral("100% O"));
        w->btnSearch->click();
        m_prompter->buttonAnswers = {Prompter::No, Prompter::Yes};
        w->btnDelete->click();
        QCOMPARE(count(QStringLiteral("SELECT 1 FROM pacs..tblPatient WHERE patient_id = 32")), 1);
        w->btnDelete->click();
        QCOMPARE(count(QStringLiteral("SELECT 1 FROM pacs..tblPatient WHERE patient_id = 32")), 0);
        QVERIFY(emptyGrid(w->fgridUser));
    }

    // The patient picker on each source: the register, or the hospital master's in-patients
    // (name contains the text) and out-patients (name starts with it).
    void patientPicker_data() { addBackendRowsTimes("useHospPat", {0, 1}); }
    void patientPicker()
    {
        ORV_FETCH_BACKEND(b);
        QFETCH(int, useHospPat);
        login(b);
        const int source = useHospPat == 1 ? 0 : 1;
        Picked<PatientChoice> picked;
        frmSelectPatient::pick(nullptr, source, picked.done());
        frmSelectPatient *p = frmSelectPatient::loaded();
        QVERIFY(p && p->isVisible() && p->isModal());
        QCOMPARE(p->fraPatType->isVisible(), useHospPat == 1);
        p->btnClose->click();                           // cancel: no choice
        QCOMPARE(picked.calls, 1);
        QVERIFY(!picked.choice);

        frmSelectPatient::pick(nullptr, source, picked.done());
        if (useHospPat == 1) {
            p->optIN->setChecked(true);
            p->txtSearch->setText(QStringLiteral("UEV"));
            p->btnSearch->click();
            QCOMPARE(column(p->model(), 2), QStringList{QStringLiteral("VILLANUEVA")});
            p->optOut->setChecked(true);
            p->btnSearch->click();                      // starts with: nothing
            QVERIFY(emptyGrid(p->fgridUser));
            p->btnSelect->click();                      // no row: nothing happens
            QVERIFY(p->isVisible());
            p->txtSearch->setText(QStringLiteral("SAN"));
            p->btnSearch->click();
            QCOMPARE(column(p->model(), 2), QStringList{QStringLiteral("SANTOS")});
        } else {
            p->txtSearch->setText(QStringLiteral("SAN"));
            QTest::keyClick(p->txtSearch, Qt::Key_Return);
            QCOMPARE(column(p->model(), 2), QStringList{QStringLiteral("SANTOS")});
            QCOMPARE(column(p->model(), 0), column(p->model(), 1)); // both the registration number
        }
        QTest::keyClick(p->fgridUser, Qt::Key_Return);
        QVERIFY(!p->isVisible());
        QCOMPARE(picked.calls, 2);
        QVERIFY(picked.choice);
        const PatientChoice &c = *picked.choice;
        QCOMPARE((QStringList{c.hospNum, c.patientId, c.lastName, c.firstName, c.middleName, c.birthDate, c.sex, c.patType}),
                 (QStringList{useHospPat ? "D0000001" : "1", useHospPat ? "ID-00001" : "1", "SANTOS", "MARIA", "LOPEZ", "03/14/1958",
                              "F", useHospPat ? "O" : "I"}));
        QVERIFY(m_prompter->shown.isEmpty());

        // Opened again, it is empty: Enter cannot pick the previous patient a second time.
        frmSelectPatient::pick(nullptr, source, picked.done());
        QVERIFY(p->isVisible() && p->txtSearch->text().isEmpty() && emptyGrid(p->fgridUser));
        QTest::keyClick(p->fgridUser, Qt::Key_Return);
        p->btnSelect->click();
        QVERIFY(p->isVisible());
        p->btnClose->click();
        QCOMPARE(picked.calls, 3);
        QVERIFY(!picked.choice);
    }

    // The picker reads its lists through faster statements than the ones written for it: the
    // same rows, ordered as those order them; "%", "_", "[" and "!" typed match only themselves.
    void pickerStatementsReturnTheRowsAsWrittenTakingWildcardsLiterally_data() { addBackendRows(); }
    void pickerStatementsReturnTheRowsAsWrittenTakingWildcardsLiterally()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        // Visits and stays that the statements must leave out or list twice, a master row without
        // a name and a stay of a patient missing from the master.
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbOutPatient(HospNum, AdmDate, BillingDate) VALUES('D0000001', '01/02/2026', NULL)"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbPatient(HospNum, AdmDate, DcrDate) VALUES('D0000099', '01/02/2026', NULL)"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum, LastName) VALUES('D0000098', NULL)"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbOutPatient(HospNum, AdmDate, BillingDate) VALUES('D0000098', '01/02/2026', NULL)"));
        // A name holding the wildcards, in the register and in the master with a stay and a visit.
        db().execute(QStringLiteral("INSERT INTO pacs..tblPatient(patient_id, name_last) VALUES(97, '10%_A[B]!')"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum, LastName) VALUES('D0000097', '10%_A[B]!')"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbPatient(HospNum, AdmDate, DcrDate) VALUES('D0000097', '01/02/2026', NULL)"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbOutPatient(HospNum, AdmDate, BillingDate) VALUES('D0000097', '01/02/2026', NULL)"));
        auto rows = [&](const ListQuery &q) {
            auto cursor = db().openCursor(q.sql, q.params);
            QList<QStringList> out;
            while (cursor->fetch(100, out)) {
            }
            return out;
        };
        auto compareAll = [&](bool wildcardNamed) {
            for (int source : {0, 1}) {
                for (QChar type : {QLatin1Char('I'), QLatin1Char('O')}) {
                    if (source == 1 && type == QLatin1Char('O'))
                        continue; // the register has no patient types
                    for (const QString &text : {QString(), QStringLiteral("S"), QStringLiteral("AN"), QStringLiteral("O'"),
                                                QStringLiteral("ANT"), QStringLiteral("O'B"), QStringLiteral("10%"), QStringLiteral("\"A\"B"), QStringLiteral("%"),
                                                QStringLiteral("_"), QStringLiteral("%_A"), QStringLiteral("[B]"), QStringLiteral("!"), QStringLiteral("ZZ")}) {
                        const auto ours = rows(PatientStore::pickerSearch(b, source, type, text));
                        auto written = rows(PatientStore::pickerSearchAsWritten(source, type, text));
                        auto names = [](const QList<QStringList> &r) {
                            QStringList n;
                            for (const QStringList &row : r)
                                n << row.value(2);
                            return n;
                        };
                        QCOMPARE(names(ours), names(written)); // the order as written
                        // Typed wildcards are literal: in-patients by any part of the name, the others by its start.
                        const bool anyPart = source == 0 && type == QLatin1Char('I');
                        for (const QString &name : names(ours))
                            QVERIFY2(anyPart ? name.contains(text, Qt::CaseInsensitive) : name.startsWith(text, Qt::CaseInsensitive),
                                     qPrintable(text + QStringLiteral(" found ") + name));
                        if (wildcardNamed && (text.contains(QLatin1Char('%')) || text.contains(QLatin1Char('_'))))
                            QCOMPARE(names(ours).contains(QStringLiteral("10%_A[B]!")), anyPart || text.startsWith(QLatin1Char('1')));
                        auto sorted = ours;
                        std::sort(sorted.begin(), sorted.end());
                        std::sort(written.begin(), written.end());
                        QCOMPARE(sorted, written);
                    }
                }
            }
        };
        compareAll(true);
        QCOMPARE(rows(PatientStore::pickerSearch(b, 0, QLatin1Char('O'), QStringLiteral("SANTOS"))).size(), 2);
        // The stays and visits follow their patient's master row: renamed, registered after
        // the stay, removed, or a stay moved to another patient.
        db().execute(QStringLiteral("UPDATE Patient_Data..tbMaster SET LastName = 'ANTONIO' WHERE HospNum = 'D0000097'"));
        db().execute(QStringLiteral("INSERT INTO Patient_Data..tbMaster(HospNum, LastName) VALUES('D0000099', 'SANTIAGO')"));
        db().execute(QStringLiteral("DELETE FROM Patient_Data..tbMaster WHERE HospNum = 'D0000001'"));
        db().execute(QStringLiteral("UPDATE Patient_Data..tbOutPatient SET HospNum = 'D0000099' WHERE HospNum = 'D0000098'"));
        compareAll(false);
        QCOMPARE(rows(PatientStore::pickerSearch(b, 0, QLatin1Char('I'), QStringLiteral("TIA"))).size(), 1);
        QCOMPARE(rows(PatientStore::pickerSearch(b, 0, QLatin1Char('O'), QStringLiteral("SANTIAGO"))).size(), 1);
        QCOMPARE(rows(PatientStore::pickerSearch(b, 0, QLatin1Char('I'), QStringLiteral("10%"))).size(), 0);
    }

    // Doctor and radiologist pickers: search, select, cancel, empty results, and the choice
    // handed back.
    void doctorPickers_data() { addBackendRows(); }
    void doctorPickers()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        Picked<DoctorChoice> doc;
        frmSelectDoc::pick(nullptr, doc.done());
        frmSelectDoc *d = frmSelectDoc::loaded();
        QVERIFY(d && d->isVisible());
        QCOMPARE(allRows(d->model()), 8);              // the empty name lists every active doctor
        QTest::keyClick(d->txtSearch, Qt::Key_Escape);   // closes without a pick
        QVERIFY(!d->isVisible());
        QVERIFY(doc.calls == 1 && !doc.choice);

        frmSelectDoc::pick(nullptr, doc.done());
        for (const char *nothing : {"ZZZ", "%", "_ONZAGA", "O'"}) {
            d->txtSearch->setText(QLatin1String(nothing));
            d->btnSearch->click();
            QVERIFY2(emptyGrid(d->fgridDoc) && !d->btnSelect->isEnabled(), nothing);
        }
        d->txtSearch->clear();
        typeText(d->txtSearch, QStringLiteral("gon"));
        d->btnSearch->click();
        QCOMPARE(column(d->model(), 2), QStringList{QStringLiteral("1004")});
        d->btnSelect->click();
        QVERIFY(doc.calls == 2 && doc.choice);
        QCOMPARE(doc.choice->code + '|' + doc.choice->name, QStringLiteral("1004|GONZAGA, PAOLO R"));

        Picked<DoctorChoice> rad;
        frmSelectRad::pick(nullptr, rad.done());
        frmSelectRad *r = frmSelectRad::loaded();
        QCOMPARE(column(r->model(), 2), (QStringList{QStringLiteral("1002"), QStringLiteral("1003"), QStringLiteral("1001")}));
        r->chkAllDoctors->setChecked(false);
        r->btnSearch->click();
        QCOMPARE(allRows(r->model()), 8);
        r->txtSearch->setText(QStringLiteral("SOR"));
        r->chkAllDoctors->setChecked(true);
        r->btnSearch->click();                             // not a radiologist
        QVERIFY(emptyGrid(r->fgridUser) && !r->btnSelect->isEnabled());
        r->txtSearch->setText(QStringLiteral("OKA"));
        r->btnSearch->click();
        r->txtSearch->setFocus();
        QTest::keyClick(r->txtSearch, Qt::Key_Down);       // as in the doctor picker: on to the grid
        QCOMPARE(r->focusWidget(), r->fgridUser);
        QTest::keyClick(r->fgridUser, Qt::Key_Return);
        QVERIFY(rad.calls == 1 && rad.choice);
        QCOMPARE(rad.choice->code + '|' + rad.choice->name, QStringLiteral("1003|OKAFOR, NNAMDI "));
        QVERIFY(!r->isVisible());
        QVERIFY(m_prompter->shown.isEmpty());
    }

    // The database gone while a picker is open: the description is shown, the window stays
    // usable, and nothing is written.
    void databaseGoneWhilePicking()
    {
        login(Backend::SQLite);
        Picked<TechnologistChoice> tech;
        frmSelectTech::pick(nullptr, tech.done());
        frmSelectTech *t = frmSelectTech::loaded();
        QCOMPARE(allRows(t->model()), 7);
        db().database().close();
        t->txtExamIDAdd->setText(QStringLiteral("1199"));
        t->cmdAdd->click();
        QCOMPARE(m_prompter->shown.size(), 1);
        t->btnSearch->click();
        QCOMPARE(m_prompter->shown.size(), 2);
        QVERIFY(emptyGrid(t->fgridUser));
        QVERIFY(t->isVisible());
        t->btnClose->click();
        QVERIFY(tech.calls == 1 && !tech.choice);
        auto again = openDepartmentDatabase(m_db->config());
        QVERIFY(again->query(QStringLiteral("SELECT 1 FROM pacs..tblTechnologist WHERE technologist_id = '1199'")).isEmpty());
    }
};

ORV_TEST_MAIN(tst_Pickers)
#include "tst_pickers.moc"
