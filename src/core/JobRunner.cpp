#include "JobRunner.h"

#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace orv {

namespace {
// Posted handlers run in slices of at most this length.
constexpr qint64 kSliceMilliseconds = 12;
} // namespace

void JobContext::post(std::function<void()> handler)
{
    JobRunner *runner = m_runner;
    QMetaObject::invokeMethod(
        runner, [runner, h = std::move(handler)]() mutable { runner->enqueue(std::move(h)); }, Qt::QueuedConnection);
}

void JobContext::progress(int done, int total)
{
    JobRunner *runner = m_runner;
    post([runner, transNo = m_transNo, done, total] { emit runner->progress(transNo, done, total); });
}

JobRunner::JobRunner(QObject *parent) : QObject(parent)
{
    m_pool.setMaxThreadCount(qMax(2, QThread::idealThreadCount()));
}

JobRunner::~JobRunner()
{
    shutDown();
    qDeleteAll(m_lanes);
}

QThreadPool *JobRunner::poolFor(const QString &lane)
{
    if (lane.isEmpty())
        return &m_pool;
    QThreadPool *&p = m_lanes[lane];
    if (!p) {
        p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(-1);
    }
    return p;
}

int JobRunner::start(const QString &transNo, const QString &kind, std::function<void(JobContext &)> work,
                     std::function<void()> finished, const JobOptions &options)
{
    const int id = m_nextId++;
    const bool wasBusy = isBusy(transNo);
    Job job{transNo, kind, options.exclusive, std::make_shared<std::atomic_bool>(false)};
    m_jobs.insert(id, job);
    if (options.exclusive && !wasBusy)
        emit busyChanged(transNo, true);
    if (options.total > 0)
        emit progress(transNo, 0, options.total);
    JobContext context;
    context.m_runner = this;
    context.m_id = id;
    context.m_transNo = transNo;
    context.m_cancel = job.cancel;
    poolFor(options.lane)->start([this, context, id, work = std::move(work), finished = std::move(finished)]() mutable {
        try {
            work(context);
        } catch (const std::exception &e) {
            context.post([why = describe(e)] { msgBox(nullptr, why); });
        }
        context.post([this, id, finished] { finish(id, finished); });
    });
    return id;
}

void JobRunner::finish(int id, const std::function<void()> &finished)
{
    if (finished) {
        try {
            finished();
        } catch (const std::exception &e) {
            msgBox(nullptr, describe(e));
        }
    }
    const Job job = m_jobs.take(id);
    if (job.exclusive && !isBusy(job.transNo))
        emit busyChanged(job.transNo, false);
    emit jobFinished(id, job.transNo, job.kind);
}

bool JobRunner::isBusy(const QString &transNo) const
{
    for (const Job &j : m_jobs)
        if (j.exclusive && j.transNo == transNo)
            return true;
    return false;
}

bool JobRunner::hasJobs(const QString &transNo) const
{
    for (const Job &j : m_jobs)
        if (j.transNo == transNo)
            return true;
    return false;
}

int JobRunner::running(const QString &kind) const
{
    return int(std::count_if(m_jobs.begin(), m_jobs.end(), [&](const Job &j) { return j.kind == kind; }));
}

void JobRunner::cancel(const QString &transNo)
{
    for (const Job &j : m_jobs)
        if (j.transNo == transNo)
            j.cancel->store(true);
}

void JobRunner::shutDown()
{
    for (const Job &j : m_jobs)
        j.cancel->store(true);
    m_pool.waitForDone();
    for (QThreadPool *p : std::as_const(m_lanes))
        p->waitForDone();
    // What the work posted is still to be shown (a failure, "Done.").
    if (!QCoreApplication::instance())
        return;
    QCoreApplication::sendPostedEvents(this);
    while (!m_queue.isEmpty()) {
        m_draining = false;
        drain();
        QCoreApplication::sendPostedEvents(this);
    }
}

bool JobRunner::waitForIdle(int msecs)
{
    QDeadlineTimer deadline(msecs);
    while (!m_jobs.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return m_jobs.isEmpty();
}

void JobRunner::enqueue(std::function<void()> handler)
{
    m_queue.append(std::move(handler));
    scheduleDrain();
}

void JobRunner::scheduleDrain()
{
    if (m_drainScheduled)
        return;
    m_drainScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_drainScheduled = false;
        drain();
    });
}

void JobRunner::drain()
{
    // A handler's message box runs the event loop; the drain goes on when the box is closed.
    if (m_draining)
        return;
    m_draining = true;
    QElapsedTimer slice;
    slice.start();
    while (!m_queue.isEmpty() && slice.elapsed() < kSliceMilliseconds) {
        const auto next = m_queue.takeFirst();
        try {
            next();
        } catch (const std::exception &e) {
            msgBox(nullptr, describe(e));
        }
    }
    m_draining = false;
    if (!m_queue.isEmpty())
        scheduleDrain();
}

} // namespace orv
