// One exam, one patient, through the windows: a worklist entry of a person the register already
// holds under another number is accepted, frames, stills, a picture and a clip are captured,
// saved and sent to Orthanc; the exam is closed with frames unsaved, reopened, captured into
// again and sent; the result report is printed and saved twice into the archive; then Export
// All and a disc image. Every object the archive, the export and the disc hold carries the same
// patient, numbers never repeat in a series, and the register holds the person once.
#include "Peers.h"
#include "WorklistExam.h"

#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/Registration.h"
#include "acquisition/StillCaptureWindow.h"
#include "acquisition/frmAcquire.h"
#include "acquisition/frmAcquireImage.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/SendQueue.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "dicomnet/frmWorklistQuery.h"
#include "imagestore/ctlImageList.h"
#include "imagestore/neroFiddlesCOMForm.h"
#include "outside/burn/Burner.h"
#include "outside/capture/CaptureControl.h"
#include "outside/dicom/EncapsulatedDocument.h"
#include "outside/encoder/AviEncoder.h"
#include "transactions/frmReport.h"
#include "transactions/ResultReport.h"
#include "transactions/frmTransaction.h"
#include "viewer/frmImageViewer.h"

#include <QDate>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>

#include <algorithm>

using namespace orv;
using namespace orv::test;

namespace {

// Directory records of a DICOMDIR of one type ("PATIENT"), as dcmdump lists them.
int directoryRecords(const QString &dicomdir, const QString &type)
{
    const ToolResult dump = runTool(QStringLiteral("dcmdump"), {dicomdir});
    return int(dump.out.count(QRegularExpression(QStringLiteral("\\(0004,1430\\) CS \\[%1 *\\]").arg(type))));
}

} // namespace

class tst_ExamIdentity : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    // "Capture Video": `frames` frames of the test pattern, and a short clip when asked.
    bool captureFrames(frmTransaction *ed, int frames, bool clip)
    {
        ed->btnProceed->click();
        frmAcquire *station = frmAcquire::loaded();
        if (!station || !station->isVisible())
            return false;
        if (!QTest::qWaitFor([&] { return !station->actiVideoX1->grabFrame().isNull(); }, 15000))
            return false;
        QSignalSpy stored(station, &frmAcquire::frameStored);
        for (int i = 0; i < frames; ++i)
            station->cmdCaptureBMP->click();
        if (!QTest::qWaitFor([&] { return stored.size() == frames; }, 30000))
            return false;
        if (clip) {
            station->AVIEncoderX1->setSourceHandle(station->actiVideoX1->CaptureHandle());
            station->EncodeEnable();
            QSignalSpy done(station, &frmAcquire::clipFinished);
            station->cmdEncode->click();
            QTest::qWait(1200);
            station->cmdStopEncoder->click();
            if (!done.wait(30000) || done.at(0).at(0).toInt() != 0)
                return false;
        }
        station->close();
        return session().jobs().waitForIdle(60000);
    }

    bool sendToArchive(ctlImageList *list)
    {
        frmLog::instance()->txtLog->clear();
        list->cmdSendToPACS->click();
        return session().jobs().waitForIdle(120000) && frmLog::instance()->text().trimmed().endsWith(QStringLiteral("Send Complete."));
    }

