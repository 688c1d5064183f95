#include "SecureTransport.h"

#include "Peer.h"
#include "Toolkit.h"
#include "TransportGuard.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <dcmtk/dcmtls/tlstrans.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <arpa/inet.h>

#include <cerrno>

#include <ctime>
#include <vector>

namespace orv::dicom {

namespace {

// The first certificate the handshake on this thread refused, and why.
thread_local QString t_verifyFailure;
// The host name or address the next handshake on this thread must find in the peer's
// certificate ("" when it is not checked).
thread_local QString t_expectedHost;
// Whether the last failed handshake on this thread got as far as agreeing on a TLS version and
// cipher.
thread_local bool t_cipherAgreed = false;

QString timeText(const ASN1_TIME *t);

int verifyPeer(int ok, X509_STORE_CTX *ctx)
{
    if (ok || !t_verifyFailure.isEmpty())
        return ok;
    const int error = X509_STORE_CTX_get_error(ctx);
    X509 *cert = X509_STORE_CTX_get_current_cert(ctx);
    QString plain;
    switch (error) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        plain = QStringLiteral("it expired on %1").arg(cert ? timeText(X509_get0_notAfter(cert)) : QString());
        break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        plain = QStringLiteral("it is not valid before %1").arg(cert ? timeText(X509_get0_notBefore(cert)) : QString());
        break;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        plain = QStringLiteral("it is not issued by a CA of the trusted certificates file");
        break;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        plain = QStringLiteral("it is not issued for %1, the address the workstation connects to").arg(t_expectedHost);
        break;
    default:
        plain = QStringLiteral("it could not be verified");
    }
    QString detail = QString::fromLatin1(X509_verify_cert_error_string(error));
    if (cert) {
        char name[512] = {};
        X509_NAME_oneline(X509_get_subject_name(cert), name, sizeof name);
        detail += QStringLiteral("; ") + QString::fromUtf8(name);
    }
    t_verifyFailure = QStringLiteral("%1 (%2)").arg(plain, detail);
    return ok;
}

struct X509Free { void operator()(X509 *x) const { X509_free(x); } };
struct KeyFree { void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); } };
struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

// A key file never asks for a passphrase on the console: an encrypted key is refused.
int noPassphrase(char *, int, int, void *) { return -1; }

BioPtr openFile(const QString &path, const QString &what)
{
    if (path.trimmed().isEmpty())
        fail(QStringLiteral("DICOM TLS is on but no %1 is chosen. Choose it in DICOM Settings.").arg(what));
    const QFileInfo info(path);
    if (!info.exists())
        fail(QStringLiteral("The %1 %2 does not exist. Choose an existing file in DICOM Settings.").arg(what, path));
    if (!info.isFile() || !info.isReadable())
        fail(QStringLiteral("The %1 %2 cannot be read.").arg(what, path));
    BioPtr bio(BIO_new_file(QFile::encodeName(path).constData(), "rb"));
    if (!bio)
        fail(QStringLiteral("The %1 %2 cannot be read.").arg(what, path));
    return bio;
}

// The certificates of a PEM file (every one) or a DER file (its one); the format found.
std::vector<X509Ptr> readCertificates(const QString &path, const QString &what, DcmKeyFileFormat *format)
{
    std::vector<X509Ptr> certs;
    BioPtr bio = openFile(path, what);
    while (X509 *x = PEM_read_bio_X509(bio.get(), nullptr, noPassphrase, nullptr))
        certs.emplace_back(x);
    *format = DCF_Filetype_PEM;
    if (certs.empty()) {
        bio = openFile(path, what);
        if (X509 *x = d2i_X509_bio(bio.get(), nullptr)) {
            certs.emplace_back(x);
            *format = DCF_Filetype_ASN1;
        }
    }
    ERR_clear_error();
    if (certs.empty())
        fail(QStringLiteral("The %1 %2 is not a certificate (PEM or DER).").arg(what, path));
    return certs;
}

