#pragma once

#include "Image.h"

#include <QHash>
#include <QStringList>

namespace orv::dicom {

// Builds a DICOMDIR (general-purpose CD profile) for a directory: images are added under a
// relative file name ("IMAGES\IMG1", "\" or "/" as separator); each image file is written in
// explicit VR little endian when the image is added, the DICOMDIR when write() is called.
// An image that cannot be exported is skipped with its reason and the rest still make a
// DICOMDIR: no file of a failed image stays behind, and every file (images and DICOMDIR) is
// written under a temporary name and moved into place, so the folder never holds half a file.
class DicomDirWriter
{
public:
    struct Skipped
    {
        QString relativeName;
        QString reason;
    };

    // `directory` is created when missing. `fileSetId` names the file-set (made fit for a
    // File-set ID as fileSetIdOf() does; empty: "ORVALINE").
    explicit DicomDirWriter(const QString &directory, const QString &fileSetId = QString());

    // Writes the image to directory + relativeName and records it. The name must be relative,
    // made of at most eight components of upper-case letters, digits and "_" (at most 8
    // characters each), without ".."; throws Error (naming the file) otherwise, when the image's
    // SOP Instance UID is that of an image added before (a DICOMDIR lists an object once) or
    // when the file cannot be written, and then leaves nothing of it in the folder.
    void addImage(Image &image, const QString &relativeName);
    // Writes directory/DICOMDIR of the images added. An image the DICOMDIR cannot take is left
    // out, its file removed, and listed in skipped(). Throws Error when the DICOMDIR cannot be
    // written; then the image files added are removed too and the folder is as it was.
    void write();

    QStringList files() const { return m_files; }
    QList<Skipped> skipped() const { return m_skipped; }

private:
    QString m_directory;
    QString m_fileSetId;
    QStringList m_files;
    QList<Skipped> m_skipped;
    QHash<QString, QString> m_instances; // SOP Instance UID -> relative name of its file
};

} // namespace orv::dicom
