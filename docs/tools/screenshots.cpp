// Renders the workstation's windows with demo data into PNG files for the documentation:
//   xvfb-run -a build/docs/tools/orv_screenshots docs/screenshots
#include "acquisition/Registration.h"
#include "acquisition/frmAcquire.h"
#include "acquisition/frmAcquireImageCapStill.h"
#include "acquisition/frmSelectSource.h"
#include "acquisition/frmVideo.h"
#include "outside/encoder/AviEncoder.h"
#include <QListWidget>
#include <QScreen>
#include "core/Database.h"
#include "core/SharedState.h"
#include "core/Startup.h"
#include "session/ExamSession.h"
#include "sendqueue/SendQueue.h"
#include "core/frmLog.h"
#include "sendqueue/frmSendQueue.h"
#include "core/frmOptions.h"
#include "core/frmServer.h"
#include "core/CoreRoutines.h"
#include "outside/Error.h"
#include "dicomnet/OptionsBox.h"
#include "masterdata/StaffPickers.h"
#include "masterdata/frmExamCoded.h"
#include "masterdata/frmExams.h"
#include "masterdata/frmPatient.h"
#include "masterdata/frmSelectPatient.h"
#include <QRadioButton>
#include <QPlainTextEdit>
#include "outside/LoginDialog.h"
#include "outside/capture/CaptureControl.h"
#include "outside/capture/CaptureDriver.h"
#include "transactions/frmMain.h"
#include "transactions/frmReport.h"
#include <QFile>
#include <QPrinter>
#include "viewer/PaperPrint.h"
#include <QProcess>
#include <QGroupBox>
#include "transactions/ResultReport.h"
#include "transactions/frmTransaction.h"
#include "imagestore/ctlImageList.h"
#include "core/SharedState.h"
#include <QCheckBox>
#include <QLineEdit>
#include <QDate>
#include "viewer/Information.h"
#include "viewer/LabelForm.h"
#include "viewer/frmImageViewer.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTableView>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QMouseEvent>
#include <QRadioButton>
#include <QCheckBox>
#include <QTest>

using namespace orv;

