// The still-capture windows over the test pattern: stills filed under the open exam, new
// series, and what goes wrong.
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/CaptureSource.h"
#include "acquisition/Registration.h"
#include "acquisition/frmAcquireImage.h"
#include "acquisition/frmAcquireImageCapStill.h"
#include "acquisition/frmCAPTEST.h"
#include "acquisition/frmSelectSource.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "imagestore/ImageListActions.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/TestPattern.h"
#include "outside/capture/V4l2Driver.h"
#include "outside/dicom/Image.h"
#include "transactions/frmMain.h"
#include "transactions/frmTransaction.h"
#include "viewer/frmImageViewer.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include <sys/stat.h>

using namespace orv;
using namespace orv::test;

class tst_Stills : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FreshDatabase> m_db;
    ScriptedPrompter *m_prompter = nullptr;

    QStringList temp() const { return QDir(state().TempFolder).entryList(QDir::Files, QDir::Name); }
    static bool live(capture::CaptureControl *c) { return !c->grabFrame().isNull(); }

    // The editor on a new, saved exam of a patient, as the technologist leaves it before capturing.
    frmTransaction *editorOnNewExam()
    {
        const QString folder = m_dir->filePath(QStringLiteral("pacstemp"));
        if (!loginOnFreshDatabase(m_db, Backend::SQLite, [](Connection &db) { seedDemoData(db); }))
            return nullptr;
        state().TempFolder = folder;
        state().CompanyName = QStringLiteral("ORVALINE GENERAL");
        state().Server_Name = m_dir->path();
        state().Server_Folder = QStringLiteral("ACQUIRE");
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->show();
        ed->btnRefresh->click();
        ed->txtHospNum->setText(QStringLiteral("H-0003"));
        ed->txtPatientID->setText(QStringLiteral("3"));
        ed->txtLName->setText(QStringLiteral("O'BRIEN"));
        ed->txtFName->setText(QStringLiteral("SEAN"));
        ed->txtGender->setText(QStringLiteral("M"));
        ed->txtBDate->setText(QStringLiteral("07/22/1984"));
        return ed;
    }

