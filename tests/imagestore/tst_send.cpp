// "S&end to PACS" of the image list against real peers on loopback ports: what the archive holds,
// the log lines in their order, and the refusals that come before any association.
#include "Peers.h"
#include "Pictures.h"
#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/IdentityStamp.h"
#include "imagestore/ImageSend.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

namespace {

QJsonArray instances(const PeerProcess &orthanc)
{
    return QJsonDocument::fromJson(orthanc.rest(QStringLiteral("/instances?expand"))).array();
}

QString attributeDump(const dicom::Image &image)
{
    QString text;
    dicom::dumpAttributes(text, QString(), image.attributes());
    return text;
}

} // namespace

class tst_Send : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<FreshDatabase> m_database; // the send queue's
    QString m_peerHost = QStringLiteral("127.0.0.1");
    int m_peerPort = 0;
    QString m_calledAe = QStringLiteral("ORTHANC");

    QString path(const QString &name) const { return m_dir.filePath(name); }
    ImageRow row(const QString &type, const QString &name) const
    {
        return ImageRow::make(kStatusNew, type, kLocalTemp, QString(), m_dir.path(), name, QString());
    }
    // A DICOM file of a patient other than the transaction's, as a modality would send it.
    // A DICOM file of the open exam's patient, or of another one (`foreign`).
    QString dicomFile(const QString &name, int seed, bool foreign = false)
    {
        dicom::Image image;
        writePatientIdentity(image.dataSet(), openTransaction().record(), state().CompanyName);
        if (foreign) {
            image.add(0x0010, 0x0010, QStringLiteral("MODALITY^PATIENT%1").arg(seed));
            image.add(0x0010, 0x0020, QStringLiteral("MOD%1").arg(seed));
        }
        image.add(0x0008, 0x0050, QStringLiteral("ACC%1").arg(seed));
        image.importPicture(pictureFile(name + QStringLiteral(".bmp"), seed));
        image.writeFile(path(name));
        return path(name);
    }
    QString pictureFile(const QString &name, int seed)
    {
        const QString p = path(name);
        const bool grey = name.endsWith(QLatin1String(".bmp"));
        if (!(grey ? greyPicture(96, 64, seed) : colourPicture(96, 64, seed)).save(p))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }
    static SendRequest req(const QList<ImageRow> &rows)
    {
        SendRequest r;
        r.rows = rows;
        r.database = state().db().config();
        return r;
    }
    SendHooks hooks(QStringList *log)
    {
        SendHooks h;
        h.log = [log](const QString &line) { *log << line; };
        h.peer = [this] { return dicom::Peer{m_peerHost, m_peerPort, QStringLiteral("WS1"), m_calledAe}; };
        return h;
    }
    void useArchive(int port, const QString &ae)
    {
        dicomNodes().setValue(DicomNodes::StorageNode, m_peerHost);
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(port));
        dicomNodes().setValue(DicomNodes::StorageAE, ae);
    }
    QString sendingTo() const
    {
        return QStringLiteral("Sending to: %1 | %2 | WS1 | %3").arg(m_peerHost).arg(m_peerPort).arg(m_calledAe);
    }

