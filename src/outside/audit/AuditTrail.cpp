#include "AuditTrail.h"

#include "outside/PrivateFiles.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>

namespace orv::audit {

namespace {

// Attribute and text values: the five XML specials escaped, characters XML cannot carry at all
// (controls other than tab, line feed, carriage return) replaced, and those three written as
// references, so that a message never holds a line break of its own.
QString xml(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&apos;"); break;
        case '\t': out += QLatin1String("&#9;"); break;
        case '\n': out += QLatin1String("&#10;"); break;
        case '\r': out += QLatin1String("&#13;"); break;
        default:
            out += (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF) ? QChar(0xFFFD) : c;
        }
    }
    return out;
}

struct Code
{
    const char *code;
    const char *system;
    const char *text;
};

QString coded(const char *element, const Code &c)
{
    return QStringLiteral("<%1 csd-code=\"%2\" codeSystemName=\"%3\" originalText=\"%4\"/>")
        .arg(QLatin1String(element), QLatin1String(c.code), QLatin1String(c.system), QLatin1String(c.text));
}

QString attr(const char *name, const QString &value)
{
    return value.isEmpty() ? QString() : QStringLiteral(" %1=\"%2\"").arg(QLatin1String(name), xml(value));
}

const Code kAuthentication{"110114", "DCM", "User Authentication"};
const Code kLogin{"110122", "DCM", "Login"};
const Code kLogout{"110123", "DCM", "Logout"};
const Code kPatientRecord{"110110", "DCM", "Patient Record"};
const Code kAccessed{"110103", "DCM", "DICOM Instances Accessed"};
const Code kTransferred{"110104", "DCM", "DICOM Instances Transferred"};
const Code kExport{"110106", "DCM", "Export"};
const Code kSecurityAlert{"110113", "DCM", "Security Alert"};
const Code kNodeAuthentication{"110126", "DCM", "Node Authentication"};
const Code kSource{"110153", "DCM", "Source Role ID"};
const Code kDestination{"110152", "DCM", "Destination Role ID"};
const Code kDestinationMedia{"110154", "DCM", "Destination Media"};
const Code kPatientNumber{"2", "RFC-3881", "Patient Number"};
const Code kStudyUid{"110180", "DCM", "Study Instance UID"};
const Code kNodeId{"110182", "DCM", "Node ID"};
const Code kAcquisitionDevice{"2", "DCM", "Data Acquisition Device"};

Code mediaCode(Media m)
{
    switch (m) {
    case Media::Disc: return {"110032", "DCM", "CD"};
    case Media::Film: return {"110010", "DCM", "Film"};
    case Media::Paper: return {"110038", "DCM", "Paper Document"};
    case Media::Folder: return {"110037", "DCM", "URI"};
    }
    return {"110037", "DCM", "URI"};
}

QString hostName()
{
    const QString h = QSysInfo::machineHostName();
    return h.isEmpty() ? QStringLiteral("localhost") : h;
}

QString defaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Orvaline/audit"));
}

QString sentFile(const QString &folder) { return QDir(folder).filePath(QStringLiteral("audit.sent")); }

qint64 readSentOffset(const QString &folder)
{
    QFile f(sentFile(folder));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().trimmed().toLongLong();
}

// Written beside and renamed over, so that a crash leaves the old offset or the new one.
void writeSentOffset(const QString &folder, qint64 offset)
{
    const QString file = sentFile(folder), part = file + QStringLiteral(".part");
    makePrivateFile(part);
    QFile f(part);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(QByteArray::number(offset));
    f.flush();
#ifdef Q_OS_UNIX
    ::fsync(f.handle());
#endif
    f.close();
    QFile::remove(file);
    QFile::rename(part, file);
}

} // namespace

// One message under construction: its parts in the order of the schema.
struct AuditTrail::Message
{
    QString event, participants, source, objects;

