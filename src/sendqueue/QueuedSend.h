#pragma once

#include "SendQueue.h"

#include "outside/dicom/Image.h"

namespace orv {

// One send command of the operator's (the image list's or the viewer's), or an object queued for
// the archive (the result report): objects written into the send queue folder, recorded in the
// queue as one send and, for a command, delivered at once on one association. What the archive does not take now stays queued and is sent by the background
// sender later. Copies taken and never recorded are removed with this object.
class QueuedSend
{
public:
    // `transNo`: the transaction the objects belong to; `commit`: ask the archive to commit them.
    QueuedSend(const QString &transNo, bool commit);
    ~QueuedSend();
    QueuedSend(const QueuedSend &) = delete;
    QueuedSend &operator=(const QueuedSend &) = delete;

    // Writes `image` into the queue folder as it is to be sent (own objects get what they
    // lack first) and returns its entry, not yet taken. Throws orv::Error.
    static QueueEntry stage(dicom::Image &image);
    // Takes an entry staged in the queue folder, for `peer`; it gets this send's id, transaction
    // and commitment wish.
    void add(QueueEntry entry, const dicom::Peer &peer);
    int count() const { return int(m_entries.size()); }

    struct Outcome
    {
        DeliveryOutcome delivery;
        int recorded = 0; // entries recorded in the queue (and attempted unless stopped)
        int left() const { return recorded - delivery.sent - delivery.notStored; } // still queued
    };
    // Records the entries taken (claimed, in the order taken) in the queue of `database` and
    // delivers them. Throws orv::Error when the queue cannot be opened or written; the copies
    // are removed then.
    Outcome deliver(const ConnectionConfig &database, const DeliveryHooks &hooks = {});
    // Records the entries taken in the queue of `db`, unclaimed, for the background sender to
    // deliver. Throws orv::Error when they cannot be recorded; the copies are removed then.
    void queue(Connection &db);

private:
    QString m_sendId;
    QString m_transNo;
    bool m_commit = false;
    QList<QueueEntry> m_entries; // taken, not yet recorded
};

} // namespace orv
