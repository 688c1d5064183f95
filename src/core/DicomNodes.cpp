#include "DicomNodes.h"

#include "SharedState.h"
#include "outside/Error.h"

#include "CoreRoutines.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSet>
#include <QMutexLocker>

#include <memory>

namespace orv {

namespace {

const QString kSection = QStringLiteral("ACQUIRE");
const QString kTlsSection = QStringLiteral("DICOM");

// What a validation message calls each peer.
struct PeerFields
{
    const char *what;
    DicomNodes::Field host, port, calledAe, tls, hostCheck;
};

// A TLS peer whose certificate is not matched against its address is said in the log window,
// once per peer and run.
void logHostCheckOff(const QString &what, const QString &host, const QString &key)
{
    static QMutex mutex;
    static QSet<QString> said;
    {
        QMutexLocker lock(&mutex);
        if (said.contains(what + host))
            return;
        said.insert(what + host);
    }
    const QString line = QStringLiteral("DICOM TLS: the certificate of the %1 (%2) is not checked against its address (%3 = 0).")
                             .arg(what, host, key);
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QMetaObject::invokeMethod(qApp, [line] { AddLog(line); }, Qt::QueuedConnection);
}

// A port text as a reader converts it: a whole number from 1 to 65535, blanks around it allowed.
int portNumber(const QString &text, bool *ok)
{
    const int n = text.trimmed().toInt(ok);
    *ok = *ok && n >= 1 && n <= 65535;
    return n;
}

void requireAeTitle(const QString &title, const QString &which)
{
    const QString t = title.trimmed();
    if (t.isEmpty())
        throw Error(QStringLiteral("The %1 is empty. Enter it in DICOM Settings.").arg(which));
    if (t.size() > 16)
        throw Error(QStringLiteral("The %1 \"%2\" is longer than 16 characters. Shorten it in DICOM Settings.").arg(which, t));
}

std::unique_ptr<DicomNodes> &holder()
{
    static std::unique_ptr<DicomNodes> nodes;
    return nodes;
}

} // namespace

DicomNodes::DicomNodes()
{
    for (int f = 0; f < FieldCount; ++f)
        m_values[f] = defaultValue(Field(f));
}

QString DicomNodes::value(Field f) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.at(f);
}

void DicomNodes::setValue(Field f, const QString &v)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_values.at(f) == v)
            return;
        m_values[f] = v;
    }
    emit changed(f, v);
}

QString DicomNodes::defaultValue(Field f)
{
    switch (f) {
    case StorageNode: return defaultAddress();
    case StoragePort: return QStringLiteral("104");
    case StorageAE: return QStringLiteral("VELMOR");
    case CallingAE: return QStringLiteral("LOCAL");
    case MoveDestination: return QStringLiteral("LOCAL");
    case RemoteNode: return QStringLiteral("localhost");
    case RemotePort: return QStringLiteral("104");
    case RemoteAE: return QStringLiteral("REMOTE_AET");
    case QueryRoot: return QStringLiteral("PatientRoot");
    case RetrieveMethod: return QStringLiteral("CGET");
    case Port: return QStringLiteral("1111");
    case PrintNode: return QStringLiteral("localhost");
    case PrintPort: return QStringLiteral("104");
    case PrintAE: return QStringLiteral("ADVT");
    case PrintCallingAE: return QStringLiteral("ADVT");
    case PrintFormat: return QStringLiteral("STANDARD\\1,1");
    case PrintOrientation: return QStringLiteral("PORTRAIT");
    case FilmSize: return QStringLiteral("8INX10IN");
    case Magnification: return QStringLiteral("NONE");
    case wRemoteNode: return defaultAddress();
    case wRemotePort: return QStringLiteral("105");
    case wRemoteAE: return QStringLiteral("VELMOR");
    case MppsPort: return QStringLiteral("104");
    case MppsAE: return QStringLiteral("MPPS_SCP");
    case MppsTLSHostCheck:
    case StorageTLSHostCheck:
    case wRemoteTLSHostCheck:
    case PrintTLSHostCheck: return QStringLiteral("1");
    case ListenAddress:
    case MppsNode:
        break;
    case Async:
    case StorageTLS:
    case wRemoteTLS:
    case PrintTLS:
    case MppsTLS:
    case StorageCommit:
    case CopyAllFrames:
    case WindowAll: return QStringLiteral("0");
    case AEName:
    case txtBranchCode:
    case TLSCertificate:
    case TLSPrivateKey:
    case TLSTrustedCertificates:
    case FieldCount: break;
    }
    return {};
}

