#pragma once

#include "session/OpenTransaction.h"
#include "outside/dicom/Image.h"

#include <QDateTime>
#include <QImage>
#include <QSize>

#include <functional>

namespace orv {

// The frame size a resolution entry asks for: 0 x 0 for the first entry ("Default"), else the
// numbers before and after the first "x" ("720x576" -> 720 x 576).
QSize requestedSize(int index, const QString &text);

// Base name of a frame or clip: transaction number, "-", time stamp, "-", counter.
QString captureBaseName(const QString &transNo, const QString &timeStamp, int counter);

// The first base name from `baseName` on (its counter raised one at a time) whose files with the
// given suffixes do not exist in `folder`. A capture window's counter starts again at 1 when it
// is opened, so a reopened exam or a second window captures within the same second under an
// earlier picture's name: that picture must not be overwritten.
QString freeCaptureName(const QString &folder, const QString &baseName, const QStringList &suffixes);

// A new Secondary Capture object for a captured frame: the transaction's identity stamping
// (patient, study and series, accession number, `imageNumber` as Instance Number, exam, doctor
// and operator), with the moment of the capture (`at`) as Content Date and Time. The file name is
// not written as a Referenced File ID (a file name is no valid value there); the viewer's copy
// carries it as its list file name. Safe on any thread.
dicom::Image frameImage(const TransactionRecord &transaction, int imageNumber, const QString &companyName,
                        const QDateTime &at);

// Writes a captured frame's object as JPEG Extended (quality 100). A partly written file is
// removed. Throws Error.
void writeFrameObject(dicom::Image &image, const QString &dcmPath);

// A still of the still-capture windows: the transaction's identity stamping alone. Its file name is not written as Referenced
// File ID: a file name is no valid value of that attribute, and the toolkit would empty it.
// Safe on any thread.
dicom::Image stillImage(const TransactionRecord &transaction, int imageNumber, const QString &companyName);

// One frame on its way from the live picture to the disc: compressed from the buffer it was
// captured into, written once, and handed to the list and the viewer as written.
struct FrameJob
{
    // Takes the first free name from baseName on and claims its object file (created empty,
    // exclusively) so that no other capture takes it. Throws Error.
    void claimName();

    // A frame of the capture station (dated with the moment of its capture) or a still of the
    // still-capture windows (stamped by stillImage).
    enum class Kind { StationFrame, Still };
    Kind kind = Kind::StationFrame;
    QImage frame;          // the frame as it was when the capture was asked for
    QString folder;        // the capture temp folder
    QString baseName;
    // The frame's bitmap name in folder. No bitmap is written in the course of a capture:
    // nothing reads one. Only the station's maintenance trace writes it, for the trace names it.
    QString bmpPath() const;
    QString dcmPath() const; // the frame's object in folder
    TransactionRecord transaction; // the open transaction at the moment of the capture
    int imageNumber = 0;           // taken from it for this frame
    QString companyName;
    QDateTime at;
    // Filled by the writer: milliseconds spent on building the object (stamping and the JPEG
    // compression) and on writing its file, and the processor time of both.
    double objectMs = 0;
    double writeMs = 0;
    double cpuMs = 0;
};

// A new capture of the open transaction, as it stands now: in the capture temp folder, named
// after the transaction number, the present moment and `counter`. The frame and the image number
// are the caller's to fill.
FrameJob captureJob(FrameJob::Kind kind, int counter);

// Builds the frame's object (stamped, its pixels compressed from job.frame) and writes it to
// job.dcmPath(). Returns the object as written, for the viewer, with the list's file name.
// `changes`: the toolkit's report of the values it had to change, one line each. Throws Error.
dicom::Image objectStage(FrameJob &job, QStringList *changes = nullptr);

// Lists a written frame: the New row in its transaction's rows, the image in the viewer's image
// set while the transaction is open.
void listFrame(const FrameJob &job, const dicom::Image &image);

// Writes a captured frame as a job of the session for its transaction, after the frames
// submitted before it and without making the image list busy; then lists it (listFrame) and
// calls `done` on the GUI thread with an empty failure, or, when nothing could be listed, with
// the reason (`claimed` false when not even the object's file could be created).
using FrameDone = std::function<void(const FrameJob &job, bool claimed, const QString &failure)>;
void submitFrame(const FrameJob &job, FrameDone done);

} // namespace orv
