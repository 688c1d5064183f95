// What leaves the viewer: sends to a real archive (Orthanc) with the stop at the first refusal,
// "Save as...", and "Export All" with its DICOMDIR, each run as a background job and checked
// with dciodvfy and dcmdump.

#include "Peers.h"
#include "Pictures.h"

#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"
#include "viewer/Information.h"
#include "viewer/frmImageViewer.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>

using namespace orv;
using namespace orv::dicom;
using namespace orv::test;

namespace {

const QString kPydicom = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");

} // namespace

class tst_ViewerTransfer : public QObject
{
    Q_OBJECT
private:
    frmImageViewer *m_w = nullptr;
    ScriptedPrompter *m_prompter = nullptr;
    std::unique_ptr<FreshDatabase> m_database;
    QTemporaryDir m_dir;

    // A Secondary Capture object made here, of the given patient.
    Image picture(const QString &patient, int seed)
    {
        const QString png = m_dir.filePath(QStringLiteral("p%1.png").arg(seed));
        greyPicture(64, 48, seed).save(png);
        Image image;
        image.setPatientName(patient);
        image.add(0x0010, 0x0020, patient.left(8));
        image.importPicture(png);
        image.setDescription(QStringLiteral("%1 #%2").arg(patient).arg(seed));
        return image;
    }
    void fill(const QList<Image> &images)
    {
        m_w->Images().clear();
        m_w->Images().add(images);
    }
    void click(QPushButton *b)
    {
        QVERIFY(b->isEnabled());
        b->click();
    }
    bool waitForJobs() { return session().jobs().waitForIdle(60000); }
    QStringList logLines() const { return frmLog::instance()->text().trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

private slots:
    void init();
    void cleanup();
    void cleanupTestCase()
    {
        resetSession();
        resetState(); // the database goes before the application object
    }
    void sendsReachTheArchiveAndSendAllStopsAtTheFirstRefusal();
    void sendToAPeerThatIsDownTellsWhy();
    void saveAsWritesAConformingJpegFile();
    void exportAllWritesImagesAndADicomdir();
};

void tst_ViewerTransfer::init()
{
    QVERIFY(loginOnFreshDatabase(m_database, Backend::SQLite)); // the send queue's
    resetSettings();
    QVERIFY(m_dir.isValid());
    m_prompter = ScriptedPrompter::install();
    m_w = frmImageViewer::instance();
    m_w->Viewer->setBackgroundDecoding(false);
    m_w->show();
    frmLog::instance()->txtLog->clear();
    setNetworkTimeout(5);
}

void tst_ViewerTransfer::cleanup()
{
    QVERIFY(waitForJobs());
    if (auto *w = frmImageViewer::existing()) {
        w->close();
        QTRY_VERIFY(!frmImageViewer::existing());
    }
}

void tst_ViewerTransfer::sendsReachTheArchiveAndSendAllStopsAtTheFirstRefusal()
{
    // An archive that takes one patient; once that patient is protected, others are refused.
    auto orthanc = PeerProcess::orthanc(QStringLiteral("\"MaximumPatientCount\": 1"));
    QVERIFY(orthanc->isRunning());
    dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
    dicomNodes().setValue(DicomNodes::StoragePort, QString::number(orthanc->port()));
    dicomNodes().setValue(DicomNodes::StorageAE, QStringLiteral("ORTHANC"));
    dicomNodes().setValue(DicomNodes::CallingAE, QStringLiteral("WS1"));
    const Image a = picture(QStringLiteral("ALPHA^ONE"), 1), b = picture(QStringLiteral("BRAVO^TWO"), 2),
                c = picture(QStringLiteral("ALPHA^ONE"), 3);
    fill({a, b, c});

    click(m_w->cmdDICOMSendOne); // the current image: the first
    QVERIFY(!m_w->cmdDicomSend->isEnabled() && m_w->prgWork->isVisible());
    QVERIFY(waitForJobs());
    QCOMPARE(logLines(), QStringList{QStringLiteral("Send Complete.")});
    const QJsonArray stored = QJsonDocument::fromJson(orthanc->rest(QStringLiteral("/instances"))).array();
    QCOMPARE(stored.size(), 1);
    const QString patient = QJsonDocument::fromJson(orthanc->rest(QStringLiteral("/patients"))).array().at(0).toString();
    orthanc->rest(QStringLiteral("/patients/") + patient + QStringLiteral("/protected"), "PUT", "1");

    frmLog::instance()->txtLog->clear();
    click(m_w->cmdDicomSend);
    QVERIFY(waitForJobs());
    QCOMPARE(logLines(), (QStringList{"ALPHA^ONE #1", "BRAVO^TWO #2", "Send Complete."}));
    QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("Send failed - code 42752")}); // 0xA700, out of resources
    // The first image again (the same instance), the third never sent.
    QCOMPARE(QJsonDocument::fromJson(orthanc->rest(QStringLiteral("/instances"))).array().size(), 1);
    const QByteArray found = orthanc->rest(QStringLiteral("/tools/find"), "POST",
                                           QStringLiteral(R"({"Level":"Instance","Query":{"SOPInstanceUID":"%1"}})").arg(c.instanceUid()).toUtf8());
    QCOMPARE(QJsonDocument::fromJson(found).array().size(), 0);
}