// A private key that other users may read is no longer the workstation's alone.
void requireOwnerOnly(const QString &path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
        fail(QStringLiteral("The private key file %1 can be read by other users (mode %2); it is refused. Make it readable by its "
                            "owner only (chmod 600 %1).")
                 .arg(path)
                 .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0')));
}

KeyPtr readKey(const QString &path, DcmKeyFileFormat *format)
{
    const QString what = QStringLiteral("private key file");
    BioPtr bio = openFile(path, what);
    KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr));
    *format = DCF_Filetype_PEM;
    if (!key) {
        bio = openFile(path, what);
        key.reset(d2i_PrivateKey_bio(bio.get(), nullptr));
        *format = DCF_Filetype_ASN1;
    }
    ERR_clear_error();
    if (!key) {
        QFile f(path);
        const bool encrypted = f.open(QIODevice::ReadOnly) && f.read(1 << 20).contains("ENCRYPTED");
        if (encrypted)
            fail(QStringLiteral("The private key file %1 is protected by a passphrase. The workstation needs the key without one "
                                "(openssl pkey -in KEY -out NEWKEY), readable only by its user.").arg(path));
        fail(QStringLiteral("The private key file %1 is not a private key (PEM or DER).").arg(path));
    }
    requireOwnerOnly(path);
    return key;
}

QString timeText(const ASN1_TIME *t)
{
    std::tm tm{};
    if (!ASN1_TIME_to_tm(t, &tm))
        return QStringLiteral("(unknown date)");
    const QDateTime utc(QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday), QTime(tm.tm_hour, tm.tm_min, tm.tm_sec), Qt::UTC);
    return utc.toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
}

OFString local(const QString &path) { return OFString(QFile::encodeName(path).constData()); }

void require(const OFCondition &cond, const QString &what)
{
    if (cond.bad())
        fail(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(cond.text())), cond.code());
}

