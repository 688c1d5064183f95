#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace orv::test {

// A DICOM peer running in its own process on a free loopback port, with a private folder.
// Stopped (killed) when destroyed.
class PeerProcess
{
public:
    PeerProcess();
    ~PeerProcess();

    bool isRunning() const { return m_started; }
    quint16 port() const { return m_port; }
    quint16 httpPort() const { return m_httpPort; }
    QString folder() const { return m_dir.path(); }
    QString log();
    // Orthanc's REST answer to `verb path` (e.g. "/instances"), waited for.
    QByteArray rest(const QString &path, const QByteArray &verb = "GET", const QByteArray &body = {}) const;

    // storescp writing what it receives into folder()/in (calling AE titles are not checked).
    static std::unique_ptr<PeerProcess> storescp(const QStringList &extraArgs = {});
    // Orthanc with storage and worklists in folder(), DICOM AE "ORTHANC", REST on httpPort().
    // Worklist files (*.wl) go to folder()/worklists. `extraConfig`: further members of its JSON
    // configuration, e.g. "\"MaximumPatientCount\": 1".
    // `dicomPort`: the DICOM port to use (0: a free one).
    static std::unique_ptr<PeerProcess> orthanc(const QString &extraConfig = QString(), quint16 dicomPort = 0);
    // wlmscpfs serving folder()/db/<aeTitle>/*.wl; answers carry the character set of their file.
    static std::unique_ptr<PeerProcess> wlmscpfs(const QString &aeTitle);
    // dcmprscp as printer "IHEFULL", storing films into folder()/database.
    static std::unique_ptr<PeerProcess> dcmprscp();
    // A performed procedure step provider (npm's dcmjs-dimse) on `port` (0: a free one) taking
    // every AE title; steps() gives what it was sent.
    static std::unique_ptr<PeerProcess> stepProvider(quint16 port = 0);
    // The step messages the provider took, in order: "service" (N-CREATE, N-SET), "uid",
    // "calling" and "attributes" (keyed by the toolkit's attribute names).
    QList<QJsonObject> steps() const;

private:
    bool start(const QString &program, const QStringList &args, quint16 waitPort);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_httpPort = 0;
    bool m_started = false;
};

// Writes a DICOM file from a dcmdump-style text through dump2dcm (Latin-1 when the text names
// "ISO_IR 100", else UTF-8); true on success.
bool writeWorklistFile(const QString &dumpText, const QString &path);
// The same from the dump's bytes as given (character sets other than Latin-1 and UTF-8).
bool writeWorklistFile(const QByteArray &dumpBytes, const QString &path);

} // namespace orv::test