QString DicomNodes::settingsKey(Field f)
{
    switch (f) {
    case StorageNode: return QStringLiteral("StorageServer");
    case StoragePort: return QStringLiteral("StoragePort");
    case StorageAE: return QStringLiteral("StorageAEName");
    case wRemoteNode: return QStringLiteral("wRemoteNode");
    case wRemotePort: return QStringLiteral("wRemotePort");
    case wRemoteAE: return QStringLiteral("wRemoteAE");
    case txtBranchCode: return QStringLiteral("txtBranchCode");
    default: return {};
    }
}

QString DicomNodes::ownKey(Field f)
{
    switch (f) {
    case StorageCommit: return QStringLiteral("StorageCommitment");
    case AEName: return QStringLiteral("ListenAE");
    case Port: return QStringLiteral("ListenPort");
    case ListenAddress: return QStringLiteral("ListenAddress");
    case MppsNode: return QStringLiteral("ProcedureStepNode");
    case MppsPort: return QStringLiteral("ProcedureStepPort");
    case MppsAE: return QStringLiteral("ProcedureStepAE");
    case MppsTLS: return QStringLiteral("ProcedureStepTLS");
    case MppsTLSHostCheck: return QStringLiteral("ProcedureStepTLSHostCheck");
    default: return {};
    }
}

QList<DicomNodes::Field> DicomNodes::storedFields()
{
    return {StorageNode, StoragePort, StorageAE, wRemoteNode, wRemotePort, wRemoteAE, txtBranchCode};
}

QList<DicomNodes::Field> DicomNodes::tlsFields()
{
    return {StorageTLS, wRemoteTLS, PrintTLS, TLSCertificate, TLSPrivateKey, TLSTrustedCertificates,
            StorageTLSHostCheck, wRemoteTLSHostCheck, PrintTLSHostCheck};
}

QString DicomNodes::tlsSettingsKey(Field f)
{
    switch (f) {
    case StorageTLS: return QStringLiteral("StorageTLS");
    case wRemoteTLS: return QStringLiteral("WorklistTLS");
    case PrintTLS: return QStringLiteral("PrintTLS");
    case TLSCertificate: return QStringLiteral("TLSCertificate");
    case TLSPrivateKey: return QStringLiteral("TLSPrivateKey");
    case TLSTrustedCertificates: return QStringLiteral("TLSTrustedCertificates");
    case StorageTLSHostCheck: return QStringLiteral("StorageTLSHostCheck");
    case wRemoteTLSHostCheck: return QStringLiteral("WorklistTLSHostCheck");
    case PrintTLSHostCheck: return QStringLiteral("PrintTLSHostCheck");
    default: return {};
    }
}

void DicomNodes::load()
{
    const SettingsStore &s = settings();
    for (int i = 0; i < FieldCount; ++i) {
        const Field f = Field(i);
        const QString key = settingsKey(f);
        const QString own = ownKey(f);
        const QString tlsKey = tlsSettingsKey(f);
        if (!own.isEmpty())
            setValue(f, s.read(apps::VelmorOrvaline, QStringLiteral("DICOM"), own, defaultValue(f)));
        else if (!key.isEmpty())
            setValue(f, s.read(apps::VELMORPACS, kSection, key, defaultValue(f)));
        else if (!tlsKey.isEmpty())
            setValue(f, s.read(apps::VelmorOrvaline, kTlsSection, tlsKey, defaultValue(f)));
        else
            setValue(f, defaultValue(f));
    }
}

void DicomNodes::store() const
{
    SettingsStore &s = settings();
    for (Field f : storedFields())
        s.write(apps::VELMORPACS, kSection, settingsKey(f), value(f));
    for (Field f : tlsFields())
        s.write(apps::VelmorOrvaline, kTlsSection, tlsSettingsKey(f), value(f));
    for (Field f : {StorageCommit, AEName, Port, ListenAddress, MppsNode, MppsPort, MppsAE, MppsTLS, MppsTLSHostCheck})
        s.write(apps::VelmorOrvaline, QStringLiteral("DICOM"), ownKey(f), value(f));
}

dicom::ListenerSettings DicomNodes::listenerSettings() const
{
    const dicom::Peer own = listenerAddress();
    const dicom::Peer archive = storagePeer();
    dicom::ListenerSettings l;
    l.aeTitle = own.calledAe;
    l.port = own.port;
    l.bindAddress = value(ListenAddress).trimmed();
    l.callingAeTitles = QStringList{archive.calledAe};
    l.tls = archive.tls;
    return l;
}

