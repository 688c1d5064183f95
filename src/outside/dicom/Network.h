#pragma once

#include "DataSet.h"

#include <QString>
#include <QStringList>

#include <QList>

#include <functional>
#include <memory>

namespace orv::dicom {

class Image;

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

// Storage SCU: one association per image (C-STORE).
class StoreScu
{
public:
    StoreScu(const QString &host, int port, const QString &callingAe, const QString &calledAe);
    explicit StoreScu(const Peer &peer) : m_peer(peer) {}
    // Sends the image and returns the DIMSE status of the C-STORE response (0 = success).
    // Throws Error when the peer cannot be reached, refuses the association, accepts no
    // presentation context for the image's SOP class (the Error's code is then 0x0122, "SOP class
    // not supported"), or does not answer in time.
    int send(Image &image);

private:
    Peer m_peer;
};

// Modality Worklist SCU (C-FIND on the worklist information model).
class WorklistScu
{
public:
    WorklistScu(const QString &host, int port, const QString &calledAe, const QString &callingAe = QStringLiteral("VELMOR"));
    explicit WorklistScu(const Peer &peer) : m_peer(peer) {}
    // Runs the query and returns the answer data sets in the order received. Throws Error when
    // the association fails or the provider ends the query with a failure status.
    QList<DataSet> run(const DataSet &identifier);
    // Runs the query and hands each answer to `answer` as it arrives, on the calling thread, text
    // in UTF-8 whatever character set the provider used. `cancelled` is asked while waiting and
    // after each answer: once it says true a C-CANCEL is sent, later answers are dropped, and the
    // association is released when the provider has ended the query (aborted when it does not
    // within the network timeout). Returns false when the query was cancelled. Throws Error as
    // run() does, and when the provider stays silent for the network timeout; answers handed on
    // before the failure stay handed on.
    bool run(const DataSet &identifier, const std::function<void(const DataSet &)> &answer,
             const std::function<bool()> &cancelled = {});

    // The identifier of the workstation's worklist query, in UTF-8: patient name followed by "*", study
    // date, accession number, institution (branch code), modality, patient ID as matching keys,
    // the return keys (with the Study Instance UID), and one Scheduled Procedure Step item with
    // the start date, and the step's modality and ID as return keys.
    static DataSet standardIdentifier(const QString &patientName, const QString &patientId, const QString &studyDate,
                                      const QString &modality, const QString &accession, const QString &branch);
    // The twelve cells of the worklist grid for one answer: accession, patient ID, name, sex,
    // birth date, referring physician, modality, requested procedure ID and description,
    // study date, remarks (empty), and an empty hidden cell. Values as the provider sent them;
    // the modality is the answer's own, else that of its first Scheduled Procedure Step (where
    // providers usually put it).
    static QStringList gridRow(const DataSet &answer);

private:
    Peer m_peer;
};

// Basic Print Management SCU: one film session per open()/close(); images fill the image boxes
// of the current film box in order; a full film box is printed and a new one started.
class FilmPrinter
{
public:
    FilmPrinter(const QString &host, int port, const QString &calledAe, const QString &callingAe);
    explicit FilmPrinter(const Peer &peer);
    ~FilmPrinter();
    FilmPrinter(const FilmPrinter &) = delete;
    FilmPrinter &operator=(const FilmPrinter &) = delete;

    // Colour print uses the Basic Colour Print Management classes; the default is greyscale.
    void setColour(bool colour);
    // Opens the association and creates the film session. Throws Error.
    void open();

    void setDisplayFormat(const QString &format);     // e.g. "STANDARD\2,3"
    void setOrientation(const QString &orientation);  // "PORTRAIT" or "LANDSCAPE"
    void setFilmSize(const QString &filmSize);        // e.g. "8INX10IN"
    // Further attributes for every film box created from now on (e.g. Magnification Type).
    DataSet filmBoxAttributes() const { return m_filmBoxAttributes; }

    // Places the image in the next image box. startNewFilm: print the current film first and
    // start a new one; printWhenFull: print a film as soon as its last box is filled (else the
    // film is printed by close()). Throws Error.
    void printImage(Image &image, bool startNewFilm = false, bool printWhenFull = true);
    // Prints the film holding images not yet printed, ends the film session and releases the
    // association. Throws Error; the association is closed in any case.
    void close();

    bool isOpen() const;
    int filmsPrinted() const { return m_filmsPrinted; }

private:
    struct Session;
    void printFilm();
    void createFilmBox();

