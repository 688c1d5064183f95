// The main window and the transaction editor, driven through their controls offscreen.
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/Database.h"
#include "outside/Error.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "core/frmServer.h"
#include "transactions/TransactionListModel.h"
#include "transactions/frmMain.h"
#include "imagestore/ctlImageList.h"
#include "transactions/frmReport.h"
#include "transactions/ResultReport.h"
#include "transactions/frmTransaction.h"
#include "masterdata/StaffPickers.h"
#include "masterdata/frmExamCoded.h"
#include "masterdata/frmSelectPatient.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

using namespace orv;
using namespace orv::test;

class tst_Editor : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    ScriptedPrompter *m_prompter = nullptr;

    Connection &db() { return state().db(); }

    void login(Backend b)
    {
        QVERIFY(loginOnFreshDatabase(m_db, b, [](Connection &db) {
            seedDemoData(db);
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransaction"));
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransNo"));
            db.execute(QStringLiteral("UPDATE build_file..tbcoDoctor SET userid = 'T01' WHERE DoctorID = '1002'"));
        }));
        state().EmployeeName = QStringLiteral("Joy Manalo");
        state().UserDoctorId = QStringLiteral("1002");
        state().UserDoctorName = QStringLiteral("LIM, CATHERINE S");
    }

    void closeAll()
    {
        session().jobs().waitForIdle(60000); // a report being stored uses the database
        delete frmTransaction::loaded();
        delete frmMain::loaded();
        for (QWidget *picker : std::initializer_list<QWidget *>{frmSelectPatient::loaded(), frmSelectDoc::loaded(), frmExamCoded::loaded()})
            delete picker;
        delete frmLog::existing();
        resetState();
        m_db.reset();
    }

    QStringList listedNumbers(frmMain *main)
    {
        QStringList out;
        for (int r = 0; r < main->model()->rowCount(); ++r)
            out << main->model()->text(r, 1);
        return out;
    }

