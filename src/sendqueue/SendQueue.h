#pragma once

#include "outside/Connection.h"
#include "outside/dicom/StorageCommitment.h"
#include "outside/dicom/StoreAssociation.h"
#include "outside/dicom/ProcedureStep.h"

#include <QList>
#include <QMap>
#include <QString>

#include <functional>

namespace orv {

// The states of a send queue entry, as stored.
namespace QueueState {
inline const QString Queued = QStringLiteral("queued");       // waiting for (another) attempt
inline const QString Sent = QStringLiteral("sent");           // stored by the archive
inline const QString Committed = QStringLiteral("committed"); // the archive took responsibility for it
inline const QString Failed = QStringLiteral("failed");       // refused for good, or not committed
inline const QString TimedOut = QStringLiteral("timed out");  // the commitment answer never came
} // namespace QueueState

// The services of step messages in the queue.
inline const QString kStepCreate = QStringLiteral("N-CREATE");
inline const QString kStepSet = QStringLiteral("N-SET");

// One object of the send queue: a copy ready to send (stamped when it was queued, so nothing is
// stamped again when it is delivered, however late) and where it goes.
struct QueueEntry
{
    qint64 id = 0;
    QString sendId;     // the send (one operator command) that queued it
    QString transNo;
    QString filePath;   // the copy that is sent
    QString sourcePath; // the file the operator sent, named in log lines
    QString label;      // the viewer's description of the image, logged before it is sent
    dicom::Peer peer;
    bool commit = false;        // ask the archive to commit it once the transaction's objects are stored
    bool stopOnFailure = false; // a refusal ends the send: the send's later objects are not sent
    // "" for an object to store; kStepCreate or kStepSet for a performed procedure step message
    // (its file holds the message's data set, sopInstance is the step's UID).
    QString service;
    QString sopClass;
    QString sopInstance;
    QString seriesUid;
    QString transferSyntax;
    QString workstation;
    QString state = QueueState::Queued;
    int attempts = 0;
    qint64 nextAttempt = 0; // milliseconds since the epoch
    QString lastStatus;
    QString commitUid;
    qint64 commitAsked = 0;
    qint64 queuedAt = 0;
    qint64 updatedAt = 0;
};

// What a delivery reports, on the thread that delivers.
struct DeliveryHooks
{
    std::function<void(const QString &line)> log;
    // Before an entry is sent.
    std::function<void(const QueueEntry &entry)> sending;
    // After the archive answered an entry's C-STORE (a refused SOP class counts as 0x0122).
    std::function<void(const QueueEntry &entry, int status)> answered;
    // Asked before each entry; true ends the delivery, the entries not sent stay queued.
    std::function<bool()> stopped;
};

struct DeliveryOutcome
{
    int sent = 0;      // stored (success or warning)
    int notStored = 0; // refused for good (failure status, SOP class not accepted, unreadable copy)
    int retrying = 0;  // queued again for a later attempt (temporary failure, association failed)
    // The error that ended the delivery (no association, association lost, stopped); "" when
    // every entry was answered.
    QString failure;
};

// Tunables of the queue, read from the settings store (application "VelmorOrvaline", section
// "DICOM") at the moment of use.
struct QueueTimings
{
    int leaseSeconds = 60;         // SendQueueLease: a claim not renewed for this long is taken back
    int retrySeconds = 5;          // SendQueueRetry: first back-off, doubled per attempt
    int maxRetrySeconds = 600;     // the longest back-off
    int commitTimeoutSeconds = 600; // CommitmentTimeout: an answer not come by then times out
    int commitWaitSeconds = 2;     // how long an answer is awaited on the request's own association
    static QueueTimings current();
};

// The send queue in the department database (table tblSendQueue) and the delivery of its
// entries. Works on the connection it is given, on that connection's thread.
//
// An entry is delivered only by the workstation that queued it (its copy lies there), and only
// by the sender that claimed it: a claim carries a token unique to this object and lasts
// `leaseSeconds`, renewed while the delivery runs; a claim not renewed in time (its process was
// killed) is taken back by the next sender. A C-STORE that reached the archive before a kill and
// was not yet recorded is sent again with the same SOP Instance UID, which the archive files as
// the one object it already holds.
class SendQueue
{
public:
    explicit SendQueue(Connection &db);