    Message(const Code &id, char action, Outcome outcome, const Code *type = nullptr)
    {
        event = QStringLiteral("<EventIdentification EventActionCode=\"%1\" EventDateTime=\"%2\" EventOutcomeIndicator=\"%3\">")
                    .arg(QChar::fromLatin1(action))
                    .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
                    .arg(int(outcome))
                + coded("EventID", id) + (type ? coded("EventTypeCode", *type) : QString()) + QStringLiteral("</EventIdentification>");
    }
    void participant(const QString &userId, const QString &userName, bool requestor, const QString &access = QString(),
                     const Code *role = nullptr, const Code *media = nullptr)
    {
        participants += QStringLiteral("<ActiveParticipant") + attr("UserID", userId.isEmpty() ? QStringLiteral("unknown") : userId)
                        + attr("UserName", userName) + QStringLiteral(" UserIsRequestor=\"%1\"").arg(QLatin1String(requestor ? "true" : "false"));
        if (!access.isEmpty()) {
            // An address of digits and dots (or with a colon) is an IP address, anything else a name.
            const bool ip = access.contains(QLatin1Char(':')) || access.toStdString().find_first_not_of("0123456789.") == std::string::npos;
            participants += attr("NetworkAccessPointID", access) + QStringLiteral(" NetworkAccessPointTypeCode=\"%1\"").arg(ip ? 2 : 1);
        }
        if (!role && !media) {
            participants += QStringLiteral("/>");
            return;
        }
        participants += QLatin1Char('>');
        if (role)
            participants += coded("RoleIDCode", *role);
        if (media)
            participants += QStringLiteral("<MediaIdentifier>") + coded("MediaType", *media) + QStringLiteral("</MediaIdentifier>");
        participants += QStringLiteral("</ActiveParticipant>");
    }
    // The patient and the study of a subject, each when known.
    void subject(const Subject &s)
    {
        if (!s.studyUid.isEmpty()) {
            objects += QStringLiteral("<ParticipantObjectIdentification ParticipantObjectID=\"%1\" ParticipantObjectTypeCode=\"2\" "
                                      "ParticipantObjectTypeCodeRole=\"3\">")
                           .arg(xml(s.studyUid))
                       + coded("ParticipantObjectIDTypeCode", kStudyUid);
            QMap<QString, int> classes;
            for (const QString &c : s.sopClasses)
                ++classes[c];
            for (auto it = classes.cbegin(); it != classes.cend(); ++it)
                objects += QStringLiteral("<SOPClass UID=\"%1\" NumberOfInstances=\"%2\"/>").arg(xml(it.key())).arg(it.value());
            if (!s.accession.isEmpty())
                objects += QStringLiteral("<Accession Number=\"%1\"/>").arg(xml(s.accession));
            objects += QStringLiteral("</ParticipantObjectIdentification>");
        }
        if (!s.patientId.isEmpty()) {
            objects += QStringLiteral("<ParticipantObjectIdentification ParticipantObjectID=\"%1\" ParticipantObjectTypeCode=\"1\" "
                                      "ParticipantObjectTypeCodeRole=\"1\">")
                           .arg(xml(s.patientId))
                       + coded("ParticipantObjectIDTypeCode", kPatientNumber)
                       + (s.patientName.isEmpty() ? QString() : QStringLiteral("<ParticipantObjectName>%1</ParticipantObjectName>").arg(xml(s.patientName)))
                       + QStringLiteral("</ParticipantObjectIdentification>");
        }
    }
    QByteArray text(const QString &sourceId) const
    {
        const QString src = QStringLiteral("<AuditSourceIdentification AuditSourceID=\"%1\">").arg(xml(sourceId))
                            + coded("AuditSourceTypeCode", kAcquisitionDevice) + QStringLiteral("</AuditSourceIdentification>");
        return (QStringLiteral("<AuditMessage>") + event + participants + src + objects + QStringLiteral("</AuditMessage>")).toUtf8();
    }
};

AuditTrail &AuditTrail::instance()
{
    static AuditTrail trail;
    return trail;
}

AuditTrail::AuditTrail() : m_folder(defaultFolder()), m_sourceId(hostName())
{
    m_thread = std::thread([this] { run(); });
}

AuditTrail::~AuditTrail()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AuditTrail::configure(const QString &folder, const QString &sourceId, const Repository &repository)
{
    // Messages recorded before go to the file they were meant for.
    flush();
    {
        std::lock_guard lock(m_mutex);
        m_folder = folder.isEmpty() ? defaultFolder() : folder;
        m_sourceId = sourceId.trimmed().isEmpty() ? hostName() : sourceId.trimmed();
        m_repository = repository;
    }
}

void AuditTrail::setUser(const QString &userId, const QString &userName)
{
    std::lock_guard lock(m_mutex);
    m_userId = userId;
    m_userName = userName;
}

QString AuditTrail::user() const
{
    std::lock_guard lock(m_mutex);
    return m_userId;
}

QString AuditTrail::logFile() const
{
    std::lock_guard lock(m_mutex);
    return QDir(m_folder).filePath(QStringLiteral("audit.log"));
}

QString AuditTrail::flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 asked = ++m_flushAsked;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_flushDone >= asked || m_stop; });
    return m_lastRefusal;
}

void AuditTrail::record(const Message &message)
{
    std::lock_guard lock(m_mutex);
    m_queue.push_back(message.text(m_sourceId));
    m_wake.notify_all();
}

std::pair<QString, QString> AuditTrail::userAndName() const
{
    std::lock_guard lock(m_mutex);
    return {m_userId, m_userName};
}

