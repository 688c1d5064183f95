// The send queue against real archives on loopback ports: what stays queued when the archive is
// down or refuses, what a killed sender leaves behind, and the storage commitment answers.
#include "Peers.h"
#include "Pictures.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "sendqueue/SendQueue.h"
#include "sendqueue/SendQueueRunner.h"
#include "imagestore/ImageSend.h"
#include "outside/dicom/Image.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmnet/scp.h>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <thread>

using namespace orv;
using namespace orv::test;

namespace {

QJsonArray instances(const PeerProcess &orthanc)
{
    return QJsonDocument::fromJson(orthanc.rest("/instances")).array();
}

// The checksum of a file's pixel data, as sent or as the archive keeps it.
QByteArray pixelChecksum(const QByteArray &fileBytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("f.dcm"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(fileBytes);
    f.close();
    DcmFileFormat file;
    if (file.loadFile(OFFilename(path.toLocal8Bit().constData())).bad())
        return {};
    const Uint8 *pixels = nullptr;
    unsigned long count = 0;
    file.getDataset()->findAndGetUint8Array(DCM_PixelData, pixels, &count);
    return QCryptographicHash::hash(QByteArrayView(reinterpret_cast<const char *>(pixels), qsizetype(count)), QCryptographicHash::Md5);
}

// A storage archive that answers every C-STORE with one status.
class AnsweringScp : public DcmSCP
{
public:
    AnsweringScp(quint16 port, Uint16 status) : m_status(status)
    {
        OFList<OFString> xfers;
        xfers.push_back(UID_LittleEndianExplicitTransferSyntax);
        xfers.push_back(UID_LittleEndianImplicitTransferSyntax);
        getConfig().setPort(port);
        getConfig().setAETitle("ANSWERING");
        getConfig().setConnectionBlockingMode(DUL_NOBLOCK);
        getConfig().setConnectionTimeout(1);
        getConfig().addPresentationContext(UID_SecondaryCaptureImageStorage, xfers);
        if (openListenPort().good())
            m_thread = std::thread([this] { acceptAssociations(); });
    }
    ~AnsweringScp() override
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    OFCondition handleIncomingCommand(T_DIMSE_Message *msg, const DcmPresentationContextInfo &info) override
    {
        if (msg->CommandField != DIMSE_C_STORE_RQ)
            return DcmSCP::handleIncomingCommand(msg, info);
        DcmDataset *ds = nullptr;
        const OFCondition c = receiveSTORERequest(msg->msg.CStoreRQ, info.presentationContextID, ds);
        delete ds;
        return c.bad() ? c : sendSTOREResponse(info.presentationContextID, msg->msg.CStoreRQ, m_status);
    }
    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }

private:
    Uint16 m_status;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

} // namespace

class tst_SendQueue : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_database;
    QTemporaryDir m_dir;

    Connection &db() { return state().db(); }
    // A DICOM file of its own patient.
    QString dicomFile(int seed)
    {
        const QString bmp = m_dir.filePath(QStringLiteral("p%1.bmp").arg(seed));
        greyPicture(64, 48, seed).save(bmp);
        dicom::Image image;
        image.add(0x0010, 0x0010, QStringLiteral("QUEUE^PATIENT%1").arg(seed));
        image.add(0x0010, 0x0020, QStringLiteral("Q%1").arg(seed));
        image.importPicture(bmp);
        const QString path = m_dir.filePath(QStringLiteral("f%1.dcm").arg(seed));
        image.writeFile(path);
        return path;
    }
    // Queues `count` DICOM files for the archive, unclaimed, wanting commitment when `commit`.
    QList<QueueEntry> enqueue(int first, int count, const dicom::Peer &peer, bool commit = false, const QString &transNo = "00501")
    {
        QList<QueueEntry> entries;
        const QString sendId = dicom::newUid();
        for (int i = first; i < first + count; ++i) {
            QueueEntry e = SendQueue::stageCopy(dicomFile(i));
            e.sendId = sendId;
            e.transNo = transNo;
            e.peer = peer;
            e.commit = commit;
            entries << e;
        }
        return SendQueue(db()).add(entries, false);
    }
    QMap<QString, QString> statesByInstance()
    {
        QMap<QString, QString> out;
        for (const QueueEntry &e : SendQueue(db()).entries())
            out.insert(e.sopInstance, e.state);
        return out;
    }
    static dicom::Peer peerAt(quint16 port, const QString &calledAe, const QString &callingAe = QStringLiteral("WS1"))
    {
        return {QStringLiteral("127.0.0.1"), port, callingAe, calledAe};
    }

private slots:
    void init()
    {
        QVERIFY(loginOnFreshDatabase(m_database, Backend::SQLite));
        resetDicomNodes();
        qputenv("ORVALINE_WORKSTATION", "QUEUE-WS");
        settings().write(apps::VelmorOrvaline, "DICOM", "SendQueueRetry", "1");
        settings().write(apps::VelmorOrvaline, "DICOM", "SendQueueMaxRetry", "1");
        settings().write(apps::VelmorOrvaline, "DICOM", "SendQueueLease", "2");
        dicom::setNetworkTimeout(5);
    }
    void cleanup()
    {
        SendQueueRunner::instance().stop();
        QVERIFY(session().jobs().waitForIdle(30000));
    }
    void cleanupTestCase()
    {
        resetSession();
        resetState(); // the database goes before the application object
    }

