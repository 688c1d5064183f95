// The capture station over the test pattern driver: frames captured into the open transaction,
// and what goes wrong (a refused size, a lost device, a full or missing folder, a hostile number).
#include "common/CaptureTools.h"
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "acquisition/frmPresets.h"
#include "core/Database.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "core/frmOptions.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/TestPattern.h"
#include "outside/dicom/Picture.h"
#include "outside/dicom/Rendering.h"
#include "outside/dicom/Toolkit.h"
#include "transactions/frmTransaction.h"
#include "viewer/frmImageViewer.h"

#include <QCheckBox>
#include <QLabel>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

namespace {
const QString kCaptureFailed = QStringLiteral("An error occured while capturing the frame...");
} // namespace

class tst_Acquire : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FreshDatabase> m_db;
    ScriptedPrompter *m_prompter = nullptr;

    QStringList temp(const char *pattern) const
    {
        return QDir(state().TempFolder).entryList({QLatin1String(pattern)}, QDir::Files, QDir::Name);
    }

    static frmAcquire *openStation()
    {
        frmAcquire *w = frmAcquire::instance();
        w->show();
        return w;
    }
    static bool live(frmAcquire *w) { return !w->actiVideoX1->grabFrame().isNull(); }

    static void openTransactionOf(const QString &transNo)
    {
        openTransaction().clear();
        openTransaction().setValue(T::TransNo, transNo);
        openTransaction().setValue(T::PatientID, QStringLiteral("3"));
        openTransaction().setValue(T::LName, QStringLiteral("O'BRIEN"));
        openTransaction().setValue(T::FName, QStringLiteral("SEAN"));
        openTransaction().setValue(T::Gender, QStringLiteral("M"));
        openTransaction().setValue(T::BDate, QStringLiteral("07/22/1984"));
    }

