// Work started for one exam stays with it when the operator moves on: another exam opened while
// an import, a frame, a still, a clip, a save or a send runs, or the editor closed; image numbers
// given back only while no other was taken.
#include "common/CaptureTools.h"
#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/ClipRecording.h"
#include "acquisition/FrameCapture.h"
#include "core/Database.h"
#include "core/DicomNodes.h"
#include "sendqueue/SendQueue.h"
#include "session/ExamSession.h"
#include "core/frmLog.h"
#include "imagestore/ImageListActions.h"
#include "imagestore/ctlImageList.h"
#include "outside/dicom/Image.h"
#include "transactions/TransactionListModel.h"
#include "transactions/frmMain.h"
#include "transactions/frmTransaction.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

using namespace orv;
using namespace orv::test;

class tst_ExamWork : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<FreshDatabase> m_db;
    std::unique_ptr<QTemporaryDir> m_dir;
    ScriptedPrompter *m_prompter = nullptr;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    QString picture(const QString &name, int side = 64)
    {
        QImage img(side, side, QImage::Format_RGB888);
        img.fill(QColor(30, 140, 200));
        img.save(path(name));
        return path(name);
    }
    void login(Backend b)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(loginOnFreshDatabase(m_db, b, [](Connection &db) {
            seedDemoData(db);
            db.execute(QStringLiteral("DELETE FROM pacs..tblTransaction"));
        }));
        state().Server_Name = path(QStringLiteral("server"));
        state().Server_Folder = QStringLiteral("images");
        state().TempFolder = path(QStringLiteral("pacstemp"));
        QDir().mkpath(path(QStringLiteral("server/images")));
        QDir().mkpath(state().TempFolder);
        m_prompter = ScriptedPrompter::install();
    }
    // A new exam in the editor, saved, with its own patient.
    frmTransaction *newExam(const QString &transNo, const QString &patient)
    {
        frmTransaction *ed = frmTransaction::instance();
        ed->NewTransaction();
        ed->txtTransNo->setText(transNo);
        ed->txtHospNum->setText(patient);
        ed->txtPatientID->setText(patient);
        ed->txtLName->setText(QStringLiteral("PATIENT") + patient);
        ed->cmdSaveTrans->click();
        return ed;
    }
    QStringList recorded(const QString &transNo)
    {
        QStringList out;
        RecordSet rs = state().db().query(QStringLiteral("SELECT filedir, filename FROM pacs..tblFile WHERE trans_no=? ORDER BY filename"),
                                          {transNo});
        for (; !rs.eof(); rs.moveNext())
            out << rs.text(QStringLiteral("filedir")) + QLatin1Char('\\') + rs.text(QStringLiteral("filename"));
        return out;
    }