    // "S&end to PACS" while the archive is down: the send says why and the images stay queued;
    // the background sender delivers them once the archive is up, each once.
    void sendWhileTheArchiveIsDownCompletesWhenItStarts()
    {
        const quint16 port = freeLoopbackPort();
        dicomNodes().setValue(DicomNodes::StorageNode, "127.0.0.1");
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(port));
        dicomNodes().setValue(DicomNodes::StorageAE, "ORTHANC");
        openTransaction().setValue(OpenTransaction::TransNo, "00501");
        QList<ImageRow> rows;
        for (int i = 1; i <= 3; ++i)
            rows << ImageRow::make(kStatusNew, "Image", kLocalTemp, QString(), m_dir.path(), QFileInfo(dicomFile(i)).fileName(), QString());
        QStringList log;
        SendHooks hooks;
        hooks.log = [&](const QString &l) { log << l; };
        QCOMPARE(ImageSend::send(SendRequest::fromState(rows), hooks).queued, 3);
        QVERIFY2(log.last().startsWith("Cannot Send.") && log.last().size() > 12, qPrintable(log.last()));
        for (const QueueEntry &e : SendQueue(db()).entries())
            QVERIFY(e.state == QueueState::Queued && e.attempts == 1 && !e.lastStatus.isEmpty());