dicom::Peer DicomNodes::listenerAddress() const
{
    dicom::Peer p;
    const QString ae = value(AEName).trimmed().isEmpty() ? value(CallingAE) : value(AEName);
    requireAeTitle(ae, QStringLiteral("AE title of this workstation (General SCP)"));
    p.calledAe = ae.trimmed();
    bool ok = false;
    p.port = portNumber(value(Port), &ok);
    if (!ok)
        throw Error(QStringLiteral("The port this workstation listens on, \"%1\", is not a number from 1 to 65535. Correct it in DICOM "
                                   "Settings (General SCP).")
                        .arg(value(Port)));
    return p;
}

namespace {

dicom::Peer checkedPeer(const DicomNodes &n, const PeerFields &p, const QString &callingAe, const QString &callingWhich)
{
    const QString what = QString::fromLatin1(p.what);
    dicom::Peer peer;
    peer.host = n.value(p.host).trimmed();
    if (peer.host.isEmpty())
        throw Error(QStringLiteral("The address of the %1 is empty. Enter it in DICOM Settings.").arg(what));
    const QString portText = n.value(p.port);
    bool ok = false;
    peer.port = portNumber(portText, &ok);
    if (portText.trimmed().isEmpty())
        throw Error(QStringLiteral("The port of the %1 is empty. Enter it in DICOM Settings.").arg(what));
    if (!ok)
        throw Error(QStringLiteral("The port of the %1, \"%2\", is not a number from 1 to 65535. Correct it in DICOM Settings.")
                        .arg(what, portText));
    requireAeTitle(callingAe, callingWhich);
    requireAeTitle(n.value(p.calledAe), QStringLiteral("AE title of the %1").arg(what));
    peer.callingAe = callingAe.trimmed();
    peer.calledAe = n.value(p.calledAe).trimmed();
    if (n.value(p.tls) == QLatin1String("1")) {
        peer.tls.enabled = true;
        peer.tls.certificateFile = n.value(DicomNodes::TLSCertificate).trimmed();
        peer.tls.privateKeyFile = n.value(DicomNodes::TLSPrivateKey).trimmed();
        peer.tls.trustedCertificatesFile = n.value(DicomNodes::TLSTrustedCertificates).trimmed();
        if (peer.tls.trustedCertificatesFile.isEmpty())
            throw Error(QStringLiteral("DICOM TLS is on for the %1 but no trusted certificates file is chosen. "
                                       "Choose it in DICOM Settings.").arg(what));
        peer.tls.checkHostName = n.value(p.hostCheck).trimmed() != QLatin1String("0");
        if (!peer.tls.checkHostName)
            logHostCheckOff(what, peer.host, DicomNodes::tlsSettingsKey(p.hostCheck));
        if (peer.tls.certificateFile.isEmpty() != peer.tls.privateKeyFile.isEmpty())
            throw Error(QStringLiteral("DICOM TLS for the %1 needs both the certificate file and its private key file, or "
                                       "neither. Choose the missing one in DICOM Settings.").arg(what));
    }
    return peer;
}

} // namespace

dicom::Peer DicomNodes::storagePeer() const
{
    return checkedPeer(*this, {"storage archive", StorageNode, StoragePort, StorageAE, StorageTLS, StorageTLSHostCheck}, value(CallingAE),
                       QStringLiteral("calling AE title"));
}

dicom::Peer DicomNodes::worklistPeer() const
{
    // The worklist query always calls itself "VELMOR".
    return checkedPeer(*this, {"worklist provider", wRemoteNode, wRemotePort, wRemoteAE, wRemoteTLS, wRemoteTLSHostCheck}, QStringLiteral("VELMOR"),
                       QStringLiteral("calling AE title"));
}

dicom::Peer DicomNodes::procedureStepPeer() const
{
    return checkedPeer(*this, {"performed procedure step provider", MppsNode, MppsPort, MppsAE, MppsTLS, MppsTLSHostCheck}, value(CallingAE),
                       QStringLiteral("calling AE title"));
}

dicom::Peer DicomNodes::printPeer() const
{
    return checkedPeer(*this, {"film printer", PrintNode, PrintPort, PrintAE, PrintTLS, PrintTLSHostCheck}, value(PrintCallingAE),
                       QStringLiteral("calling AE title of the film printer"));
}

DicomNodes &dicomNodes()
{
    auto &n = holder();
    if (!n) {
        n = std::make_unique<DicomNodes>();
        // The model belongs to the GUI thread whichever thread reads it first.
        if (QCoreApplication *app = QCoreApplication::instance())
            n->moveToThread(app->thread());
        n->load();
    }
    return *n;
}

void resetDicomNodes()
{
    holder().reset();
}

} // namespace orv