namespace {
void save(QWidget *w, const QString &folder, const QString &name)
{
    w->show();
    w->raise();
    QTest::qWait(300);
    w->grab().save(QDir(folder).filePath(name));
}
} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir().mkpath(out);

    ConnectionConfig config;
    config.dataFolder = QDir(perUserDataFolder()).filePath(QStringLiteral("databases"));
    {
        auto db = openDepartmentDatabase(config);
        seedDemoData(*db);
        LoginComponent::addUser(*db, QStringLiteral("TECH1"), QStringLiteral("Joy Manalo"), QStringLiteral("demo-password"));
        LoginDialog login(*db);
        save(&login, out, QStringLiteral("login.png"));
    }
    OptionsBox::offerToOptions();
    StartupOptions options;
    options.arguments = {QStringLiteral("orvaline"), QStringLiteral("--demo")};
    options.demo = true;
    options.scriptedLogin = std::make_pair(QStringLiteral("TECH1"), QStringLiteral("demo-password"));
    options.showMain = [] { return frmMain::instance(); };
    QWidget *main = runStartup(options);
    main->resize(1280, 720);
    QTest::qWait(200);
    save(main, out, QStringLiteral("main.png"));
    frmMain::instance()->OpenCurrent();
    frmTransaction *editor = frmTransaction::instance();
    editor->resize(960, 760);
    // A few files as the list shows them between a capture and its save.
    ctlImageList *list = editor->ctlImageList1;
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    const QString no = editor->txtTransNo->text();
    for (int i = 1; i <= 3; ++i)
        list->GrdFilesAddImage(QStringLiteral("Saved"), QStringLiteral("Image"), QStringLiteral("\\\\imgsrv"),
                               QStringLiteral("images\\US"), day.left(4) + QStringLiteral("\\") + day + QStringLiteral("\\") + no,
                               QStringLiteral("%1-%2.dcm").arg(no).arg(i), QString::number(40 + i));
    list->GrdFilesAddImage(QStringLiteral("New"), QStringLiteral("Image"), QStringLiteral("localtemp"), QString(),
                           state().TempFolder, no + QStringLiteral("-2026_12_05_09_41_07_AM-4.dcm"), QString());
    list->GrdFilesAddImage(QStringLiteral("New"), QStringLiteral("Video"), QStringLiteral("localtemp"), QString(),
                           state().TempFolder, no + QStringLiteral("-2026_12_05_09_43_30_AM-1.avi"), QString());
    list->chkImportFolder->setChecked(true);
    QTest::qWait(100);
    save(editor, out, QStringLiteral("transaction.png"));
    // The Report page with an interpretation, and the result report in its window.
    editor->tabMain->setCurrentIndex(editor->tabMain->indexOf(editor->fraInt->parentWidget()));
    editor->txtInterpret->setPlainText(QStringLiteral(
        "The liver is normal in size with homogeneous echotexture. No focal lesion.\n"
        "The gallbladder is well distended; no stones. The common bile duct measures 4 mm.\n"
        "Both kidneys are normal in size and position, with no hydronephrosis.\n\n"
        "IMPRESSION: Normal whole abdomen ultrasound."));
    QTest::qWait(100);
    save(editor, out, QStringLiteral("transaction-report.png"));
    QFile::copy(QStringLiteral("resources/ResultPrintSQL.rpt"), ResultReport::path());
    state().CompanyName = QStringLiteral("St. Luke's Medical Center");
    editor->PrintResult(editor->GetPatName());
    if (auto *report = editor->findChild<frmReport *>()) {
        report->resize(900, 900);
        QTest::qWait(300);
        save(report, out, QStringLiteral("report.png"));
        report->close();
    }
    // The capture station on the test pattern, connected through its driver picker.
    registerAcquisitionWindows(true);
    capture::setDeviceScanEnabled(false);
    frmAcquire *acquire = frmAcquire::instance();
    acquire->show();
    acquire->Command2->click();
    acquire->resize(980, 600);
    QTest::qWait(600);
    save(acquire, out, QStringLiteral("acquire.png"));
    // Recording a clip with H.264, the options shown; then the clip playing in frmVideo.
    acquire->chkShowOptions->setChecked(true);
    acquire->resize(1180, 860);
    acquire->lstCODECs->setCurrentRow(2);
    acquire->cmdEncode->click();
    QTest::qWait(2600);
    save(acquire, out, QStringLiteral("acquire-recording.png"));
    const QString clip = acquire->AVIEncoderX1->OutputFileName();
    acquire->cmdStopEncoder->click();
    QTest::qWait(1500);
    acquire->chkShowOptions->setChecked(false);
    acquire->close();
    frmVideo *video = frmVideo::instance();
    video->setFilename(clip);
    video->resize(660, 560);
    video->show();
    video->move(0, 0);
    QTest::qWait(1200);
    // The picture is drawn in a native child window that QWidget::grab does not see: the screen's.
    video->screen()->grabWindow(0, video->geometry().x(), video->geometry().y(), video->width(), video->height())
        .save(QDir(out).filePath(QStringLiteral("video.png")));
    video->close();
    save(frmOptions::instance(), out, QStringLiteral("options.png"));
    save(frmServer::instance(), out, QStringLiteral("server.png"));
    OptionsBox *dicom = OptionsBox::instance();
    save(dicom, out, QStringLiteral("dicom-settings.png"));
    dicom->SSTab1->setCurrentIndex(1);
    save(dicom, out, QStringLiteral("dicom-settings-query.png"));
    dicom->SSTab1->setCurrentIndex(3);
    save(dicom, out, QStringLiteral("dicom-settings-printing.png"));
    dicom->StorageTLS->setChecked(true);
    dicom->TLSCertificate->setText(QStringLiteral("/etc/orvaline/tls/workstation.pem"));
    dicom->TLSPrivateKey->setText(QStringLiteral("/etc/orvaline/tls/workstation.key"));
    dicom->TLSTrustedCertificates->setText(QStringLiteral("/etc/orvaline/tls/department-ca.pem"));
    dicom->SSTab1->setCurrentIndex(dicom->SSTab1->count() - 1);
    save(dicom, out, QStringLiteral("dicom-settings-tls.png"));
    dicom->hide();
    // The send queue of a morning: images stored and committed, one not committed, one waiting
    // for an archive that is down.
    {
        SendQueue queue(state().db());
        QList<QueueEntry> entries;
        const QStringList states{QStringLiteral("committed"), QStringLiteral("committed"), QStringLiteral("sent"),
                                 QStringLiteral("failed"), QStringLiteral("queued"), QStringLiteral("queued")};
        const QStringList statuses{QStringLiteral("Committed"), QStringLiteral("Committed"), QStringLiteral("Stored, commitment asked"),
                                   QStringLiteral("Not committed: no such object instance (0x0112)"),
                                   QStringLiteral("Cannot connect to pacs.hospital.example:104 (PACS_ARCHIVE): Connection refused"),
                                   QStringLiteral("Cannot connect to pacs.hospital.example:104 (PACS_ARCHIVE): Connection refused")};
        for (int i = 0; i < states.size(); ++i) {
            QueueEntry e;
            e.sendId = QStringLiteral("shot%1").arg(i / 3);
            e.transNo = i < 3 ? QStringLiteral("00041") : QStringLiteral("00042");
            e.filePath = QDir(SendQueue::folder()).filePath(QStringLiteral("shot%1.dcm").arg(i));
            e.sourcePath = QStringLiteral("/srv/images/US/2026/2026-12-05/%1/%1-%2.dcm").arg(e.transNo).arg(i % 3 + 1);
            e.peer = {QStringLiteral("pacs.hospital.example"), 104, QStringLiteral("LOCAL"), QStringLiteral("PACS_ARCHIVE")};
            e.commit = true;
            e.sopClass = QStringLiteral("1.2.840.10008.5.1.4.1.1.7");
            e.sopInstance = QStringLiteral("1.2.826.0.1.3680043.9.7777.41.%1").arg(i + 1);
            e.transferSyntax = QStringLiteral("1.2.840.10008.1.2.1");
            e.nextAttempt = SendQueue::now() + 40000;
            entries << e;
        }
        entries = queue.add(entries, false);
        for (int i = 0; i < entries.size(); ++i)
            state().db().execute(QStringLiteral("UPDATE pacs..tblSendQueue SET state = ?, last_status = ?, attempts = ?, commit_uid = ? "
                                                "WHERE queue_id = ?"),
                                 {states[i], statuses[i], i < 4 ? 1 : 3, i == 2 ? QStringLiteral("1.2.3") : QString(), entries[i].id});
    }
    frmSendQueue *sendQueue = frmSendQueue::instance();
    sendQueue->show();
    session().jobs().waitForIdle(5000);
    save(sendQueue, out, QStringLiteral("send-queue.png"));
    sendQueue->hide();
    AddLog(QStringLiteral("Update DB: column names in each table must be unique."));
    save(frmLog::instance(), out, QStringLiteral("log.png"));
    frmLog::instance()->hide();

    // The source picker, and the still window of the source chosen in it.
    frmSelectSource *sourcePicker = frmSelectSource::instance();
    save(sourcePicker, out, QStringLiteral("select-source.png"));
    sourcePicker->cmdOk->click();
    frmAcquireImageCapStill *still = frmAcquireImageCapStill::instance();
    still->show();
    QTest::qWait(800);
    save(still, out, QStringLiteral("still-capture.png"));
    still->close();

    // Patients, staff and exams, each after a search.
    frmPatient *patients = frmPatient::instance();
    patients->Search();
    save(patients, out, QStringLiteral("patients.png"));
    frmPatient_Add *addPatient = frmPatient_Add::instance();
    addPatient->reset();
    addPatient->btnRefresh->click();
    addPatient->txtFName->setText(QStringLiteral("LIAM"));
    addPatient->txtMName->setText(QStringLiteral("JOSEPH"));
    addPatient->txtLName->setText(QStringLiteral("O'NEIL"));
    save(addPatient, out, QStringLiteral("patient-add.png"));
    addPatient->hide();
    frmPatient_Edit *editPatient = frmPatient_Edit::instance();
    editPatient->loadPatient(QStringLiteral("3"));
    save(editPatient, out, QStringLiteral("patient-edit.png"));
    editPatient->hide();
    patients->hide();
    const auto ignored = [](const auto &) {};
    frmSelectPatient::pick(nullptr, 0, ignored);
    frmSelectPatient *pickPatient = frmSelectPatient::loaded();
    pickPatient->optIN->setChecked(true);
    pickPatient->txtSearch->setText(QStringLiteral("A"));
    pickPatient->Search();
    save(pickPatient, out, QStringLiteral("select-patient.png"));
    pickPatient->hide();
    frmSelectDoc::pick(nullptr, ignored);
    frmSelectDoc *pickDoc = frmSelectDoc::loaded();
    save(pickDoc, out, QStringLiteral("select-doctor.png"));
    pickDoc->hide();
    frmSelectRad::pick(nullptr, ignored);
    frmSelectRad *pickRad = frmSelectRad::loaded();
    save(pickRad, out, QStringLiteral("select-radiologist.png"));
    pickRad->hide();
    frmSelectTech::pick(nullptr, ignored);
    frmSelectTech *pickTech = frmSelectTech::loaded();
    save(pickTech, out, QStringLiteral("select-technologist.png"));
    pickTech->hide();
    frmExams::pick(nullptr, QStringLiteral("US"), ignored);
    frmExams *exams = frmExams::loaded();
    save(exams, out, QStringLiteral("exams.png"));
    exams->hide();
    frmExamCoded::pick(nullptr, CodedFilter{}, ignored);
    frmExamCoded *coded = frmExamCoded::loaded();
    save(coded, out, QStringLiteral("coded-interpretations.png"));
    coded->hide();
    frmExamCode_Add *addCode = frmExamCode_Add::instance();
    addCode->txtExamId->setText(QStringLiteral("US07"));
    addCode->txtExamId_LostFocus();
    addCode->txtRadId->setText(QStringLiteral("1002"));
    addCode->txtRadId_LostFocus();
    addCode->txtDesc->setPlainText(QStringLiteral("The common bile duct is not dilated. No intrahepatic ductal dilatation.\n"
                                                  "IMPRESSION: Normal hepatobiliary tree."));
    save(addCode, out, QStringLiteral("exam-code-add.png"));
    addCode->hide();
    frmExamCode_Edit *editCode = frmExamCode_Edit::instance();
    editCode->loadExamCode(QStringLiteral("1"));
    save(editCode, out, QStringLiteral("exam-code-edit.png"));
    editCode->hide();

    // The viewer with CT, MR, ultrasound colour and secondary-capture samples (python3-pydicom).
    const QString samples = QStringLiteral("/usr/lib/python3/dist-packages/pydicom/data/test_files/");
    frmImageViewer *viewer = frmImageViewer::instance();
    viewer->resize(1280, 800);
    for (const char *name : {"CT_small.dcm", "MR_small.dcm", "ExplVR_BigEnd.dcm", "SC_rgb_jpeg_dcmtk.dcm",
                             "JPGExtended.dcm", "SC_ybr_full_422_uncompressed.dcm", "MR_small_RLE.dcm",
                             "rtdose_1frame.dcm", "JPEG2000.dcm"}) {
        try {
            viewer->Images().add(dicom::Image::fromFile(samples + QLatin1String(name)));
        } catch (const Error &) {
        }
    }
    viewer->Viewer->setBackgroundDecoding(false);
    const auto tiles = [&](const char *button, const QString &file) {
        viewer->findChild<QPushButton *>(QLatin1String(button))->click();
        save(viewer, out, file);
    };
    tiles("cmnuTile1x1", QStringLiteral("viewer-1x1.png"));
    tiles("cmnuTile2x3", QStringLiteral("viewer-2x3.png"));
    viewer->Viewer->setCurrentIndex(1);
    tiles("cmnuTile3x3", QStringLiteral("viewer-3x3.png"));

    // The first page "Print" lays out, rendered back from a PDF at 100 dpi.
    {
        QTemporaryDir tmp;
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::Letter));
        printer.setOutputFileName(tmp.filePath(QStringLiteral("print.pdf")));
        PaperHeader header{QStringLiteral("13"), QStringLiteral("03/03/1969"), QStringLiteral("AQUINO"), QStringLiteral("BENIGNO"),
                           QStringLiteral("CRUZ"), QStringLiteral("CT"), QStringLiteral("7"), QStringLiteral("12/05/2026")};
        QList<dicom::Image> images;
        for (int i = 1; i <= viewer->Images().count(); ++i)
            images << viewer->Images().item(i).clone();
        QStringList failures; // shown by the viewer; the page keeps their places
        printOnPaper(printer, images, header, &failures);
        QProcess::execute(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("100"), QStringLiteral("-f"), QStringLiteral("1"),
                                                      QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-singlefile"),
                                                      QStringLiteral("-png"), printer.outputFileName(),
                                                      QDir(out).filePath(QStringLiteral("paper-print"))});
    }

    // Labels and measurements drawn with the mouse on a CT and on an ultrasound picture that
    // carries an ultrasound region (0.02 cm a pixel), with the side markers.
    viewer->Images().clear();
    const dicom::Image ct = dicom::Image::fromFile(samples + QStringLiteral("CT_small.dcm"));
    dicom::Image us = dicom::Image::fromFile(samples + QStringLiteral("SC_rgb_jpeg_dcmtk.dcm"));
    {
        dicom::DataSet region;
        for (const auto &[element, value] : std::initializer_list<std::pair<quint16, QVariant>>{
                 {0x6018, 0}, {0x601A, 0}, {0x601C, us.width() - 1}, {0x601E, us.height() - 1}, {0x6024, 3}, {0x6026, 3},
                 {0x602C, 0.02}, {0x602E, 0.02}})
            region.add(0x0018, element, value);
        us.add(0x0018, 0x6011, QVariant::fromValue(QList<dicom::DataSet>{region}));
    }
    viewer->Images().add(QList<dicom::Image>{ct, us});
    viewer->findChild<QPushButton *>(QStringLiteral("cmnuTile1x2"))->click();
    viewer->show();
    QTest::qWait(300);
    const auto drawWith = [&](int mode, const dicom::Image &image, QPointF from, QPointF to) {
        viewer->Mouse[std::size_t(mode)]->click();
        const QPointF a = *viewer->Viewer->toSurface(image, from), b = *viewer->Viewer->toSurface(image, to);
        QTest::mousePress(viewer->Viewer, Qt::LeftButton, {}, a.toPoint());
        for (int i = 1; i <= 8; ++i) {
            QMouseEvent move(QEvent::MouseMove, a + (b - a) * i / 8, viewer->Viewer->mapToGlobal(a + (b - a) * i / 8), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(viewer->Viewer, &move);
        }
        QTest::mouseRelease(viewer->Viewer, Qt::LeftButton, {}, b.toPoint());
    };
    drawWith(5, ct, {20, 30}, {100, 90});
    drawWith(11, ct, {60, 70}, {110, 110});
    drawWith(7, ct, {10, 110}, {45, 80});
    drawWith(5, us, {10, 95}, {55, 78});
    drawWith(10, us, {20, 20}, {70, 60});
    dicom::Label note;
    note.text = QStringLiteral(" LIVER ");
    note.left = 40;
    note.top = 70;
    note.transparent = false;
    note.foreColour = QColor(255, 0, 0);
    viewer->Viewer->addLabel(us, note);
    viewer->AnatomicMarkers->click();
    save(viewer, out, QStringLiteral("viewer-labels.png"));

    save(LabelForm::instance(), out, QStringLiteral("label-details.png"));
    LabelForm::instance()->hide();

    Information *info = Information::instance();
    info->NewData(viewer);
    save(info, out, QStringLiteral("information.png"));
    info->close();
    viewer->close();
    resetState();
    return 0;
}
