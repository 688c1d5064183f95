#pragma once

// The association every DICOM service of this layer makes (internal to the layer): DcmSCU with
// the layer's timeouts, DICOM TLS when the peer asks for it, the connection guard, and raw DIMSE
// messages for the N- services.

#include "Peer.h"
#include "SecureTransport.h"
#include "Toolkit.h"
#include "TransportGuard.h"
#include "outside/audit/AuditTrail.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/scu.h>

#include <memory>

namespace orv::dicom {

inline OFString latin(const QString &s) { return OFString(s.toLatin1().constData()); }

inline QString peerText(const QString &host, int port, const QString &calledAe)
{
    return QStringLiteral("%1:%2 (%3)").arg(host).arg(port).arg(calledAe);
}

inline const OFList<OFString> &uncompressed()
{
    static const OFList<OFString> list = [] {
        OFList<OFString> l;
        l.push_back(UID_LittleEndianExplicitTransferSyntax);
        l.push_back(UID_LittleEndianImplicitTransferSyntax);
        return l;
    }();
    return list;
}

// DcmSCU with the timeouts of this layer, DICOM TLS when the peer asks for it, and access to
// raw DIMSE messages. Every association of this layer is made here.
class Scu : private SecureTransportHolder, public DcmSCU
{
public:
    explicit Scu(const Peer &peer)
    {
        initialise();
        // Small PDU pieces go out at once: with Nagle's algorithm each association waited for
        // delayed acknowledgements (tens of milliseconds an image). The toolkit reads this.
        static const bool noDelay = [] {
            if (!qEnvironmentVariableIsSet("TCP_NODELAY"))
                qputenv("TCP_NODELAY", "1");
            return true;
        }();
        (void)noDelay;
        if (peer.port <= 0 || peer.port > 65535)
            fail(QStringLiteral("%1 is not a valid port number.").arg(peer.port));
        if (peer.host.trimmed().isEmpty())
            fail(QStringLiteral("No host is given for the DICOM peer."));
        const int t = networkTimeout();
        setPeerHostName(latin(peer.host.trimmed()));
        setPeerPort(Uint16(peer.port));
        setAETitle(latin(peer.callingAe.trimmed().isEmpty() ? QStringLiteral("ORVALINE") : peer.callingAe.trimmed()));
        setPeerAETitle(latin(peer.calledAe.trimmed().isEmpty() ? QStringLiteral("ANY-SCP") : peer.calledAe.trimmed()));
        setConnectionTimeout(t);
        setACSETimeout(Uint32(t));
        setDIMSETimeout(Uint32(t));
        setDIMSEBlockingMode(DIMSE_NONBLOCKING);
        setMaxReceivePDULength(ASC_DEFAULTMAXPDU);
        m_where = peerText(peer.host, peer.port, peer.calledAe);
        m_expectedHost = peer.tls.checkHostName ? peer.host.trimmed() : QString();
        if (peer.tls.enabled)
            secure = SecureTransport::forSettings(peer.tls);
    }

    void connect()
    {
        check(initNetwork(), QStringLiteral("Cannot start the network"));
        check(useSecureConnection(secure ? secure->layer() : plainTransport()), QStringLiteral("Cannot set up the connection"));
        if (secure)
            secure->beginHandshake(m_expectedHost);
        watchNextConnection(m_fault);
        const OFCondition cond = negotiateAssociation();
        watchNextConnection(nullptr);
        if (cond.bad()) {
            requireNoFault();
            if (secure && secure->handshakeFailed(cond)) {
                const QString why = secure->handshakeFailure(cond, m_where);
                audit::AuditTrail::instance().securityAlert(QString::fromLatin1(getPeerHostName().c_str()),
                                                            QString::fromLatin1(getPeerAETitle().c_str()), why);
                fail(why, cond.code());
            }
            if (cond == NET_EC_NoAcceptablePresentationContexts)
                fail(QStringLiteral("%1 accepts none of the proposed presentation contexts.").arg(m_where), cond.code());
            if (cond == DUL_ASSOCIATIONREJECTED)
                fail(QStringLiteral("The association was rejected by %1.").arg(m_where), cond.code());
            fail(QStringLiteral("Cannot connect to %1: %2").arg(m_where, QString::fromLocal8Bit(cond.text())), cond.code());
        }
    }

