#pragma once

#include "session/ImageRow.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace orv {

// The New files of a transaction still waiting in the temporary folder (not among the `listed`
// file names), oldest first: its clips by their capture name, its pictures by the Study Instance
// UID they carry. Reads file headers: not on the GUI thread.
QList<ImageRow> waitingFiles(const QString &tempFolder, const QString &transNo, const QString &studyUid,
                             const QSet<QString> &listed);

// The image list's commands, as the list window calls them. Each acts on the open transaction as
// it is at the moment of the call: its number, its rows in the session and its identity. Long
// work runs as a job of the session for that transaction and delivers its rows there (and,
// while the transaction is open, its images to the viewer's image set), whatever the editor
// shows by the time it ends. A command refused because work of the transaction is running
// returns false.
class ImageListActions
{
public:
    // Rebuilds the transaction's rows from tblFile ("Problem loading. " and the reason in a
    // message box on failure, the rows listed before it kept). While work of the transaction
    // runs, the reload follows its end. For the open transaction, the files it left unsaved in
    // the temporary folder are listed again as New rows (listWaitingFiles).
    static void loadImages(const QString &transNo);
    // Lists, in the background, the waitingFiles() of a transaction that its rows do not hold.
    static void listWaitingFiles(const QString &transNo, const QString &studyUid);

    // Import non-DICOM: stamps a new object with the open transaction (taking its next image
    // number), converts and writes the picture into the temporary folder off the GUI thread,
    // lists the New row and adds the object to the viewer's image set, then runs `shown`.
    static bool importPicture(const QString &path, std::function<void()> shown = {});
    // The same for several pictures in one job, in the order given, numbered one after the
    // other. A picture that cannot be imported is named in one message at the end and takes no
    // number; the others are imported. `shown` runs once, when at least one was imported.
    static bool importPictures(const QStringList &paths, std::function<void()> shown = {});
    // Import DICOM file: reads the file off the GUI thread, lists it where it lies.
    static bool importDicomFile(const QString &path);
    // Import Folder: every DICOM file of the folder, in name order, until the first one that
    // cannot be read; progress lines through the session's import log.
    static bool importFolder(const QString &folder);
    // Reads every image row of the open transaction into the viewer's image set, then runs `then`.
    static bool fillViewer(std::function<void()> then);
    // Deletes the file of row `index` (0-based) of the open transaction when it is one the
    // workstation made, its record when Saved, its image from the viewer's image set, and the row.
    static bool deleteRow(int index);
    static bool save();
    static bool send();
};

} // namespace orv
