#pragma once

#include "Image.h"

#include <QStringList>

namespace orv::dicom {

// Builds a DICOMDIR (general-purpose CD profile) for a directory: images are added under a
// relative file name ("IMAGES\IMG1", "\" or "/" as separator); each image file is written in
// explicit VR little endian when the image is added, the DICOMDIR when write() is called.
class DicomDirWriter
{
public:
    // `directory` is created when missing.
    explicit DicomDirWriter(const QString &directory);

    // Writes the image to directory + relativeName and records it. The name must be relative,
    // made of at most eight components of upper-case letters, digits and "_" (at most 8
    // characters each), without ".."; throws Error otherwise or when the file cannot be written.
    void addImage(Image &image, const QString &relativeName);
    // Writes directory/DICOMDIR. Throws Error.
    void write();

    QStringList files() const { return m_files; }

private:
    QString m_directory;
    QStringList m_files;
};

} // namespace orv::dicom
