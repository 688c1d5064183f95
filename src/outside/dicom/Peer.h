#pragma once

#include <QString>

namespace orv::dicom {

// DICOM TLS towards one peer. When enabled, every association with the peer runs over TLS and
// the peer's certificate must be valid now and chain to a certificate of trustedCertificatesFile
// (PEM, one or more CA certificates); the handshake fails otherwise. certificateFile and
// privateKeyFile (PEM, the key without a passphrase) are the workstation's own identity, shown to
// peers that ask for one; they are given both or neither. Only paths: no key material is kept.
struct TlsSettings
{
    bool enabled = false;
    QString certificateFile;
    QString privateKeyFile;
    QString trustedCertificatesFile;
    // Whether the peer's certificate must be issued for the host name or address the workstation
    // connects to (its subject alternative names, else its common name).
    bool checkHostName = true;
};

// The address of a DICOM peer, the AE titles of one association and how it is secured.
struct Peer
{
    QString host;
    int port = 104;
    QString callingAe;
    QString calledAe;
    TlsSettings tls{};
};

} // namespace orv::dicom