void AuditTrail::userAuthentication(const QString &userId, bool login, Outcome outcome)
{
    Message m(kAuthentication, 'E', outcome, login ? &kLogin : &kLogout);
    QString name;
    {
        std::lock_guard lock(m_mutex);
        if (userId == m_userId)
            name = m_userName;
    }
    m.participant(userId, name, true);
    m.participant(QCoreApplication::applicationName(), QString(), false, hostName());
    record(m);
}

void AuditTrail::access(bool patientRecord, char action, Subject subject)
{
    Message m(patientRecord ? kPatientRecord : kAccessed, action, Outcome::Success);
    const auto [userId, userName] = userAndName();
    m.participant(userId, userName, true);
    m.participant(QCoreApplication::applicationName(), QString(), false, hostName());
    if (patientRecord)
        subject.studyUid.clear(); // the patient's record, not a study of it
    m.subject(subject);
    record(m);
}

void AuditTrail::patientRecord(char action, const Subject &subject) { access(true, action, subject); }

void AuditTrail::instancesAccessed(char action, const Subject &subject) { access(false, action, subject); }

void AuditTrail::instancesTransferred(const QString &peer, const QString &ae, const Subject &subject, Outcome outcome)
{
    Message m(kTransferred, 'R', outcome);
    const auto [userId, userName] = userAndName();
    m.participant(QCoreApplication::applicationName(), QString(), userId.isEmpty(), hostName(), &kSource);
    m.participant(ae, QString(), false, peer, &kDestination);
    if (!userId.isEmpty())
        m.participant(userId, userName, true);
    m.subject(subject);
    record(m);
}

void AuditTrail::exported(Media media, const QString &destination, const QList<Subject> &subjects, Outcome outcome)
{
    Message m(kExport, 'R', outcome);
    const auto [userId, userName] = userAndName();
    m.participant(userId, userName, true);
    m.participant(QCoreApplication::applicationName(), QString(), false, hostName(), &kSource);
    const Code type = mediaCode(media);
    m.participant(destination, QString(), false, QString(), &kDestinationMedia, &type);
    for (const Subject &s : subjects)
        m.subject(s);
    record(m);
}

void AuditTrail::securityAlert(const QString &peer, const QString &ae, const QString &description)
{
    Message m(kSecurityAlert, 'E', Outcome::MinorFailure, &kNodeAuthentication);
    m.participant(QCoreApplication::applicationName(), QString(), false, hostName());
    m.participant(ae.isEmpty() ? peer : ae, QString(), true, peer);
    m.objects += QStringLiteral("<ParticipantObjectIdentification ParticipantObjectID=\"%1\" ParticipantObjectTypeCode=\"2\" "
                                "ParticipantObjectTypeCodeRole=\"13\">")
                     .arg(xml(peer.isEmpty() ? QStringLiteral("unknown") : peer))
                 + coded("ParticipantObjectIDTypeCode", kNodeId)
                 + QStringLiteral("<ParticipantObjectDetail type=\"Alert Description\" value=\"%1\"/>")
                       .arg(QString::fromLatin1(description.toUtf8().toBase64()))
                 + QStringLiteral("<ParticipantObjectDescription>%1</ParticipantObjectDescription>").arg(xml(description))
                 + QStringLiteral("</ParticipantObjectIdentification>");
    record(m);
}

void AuditTrail::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point nextTry = Clock::now();
    bool unsent = true; // the file may hold messages the repository has not taken
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto due = [&] { return m_stop || !m_queue.empty() || m_flushAsked > m_flushDone; };
        if (!m_repository.host.isEmpty() && unsent)
            m_wake.wait_until(lock, nextTry, due);
        else
            m_wake.wait(lock, due);
        std::deque<QByteArray> lines;
        lines.swap(m_queue);
        const quint64 asked = m_flushAsked;
        const bool stop = m_stop;
        unsent = unsent || !lines.empty();
        const bool sendNow = !stop && !m_repository.host.isEmpty() && (asked > m_flushDone || (unsent && Clock::now() >= nextTry));
        lock.unlock();
        write(lines);
        QString refused;
        if (sendNow) {
            refused = send();
            unsent = !refused.isEmpty();
            // A repository that cannot be reached is tried again in half a minute, not on every message.
            if (unsent)
                nextTry = Clock::now() + std::chrono::seconds(30);
        }
        lock.lock();
        if (sendNow)
            m_lastRefusal = refused;
        m_flushDone = asked;
        m_done.notify_all();
        if (stop && m_queue.empty())
            return;
    }
}

void AuditTrail::write(std::deque<QByteArray> &lines)
{
    if (lines.empty())
        return;
    QString folder;
    {
        std::lock_guard lock(m_mutex);
        folder = m_folder;
    }
    makePrivateFolder(folder);
    const QString file = QDir(folder).filePath(QStringLiteral("audit.log"));
    makePrivateFile(file);
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return;
    for (QByteArray &line : lines) {
        line += '\n';
        const char *p = line.constData();
        qsizetype left = line.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, size_t(left));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= n;
        }
        ::fsync(fd); // each message reaches the disc before the next is written
    }
    ::close(fd);