    // The folder of the copies waiting to be sent (in the per-user data folder).
    static QString folder();
    // This workstation's name in the queue (ComputerName(); ORVALINE_WORKSTATION overrides it).
    static QString workstation();
    static qint64 now();

    // Copies `source` into folder() and returns an entry for it (SOP class, instance and
    // transfer syntax read from the file). Throws orv::Error when it is not a readable DICOM file.
    static QueueEntry stageCopy(const QString &source);
    // An entry for an object the caller wrote at `copy` (in folder()), with its identity.
    static QueueEntry entryFor(const QString &copy, const dicom::StoreAssociation::Identity &id);
    // A new file name in folder() for a copy written by the caller.
    static QString newCopyPath();

    // Records the entries in one transaction, claimed by this sender when `claim` (the caller
    // delivers them at once); returns them with their ids. Their copies are removed when the
    // record fails.
    QList<QueueEntry> add(QList<QueueEntry> entries, bool claim);

    // Claims the due entries of this workstation for one archive and one transaction (those of
    // the oldest due entry) and returns them oldest first; empty when nothing is due. A step
    // message is claimed alone, and is not due while an entry of its transaction queued before
    // it is still queued: a step is created before it is updated, and its final update follows
    // the stores queued before it.
    QList<QueueEntry> claimDue();
    // The earliest next attempt of this workstation's queued entries (step messages waiting for
    // an earlier entry left out); 0 when none is queued.
    qint64 nextDue();

    // Sends the claimed entries on one association and records each answer. Entries not
    // attempted (stopped, association lost) are released as they were. A step's final N-SET
    // lists in its Performed Series Sequence every object of the transaction the archive stored
    // (sent, committed or timed out) that was queued after the step's previous final N-SET and
    // before it.
    DeliveryOutcome deliver(const QList<QueueEntry> &claimed, const DeliveryHooks &hooks = {});

    // Asks the archive to commit the stored entries of `transNo` that want it, once none of
    // them is still queued; the answer is recorded when it comes on the same association.
    // Returns the number of entries asked about; throws orv::Error when the request fails (the
    // entries are then asked about again by the next call).
    int requestCommitment(const QString &transNo);
    // Transactions of this workstation whose stored entries wait for a commitment request.
    QStringList transactionsAwaitingCommitment();
    // Records a commitment answer; returns the entries it changed.
    int recordAnswer(const dicom::CommitAnswer &answer);
    // Entries whose commitment answer did not come within `timeoutSeconds` become "timed out".
    int expireCommitments(int timeoutSeconds);

    // Every entry of this workstation, newest first (the status window).
    QList<QueueEntry> entries();
    // Queues a failed or timed-out entry again (from its first back-off). Throws orv::Error when
    // its copy no longer exists.
    void retry(qint64 id);
    // Removes an entry and its copy. Throws orv::Error while a sender holds it.
    void remove(qint64 id);

    const QString &owner() const { return m_owner; }

private:
    DeliveryOutcome deliverStep(const QueueEntry &entry, const DeliveryHooks &hooks);
    QList<dicom::PerformedSeries> performedSeries(const QueueEntry &finalSet, QString *retrieveAe);
    qint64 retryDelay(int attempts) const;
    void renewClaims(const QString &token);
    // One "instances transferred" audit message per transaction of a delivery.
    void auditTransfers(const dicom::Peer &peer, const QMap<QString, QStringList> &transferred, const QMap<QString, int> &notTransferred);
    Connection &m_db;
    QString m_owner;
    QString m_token; // the claim of the entries last added claimed or claimed due
    QueueTimings m_timings;
};

// The log line of an image the archive answered with a status other than 0:
// "Store status 0xA700 for PATH", "Store status 0xB000 (warning) for PATH".
QString storeStatusLine(const QString &path, int status);

// A readable text for a Failure Reason of a commitment answer.
QString commitFailureText(int reason);

} // namespace orv