void tst_ViewerTransfer::sendToAPeerThatIsDownTellsWhy()
{
    dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
    dicomNodes().setValue(DicomNodes::StoragePort, QString::number(freeLoopbackPort()));
    fill({picture(QStringLiteral("ALPHA^ONE"), 1)});
    click(m_w->cmdDicomSend);
    QVERIFY(waitForJobs());
    QCOMPARE(m_prompter->shown.size(), 1);
    QVERIFY2(!m_prompter->lastMessage().isEmpty(), "the reason is shown");
    QCOMPARE(logLines(), QStringList{QStringLiteral("ALPHA^ONE #1")}); // no "Send Complete." after an error
}

void tst_ViewerTransfer::saveAsWritesAConformingJpegFile()
{
    click(m_w->FileWrite);
    QCOMPARE(m_prompter->lastMessage(), QStringLiteral("No image to export!"));

    fill({picture(QStringLiteral("ALPHA^ONE"), 1)});
    m_prompter->fileAnswers << QString(); // cancelled: nothing written
    click(m_w->FileWrite);
    QVERIFY(waitForJobs());

    const QString path = m_dir.filePath(QStringLiteral("saved.dcm"));
    m_prompter->fileAnswers << path;
    click(m_w->FileWrite);
    QVERIFY(waitForJobs());
    QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*.dcm*")}), QStringList{QStringLiteral("saved.dcm")});
    QCOMPARE(dciodvfyErrors(path), QStringList());
    const ToolResult dump = runTool(QStringLiteral("dcmdump"), {path});
    QVERIFY2(dump.out.contains(QStringLiteral("JPEGExtended:Process2+4")), qPrintable(dump.out.left(600)));
}

void tst_ViewerTransfer::exportAllWritesImagesAndADicomdir()
{
    session().transaction().setValue(OpenTransaction::TransNo, QStringLiteral("a-1001"));
    // A JPEG 2000 image among the pictures: written decoded, the pixels of its uncompressed source.
    fill({picture(QStringLiteral("ALPHA^ONE"), 1), picture(QStringLiteral("ALPHA^ONE"), 2), picture(QStringLiteral("ALPHA^ONE"), 3),
          Image::fromFile(kPydicom + QStringLiteral("MR_small_jp2klossless.dcm"))});
    const QString out = m_dir.filePath(QStringLiteral("OUT"));
    for (int round = 0; round < 2; ++round) { // the second time into the folder the first made
        m_prompter->shown.clear();
        m_prompter->inputAnswers << out;
        click(m_w->cmdExportDir);
        // The viewer's commands wait; the exam's image list goes on working meanwhile.
        QVERIFY(!m_w->cmdExportDir->isEnabled() && !m_w->cmdPrint->isEnabled());
        QVERIFY(!session().jobs().isBusy(session().openTransNo()));
        QVERIFY(waitForJobs());
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("DICOMDIR")});
        QCOMPARE(QDir(out + QStringLiteral("/IMAGES")).entryList(QDir::Files), (QStringList{"IMG1", "IMG2", "IMG3", "IMG4"}));
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Export complete: 4 of 4 images and the DICOMDIR were written to %1.")
                                                .arg(QDir::toNativeSeparators(out)));
    }
    const QString dicomdir = out + QStringLiteral("/DICOMDIR");
    QCOMPARE(dciodvfyErrors(dicomdir), QStringList());
    const ToolResult dump = runTool(QStringLiteral("dcmdump"), {dicomdir});
    for (int i = 1; i <= 4; ++i)
        QVERIFY(dump.out.contains(QStringLiteral("IMAGES\\IMG%1").arg(i)));
    QVERIFY2(dump.out.contains(QStringLiteral("(0004,1130) CS [A_1001]")), qPrintable(dump.out.left(2000)));
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(dciodvfyErrors(out + QStringLiteral("/IMAGES/IMG%1").arg(i)), QStringList());
    const auto pixels = [](const QString &path) {
        const Image image = Image::fromFile(path);
        const Uint16 *data = nullptr;
        unsigned long count = 0;
        image.fileFormat()->getDataset()->findAndGetUint16Array(DCM_PixelData, data, &count);
        return QByteArray(reinterpret_cast<const char *>(data), qsizetype(count * 2));
    };
    const QByteArray decoded = pixels(out + QStringLiteral("/IMAGES/IMG4"));
    QVERIFY(!decoded.isEmpty());
    QCOMPARE(decoded, pixels(kPydicom + QStringLiteral("MR_small.dcm")));

    // A folder that cannot be made: the reason is shown and nothing is written.
    QFile blocker(m_dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_prompter->shown.clear();
    m_prompter->inputAnswers << blocker.fileName() + QStringLiteral("/OUT");
    click(m_w->cmdExportDir);
    QVERIFY(waitForJobs());
    QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("Cannot create the folder")), qPrintable(m_prompter->lastMessage()));
    // An empty answer stops without writing.
    m_prompter->inputAnswers << QString();
    click(m_w->cmdExportDir);
    QVERIFY(waitForJobs());
    QVERIFY(m_w->cmdExportDir->isEnabled());
}

ORV_TEST_MAIN(tst_ViewerTransfer)
#include "tst_viewertransfer.moc"
