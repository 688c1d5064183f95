#include "StorageCommitment.h"

#include "ScuAssociation.h"

#include <dcmtk/dcmnet/dulstruc.h>
#include <dcmtk/dcmnet/scp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <future>
#include <thread>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orv::dicom {

struct CommitmentListener::Scp : public DcmSCP
{
    Scp(const ListenerSettings &settings, Handler handler) : m_settings(settings), m_handler(std::move(handler)) {}

    OFCondition handleIncomingCommand(T_DIMSE_Message *msg, const DcmPresentationContextInfo &info) override
    {
        if (msg->CommandField != DIMSE_N_EVENT_REPORT_RQ)
            return DcmSCP::handleIncomingCommand(msg, info);
        DcmDataset *ds = nullptr;
        Uint16 eventType = 0;
        const OFCondition cond = handleEVENTREPORTRequest(msg->msg.NEventReportRQ, info.presentationContextID, ds, eventType);
        delete ds;
        return cond;
    }

    Uint16 checkEVENTREPORTRequest(T_DIMSE_N_EventReportRQ &rq, DcmDataset *ds) override
    {
        if (!ds || std::string(rq.AffectedSOPClassUID) != kStorageCommitmentClass)
            return STATUS_N_NoSuchSOPClass;
        try {
            m_handler(commitAnswerOf(*ds, rq.EventTypeID));
        } catch (...) {
            return STATUS_N_ProcessingFailure;
        }
        return STATUS_Success;
    }

    OFBool checkCalledAETitleAccepted(const OFString &calledAe) override
    {
        const QString called = QString::fromLatin1(calledAe.c_str()).trimmed();
        if (called == m_settings.aeTitle.trimmed())
            return OFTrue;
        refused(QStringLiteral("An association to the called AE title \"%1\" was rejected by the storage commitment listener.").arg(called));
        return OFFalse;
    }

    OFBool checkCallingAETitleAccepted(const OFString &callingAe) override
    {
        const QString calling = QString::fromLatin1(callingAe.c_str()).trimmed();
        if (std::any_of(m_settings.callingAeTitles.begin(), m_settings.callingAeTitles.end(),
                        [&](const QString &ae) { return ae.trimmed() == calling; }))
            return OFTrue;
        refused(QStringLiteral("An association from the calling AE title \"%1\" was rejected by the storage commitment listener.").arg(calling));
        return OFFalse;
    }

    // A refused association is a security alert of the audit trail.
    void refused(const QString &why)
    {
        audit::AuditTrail::instance().securityAlert(QString::fromLatin1(getPeerIP().c_str()), QString::fromLatin1(getPeerAETitle().c_str()), why);
    }

    // The toolkit opens its port on every interface; before the first association is taken the
    // socket is replaced, under the same descriptor, by one opened on the chosen address.
    OFCondition waitForAssociationRQ(T_ASC_Network *network) override
    {
        if (!m_bound) {
            m_bound = true;
            m_bindResult.set_value(bind(network));
        }
        if (m_secure)
            m_secure->beginHandshake();
        const OFCondition cond = DcmSCP::waitForAssociationRQ(network);
        if (m_secure && cond.bad() && cond != DUL_NOASSOCIATIONREQUEST && m_secure->handshakeFailed(cond))
            audit::AuditTrail::instance().securityAlert(QString(), QString(), m_secure->handshakeFailure(cond, QStringLiteral("a peer of the storage commitment listener")));
        return cond;
    }

    QString bind(T_ASC_Network *network)
    {
        if (m_settings.bindAddress.trimmed().isEmpty())
            return {};
        const QString where = QStringLiteral("%1:%2").arg(m_settings.bindAddress).arg(m_settings.port);
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (getaddrinfo(m_settings.bindAddress.trimmed().toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
            return QStringLiteral("Cannot listen on %1: the address does not resolve to an IPv4 address of this computer.").arg(where);
        sockaddr_in address = *reinterpret_cast<sockaddr_in *>(found->ai_addr);
        freeaddrinfo(found);
        address.sin_port = htons(quint16(m_settings.port));
        auto *key = static_cast<PRIVATE_NETWORKKEY *>(network->network);
        const int listening = int(key->networkSpecific.TCP.listenSocket);
        const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int reuse = 1;
        bool ok = fresh >= 0 && ::setsockopt(fresh, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) == 0
                  && ::dup2(fresh, listening) == listening; // closes the toolkit's socket in the same step
        if (fresh >= 0)
            ::close(fresh);
        ok = ok && ::bind(listening, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(listening, 16) == 0;
        if (!ok)
            return QStringLiteral("Cannot listen on %1: %2").arg(where, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }

    OFBool stopAfterConnectionTimeout() override { return m_stop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_stop.load(); }

    ListenerSettings m_settings;
    Handler m_handler;
    std::shared_ptr<SecureTransport> m_secure;
    bool m_bound = false;
    std::promise<QString> m_bindResult;
    std::atomic_bool m_stop{false};
    std::thread m_thread;
};

CommitmentListener::CommitmentListener(const ListenerSettings &settings, Handler onAnswer)
    : m_settings(settings), m_onAnswer(std::move(onAnswer))
{}

CommitmentListener::~CommitmentListener()
{
    if (!m_scp)
        return;
    m_scp->m_stop = true;
    if (m_scp->m_thread.joinable())
        m_scp->m_thread.join();
}

void CommitmentListener::start()
{
    initialise();
    const int port = m_settings.port;
    if (port <= 0 || port > 65535)
        fail(QStringLiteral("%1 is not a valid port number to listen on.").arg(port));
    auto scp = std::make_unique<Scp>(m_settings, m_onAnswer);
    if (m_settings.tls.enabled)
        scp->m_secure = SecureTransport::forSettings(m_settings.tls, SecureTransport::Role::Acceptor);
    DcmSCPConfig &cfg = scp->getConfig();
    cfg.setPort(Uint16(port));
    cfg.setAETitle(latin(m_settings.aeTitle));
    cfg.setRespondWithCalledAETitle(OFTrue);
    cfg.setConnectionBlockingMode(DUL_NOBLOCK);
    cfg.setConnectionTimeout(1);
    cfg.setACSETimeout(Uint32(networkTimeout()));
    cfg.setDIMSETimeout(Uint32(networkTimeout()));
    cfg.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    cfg.setTransportLayer(scp->m_secure ? scp->m_secure->layer() : plainTransport());
    cfg.addPresentationContext(kStorageCommitmentClass, uncompressed());
    cfg.addPresentationContext(UID_VerificationSOPClass, uncompressed());
    const OFCondition opened = scp->openListenPort();
    if (opened.bad())
        fail(QStringLiteral("Cannot listen for storage commitment answers on port %1: %2").arg(port).arg(QString::fromLocal8Bit(opened.text())),
             opened.code());
    Scp *raw = scp.get();
    std::future<QString> bound = raw->m_bindResult.get_future();
    raw->m_thread = std::thread([raw] {
        raw->acceptAssociations();
        if (!raw->m_bound) {
            raw->m_bound = true;
            raw->m_bindResult.set_value(QStringLiteral("The storage commitment listener stopped at once."));
        }
    });
    m_scp = std::move(scp);
    const QString refused = bound.get();
    if (!refused.isEmpty()) {
        m_scp->m_stop = true;
        m_scp->m_thread.join();
        m_scp.reset();
        fail(refused);
    }
}

} // namespace orv::dicom