#else
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    for (QByteArray &line : lines) {
        f.write(line + '\n');
        f.flush();
    }
#endif
}

QString AuditTrail::send()
{
    Repository repo;
    QString folder;
    {
        std::lock_guard lock(m_mutex);
        repo = m_repository;
        folder = m_folder;
    }
    QFile log(QDir(folder).filePath(QStringLiteral("audit.log")));
    const qint64 offset = readSentOffset(folder);
    if (!log.open(QIODevice::ReadOnly) || log.size() <= offset)
        return {};
    log.seek(offset);
    QByteArray pending = log.readAll();
    pending.truncate(pending.lastIndexOf('\n') + 1); // whole lines only
    if (pending.isEmpty())
        return {};

    const QString where = QStringLiteral("%1:%2").arg(repo.host).arg(repo.port);
    QSslSocket socket;
    if (repo.tls) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setProtocol(QSsl::TlsV1_2OrLater);
        const QList<QSslCertificate> cas = QSslCertificate::fromPath(repo.trustedCertificatesFile);
        if (cas.isEmpty())
            return QStringLiteral("The audit repository %1 cannot be verified: no trusted certificates in \"%2\".").arg(where, repo.trustedCertificatesFile);
        config.setCaCertificates(cas);
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!repo.certificateFile.isEmpty() || !repo.privateKeyFile.isEmpty()) {
#ifdef Q_OS_UNIX
            struct stat st{};
            if (::stat(QFile::encodeName(repo.privateKeyFile).constData(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)))
                return QStringLiteral("The private key file %1 can be read by other users; it is refused.").arg(repo.privateKeyFile);
#endif
            const QList<QSslCertificate> own = QSslCertificate::fromPath(repo.certificateFile);
            QFile keyFile(repo.privateKeyFile);
            QSslKey key;
            if (keyFile.open(QIODevice::ReadOnly))
                key = QSslKey(&keyFile, QSsl::Rsa);
            if (key.isNull() && keyFile.seek(0))
                key = QSslKey(&keyFile, QSsl::Ec);
            if (own.isEmpty() || key.isNull())
                return QStringLiteral("The workstation's certificate \"%1\" or key \"%2\" cannot be used for the audit repository.")
                    .arg(repo.certificateFile, repo.privateKeyFile);
            config.setLocalCertificate(own.first());
            config.setPrivateKey(key);
        }
        socket.setSslConfiguration(config);
        if (!repo.checkHostName) {
            QObject::connect(&socket, &QSslSocket::sslErrors, &socket, [&socket](const QList<QSslError> &errors) {
                for (const QSslError &e : errors)
                    if (e.error() != QSslError::HostNameMismatch)
                        return;
                socket.ignoreSslErrors(errors);
            });
        }
        socket.connectToHostEncrypted(repo.host, quint16(repo.port));
        if (!socket.waitForEncrypted(10000)) {
            QStringList why;
            for (const QSslError &e : socket.sslHandshakeErrors())
                why << e.errorString();
            return QStringLiteral("Cannot send the audit trail to %1: %2").arg(where, why.isEmpty() ? socket.errorString() : why.join(QStringLiteral("; ")));
        }
    } else {
        socket.connectToHost(repo.host, quint16(repo.port));
        if (!socket.waitForConnected(10000))
            return QStringLiteral("Cannot send the audit trail to %1: %2").arg(where, socket.errorString());
    }

    // RFC 5424: PRI (facility authpriv, severity notice), version, time, host, application,
    // process, message ID, no structured data, the message; each framed by its length.
    const QByteArray head = QStringLiteral("<85>1 %1 %2 %3 %4 DICOM+RFC3881 - ")
                                .arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs), hostName(),
                                     QCoreApplication::applicationName().isEmpty() ? QStringLiteral("orvaline") : QCoreApplication::applicationName())
                                .arg(QCoreApplication::applicationPid())
                                .toUtf8();
    qint64 sent = 0;
    for (qsizetype from = 0; from < pending.size();) {
        const qsizetype end = pending.indexOf('\n', from);
        const QByteArray body = head + pending.mid(from, end - from);
        socket.write(QByteArray::number(body.size()) + ' ' + body);
        from = end + 1;
        while (socket.bytesToWrite() > 0)
            if (!socket.waitForBytesWritten(10000)) {
                writeSentOffset(folder, offset + sent);
                return QStringLiteral("Cannot send the audit trail to %1: %2").arg(where, socket.errorString());
            }
        sent = from;
    }
    writeSentOffset(folder, offset + sent);
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(2000);
    return {};
}

} // namespace orv::audit