// Connections that acknowledge what they receive at once. Peers that keep Nagle's algorithm on
// (the toolkit's default, so most archives) send a PDU in several pieces (TLS: several records)
// and hold the last one until the previous is acknowledged; with delayed acknowledgements every
// association stalled for some 40 ms a message.
void quickAck(DcmNativeSocketType socket)
{
#ifdef TCP_QUICKACK
    const int on = 1;
    setsockopt(int(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    (void)socket;
#endif
}

// A connection (TLS or plain TCP) that acknowledges what it receives at once and watches what
// it receives (PduWatch): a message nested too deep or trickled beyond the exchange time limit
// fails the read, and with it the association.
template <class Connection>
class Guarded : public Connection
{
public:
    template <class... Args>
    explicit Guarded(std::shared_ptr<ConnectionFault> fault, Args &&...args)
        : Connection(std::forward<Args>(args)...), m_watch(std::move(fault))
    {}

    ssize_t read(void *buf, size_t nbyte) override
    {
        quickAck(this->getSocket());
        const long long left = m_watch.remainingMs();
        if (left >= 0 && (left == 0 || !Connection::networkDataAvailable(int((left + 999) / 1000)))) {
            m_watch.timedOut();
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t got = Connection::read(buf, nbyte);
        if (got > 0 && !m_watch.received(static_cast<const std::uint8_t *>(buf), std::size_t(got))) {
            errno = EPROTO;
            return -1;
        }
        return got;
    }

    ssize_t write(void *buf, size_t nbyte) override
    {
        const ssize_t put = Connection::write(buf, nbyte);
        if (put > 0)
            m_watch.sent(static_cast<const std::uint8_t *>(buf), std::size_t(put));
        return put;
    }

    OFBool networkDataAvailable(int timeout) override
    {
        const long long left = m_watch.remainingMs();
        if (left == 0) {
            m_watch.timedOut();
            return OFFalse;
        }
        if (left > 0)
            timeout = int(std::min<long long>(timeout, (left + 999) / 1000));
        const OFBool available = Connection::networkDataAvailable(timeout);
        if (!available && left > 0 && m_watch.remainingMs() == 0)
            m_watch.timedOut();
        return available;
    }

protected:
    PduWatch m_watch;
};

// A TLS connection that tells, when its handshake fails, whether a version and cipher had been
// agreed (a refused certificate) or not (nothing in common).
class TlsConnection : public Guarded<DcmTLSConnection>
{
public:
    TlsConnection(std::shared_ptr<ConnectionFault> fault, DcmNativeSocketType socket, SSL *ssl)
        : Guarded<DcmTLSConnection>(std::move(fault), socket, ssl), m_ssl(ssl)
    {}
    OFCondition clientSideHandshake() override { return noted(Guarded<DcmTLSConnection>::clientSideHandshake()); }
    OFCondition serverSideHandshake() override { return noted(Guarded<DcmTLSConnection>::serverSideHandshake()); }

private:
    OFCondition noted(const OFCondition &cond)
    {
        if (cond.bad())
            t_cipherAgreed = SSL_get_current_cipher(m_ssl) != nullptr;
        return cond;
    }
    SSL *m_ssl;
};

// Plain TCP whatever the association parameters ask for (see plainTransport()).
class PlainLayer : public DcmTransportLayer
{
public:
    DcmTransportConnection *createConnection(DcmNativeSocketType socket, OFBool) override
    {
        return new Guarded<DcmTCPConnection>(takeConnectionWatch(), socket);
    }
};

class TlsLayer : public DcmTLSTransportLayer
{
public:
    explicit TlsLayer(SecureTransport::Role role)
        : DcmTLSTransportLayer(role == SecureTransport::Role::Acceptor ? NET_ACCEPTOR : NET_REQUESTOR, nullptr, OFFalse)
    {}
    DcmTransportConnection *createConnection(DcmNativeSocketType socket, OFBool) override
    {
        SSL *ssl = SSL_new(static_cast<SSL_CTX *>(getNativeHandle()));
        if (!ssl)
            return nullptr;
        SSL_set_fd(ssl, int(socket));
        if (!t_expectedHost.isEmpty()) {
            X509_VERIFY_PARAM *param = SSL_get0_param(ssl);
            const QByteArray host = t_expectedHost.toUtf8();
            X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            in6_addr any{};
            const bool address = inet_pton(AF_INET, host.constData(), &any) == 1 || inet_pton(AF_INET6, host.constData(), &any) == 1;
            if (address)
                X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
            else {
                X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);
                SSL_set_tlsext_host_name(ssl, host.constData());
            }
        }
        return new TlsConnection(takeConnectionWatch(), socket, ssl);
    }
};

} // namespace

struct SecureTransport::Impl
{
    explicit Impl(Role role) : layer(role) {}
    TlsLayer layer;
};

SecureTransport::SecureTransport(const TlsSettings &settings, Role role)
{
    static const bool started = [] {
        DcmTLSTransportLayer::initializeOpenSSL();
        return true;
    }();
    (void)started;

    // Whoever listens shows a certificate: the workstation's is required then.
    const bool ownCertificate = role == Role::Acceptor || !settings.certificateFile.trimmed().isEmpty()
                                || !settings.privateKeyFile.trimmed().isEmpty();
    DcmKeyFileFormat certFormat = DCF_Filetype_PEM, keyFormat = DCF_Filetype_PEM, trustFormat = DCF_Filetype_PEM;
    if (ownCertificate) {
        const auto certs = readCertificates(settings.certificateFile, QStringLiteral("certificate file"), &certFormat);
        const KeyPtr key = readKey(settings.privateKeyFile, &keyFormat);
        X509 *cert = certs.front().get();
        if (X509_check_private_key(cert, key.get()) != 1) {
            ERR_clear_error();
            fail(QStringLiteral("The private key file %1 does not belong to the certificate %2.")
                     .arg(settings.privateKeyFile, settings.certificateFile));
        }
        if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0)
            fail(QStringLiteral("The workstation's certificate %1 expired on %2. Ask the PACS administrator for a new one.")
                     .arg(settings.certificateFile, timeText(X509_get0_notAfter(cert))));
        if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0)
            fail(QStringLiteral("The workstation's certificate %1 is not valid before %2.")
                     .arg(settings.certificateFile, timeText(X509_get0_notBefore(cert))));
    }
    readCertificates(settings.trustedCertificatesFile, QStringLiteral("trusted certificates file"), &trustFormat);

    d = std::make_unique<Impl>(role);
    DcmTLSTransportLayer &l = d->layer;
    if (!l)
        fail(QStringLiteral("Cannot start DICOM TLS: the TLS library could not be set up."));
    // TLS 1.2 or later with forward-secret ciphers only: the profile that never falls back.
    require(l.setTLSProfile(TSP_Profile_BCP195_ND), QStringLiteral("Cannot start DICOM TLS"));
    require(l.activateCipherSuites(), QStringLiteral("Cannot start DICOM TLS"));
    l.setPrivateKeyPasswd(nullptr); // no console prompt, ever
    SSL_CTX *ctx = static_cast<SSL_CTX *>(l.getNativeHandle());
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_default_passwd_cb(ctx, noPassphrase);
    if (ownCertificate) {
        require(l.setPrivateKeyFile(local(settings.privateKeyFile).c_str(), keyFormat),
                QStringLiteral("Cannot use the private key file %1").arg(settings.privateKeyFile));
        require(l.setCertificateFile(local(settings.certificateFile).c_str(), certFormat),
                QStringLiteral("Cannot use the certificate file %1").arg(settings.certificateFile));
    }
    require(l.addTrustedCertificateFile(local(settings.trustedCertificatesFile).c_str(), trustFormat),
            QStringLiteral("Cannot use the trusted certificates file %1").arg(settings.trustedCertificatesFile));
    l.setCertificateVerification(DCV_requireCertificate);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, verifyPeer);
    ERR_clear_error();
}