    // Connects proposing `sopClass` alone, uncompressed, and returns the presentation context the
    // peer accepted for it; when it accepted none, releases the association and throws Error with
    // `refusal`, in which "%1" stands for the peer.
    T_ASC_PresentationContextID connectFor(const OFString &sopClass, const QString &refusal)
    {
        addPresentationContext(sopClass, uncompressed());
        connect();
        const T_ASC_PresentationContextID pc = findAnyPresentationContextID(sopClass, UID_LittleEndianExplicitTransferSyntax);
        if (pc == 0) {
            closeAssociation(DCMSCU_RELEASE_ASSOCIATION);
            fail(refusal.arg(m_where));
        }
        return pc;
    }

    // Throws the description of what the connection refused of the peer's data, if anything.
    void requireNoFault()
    {
        const QString refused = m_fault->text(m_where);
        if (!refused.isEmpty()) {
            if (isConnected())
                closeAssociation(DCMSCU_ABORT_ASSOCIATION);
            fail(refused);
        }
    }

    void require(const OFCondition &cond, const QString &what)
    {
        if (cond.good())
            return;
        requireNoFault();
        closeAssociation(DCMSCU_ABORT_ASSOCIATION);
        fail(QStringLiteral("%1 with %2 failed: %3").arg(what, m_where, QString::fromLocal8Bit(cond.text())), cond.code());
    }

    // Sends an N- request and returns the response (and its data set, when one came).
    T_DIMSE_Message request(T_ASC_PresentationContextID pc, T_DIMSE_Message &msg, DcmDataset *data,
                            DcmDataset **answer, const QString &what)
    {
        require(sendDIMSEMessage(pc, &msg, data), what);
        T_DIMSE_Message rsp;
        T_ASC_PresentationContextID rpc = 0;
        DcmDataset *detail = nullptr;
        require(receiveDIMSECommand(&rpc, &rsp, &detail), what);
        delete detail;
        bool hasData = false;
        switch (rsp.CommandField) {
        case DIMSE_N_CREATE_RSP: hasData = rsp.msg.NCreateRSP.DataSetType == DIMSE_DATASET_PRESENT; break;
        case DIMSE_N_SET_RSP: hasData = rsp.msg.NSetRSP.DataSetType == DIMSE_DATASET_PRESENT; break;
        case DIMSE_N_ACTION_RSP: hasData = rsp.msg.NActionRSP.DataSetType == DIMSE_DATASET_PRESENT; break;
        case DIMSE_N_DELETE_RSP: break;
        default: require(makeOFCondition(OFM_dcmnet, DIMSEC_UNEXPECTEDRESPONSE, OF_error, "Unexpected response"), what);
        }
        if (hasData) {
            DcmDataset *ds = nullptr;
            require(receiveDIMSEDataset(&rpc, &ds), what);
            if (answer)
                *answer = ds;
            else
                delete ds;
        }
        return rsp;
    }

    using DcmSCU::receiveDIMSECommand;
    using DcmSCU::receiveDIMSEDataset;
    using DcmSCU::sendDIMSEMessage;

    Uint16 nextId() { return ++m_msgId; }
    const QString &where() const { return m_where; }

private:
    QString m_where;
    QString m_expectedHost;
    std::shared_ptr<ConnectionFault> m_fault = std::make_shared<ConnectionFault>();
    Uint16 m_msgId = 0;
};

inline void requireStatus(Uint16 status, const QString &what, const QString &where)
{
    // Success (0) and warnings (0x0001, 0xBxxx, 0x0107, 0x0116) let the job go on.
    if (status == 0 || status == 0x0001 || status == 0x0107 || status == 0x0116 || (status & 0xF000) == 0xB000)
        return;
    fail(QStringLiteral("%1 refused by %2 (status 0x%3).").arg(what, where).arg(status, 4, 16, QLatin1Char('0')), status);
}

} // namespace orv::dicom
