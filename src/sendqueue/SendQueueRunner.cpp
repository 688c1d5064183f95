#include "SendQueueRunner.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "outside/Error.h"

#include <QCoreApplication>
#include <QPointer>

namespace orv {

namespace {
constexpr int kTickMilliseconds = 5000;
}

SendQueueRunner &SendQueueRunner::instance()
{
    static SendQueueRunner *runner = new SendQueueRunner; // lives until the process ends
    return *runner;
}

SendQueueRunner::SendQueueRunner()
{
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &SendQueueRunner::kick);
    connect(&m_tick, &QTimer::timeout, this, &SendQueueRunner::kick);
}

void SendQueueRunner::start(const ConnectionConfig &config)
{
    m_config = config;
    m_running = true;
    m_tick.start(kTickMilliseconds);
    ensureListener();
    kick();
}

void SendQueueRunner::stop()
{
    m_running = false;
    m_tick.stop();
    m_due.stop();
    m_listener.reset();
    m_listenerKey.clear();
}

QString SendQueueRunner::ensureListener()
{
    if (!m_running || !dicomNodes().storageCommitment())
        return {};
    dicom::ListenerSettings address;
    try {
        address = dicomNodes().listenerSettings();
    } catch (const std::exception &e) {
        return describe(e);
    }
    const QString key = QStringLiteral("%1:%2:%3:%4:%5:%6:%7:%8")
                            .arg(address.aeTitle)
                            .arg(address.port)
                            .arg(address.bindAddress, address.callingAeTitles.join(QLatin1Char('\\')))
                            .arg(address.tls.enabled)
                            .arg(address.tls.certificateFile, address.tls.privateKeyFile, address.tls.trustedCertificatesFile);
    if (m_listener && key == m_listenerKey)
        return {};
    m_listener.reset();
    m_listenerKey.clear();
    const ConnectionConfig config = m_config;
    QPointer<SendQueueRunner> self(this);
    auto listener = std::make_unique<dicom::CommitmentListener>(address, [config, self](const dicom::CommitAnswer &a) {
        // On the listener's thread: a connection of its own for the answer.
        auto db = Connection::open(config);
        SendQueue(*db).recordAnswer(a);
        const QString line = QStringLiteral("Storage commitment: %1 committed, %2 not committed.").arg(a.committed.size()).arg(a.failed.size());
        QMetaObject::invokeMethod(qApp, [self, line] {
            AddLog(line);
            if (self)
                emit self->changed();
        }, Qt::QueuedConnection);
    });
    try {
        listener->start();
    } catch (const std::exception &e) {
        const QString why = describe(e);
        AddLog(why);
        return why;
    }
    m_listener = std::move(listener);
    m_listenerKey = key;
    return {};
}

void SendQueueRunner::kick()
{
    if (!m_running)
        return;
    if (m_passRunning) {
        m_again = true;
        return;
    }
    pass();
}

void SendQueueRunner::queueInBackground(const QString &transNo, const QString &kind, std::function<void(Connection &)> queue,
                                        std::function<void(const QString &error)> done)
{
    JobOptions options;
    options.exclusive = false;
    options.lane = kind;
    const ConnectionConfig config = state().db().config();
    auto error = std::make_shared<QString>();
    session().jobs().start(
        transNo, kind,
        [config, queue = std::move(queue), error](JobContext &) {
            try {
                auto db = Connection::open(config);
                queue(*db);
            } catch (const std::exception &e) {
                *error = describe(e);
            }
        },
        [error, done = std::move(done)] {
            if (error->isEmpty())
                instance().kick();
            done(*error);
        },
        options);
}

void SendQueueRunner::pass()
{
    m_passRunning = true;
    m_again = false;
    ensureListener();
    auto next = std::make_shared<qint64>(0);
    auto problem = std::make_shared<QString>();
    JobOptions options;
    options.exclusive = false;
    options.lane = jobKind();
    options.durable = true;
    const ConnectionConfig config = m_config;
    const QueueTimings timings = QueueTimings::current();
    session().jobs().start(
        QString(), jobKind(),
        [config, timings, next, problem](JobContext &job) {
          try {
            auto db = Connection::open(config);
            SendQueue queue(*db);
            while (!job.cancelled()) {
                const QList<QueueEntry> claimed = queue.claimDue();
                if (claimed.isEmpty())
                    break;
                QStringList lines;
                DeliveryHooks hooks;
                hooks.log = [&lines](const QString &l) { lines << l; };
                hooks.stopped = [&job] { return job.cancelled(); };
                const DeliveryOutcome o = queue.deliver(claimed, hooks);
                // A retry against an archive that is still down stays out of the log (the status
                // window shows it); a delivery that reached the archive logs the send's lines. A
                // step message logs its own line.
                if (claimed.first().service.isEmpty()) {
                    if (o.sent + o.notStored > 0 || o.failure.isEmpty()) {
                        const dicom::Peer &p = claimed.first().peer;
                        lines.prepend(QStringLiteral("Sending to: %1 | %2 | %3 | %4").arg(p.host).arg(p.port).arg(p.callingAe, p.calledAe));
                        lines << (o.failure.isEmpty() ? QStringLiteral("Send Complete.") : QStringLiteral("Cannot Send.") + o.failure);
                    } else {
                        lines.clear();
                    }
                }
                if (!lines.isEmpty())
                    job.post([lines] {
                        for (const QString &l : lines)
                            AddLog(l);
                    });
            }
            for (const QString &transNo : queue.transactionsAwaitingCommitment()) {
                try {
                    queue.requestCommitment(transNo);
                } catch (const std::exception &) {
                    // Recorded on the entries; asked again by the next pass.
                }
            }
            queue.expireCommitments(timings.commitTimeoutSeconds);
            *next = queue.nextDue();
          } catch (const std::exception &e) {
            // The database could not be reached: tried again at the next tick.
            *problem = describe(e);
          }
        },
        [this, next, problem] {
            if (*problem != m_lastProblem && !problem->isEmpty())
                AddLog(QStringLiteral("The send queue cannot be read: ") + *problem);
            m_lastProblem = *problem;
            passEnded(*next);
        },
        options);
}

void SendQueueRunner::passEnded(qint64 nextDue)
{
    m_passRunning = false;
    emit changed();
    if (!m_running)
        return;
    if (m_again) {
        pass();
        return;
    }
    if (nextDue > 0) {
        const qint64 wait = std::max<qint64>(0, nextDue - SendQueue::now());
        if (!m_due.isActive() || m_due.remainingTime() > wait)
            m_due.start(int(std::min<qint64>(wait + 50, 3600 * 1000)));
    }
}

} // namespace orv
