// Work started for one exam stays with it when the operator moves on: opening another exam or
// closing the editor while an import, a frame write and a save run.
#include "common/CaptureTools.h"
#include "common/ScriptedPrompter.h"
#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "acquisition/FrameCapture.h"
#include "core/Database.h"
#include "core/ExamSession.h"
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
    static QString accessionOf(const QString &file) { return dicom::Image::fromFile(file).dataSet().text(0x0008, 0x0050); }

private slots:
    void cleanup()
    {
        session().jobs().waitForIdle(60000);
        delete frmMain::loaded();
        delete frmTransaction::loaded();
        delete frmLog::existing();
        resetSession();
        resetState();
        m_db.reset();
    }

    // B is opened while an import, a frame write and a save of A run: A's files, rows and
    // records all end up under A, B's list never shows one of A's rows, and a Delete in B
    // cannot reach A's files.
    void anotherExamOpenedWhileWorkRuns_data() { addBackendRows(); }
    void anotherExamOpenedWhileWorkRuns()
    {
        ORV_FETCH_BACKEND(b);
        login(b);
        frmTransaction *ed = newExam(QStringLiteral("B200"), QStringLiteral("2"));
        ctlImageList *list = ed->ctlImageList1;
        m_prompter->fileAnswers << picture(QStringLiteral("b.jpg"));
        list->cmdImport->click();
        QVERIFY(session().jobs().waitForIdle(30000));
        list->cmdSave->click();
        QVERIFY(session().jobs().waitForIdle(30000));
        QCOMPARE(recorded(QStringLiteral("B200")).size(), 1);

        newExam(QStringLiteral("A100"), QStringLiteral("1"));
        m_prompter->fileAnswers << picture(QStringLiteral("a1.jpg"));
        list->cmdImport->click();
        QVERIFY(session().jobs().waitForIdle(30000));
        list->cmdSave->click(); // a1.dcm to the server
        m_prompter->fileAnswers << picture(QStringLiteral("a2.jpg"), 1500);
        session().jobs().start(QStringLiteral("A100"), QStringLiteral("wait"), [](JobContext &) {}); // not busy-refused
        QVERIFY(!ImageListActions::importPicture(path(QStringLiteral("a2.jpg")))); // A is busy saving
        QVERIFY(session().jobs().waitForIdle(30000));
        QVERIFY(ImageListActions::importPicture(path(QStringLiteral("a2.jpg"))));
        FrameJob frame;
        frame.frame = QImage(1280, 720, QImage::Format_RGB32);
        frame.frame.fill(Qt::darkGreen);
        frame.folder = state().TempFolder;
        frame.baseName = QStringLiteral("A100-frame-1");
        frame.bmpPath = QDir(frame.folder).filePath(frame.baseName + ".bmp");
        frame.dcmPath = QDir(frame.folder).filePath(frame.baseName + ".dcm");
        frame.transaction = openTransaction().record();
        frame.imageNumber = openTransaction().takeImageNumbers(1);
        frame.at = QDateTime::currentDateTime();
        submitFrame(frame, {});
        session().rows(QStringLiteral("A100"))->append(ImageRow::make(kStatusNew, "Image", kLocalTemp, "", state().TempFolder, "a1.dcm", ""));
        list->cmdSave->click();

        // B opens before any of that work has shown a result.
        ed->LoadTransaction(QStringLiteral("B200"));
        QStringList seenInB;
        connect(list->model(), &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex &, int first, int last) {
            for (int r = first; r <= last; ++r)
                seenInB << list->row(r + 1).fileName;
        });
        QVERIFY(session().jobs().waitForIdle(60000));
        QCOMPARE(list->model()->transNo(), QStringLiteral("B200"));
        QCOMPARE(seenInB, QStringList());
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->row(1).fileName, QStringLiteral("b.dcm"));

        const QStringList a = recorded(QStringLiteral("A100"));
        QCOMPARE(a.size(), 1);
        QVERIFY2(a.at(0).endsWith(QStringLiteral("\\A100\\a1.dcm")), qPrintable(a.join(',')));
        QCOMPARE(recorded(QStringLiteral("B200")).size(), 1);
        QCOMPARE(accessionOf(path(QStringLiteral("pacstemp/a2.dcm"))), QStringLiteral("A100"));
        QCOMPARE(accessionOf(frame.dcmPath), QStringLiteral("A100"));
        QCOMPARE(dciodvfyErrors(frame.dcmPath), QStringList());

        // A Delete in B removes B's file only.
        list->grdFiles->setCurrentIndex(list->model()->index(0, 0));
        list->cmdDel->click();
        QCOMPARE(list->rowCount(), 0);
        QCOMPARE(recorded(QStringLiteral("B200")), QStringList());
        const QString aServer = nativePath(state().Server_Name + "\\images\\US\\" + a.at(0));
        QVERIFY2(QFileInfo::exists(aServer), qPrintable(aServer));
        QVERIFY(QFileInfo::exists(path(QStringLiteral("pacstemp/a2.dcm"))) && QFileInfo::exists(frame.dcmPath));
        QVERIFY2(m_prompter->messages().isEmpty(), qPrintable(m_prompter->messages().join('|')));
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
