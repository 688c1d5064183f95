#pragma once

#include <QHash>
#include <QList>
#include <QStringList>

namespace orv::dicom {

class Image;

// Builds a DICOMDIR for a directory, of image files it writes there itself (addImage) and of
// DICOM files that already lie there (addFile: referenced, never rewritten, so that a disc can
// carry one copy of each). Files are named by their DICOM file IDs, relative to the directory:
// at most eight components of at most eight upper-case letters, digits or "_", "\" or "/"
// between them. The profile is the general-purpose CD profile (STD-GEN-CD) when every file is in
// explicit VR little endian, else the general-purpose DVD JPEG profile (STD-GEN-DVD-JPEG); a
// file in another transfer syntax is still referenced. Every file written (images and DICOMDIR)
// is written under a temporary name and moved into place, so the folder never holds half a
// file; the DICOMDIR is read back before it is moved, as the toolkit does not notice every
// failed write (a full disc leaves a short file).
class DicomDirWriter
{
public:
    struct Skipped
    {
        QString relativeName;
        QString reason;
    };

    // `directory` is created when missing. `fileSetId` names the file-set, made fit for a
    // File-set ID (upper-case letters, digits, blanks and "_", at most 16; empty: "ORVALINE").
    explicit DicomDirWriter(const QString &directory, const QString &fileSetId = QString());

    // Writes the image to directory + relativeName in explicit VR little endian and records it.
    // Throws Error (naming the file) when the name is not a file ID, when the image's SOP
    // Instance UID is that of a file added before (a DICOMDIR lists an object once) or when the
    // file cannot be written, and then leaves nothing of it in the folder.
    void addImage(Image &image, const QString &relativeName);
    // Records the DICOM file that lies at directory + relativeName, of the SOP instance and in
    // the transfer syntax given (as read from the file). Throws Error as addImage() does for the
    // name and the SOP Instance UID.
    void addFile(const QString &relativeName, const QString &instanceUid, const QString &transferSyntax);
    // Writes directory/DICOMDIR of the files added. An image written here that the DICOMDIR
    // cannot take is left out, its file removed, and listed in skipped(); a file added by
    // addFile() that it cannot take is an error. Throws Error when the DICOMDIR cannot be
    // written; then the image files written here are removed too and the folder is as it was.
    void write();

    // The file IDs listed ("/" between components), in the order added.
    QStringList files() const;
    QList<Skipped> skipped() const { return m_skipped; }

private:
    struct File
    {
        QString id;
        QString transferSyntax;
        bool writtenHere = false;
    };
    QString record(const QString &relativeName, const QString &instanceUid);
    void removeWrittenFiles();

    QString m_directory;
    QString m_fileSetId;
    QList<File> m_files;
    QList<Skipped> m_skipped;
    QHash<QString, QString> m_instances; // SOP Instance UID -> file ID of its file
};

} // namespace orv::dicom
