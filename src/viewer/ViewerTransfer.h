#pragma once

#include "outside/dicom/Image.h"
#include "outside/dicom/Peer.h"
#include "viewer/PaperPrint.h"

#include <QList>
#include <QString>

#include <functional>

namespace orv {

// Sending and export of the viewer's images, as background jobs of the session (one at a time
// per viewer: the viewer refuses its send and export commands while one runs). Each job works on
// copies of the images taken when it starts (memory for one more set of them), so the viewer
// keeps showing and changing the originals meanwhile. Log lines go to the log window and
// messages to the operator in the order the work produced them.
namespace ViewerTransfer {

// Runs after the job's last message, on the GUI thread.
using Done = std::function<void()>;

// C-STORE of each image in order, one association per image. With `logDescriptions` every image's
// description is logged before it is sent. A status other than 0 shows "Send failed - code "
// and the number and ends the send; an error (peer down, refused association) shows its
// description and ends it. "Send Complete." is logged after a send that raised no error.
void send(const QList<dicom::Image> &images, const dicom::Peer &peer, bool logDescriptions, Done done = {});

// Writes the image as a DICOM file with file meta information in JPEG Extended (quality 100).
// The file appears whole under its name or not at all; a failure is shown.
void saveAs(const dicom::Image &image, const QString &path, Done done = {});

// Writes the image as a picture ("BMP" or "JPG", taken from the name's last three characters)
// or, for "AVI", every frame as a video of quality 90. A failure is shown.
void exportPicture(const dicom::Image &image, const QString &path, Done done = {});

// Writes every image as directory/IMAGES/IMG<n> (explicit VR little endian, n from 1) and a
// DICOMDIR of them. Folders are created where missing and reused where present. A failure is
// shown and the files this export had written are removed.
void exportAll(const QList<dicom::Image> &images, const QString &directory, Done done = {});

// The film and its printer, as the DICOM node settings give them at the moment of printing.
struct FilmSettings
{
    dicom::Peer printer;
    QString displayFormat;  // Image Display Format, e.g. "STANDARD\2,3"
    QString orientation;    // "PORTRAIT" or "LANDSCAPE"
    QString filmSize;       // Film Size ID
    QString magnification;  // Magnification Type of the film box
};

// The film settings of the moment. Throws orv::Error when the node settings cannot be used.
FilmSettings filmSettings();

// The page header of a paper print: the open transaction's patient and exam, as the editor shows them.
PaperHeader paperHeader();

// Prints every image in order on film: one film session, the images filling the boxes of the
// chosen display format, a full film printed and the last one printed when the session closes.
// A colour image makes it a colour session (greyscale, the colour images converted, on a printer
// that offers no colour printing). An image that cannot be printed is reported and the
// others are printed; a printer that cannot be reached or fails stops the print with the reason.
// Progress counts the images placed.
void printFilm(const QList<dicom::Image> &images, const FilmSettings &film, Done done = {});

// Prints every image on paper, six to a page under the header (see printOnPaper), on a printer
// made for `target` on the job's thread. Progress counts the images placed. Images that cannot
// be decoded are named in one message after the print; a printer that cannot be started is
// shown with the reason.
void printPaper(const QList<dicom::Image> &images, const PaperHeader &header, const PaperTarget &target, Done done = {});

// The job kind the transfers run as.
QString jobKind();

} // namespace ViewerTransfer

} // namespace orv
