// DICOM TLS against Orthanc configured for it, with a test CA made by the openssl command line:
// the archive's certificate is verified (right CA, wrong CA, expired, issued for another
// address), the workstation shows its own, files that cannot be used are named before anything
// is sent, and a peer offering only old protocols or ciphers without forward secrecy (openssl's
// test server) is refused as such.

#include "Peers.h"
#include "Pictures.h"

#include "common/TestMain.h"
#include "common/Tools.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/StorageCommitment.h"
#include "outside/dicom/StoreScu.h"
#include "outside/dicom/WorklistScu.h"

#include <QJsonArray>
#include <QProcess>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <optional>

using namespace orv::dicom;
using namespace orv::test;
using namespace Qt::StringLiterals;

class TestDicomTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void onlyAVerifiedArchiveGetsTheImage();
    void unusableFilesAreNamedBeforeConnecting();
    void worklistQueryOverTls();
    void archiveCertificateMustNameItsAddress();
    void weakProtocolsAndCiphersAreRefusedAsSuch();
    void commitmentIsAnsweredOverTls();

private:
    QString file(const QString &name) const { return m_dir.filePath(name); }
    bool openssl(const QStringList &args) { return runTool(u"openssl"_s, args).exitCode == 0; }
    // A key and a certificate signed by the test CA, valid for `days` (-1: expired yesterday).
    // `names`: its subject alternative names.
    bool issue(const QString &name, const QString &cn, int days, int serial, const QString &names = u"DNS:localhost,IP:127.0.0.1"_s)
    {
        return openssl({u"req"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, file(name + u".key"_s), u"-out"_s,
                        file(name + u".csr"_s), u"-subj"_s, u"/CN="_s + cn, u"-addext"_s, u"subjectAltName="_s + names})
               && openssl({u"x509"_s, u"-req"_s, u"-in"_s, file(name + u".csr"_s), u"-CA"_s, file(u"ca.pem"_s), u"-CAkey"_s,
                           file(u"ca.key"_s), u"-set_serial"_s, QString::number(serial), u"-days"_s, QString::number(days),
                           u"-copy_extensions"_s, u"copyall"_s, u"-out"_s, file(name + u".pem"_s)});
    }
    std::unique_ptr<PeerProcess> tlsOrthanc(const QString &server, const QString &extra = {})
    {
        return PeerProcess::orthanc(
            uR"("DicomTlsEnabled": true, "DicomTlsCertificate": "%1.pem", "DicomTlsPrivateKey": "%1.key",
  "DicomTlsTrustedCertificates": "%2", "DicomTlsRemoteCertificateRequired": true)"_s.arg(file(server), file(u"ca.pem"_s))
            + extra);
    }
    Peer peer(quint16 port, const QString &trusted = u"ca.pem"_s, const QString &cert = u"client.pem"_s,
              const QString &key = u"client.key"_s) const
    {
        return Peer{u"127.0.0.1"_s, port, u"ORVTEST"_s, u"ORTHANC"_s, {true, file(cert), file(key), file(trusted)}};
    }
    static int instances(const PeerProcess &orthanc) { return int(QJsonDocument::fromJson(orthanc.rest(u"/instances"_s)).array().size()); }
    Image image(int seed)
    {
        const QString pic = file(u"p%1.bmp"_s.arg(seed));
        colourPicture(64, 48, seed).save(pic, "BMP");
        Image img;
        img.setPatientName(u"TLS^TEST"_s);
        img.importPicture(pic);
        return img;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<PeerProcess> m_orthanc;
};