private slots:
    void initTestCase() { registerAcquisitionWindows(); }

    void init()
    {
        resetSettings();
        QFile::remove(settings().fileName()); // every test starts from the defaults
        resetSettings();
        m_prompter = ScriptedPrompter::install();
        capture::setTestPatternEnabled(true);
        capture::setDeviceScanEnabled(false);
        m_dir = std::make_unique<QTemporaryDir>();
        state().TempFolder = m_dir->filePath(QStringLiteral("pacstemp"));
        state().CompanyName = QStringLiteral("ORVALINE GENERAL");
        QDir().mkpath(state().TempFolder);
        openTransactionOf(QStringLiteral("77"));
    }

    void cleanup()
    {
        QVERIFY(session().jobs().waitForIdle(60000));
        delete frmAcquire::loaded();
        delete frmTransaction::loaded();
        delete ctlImageList::existing();
        delete frmOptions::loaded();
        delete frmLog::existing();
        delete frmImageViewer::existing();
        resetSession();
        resetState();
        m_db.reset();
    }

    // Twenty frames back to back from the editor's "Capture Video": a conforming JPEG object
    // each, carrying the editor's patient, a New row each, twenty viewer images.
    void captureTwentyFramesIntoTheOpenTransaction()
    {
        const QString folder = state().TempFolder;
        QVERIFY(loginOnFreshDatabase(m_db, Backend::SQLite, [](Connection &db) {
            seedDemoData(db);
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransNo"));
        }));
        state().TempFolder = folder;
        state().CompanyName = QStringLiteral("ORVALINE GENERAL");

        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->show();
        ed->btnRefresh->click();
        const QString transNo = ed->txtTransNo->text();
        QVERIFY(!transNo.isEmpty());
        ed->txtHospNum->setText(QStringLiteral("H-0003"));
        ed->txtPatientID->setText(QStringLiteral("3"));
        ed->txtLName->setText(QStringLiteral("O'BRIEN"));
        ed->txtFName->setText(QStringLiteral("SEAN"));
        ed->txtMName->setText(QStringLiteral("PATRICK"));
        ed->txtGender->setText(QStringLiteral("M"));
        ed->txtBDate->setText(QStringLiteral("07/22/1984"));
        ed->btnProceed->click();
        QVERIFY(ed->isSaved());
        frmAcquire *w = frmAcquire::loaded();
        QVERIFY(w && w->isVisible());
        QTRY_VERIFY(live(w));
        QVERIFY(w->cmdCaptureBMP->isEnabled());

        QSignalSpy stored(w, &frmAcquire::frameStored);
        for (int i = 0; i < 20; ++i)
            w->cmdCaptureBMP->click();
        QCOMPARE(ed->txtImgNum->text(), QStringLiteral("20")); // each frame takes its number at the click
        QTRY_COMPARE_WITH_TIMEOUT(stored.count(), 20, 60000);
        w->close();
        QVERIFY(m_prompter->shown.isEmpty());

        // Only the objects: no bitmap is written on the way, nothing would read it.
        QCOMPARE(temp("*.bmp"), QStringList());
        QCOMPARE(temp("*.dcm").size(), 20);
        const QRegularExpression name(QStringLiteral("^%1-\\d{4}_\\d\\d_\\d\\d_\\d\\d_\\d\\d_\\d\\d_(AM|PM)-(\\d+)\\.dcm$").arg(transNo));
        const QList<ImageRow> rows = ctlImageList::instance()->rows();
        QCOMPARE(rows.size(), 20);
        for (int i = 0; i < 20; ++i) {
            const ImageRow &r = rows.at(i);
            const auto m = name.match(r.fileName);
            QVERIFY2(m.hasMatch(), qPrintable(r.fileName));
            QCOMPARE(m.captured(2).toInt(), i + 1); // listed in capture order
            QCOMPARE(r, ImageRow::make(QStringLiteral("New"), QStringLiteral("Image"), QStringLiteral("localtemp"),
                                       QString(), folder, r.fileName, QString()));
            QCOMPARE(stored.at(i).at(0).toString(), QDir(folder).filePath(r.fileName));
        }
        QCOMPARE(frmImageViewer::instance()->Images().count(), 20);

        for (int i = 0; i < 20; ++i) {
            const QString path = QDir(folder).filePath(rows.at(i).fileName);
            QCOMPARE(dciodvfyErrors(path), QStringList());
            const dicom::Image image = dicom::Image::fromFile(path);
            const dicom::DataSet ds = image.dataSet();
            QCOMPARE(ds.text(0x0010, 0x0010), QStringLiteral("O'BRIEN^SEAN^PATRICK"));
            // The hospital number, as every object of the exam; the registration number beside it.
            QCOMPARE(ds.text(0x0010, 0x0020), QStringLiteral("H-0003"));
            QCOMPARE(ds.attribute(0x0010, 0x1002).items.value(0).text(0x0010, 0x0020), QStringLiteral("3"));
            // Filed under the exam: its study, series and accession, numbered in capture order.
            QCOMPARE(image.studyUid(), ed->txtStudyUID->text());
            QCOMPARE(image.seriesUid(), ed->txtSeriesUID->text());
            QCOMPARE(ds.text(0x0008, 0x0050), transNo);
            QCOMPARE(ds.text(0x0020, 0x0013), QString::number(i + 1));
            QCOMPARE(ds.text(0x0020, 0x0011), ed->txtSeriesNum->text());
            QCOMPARE(ds.text(0x0008, 0x0020), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
            OFString ts;
            image.fileFormat()->getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, ts);
            QCOMPARE(QString::fromLatin1(ts.c_str()), QString::fromLatin1(dicom::kJpegExtended));
            // The viewer holds the object as written, compressed, and shows it.
            const dicom::Image shown = frmImageViewer::instance()->Images().item(i + 1);
            QCOMPARE(shown.instanceUid(), image.instanceUid());
            QCOMPARE(shown.listFileName(), rows.at(i).fileName);
            QCOMPARE(shown.fileFormat()->getDataset()->getOriginalXfer(), EXS_JPEGProcess2_4);
        }
        // The viewer's fast decode of a captured frame shows what the toolkit's decoder shows.
        const dicom::Image first = frmImageViewer::instance()->Images().item(1);
        const auto fast = dicom::DecodedImage::decode(first);
        const dicom::Picture toolkit = first.render(0);
        QVERIFY(fast->colour && fast->width == toolkit.width && fast->height == toolkit.height);
        QCOMPARE(fast->rgb.size(), toolkit.pixels.size());
        int worst = 0;
        for (std::size_t k = 0; k < toolkit.pixels.size(); ++k)
            worst = std::max(worst, std::abs(int(fast->rgb[k]) - int(toolkit.pixels[k])));
        QVERIFY2(worst <= 2, qPrintable(QString::number(worst)));

        // Opening a row while the viewer is hidden fills it from the list: each frame once.
        ctlImageList *list = ctlImageList::instance();
        list->grdFiles->setCurrentIndex(list->model()->index(0, 0));
        list->cmdOpenImage->click();
        QTRY_VERIFY(frmImageViewer::instance()->isVisible());
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(frmImageViewer::instance()->Images().count(), 20);
    }

    // Maintenance mode: each step of a frame capture is traced in its order on the GUI thread,
    // and the bitmap the trace names is the frame the object holds.
    void maintenanceModeTracesEachStep()
    {
        state().MaintenanceMode = true;
        frmAcquire *w = openStation();
        QTRY_VERIFY(live(w));
        QSignalSpy stored(w, &frmAcquire::frameStored);
        w->cmdCaptureBMP->click();
        QCOMPARE(stored.count(), 1);
        const QString dcm = stored.at(0).at(0).toString();
        const QString base = QFileInfo(dcm).completeBaseName();
        const QString bmp = QDir(state().TempFolder).filePath(base + QStringLiteral(".bmp"));
        const ImageRow row = ctlImageList::instance()->rows().value(0);
        QCOMPARE(m_prompter->messages(),
                 (QStringList{"1", "2", bmp, "3", "3.5", base, QString::fromLatin1(dicom::kJpegExtended), "4", "A",
                              row.cells().join(QLatin1String(" -- ")), "b", "5", "6"}));
        QCOMPARE(row.fileName, base + QStringLiteral(".dcm"));
        QCOMPARE(w->actiVideoX1->FrameFileName(), bmp);
        QCOMPARE(dciodvfyErrors(dcm), QStringList());
        const QImage frame(bmp);
        const dicom::Picture shown = dicom::Image::fromFile(dcm).render(0);
        QCOMPARE(QSize(shown.width, shown.height), frame.size());
    }

    // A folder that is gone, a full disc, a device unplugged: the message, no row and no viewer
    // image for the frame, the counter value spent, and the window still usable.
    void failuresLeaveNoRow()
    {
        frmAcquire *w = openStation();
        QTRY_VERIFY(live(w));
        const QString folder = state().TempFolder;
        state().TempFolder = folder + QStringLiteral("/gone");
        w->cmdCaptureBMP->click();
        QTRY_COMPARE(m_prompter->messages(), QStringList{kCaptureFailed});
        state().TempFolder = folder;
        {
            FileSizeLimit full(16 * 1024);
            w->cmdCaptureBMP->click();
            QTRY_COMPARE(m_prompter->messages().size(), 2);
        }
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("The captured frame could not be stored as a DICOM file:")),
                 qPrintable(m_prompter->lastMessage()));
        QTRY_VERIFY(w->cmdCancel->isEnabled());
        QCOMPARE(ctlImageList::instance()->rows().size(), 0);
        QCOMPARE(frmImageViewer::instance()->Images().count(), 0);
        QCOMPARE(temp("*"), QStringList()); // nothing half-written is left
        QCOMPARE(w->frameCounter(), 2);

        QSignalSpy stored(w, &frmAcquire::frameStored);
        w->cmdCaptureBMP->click();
        QTRY_COMPARE(stored.count(), 1);
        QVERIFY(stored.at(0).at(0).toString().endsWith(QStringLiteral("-3.dcm")));
        QCOMPARE(ctlImageList::instance()->rows().size(), 1);

        capture::unplugTestPattern();
        QTRY_COMPARE(m_prompter->messages().size(), 3);
        QVERIFY(m_prompter->lastMessage().startsWith(QStringLiteral("The video source stopped delivering frames")));
        QVERIFY(m_prompter->lastMessage().contains(QStringLiteral("The device was unplugged.")));
        QVERIFY(!w->cmdCaptureBMP->isEnabled() && w->cmdConnect->isEnabled());
        w->Command2->click(); // plugged in again
        QTRY_VERIFY(live(w));
        QVERIFY(w->cmdCaptureBMP->isEnabled());
    }

    // A number taken from a worklist that would reach outside the temporary folder names no
    // frame and no clip: the message says why and nothing is written anywhere.
    void hostileTransactionNumberWritesNothing()
    {
        const QString outside = m_dir->filePath(QStringLiteral("X"));
        openTransactionOf(QStringLiteral("../X"));
        frmAcquire *w = openStation();
        QTRY_VERIFY(live(w));
        w->cmdCaptureBMP->click();
        w->cmdOutputFile->click();
        const QString why = QStringLiteral("The transaction number \"../X\" cannot name a file: it holds a folder separator.");
        QCOMPARE(m_prompter->messages(), (QStringList{why, why}));
        QVERIFY(w->txtOutputFilename->text().isEmpty());
        QVERIFY(session().jobs().waitForIdle(10000));
        QCOMPARE(temp("*"), QStringList());
        QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("X*")}), QStringList());
        QVERIFY(!QFileInfo::exists(outside));
        QCOMPARE(ctlImageList::instance()->rows().size(), 0);
    }

    // A frame never takes the name of a picture already waiting (a reopened exam's station counts
    // from 1 again within the same second); a frame that cannot become an object is reported,
    // and the name claimed is given up.
    void framesNeverOverwriteAndFailuresGiveUpTheName()
    {
        QFile earlier(QDir(state().TempFolder).filePath(QStringLiteral("77-x-1.dcm")));
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier picture") > 0);
        earlier.close();
        QStringList failures;
        QStringList written;
        bool claimed = false;
        FrameJob job;
        job.folder = state().TempFolder;
        job.transaction = openTransaction().record();
        job.at = QDateTime::currentDateTime();
        job.baseName = QStringLiteral("77-x-1");
        const auto done = [&](const FrameJob &j, bool nameClaimed, const QString &failure) {
            failures << failure;
            written << j.dcmPath();
            claimed = nameClaimed;
        };
        job.frame = QImage(64, 48, QImage::Format_RGB32);
        job.frame.fill(Qt::darkCyan);
        submitFrame(job, done);
        job.frame = QImage(0x10000, 1, QImage::Format_RGB32); // wider than a DICOM image can be
        job.frame.fill(Qt::darkCyan);
        submitFrame(job, done);
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(failures.size(), 2);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("earlier picture"));
        QCOMPARE(QFileInfo(written.at(0)).fileName(), QStringLiteral("77-x-2.dcm"));
        QVERIFY(failures.at(0).isEmpty() && dicom::Image::fromFile(written.at(0)).dataSet().text(0x0028, 0x0011) == QLatin1String("64"));
        QVERIFY2(claimed && failures.at(1).contains(QLatin1String("65536 x 1")), qPrintable(failures.at(1)));
        QCOMPARE(QFileInfo(written.at(1)).fileName(), QStringLiteral("77-x-3.dcm"));
        QVERIFY(!QFile::exists(written.at(1)));
    }
};

ORV_TEST_MAIN(tst_Acquire)
#include "tst_acquire.moc"