private slots:
    void initTestCase() { registerAcquisitionWindows(); }

    void init()
    {
        resetSettings();
        QFile::remove(settings().fileName());
        resetSettings();
        QFile::remove(frmAcquireImageCapStill::mediaTypeFile());
        m_prompter = ScriptedPrompter::install();
        capture::setTestPatternEnabled(true);
        capture::setDeviceScanEnabled(false);
        m_dir = std::make_unique<QTemporaryDir>();
        QDir().mkpath(m_dir->filePath(QStringLiteral("pacstemp")));
    }

    void cleanup()
    {
        QVERIFY(session().jobs().waitForIdle(60000));
        delete frmAcquireImage::loaded();
        delete frmAcquireImageCapStill::loaded();
        delete frmCAPTEST::loaded();
        delete frmSelectSource::loaded();
        delete frmMain::loaded();
        delete frmTransaction::loaded();
        delete ctlImageList::existing();
        delete frmLog::existing();
        delete frmImageViewer::existing();
        resetSession();
        resetState();
        m_db.reset();
    }

    // "Capture Image Internal Card": stills of the first driver, each a conforming JPEG object
    // stamped with the exam (hospital number as Patient ID), a New row and a viewer image, the
    // bitmap gone; "&New Series" puts the following stills into a new series numbered from 1.
    void stillsFiledUnderTheExamAndNewSeries()
    {
        frmTransaction *ed = editorOnNewExam();
        QVERIFY(ed);
        const QString transNo = ed->txtTransNo->text();
        ed->cmdCaptureImage[1]->click();
        frmAcquireImage *w = frmAcquireImage::loaded();
        QTRY_VERIFY(live(w->capWindow));
        QCOMPARE(w->capWindow->size(), QSize(640, 480)); // the capture window takes the picture's size
        const QString firstSeries = ed->txtSeriesUID->text();
        const QString firstNumber = ed->txtSeriesNum->text();

        QSignalSpy stored(w, &StillCaptureWindow::stillStored);
        w->cmd4->click();
        w->cmd4->click();
        w->cmdNewSeries->click();
        w->cmd4->click();
        QTRY_COMPARE_WITH_TIMEOUT(stored.count(), 3, 60000);
        QVERIFY(m_prompter->shown.isEmpty());
        QTRY_VERIFY(frmImageViewer::existing());
        QCOMPARE(frmImageViewer::existing()->Images().count(), 3);

        const QList<ImageRow> rows = session().rows(transNo)->rows();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(temp().size(), 3); // only the DICOM files remain
        const QString nextNumber = QString::number(firstNumber.toInt() + 1);
        for (int i = 0; i < 3; ++i) {
            const ImageRow &r = rows.at(i);
            QCOMPARE(r, ImageRow::make("New", "Image", "localtemp", QString(), state().TempFolder, r.fileName, QString()));
            const QString path = QDir(state().TempFolder).filePath(r.fileName);
            QCOMPARE(dciodvfyErrors(path), QStringList());
            const dicom::Image image = dicom::Image::fromFile(path);
            const dicom::DataSet ds = image.dataSet();
            QCOMPARE(ds.text(0x0010, 0x0010), QStringLiteral("O'BRIEN^SEAN"));
            QCOMPARE(ds.text(0x0010, 0x0020), QStringLiteral("H-0003"));
            QCOMPARE(ds.text(0x0008, 0x0050), transNo);
            QCOMPARE(image.studyUid(), ed->txtStudyUID->text());
            QCOMPARE(image.seriesUid(), i < 2 ? firstSeries : ed->txtSeriesUID->text());
            QCOMPARE(ds.text(0x0020, 0x0011), i < 2 ? firstNumber : nextNumber);
            QCOMPARE(ds.text(0x0020, 0x0013), QString::number(i < 2 ? i + 1 : 1));
        }
        // The viewer knows each still by its row: deleting the second row takes out its image.
        const QString secondUid = frmImageViewer::existing()->Images().item(2).instanceUid();
        QVERIFY(ImageListActions::deleteRow(1));
        QCOMPARE(frmImageViewer::existing()->Images().count(), 2);
        QVERIFY(frmImageViewer::existing()->Images().item(1).instanceUid() != secondUid);
        QVERIFY(frmImageViewer::existing()->Images().item(2).instanceUid() != secondUid);
    }

    // No source: the window says why it has no picture and a capture gives that message, spends
    // a counter value and lists nothing. A source that fails while shown: its message, and the
    // following capture is refused the same way.
    void noSourceAndFailingSource()
    {
        frmTransaction *ed = editorOnNewExam();
        QVERIFY(ed);
        captureSource().choose(QStringLiteral("USB Video Grabber"));
        ed->cmdCaptureImage[0]->click();
        frmAcquireImageCapStill *still = frmAcquireImageCapStill::loaded();
        QTRY_VERIFY(still->lblStatus->isVisible());
        QVERIFY(still->lblStatus->text().contains("\"USB Video Grabber\" is not connected"));
        still->cmdCap->click();
        QCOMPARE(m_prompter->messages(), QStringList{still->lblStatus->text()});
        QCOMPARE(still->captureCounter(), 1);
        still->close();

        ed->cmdCaptureImage[1]->click();
        frmAcquireImage *w = frmAcquireImage::loaded();
        QTRY_VERIFY(live(w->capWindow));
        capture::unplugTestPattern();
        QTRY_COMPARE(m_prompter->messages().size(), 2);
        w->cmd4->click();
        QCOMPARE(m_prompter->messages().size(), 3);
        QVERIFY(m_prompter->lastMessage().contains("unplugged"));
        w->CMD1->click(); // "Start Cap": plugged in again
        QTRY_VERIFY(live(w->capWindow));
        QCOMPARE(session().rows(ed->txtTransNo->text())->count(), 0);
        QCOMPARE(ed->txtImgNum->text(), QStringLiteral("0"));
        QCOMPARE(temp(), QStringList());
    }
};

ORV_TEST_MAIN(tst_Stills)
#include "tst_stills.moc"
