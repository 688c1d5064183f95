// The audit trail: every kind of event makes a message the DICOM audit message schema accepts,
// kept in a file of the user's alone; login attempts are audited; and a real syslog server
// (rsyslog, TLS with a test CA) receives every message once, those written while it could not be
// reached included.

#include "common/TestLogin.h"
#include "common/TestMain.h"
#include "common/Tools.h"
#include "core/Audit.h"
#include "core/DicomNodes.h"
#include "core/SharedState.h"
#include "outside/LoginComponent.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace orv;
using namespace orv::audit;
using namespace orv::test;

namespace {

int modeOf(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

QStringList eventIds(const QStringList &lines)
{
    static const QRegularExpression id(u"<EventID csd-code=\"(\\d+)\""_s);
    QStringList out;
    for (const QString &l : lines)
        out << id.match(l).captured(1);
    return out;
}

} // namespace

class TestAuditTrail : public QObject
{
    Q_OBJECT

private slots:
    void everyEventIsAValidMessageInAPrivateFile();
    void loginAttemptsAreAudited();
    void syslogServerOverTlsReceivesEveryMessageOnce();

private:
    QTemporaryDir m_dir;
};

void TestAuditTrail::everyEventIsAValidMessageInAPrivateFile()
{
    const QString folder = m_dir.filePath(u"trail"_s);
    AuditTrail &trail = AuditTrail::instance();
    trail.configure(folder, u"WS1"_s, {});
    // Values from outside may hold markup, line breaks and terminal escapes.
    trail.setUser(u"T01"_s, u"Joy <Manalo> & \"co\"\n\x1b[31m"_s);
    const QString ct = u"1.2.840.10008.5.1.4.1.1.7"_s;
    const Subject exam{u"H-1"_s, u"DOE^JANE"_s, u"1.2.3.4"_s, u"TN1"_s, {ct, ct, u"1.2.840.10008.5.1.4.1.1.77.1.4.1"_s}};
    trail.userAuthentication(u"T01"_s, true, Outcome::MinorFailure);
    trail.userAuthentication(u"T01"_s, true, Outcome::Success);
    trail.patientRecord('R', exam);
    trail.instancesAccessed('R', exam);
    trail.instancesTransferred(u"127.0.0.1"_s, u"ARCHIVE"_s, exam, Outcome::Success);
    for (Media m : {Media::Disc, Media::Film, Media::Paper, Media::Folder})
        trail.exported(m, u"/media/disc"_s, {exam, Subject{}}, Outcome::Success);
    trail.securityAlert(u"archive.example"_s, u"INTRUDER"_s, u"rejected\nfor its AE title"_s);
    trail.userAuthentication(u"T01"_s, false, Outcome::Success);

    const QStringList lines = auditMessages();
    QCOMPARE(trail.logFile(), QDir(folder).filePath(u"audit.log"_s));
    QCOMPARE(eventIds(lines), (QStringList{u"110114"_s, u"110114"_s, u"110110"_s, u"110103"_s, u"110104"_s, u"110106"_s, u"110106"_s,
                                           u"110106"_s, u"110106"_s, u"110113"_s, u"110114"_s}));
    QCOMPARE(invalidAuditMessages(lines), QString());
    QVERIFY(lines[0].contains(u"EventOutcomeIndicator=\"4\""_s) && lines[0].contains(u"originalText=\"Login\""_s));
    QVERIFY(lines.last().contains(u"originalText=\"Logout\""_s));
    QVERIFY2(lines[2].contains(u"UserName=\"Joy &lt;Manalo&gt; &amp; &quot;co&quot;&#10;\uFFFD[31m\""_s), qPrintable(lines[2]));
    QVERIFY(lines[3].contains(u"<SOPClass UID=\"%1\" NumberOfInstances=\"2\"/>"_s.arg(ct)));
    QVERIFY(lines[4].contains(u"UserID=\"ARCHIVE\""_s) && lines[4].contains(u"originalText=\"Destination Role ID\""_s));
    QVERIFY(lines[5].contains(u"<MediaType csd-code=\"110032\""_s) && lines[6].contains(u"originalText=\"Film\""_s));
    QVERIFY(lines[9].contains(u"rejected&#10;for its AE title"_s));

    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(trail.logFile()), 0600);
}

void TestAuditTrail::loginAttemptsAreAudited()
{
    std::unique_ptr<FreshDatabase> db;
    AuditTrail::instance().configure(m_dir.filePath(u"login"_s), {}, {});
    QVERIFY(loginOnFreshDatabase(db, Backend::SQLite));
    auto connection = openDepartmentDatabase(db->config());
    QVERIFY(LoginComponent::check(*connection, u"t01"_s, u"wrong"_s) == LoginComponent::Check::Refused);
    const QStringList lines = auditMessages();
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].contains(u"EventOutcomeIndicator=\"0\""_s) && lines[0].contains(u"UserID=\"T01\""_s));
    QVERIFY(lines[1].contains(u"EventOutcomeIndicator=\"4\""_s) && lines[1].contains(u"UserID=\"T01\""_s));
    resetState(); // the login's connection goes before its database
}