private slots:
    void init() { m_prompter = ScriptedPrompter::install(); }
    void cleanup() { closeAll(); }

    void newSaveSearchAndReopen_data() { addBackendRows(); }
    void newSaveSearchAndReopen()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        frmMain *main = frmMain::instance();
        main->show();
        QTRY_COMPARE(main->fgridPacs->focusPolicy(), Qt::NoFocus); // the first search found nothing
        QVERIFY(main->model()->rowCount() == 0 && !main->sbtnView->isEnabled());

        main->cmdAcquire->click();
        frmTransaction *ed = frmTransaction::loaded();
        QVERIFY(ed && ed->isVisible());
        QCOMPARE(ed->txtTransDate->text(), QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy")));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9.]{10,64}$")).match(ed->txtStudyUID->text()).hasMatch());
        QVERIFY(ed->txtSeriesUID->text() != ed->txtStudyUID->text());
        QCOMPARE(ed->txtRadId->text(), QStringLiteral("1002"));      // the user's own doctor row

        ed->btnRefresh->click();                                    // "generate"
        QCOMPARE(ed->txtTransNo->text(), QStringLiteral("1"));
        // In the department register the hospital number field carries the registration number.
        ed->txtHospNum->setText(QStringLiteral("3"));
        ed->txtPatientID->setText(QStringLiteral("3"));
        typeText(ed->txtExamId, QStringLiteral("us01"));
        ed->txtExamId_LostFocus();
        QCOMPARE(ed->txtExamName->text(), QStringLiteral("ABDOMEN, WHOLE"));
        typeText(ed->txtDocID, QStringLiteral("1004"));
        ed->txtDocID_LostFocus();
        QCOMPARE(ed->txtDocName->text(), QStringLiteral("GONZAGA, PAOLO R"));
        typeText(ed->txtFileNo, QStringLiteral("f-12"));
        QCOMPARE(ed->txtFileNo->text(), QStringLiteral("F-12"));
        QVERIFY(!ed->isSaved());
        ed->cmdSaveTrans->click();
        QVERIFY(m_prompter->shown.isEmpty());
        QVERIFY(!ed->isSaved());         // "&Save" leaves the editor unsaved after saving
        QVERIFY(ed->fraInt->isEnabled());

        main->txtLastname->setText(QStringLiteral("O'BR"));
        main->btnFilter->click();
        QCOMPARE(listedNumbers(main), QStringList{QStringLiteral("1")});
        QVERIFY(main->sbtnView->isEnabled());
        QCOMPARE(main->model()->text(0, 5), QStringLiteral("O'BRIEN"));
        QCOMPARE(main->model()->text(0, 10), QStringLiteral("ABDOMEN, WHOLE"));

        const QString study = ed->txtStudyUID->text();
        ed->close();
        QTRY_VERIFY(frmTransaction::loaded() == nullptr);
        const QPoint cell = main->fgridPacs->visualRect(main->model()->index(0, 1)).center();
        QTest::mouseClick(main->fgridPacs->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(main->fgridPacs->viewport(), Qt::LeftButton, {}, cell);
        ed = frmTransaction::loaded();
        QVERIFY(ed);
        // The stored fields come back; the patient block comes from the register.
        QCOMPARE((QStringList{ed->txtTransNo->text(), ed->txtHospNum->text(), ed->txtExamName->text(), ed->txtDocName->text(),
                              ed->txtRadName->text(), ed->txtFileNo->text(), ed->txtStudyUID->text(), ed->GetPatName()}),
                 (QStringList{"1", "3", "ABDOMEN, WHOLE", "GONZAGA, PAOLO R", "LIM, CATHERINE S", "F-12", study, "O'BRIEN^SEAN^PATRICK"}));
        QVERIFY(ed->isSaved() && !ed->cmdSaveTrans->isEnabled());
        QVERIFY(m_prompter->shown.isEmpty());
    }

    void requiredFieldsAndUnknownNumbers()
    {
        login(Backend::SQLite);
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtPatientID->setText(QStringLiteral("3"));
        ed->cmdSaveTrans->click();
        QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("Patient ID is required!")});
        QCOMPARE(m_prompter->shown.last().icon, Prompter::Icon::Critical);
        ed->txtHospNum->setText(QStringLiteral("D0000003"));
        ed->cmdSaveTrans->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Accession Num is required!"));
        QVERIFY(db().query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction")).isEmpty());

        // A number not found leaves the exam shown as it was, its rows included.
        ed->txtFileNo->setText(QStringLiteral("KEEP"));
        session().openRows()->append(ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), state().TempFolder,
                                                    QStringLiteral("kept.dcm"), QString()));
        ed->LoadTransaction(QStringLiteral("404"));
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Transaction No. not found!"));
        QCOMPARE(ed->txtFileNo->text(), QStringLiteral("KEEP"));
        QVERIFY(ed->isSaved());
        QCOMPARE(ed->ctlImageList1->rowCount(), 1);
        session().openRows()->clear();

        // Clearing the registration number clears the patient block.
        ed->txtLName->setText(QStringLiteral("X"));
        ed->txtBDate->setText(QStringLiteral("01/01/2000"));
        ed->txtPatientID->setText(QStringLiteral("  "));
        QCOMPARE(ed->txtLName->text(), QString());
        QCOMPARE(ed->txtBDate->text(), QString());
        QCOMPARE(ed->txtPatientID->text(), QString());
    }

    // Every stored field takes hostile text as typed and gives it back exactly.
    void hostileTextRoundTrips_data() { addBackendRows(); }
    void hostileTextRoundTrips()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        const QString no = QStringLiteral("A'1;--%_[");
        ed->txtTransNo->setText(no);
        ed->txtPatientID->setText(QStringLiteral("O'Brien\"x"));
        ed->txtHospNum->setText(QStringLiteral("Müller;--"));
        ed->txtExamType->setText(QStringLiteral("中村"));
        ed->txtFileNo->setText(QStringLiteral("100%_[]\t'"));
        ed->txtUserId->setText(QStringLiteral("'); DROP--"));
        ed->txtStudyUID->setText(QStringLiteral("1.2.3'4"));
        // Identifiers that are looked up are erased when unknown, so they hold only what the
        // key filters let through; the stored values are exactly what was typed.
        ed->txtExamId->clear();
        ed->txtDocID->clear();
        ed->txtTechID->clear();
        ed->txtRadId->clear();
        ed->cmdSaveTrans->click();
        QVERIFY2(frmLog::existing() == nullptr, qPrintable(frmLog::existing() ? frmLog::existing()->text() : QString()));
        for (QLineEdit *e : {ed->txtPatientID, ed->txtHospNum, ed->txtExamType, ed->txtFileNo, ed->txtUserId, ed->txtStudyUID})
            e->setText(QStringLiteral("changed"));
        db().execute(QStringLiteral("INSERT INTO pacs..tblFile (trans_no,server_name,server_folder,filedir,filename,compname,user_id) "
                                    "VALUES(?,?,?,?,?,?,?)"),
                     {no, QStringLiteral("srv"), QStringLiteral("img\\US"), QStringLiteral("2026\\2026-12-05\\x"),
                      QStringLiteral("o'k.dcm"), QStringLiteral("ws"), QStringLiteral("T01")});
        ed->LoadTransaction(no);
        // Loading lists the transaction's stored files.
        QVERIFY2(ed->ctlImageList1->rowCount() == 1, qPrintable(m_prompter->messages().join(QLatin1Char('|'))));
        QCOMPARE(ed->ctlImageList1->row(1).fileName, QStringLiteral("o'k.dcm"));
        QCOMPARE(ed->ctlImageList1->row(1).status, QStringLiteral("Saved"));
        QCOMPARE(ed->txtTransNo->text(), no);
        QCOMPARE(ed->txtPatientID->text(), QStringLiteral("O'Brien\"x"));
        QCOMPARE(ed->txtHospNum->text(), QStringLiteral("Müller;--"));
        QCOMPARE(ed->txtExamType->text(), QStringLiteral("中村"));
        QCOMPARE(ed->txtFileNo->text(), QStringLiteral("100%_[]\t'"));
        QCOMPARE(ed->txtUserId->text(), QStringLiteral("'); DROP--"));
        QCOMPARE(ed->txtStudyUID->text(), QStringLiteral("1.2.3'4"));
        // Opening it is audited under the hospital number, in a message the schema accepts.
        const QStringList opened = auditMessages().filter(QStringLiteral("originalText=\"Patient Record\""));
        QVERIFY(!opened.isEmpty() && opened.last().contains(QStringLiteral("ParticipantObjectID=\"Müller;--\"")));
        QCOMPARE(invalidAuditMessages({opened.last()}), QString());
        // A second save of the same number updates the row.
        QVERIFY(!ed->cmdSaveTrans->isEnabled());
        ed->txtFileNo->clear();
        typeText(ed->txtFileNo, QStringLiteral("f2"));
        ed->cmdSaveTrans->click();
        RecordSet rs = db().query(QStringLiteral("SELECT file_no FROM pacs..tblTransaction WHERE trans_no = ?"), {no});
        QCOMPARE(rs.rowCount(), 1);
        QCOMPARE(rs.text(QStringLiteral("file_no")), QStringLiteral("F2"));
    }

    void interpretationIsSavedExactlyAndPrintsTheResultReport_data() { addBackendRows(); }
    void interpretationIsSavedExactlyAndPrintsTheResultReport()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        state().CompanyName = QStringLiteral("St. Luke's Medical Center");
        const QString reportFile = ResultReport::path();
        QFile::remove(reportFile);
        QVERIFY(QFile::copy(QStringLiteral(ORV_SOURCE_DIR "/resources/ResultPrintSQL.rpt"), reportFile));

        frmTransaction *ed = frmTransaction::instance();
        ed->show();
        ed->NewTransaction();
        ed->txtTransNo->setText(QStringLiteral("77"));
        ed->txtHospNum->setText(QStringLiteral("H1"));
        ed->txtPatientID->setText(QStringLiteral("REG"));
        ed->cmdSaveTrans->click();
        QVERIFY(ed->cmdSave->isEnabled() && ed->cmdSavePrint->isEnabled());

        // Nothing is written without a text.
        ed->txtInterpret->setPlainText(QStringLiteral("  \n "));
        ed->cmdSave->click();
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Interpretation is required!"));
        QCOMPARE(m_prompter->shown.last().icon, Prompter::Icon::Critical);
        ed->cmdSavePrint->click();
        QCOMPARE(m_prompter->shown.size(), 2);
        QVERIFY(!ed->findChild<frmReport *>());
        QCOMPARE(db().query(QStringLiteral("SELECT by_interpret FROM pacs..tblTransaction WHERE trans_no='77'")).text(0), QString());

        const QString text = QStringLiteral("O'Brien's \"cyst\" -- 2 cm;\nMüller Ωμέγα 所见 ' OR 1=1 --");
        ed->txtInterpret->setPlainText(text);
        ed->txtRadId->setText(QStringLiteral("1004"));
        // An accession number no stored exam has: refused, and the text stays.
        ed->txtTransNo->setText(QStringLiteral("78"));
        ed->cmdSave->click();
        QVERIFY(m_prompter->lastMessage().startsWith(QStringLiteral("The interpretation is not saved")));
        QCOMPARE(ed->txtInterpret->toPlainText(), text);
        ed->txtTransNo->setText(QStringLiteral("77"));
        ed->cmdSave->click();
        const QString today = QDate::currentDate().toString(QStringLiteral("MM/dd/yyyy"));
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Interpretation saved. by: T01 (") + today + QLatin1Char(')'));
        QCOMPARE(m_prompter->shown.last().icon, Prompter::Icon::None);
        RecordSet rs = db().query(QStringLiteral("SELECT interpretation,radiologist_id,by_interpret,date_interpret FROM pacs..tblTransaction "
                                                 "WHERE trans_no='77'"));
        QCOMPARE(rs.text(0), text);
        QCOMPARE(rs.text(1), QStringLiteral("1004"));
        QCOMPARE(rs.text(2), QStringLiteral("T01"));
        QCOMPARE(rs.text(3), today);

        // The report shows the patient as the editor does: a blank hospital number prints " (REG)",
        // the name "LAST, FIRST", a DICOM birth date as the editor's date.
        ed->txtHospNum->clear();
        ed->txtLName->setText(QStringLiteral("O'BRIEN"));
        ed->txtFName->setText(QStringLiteral("MÜLLER"));
        ed->txtBDate->setText(QStringLiteral("19711102"));
        ed->txtRadName->setText(QStringLiteral("GONZAGA, PAOLO R"));
        ed->txtIntBy->setText(QStringLiteral("Joy Manalo 12/01/2026"));
        const int shownBefore = int(m_prompter->shown.size());
        ed->cmdSavePrint->click();
        QCOMPARE(m_prompter->shown.size(), shownBefore); // no message
        auto *w = ed->findChild<frmReport *>();
        QVERIFY(w && w->isVisible() && w->isModal());
        QCOMPARE(w->windowTitle(), QStringLiteral("Result: O'BRIEN, MÜLLER"));
        QCOMPARE(w->report().fieldValue(QStringLiteral("Int")), text);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("result.pdf"));
        m_prompter->fileAnswers << pdf;
        w->cmdSavePdf->click();
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(30000) && p.exitCode() == 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        for (const QString &expected :
             {QStringLiteral("St. Luke's Medical Center"), QStringLiteral("Patient:   O'BRIEN, MÜLLER"), QStringLiteral("Patient ID:  (REG)"), QStringLiteral("11/02/1971"),
              QStringLiteral("Trans. No.:  77"), QStringLiteral("Result:  Joy Manalo 12/01/2026"), QStringLiteral("O'Brien's \"cyst\" -- 2 cm;"),
              QStringLiteral("Müller Ωμέγα"), QStringLiteral("' OR 1=1 --"), QStringLiteral("Dr. GONZAGA, PAOLO R")})
            QVERIFY2(out.simplified().contains(expected.simplified()), qPrintable(expected + QStringLiteral(" not in:\n") + out));
        w->close();
        QTRY_VERIFY(!ed->findChild<frmReport *>());

        // A missing report file stops the print with the reason; the text is saved all the same.
        QFile::remove(reportFile);
        ed->txtInterpret->setPlainText(QStringLiteral("second"));
        ed->cmdSavePrint->click();
        QVERIFY2(m_prompter->lastMessage().contains(QStringLiteral("ResultPrintSQL.rpt")), qPrintable(m_prompter->lastMessage()));
        QVERIFY(!ed->findChild<frmReport *>());
        QCOMPARE(db().query(QStringLiteral("SELECT interpretation FROM pacs..tblTransaction WHERE trans_no='77'")).text(0),
                 QStringLiteral("second"));

        if (b == Backend::PostgreSQL) {
            // The report's logon is refused with the server's reason (orv_secure needs its password).
            Report report = Report::open(QStringLiteral(ORV_SOURCE_DIR "/resources/ResultPrintSQL.rpt"));
            const ConnectionConfig c = db().config();
            report.logOn(c, c.host, QStringLiteral("orv_secure"), QStringLiteral("right-password"));
            try {
                report.logOn(c, c.host, QStringLiteral("orv_secure"), QStringLiteral("wrong password"));
                QFAIL("a wrong password was accepted");
            } catch (const orv::Error &e) {
                QVERIFY2(e.description().contains(QStringLiteral("password"), Qt::CaseInsensitive), qPrintable(e.description()));
            }
        }
    }

    void lookupsEraseUnknownIdentifiers()
    {
        login(Backend::SQLite);
        frmTransaction *ed = frmTransaction::instance();
        ed->txtDocName->setText(QStringLiteral("KEPT"));
        ed->txtDocID->clear();
        ed->txtDocID_LostFocus();                  // blank: no query, the name stays
        QCOMPARE(ed->txtDocName->text(), QStringLiteral("KEPT"));
        ed->txtDocID->setText(QStringLiteral("9999"));
        ed->txtDocID_LostFocus();
        QCOMPARE(ed->txtDocID->text(), QString());
        QCOMPARE(ed->txtDocName->text(), QString());
        ed->txtRadId->setText(QStringLiteral("0"));
        ed->txtRadName->setText(QStringLiteral("NONE"));
        ed->txtRadId_LostFocus();                  // "0" is not looked up
        QCOMPARE(ed->txtRadId->text(), QStringLiteral("0"));
        QCOMPARE(ed->txtRadName->text(), QStringLiteral("NONE"));
        ed->txtRadId->setText(QStringLiteral("1001"));
        ed->txtRadId_LostFocus();
        QCOMPARE(ed->txtRadName->text(), QStringLiteral("VALDEZ, RICARDO M"));
        ed->txtExamId->setText(QStringLiteral("NOPE"));
        ed->txtExamId_LostFocus();
        QCOMPARE(ed->txtExamId->text(), QString());
        ed->txtTechID->setText(QStringLiteral("77"));
        ed->txtTechID_LostFocus();
        QCOMPARE(ed->txtTechID->text(), QString());
        QVERIFY(m_prompter->shown.isEmpty());

        // Typing in a looked-up field marks the transaction unsaved.
        ed->LoadTransaction(QString());
        QVERIFY(ed->isSaved());
        typeText(ed->txtTechID, QStringLiteral("1"));
        QVERIFY(!ed->isSaved());
    }

    // Tab in an empty field opens its picker; what is picked fills the editor and the next field
    // takes the focus; a picker closed without a choice leaves the field as it was and focused.
    void pickersFillTheEditor()
    {
        login(Backend::SQLite);
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        QVERIFY(QTest::qWaitForWindowActive(ed));
        ed->txtPatientID->setFocus();
        QTest::keyClick(ed->txtPatientID, Qt::Key_Tab);
        frmSelectPatient *p = frmSelectPatient::loaded();
        QVERIFY(p && p->isVisible());
        p->txtSearch->setText(QStringLiteral("SAN"));
        p->btnSearch->click();
        QTest::keyClick(p->fgridUser, Qt::Key_Return);
        QCOMPARE((QStringList{ed->txtPatientID->text(), ed->txtLName->text(), ed->txtFName->text(), ed->txtBDate->text(), ed->txtGender->text()}),
                 (QStringList{"1", "SANTOS", "MARIA", "03/14/1958", "F"}));
        QTRY_COMPARE(QApplication::focusWidget(), ed->txtFileNo);

        ed->txtDocID->setText(QStringLiteral("1005"));
        ed->btnDocID->click();
        frmSelectDoc *d = frmSelectDoc::loaded();
        QTest::keyClick(d->txtSearch, Qt::Key_Escape);
        QTRY_COMPARE(QApplication::focusWidget(), ed->txtDocID);
        QCOMPARE(ed->txtDocID->text(), QStringLiteral("1005"));
        ed->btnDocID->click();
        d->txtSearch->setText(QStringLiteral("GON"));
        d->btnSearch->click();
        d->btnSelect->click();
        QCOMPARE(ed->txtDocID->text() + '|' + ed->txtDocName->text(), QStringLiteral("1004|GONZAGA, PAOLO R"));
        QTRY_COMPARE(QApplication::focusWidget(), ed->txtTechID);

        // The coded interpretations open at the editor's exam and radiologist.
        ed->txtExamId->setText(QStringLiteral("US01"));
        ed->txtExamId_LostFocus();
        ed->txtTransNo->setText(QStringLiteral("57"));
        QVERIFY(ed->SaveTrans());                  // the interpretation opens once the exam is saved
        ed->txtInterpret->setPlainText(QStringLiteral("KEPT"));
        ed->cmdCoded->click();
        frmExamCoded *c = frmExamCoded::loaded();
        QVERIFY(c && c->isVisible() && c->btnSelect->isVisible());
        QCOMPARE((QStringList{c->txtExamCode->text(), c->txtSearch->text(), c->txtUserId->text()}),
                 (QStringList{"US01", "ABDOMEN, WHOLE", "1002"}));
        c->btnClose->click();
        QCOMPARE(ed->txtInterpret->toPlainText(), QStringLiteral("KEPT"));
        QVERIFY(m_prompter->shown.isEmpty());
    }

    // A database that goes away: the save is logged with the database's description, nothing
    // is half-written, the list reports the error, and the program goes on.
    void databaseGoneWhileEditing()
    {
        login(Backend::SQLite);
        frmMain *main = frmMain::instance();
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtTransNo->setText(QStringLiteral("55"));
        ed->txtHospNum->setText(QStringLiteral("D0000001"));
        QVERIFY(ed->SaveTrans());
        const int before = db().query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction")).rowCount();
        db().database().close();
        ed->txtFileNo->clear();
        typeText(ed->txtFileNo, QStringLiteral("LOST"));
        QVERIFY(!ed->SaveTrans());
        QVERIFY(!ed->isSaved());
        const QString log = frmLog::instance()->text();
        QVERIFY2(log.startsWith(QStringLiteral("\nCannot save, check field sizes.")) && log.size() > 40, qPrintable(log));
        main->btnFilter->click();
        QVERIFY(!m_prompter->lastMessage().isEmpty());
        QCOMPARE(main->model()->rowCount(), 0);
        auto again = openDepartmentDatabase(m_db->config());
        QCOMPARE(again->query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction")).rowCount(), before);
        QVERIFY(again->query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction WHERE file_no = 'LOST'")).isEmpty());
    }

    // A value too long for its column: the database refuses it and the save is logged.
    void tooLongValueIsLogged()
    {
        login(Backend::SQLite);
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtTransNo->setText(QStringLiteral("56"));
        ed->txtHospNum->setText(QStringLiteral("D0000001-TOO-LONG"));
        ed->cmdSaveTrans->click();
        QVERIFY(frmLog::instance()->text().startsWith(QStringLiteral("\nCannot save, check field sizes.")));
        QVERIFY(db().query(QStringLiteral("SELECT trans_no FROM pacs..tblTransaction")).isEmpty());
        // Capture never starts into an exam the database does not hold.
        const int shown = int(m_prompter->shown.size());
        ed->btnProceed->click();
        QCOMPARE(int(m_prompter->shown.size()), shown); // not even "Capture is not available ..."
        QVERIFY(ed->btnPatient->isEnabled());
    }
};

ORV_TEST_MAIN(tst_Editor)
#include "tst_editor.moc"