        auto orthanc = PeerProcess::orthanc(QString(), port);
        SendQueueRunner::instance().start(db().config());
        QTRY_VERIFY_WITH_TIMEOUT(statesByInstance().values() == (QStringList{"sent", "sent", "sent"}), 20000);
        QCOMPARE(instances(*orthanc).size(), 3);
        // A later pass finds nothing due and sends nothing again.
        SendQueueRunner::instance().kick();
        QTest::qWait(1500);
        QVERIFY(session().jobs().waitForIdle(10000));
        QCOMPARE(instances(*orthanc).size(), 3);
        QCOMPARE(QDir(SendQueue::folder()).entryList(QDir::Files).size(), 0); // copies of sent images are gone
    }

    // A sender killed midway leaves claims that expire; the next sender delivers every object,
    // and the archive holds each one once with the pixels that were queued.
    void killedSenderResumesAndDeliversEachObjectOnce_data() { addBackendRows(); }
    void killedSenderResumesAndDeliversEachObjectOnce()
    {
        ORV_FETCH_BACKEND(b);
        QVERIFY(loginOnFreshDatabase(m_database, b));
        auto orthanc = PeerProcess::orthanc();
        QVERIFY(orthanc->isRunning());
        const QList<QueueEntry> queued = enqueue(1, 24, peerAt(orthanc->port(), "ORTHANC"));
        QMap<QString, QByteArray> expected;
        for (const QueueEntry &e : queued) {
            QFile f(e.filePath);
            QVERIFY(f.open(QIODevice::ReadOnly));
            expected.insert(e.sopInstance, pixelChecksum(f.readAll()));
        }
        const ConnectionConfig &c = m_database->config();
        const QStringList args = b == Backend::SQLite
                                     ? QStringList{"--db", "sqlite", "--data-dir", c.dataFolder}
                                     : QStringList{"--db", "postgres", "--db-host", c.host, "--db-port", QString::number(c.port),
                                                   "--db-user", c.user, "--db-name", c.database};
        QProcess worker;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORV_QUEUE_PACE", "100");
        worker.setProcessEnvironment(env);
        worker.start(ORV_QUEUE_WORKER, args);
        QVERIFY(worker.waitForStarted());
        QByteArray out;
        while (!out.contains("6\n") && worker.waitForReadyRead(20000))
            out += worker.readAllStandardOutput();
        QVERIFY2(out.contains("6\n"), out.constData());
        ::kill(pid_t(worker.processId()), SIGKILL);
        worker.waitForFinished();
        QVERIFY(instances(*orthanc).size() < 24);

        // Claimed by the dead sender until its lease ends: nothing due now.
        QVERIFY(SendQueue(db()).claimDue().isEmpty());
        QTest::qWait(2500);
        QProcess again;
        again.start(ORV_QUEUE_WORKER, args);
        QVERIFY(again.waitForFinished(60000));
        QVERIFY2(again.exitCode() == 0, again.readAllStandardError().constData());

        const QJsonArray stored = instances(*orthanc);
        QCOMPARE(stored.size(), 24);
        QMap<QString, QByteArray> received;
        for (const QJsonValue &v : stored) {
            const QString id = v.toString();
            const QJsonObject tags = QJsonDocument::fromJson(orthanc->rest("/instances/" + id + "/simplified-tags")).object();
            received.insert(tags.value("SOPInstanceUID").toString(), pixelChecksum(orthanc->rest("/instances/" + id + "/file")));
        }
        QCOMPARE(received, expected);
        const QStringList states = statesByInstance().values();
        QCOMPARE(QSet<QString>(states.begin(), states.end()), QSet<QString>{"sent"});
    }

    // Commitment: the archive's answer, sent on an association of its own, is recorded per
    // object; an object the archive no longer holds is reported as not committed, and an answer
    // that never comes ends as timed out.
    void commitmentAnswersAreRecordedPerObject()
    {
        const quint16 listen = freeLoopbackPort(), nobody = freeLoopbackPort();
        auto orthanc = PeerProcess::orthanc(QStringLiteral(R"("DicomModalities": { "ws1": ["WS1", "127.0.0.1", %1], "ws2": ["WS2", "127.0.0.1", %2] })")
                                                .arg(listen)
                                                .arg(nobody));
        QVERIFY(orthanc->isRunning());
        dicomNodes().setValue(DicomNodes::StorageCommit, "1");
        dicomNodes().setValue(DicomNodes::CallingAE, "WS1");
        dicomNodes().setValue(DicomNodes::Port, QString::number(listen));
        // The listener hears only the archive the settings name, on loopback here.
        dicomNodes().setValue(DicomNodes::StorageAE, "ORTHANC");
        dicomNodes().setValue(DicomNodes::ListenAddress, "127.0.0.1");
        settings().write(apps::VelmorOrvaline, "DICOM", "CommitmentTimeout", "3");

        const QList<QueueEntry> answered = enqueue(1, 3, peerAt(orthanc->port(), "ORTHANC"), true, "00601");
        const QList<QueueEntry> silent = enqueue(4, 1, peerAt(orthanc->port(), "ORTHANC", "WS2"), true, "00602");
        {
            SendQueue q(db());
            for (int n = 0; n < 2; ++n)
                QCOMPARE(q.deliver(q.claimDue()).sent, n == 0 ? 3 : 1);
        }
        // The archive loses one object before it is asked.
        const QByteArray found = orthanc->rest("/tools/find", "POST",
                                               QStringLiteral(R"({"Level":"Instance","Query":{"SOPInstanceUID":"%1"}})").arg(answered[2].sopInstance).toUtf8());
        orthanc->rest("/instances/" + QJsonDocument::fromJson(found).array().at(0).toString(), "DELETE");

        SendQueueRunner::instance().start(db().config());
        QTRY_VERIFY_WITH_TIMEOUT(statesByInstance().value(answered[0].sopInstance) == "committed"
                                     && statesByInstance().value(answered[2].sopInstance) == "failed",
                                 20000);
        for (const QueueEntry &e : SendQueue(db()).entries())
            if (e.sopInstance == answered[2].sopInstance)
                QVERIFY2(e.lastStatus.contains("0x0112"), qPrintable(e.lastStatus));
        QTRY_COMPARE_WITH_TIMEOUT(statesByInstance().value(silent[0].sopInstance), QStringLiteral("timed out"), 20000);

        // A timed-out object queued again is stored again (the same instance) and asked about again.
        SendQueue(db()).retry(SendQueue(db()).entries().first().id);
        QTRY_COMPARE_WITH_TIMEOUT(statesByInstance().value(silent[0].sopInstance), QStringLiteral("sent"), 20000);
        QCOMPARE(instances(*orthanc).size(), 3);
    }

    // An archive that cannot be reached: each attempt waits twice as long as the one before, up
    // to the longest back-off, and nothing is due meanwhile.
    void retriesWaitTwiceAsLongEachTime()
    {
        settings().write(apps::VelmorOrvaline, "DICOM", "SendQueueMaxRetry", "5");
        SendQueue q(db());
        enqueue(1, 1, peerAt(freeLoopbackPort(), "NOBODY"));
        int attempt = 0;
        for (const qint64 wait : {1000, 2000, 4000, 5000, 5000}) {
            QCOMPARE(q.deliver(q.claimDue()).retrying, 1);
            const QueueEntry e = q.entries().first();
            QCOMPARE(e.attempts, ++attempt);
            QCOMPARE(e.nextAttempt - e.updatedAt, wait);
            QVERIFY(q.claimDue().isEmpty());
            db().execute("UPDATE pacs..tblSendQueue SET next_attempt = 0"); // the wait is over
        }
    }

    // Archives that refuse: every object keeps a state and a reason, none is dropped.
    void refusingArchivesGiveAStatusPerObject()
    {
        SendQueue q(db());
        // Every store answered "cannot understand": failed for good, with the status.
        const quint16 port = freeLoopbackPort();
        AnsweringScp refusing(port, 0xC000);
        enqueue(1, 2, peerAt(port, "ANSWERING"));
        QCOMPARE(q.deliver(q.claimDue()).notStored, 2);
        for (const QueueEntry &e : q.entries())
            QVERIFY2(e.state == QueueState::Failed && e.lastStatus.contains("0xC000"), qPrintable(e.lastStatus));
        // The delivery is audited, to the archive, as a transfer that failed whole.
        const auto lastAudit = [] { return auditMessages().value(auditMessages().size() - 1); };
        QVERIFY2(lastAudit().contains("originalText=\"DICOM Instances Transferred\"") && lastAudit().contains("EventOutcomeIndicator=\"8\"")
                     && lastAudit().contains("UserID=\"ANSWERING\""),
                 qPrintable(lastAudit()));
        const auto clear = [&] {
            for (const QueueEntry &e : q.entries())
                q.remove(e.id);
        };
        clear();

        // An archive out of resources: each object stays queued with the status, for a later attempt.
        auto full = PeerProcess::orthanc(QStringLiteral("\"MaximumPatientCount\": 1"));
        enqueue(10, 1, peerAt(full->port(), "ORTHANC"));
        QCOMPARE(q.deliver(q.claimDue()).sent, 1);
        QVERIFY2(lastAudit().contains("EventOutcomeIndicator=\"0\"") && lastAudit().contains("UserID=\"ORTHANC\""), qPrintable(lastAudit()));
        const QString patient = QJsonDocument::fromJson(full->rest("/patients")).array().at(0).toString();
        full->rest("/patients/" + patient + "/protected", "PUT", "1");
        enqueue(11, 2, peerAt(full->port(), "ORTHANC"));
        QCOMPARE(q.deliver(q.claimDue()).retrying, 2);
        QVERIFY2(q.entries().at(0).state == QueueState::Queued && q.entries().at(0).lastStatus.contains("0xA700"),
                 qPrintable(q.entries().at(0).lastStatus));
        QVERIFY(q.claimDue().isEmpty()); // backing off
        clear();

        // An archive that aborts every association during the store, then one that refuses
        // associations: each attempt costs the object being sent one attempt, the others wait.
        auto aborting = PeerProcess::storescp({"--abort-during"});
        enqueue(20, 3, peerAt(aborting->port(), "STORESCP"));
        QVERIFY(!q.deliver(q.claimDue()).failure.isEmpty());
        const auto attempts = [&] {
            QList<int> a;
            for (const QueueEntry &e : q.entries())
                a << e.attempts;
            return a;
        };
        QCOMPARE(attempts(), (QList<int>{0, 0, 1})); // newest first
        const QList<QueueEntry> due = q.claimDue();  // the two not attempted are due at once
        QCOMPARE(due.size(), 2);
        QVERIFY(!q.deliver(due).failure.isEmpty());
        QCOMPARE(attempts(), (QList<int>{0, 1, 1}));
        auto refusing2 = PeerProcess::storescp({"--refuse"});
        clear();
        enqueue(30, 2, peerAt(refusing2->port(), "STORESCP"));
        QCOMPARE(q.deliver(q.claimDue()).retrying, 2);
        for (const QueueEntry &e : q.entries())
            QVERIFY2(e.state == QueueState::Queued && e.attempts == 1 && e.lastStatus.contains("rejected"), qPrintable(e.lastStatus));
    }
};

ORV_TEST_MAIN(tst_SendQueue)
#include "tst_sendqueue.moc"