private slots:
    void cleanup()
    {
        session().jobs().waitForIdle(60000);
        delete frmMain::loaded();
        delete frmTransaction::loaded();
        delete frmLog::existing();
        resetSession();
        resetState();
        resetDicomNodes();
        m_db.reset();
    }

    // Work started for exam A delivers to A although B is opened before any of it has ended: the
    // row reaches A's list and never B's, the object carries A's patient and A's next image
    // number, and B's image number stays as it was; on every path that adds to an exam.
    void workLandsInTheExamItWasStartedFor_data()
    {
        QTest::addColumn<QString>("work");
        for (const char *work : {"import", "frame", "still", "clip", "save", "send"})
            QTest::newRow(work) << QString::fromLatin1(work);
    }
    void workLandsInTheExamItWasStartedFor()
    {
        QFETCH(QString, work);
        login(Backend::SQLite);
        frmTransaction *ed = newExam(QStringLiteral("B200"), QStringLiteral("2"));
        newExam(QStringLiteral("A100"), QStringLiteral("1"));
        dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("127.0.0.1"));
        dicomNodes().setValue(DicomNodes::StoragePort, QString::number(freeLoopbackPort())); // the archive is down
        QStringList seenInA, seenInB;
        const auto watch = [this](ImageRowsModel *rows, QStringList *seen) {
            connect(rows, &QAbstractItemModel::rowsInserted, this, [rows, seen](const QModelIndex &, int first, int last) {
                for (int r = first; r <= last; ++r)
                    *seen << rows->row(r).fileName;
            });
        };
        watch(session().openRows(), &seenInA);
        QString object = path(QStringLiteral("pacstemp/a.dcm")), listed = QStringLiteral("a.dcm");
        if (work == QLatin1String("import")) {
            QVERIFY(ImageListActions::importPicture(picture(QStringLiteral("a.jpg"))));
        } else if (work == QLatin1String("frame") || work == QLatin1String("still")) {
            FrameJob job;
            job.kind = work == QLatin1String("still") ? FrameJob::Kind::Still : FrameJob::Kind::StationFrame;
            job.frame = QImage(320, 240, QImage::Format_RGB32);
            job.frame.fill(Qt::darkGreen);
            job.folder = state().TempFolder;
            job.baseName = QStringLiteral("a");
            job.transaction = openTransaction().record();
            job.imageNumber = openTransaction().takeImageNumbers(1);
            job.at = QDateTime::currentDateTime();
            submitFrame(job, {});
        } else if (work == QLatin1String("clip")) {
            listed = QStringLiteral("a.avi");
            clipExecutor(QStringLiteral("A100"), state().TempFolder, listed)([this](const std::function<bool()> &) {
                QFile clip(path(QStringLiteral("pacstemp/a.avi")));
                QVERIFY(clip.open(QIODevice::WriteOnly) && clip.write("RIFF") == 4);
            });
        } else {
            listed = picture(QStringLiteral("pacstemp/a.jpg")).section(QLatin1Char('/'), -1);
            session().openRows()->append(ImageRow::make(kStatusNew, QStringLiteral("JPG"), kLocalTemp, QString(), state().TempFolder, listed, QString()));
            QVERIFY(work == QLatin1String("save") ? ImageListActions::save() : ImageListActions::send());
        }
        ed->LoadTransaction(QStringLiteral("B200"));
        const QString bNumber = openTransaction().value(OpenTransaction::ImgNum);
        watch(session().openRows(), &seenInB);
        QVERIFY(session().jobs().waitForIdle(60000));

        QCOMPARE(session().openTransNo(), QStringLiteral("B200"));
        QCOMPARE(seenInB, QStringList());
        QCOMPARE(session().openRows()->count(), 0);
        QCOMPARE(openTransaction().value(OpenTransaction::ImgNum), bNumber);
        QCOMPARE(seenInA.contains(listed), true);
        if (work == QLatin1String("save")) {
            QCOMPARE(recorded(QStringLiteral("A100")).size(), 1);
            QVERIFY(recorded(QStringLiteral("A100")).at(0).endsWith(QStringLiteral("\\A100\\a.jpg")));
            return;
        }
        if (work == QLatin1String("send")) {
            const QList<QueueEntry> queued = SendQueue(state().db()).entries();
            QVERIFY(queued.size() == 1 && queued.at(0).transNo == QStringLiteral("A100"));
            object = queued.at(0).filePath;
        }
        if (work == QLatin1String("clip"))
            return;
        const dicom::DataSet ds = dicom::Image::fromFile(object).dataSet();
        QCOMPARE((QStringList{ds.text(0x0008, 0x0050), ds.text(0x0010, 0x0010), ds.text(0x0020, 0x0013)}),
                 (QStringList{"A100", "PATIENT1", "1"}));
        QCOMPARE(dciodvfyErrors(object), QStringList());
    }

    // A failed import and a refused send give their image numbers back only while no other
    // number was taken meanwhile (a frame captured as they ran), so no number is handed out twice.
    void numbersAreGivenBackOnlyWhileNoneWasTakenSince_data()
    {
        QTest::addColumn<QString>("work");
        QTest::addColumn<bool>("takenMeanwhile");
        for (const char *work : {"import", "send"})
            for (const bool taken : {false, true})
                QTest::addRow("%s%s", work, taken ? ", a number taken meanwhile" : "") << QString::fromLatin1(work) << taken;
    }
    void numbersAreGivenBackOnlyWhileNoneWasTakenSince()
    {
        QFETCH(QString, work);
        QFETCH(bool, takenMeanwhile);
        login(Backend::SQLite);
        newExam(QStringLiteral("A100"), QStringLiteral("1"));
        QFile notAPicture(path(QStringLiteral("pacstemp/x.jpg")));
        QVERIFY(notAPicture.open(QIODevice::WriteOnly) && notAPicture.write("not a picture") > 0);
        notAPicture.close();
        if (work == QLatin1String("import")) {
            QVERIFY(ImageListActions::importPicture(notAPicture.fileName()));
        } else {
            dicomNodes().setValue(DicomNodes::StorageNode, QStringLiteral("no-such-host.invalid"));
            session().openRows()->append(ImageRow::make(kStatusNew, QStringLiteral("JPG"), kLocalTemp, QString(), state().TempFolder,
                                                        QStringLiteral("x.jpg"), QString()));
            QVERIFY(ImageListActions::send());
        }
        QCOMPARE(openTransaction().value(OpenTransaction::ImgNum), QStringLiteral("1"));
        if (takenMeanwhile)
            QCOMPARE(openTransaction().takeImageNumbers(1), 2);
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(m_prompter->messages().size(), 1);
        QCOMPARE(openTransaction().value(OpenTransaction::ImgNum), takenMeanwhile ? QStringLiteral("2") : QStringLiteral("0"));
    }

    // The editor closed while a save fails half-way: the window goes at once, the GUI thread
    // never waits for the save, and the failure still reaches the operator; the files stored
    // before the failure keep their records, the rest none.
    void editorClosedDuringAFailingSave()
    {
        login(Backend::SQLite);
        frmTransaction *ed = newExam(QStringLiteral("C300"), QStringLiteral("3"));
        ImageRowsModel *rows = session().openRows();
        for (int i = 0; i < 12; ++i) {
            const QString name = QStringLiteral("c%1.dcm").arg(i, 2, 10, QLatin1Char('0'));
            QFile f(path("pacstemp/" + name));
            f.open(QIODevice::WriteOnly);
            f.write(QByteArray(i == 6 ? 3 << 20 : 200 << 10, char('a' + i)));
            f.close();
            rows->append(ImageRow::make(kStatusNew, "Image", kLocalTemp, "", state().TempFolder, name, ""));
        }
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        connect(&ticker, &QTimer::timeout, this, [&] {
            longest = qMax(longest, clock.elapsed() - last);
            last = clock.elapsed();
        });
        FileSizeLimit disc(1 << 20); // the seventh file does not fit
        ed->ctlImageList1->cmdSave->click();
        clock.start();
        ticker.start(5);
        ed->close();
        QTRY_VERIFY(!frmTransaction::loaded());
        QTRY_VERIFY_WITH_TIMEOUT(!m_prompter->messages().isEmpty(), 60000);
        ticker.stop();
        QVERIFY2(longest < 100, qPrintable(QString::number(longest)));
        QVERIFY2(m_prompter->lastMessage().startsWith(QStringLiteral("Cannot write to server. Check permissions.")),
                 qPrintable(m_prompter->lastMessage()));
        QVERIFY(m_prompter->lastMessage().contains(QStringLiteral("c06.dcm")));
        QCOMPARE(recorded(QStringLiteral("C300")).size(), 6);
        QVERIFY(!frmLog::existing() || !frmLog::existing()->text().contains(QStringLiteral("Done.")));
    }

    // Another workstation deletes the exam while it is open here: its save files nothing and
    // says why.
    void saveOfATransactionDeletedElsewhere()
    {
        login(Backend::SQLite);
        newExam(QStringLiteral("D400"), QStringLiteral("4"));
        m_prompter->fileAnswers << picture(QStringLiteral("d.jpg"));
        ImageListActions::importPicture(path(QStringLiteral("d.jpg")));
        QVERIFY(session().jobs().waitForIdle(30000));
        openDepartmentDatabase(m_db->config())->execute(QStringLiteral("DELETE FROM pacs..tblTransaction WHERE trans_no = 'D400'"));
        QVERIFY(ImageListActions::save());
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(m_prompter->lastMessage(), QStringLiteral("Cannot write to server. Check permissions.The transaction D400 no longer "
                                                           "exists: it was deleted on another workstation. Nothing was saved."));
        QCOMPARE(recorded(QStringLiteral("D400")), QStringList());
        QVERIFY(!QDir(path(QStringLiteral("server/images/US"))).exists());
        QCOMPARE(session().openRows()->row(0).status, kStatusNew);
    }

    // The main window: a search leaves the focus in the grid, yet clearing the name with
    // Backspace and pressing Enter lists every exam (it opens none); Esc asks first while an exam
    // has New rows not saved, and "No" keeps the program running.
    void mainWindowSearchesAllAndAsksBeforeEnding()
    {
        login(Backend::SQLite);
        newExam(QStringLiteral("M1"), QStringLiteral("2"));
        frmTransaction *ed = newExam(QStringLiteral("M2"), QStringLiteral("3"));
        ed->hide();
        frmMain *main = frmMain::instance();
        main->show();
        main->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), main);
        main->txtLastname->setFocus();
        QTest::keyClicks(main->txtLastname, QStringLiteral("M1"));
        QTest::keyClick(main->txtLastname, Qt::Key_Return);
        QCOMPARE(main->model()->rowCount(), 1);
        for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Backspace, Qt::Key_Return})
            QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(main->txtLastname->text(), QString());
        QCOMPARE(main->model()->rowCount(), 2);
        QCOMPARE(session().openTransNo(), QStringLiteral("M2"));
        QVERIFY(!ed->isVisible());

        session().openRows()->append(ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(),
                                                    state().TempFolder + QLatin1Char('/'), QStringLiteral("x.dcm"), QString()));
        m_prompter->buttonAnswers << Prompter::No;
        main->txtLastname->setFocus();
        QTest::keyClick(main->txtLastname, Qt::Key_Escape);
        QCOMPARE(m_prompter->messages(), QStringList{QStringLiteral("Exam M2 has 1 new image(s) not saved.\n\nEnd the program anyway?")});
        QVERIFY(main->isVisible());
    }
};

ORV_TEST_MAIN(tst_ExamWork)
#include "tst_examwork.moc"
