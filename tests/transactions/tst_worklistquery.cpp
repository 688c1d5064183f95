// The worklist window opened from the editor, against wlmscpfs: search, choose, verify and accept
// into a new transaction on each database backend, and the objects stamped for it afterwards.
#include "Peers.h"
#include "Pictures.h"

#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/Database.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "dicomnet/Worklist.h"
#include "dicomnet/frmWorklistQuery.h"
#include "imagestore/IdentityStamp.h"
#include "masterdata/MasterDataStore.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"
#include "transactions/frmTransaction.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::test;
using namespace Qt::StringLiterals;

namespace {

const QString kStudyUid = u"1.2.826.0.1.3680043.9.7777.5001"_s;

// accession, patient id, name, doctor, proc code, proc desc; the modality is only in the step.
bool writeEntry(const QString &folder, const QStringList &e)
{
    return writeWorklistFile(u"(0008,0005) CS [ISO_IR 100]\n(0008,0020) DA [20261205]\n(0008,0050) SH [%1]\n(0008,0090) PN [%4]\n"
                             "(0010,0010) PN [%3]\n(0010,0020) LO [%2]\n(0010,0030) DA [19800214]\n(0010,0040) CS [F]\n"
                             "(0020,000d) UI [%7]\n(0032,1032) PN [REQUESTER]\n(0032,1060) LO [%6]\n(0040,0100) SQ\n"
                             "(fffe,e000) -\n(0008,0060) CS [US]\n(0040,0001) AE [STATION1]\n(0040,0002) DA [20261205]\n"
                             "(0040,0003) TM [0915]\n(0040,0006) PN [PERFORMER]\n(0040,0007) LO [%6]\n(0040,0009) SH [SPS%1]\n"
                             "(0040,0010) SH [ROOM1]\n(0040,0011) SH [FLOOR1]\n(0040,0012) LO\n(0040,0400) LT\n(fffe,e00d) -\n"
                             "(fffe,e0dd) -\n(0040,1001) SH [%5]\n(0040,1003) SH [LOW]\n"_s
                                 .arg(e[0], e[1], e[2], e[3], e[4], e[5], kStudyUid),
                             folder + u"/"_s + e[0] + u".wl"_s);
}

// Rows of the patient register, the exams and the doctor master together.
int masterRows()
{
    int n = 0;
    for (const QString &table : {u"pacs..tblPatient"_s, u"pacs..tblExam"_s, u"build_file..tbcoDoctor"_s})
        n += state().db().query(u"SELECT COUNT(*) AS n FROM "_s + table).text(u"n"_s).toInt();
    return n;
}

} // namespace

class tst_WorklistQuery : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    std::unique_ptr<PeerProcess> m_peer;
    ScriptedPrompter *m_prompter = nullptr;

    // The editor on a new transaction and its worklist window, searched by name.
    frmWorklistQuery *search(const QString &name)
    {
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->cmdWorklist->click();
        auto *w = frmWorklistQuery::loaded();
        if (!w)
            return nullptr;
        w->PatientName->setText(name);
        w->StudyDate->setText(u"12/05/2026"_s);
        w->RunMWL->click();
        return w;
    }
    static void choose(frmWorklistQuery *w, int row)
    {
        w->Grid1->selectRow(row);
        w->cmdSelect->click();
    }

