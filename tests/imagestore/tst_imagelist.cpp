// The image list of the editor, driven through its controls offscreen: imports, delete and save
// against a real database and real folders.
#include "common/ScriptedPrompter.h"
#include "common/TestDb.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/Database.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/frmLog.h"
#include "core/frmOptions.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"
#include "viewer/frmImageViewer.h"

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QThreadPool>
#include <QTimer>

using namespace orv;
using namespace orv::test;
using T = OpenTransaction;

class tst_ImageList : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;
    ctlImageList *m_list = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    Connection &db() { return state().db(); }

    void login(Backend b)
    {
        QVERIFY(loginOnFreshDatabase(m_db, b, [](Connection &db) {
            db.execute(QStringLiteral("INSERT INTO pacs..tblTransaction(trans_no, hospnum) VALUES('00123', 'H-4471')"));
        }));
        state().Server_Name = path(QStringLiteral("server"));
        state().Server_Folder = QStringLiteral("images");
        state().TempFolder = path(QStringLiteral("pacstemp"));
        state().CompanyName = QStringLiteral("ST. LUKE'S");
        QDir().mkpath(path(QStringLiteral("server/images")));
        QDir().mkpath(state().TempFolder);
        openTransaction().clear();
        const QHash<T::Field, QString> values{
            {T::TransNo, "00123"}, {T::HospNum, "H-4471"}, {T::ExamType, "US"}, {T::ExamId, "US01"},
            {T::ExamName, "ABDOMEN"}, {T::TransDate, "12/05/2026"}, {T::StudyUID, "1.2.826.0.1.77.1"},
            {T::SeriesUID, "1.2.826.0.1.77.1.1"}, {T::SeriesNum, "1"}, {T::ImgNum, "4"}, {T::LName, "DELA CRUZ"},
            {T::FName, "JUAN"}, {T::Gender, "M"}, {T::BDate, "02/14/1980"}};
        for (auto it = values.begin(); it != values.end(); ++it)
            openTransaction().setValue(it.key(), it.value());
        m_list = ctlImageList::instance();
        m_list->resize(900, 500);
        m_list->show();
    }

    QString picture(const QString &name, const char *format = nullptr)
    {
        QImage img(64, 48, QImage::Format_RGB888);
        img.fill(QColor(30, 140, 200));
        if (!img.save(path(name), format))
            qFatal("cannot write %s", qPrintable(name));
        return path(name);
    }
    // A DICOM file of another patient, written by the toolkit.
    QString dicomFile(const QString &name, const QString &patient = QStringLiteral("OTHER^PATIENT"))
    {
        dicom::Image image;
        image.setPatientName(patient);
        image.importPicture(picture(QStringLiteral("src.png")), QStringLiteral("png"));
        QDir().mkpath(QFileInfo(path(name)).path());
        image.writeFile(path(name));
        return path(name);
    }
    // Clicks a command and waits until its work has ended.
    void run(QPushButton *command)
    {
        QSignalSpy finished(m_list, &ctlImageList::workFinished);
        command->click();
        QVERIFY2(finished.wait(60000), qPrintable(QStringLiteral("no end of work; pool threads busy: %1, list busy: %2, shown: %3")
                                                      .arg(QThreadPool::globalInstance()->activeThreadCount())
                                                      .arg(m_list->isBusy())
                                                      .arg(m_prompter->messages().join(QLatin1Char('|')))));
        QVERIFY(!m_list->isBusy());
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (const ImageRow &r : m_list->rows())
            out << r.cells()[c];
        return out;
    }
    int records() { return int(db().query(QStringLiteral("SELECT file_id FROM pacs..tblFile")).rowCount()); }
    static frmImageViewer *viewer() { return frmImageViewer::instance(); }

