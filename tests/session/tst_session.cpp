// The exam session without any window: background jobs deliver in order to the transaction they
// were started for, rows follow the open exam, and image numbers are handed out once.
#include "common/TestMain.h"
#include "session/ExamSession.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

using namespace orv;
using T = OpenTransaction;

namespace {
ImageRow newRow(const QString &name)
{
    return ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), QStringLiteral("/tmp"), name, QString());
}
ImageRow savedRow(const QString &name, const QString &id)
{
    return ImageRow::make(kStatusSaved, QStringLiteral("Image"), QStringLiteral("srv"), QStringLiteral("images\\US"),
                          QStringLiteral("2026\\2026-12-05\\A1"), name, id);
}
QStringList names(const ImageRowsModel *m)
{
    QStringList out;
    for (const ImageRow &r : m->rows())
        out << r.fileName;
    return out;
}
} // namespace

class tst_Session : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { resetSession(); }

    // Work posted by two transactions' jobs reaches each transaction's rows, in the order each
    // job posted it, after the editor has moved on to another exam; the rows of a transaction no
    // longer open live until its work has ended.
    void jobsDeliverToTheirOwnTransaction()
    {
        ExamSession &s = session();
        s.transaction().setValue(T::TransNo, QStringLiteral("A1"));
        QSemaphore go;
        QThread *workThread = nullptr;
        s.jobs().start(QStringLiteral("A1"), QStringLiteral("import"), [&](JobContext &job) {
            workThread = QThread::currentThread();
            go.acquire();
            for (int i = 0; i < 50; ++i)
                job.post([i, no = job.transNo()] { session().rows(no)->append(newRow(QStringLiteral("a%1.dcm").arg(i))); });
        });
        QVERIFY(s.jobs().isBusy(QStringLiteral("A1")));
        s.beginExam();
        s.transaction().setValue(T::TransNo, QStringLiteral("B2"));
        QCOMPARE(s.openRows()->transNo(), QStringLiteral("B2"));
        s.openRows()->append(newRow(QStringLiteral("b.dcm")));
        QVERIFY(!s.jobs().isBusy(QStringLiteral("B2")));
        go.release();
        QVERIFY(s.jobs().waitForIdle(10000));
        QVERIFY(workThread && workThread != QThread::currentThread());
        QCOMPARE(names(s.openRows()), QStringList{QStringLiteral("b.dcm")});
        QVERIFY(!s.existingRows(QStringLiteral("A1"))); // delivered, then let go: nothing shows it
    }

    // Jobs of one lane run one after the other in the order started; a cancelled job sees it.
    void lanesKeepOrderAndCancelReachesTheWork()
    {
        JobRunner &jobs = session().jobs();
        QStringList order;
        QMutex mutex;
        JobOptions lane;
        lane.lane = QStringLiteral("frames");
        lane.exclusive = false;
        for (int i = 0; i < 8; ++i)
            jobs.start(QStringLiteral("77"), QStringLiteral("frame"), [&, i](JobContext &) {
                QThread::msleep(8 - i); // later ones are quicker: only the lane keeps them in order
                QMutexLocker lock(&mutex);
                order << QString::number(i);
            }, {}, lane);
        QVERIFY(!jobs.isBusy(QStringLiteral("77"))); // frames never make the list busy
        QCOMPARE(jobs.running(QStringLiteral("frame")), 8);
        bool sawCancel = false;
        QSemaphore started;
        jobs.start(QStringLiteral("77"), QStringLiteral("save"), [&](JobContext &job) {
            started.release();
            while (!job.cancelled())
                QThread::msleep(1);
            sawCancel = true;
        });
        started.acquire();
        jobs.cancel(QStringLiteral("77"));
        QVERIFY(jobs.waitForIdle(10000));
        QCOMPARE(order, (QStringList{"0", "1", "2", "3", "4", "5", "6", "7"}));
        QVERIFY(sawCancel);
    }

    // A handler that holds a message box open (a nested event loop) holds back only its own job:
    // another job's rows and its end are delivered meanwhile, and the first job's next handler
    // runs once the box is closed.
    void aMessageBoxHoldsBackOnlyItsOwnJob()
    {
        JobRunner &jobs = session().jobs();
        QStringList order;
        bool otherEnded = false;
        jobs.start(QStringLiteral("A1"), QStringLiteral("save"), [&](JobContext &job) {
            job.post([&] {
                order << QStringLiteral("box open");
                jobs.start(QStringLiteral("B2"), QStringLiteral("frame"), [&](JobContext &other) {
                    other.post([&] { order << QStringLiteral("other row"); });
                }, [&] { otherEnded = true; });
                QEventLoop box;
                QTimer::singleShot(5000, &box, &QEventLoop::quit);
                QTimer poll;
                connect(&poll, &QTimer::timeout, &box, [&] {
                    if (otherEnded)
                        box.quit();
                });
                poll.start(5);
                box.exec();
                order << QStringLiteral("box closed");
            });
            job.post([&] { order << QStringLiteral("next of the same job"); });
        });
        QVERIFY(jobs.waitForIdle(10000));
        QVERIFY(otherEnded);
        QCOMPARE(order, (QStringList{"box open", "other row", "box closed", "next of the same job"}));
    }

    // The rows of a new exam follow its number as it is typed; a reload after a save keeps the
    // New rows added while the save ran.
    void rowsFollowTheNumberAndSurviveAReload()
    {
        ExamSession &s = session();
        QSignalSpy switched(&s, &ExamSession::openRowsChanged);
        s.beginExam();
        s.openRows()->append(newRow(QStringLiteral("x.dcm")));
        for (const char *typed : {"1", "12", "123"})
            s.transaction().setValue(T::TransNo, QLatin1String(typed));
        QCOMPARE(names(s.openRows()), QStringList{QStringLiteral("x.dcm")});
        QCOMPARE(s.openRows()->transNo(), QStringLiteral("123"));
        QVERIFY(switched.size() >= 3);

        ImageRowsModel *rows = s.openRows();
        const quint64 mark = rows->mark();
        rows->append(newRow(QStringLiteral("during.dcm")));
        rows->reload({savedRow(QStringLiteral("x.dcm"), QStringLiteral("7"))}, mark);
        QCOMPARE(names(rows), (QStringList{"x.dcm", "during.dcm"}));
        QCOMPARE(rows->row(0).status, kStatusSaved);
        rows->reload({savedRow(QStringLiteral("x.dcm"), QStringLiteral("7"))}); // a plain reload drops New rows
        QCOMPARE(rows->count(), 1);
    }

    // Typed values: dates parsed from the editor's text, numbers from their leading digits; image
    // numbers taken in order and given back only while nothing was taken since.
    void typedRecordAndImageNumbers()
    {
        T &t = session().transaction();
        t.setValue(T::TransDate, QStringLiteral("12/05/2026"));
        t.setValue(T::BDate, QStringLiteral("13/45/2000"));
        t.setValue(T::SeriesNum, QStringLiteral(" 2x"));
        t.setValue(T::ImgNum, QStringLiteral("4"));
        const TransactionRecord r = t.record();
        QCOMPARE(r.transDate, QDate(2026, 12, 5));
        QVERIFY(!r.birthDate.isValid());
        QCOMPARE(r.seriesNumber, 2);
        QCOMPARE(parseShownDate(QStringLiteral("2026-12-05 00:00:00")), QDate(2026, 12, 5));

        QCOMPARE(t.takeImageNumbers(3), 5);
        QCOMPARE(t.value(T::ImgNum), QStringLiteral("7"));
        const int next = t.takeImageNumbers(1);
        t.giveBackImageNumbers(5, 3); // another number was taken since: no gap is closed
        QCOMPARE(t.value(T::ImgNum), QStringLiteral("8"));
        t.giveBackImageNumbers(next, 1);
        QCOMPARE(t.value(T::ImgNum), QStringLiteral("7"));
    }
};

ORV_TEST_MAIN(tst_Session)
#include "tst_session.moc"
