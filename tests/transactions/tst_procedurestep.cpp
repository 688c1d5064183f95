// The exam's performed procedure step through the windows, against Orthanc as archive and
// worklist and npm's dcmjs-dimse as the department's step provider: the step starts with the
// exam's first image, names the worklist's scheduled step (or none), and ends, completed, with
// exactly the objects the archive holds, or discontinued with the operator's reason; messages for
// a provider that is down wait in the send queue and reach it once, in order.
#include "Peers.h"
#include "WorklistExam.h"

#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/SendQueue.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/frmLog.h"
#include "imagestore/ProcedureSteps.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/DicomFile.h"
#include "transactions/frmTransaction.h"

#include <QDir>
#include <QImage>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace orv;
using namespace orv::test;

namespace {

QString text(const QJsonObject &attributes, const char *name)
{
    const QJsonValue v = attributes.value(QLatin1String(name));
    // Person names come as {"Alphabetic": ...}, in a list when there are several.
    const QJsonValue one = v.isArray() ? v.toArray().at(0) : v;
    return one.isObject() ? one.toObject().value(QStringLiteral("Alphabetic")).toString() : one.toVariant().toString();
}

QJsonObject item(const QJsonObject &attributes, const char *sequence)
{
    const QJsonValue v = attributes.value(QLatin1String(sequence));
    return v.isArray() ? v.toArray().at(0).toObject() : v.toObject();
}

QJsonArray items(const QJsonObject &attributes, const char *sequence)
{
    const QJsonValue v = attributes.value(QLatin1String(sequence));
    return v.isArray() ? v.toArray() : v.isObject() ? QJsonArray{v} : QJsonArray{};
}

// The SOP instances a final N-SET lists, over all its series.
QSet<QString> listedInstances(const QJsonObject &set)
{
    QSet<QString> out;
    for (const QJsonValue &series : items(set, "PerformedSeriesSequence"))
        for (const char *seq : {"ReferencedImageSequence", "ReferencedNonImageCompositeSOPInstanceSequence"})
            for (const QJsonValue &ref : items(series.toObject(), seq))
                out.insert(ref.toObject().value(QStringLiteral("ReferencedSOPInstanceUID")).toString());
    return out;
}

} // namespace

class tst_ProcedureStep : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }

    void setUpWorkstation(Backend kind, PeerProcess &archive, quint16 providerPort)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(loginOnFreshDatabase(m_db, kind, [](Connection &db) {
            seedDemoData(db);
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransaction"));
        }));
        m_prompter = ScriptedPrompter::install();
        useDepartment(*m_dir, archive);
        for (auto [key, value] : {std::pair{DicomNodes::MppsNode, "127.0.0.1"}, {DicomNodes::MppsAE, "RIS"}, {DicomNodes::CallingAE, "US_ROOM_2"}})
            dicomNodes().setValue(key, QLatin1String(value));
        dicomNodes().setValue(DicomNodes::MppsPort, QString::number(providerPort));
        settings().write(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("SendQueueRetry"), QStringLiteral("1"));
        SendQueueRunner::instance().start(state().db().config());
    }

    // Two pictures imported into the open exam.
    bool importPictures(frmTransaction *ed)
    {
        QStringList files;
        for (const char *name : {"a.jpg", "b.jpg"}) {
            QImage picture(64, 48, QImage::Format_RGB888);
            picture.fill(Qt::darkCyan);
            if (!picture.save(path(QLatin1String(name))))
                return false;
            files << path(QLatin1String(name));
        }
        m_prompter->fileAnswers << files.join(QLatin1Char('\n'));
        ed->ctlImageList1->cmdImport->click();
        return session().jobs().waitForIdle(30000) && ed->ctlImageList1->rowCount() == 2;
    }

    bool saveAndSend(frmTransaction *ed)
    {
        ctlImageList *list = ed->ctlImageList1;
        list->cmdSave->click();
        if (!session().jobs().waitForIdle(60000))
            return false;
        frmLog::instance()->txtLog->clear();
        list->cmdSendToPACS->click();
        return session().jobs().waitForIdle(120000) && frmLog::instance()->text().contains(QStringLiteral("Send Complete."));
    }

    // Ends the open exam as the operator chooses (0: completed, n: the n-th reason).
    void endExam(frmTransaction *ed, int choice)
    {
        QVERIFY(ed->cmdEndExam->isVisible() && ed->cmdEndExam->isEnabled());
        m_prompter->choiceAnswers << choice;
        ed->cmdEndExam->click();
        QVERIFY(session().jobs().waitForIdle(30000));
    }

    QSet<QString> archived(PeerProcess &archive)
    {
        QSet<QString> out;
        for (const QJsonValue &id : QJsonDocument::fromJson(archive.rest("/instances")).array())
            out.insert(QJsonDocument::fromJson(archive.rest("/instances/" + id.toString() + "/simplified-tags"))
                           .object()
                           .value(QStringLiteral("SOPInstanceUID"))
                           .toString());
        return out;
    }