private slots:
    void cleanupTestCase()
    {
        resetSession();
        resetState(); // the database goes before the application object
    }
    void init()
    {
        QVERIFY(loginOnFreshDatabase(m_database, Backend::SQLite));
        resetDicomNodes();
        OpenTransaction &tr = openTransaction();
        tr.clear();
        const QList<std::pair<T::Field, QString>> values{
            {T::TransNo, "00077"},        {T::HospNum, "H-1001"},           {T::LName, "DELA CRUZ"},
            {T::FName, "ROSARIO"},        {T::MName, "MENDOZA"},            {T::BDate, "05/17/1990"},
            {T::Gender, "F"},             {T::TransDate, "12/05/2026"},     {T::StudyUID, "1.2.826.0.1.3680043.9.7777.77"},
            {T::SeriesUID, "1.2.826.0.1.3680043.9.7777.77.1"}, {T::SeriesNum, "1"}, {T::ImgNum, "4"},
            {T::ExamType, "US"},          {T::ExamId, "US01"},              {T::ExamName, "ABDOMEN, WHOLE"},
            {T::DocName, "GONZAGA, PAOLO"}, {T::Technologist, "TECH ONE"}};
        for (const auto &[f, v] : values)
            tr.setValue(f, v);
        state().CompanyName = QStringLiteral("ORVALINE GENERAL");
        dicom::setNetworkTimeout(10);
    }

    // DICOM files of the exam's patient arrive unchanged, one of another patient with the exam's
    // patient (its own study kept, the log saying so), pictures as Secondary Capture objects of
    // the open transaction numbered on from its image number, videos are not sent; the worker stamps on
    // the GUI thread and refuses a second send while one runs. Sending again gives the pictures
    // new instances and numbers.
    void archiveHoldsFilesAsSentAndPicturesAsTheTransaction()
    {
        auto orthanc = PeerProcess::orthanc();
        QVERIFY(orthanc->isRunning());
        m_peerPort = orthanc->port();
        useArchive(m_peerPort, m_calledAe);
        dicomNodes().setValue(DicomNodes::CallingAE, QStringLiteral("WS1"));

        const QString a = dicomFile(QStringLiteral("a.dcm"), 1);
        QDir().mkpath(path(QStringLiteral("server/ACQUIRE/US/2026/2026-12-05/00077")));
        const QString saved = path(QStringLiteral("server/ACQUIRE/US/2026/2026-12-05/00077/b.dcm"));
        QFile::copy(dicomFile(QStringLiteral("b.dcm"), 2, true), saved);
        pictureFile(QStringLiteral("p.jpg"), 3);
        pictureFile(QStringLiteral("q.bmp"), 4);
        QFile(path(QStringLiteral("clip.avi"))).open(QIODevice::WriteOnly);
        const QList<ImageRow> rows{
            row("Image", "a.dcm"), row("jpg", "p.jpg"), row("Video", "clip.avi"),
            ImageRow::make(kStatusSaved, "Image", "elsewhere", "ACQUIRE\\US", "2026\\2026-12-05\\00077", "b.dcm", "12"),
            row("BMP", "q.bmp")};
        SendRequest request = SendRequest::fromState(rows);
        request.configuredServerName = path(QStringLiteral("server"));
        request.overrideServerName = true;
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("6")); // numbers taken when sending

        // As a job of the session: log lines reach the log window in order, progress the list.
        QList<int> progress;
        QObject context; // the connection ends with this test
        connect(&session().jobs(), &JobRunner::progress, &context, [&](const QString &, int done, int total) { progress << done * 10 + total; });
        frmLog::instance()->txtLog->clear();
        ImageSend::start(request);
        QVERIFY(session().jobs().isBusy("00077"));
        QVERIFY(session().jobs().waitForIdle(60000));
        const QStringList log = frmLog::instance()->txtLog->toPlainText().split('\n').mid(1);
        QCOMPARE(log, (QStringList{QStringLiteral("Sending to: 127.0.0.1 | %1 | WS1 | ORTHANC").arg(m_peerPort),
                                   "b.dcm is sent with the exam's patient (it carried \"MODALITY^PATIENT2\", ID \"MOD2\").",
                                   "Send Complete."}));
        // Rows put into the queue, then images answered by the archive.
        QCOMPARE(progress, (QList<int>{5, 15, 25, 35, 45, 55, 14, 24, 34, 44}));

        QMap<QString, QJsonObject> byNumber; // pictures by instance number; originals by accession
        for (const QJsonValue &v : instances(*orthanc)) {
            const QString id = v.toObject().value("ID").toString();
            const QJsonObject tags = QJsonDocument::fromJson(orthanc->rest("/instances/" + id + "/simplified-tags")).object();
            const QString key = tags.value("AccessionNumber").toString() == "00077" ? tags.value("InstanceNumber").toString()
                                                                                   : tags.value("AccessionNumber").toString();
            byNumber.insert(key, tags);
            const QString received = path("received-" + key + ".dcm");
            QFile f(received);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(orthanc->rest("/instances/" + id + "/file"));
            f.close();
            if (key == "ACC1") {
                QCOMPARE(attributeDump(dicom::Image::fromFile(received)), attributeDump(dicom::Image::fromFile(a)));
            } else {
                QCOMPARE(dciodvfyErrors(received), QStringList());
            }
        }
        QCOMPARE(byNumber.keys(), (QStringList{"5", "6", "ACC1", "ACC2"}));
        for (const char *n : {"5", "6"}) {
            const QJsonObject t = byNumber.value(n);
            QCOMPARE((QStringList{t.value("SOPClassUID").toString(), t.value("PatientName").toString(), t.value("PatientID").toString(),
                                  t.value("StudyInstanceUID").toString(), t.value("SeriesInstanceUID").toString(),
                                  t.value("StudyDate").toString(), t.value("Modality").toString(), t.value("IssuerOfPatientID").toString()}),
                     (QStringList{"1.2.840.10008.5.1.4.1.1.7", "DELA CRUZ^ROSARIO^MENDOZA", "H-1001", "1.2.826.0.1.3680043.9.7777.77",
                                  "1.2.826.0.1.3680043.9.7777.77.1", "20261205", "US", "ORVALINE GENERAL"}));
        }
        QCOMPARE(byNumber.value("5").value("PhotometricInterpretation").toString(), QStringLiteral("RGB"));
        QCOMPARE(byNumber.value("6").value("PhotometricInterpretation").toString(), QStringLiteral("MONOCHROME2"));
        for (const char *k : {"ACC1", "ACC2"})
            QCOMPARE((QStringList{byNumber.value(k).value("PatientName").toString(), byNumber.value(k).value("PatientID").toString()}),
                     (QStringList{"DELA CRUZ^ROSARIO^MENDOZA", "H-1001"}));
        QVERIFY(byNumber.value("ACC2").value("StudyInstanceUID").toString() != "1.2.826.0.1.3680043.9.7777.77");

        // Again, synchronously: the same instances, the pictures too (their objects are kept), so
        // the archive files no second copy.
        QStringList again;
        const SendOutcome resent = ImageSend::send(SendRequest::fromState(request.rows), hooks(&again));
        QVERIFY(resent.completed && resent.numbersUsed == 0);
        QCOMPARE(instances(*orthanc).size(), 4);
    }

    // Missing DICOM files and images the archive does not keep are logged and passed over; a
    // picture that cannot be read, a dead or silent peer end the send with "Cannot Send.".
    void failuresAreLoggedInOrder()
    {
        const QString a = dicomFile(QStringLiteral("a.dcm"), 1);
        pictureFile(QStringLiteral("p.jpg"), 3);
        QStringList log;

        // A peer that refuses Secondary Capture.
        auto wlm = PeerProcess::wlmscpfs(QStringLiteral("WLM"));
        QVERIFY(wlm->isRunning());
        m_peerPort = wlm->port();
        m_calledAe = QStringLiteral("WLM");
        SendOutcome o = ImageSend::send(req({row("Image", "gone.dcm"), row("Image", "a.dcm"), row("Video", "x.avi")}), hooks(&log));
        QCOMPARE(log.size(), 4);
        QCOMPARE(log.at(0), sendingTo());
        QCOMPARE(log.at(1), "Cant read/access " + path("gone.dcm"));
        QVERIFY2(log.at(2).startsWith("Store refused for " + a + ": ") && log.at(2).contains("SecondaryCaptureImageStorage"),
                 qPrintable(log.at(2)));
        QCOMPARE(log.at(3), QStringLiteral("Send Complete."));
        QVERIFY(o.completed && o.unreadable == 1 && o.notStored == 1 && o.sent == 0);

        // An archive that answers with a failure status: full, its one patient protected.
        auto orthanc = PeerProcess::orthanc(QStringLiteral("\"MaximumPatientCount\": 1"));
        QVERIFY(orthanc->isRunning());
        m_peerPort = orthanc->port();
        m_calledAe = QStringLiteral("ORTHANC");
        log.clear();
        o = ImageSend::send(req({row("Image", "a.dcm")}), hooks(&log));
        QCOMPARE(o.sent, 1);
        const QString patient = QJsonDocument::fromJson(orthanc->rest("/patients")).array().at(0).toString();
        orthanc->rest("/patients/" + patient + "/protected", "PUT", "1");
        log.clear();
        o = ImageSend::send(req({row("jpg", "p.jpg"), row("Image", "a.dcm")}), hooks(&log));
        QCOMPARE(log, (QStringList{sendingTo(), "Store status 0xA700 for " + path("p.jpg"), "Send Complete."}));

        // A picture that cannot be read ends the send; the rows after it are not attempted.
        log.clear();
        o = ImageSend::send(req({row("BMP", "nothing.bmp"), row("Image", "a.dcm")}), hooks(&log));
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).startsWith("Cannot Send.") && log.at(1).size() > 12, qPrintable(log.at(1)));
        QVERIFY(!o.completed && o.sent == 0);

        // A peer that takes the connection and never answers: within the timeout.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        m_peerPort = silent.serverPort();
        dicom::setNetworkTimeout(2);
        QElapsedTimer t;
        t.start();
        log.clear();
        o = ImageSend::send(req({row("Image", "a.dcm"), row("Image", "a.dcm")}), hooks(&log));
        QVERIFY2(t.elapsed() < 2 * 2000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(log.size(), 2);
        QVERIFY2(log.at(1).startsWith("Cannot Send.") && log.at(1).size() > 12, qPrintable(log.at(1)));
        QVERIFY(!o.completed && !o.failure.isEmpty());
    }

    // An address that does not resolve is refused before anything is logged or sent (the checks
    // of port and AE titles are the node settings' own); an empty list does nothing at all, a list
    // of videos only logs the two lines.
    void unresolvableArchiveIsRefusedBeforeAnyAssociation()
    {
        QTcpServer archive; // counts connection attempts
        QVERIFY(archive.listen(QHostAddress::LocalHost, 0));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(archive.serverPort()));
        dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("no-such-host.invalid"));
        QStringList log;
        SendHooks h;
        h.log = [&](const QString &l) { log << l; };
        const SendOutcome o = ImageSend::send(req({row("Image", "a.dcm")}), h);
        QVERIFY2(o.refused.startsWith("The address of the storage archive, \"no-such-host.invalid\", cannot be found"),
                 qPrintable(o.refused));
        QVERIFY(log.isEmpty());

        const SendOutcome empty = ImageSend::send(SendRequest(), h);
        QVERIFY(log.isEmpty() && empty.refused.isEmpty() && !empty.completed);
        dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
        const SendOutcome videos = ImageSend::send(req({row("Video", "a.avi"), row("avi", "b.avi")}), h);
        QCOMPARE(log, (QStringList{QStringLiteral("Sending to: 127.0.0.1 | %1 | LOCAL | VELMOR").arg(archive.serverPort()),
                                   "Send Complete."}));
        QVERIFY(videos.completed && videos.sent == 0);
        QVERIFY(!archive.waitForNewConnection(200));
    }
};

ORV_TEST_MAIN(tst_Send)
#include "tst_send.moc"
