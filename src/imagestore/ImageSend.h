#pragma once

#include "session/ImageRow.h"
#include "session/OpenTransaction.h"
#include "sendqueue/SendQueue.h"

#include "outside/dicom/Peer.h"

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
    // them (one per stamped row, in row order) and the company name.
    TransactionRecord transaction;
    int firstImageNumber = 1;
    QString companyName;
    // Video rows are sent as DICOM video objects, stamped like pictures (the SendVideos setting).
    bool sendVideos = false;
    // The department database the send queue is kept in.
    ConnectionConfig database;

    // The open transaction (taking one image number per stamped row), the shared state's server
    // name and override switch and the SendVideos setting, for these rows.
    static SendRequest fromState(const QList<ImageRow> &rows);
    // Picture rows ("JPG" and "BMP").
    static int pictureRows(const QList<ImageRow> &rows);
    // The rows a send stamps: the picture rows, and the Video rows when videos are sent.
    int stampedRows() const;
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
    int unreadable = 0;     // DICOM and Video rows whose file was missing
    int unconverted = 0;    // Video rows whose clip could not be made into a video object
    int numbersUsed = 0;    // image numbers stamped, from the request's first one
    int queued = 0;         // images left in the send queue for a later attempt
    bool ok() const { return refused.isEmpty() && failure.isEmpty(); }
};

// What a running send reports and asks for; called on the thread that runs it.
struct SendHooks
{
    // Each log line, in order.
    std::function<void(const QString &line)> log;
    // After each row: rows done, rows in all; while a clip is converted, hundredths of rows
    // (done * 100 + percent of the clip, total * 100).
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
// as written; "Video" rows, when the request sends videos, are transcoded into a DICOM video
// object (writeVideoObjectFile) stamped the same way; other rows are passed over. Numbers go to
// the objects stamped, in row order, without gaps. What the archive could not take now (not
// reachable, out of resources) stays queued and is sent by the workstation's background sender
// after a back-off, also after a restart.
//
// Log lines, in order: "Sending to: host | port | calling AE | called AE"; per DICOM row whose
// or clip is missing "Cant read/access " & path (the send goes on); per clip that cannot be
// converted the reason, naming the clip (the send goes on); per image not stored as sent a
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
};

} // namespace orv