private slots:
    void initTestCase()
    {
        registerAcquisitionWindows(true);
    }

    void cleanup()
    {
        SendQueueRunner::instance().stop();
        session().jobs().waitForIdle(60000);
        if (auto *w = neroFiddlesCOMForm::existing()) {
            w->close();
            QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 30000);
            delete w;
        }
        delete frmAcquire::loaded();
        delete frmAcquireImage::loaded();
        delete frmImageViewer::existing();
        delete frmTransaction::loaded();
        delete ctlImageList::existing();
        delete frmLog::existing();
        resetSession();
        resetState();
        m_db.reset();
    }

    void everyObjectOfAWorklistExamCarriesOnePatient_data() { addBackendRows(); }
    void everyObjectOfAWorklistExamCarriesOnePatient()
    {
        ORV_FETCH_BACKEND(kind);
        auto orthanc = PeerProcess::orthanc();
        QVERIFY(orthanc->isRunning());
        QVERIFY(writeWorklistEntry(orthanc->folder() + QStringLiteral("/worklists")));
        m_dir = std::make_unique<QTemporaryDir>();
        // The demo register holds REYES JOSE GARCIA, born 11/02/1971, as number 2, without a
        // hospital number; the worklist knows him as 90002.
        QVERIFY(loginOnFreshDatabase(m_db, kind, [](Connection &db) {
            seedDemoData(db);
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransaction"));
        }));
        m_prompter = ScriptedPrompter::install();
        capture::setTestPatternEnabled(true);
        capture::setDeviceScanEnabled(false);
        useDepartment(*m_dir, *orthanc);
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("SendVideos"), QStringLiteral("1"));

        // The worklist entry, accepted: the operator confirms that the registered REYES is him.
        frmTransaction *ed = frmTransaction::instance();
        QVERIFY(acceptWorklistEntry(ed, m_prompter));
        QVERIFY(!ed->txtTransNo->isReadOnly() && !ed->txtPatientID->isReadOnly());
        QCOMPARE(QStringList({ed->txtTransNo->text(), ed->txtHospNum->text(), ed->txtPatientID->text(), ed->txtBDate->text()}),
                 QStringList({"WL0002", "90002", "2", "11/02/1971"}));

        // 3 frames and a clip, 2 stills, a picture; saved and sent.
        QVERIFY(captureFrames(ed, 3, true));
        ed->cmdCaptureImage[1]->click();
        frmAcquireImage *still = frmAcquireImage::loaded();
        QVERIFY(still);
        QTRY_VERIFY_WITH_TIMEOUT(!still->capWindow->grabFrame().isNull(), 15000);
        QSignalSpy stills(still, &StillCaptureWindow::stillStored);
        still->cmd4->click();
        still->cmd4->click();
        QTRY_COMPARE_WITH_TIMEOUT(stills.size(), 2, 30000);
        still->close();
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(path(QStringLiteral("picture.jpg"))));
        m_prompter->fileAnswers << path(QStringLiteral("picture.jpg"));
        ctlImageList *list = ed->ctlImageList1;
        list->cmdImport->click();
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(list->rowCount(), 7);
        // The exam's number and patient are fixed once it holds images; the worklist is closed to it.
        QVERIFY(ed->txtTransNo->isReadOnly() && ed->txtPatientID->isReadOnly() && !ed->cmdWorklist->isEnabled());
        list->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QVERIFY(sendToArchive(list));

        // Closed and reopened: two frames more, left unsaved; closing asks, the No keeps the
        // editor, Yes closes it, and the reopened exam lists them again.
        const QString transNo = ed->txtTransNo->text();
        ed->close();
        QTRY_VERIFY(!frmTransaction::loaded());
        ed = frmTransaction::instance();
        openTransaction().setScheduledOrder({}); // reopened as after a restart or at another workstation
        ed->LoadTransaction(transNo);
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(ed->ctlImageList1->rowCount(), 7);
        QVERIFY(captureFrames(ed, 2, false));
        const int asked = int(m_prompter->shown.size());
        m_prompter->buttonAnswers << Prompter::No;
        ed->close();
        QCOMPARE(int(m_prompter->shown.size()), asked + 1);
        QVERIFY(frmTransaction::loaded() && ed->isVisible());
        m_prompter->buttonAnswers << Prompter::Yes;
        ed->close();
        QTRY_VERIFY(!frmTransaction::loaded());
        ed = frmTransaction::instance();
        ed->LoadTransaction(transNo);
        QVERIFY(session().jobs().waitForIdle(30000));
        list = ed->ctlImageList1;
        QTRY_COMPARE(list->rowCount(), 9);
        QVERIFY(sendToArchive(list));

        // The result report: printed as the editor shows the patient, and stored in the archive
        // by the background sender, one version per save of the interpretation.
        // A send refused while the machine is loaded is tried again within seconds, not after
        // the back-off of a day's work (5 s doubling).
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("SendQueueRetry"), QStringLiteral("1"));
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("SendQueueMaxRetry"), QStringLiteral("4"));
        SendQueueRunner::instance().start(state().db().config());
        QFile::remove(ResultReport::path());
        QVERIFY(QFile::copy(QStringLiteral(ORV_SOURCE_DIR "/resources/ResultPrintSQL.rpt"), ResultReport::path()));
        ed->txtRadId->setText(QStringLiteral("1004"));
        ed->txtRadName->setText(QStringLiteral("GONZAGA, PAOLO R"));
        ed->txtInterpret->setPlainText(QStringLiteral("Normal thyroid."));
        ed->cmdSavePrint->click();
        auto *report = ed->findChild<frmReport *>();
        QVERIFY(report);
        m_prompter->fileAnswers << path(QStringLiteral("report.pdf"));
        report->cmdSavePdf->click();
        const ToolResult text = runTool(QStringLiteral("pdftotext"), {path(QStringLiteral("report.pdf")), QStringLiteral("-")});
        QVERIFY2(text.out.contains(QStringLiteral("REYES, JOSE GARCIA")) && text.out.contains(QStringLiteral("11/02/1971"))
                     && text.out.contains(QStringLiteral("90002 (2)")),
                 qPrintable(text.out));
        report->close();
        ed->txtInterpret->setPlainText(QStringLiteral("Normal thyroid. No nodule."));
        ed->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        const auto archived = [&] { return QJsonDocument::fromJson(orthanc->rest("/instances")).array().size(); };
        if (!QTest::qWaitFor([&] { return archived() == 11; }, 60000)) {
            // What became of each queued object, and what the operator was told.
            QStringList entries;
            for (const QueueEntry &e : SendQueue(state().db()).entries())
                entries << QStringLiteral("%1: %2 after %3 attempts (%4)").arg(e.label, e.state).arg(e.attempts).arg(e.lastStatus);
            QFAIL(qPrintable(QStringLiteral("%1 objects archived, 11 expected; queue: %2; messages: %3").arg(archived()).arg(entries.join(QStringLiteral("; ")),
                                                                                                              m_prompter->messages().join(QStringLiteral(" | ")))));
        }
        // Switched off, a save queues nothing; a report that cannot be made is named, and the
        // interpretation stays saved.
        const qsizetype queued = SendQueue(state().db()).entries().size();
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("ReportToArchive"), QStringLiteral("0"));
        ed->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(SendQueue(state().db()).entries().size(), queued);
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("ReportToArchive"), QStringLiteral("1"));
        QFile::remove(ResultReport::path());
        ed->txtInterpret->setPlainText(QStringLiteral("Third text."));
        ed->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("The interpretation is saved, but its report cannot be stored in the "
                                                                    "archive: "))
                     && m_prompter->lastMessage().contains(QStringLiteral("ResultPrintSQL.rpt")),
                 qPrintable(m_prompter->lastMessage()));
        QCOMPARE(SendQueue(state().db()).entries().size(), queued);
        QCOMPARE(state().db().query(QStringLiteral("SELECT interpretation FROM pacs..tblTransaction WHERE trans_no=?"), {transNo}).text(0),
                 QStringLiteral("Third text."));

        // The archive: one patient, one study, and every object with the same patient; no
        // instance number twice in a series.
        QCOMPARE(QJsonDocument::fromJson(orthanc->rest("/patients")).array().size(), 1);
        QCOMPARE(QJsonDocument::fromJson(orthanc->rest("/studies")).array().size(), 1);
        const QJsonArray instances = QJsonDocument::fromJson(orthanc->rest("/instances")).array();
        // 5 frames, 2 stills, the imported picture and the clip: sent twice, each object once; and
        // two versions of the report.
        QCOMPARE(instances.size(), 11);
        QSet<QString> numbered;
        QMap<QString, QJsonObject> reports; // by Instance Number

        for (const QJsonValue &id : instances) {
            const QJsonObject tags = QJsonDocument::fromJson(orthanc->rest("/instances/" + id.toString() + "/simplified-tags")).object();
            const QStringList patient{tags.value("PatientID").toString(), tags.value("PatientName").toString(),
                                      tags.value("PatientBirthDate").toString(), tags.value("PatientSex").toString(),
                                      tags.value("IssuerOfPatientID").toString(), tags.value("StudyInstanceUID").toString(),
                                      tags.value("ReferringPhysicianName").toString()};
            QCOMPARE(patient, QStringList({"90002", "REYES^JOSE^GARCIA", "19711102", "M", "ORVALINE GENERAL", kWorklistStudyUid,
                                           "SORIANO^BEATRIZ^L"}));
            const QString key = tags.value("SeriesInstanceUID").toString() + '#' + tags.value("InstanceNumber").toString();
            QVERIFY2(!numbered.contains(key), qPrintable(key));
            numbered.insert(key);
            QVERIFY(tags.value("SeriesNumber").toString().toInt() > 0);
            // Every object names the worklist order, those stamped after the reopen too.
            const QJsonObject order = tags.value("RequestAttributesSequence").toArray().at(0).toObject();
            QCOMPARE(QStringList({order.value("ScheduledProcedureStepID").toString(), order.value("AccessionNumber").toString()}),
                     QStringList({"SPS0002", "WL0002"}));
            if (tags.value("SOPClassUID").toString() == QLatin1String(dicom::kEncapsulatedPdfClass)) {
                QJsonObject report = tags;
                report.insert("id", id);
                reports.insert(tags.value("InstanceNumber").toString(), report);
            }
        }
        // The report's versions: one series, the second naming the first; each object valid, the
        // radiologist as its reader, the text as saved.
        QCOMPARE(reports.keys(), QStringList({"1", "2"}));
        QCOMPARE(reports["2"].value("SeriesInstanceUID"), reports["1"].value("SeriesInstanceUID"));
        QCOMPARE(reports["2"].value("SourceInstanceSequence").toArray().at(0).toObject().value("ReferencedSOPInstanceUID"),
                 reports["1"].value("SOPInstanceUID"));
        QVERIFY(!reports["1"].contains("SourceInstanceSequence"));
        QCOMPARE(reports["2"].value("NameOfPhysiciansReadingStudy").toString(), QStringLiteral("GONZAGA^PAOLO^R"));
        for (const QJsonObject &r : std::as_const(reports)) {
            const QString file = path(QStringLiteral("report-%1.dcm").arg(r.value("InstanceNumber").toString()));
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(orthanc->rest("/instances/" + r.value("id").toString() + "/file")) > 0);
            out.close();
            QCOMPARE(dciodvfyErrors(file), QStringList());
        }
        QFile pdf(path(QStringLiteral("report-2.pdf")));
        QVERIFY(pdf.open(QIODevice::WriteOnly) && pdf.write(orthanc->rest("/instances/" + reports["2"].value("id").toString() + "/pdf")) > 0);
        pdf.close();
        QVERIFY(runTool(QStringLiteral("pdftotext"), {pdf.fileName(), QStringLiteral("-")}).out.contains(QStringLiteral("No nodule.")));
        QCOMPARE(state().db().query(QStringLiteral("SELECT COUNT(*) AS n FROM pacs..tblPatient WHERE name_last='REYES' "
                                                   "AND name_first='JOSE'")).text(QStringLiteral("n")),
                 QStringLiteral("1"));

        // Export All and a disc image: one PATIENT record each.
        const QList<ImageRow> listed = list->rows();
        list->grdFiles->selectRow(int(std::find_if(listed.begin(), listed.end(), [](const ImageRow &r) { return r.type == "Image"; })
                                      - listed.begin()));
        list->cmdOpenImage->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        frmImageViewer *viewer = frmImageViewer::existing();
        QVERIFY(viewer);
        m_prompter->inputAnswers << path(QStringLiteral("EXPORT"));
        viewer->cmdExportDir->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(directoryRecords(path(QStringLiteral("EXPORT/DICOMDIR")), QStringLiteral("PATIENT")), 1);
        QCOMPARE(directoryRecords(path(QStringLiteral("EXPORT/DICOMDIR")), QStringLiteral("IMAGE")), 8);
        for (QDirIterator it(path(QStringLiteral("EXPORT")), QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            QCOMPARE(dciodvfyErrors(it.next()), QStringList());

        burn::Burner::clearPseudoDrives();
        burn::Burner::addPseudoDrive(QStringLiteral("stdio:") + path(QStringLiteral("disc.iso")), QStringLiteral("Test disc"));
        list->cmdBurn->click();
        neroFiddlesCOMForm *disc = neroFiddlesCOMForm::instance();
        QTRY_VERIFY_WITH_TIMEOUT(disc->isVisible() && disc->AvailableDevices->count() > 0, 30000);
        disc->AvailableDevices->setCurrentRow(0);
        QSignalSpy burned(disc, &neroFiddlesCOMForm::burnDone);
        disc->Burn->click();
        QVERIFY(burned.wait(120000) && burned.first().first().toInt() == 0);
        const ToolResult read = runTool(QStringLiteral("xorriso"), {"-indev", path(QStringLiteral("disc.iso")), "-osirrox", "on",
                                                                    "-extract", "/", path(QStringLiteral("DISC"))});
        QCOMPARE(read.exitCode, 0);
        QCOMPARE(directoryRecords(path(QStringLiteral("DISC/DICOMDIR")), QStringLiteral("PATIENT")), 1);
        QFile readme(path(QStringLiteral("DISC/README.TXT")));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(readme.readAll()).contains(QStringLiteral("(ID 90002)")));

    }
};

ORV_TEST_MAIN(tst_ExamIdentity)
#include "tst_examidentity.moc"