void TestDicomTls::initTestCase()
{
    QVERIFY(openssl({u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, file(u"ca.key"_s), u"-out"_s,
                     file(u"ca.pem"_s), u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=Department Test CA"_s}));
    QVERIFY(openssl({u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, file(u"other.key"_s),
                     u"-out"_s, file(u"other-ca.pem"_s), u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=Another CA"_s}));
    QVERIFY(issue(u"server"_s, u"localhost"_s, 2, 2));
    QVERIFY(issue(u"expired"_s, u"localhost"_s, -1, 3));
    QVERIFY(issue(u"client"_s, u"workstation"_s, 2, 4));
    QVERIFY(issue(u"elsewhere"_s, u"archive.example"_s, 2, 5, u"DNS:archive.example"_s));
    QVERIFY(QFile::copy(file(u"client.key"_s), file(u"shared.key"_s)));
    QVERIFY(QFile::setPermissions(file(u"shared.key"_s), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));
    QFile text(file(u"notes.txt"_s));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("-----BEGIN NOTES-----\nnot a certificate\n");
    text.close();
    m_orthanc = tlsOrthanc(u"server"_s);
    QVERIFY2(m_orthanc->isRunning(), qPrintable(m_orthanc->log()));
}

// The right CA sends (the archive also required the workstation's certificate), from the
// toolkit and the command line; another CA and an expired archive certificate are refused.
void TestDicomTls::onlyAVerifiedArchiveGetsTheImage()
{
    image(1).writeFile(file(u"one.dcm"_s));
    Image img = Image::fromFile(file(u"one.dcm"_s));
    QCOMPARE(StoreScu(peer(m_orthanc->port())).send(img), 0);
    QCOMPARE(instances(*m_orthanc), 1);

    const QString where = u"127.0.0.1:%1 (ORTHANC)"_s.arg(m_orthanc->port());
    Image other = image(2);
    const QString untrusted = errorOf([&] { StoreScu(peer(m_orthanc->port(), u"other-ca.pem"_s)).send(other); });
    QVERIFY2(untrusted.startsWith(u"The certificate of %1 was refused: it is not issued by a CA of the trusted certificates file ("_s.arg(where)),
             qPrintable(untrusted));
    // The failed handshake is a security alert of the audit trail, naming the archive.
    const QString alert = auditMessages().value(auditMessages().size() - 1);
    QVERIFY2(alert.contains(u"originalText=\"Security Alert\""_s) && alert.contains(u"UserID=\"ORTHANC\""_s)
                 && alert.contains(u"was refused: it is not issued by a CA"_s),
             qPrintable(alert));

    auto expired = tlsOrthanc(u"expired"_s);
    QVERIFY2(expired->isRunning(), qPrintable(expired->log()));
    const QString refused = errorOf([&] { StoreScu(peer(expired->port())).send(other); });
    QVERIFY2(refused.contains(u"was refused: it expired on "_s) && refused.contains(u"(certificate has expired; /CN=localhost)"_s),
             qPrintable(refused));
    QCOMPARE(instances(*expired), 0);

    // The command line sends over TLS with the same files.
    const ToolResult cli = runTool(QStringLiteral(ORV_CLI),
                                   {u"send"_s, u"--host"_s, u"127.0.0.1"_s, u"--port"_s, QString::number(m_orthanc->port()),
                                    u"--aec"_s, u"ORTHANC"_s, u"--tls-ca"_s, file(u"ca.pem"_s), u"--tls-cert"_s,
                                    file(u"client.pem"_s), u"--tls-key"_s, file(u"client.key"_s), file(u"one.dcm"_s)});
    QVERIFY2(cli.exitCode == 0, qPrintable(cli.err));
    QCOMPARE(instances(*m_orthanc), 1); // the same object again, not a second one
}

void TestDicomTls::unusableFilesAreNamedBeforeConnecting()
{
    // Each case names its file and what is wrong with it.
    const struct { QString trusted, cert, key, named, phrase; } cases[] = {
        {u"ca.pem"_s, u"client.pem"_s, u"gone.key"_s, u"gone.key"_s, u"does not exist"_s},
        {u"ca.pem"_s, u"notes.txt"_s, u"client.key"_s, u"notes.txt"_s, u"The certificate file"_s},
        {u"notes.txt"_s, u"client.pem"_s, u"client.key"_s, u"notes.txt"_s, u"The trusted certificates file"_s},
        {u"ca.pem"_s, u"client.pem"_s, u"client.pem"_s, u"client.pem"_s, u"is not a private key"_s},
        {u"ca.pem"_s, u"client.pem"_s, u"server.key"_s, u"server.key"_s, u"does not belong to the certificate"_s},
        {u"ca.pem"_s, u"expired.pem"_s, u"expired.key"_s, u"expired.pem"_s, u"expired on"_s},
        {u"ca.pem"_s, u"client.pem"_s, u"shared.key"_s, u"shared.key"_s, u"can be read by other users (mode 0604); it is refused"_s},
    };
    Image img = image(3);
    for (const auto &c : cases) {
        const QString error = errorOf([&] { StoreScu(peer(m_orthanc->port(), c.trusted, c.cert, c.key)).send(img); });
        QVERIFY2(error.contains(file(c.named)) && error.contains(c.phrase), qPrintable(error));
    }
    QCOMPARE(instances(*m_orthanc), 1);
}

void TestDicomTls::worklistQueryOverTls()
{
    QVERIFY(writeWorklistFile(u"(0008,0050) SH [TLS001]\n(0010,0010) PN [SECURE^PATIENT]\n(0010,0020) LO [P77]\n"
                              "(0020,000d) UI [1.2.826.0.1.3680043.9.7777.77]\n(0040,0100) SQ\n(fffe,e000) -\n"
                              "(0008,0060) CS [US]\n(0040,0002) DA [20261205]\n(fffe,e00d) -\n(fffe,e0dd) -\n"_s,
                              m_orthanc->folder() + u"/worklists/tls.wl"_s));
    Peer wl = peer(m_orthanc->port());
    const auto answers = WorklistScu(wl).run(WorklistScu::standardIdentifier(u"SECURE"_s, {}, {}, {}, {}, {}));
    QCOMPARE(answers.size(), 1);
    QCOMPARE(WorklistScu::gridRow(answers.at(0)).mid(0, 3), (QStringList{u"TLS001"_s, u"P77"_s, u"SECURE^PATIENT"_s}));
    wl.tls.trustedCertificatesFile = file(u"other-ca.pem"_s);
    QVERIFY(errorOf([&] { WorklistScu(wl).run(WorklistScu::standardIdentifier({}, {}, {}, {}, {}, {})); }).contains(u"was refused"_s));
}

// The archive's certificate must be issued for the address the workstation connects to (by
// name or IP); the check can be turned off for one peer.
void TestDicomTls::archiveCertificateMustNameItsAddress()
{
    auto elsewhere = tlsOrthanc(u"elsewhere"_s);
    QVERIFY2(elsewhere->isRunning(), qPrintable(elsewhere->log()));
    Image img = image(4);
    Peer p = peer(elsewhere->port());
    const QString refused = errorOf([&] { StoreScu(p).send(img); });
    QVERIFY2(refused.startsWith(u"The certificate of 127.0.0.1:%1 (ORTHANC) was refused: it is not issued for 127.0.0.1, the address "
                                "the workstation connects to"_s.arg(elsewhere->port())),
             qPrintable(refused));
    QCOMPARE(instances(*elsewhere), 0);
    p.tls.checkHostName = false;
    QCOMPARE(StoreScu(p).send(img), 0);

    Peer byName = peer(m_orthanc->port());
    byName.host = u"localhost"_s;
    QCOMPARE(StoreScu(byName).send(img), 0);
}

// A peer that speaks only TLS 1.1, or TLS 1.2 with a cipher without forward secrecy, is told
// apart from a refused certificate.
void TestDicomTls::weakProtocolsAndCiphersAreRefusedAsSuch()
{
    for (const QStringList &weak : {QStringList{u"-tls1_1"_s, u"-cipher"_s, u"AES128-SHA:@SECLEVEL=0"_s},
                                    QStringList{u"-tls1_2"_s, u"-cipher"_s, u"AES128-SHA"_s}}) {
        const quint16 port = freeLoopbackPort();
        QProcess server;
        server.start(u"openssl"_s, QStringList{u"s_server"_s, u"-quiet"_s, u"-accept"_s, QString::number(port), u"-cert"_s,
                                               file(u"server.pem"_s), u"-key"_s, file(u"server.key"_s)} + weak);
        QVERIFY(waitForPort(port));
        Image img = image(5);
        const QString error = errorOf([&] { StoreScu(peer(port)).send(img); });
        QVERIFY2(error.startsWith(u"The secure connection with 127.0.0.1:%1 (ORTHANC) failed: the peer and the workstation have no TLS "
                                  "version and cipher in common"_s.arg(port)),
                 qPrintable(error));
        server.kill();
        server.waitForFinished();
    }
}

// The archive answers a commitment request on an association of its own, over TLS, to the
// listener, which shows the workstation's certificate and takes only the archive's.
void TestDicomTls::commitmentIsAnsweredOverTls()
{
    const quint16 listen = freeLoopbackPort();
    auto archive = tlsOrthanc(u"server"_s, uR"(, "DicomModalities": { "ws": { "AET": "WS", "Host": "127.0.0.1", "Port": %1,
  "UseDicomTls": true } })"_s.arg(listen));
    QVERIFY2(archive->isRunning(), qPrintable(archive->log()));
    Peer toArchive = peer(archive->port());
    toArchive.callingAe = u"WS"_s;
    Image img = image(7);
    QCOMPARE(StoreScu(toArchive).send(img), 0);

    std::optional<CommitAnswer> answer;
    ListenerSettings settings{u"WS"_s, listen, u"127.0.0.1"_s, {u"ORTHANC"_s}, toArchive.tls};
    CommitmentListener listener(settings, [&](const CommitAnswer &a) {
        QMetaObject::invokeMethod(qApp, [&answer, a] { answer = a; });
    });
    listener.start();
    const QString uid = u"1.2.826.0.1.3680043.9.7777.42"_s;
    QVERIFY(!CommitmentScu(toArchive).request(uid, {{img.dataSet().text(0x0008, 0x0016), img.instanceUid(), 0}}, 0, nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 20000);
    QCOMPARE(answer->transactionUid, uid);
    QCOMPARE(answer->committed.size(), 1);
    QCOMPARE(answer->committed.first().sopInstance, img.instanceUid());
}

ORV_TEST_MAIN(TestDicomTls)
#include "tst_dicomtls.moc"
