#pragma once

#include "outside/dicom/StorageCommitment.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>

namespace orv {

// The DICOM node settings of this run: the addresses of the storage archive, the worklist
// provider and the film printer, the local AE titles and the branch code. The settings window
// binds its fields to this model; sending, printing and the worklist read it at the moment of
// use. Seven fields are kept in the settings store (application "VELMORPACS", section
// "ACQUIRE") and read from it when the model is first used; the others start at their design
// defaults and live only for the run. Values are the texts the operator typed. value() and
// setValue() may be called from any thread; `changed` is emitted on the caller's thread.
class DicomNodes : public QObject
{
    Q_OBJECT
public:
    // Field names are the names of the settings window's controls. Check boxes hold "1" or "0";
    // the two option groups hold the object name of the chosen option.
    enum Field {
        StorageNode, StoragePort, StorageAE, Async,
        CallingAE, MoveDestination, RemoteNode, RemotePort, RemoteAE, QueryRoot, RetrieveMethod,
        AEName, Port, CopyAllFrames, WindowAll,
        PrintNode, PrintPort, PrintAE, PrintCallingAE, PrintFormat, PrintOrientation, FilmSize, Magnification,
        wRemoteNode, wRemotePort, wRemoteAE, txtBranchCode,
        // DICOM TLS: a "use TLS" choice per peer, and one set of files for all of them (the
        // workstation's certificate and private key, the trusted CA certificates). Kept by "OK" in
        // application "VelmorOrvaline", section "DICOM"; the files by their paths only.
        StorageTLS, wRemoteTLS, PrintTLS, TLSCertificate, TLSPrivateKey, TLSTrustedCertificates,
        StorageCommit,
        // Security (kept by "OK" in application "VelmorOrvaline", section "DICOM"; no control of
        // the settings window shows them): whether each TLS peer's certificate must name the
        // address connected to ("1", the default, or "0"), and the local address the storage
        // commitment listener opens its port on ("" for every interface).
        StorageTLSHostCheck, wRemoteTLSHostCheck, PrintTLSHostCheck, ListenAddress,
        // The performed procedure step provider beside the worklist provider (kept by "OK" in
        // application "VelmorOrvaline", section "DICOM"): no steps are reported while its address
        // is empty (the default).
        MppsNode, MppsPort, MppsAE, MppsTLS, MppsTLSHostCheck,
        FieldCount
    };
    Q_ENUM(Field)

    // A model with every field at its design default (nothing read from the store).
    DicomNodes();

    QString value(Field f) const;
    void setValue(Field f, const QString &v);

    // Reads the stored fields from the settings store (their defaults when absent) and sets every
    // other field to its design default.
    void load();
    // Writes the stored fields under their keys, in the order of storedFields(), then the TLS
    // fields under theirs.
    void store() const;

    static QString defaultValue(Field f);
    // The settings key of a stored field; "" for a field that is not stored.
    static QString settingsKey(Field f);
    static QList<Field> storedFields();
    // The DICOM TLS fields and their keys in application "VelmorOrvaline", section "DICOM".
    static QList<Field> tlsFields();
    static QString tlsSettingsKey(Field f);
    // The key of a field kept in the workstation's own section (application "VelmorOrvaline",
    // section "DICOM"): the storage commitment switch and the workstation's listening AE title
    // and port; "" for the others.
    static QString ownKey(Field f);
    // The address used when nothing is stored for the storage archive or the worklist provider.
    static QString defaultAddress() { return QStringLiteral("localhost"); }

    // The peers as their readers take them: the storage archive with CallingAE as the calling AE
    // title; the worklist provider; the film printer with PrintCallingAE. Throws orv::Error with
    // a message naming the setting when an address is empty, a port is not a whole number from
    // 1 to 65535 or an AE title is empty or longer than 16 characters, and when TLS is chosen for
    // the peer without a trusted certificates file or with only one of certificate and key.
    // The files themselves are read when the association is made.
    dicom::Peer storagePeer() const;
    dicom::Peer worklistPeer() const;
    dicom::Peer printPeer() const;
    // The performed procedure step provider, with CallingAE as the calling AE title.
    dicom::Peer procedureStepPeer() const;
    // Whether performed procedure steps are reported (the provider's address is set).
    bool procedureStepsOn() const { return !value(MppsNode).trimmed().isEmpty(); }
    // Whether stores to the storage archive are followed by a storage commitment request.
    bool storageCommitment() const { return value(StorageCommit).trimmed() == QLatin1String("1"); }
    // Where the workstation listens for answers the archive sends on associations of its own:
    // AE title (AEName, else the calling AE title) in calledAe, port in port. Throws orv::Error
    // naming the setting when either cannot be used.
    dicom::Peer listenerAddress() const;
    // The storage commitment listener: listenerAddress(), on ListenAddress, taking associations
    // only from the storage archive's AE title, over TLS when TLS is on for the archive. Throws
    // orv::Error as listenerAddress() and storagePeer() do.
    dicom::ListenerSettings listenerSettings() const;

signals:
    void changed(orv::DicomNodes::Field field, const QString &value);

private:
    mutable QMutex m_mutex;
    std::array<QString, FieldCount> m_values;
};

// The node settings of this run, loaded from the settings store on first use.
DicomNodes &dicomNodes();
// Forgets the node settings of this run (the next dicomNodes() loads them again). For tests.
void resetDicomNodes();

} // namespace orv