SecureTransport::~SecureTransport() = default;

DcmTransportLayer *plainTransport()
{
    static PlainLayer layer;
    return &layer;
}

std::shared_ptr<SecureTransport> SecureTransport::forSettings(const TlsSettings &settings, Role role)
{
    QString key = QString::number(int(role)) + QLatin1Char('\n');
    for (const QString &path : {settings.certificateFile, settings.privateKeyFile, settings.trustedCertificatesFile}) {
        const QFileInfo info(path);
        key += QStringLiteral("%1|%2|%3|%4\n").arg(path).arg(info.exists()).arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    }
    static QMutex mutex;
    static QString cachedKeys[2];
    static std::shared_ptr<SecureTransport> cachedTransports[2];
    QString &cachedKey = cachedKeys[int(role)];
    std::shared_ptr<SecureTransport> &cached = cachedTransports[int(role)];
    QMutexLocker lock(&mutex);
    if (!cached || key != cachedKey) {
        cached.reset();
        cached = std::make_shared<SecureTransport>(settings, role);
        cachedKey = key;
    }
    return cached;
}

DcmTransportLayer *SecureTransport::layer() { return &d->layer; }

void SecureTransport::beginHandshake(const QString &host)
{
    t_verifyFailure.clear();
    t_expectedHost = host;
    t_cipherAgreed = true;
}

bool SecureTransport::handshakeFailed(const OFCondition &cond) const
{
    return !t_verifyFailure.isEmpty() || cond.module() == OFM_dcmtls;
}

QString SecureTransport::handshakeFailure(const OFCondition &cond, const QString &where) const
{
    if (!t_verifyFailure.isEmpty())
        return QStringLiteral("The certificate of %1 was refused: %2. Check the trusted certificates file in DICOM Settings, "
                              "or ask the PACS administrator to renew the peer's certificate.")
            .arg(where, t_verifyFailure);
    const QString reason = QString::fromLocal8Bit(cond.text());
    QString hint;
    const bool notTls = reason.contains(QLatin1String("wrong version number"), Qt::CaseInsensitive)
                        || reason.contains(QLatin1String("packet length"), Qt::CaseInsensitive)
                        || reason.contains(QLatin1String("http request"), Qt::CaseInsensitive);
    if (!t_cipherAgreed && !notTls)
        return QStringLiteral("The secure connection with %1 failed: the peer and the workstation have no TLS version and cipher "
                              "in common (the workstation takes TLS 1.2 or later with forward-secret ciphers only): %2. Ask the "
                              "PACS administrator to enable them on the peer.")
            .arg(where, reason);
    if (reason.contains(QLatin1String("alert"), Qt::CaseInsensitive))
        hint = QStringLiteral(" The peer refused the workstation's certificate or its TLS settings: check the certificate "
                              "and key files in DICOM Settings, and that the peer trusts their CA.");
    else
        hint = QStringLiteral(" Check that the peer expects DICOM TLS on this port.");
    return QStringLiteral("The secure connection with %1 failed: %2.").arg(where, reason) + hint;
}

} // namespace orv::dicom
