#pragma once

#include "Peer.h"

#include <QList>

#include <memory>

namespace orv::dicom {

class Image;

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

} // namespace orv::dicom
