#pragma once

#include "outside/dicom/Image.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QThreadPool>

namespace orv {

class OpenTransaction;

// The patient and study values a captured frame carries, read from the open transaction at the
// moment of the capture.
struct FrameIdentity
{
    QString patientName; // Last^First^Middle
    QString patientId;
    QString issuer;      // the company name
    QString birthDate;   // as the editor shows it
    QString sex;
    QString transNo;

    static FrameIdentity from(const OpenTransaction &transaction, const QString &companyName);
};

// The frame size a resolution entry asks for: 0 x 0 for the first entry ("Default"), else the
// numbers before and after the first "x" ("720x576" -> 720 x 576).
QSize requestedSize(int index, const QString &text);

// Base name of a frame or clip: transaction number, "-", time stamp, "-", counter.
QString captureBaseName(const QString &transNo, const QString &timeStamp, int counter);

// A new Secondary Capture object with the ten attributes of a captured frame, in their order:
// patient name, ID, issuer, birth date, sex, study ID, SOP class, study date and time (`at`),
// Referenced File ID (base name + ".dcm"). A birth date or sex that its attribute cannot hold is
// written empty, so that the object stays valid.
dicom::Image frameImage(const FrameIdentity &identity, const QString &baseName, const QDateTime &at);

// Writes a captured frame's object as JPEG Extended (quality 100). A partly written file is
// removed. Throws Error.
void writeFrameObject(dicom::Image &image, const QString &dcmPath);

// One frame on its way from the live picture to the disc.
struct FrameJob
{
    QImage frame;          // the frame as it was when the capture was asked for
    QString folder;        // the capture temp folder
    QString baseName;
    QString bmpPath;
    QString dcmPath;
    FrameIdentity identity;
    QDateTime at;
    // Filled by the writer: milliseconds spent on the bitmap and on the DICOM object, and the
    // processor time of both (wall time minus what other threads and processes took).
    double bitmapMs = 0;
    double objectMs = 0;
    double cpuMs = 0;
};

// Writes captured frames off the GUI thread, one after the other in the order submitted: the
// bitmap, then the DICOM object built from it. Each job ends with exactly one of stored() or
// failed(), delivered on the writer's thread (the GUI thread).
class FrameWriter : public QObject
{
    Q_OBJECT
public:
    explicit FrameWriter(QObject *parent = nullptr);
    ~FrameWriter() override; // waits for the job being written

    void submit(const FrameJob &job);
    int pending() const { return m_pending; }

    // The two stages, also run one by one on the GUI thread (maintenance mode traces them).
    // The object stage returns the image for the viewer: the object as written, read back
    // (its JPEG pixels stay compressed until shown, a fraction of the frame's memory), with
    // its Referenced File ID.
    static void writeBitmapStage(const FrameJob &job);
    static dicom::Image objectStage(const FrameJob &job);
    static dicom::Image viewerImage(const FrameJob &job);

signals:
    void stored(const orv::FrameJob &job, const orv::dicom::Image &image);
    // bitmapWritten: false when even the bitmap could not be written.
    void failed(const orv::FrameJob &job, bool bitmapWritten, const QString &description);
    void idle();

private:
    QThreadPool m_pool;
    int m_pending = 0;
};

} // namespace orv