private slots:
    void cleanup()
    {
        SendQueueRunner::instance().stop();
        session().jobs().waitForIdle(60000);
        delete frmTransaction::loaded();
        delete ctlImageList::existing();
        delete frmLog::existing();
        resetSession();
        resetState();
        resetDicomNodes();
        m_db.reset();
    }

    // A worklist exam and an exam of the workstation's own: each step starts with the first
    // image, names its scheduled step or none, and completes listing exactly what the archive
    // holds of the exam.
    void completedStepsListWhatTheArchiveHolds_data() { addBackendRows(); }
    void completedStepsListWhatTheArchiveHolds()
    {
        ORV_FETCH_BACKEND(kind);
        auto archive = PeerProcess::orthanc();
        auto provider = PeerProcess::stepProvider();
        QVERIFY(archive->isRunning() && provider->isRunning());
        QVERIFY(writeWorklistEntry(archive->folder() + QStringLiteral("/worklists")));
        setUpWorkstation(kind, *archive, provider->port());

        frmTransaction *ed = frmTransaction::instance();
        QVERIFY(acceptWorklistEntry(ed, m_prompter));
        QVERIFY(!ed->cmdEndExam->isEnabled());
        QVERIFY(importPictures(ed));
        QTRY_COMPARE_WITH_TIMEOUT(provider->steps().size(), 1, 20000);
        QCOMPARE(ed->lblStep->text(), QStringLiteral("Procedure step: IN PROGRESS"));
        const QJsonObject create = provider->steps().at(0);
        const QJsonObject created = create.value(QStringLiteral("attributes")).toObject();
        const QJsonObject scheduled = item(created, "ScheduledStepAttributesSequence");
        QCOMPARE(QStringList({create.value("service").toString(), create.value("calling").toString(), text(created, "PatientID"),
                              text(created, "PatientName"), text(created, "PerformedProcedureStepStatus"),
                              text(scheduled, "ScheduledProcedureStepID"), text(scheduled, "AccessionNumber"),
                              text(scheduled, "StudyInstanceUID")}),
                 QStringList({"N-CREATE", "US_ROOM_2", "90002", "REYES^JOSE^GARCIA", "IN PROGRESS", "SPS0002", "WL0002",
                              kWorklistStudyUid}));
        QVERIFY(saveAndSend(ed));
        endExam(ed, 0);
        QTRY_COMPARE_WITH_TIMEOUT(provider->steps().size(), 2, 20000);
        const QJsonObject set = provider->steps().at(1);
        QCOMPARE(set.value("uid").toString(), create.value("uid").toString());
        QCOMPARE(text(set.value("attributes").toObject(), "PerformedProcedureStepStatus"), QStringLiteral("COMPLETED"));
        QCOMPARE(listedInstances(set.value("attributes").toObject()), archived(*archive));
        QCOMPARE(ed->lblStep->text(), QStringLiteral("Procedure step: COMPLETED"));

        // The workstation's own exam: unscheduled; the step lists this exam's objects only.
        const QSet<QString> before = archived(*archive);
        ed->close();
        QTRY_VERIFY(!frmTransaction::loaded());
        ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtTransNo->setText(QStringLiteral("OWN0001"));
        ed->txtHospNum->setText(QStringLiteral("77001"));
        ed->txtPatientID->setText(QStringLiteral("77001"));
        ed->txtLName->setText(QStringLiteral("OWN"));
        ed->cmdSaveTrans->click();
        QVERIFY(importPictures(ed));
        QTRY_COMPARE_WITH_TIMEOUT(provider->steps().size(), 3, 20000);
        const QJsonObject own = provider->steps().at(2).value(QStringLiteral("attributes")).toObject();
        QCOMPARE(QStringList({text(own, "PatientID"), text(item(own, "ScheduledStepAttributesSequence"), "AccessionNumber"),
                              text(item(own, "ScheduledStepAttributesSequence"), "ScheduledProcedureStepID")}),
                 QStringList({"77001", "OWN0001", ""}));
        QVERIFY(saveAndSend(ed));
        endExam(ed, 0);
        QTRY_COMPARE_WITH_TIMEOUT(provider->steps().size(), 4, 20000);
        QCOMPARE(listedInstances(provider->steps().at(3).value("attributes").toObject()), archived(*archive) - before);
        QCOMPARE(archived(*archive).size(), 4);
    }

    // The provider is down while the exam starts and is discontinued: both messages wait in the
    // queue, behind one another, and reach it once it is up, once each and in order, with the
    // reason the operator chose.
    void messagesForAProviderThatIsDownArriveOnceInOrder()
    {
        auto archive = PeerProcess::orthanc();
        const quint16 port = freeLoopbackPort();
        setUpWorkstation(Backend::SQLite, *archive, port);
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtTransNo->setText(QStringLiteral("DOWN0001"));
        ed->txtHospNum->setText(QStringLiteral("77002"));
        ed->txtPatientID->setText(QStringLiteral("77002"));
        ed->txtLName->setText(QStringLiteral("DOWN"));
        ed->cmdSaveTrans->click();
        QVERIFY(importPictures(ed));
        endExam(ed, 2); // "Discontinued: Patient refused to continue procedure"
        QCOMPARE(ed->lblStep->text(), QStringLiteral("Procedure step: DISCONTINUED"));
        // Newest first: the N-SET is not tried while its step's N-CREATE waits.
        QList<QueueEntry> entries;
        QTRY_VERIFY_WITH_TIMEOUT((entries = SendQueue(state().db()).entries()).size() == 2 && entries.at(1).attempts >= 2, 20000);
        QCOMPARE(QStringList({entries.at(0).service, entries.at(1).service}), QStringList({"N-SET", "N-CREATE"}));
        QCOMPARE(entries.at(0).attempts, 0);

        auto provider = PeerProcess::stepProvider(port);
        QVERIFY(provider->isRunning());
        SendQueueRunner::instance().kick();
        QTRY_COMPARE_WITH_TIMEOUT(provider->steps().size(), 2, 30000);
        QTest::qWait(2500); // time for a message to come twice
        const QList<QJsonObject> steps = provider->steps();
        QCOMPARE(steps.size(), 2);
        QCOMPARE(QStringList({steps.at(0).value("service").toString(), steps.at(1).value("service").toString()}),
                 QStringList({"N-CREATE", "N-SET"}));
        const QJsonObject set = steps.at(1).value(QStringLiteral("attributes")).toObject();
        const QJsonObject reason = item(set, "PerformedProcedureStepDiscontinuationReasonCodeSequence");
        QCOMPARE(QStringList({text(set, "PerformedProcedureStepStatus"), text(reason, "CodeValue"), text(reason, "CodingSchemeDesignator")}),
                 QStringList({"DISCONTINUED", "110505", "DCM"}));
        for (const QueueEntry &e : SendQueue(state().db()).entries())
            QCOMPARE(e.state, QueueState::Sent);
    }

    // orvaline-cli mpps: one step for the files, discontinued with the reason given, its UID printed.
    void cliReportsOneStepForItsFiles()
    {
        auto provider = PeerProcess::stepProvider();
        QVERIFY(provider->isRunning());
        m_dir = std::make_unique<QTemporaryDir>();
        QImage picture(32, 32, QImage::Format_RGB888);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path(QStringLiteral("p1.bmp"))) && picture.save(path(QStringLiteral("p2.bmp"))));
        QCOMPARE(runTool(QStringLiteral(ORV_CLI), {"dicomize", "--out", path("dcm"), "--patient-id", "C1", "--accession", "ACC1",
                                                   path("p1.bmp"), path("p2.bmp")})
                     .exitCode,
                 0);
        const QStringList files = QDir(path(QStringLiteral("dcm"))).entryList({QStringLiteral("*.dcm")});
        QCOMPARE(files.size(), 2);
        QSet<QString> instances;
        QStringList args{"mpps", "--host", "127.0.0.1", "--port", QString::number(provider->port()), "--aec", "RIS", "--discontinue",
                         "110501"};
        for (const QString &f : files) {
            args << path(QStringLiteral("dcm/") + f);
            instances.insert(dicom::dataSetOf(dicom::readDicomFile(args.last())).text(DCM_SOPInstanceUID));
        }
        const ToolResult run = runTool(QStringLiteral(ORV_CLI), args);
        QCOMPARE(run.exitCode, 0);
        const QList<QJsonObject> steps = provider->steps();
        QCOMPARE(steps.size(), 2);
        QCOMPARE(QStringList({steps.at(0).value("uid").toString(), steps.at(1).value("uid").toString()}),
                 QStringList({run.out.trimmed(), run.out.trimmed()}));
        const QJsonObject created = steps.at(0).value(QStringLiteral("attributes")).toObject();
        QCOMPARE(QStringList({text(created, "PatientID"), text(item(created, "ScheduledStepAttributesSequence"), "AccessionNumber")}),
                 QStringList({"C1", "ACC1"}));
        const QJsonObject set = steps.at(1).value(QStringLiteral("attributes")).toObject();
        QCOMPARE(text(item(set, "PerformedProcedureStepDiscontinuationReasonCodeSequence"), "CodeValue"), QStringLiteral("110501"));
        QCOMPARE(listedInstances(set), instances);
    }
};

ORV_TEST_MAIN(tst_ProcedureStep)
#include "tst_procedurestep.moc"
