#include "QueuedSend.h"

#include "outside/dicom/Toolkit.h"

#include <QFile>

namespace orv {

QueuedSend::QueuedSend(const QString &transNo, bool commit) : m_sendId(dicom::newUid()), m_transNo(transNo), m_commit(commit) {}

QueuedSend::~QueuedSend()
{
    for (const QueueEntry &e : std::as_const(m_entries))
        QFile::remove(e.filePath);
}

QueueEntry QueuedSend::stage(dicom::Image &image)
{
    const QString copy = SendQueue::newCopyPath();
    return SendQueue::entryFor(copy, dicom::StoreAssociation::writeForSending(image, copy));
}

void QueuedSend::add(QueueEntry entry, const dicom::Peer &peer)
{
    entry.sendId = m_sendId;
    entry.transNo = m_transNo;
    entry.peer = peer;
    entry.commit = m_commit;
    m_entries << entry;
}

QueuedSend::Outcome QueuedSend::deliver(const ConnectionConfig &database, const DeliveryHooks &hooks)
{
    Outcome outcome;
    auto db = Connection::open(database);
    SendQueue queue(*db);
    const QList<QueueEntry> queued = queue.add(std::exchange(m_entries, {}), true); // the queue owns the copies now
    outcome.recorded = int(queued.size());
    outcome.delivery = queue.deliver(queued, hooks);
    return outcome;
}

void QueuedSend::queue(Connection &db)
{
    SendQueue(db).add(std::exchange(m_entries, {}), false); // the queue owns the copies now
}

} // namespace orv
