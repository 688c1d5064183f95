#pragma once

#include "SendQueue.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace orv {

// The background sender of this workstation: delivers the send queue's due entries (one
// association per archive and transaction), asks for storage commitment once a transaction's
// objects are stored, listens for the answers the archive sends on associations of its own, and
// times out answers that never come. Its passes run as jobs of the session (lane "send queue",
// not holding any transaction busy), each on a database connection of its own; it wakes when
// something is queued (kick()), when the next back-off ends, and every few seconds for claims
// of a killed sender and commitment time-outs. One per process, GUI thread.
class SendQueueRunner : public QObject
{
    Q_OBJECT
public:
    static SendQueueRunner &instance();
    // Starts on the department database of `config` (the queue resumes: entries left queued by an
    // earlier run are delivered). Starting again only changes the database.
    void start(const ConnectionConfig &config);
    // Stops waking; a pass already running ends at its next safe point (with the session's jobs).
    void stop();
    bool isRunning() const { return m_running; }
    // Runs a pass soon (something was queued, retried or removed).
    void kick();
    // Queues something for the exam `transNo` in the background: `queue` runs on a connection of
    // its own to the department database, as a job of `kind` (jobs of one kind one after the
    // other, the exam not held busy); then, on the GUI thread, the runner is kicked when it
    // succeeded and `done` gets "" or the error's text.
    static void queueInBackground(const QString &transNo, const QString &kind, std::function<void(Connection &)> queue,
                                  std::function<void(const QString &error)> done);
    // Starts the commitment listener when storage commitment is on and it is not listening yet;
    // "" or why it cannot listen.
    QString ensureListener();
    // The job kind of the passes.
    static QString jobKind() { return QStringLiteral("send queue"); }

signals:
    // The queue's entries changed (a pass ended, an answer was recorded).
    void changed();

private:
    SendQueueRunner();
    void pass();
    void passEnded(qint64 nextDue);

    ConnectionConfig m_config;
    bool m_running = false;
    bool m_passRunning = false;
    bool m_again = false;
    QTimer m_due;  // the end of the next back-off
    QTimer m_tick; // claims of killed senders, commitment time-outs
    std::unique_ptr<dicom::CommitmentListener> m_listener;
    QString m_listenerKey;
    QString m_lastProblem;
};

} // namespace orv
