#pragma once

#include <QString>

#include <memory>

class DcmTransportLayer;
class OFCondition;

namespace orv::dicom {

struct TlsSettings;

// DICOM TLS for the associations of one DcmSCU or of the listener: the toolkit's TLS layer with
// the workstation's certificate and key and the trusted CA certificates, peer verification
// required. Internal to this layer.
class SecureTransport
{
public:
    // Reads and checks the files. Throws Error naming the file when one is missing or unreadable,
    // is not what it should be (a PEM certificate, an unencrypted PEM private key), when the key
    // does not belong to the certificate, or the workstation's certificate is out of its validity.
    // The requesting side (associations the workstation opens) or the accepting side (the
    // listener, which always shows the workstation's certificate: certificate and key are
    // required then). Either side requires and verifies the peer's certificate, and speaks
    // TLS 1.2 or later with forward-secret ciphers only.
    enum class Role { Requestor, Acceptor };
    explicit SecureTransport(const TlsSettings &settings, Role role = Role::Requestor);
    ~SecureTransport();
    // The transport for these settings, shared by the associations made with them while none of
    // the files changed (a full set-up reads and checks four files and costs more than the
    // handshake itself). Thread-safe; throws as the constructor does.
    static std::shared_ptr<SecureTransport> forSettings(const TlsSettings &settings, Role role = Role::Requestor);
    SecureTransport(const SecureTransport &) = delete;
    SecureTransport &operator=(const SecureTransport &) = delete;

    // Lives as long as this object; the association must be closed before it goes. Several
    // associations may use it at once.
    DcmTransportLayer *layer();
    // Call on the thread of the handshake, right before it. `host`: the name or address the
    // peer's certificate must be issued for ("" when it is not checked).
    void beginHandshake(const QString &host = QString());
    // Whether a failed association request failed in the TLS handshake.
    bool handshakeFailed(const OFCondition &cond) const;
    // What went wrong in the handshake with `where`, in words an operator or administrator can
    // act on (the peer's certificate refused and why, or our certificate refused by the peer).
    QString handshakeFailure(const OFCondition &cond, const QString &where) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The transport of associations without TLS: plain TCP that acknowledges at once; what it
// receives is watched as over TLS (nesting, exchange time limit). Installed
// through DcmSCU::useSecureConnection() (the toolkit's only way to give an SCU a transport
// layer), it makes plain connections although the association parameters then say "secure".
// Process-wide, never deleted.
DcmTransportLayer *plainTransport();

// Owns the secure transport of an association; a base class placed before DcmSCU so that the
// transport outlives the association the DcmSCU closes when destroyed.
struct SecureTransportHolder
{
    std::shared_ptr<SecureTransport> secure;
};

} // namespace orv::dicom
