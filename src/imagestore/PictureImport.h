#pragma once

#include "session/ImageRow.h"

#include <QString>

namespace orv {

namespace dicom {
class Image;
}

// A picture path split as the import names its result: the folder before the last separator
// ("\" or "/"), the file name after it, the base name before the file name's first "." and the
// extension after it (as typed; "y.jpg" for "x.y.jpg"; empty when the name has no ".").
struct PicturePathParts
{
    QString folder;
    QString fileName;
    QString baseName;
    QString extension;
};
PicturePathParts splitPicturePath(const QString &path);

// Import non-DICOM: stamps a new image object with the open transaction's identity (advancing
// its image number), imports the picture (BMP, DIB, JPEG, PNG or AVI) with the extension as the
// format name, and writes it with file meta information as base name & ".dcm" into
// `tempFolder`, replacing a file of that name. Returns the New row ("Image", "localtemp", the
// temporary folder as file dir) and, through `image` when given, the object for the viewer's
// image set. Throws orv::Error with the reason when the picture cannot be read or the file
// cannot be written; then no file is written or replaced and the image number is left as it was.
ImageRow importNonDicom(const QString &picturePath, const QString &tempFolder, dicom::Image *image = nullptr);

// The part of Import non-DICOM after stamping, safe on any thread: imports the picture into the
// already stamped `image` and writes it into `tempFolder` as importNonDicom does. Throws
// orv::Error with the reason; then no file is written or replaced.
ImageRow writeStampedPicture(dicom::Image &image, const QString &picturePath, const QString &tempFolder);

} // namespace orv
