// What the run command starts, end to end: the workstation on the embedded database with the
// demonstration data and the demonstration PACS (scripts/demo-orthanc.sh), DICOM Settings at their
// defaults (only the ports moved to free ones for the test). Through the windows a new exam is
// captured from the Test Pattern, a picture imported, everything saved and sent: the demo server
// folder holds the files and the archive one study with every object under the accession number.
#include "common/ScriptedPrompter.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "core/Database.h"
#include "core/DicomNodes.h"
#include "core/ExamSession.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "core/frmLog.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureControl.h"
#include "outside/dicom/Network.h"
#include "transactions/frmMain.h"
#include "transactions/frmTransaction.h"

#include <QDate>
#include <QDirIterator>
#include <QLineEdit>
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

class tst_DemoWorkstation : public QObject
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
    void cleanupTestCase()
    {
        demo(QStringLiteral("stop"));
        resetSession();
        resetState();
    }

    void demoExamFromCaptureToArchive()
    {
        m_storage = freeLoopbackPort();
        m_worklist = freeLoopbackPort();
        m_http = freeLoopbackPort();
        m_worklistHttp = freeLoopbackPort();
        const ToolResult started = demo(QStringLiteral("start"));
        QVERIFY2(started.exitCode == 0, qPrintable(started.out + started.err));
        QVERIFY(QFileInfo(QDir::homePath() + "/.local/share/Orvaline/orthanc/archive.json").isFile());
        QCOMPARE(demo(QStringLiteral("start")).exitCode, 0); // a second start finds it running

        ScriptedPrompter *prompter = ScriptedPrompter::install();
        registerAcquisitionWindows(true);
        { // the first account, as the login dialog creates it on an empty users table
            auto db = openDepartmentDatabase(databaseConfig({}));
            LoginComponent::addUser(*db, QStringLiteral("T01"), QStringLiteral("Joy Manalo"), QStringLiteral("password1"));
        }
        StartupOptions options;
        options.arguments = {QStringLiteral("--demo")};
        options.demo = true;
        options.scriptedLogin = std::make_pair(QStringLiteral("T01"), QStringLiteral("password1"));
        options.showMain = [] {
            frmMain *w = frmMain::instance();
            w->show();
            return w;
        };
        QVERIFY(runStartup(options));
        QCOMPARE(dicomNodes().value(DicomNodes::StorageNode), QStringLiteral("localhost"));
        QCOMPARE(dicomNodes().value(DicomNodes::StorageAE), QStringLiteral("VELMOR"));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(m_storage));

        frmMain::instance()->cmdAcquire->click();
        frmTransaction *ed = frmTransaction::loaded();
        QVERIFY(ed && ed->isVisible());
        ed->btnRefresh->click();
        const QString transNo = ed->txtTransNo->text();
        QVERIFY(!transNo.isEmpty());
        for (auto [field, value] : {std::pair{ed->txtHospNum, "3"}, std::pair{ed->txtPatientID, "3"}, std::pair{ed->txtLName, "SANTOS"},
                                    std::pair{ed->txtFName, "MARIA"}, std::pair{ed->txtGender, "F"}, std::pair{ed->txtBDate, "03/14/1975"}})
            field->setText(QLatin1String(value));
        ed->btnProceed->click(); // "Capture Video": the exam is saved, the station opens
        frmAcquire *station = frmAcquire::loaded();
        QVERIFY(station && station->isVisible());
        QTRY_VERIFY(!station->actiVideoX1->grabFrame().isNull());
        QSignalSpy stored(station, &frmAcquire::frameStored);
        for (int i = 0; i < 3; ++i)
            station->cmdCaptureBMP->click();
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 3, 30000);
        station->close();

        QImage picture(64, 48, QImage::Format_RGB888);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(m_dir.filePath(QStringLiteral("still.jpg"))));
        prompter->fileAnswers << m_dir.filePath(QStringLiteral("still.jpg"));
        ctlImageList *list = ed->ctlImageList1;
        list->cmdImport->click();
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(list->rowCount(), 4);
        list->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QVERIFY2(prompter->messages().isEmpty(), qPrintable(prompter->messages().join('|')));
        QCOMPARE(list->rows().at(3).status, QStringLiteral("Saved"));
        QStringList onServer;
        for (QDirIterator it(state().Server_Name, {"*.dcm"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            onServer << it.next();
        QCOMPARE(onServer.size(), 4);
        QVERIFY(onServer.at(0).contains(QStringLiteral("/ACQUIRE/US/")));
        QVERIFY(onServer.at(0).contains(QLatin1Char('/') + transNo + QLatin1Char('/')));

        list->cmdSendToPACS->click();
        QVERIFY(session().jobs().waitForIdle(60000));
        QVERIFY2(frmLog::instance()->text().trimmed().endsWith("Send Complete."), qPrintable(frmLog::instance()->text()));
        const QJsonArray studies = get(QStringLiteral("/studies?expand")).toArray();
        QCOMPARE(studies.size(), 1);
        const QJsonObject study = studies.at(0).toObject();
        QCOMPARE(study.value("MainDicomTags").toObject().value("AccessionNumber").toString(), transNo);
        QCOMPARE(study.value("MainDicomTags").toObject().value("StudyInstanceUID").toString(), ed->txtStudyUID->text());
        const QJsonArray instances = get(QStringLiteral("/instances")).toArray();
        QCOMPARE(instances.size(), 4);
        QStringList numbers;
        for (const QJsonValue &id : instances) {
            const QJsonObject tags = get(QStringLiteral("/instances/%1/simplified-tags").arg(id.toString())).toObject();
            QCOMPARE(tags.value("AccessionNumber").toString(), transNo);
            numbers << tags.value("InstanceNumber").toString();
        }
        numbers.sort();
        QCOMPARE(numbers, (QStringList{"1", "2", "3", "4"}));

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

ORV_TEST_MAIN(tst_DemoWorkstation)
#include "tst_demoworkstation.moc"
