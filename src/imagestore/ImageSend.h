#pragma once

#include "ImageRow.h"
#include "PoolWorker.h"

#include "core/DicomNodes.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

namespace orv {

namespace dicom {
class Image;
}

// What a send of the image list needs besides the node settings, taken when the operator sends.
struct SendRequest
{
    QList<ImageRow> rows;
    QString configuredServerName; // Server_Name setting, for the row file path of Saved rows
    bool overrideServerName = false;

    // The shared state's server name and override switch, for these rows.
    static SendRequest fromState(const QList<ImageRow> &rows);
};

struct SendOutcome
{
    // The node settings cannot be used (empty or non-numeric port, AE title over 16 characters,
    // address that does not resolve): nothing was logged or sent. The message says what to correct.
    QString refused;
    // "Cannot Send." followed directly by the description of the error that ended the send; the
    // rows before it were sent, later ones not attempted.
    QString failure;
    bool completed = false; // "Send Complete." was logged
    int sent = 0;           // images the archive stored (status 0 or a warning)
    int notStored = 0;      // images answered with a failure status, or whose SOP class was refused
    int unreadable = 0;     // DICOM rows whose file was missing
    bool ok() const { return refused.isEmpty() && failure.isEmpty(); }
};

// What a running send reports and asks for; called on the thread that runs it.
struct SendHooks
{
    // Each log line, in order.
    std::function<void(const QString &line)> log;
    // After each row: rows done, rows in all.
    std::function<void(int done, int total)> progress;
    // The storage archive, read at the start and again for every image; throws orv::Error when
    // the settings cannot be used. Default: dicomNodes().storagePeer().
    std::function<DicomPeer()> peer;
    // Identity stamping of a picture; default: stampIdentity with the open transaction.
    std::function<void(dicom::Image &)> stamp;
    // Asked before each row; true ends the send as an error ("The send was stopped.").
    std::function<bool()> stopped;
};

// "S&end to PACS": sends every image row of the list to the storage archive by C-STORE, one
// association per image. "Image" rows are DICOM files sent as they are; "JPG" and "BMP" rows are
// pictures converted into one reused Secondary Capture object, stamped with the open
// transaction's identity (advancing its image number) and sent; other rows are passed over.
//
// Log lines, in order: "Sending to: host | port | calling AE | called AE"; per DICOM row whose
// file is missing "Cant read/access " & path (the send goes on); per image not stored as sent a
// status line naming the file ("Store status 0xA700 for path", "Store status 0xB000 (warning)
// for path", or "Store refused for path: reason" when the archive accepts no presentation
// context for its SOP class; the send goes on); and "Send Complete." at the end. Any other error
// ends the send with "Cannot Send." followed directly by its description. A list without rows
// does nothing. The settings are checked, and the archive's address resolved, before the first
// line is logged.
class ImageSend
{
public:
    // Runs the send on the calling thread. Never throws.
    static SendOutcome send(const SendRequest &request, const SendHooks &hooks = {});
    // The status line of an image the archive answered with a status other than 0.
    static QString statusLine(const QString &path, int status);
};

// Runs a send off the calling thread (a thread of the global pool). Picture rows are stamped on
// the thread of this object (the open transaction belongs to it) while the send waits. Signals
// reach receivers in the order things happened; `finished` comes last, once.
class ImageSendWorker : public PoolWorker
{
    Q_OBJECT
public:
    explicit ImageSendWorker(QObject *parent = nullptr);
    // Stops a running send after its current image and waits for it.
    ~ImageSendWorker() override;

    // Starts a send with the node settings and the open transaction of this run; false (and
    // nothing started) while another send of this worker runs.
    bool start(const SendRequest &request);
    // Asks a running send to stop before its next row (or while it waits for stamping); it then
    // ends with "Cannot Send.The send was stopped.".
    void cancel() { m_stop = true; }

signals:
    void logLine(const QString &line);
    void progress(int done, int total);
    void finished(const orv::SendOutcome &outcome);

private:
    std::atomic_bool m_stop{false};
};

} // namespace orv

Q_DECLARE_METATYPE(orv::SendOutcome)
