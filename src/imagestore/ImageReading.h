#pragma once

#include "outside/dicom/Image.h"

#include <QList>
#include <QMetaType>
#include <QString>


namespace orv {

// One file to be read into an image object off the GUI thread.
struct ReadJob
{
    enum class Kind {
        Dicom,  // a DICOM file, read as it is
        Picture // a picture imported with `format` as the format name; its list file name is `fileName`
    };
    Kind kind = Kind::Dicom;
    QString path;     // the path as the list composes it ("\" allowed)
    QString format;   // Picture: the format name ("JPG", "BMP")
    QString fileName; // Picture: the list's FileName
};

struct ReadResult
{
    int index = 0;       // position of the job (0-based)
    QString path;        // the job's path
    dicom::Image image;  // valid when error is empty
    QString error;       // why the file could not be read; empty on success
    bool missing = false; // the file does not exist (error holds the reason)
};

// The DICOM files of a folder that an import takes: names ending ".dcm" in any case, not in
// sub-folders, in name order. Throws Error when the folder cannot be listed.
QStringList dicomFilesOf(const QString &folder);

// Reads one job on the calling thread; never throws.
ReadResult readJob(const ReadJob &job, int index);

} // namespace orv
