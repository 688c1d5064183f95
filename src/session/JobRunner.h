#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>

namespace orv {

class JobRunner;

// What the work of a job is given, on the thread that runs it.
class JobContext
{
public:
    // The transaction the job was started for.
    const QString &transNo() const { return m_transNo; }
    // True once the job has been asked to stop; the work ends at its next safe point.
    bool cancelled() const { return m_cancel->load(); }
    // Runs `handler` on the GUI thread after every handler this job posted before it.
    void post(std::function<void()> handler);
    // Progress for whoever shows this transaction's work of this kind: `done` of `total` (0: no
    // known total).
    void progress(int done, int total);

private:
    friend class JobRunner;
    JobRunner *m_runner = nullptr;
    int m_id = 0;
    QString m_transNo;
    QString m_kind;
    std::shared_ptr<std::atomic_bool> m_cancel;
};

// How a job runs.
struct JobOptions
{
    // An exclusive job makes its transaction busy: the image list refuses conflicting commands.
    bool exclusive = true;
    // Jobs of the same non-empty lane run one after the other.
    QString lane;
    // Steps of the work, for the progress shown from its start (0: not known yet).
    int total = 0;
    // What the job has not done is kept elsewhere (the send queue's passes): ending the program
    // cuts nothing short that would be lost.
    bool durable = false;
};

// The one runner of the session's background work: imports, the viewer fill, saves, sends and
// capture writes. Every job carries the transaction it was started for. Its work runs on a
// thread of the runner's pool (jobs of one lane one after the other, in the order started); what
// it posts runs on the GUI thread in the order posted, in slices short enough that the windows
// keep answering. A handler that shows a message box holds back only its own job's later
// handlers: the other jobs' handlers go on running while the box is open. `finished` of a job
// runs after every handler it posted; until then the job counts as running.
class JobRunner : public QObject
{
    Q_OBJECT
public:
    explicit JobRunner(QObject *parent = nullptr);
    // Asks every job to stop and waits for them (see shutDown()).
    ~JobRunner() override;

    // Starts `work` for `transNo`; returns the job's id.
    int start(const QString &transNo, const QString &kind, std::function<void(JobContext &)> work,
              std::function<void()> finished = {}, const JobOptions &options = {});

    bool isBusy(const QString &transNo) const;   // an exclusive job of the transaction runs
    bool hasJobs(const QString &transNo) const;  // any job of the transaction runs
    int running() const { return int(m_jobs.size()); }
    // Jobs of this kind running now.
    int running(const QString &kind) const;
    // The kinds of the jobs running now, each once, in the order started; durable jobs only when
    // `durableToo`.
    QStringList runningKinds(bool durableToo = true) const;
    void cancel(const QString &transNo);
    // Asks every job to stop, waits until their work has returned and runs what they posted.
    void shutDown();
    // Waits (running the event loop) until no job runs or `msecs` have passed; true when idle.
    bool waitForIdle(int msecs);

signals:
    void busyChanged(const QString &transNo, bool busy);
    // `kind` is the kind of the job that made the progress.
    void progress(const QString &transNo, int done, int total, const QString &kind = QString());
    void jobFinished(int id, const QString &transNo, const QString &kind);

private:
    friend class JobContext;
    struct Job
    {
        QString transNo;
        QString kind;
        bool exclusive = true;
        std::shared_ptr<std::atomic_bool> cancel;
        bool durable = false;
    };
    struct Posted
    {
        int job = 0;
        std::function<void()> handler;
    };
    void enqueue(int job, std::function<void()> handler);
    void scheduleDrain();
    void drain();
    // Runs the first posted handler whose job has no handler on the stack; false when none can run.
    bool runNext();
    void finish(int id, const std::function<void()> &finished);
    QThreadPool *poolFor(const QString &lane);

    QThreadPool m_pool;
    QHash<QString, QThreadPool *> m_lanes;
    QHash<int, Job> m_jobs;
    int m_nextId = 1;
    QList<Posted> m_queue;
    // Jobs one of whose handlers runs now (perhaps inside a message box's event loop).
    QSet<int> m_inHandler;
    bool m_drainScheduled = false;
};

} // namespace orv