void TestAuditTrail::syslogServerOverTlsReceivesEveryMessageOnce()
{
    const auto file = [this](const QString &name) { return m_dir.filePath(name); };
    const auto openssl = [](const QStringList &args) { return runTool(u"openssl"_s, args).exitCode == 0; };
    const auto issue = [&](const QString &name, const QString &ca) {
        return openssl({u"req"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, file(name + u".key"_s), u"-out"_s,
                        file(name + u".csr"_s), u"-subj"_s, u"/CN=localhost"_s, u"-addext"_s, u"subjectAltName=DNS:localhost,IP:127.0.0.1"_s})
               && openssl({u"x509"_s, u"-req"_s, u"-in"_s, file(name + u".csr"_s), u"-CA"_s, file(ca + u".pem"_s), u"-CAkey"_s,
                           file(ca + u".key"_s), u"-set_serial"_s, u"7"_s, u"-days"_s, u"2"_s, u"-copy_extensions"_s, u"copyall"_s,
                           u"-out"_s, file(name + u".pem"_s)});
    };
    for (const QString &ca : {u"ca"_s, u"other-ca"_s})
        QVERIFY(openssl({u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, file(ca + u".key"_s), u"-out"_s,
                         file(ca + u".pem"_s), u"-days"_s, u"2"_s, u"-subj"_s, u"/CN="_s + ca}));
    QVERIFY(issue(u"repository"_s, u"ca"_s));
    QVERIFY(issue(u"workstation"_s, u"ca"_s));

    // The repository and the files as the settings name them; first a CA that did not issue
    // the repository's certificate.
    const quint16 port = freeLoopbackPort();
    SettingsStore &s = settings();
    s.write(apps::VelmorOrvaline, u"Audit"_s, u"RepositoryHost"_s, u"localhost"_s);
    s.write(apps::VelmorOrvaline, u"Audit"_s, u"RepositoryPort"_s, QString::number(port));
    const auto useTls = [&](const QString &ca) {
        s.write(apps::VelmorOrvaline, u"DICOM"_s, DicomNodes::tlsSettingsKey(DicomNodes::TLSTrustedCertificates), file(ca));
        s.write(apps::VelmorOrvaline, u"DICOM"_s, DicomNodes::tlsSettingsKey(DicomNodes::TLSCertificate), file(u"workstation.pem"_s));
        s.write(apps::VelmorOrvaline, u"DICOM"_s, DicomNodes::tlsSettingsKey(DicomNodes::TLSPrivateKey), file(u"workstation.key"_s));
        applyAuditSettings();
    };
    useTls(u"other-ca.pem"_s);
    auditTrail().securityAlert(u"10.1.1.1"_s, u"INTRUDER"_s, u"written while no repository listens"_s);
    QVERIFY(auditTrail().flush().startsWith(u"Cannot send the audit trail to localhost:%1"_s.arg(port)));

    // rsyslog with its TLS driver, requiring a certificate of the test CA from the workstation,
    // writing each message's ID and text a line.
    const QString received = file(u"received.log"_s);
    QFile conf(file(u"rsyslog.conf"_s));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("global(workDirectory=\"%1\" maxMessageSize=\"64k\" defaultNetstreamDriver=\"gtls\"\n"
                              "       defaultNetstreamDriverCAFile=\"%2\" defaultNetstreamDriverCertFile=\"%3\"\n"
                              "       defaultNetstreamDriverKeyFile=\"%4\")\n"
                              "module(load=\"imtcp\" streamDriver.name=\"gtls\" streamDriver.mode=\"1\" streamDriver.authMode=\"x509/certvalid\")\n"
                              "input(type=\"imtcp\" address=\"127.0.0.1\" port=\"%5\")\n"
                              "template(name=\"idAndText\" type=\"string\" string=\"%msgid% %msg%\\n\")\n"
                              "action(type=\"omfile\" file=\"%6\" template=\"idAndText\")\n")
                   .arg(m_dir.path(), file(u"ca.pem"_s), file(u"repository.pem"_s), file(u"repository.key"_s))
                   .arg(port)
                   .arg(received)
                   .toUtf8());
    conf.close();
    QProcess rsyslog;
    rsyslog.setProcessChannelMode(QProcess::MergedChannels);
    rsyslog.start(u"rsyslogd"_s, {u"-n"_s, u"-f"_s, conf.fileName(), u"-i"_s, file(u"rsyslog.pid"_s)});
    QVERIFY(waitForPort(port));

    QVERIFY2(auditTrail().flush().startsWith(u"Cannot send the audit trail to localhost:%1"_s.arg(port)), qPrintable(auditTrail().flush()));
    useTls(u"ca.pem"_s);
    QCOMPARE(auditTrail().flush(), QString());
    auditTrail().patientRecord('R', Subject{u"H-2"_s, u"ROE^RICHARD"_s, {}, {}, {}});
    QCOMPARE(auditTrail().flush(), QString());

    const QStringList local = auditMessages();
    QVERIFY(local.size() >= 2);
    QStringList expected;
    for (const QString &m : local)
        expected << u"DICOM+RFC3881 "_s + m;
    const auto arrived = [&] {
        QFile f(received);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts) : QStringList();
    };
    QTRY_COMPARE_WITH_TIMEOUT(arrived().size(), expected.size(), 10000);
    QCOMPARE(arrived(), expected);
    QCOMPARE(invalidAuditMessages(local), QString());

    rsyslog.terminate();
    QVERIFY(rsyslog.waitForFinished(10000));
}

ORV_TEST_MAIN(TestAuditTrail)
#include "tst_audittrail.moc"
