#pragma once

#include "core/ImageRow.h"
#include "core/OpenTransaction.h"
#include "core/SendQueue.h"

#include "outside/dicom/Network.h"

#include <QList>
#include <QString>

#include <functional>

namespace orv {

class JobContext;
namespace dicom {
class Image;
}

// What a send of the image list needs besides the node settings, taken when the operator sends.
struct SendRequest
{
    QList<ImageRow> rows;
    QString configuredServerName; // Server_Name setting, for the row file path of Saved rows
    bool overrideServerName = false;
    // The transaction the pictures are stamped with, the first of the image numbers taken for
    // them (one per picture row, in row order) and the company name.
    TransactionRecord transaction;
    int firstImageNumber = 1;
    QString companyName;
    // The department database the send queue is kept in.
    ConnectionConfig database;

    // The open transaction (taking one image number per picture row), the shared state's server
    // name and override switch, for these rows.
    static SendRequest fromState(const QList<ImageRow> &rows);
    // Picture rows ("JPG" and "BMP"), the rows stamped by a send.
    static int pictureRows(const QList<ImageRow> &rows);
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
    int queued = 0;         // images left in the send queue for a later attempt
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
    std::function<dicom::Peer()> peer;
    // Asked before each row; true ends the send as an error ("The send was stopped.").
    std::function<bool()> stopped;
};

// "S&end to PACS": puts every image row of the list into the send queue and delivers them to the
// storage archive by C-STORE on one association. "Image" rows are DICOM files queued as copies
// of themselves; "JPG" and "BMP" rows are pictures converted into one reused Secondary Capture
// object, stamped with the request's transaction and the next of its image numbers, and queued
// as written; video rows go through the video hook when one is set, other rows are passed over.
// What the archive could not take now (not reachable, out of resources) stays queued and is
// sent by the workstation's background sender after a back-off, also after a restart.
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
    // Runs the send on the calling thread (any thread). Never throws.
    static SendOutcome send(const SendRequest &request, const SendHooks &hooks = {});
    // The status line of an image the archive answered with a status other than 0.
    static QString statusLine(const QString &path, int status);
    // Starts the send as a job of the session for the request's transaction: log lines go to the
    // log window, a refusal to a message box; the picture numbers not used are given back. The
    // background sender is woken when it ends (for what stayed queued, and for commitment).
    static void start(const SendRequest &request);

    // Turns a row that is not an image (a video) into a DICOM file ready to send, written at the
    // path given; false when the row is not sent. Runs on the sending thread. Unset: such rows
    // are passed over.
    using VideoHook = std::function<bool(const ImageRow &row, const QString &rowPath, const TransactionRecord &transaction,
                                         const QString &destination)>;
    static void setVideoHook(VideoHook hook);
};

} // namespace orv