private slots:
    void init() { m_prompter = ScriptedPrompter::install(); }
    void cleanup()
    {
        delete ctlImageList::existing();
        delete frmImageViewer::existing();
        delete frmLog::existing();
        delete frmOptions::loaded();
        resetSession();
        resetState();
        m_db.reset();
    }
    void initTestCase() { m_dir = std::make_unique<QTemporaryDir>(); }

    // A folder import lists the folder's DICOM files in name order with its progress lines; the
    // first unreadable file ends it with the reason, keeping the rows before it; the window keeps
    // handling events all along.
    void folderImportStopsAtTheFirstUnreadableFile()
    {
        login(Backend::SQLite);
        const QString folder = path(QStringLiteral("incoming"));
        QDir().mkpath(folder + "/sub");
        dicom::Image image;
        image.importPicture(picture(QStringLiteral("tiny.png")), QStringLiteral("png"));
        for (int i = 0; i < 1000; ++i) {
            image.setInstanceUid(dicom::newUid());
            image.writeFile(QStringLiteral("%1/img%2.dcm").arg(folder).arg(i, 4, 10, QLatin1Char('0')));
        }
        image.writeFile(folder + "/sub/deeper.dcm");
        QFile notes(folder + "/notes.txt");
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("not an image"));
        QFile corrupt(folder + "/zz_corrupt.dcm");
        QVERIFY(corrupt.open(QIODevice::WriteOnly) && corrupt.write(QByteArray(300, '\x07')));
        corrupt.close();

        m_list->chkImportFolder->setChecked(true);
        m_list->txtFolder->setText(folder); // no trailing separator
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            longestGap = qMax(longestGap, sinceTick.restart());
        });
        sinceTick.start();
        tick.start(5);
        run(m_list->cmdImportFolder);
        tick.stop();

        QCOMPARE(m_list->rowCount(), 1000);
        QCOMPARE(viewer()->Images().count(), 1000);
        QCOMPARE(m_list->row(1000), ImageRow::make("New", "Image", "localtemp", "", folder + "\\", "img0999.dcm", ""));
        QCOMPARE(m_list->rowPath(1), folder + "//img0000.dcm");
        QCOMPARE(m_prompter->messages().size(), 1);
        QVERIFY2(m_prompter->lastMessage().contains(QLatin1String("zz_corrupt.dcm")), qPrintable(m_prompter->lastMessage()));
        const QStringList lines = m_list->Text1->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 1 + 1 + 2000 + 1);
        QCOMPARE(lines[2].trimmed(), folder + "/img0000.dcm");
        QCOMPARE(lines.last().trimmed(), folder + "/zz_corrupt.dcm");
        // Not a timing target (the benchmark measures that): the event loop was never held up
        // for the length of the import.
        QVERIFY2(longestGap < 2000, qPrintable(QString::number(longestGap)));

        // A clean folder ends with "done"; a missing folder is refused with the reason.
        QFile::remove(folder + "/zz_corrupt.dcm");
        for (int i = 3; i < 1000; ++i)
            QFile::remove(QStringLiteral("%1/img%2.dcm").arg(folder).arg(i, 4, 10, QLatin1Char('0')));
        m_list->Text1->clear();
        m_list->txtFolder->setText(folder + "/");
        run(m_list->cmdImportFolder);
        QCOMPARE(m_list->rowCount(), 1003);
        QVERIFY(m_list->Text1->toPlainText().endsWith(QLatin1String("done")));
        m_list->txtFolder->setText(path(QStringLiteral("nowhere")));
        run(m_list->cmdImportFolder);
        QVERIFY2(m_prompter->lastMessage().contains(QLatin1String("nowhere")), qPrintable(m_prompter->lastMessage()));
        QCOMPARE(m_list->rowCount(), 1003);
    }

    // A picture that is not a picture and a DICOM file that is not DICOM: the reason is shown, no
    // row is added, no file written and the image number is given back, also when the picture is
    // one of several imported together.
    void unreadableImportsAddNoRow()
    {
        login(Backend::SQLite);
        QFile fake(path(QStringLiteral("fake.jpg")));
        QVERIFY(fake.open(QIODevice::WriteOnly) && fake.write("GIF89a, not a JPEG"));
        fake.close();
        m_prompter->fileAnswers << fake.fileName();
        run(m_list->cmdImport);
        QCOMPARE(m_prompter->messages().size(), 1);
        QVERIFY(m_prompter->lastMessage().contains(QLatin1String("fake.jpg")));
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("4"));
        QVERIFY(!QFile::exists(QDir(state().TempFolder).filePath(QStringLiteral("fake.dcm"))));
        m_prompter->fileAnswers << fake.fileName();
        run(m_list->cmdImportnon);
        QCOMPARE(m_prompter->messages().size(), 2);
        QCOMPARE(m_list->rowCount(), 0);
        QCOMPARE(viewer()->Images().count(), 0);
        m_prompter->fileAnswers << QString(); // cancelled dialog: nothing happens
        m_list->cmdImport->click();
        QVERIFY(!m_list->isBusy());

        // Several pictures chosen at once, one of them unreadable: the others are imported in
        // order, numbered without a gap, and shown in the viewer without bringing it forward.
        m_list->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), m_list);
        m_prompter->fileAnswers << QStringList{picture(QStringLiteral("a.jpg"), "JPG"), fake.fileName(),
                                               picture(QStringLiteral("b.jpg"), "JPG")}.join(QLatin1Char('\n'));
        run(m_list->cmdImport);
        QCOMPARE(m_prompter->messages().size(), 3);
        QVERIFY(m_prompter->lastMessage().startsWith(fake.fileName() + QStringLiteral(": ")));
        QCOMPARE(column(2), (QStringList{"a.dcm", "b.dcm"}));
        for (const auto &[name, number] : {std::pair{"a.dcm", "5"}, std::pair{"b.dcm", "6"}})
            QCOMPARE(dicom::Image::fromFile(QDir(state().TempFolder).filePath(QLatin1String(name))).dataSet().text(0x0020, 0x0013),
                     QLatin1String(number));
        QCOMPARE(openTransaction().value(T::ImgNum), QStringLiteral("6"));
        QCOMPARE(viewer()->Images().count(), 2);
        QVERIFY(viewer()->isVisible());
        QCOMPARE(QApplication::activeWindow(), m_list);
    }

    // Failures of the save: a server folder that is missing and a source file deleted before the
    // save end it with the reason; nothing is recorded for a file not copied; rows stay New.
    void saveFailuresRecordNothingUncopied()
    {
        login(Backend::SQLite);
        const QString source = dicomFile(QStringLiteral("cd/a.dcm"));
        m_list->GrdFilesAddImage("New", "Image", "localtemp", "", path("cd"), "a.dcm", "");
        m_list->GrdFilesAddImage("New", "Image", "localtemp", "", path("cd"), "gone.dcm", "");
        run(m_list->cmdSave);
        QVERIFY2(m_prompter->lastMessage().startsWith(QLatin1String("Cannot write to server. Check permissions.")),
                 qPrintable(m_prompter->lastMessage()));
        QVERIFY(m_prompter->lastMessage().contains(QLatin1String("gone.dcm")));
        QCOMPARE(records(), 1);
        QCOMPARE(column(0), (QStringList{"New", "New"}));

        m_prompter->shown.clear();
        state().Server_Name = path(QStringLiteral("unplugged"));
        run(m_list->cmdSave);
        const QStringList shown = m_prompter->messages();
        QVERIFY2(shown.size() >= 2 && shown.first().contains(QLatin1String(". Check ")), qPrintable(shown.join('|')));
        QVERIFY(shown.last().startsWith(QLatin1String("Cannot write to server. Check permissions.")));
        QCOMPARE(records(), 1);
        QVERIFY(!QDir(path(QStringLiteral("unplugged"))).exists());
    }

    // Deleting a New row removes a file the workstation made in its temporary folder, never the
    // operator's own file imported where it lies.
    void deleteKeepsTheOperatorsOwnFiles()
    {
        login(Backend::SQLite);
        const QString own = dicomFile(QStringLiteral("cd/own.dcm"));
        const QString made = dicomFile(QStringLiteral("pacstemp/made.dcm"));
        m_list->GrdFilesAddImage("New", "Image", "localtemp", "", path("cd") + "/", "own.dcm", "");
        m_list->GrdFilesAddImage("New", "Image", "localtemp", "", state().TempFolder, "made.dcm", "");
        m_list->grdFiles->setCurrentIndex(m_list->model()->index(1, 0));
        m_list->cmdDel->click();
        m_list->grdFiles->setCurrentIndex(m_list->model()->index(0, 0));
        m_list->cmdDel->click();
        QCOMPARE(m_list->rowCount(), 0);
        QVERIFY(!QFile::exists(made));
        QVERIFY(QFile::exists(own));
        QCOMPARE(m_prompter->messages(), QStringList());
    }

    // "&Open" on a Video row plays it with the clip player offered at start-up; with none
    // offered the operator is told that playback is not available.
    void videoRowsOpenInTheOfferedPlayer()
    {
        login(Backend::SQLite);
        m_list->GrdFilesAddImage("New", "Video", "localtemp", "", path("cd") + "/", "clip.avi", "");
        ctlImageList::setClipPlayer({});
        m_list->cmdOpenImage->click();
        QCOMPARE(m_prompter->messages(), QStringList{"Video playback is not available on this workstation."});
        QStringList played;
        ctlImageList::setClipPlayer([&played](const QString &file) { played << file; });
        m_list->cmdOpenImage->click();
        ctlImageList::setClipPlayer({});
        QCOMPARE(played, QStringList{m_list->rowPath(1)});
    }
};

ORV_TEST_MAIN(tst_ImageList)
#include "tst_imagelist.moc"
