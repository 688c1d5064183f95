#include "JobRunner.h"

#include "outside/Error.h"
#include "outside/Prompter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace orv {

namespace {
// Posted handlers run in slices of at most this length.
constexpr qint64 kSliceMilliseconds = 12;
} // namespace

void JobContext::post(std::function<void()> handler)
{
    JobRunner *runner = m_runner;
    QMetaObject::invokeMethod(
        runner, [runner, id = m_id, h = std::move(handler)]() mutable { runner->enqueue(id, std::move(h)); },
        Qt::QueuedConnection);
}

void JobContext::progress(int done, int total)
{
    JobRunner *runner = m_runner;
    post([runner, transNo = m_transNo, done, total, kind = m_kind] { emit runner->progress(transNo, done, total, kind); });
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
    Job job{transNo, kind, options.exclusive, std::make_shared<std::atomic_bool>(false), options.durable};
    m_jobs.insert(id, job);
    if (options.exclusive && !wasBusy)
        emit busyChanged(transNo, true);
    if (options.total > 0)
        emit progress(transNo, 0, options.total, kind);
    JobContext context;
    context.m_runner = this;
    context.m_id = id;
    context.m_transNo = transNo;
    context.m_kind = kind;
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

QStringList JobRunner::runningKinds(bool durableToo) const
{
    QList<int> ids = m_jobs.keys();
    std::sort(ids.begin(), ids.end());
    QStringList kinds;
    for (int id : std::as_const(ids))
        if ((durableToo || !m_jobs.value(id).durable) && !kinds.contains(m_jobs.value(id).kind))
            kinds << m_jobs.value(id).kind;
    return kinds;
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
    while (runNext())
        QCoreApplication::sendPostedEvents(this);
}

bool JobRunner::waitForIdle(int msecs)
{
    QDeadlineTimer deadline(msecs);
    while (!m_jobs.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return m_jobs.isEmpty();
}

void JobRunner::enqueue(int job, std::function<void()> handler)
{
    m_queue.append({job, std::move(handler)});
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

bool JobRunner::runNext()
{
    const auto it = std::find_if(m_queue.begin(), m_queue.end(),
                                 [this](const Posted &p) { return !m_inHandler.contains(p.job); });
    if (it == m_queue.end())
        return false;
    const Posted next = std::move(*it);
    m_queue.erase(it);
    // A message box shown by the handler runs the event loop, and with it drain() again: the
    // job's own later handlers wait for this one, the other jobs' run.
    m_inHandler.insert(next.job);
    try {
        next.handler();
    } catch (const std::exception &e) {
        msgBox(nullptr, describe(e));
    }
    m_inHandler.remove(next.job);
    if (!m_queue.isEmpty())
        scheduleDrain(); // what waited for this handler
    return true;
}

void JobRunner::drain()
{
    QElapsedTimer slice;
    slice.start();
    while (slice.elapsed() < kSliceMilliseconds && runNext()) {
    }
    if (std::any_of(m_queue.cbegin(), m_queue.cend(), [this](const Posted &p) { return !m_inHandler.contains(p.job); }))
        scheduleDrain();
}

} // namespace orv
