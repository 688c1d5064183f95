#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>
#include <thread>

namespace orv::audit {

// The audit repository the trail is sent to over syslog (RFC 5424 messages, octet-counted
// frames, over TLS as RFC 5425 says unless TLS is off). An empty host: nothing is sent, the
// messages stay in the local file only. The certificate files are those of DICOM TLS: the
// trusted CA certificates the repository's certificate must chain to, and the workstation's own
// certificate and key, shown when the repository asks for one (both or neither).
struct Repository
{
    QString host;
    int port = 6514;
    bool tls = true;
    bool checkHostName = true;
    QString trustedCertificatesFile;
    QString certificateFile;
    QString privateKeyFile;
};

// How an audited event ended (the EventOutcomeIndicator of the message).
enum class Outcome { Success = 0, MinorFailure = 4, SeriousFailure = 8, MajorFailure = 12 };

// The patient and study an event concerns; an empty field is left out of the message.
struct Subject
{
    QString patientId;
    QString patientName;
    QString studyUid;
    QString accession;
    QStringList sopClasses; // one entry per instance, for the instance counts of each class
};

// Where exported images went.
enum class Media { Disc, Film, Paper, Folder };

// The workstation's audit trail: one DICOM audit message (the XML of the DICOM audit message
// schema) per event, appended to a local file (one message a line, flushed to disk before the
// next is written) by a writer thread of its own, and from there sent to the audit repository
// when one is configured. What cannot be sent stays in the file and is sent on the next try, in
// order; the file keeps how far it has been sent. The events may be recorded from any thread and
// never block on disc or network. Process-wide.
class AuditTrail
{
public:
    static AuditTrail &instance();
    ~AuditTrail();

    // The folder of the local file (created for the user alone), the name the workstation is
    // known by in the messages (AuditSourceID), and the repository. Messages recorded before are
    // kept in the default folder's file (the per-user data folder's "audit").
    void configure(const QString &folder, const QString &sourceId, const Repository &repository);
    // The user named in the events that follow (set at login, cleared at logout).
    void setUser(const QString &userId, const QString &userName);
    QString user() const;
    QString logFile() const;
    // Waits until every message recorded so far is in the file and, when a repository is
    // configured, one try to send them has ended. What that try refused ("" when all was sent).
    QString flush();

    // The events. `peer` is a host name or address, `ae` an AE title.
    void userAuthentication(const QString &userId, bool login, Outcome outcome);
    void patientRecord(char action, const Subject &subject);
    void instancesAccessed(char action, const Subject &subject);
    void instancesTransferred(const QString &peer, const QString &ae, const Subject &subject, Outcome outcome);
    void exported(Media media, const QString &destination, const QList<Subject> &subjects, Outcome outcome);
    void securityAlert(const QString &peer, const QString &ae, const QString &description);

    // The XML of one message as the events above build it, without a line break (for tests).
    struct Message;

private:
    // The user logged in now: code and name.
    std::pair<QString, QString> userAndName() const;
    // A Patient Record (the subject's study left out) or DICOM Instances Accessed message.
    void access(bool patientRecord, char action, Subject subject);
    AuditTrail();
    void record(const Message &message);
    void run();
    void write(std::deque<QByteArray> &lines);
    QString send();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::deque<QByteArray> m_queue;
    quint64 m_flushAsked = 0, m_flushDone = 0;
    bool m_stop = false;
    QString m_lastRefusal;
    QString m_folder, m_sourceId, m_userId, m_userName;
    Repository m_repository;
    std::thread m_thread;
};

} // namespace orv::audit
