// The demonstration PACS of the run command (scripts/demo-orthanc.sh) takes what the workstation
// sends with DICOM Settings at their defaults (only the ports moved to free ones for the test)
// and offers today's scheduled procedures to the worklist query.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "core/OpenTransaction.h"
#include "core/frmLog.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/Network.h"

#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::test;

class tst_DemoArchive : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    quint16 m_storage = 0, m_worklist = 0, m_http = 0, m_worklistHttp = 0;

    ToolResult demo(const QString &command)
    {
        qputenv("ORVALINE_DEMO_STORAGE_PORT", QByteArray::number(m_storage));
        qputenv("ORVALINE_DEMO_WORKLIST_PORT", QByteArray::number(m_worklist));
        qputenv("ORVALINE_DEMO_HTTP_PORT", QByteArray::number(m_http));
        qputenv("ORVALINE_DEMO_WORKLIST_HTTP_PORT", QByteArray::number(m_worklistHttp));
        return runTool(QStringLiteral(ORV_SOURCE_DIR "/scripts/demo-orthanc.sh"), {command}, 60000);
    }
    QJsonValue get(const QString &path)
    {
        QNetworkAccessManager nam;
        QNetworkReply *reply = nam.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_http).arg(path))));
        QEventLoop loop;
        connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    }

private slots:
    void cleanupTestCase() { demo(QStringLiteral("stop")); }

    void sendFromTheDemoWorkstationLandsInTheDemoArchive()
    {
        m_storage = freeLoopbackPort();
        m_worklist = freeLoopbackPort();
        m_http = freeLoopbackPort();
        m_worklistHttp = freeLoopbackPort();
        const ToolResult started = demo(QStringLiteral("start"));
        QVERIFY2(started.exitCode == 0, qPrintable(started.out + started.err));
        QVERIFY(QFileInfo(QDir::homePath() + "/.local/share/Orvaline/orthanc/archive.json").isFile());
        QCOMPARE(demo(QStringLiteral("start")).exitCode, 0); // a second start finds it running

        ScriptedPrompter::install();
        QCOMPARE(dicomNodes().value(DicomNodes::StorageNode), QStringLiteral("localhost"));
        QCOMPARE(dicomNodes().value(DicomNodes::StorageAE), QStringLiteral("VELMOR"));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(m_storage));
        OpenTransaction &tr = openTransaction();
        tr.setValue(OpenTransaction::TransNo, QStringLiteral("DEMO42"));
        tr.setValue(OpenTransaction::HospNum, QStringLiteral("H-42"));
        tr.setValue(OpenTransaction::LName, QStringLiteral("SANTOS"));
        tr.setValue(OpenTransaction::FName, QStringLiteral("MARIA"));
        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(m_dir.filePath(QStringLiteral("frame.jpg"))));

        ctlImageList *list = ctlImageList::instance();
        list->GrdFilesAddImage("New", "jpg", "localtemp", "", m_dir.path(), "frame.jpg", "");
        QSignalSpy done(list, &ctlImageList::workFinished);
        list->cmdSendToPACS->click();
        QVERIFY(done.wait(60000));
        QVERIFY2(frmLog::instance()->text().trimmed().endsWith("Send Complete."), qPrintable(frmLog::instance()->text()));
        const QJsonArray studies = get(QStringLiteral("/studies?expand")).toArray();
        QCOMPARE(studies.size(), 1);
        const QJsonObject patient = studies.at(0).toObject().value("PatientMainDicomTags").toObject();
        QCOMPARE(patient.value("PatientID").toString(), QStringLiteral("H-42"));
        QCOMPARE(studies.at(0).toObject().value("MainDicomTags").toObject().value("AccessionNumber").toString(),
                 QStringLiteral("DEMO42"));

        // The worklist provider at the default worklist address and AE title has today's procedures.
        const dicom::Peer wl{dicomNodes().value(DicomNodes::wRemoteNode), m_worklist, QStringLiteral("VELMOR"),
                           dicomNodes().value(DicomNodes::wRemoteAE)};
        const auto answers = dicom::WorklistScu(wl.host, wl.port, wl.calledAe)
                                 .run(dicom::WorklistScu::standardIdentifier(QString(), QString(),
                                                                             QDate::currentDate().toString("yyyyMMdd"),
                                                                             QString(), QString(), QString()));
        QCOMPARE(answers.size(), 4);

        QCOMPARE(demo(QStringLiteral("stop")).exitCode, 0);
        QCOMPARE(demo(QStringLiteral("status")).exitCode, 3);
        QVERIFY(!waitForPort(m_storage, 300));
    }
};

ORV_TEST_MAIN(tst_DemoArchive)
#include "tst_demoarchive.moc"