    Peer m_peer;
    bool m_colour = false;
    QString m_displayFormat = QStringLiteral("STANDARD\\1,1");
    QString m_orientation = QStringLiteral("PORTRAIT");
    QString m_filmSize = QStringLiteral("8INX10IN");
    DataSet m_filmBoxAttributes;
    std::unique_ptr<Session> m_session;
    int m_filmsPrinted = 0;
};

// One association carrying the C-STOREs of many files (a batch of the send queue). The
// presentation contexts proposed are those of the files' SOP classes, each in the file's own
// transfer syntax and uncompressed.
class StoreAssociation
{
public:
    struct Context
    {
        QString sopClass;
        QString transferSyntax;
    };
    // What a file to be sent is: its SOP class and instance and the transfer syntax it is in.
    struct Identity
    {
        QString sopClass;
        QString sopInstance;
        QString transferSyntax;
        QString studyUid; // empty when the file names none
        QString seriesUid; // empty when the file names none
    };
    // Reads the identity of a DICOM file (without its pixel data). Throws Error when the file
    // cannot be read as DICOM or names no SOP class or instance.
    static Identity identify(const QString &path);
    // Writes the image as it would be sent (completed, without directory attributes) to a file
    // at `path`, in its own transfer syntax when that is a compressed one, else explicit VR
    // little endian; the file appears under its name only once whole. Throws Error.
    static Identity writeForSending(Image &image, const QString &path);

    explicit StoreAssociation(const Peer &peer);
    ~StoreAssociation();
    StoreAssociation(const StoreAssociation &) = delete;
    StoreAssociation &operator=(const StoreAssociation &) = delete;

    // Opens the association. Throws Error when the peer cannot be reached, rejects the
    // association or does not answer in time.
    void open(const QList<Context> &contexts);
    // Sends the file and returns the DIMSE status of the C-STORE response. Throws Error with
    // code 0x0122 when the peer accepted no context for the file's SOP class (the association
    // stays usable), and Error with another code when the file cannot be read or the association
    // failed (it is then closed: isOpen() is false).
    int send(const QString &path, const QString &sopClass, const QString &transferSyntax);
    bool isOpen() const;
    // Releases the association (aborts it when the release fails); does nothing when closed.
    void close();

private:
    struct Scu;
    Peer m_peer;
    std::unique_ptr<Scu> m_scu;
};

// The object of a storage commitment request and the answer for it.
struct CommitItem
{
    QString sopClass;
    QString sopInstance;
    // Answers only: 0 when committed, else the Failure Reason the archive gave.
    int failureReason = 0;
};

// A storage commitment answer (N-EVENT-REPORT): the transaction it answers and the objects
// committed and not committed.
struct CommitAnswer
{
    QString transactionUid;
    QList<CommitItem> committed;
    QList<CommitItem> failed;
};

// Storage Commitment Push Model, requesting side: asks the archive to commit objects (N-ACTION)
// and takes an answer the archive sends back on the same association.
class CommitmentScu
{
public:
    explicit CommitmentScu(const Peer &peer) : m_peer(peer) {}
    // Sends the request under `transactionUid`, then waits up to `waitSeconds` for the answer on
    // the same association before releasing it. Returns whether the answer came (in `answer`);
    // an archive that answers on a new association is heard by a CommitmentListener. Throws
    // Error when the association fails or the archive refuses the request.
    bool request(const QString &transactionUid, const QList<CommitItem> &items, int waitSeconds, CommitAnswer *answer);

private:
    Peer m_peer;
};

// Where and from whom the workstation takes storage commitment answers.
struct ListenerSettings
{
    QString aeTitle;  // the called AE title taken (the workstation's)
    int port = 0;
    // The local address (IPv4 or a name resolving to one) the port is opened on; "" for every
    // interface.
    QString bindAddress;
    // The calling AE titles taken (the archive's); associations from any other are rejected.
    QStringList callingAeTitles;
    // With tls.enabled only DICOM TLS associations are taken, the workstation shows its
    // certificate (certificate and key are required) and the archive's must be valid and issued
    // by a trusted CA. The host name is not checked on this side.
    TlsSettings tls{};
};

// Storage Commitment Push Model, listening side: takes the answers an archive sends on
// associations of its own to the workstation's AE title and port. Each answer is handed to
// `onAnswer` on the listener's thread before the archive is told it was received; a handler
// that throws makes the reply a processing failure, so the archive may send it again. What an
// association sends is watched as on every association of this layer (nesting, exchange time
// limit): a peer that breaks the limits loses its association, the listener goes on.
class CommitmentListener
{
public:
    using Handler = std::function<void(const CommitAnswer &)>;
    CommitmentListener(const ListenerSettings &settings, Handler onAnswer);
    // Stops listening (within about a second) and waits for the listener's thread.
    ~CommitmentListener();
    CommitmentListener(const CommitmentListener &) = delete;
    CommitmentListener &operator=(const CommitmentListener &) = delete;
    // Opens the port and starts listening on a thread of its own. Throws Error when the port
    // cannot be opened on the address, or the TLS files cannot be used.
    void start();
    int port() const { return m_settings.port; }
    QString aeTitle() const { return m_settings.aeTitle; }

private:
    struct Scp;
    ListenerSettings m_settings;
    Handler m_onAnswer;
    std::unique_ptr<Scp> m_scp;
};

// The SOP class of the Storage Commitment Push Model.
inline constexpr const char *kStorageCommitmentClass = "1.2.840.10008.1.20.1";

} // namespace orv::dicom