private slots:
    void initTestCase()
    {
        m_peer = PeerProcess::wlmscpfs(u"WLMTEST"_s);
        QVERIFY(m_peer->isRunning());
        const QString folder = m_peer->folder() + u"/db/WLMTEST"_s;
        QVERIFY(writeEntry(folder, {u"W1"_s, u"5001"_s, u"NEWMAN^NORA^N"_s, u"7001^DOC^NEW^X"_s, u"RPNEW"_s, u"NEW PROC"_s}));
        QVERIFY(writeEntry(folder, {u"W2"_s, u"4001"_s, u"KNOWN^KAY"_s, u"1004^GONZAGA^PAOLO^R"_s, u"US01"_s, u"OTHER NAME"_s}));
        QVERIFY(writeEntry(folder, {u"W3"_s, u"4001"_s, u"OTHER^OLGA"_s, u"7002^DOC^TWO"_s, u"RPTWO"_s, u"TWO"_s}));
        QVERIFY(writeEntry(folder, {u"W4"_s, u"H-77"_s, u"NAMESAKE^NINA^N"_s, u"1004^GONZAGA^PAOLO^R"_s, u"US01"_s, u"X"_s}));
    }
    // A provider's line breaks, tabs and terminal escapes reach the grid as U+FFFD.
    void gridShowsControlCharactersAsReplacement()
    {
        WorklistModel model;
        WorklistAnswer a;
        a.cells = QStringList(12, QString());
        a.cells[WorklistAnswer::PatientName] = u"EVIL\x1b[2J^NAME\nX\tY"_s;
        model.append({a});
        QCOMPARE(model.data(model.index(0, WorklistAnswer::PatientName), Qt::DisplayRole).toString(), u"EVIL\uFFFD[2J^NAME\uFFFDX\uFFFDY"_s);
    }
    void cleanupTestCase()
    {
        m_peer.reset();
        resetState();
    }

    void acceptFillsANewTransaction_data() { addBackendRows(); }
    void acceptFillsANewTransaction()
    {
        ORV_FETCH_BACKEND(kind);
        QVERIFY(loginOnFreshDatabase(m_db, kind, [](Connection &db) {
            seedDemoData(db);
            PatientStore::add(db, {u"4001"_s, u"KAY"_s, QString(), u"KNOWN"_s, u"02/14/1980"_s, u"F"_s, QString()}, u"T01"_s);
            PatientStore::add(db, {u"4002"_s, u"NINA"_s, u"N"_s, u"NAMESAKE"_s, u"02/14/1980"_s, u"F"_s, QString()}, u"T01"_s);
        }));
        m_prompter = ScriptedPrompter::install();
        settings().write(u"VelmorOrvaline"_s, u"DICOM"_s, u"UseWorklistStudyUID"_s, u"1"_s);
        resetDicomNodes();
        dicomNodes().setValue(DicomNodes::wRemoteNode, u"127.0.0.1"_s);
        dicomNodes().setValue(DicomNodes::wRemotePort, QString::number(m_peer->port()));
        dicomNodes().setValue(DicomNodes::wRemoteAE, u"WLMTEST"_s);

        // A new patient: patient, exam and doctor are added; the editor takes the entry.
        frmWorklistQuery *w = search(u"NEW"_s);
        QVERIFY(w && w->isModal());
        QTRY_COMPARE(w->model()->rowCount(), 1);
        QTRY_VERIFY(!w->isSearching());
        choose(w, 0);
        QVERIFY(w->fraVerify->isVisible());
        QCOMPARE(QStringList({w->txtVPatID->text(), w->txtVPatLastName->text(), w->txtVPatFirstName->text(), w->txtVPatMiddleName->text(),
                              w->txtPatVBirthdate->text(), w->txtVPatSex->text()}),
                 QStringList({u"5001"_s, u"NEWMAN"_s, u"NORA"_s, u"N"_s, u"19800214"_s, u"F"_s}));
        w->cmdYes->click();
        QTRY_VERIFY(!frmWorklistQuery::loaded());
        frmTransaction *ed = frmTransaction::instance();
        QCOMPARE(QStringList({ed->txtTransNo->text(), ed->txtHospNum->text(), ed->GetPatName(), ed->txtExamName->text(),
                              ed->txtDocName->text(), ed->txtStudyUID->text()}),
                 QStringList({u"W1"_s, u"5001"_s, u"NEWMAN^NORA^N"_s, u"NEW PROC"_s, u"DOC, NEW X"_s, kStudyUid}));
        // Registered once, under the worklist's number, which is also the person's hospital number.
        QCOMPARE(QStringList({ed->txtPatientID->text(), ed->txtBDate->text(), PatientStore::load(state().db(), u"5001"_s)->hospNum}),
                 QStringList({u"5001"_s, u"02/14/1980"_s, u"5001"_s}));
        // Made by the one logged in: User ID and Technologist are that user.
        QCOMPARE(QStringList({ed->txtUserId->text(), ed->txtTechID->text()}), QStringList({u"T01"_s, u"T01"_s}));
        QVERIFY(!ed->txtSeriesUID->text().isEmpty());
        QCOMPARE(PatientStore::load(state().db(), u"5001"_s)->last, u"NEWMAN"_s);
        QCOMPARE(ExamStore::examName(state().db(), u"RPNEW"_s).value_or(QString()), u"NEW PROC"_s);

        // Stamped for the exam: accession, the worklist's study and the order's identity.
        QTemporaryDir dir;
        QVERIFY(greyPicture(32, 32).save(dir.filePath(u"a.bmp"_s)));
        dicom::Image image;
        stampIdentity(image);
        image.importPicture(dir.filePath(u"a.bmp"_s));
        image.writeFile(dir.filePath(u"a.dcm"_s));
        const dicom::DataSet ds = dicom::Image::fromFile(dir.filePath(u"a.dcm"_s)).dataSet();
        QCOMPARE(ds.text(0x0008, 0x0050), u"W1"_s);
        QCOMPARE(ds.text(0x0020, 0x000d), kStudyUid);
        const dicom::DataSet request = ds.attribute(0x0040, 0x0275).items.value(0);
        QCOMPARE(request.text(0x0040, 0x1001), u"RPNEW"_s);
        QCOMPARE(request.text(0x0040, 0x0009), u"SPSW1"_s);
        QCOMPARE(dciodvfyErrors(dir.filePath(u"a.dcm"_s)), QStringList());

        // A known patient whose exam and doctor are present: nothing is added. With the
        // setting off the transaction keeps a study of its own.
        settings().write(u"VelmorOrvaline"_s, u"DICOM"_s, u"UseWorklistStudyUID"_s, u"0"_s);
        const int rowsBefore = masterRows();
        w = search(u"KNOWN"_s);
        QTRY_COMPARE(w->model()->rowCount(), 1);
        choose(w, 0);
        w->cmdYes->click();
        QTRY_VERIFY(!frmWorklistQuery::loaded());
        QCOMPARE(ed->txtExamName->text(), u"ABDOMEN, WHOLE"_s);
        QCOMPARE(ed->txtDocName->text(), u"GONZAGA, PAOLO R"_s);
        QVERIFY(ed->txtStudyUID->text() != kStudyUid && !ed->txtStudyUID->text().isEmpty());
        QCOMPARE(masterRows(), rowsBefore);

        // The same ID under another name is refused and nothing is written; the window stays.
        w = search(u"OTHER"_s);
        QTRY_COMPARE(w->model()->rowCount(), 1);
        choose(w, 0);
        w->cmdYes->click();
        QCOMPARE(m_prompter->lastMessage(), u"Patient ID already exists with a different name."_s);
        QVERIFY(frmWorklistQuery::loaded() && ed->txtTransNo->text() == u"W2"_s);
        QVERIFY(!StaffStore::hospitalDoctorExists(state().db(), u"7002"_s));

        // A person registered before the hospital numbered them: Yes takes exactly the verified
        // row (another row current hides Verify), the operator confirms the namesake, and the
        // register links the number instead of registering the person again.
        w->PatientName->setText(u"N"_s);
        w->RunMWL->click();
        QTRY_COMPARE(w->model()->rowCount(), 2);
        QTRY_VERIFY(!w->isSearching());
        const int namesakeRow = w->model()->answer(0).cell(WorklistAnswer::PatientId) == u"H-77"_s ? 0 : 1;
        choose(w, 1 - namesakeRow);
        w->Grid1->selectRow(namesakeRow);
        QVERIFY(!w->fraVerify->isVisible());
        choose(w, namesakeRow);
        const int patientsBefore = state().db().query(u"SELECT COUNT(*) AS n FROM pacs..tblPatient"_s).text(u"n"_s).toInt();
        m_prompter->buttonAnswers << Prompter::Yes;
        w->cmdYes->click();
        QTRY_VERIFY(!frmWorklistQuery::loaded());
        QVERIFY(m_prompter->lastMessage().contains(u"as number 4002"_s));
        QCOMPARE(QStringList({ed->txtTransNo->text(), ed->txtHospNum->text(), ed->txtPatientID->text()}),
                 QStringList({u"W4"_s, u"H-77"_s, u"4002"_s}));
        QCOMPARE(PatientStore::findByHospNum(state().db(), u"H-77"_s)->id, u"4002"_s);
        QCOMPARE(state().db().query(u"SELECT COUNT(*) AS n FROM pacs..tblPatient"_s).text(u"n"_s).toInt(), patientsBefore);
        w = search(u"OTHER"_s);
        QTRY_VERIFY(!w->isSearching());

        // A name of one part fills the last name only; a value the register cannot hold is refused.
        WorklistAnswer solo;
        solo.cells = QStringList(12, QString());
        solo.cells[WorklistAnswer::PatientName] = u"SOLO"_s;
        QCOMPARE(WorklistPatient::from(solo).lastName + WorklistPatient::from(solo).firstName, u"SOLO"_s);
        WorklistPatient longName = WorklistPatient::from(solo);
        longName.patientId = u"6001"_s;
        longName.lastName = QString(70, u'X');
        QVERIFY(errorOf([&] { WorklistAccept::accept(state().db(), solo, longName, u"T01"_s, openTransaction(), true); })
                    .contains(u"longer than"_s));
        QVERIFY(!PatientStore::load(state().db(), u"6001"_s));
        solo.cells[WorklistAnswer::Accession] = u"../../tmp/X"_s;
        longName.lastName = u"SOLO"_s;
        QVERIFY(errorOf([&] { WorklistAccept::accept(state().db(), solo, longName, u"T01"_s, openTransaction(), true); })
                    .contains(u"cannot name a file"_s));
        QVERIFY(!PatientStore::load(state().db(), u"6001"_s));
        // An exam that holds images keeps its patient: the entry is refused, nothing written.
        solo.cells[WorklistAnswer::Accession] = u"W9"_s;
        session().openRows()->append(ImageRow::make(u"New"_s, u"Image"_s, u"localtemp"_s, QString(), u"/tmp"_s, u"W4-1.dcm"_s, QString()));
        QVERIFY(errorOf([&] { WorklistAccept::accept(state().db(), solo, longName, u"T01"_s, openTransaction(), true); })
                    .contains(u"already holds images"_s));
        QVERIFY(!PatientStore::load(state().db(), u"6001"_s) && ed->txtTransNo->text() == u"W4"_s);
        session().openRows()->clear();

        // No answers, then a provider that is down: the message, and the window goes on working.
        // Enter in a search field searches as "&Search" does.
        w->PatientName->setText(u"ZULU"_s);
        QTest::keyClick(w->PatientName, Qt::Key_Return);
        QTRY_COMPARE(w->Text1->text(), u"No results found"_s);
        dicomNodes().setValue(DicomNodes::wRemotePort, QString::number(freeLoopbackPort()));
        QTest::keyClick(w->txtAccessionNumber, Qt::Key_Enter);
        QTRY_VERIFY(m_prompter->lastMessage().contains(u"Cannot connect"_s));
        QTRY_VERIFY(!w->isSearching());
        w->cmdCancel->click();
        QTRY_VERIFY(!frmWorklistQuery::loaded());
        ed->close();
        session().jobs().waitForIdle(5000);
    }
};

ORV_TEST_MAIN(tst_WorklistQuery)
#include "tst_worklistquery.moc"
