#pragma once

#include "Peer.h"

#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

class DcmItem;

namespace orv::dicom {

// The object of a storage commitment request and the answer for it.
struct CommitItem
{
    QString sopClass;
    QString sopInstance;
    // Answers only: 0 when committed, else the Failure Reason the archive gave.
    int failureReason = 0;
};

// A storage commitment answer (N-EVENT-REPORT): the transaction it answers and the objects
// committed and not committed.
struct CommitAnswer
{
    QString transactionUid;
    QList<CommitItem> committed;
    QList<CommitItem> failed;
};

// The answer an N-EVENT-REPORT of `eventType` carries, as either side of the model takes it:
// event 2 ("failures exist") fails every object it names, with reason 0x0110 where the archive
// gave none.
CommitAnswer commitAnswerOf(DcmItem &report, int eventType);

// Storage Commitment Push Model, requesting side: asks the archive to commit objects (N-ACTION)
// and takes an answer the archive sends back on the same association.
class CommitmentScu
{
public:
    explicit CommitmentScu(const Peer &peer) : m_peer(peer) {}
    // Sends the request under `transactionUid`, then waits up to `waitSeconds` for the answer on
    // the same association before releasing it. Returns whether the answer came (in `answer`);
    // an archive that answers on a new association is heard by a CommitmentListener. Throws
    // Error when the association fails or the archive refuses the request.
    bool request(const QString &transactionUid, const QList<CommitItem> &items, int waitSeconds, CommitAnswer *answer);

private:
    Peer m_peer;
};

// Where and from whom the workstation takes storage commitment answers.
struct ListenerSettings
{
    QString aeTitle;  // the called AE title taken (the workstation's)
    int port = 0;
    // The local address (IPv4 or a name resolving to one) the port is opened on; "" for every
    // interface.
    QString bindAddress;
    // The calling AE titles taken (the archive's); associations from any other are rejected.
    QStringList callingAeTitles;
    // With tls.enabled only DICOM TLS associations are taken, the workstation shows its
    // certificate (certificate and key are required) and the archive's must be valid and issued
    // by a trusted CA. The host name is not checked on this side.
    TlsSettings tls{};
};

// Storage Commitment Push Model, listening side: takes the answers an archive sends on
// associations of its own to the workstation's AE title and port. Each answer is handed to
// `onAnswer` on the listener's thread before the archive is told it was received; a handler
// that throws makes the reply a processing failure, so the archive may send it again. What an
// association sends is watched as on every association of this layer (nesting, exchange time
// limit): a peer that breaks the limits loses its association, the listener goes on.
class CommitmentListener
{
public:
    using Handler = std::function<void(const CommitAnswer &)>;
    CommitmentListener(const ListenerSettings &settings, Handler onAnswer);
    // Stops listening (within about a second) and waits for the listener's thread.
    ~CommitmentListener();
    CommitmentListener(const CommitmentListener &) = delete;
    CommitmentListener &operator=(const CommitmentListener &) = delete;
    // Opens the port and starts listening on a thread of its own. Throws Error when the port
    // cannot be opened on the address, or the TLS files cannot be used.
    void start();
    int port() const { return m_settings.port; }
    QString aeTitle() const { return m_settings.aeTitle; }

private:
    struct Scp;
    ListenerSettings m_settings;
    Handler m_onAnswer;
    std::unique_ptr<Scp> m_scp;
};

// The SOP class of the Storage Commitment Push Model.
inline constexpr const char *kStorageCommitmentClass = "1.2.840.10008.1.20.1";

} // namespace orv::dicom
