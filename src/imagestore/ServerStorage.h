#pragma once

#include "session/ImageRow.h"

#include "outside/Connection.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace orv {

// What a save of the image list needs, taken at the moment the operator saves.
struct SaveRequest
{
    QString transNo;      // the open transaction's number
    QString serverName;   // Server_Name setting (a path prefix: folder, share root, drive)
    QString serverFolder; // Server_Folder setting
    QString modalityCode; // AcquireModalityCode setting
    QString userId;       // the logged-in user's UserID
    QString computerName;
    QDateTime when;       // the moment of the save: names the year and day folders
    QList<ImageRow> rows; // the list's rows; only New rows are saved
    quint64 rowsMark = 0; // the rows model's mark when the rows were taken
    int groupFiles = 64;  // at most this many rows are stored and recorded together (see save)

    // The open transaction, the shared state and this computer, now, for these rows.
    static SaveRequest fromState(const QList<ImageRow> &rows);
};

// The folders of a save, with "\" between components as they are stored: `absolute` is
// Server_Name\Server_Folder\modality\yyyy\yyyy-mm-dd\transaction, `relative` the part below
// Server_Name\Server_Folder\modality, `levels` the four folders created one after the other.
struct StorageFolders
{
    QString base;
    QString absolute;
    QString relative;
    QStringList levels;
};
StorageFolders storageFolders(const SaveRequest &request);

struct SaveOutcome
{
    // One message per folder level that could not be created: the reason & ". Check " & folder.
    QStringList folderMessages;
    // Empty when every New row was saved, else "Cannot write to server. Check permissions."
    // followed directly by the reason; the rows after the failing one were not attempted.
    QString failure;
    int newRows = 0;         // New rows in the request
    int copied = 0;          // files copied to the server by this save
    int recorded = 0;        // records inserted by this save
    int alreadyStored = 0;   // rows whose file and record were already on the server
    bool ok() const { return failure.isEmpty(); }
};

// Observers of a running save; called on the thread that runs it.
struct SaveObserver
{
    std::function<void(const QString &message)> folderProblem;
    // After each New row: rows done, New rows in all, the row's file name.
    std::function<void(int done, int total, const QString &fileName)> progress;
    // Asked before each row; true ends the save there (the rows before it keep what they reached).
    std::function<bool()> stopped;
};

// Server storage: files every New row of the list into the transaction's storage folder and
// records it in pacs..tblFile.
//
// Each file is copied under a hidden name of this workstation in the storage folder
// (".name.computer.part"), flushed to disk and then renamed to its own name, and the rename is
// flushed before the record is inserted; so a file on the server under its own name is always
// whole, and a record is never written before its file. A hidden file left by a killed save is
// overwritten by the next save of that file from the same workstation. A file already there with the same size and content is not copied again; one with
// the same name and other content is never replaced (the save stops and says so).
//
// A save may be run again after a failure or a crash and completes the rest without
// duplicating records: a row counts as already recorded when tblFile holds a record of this
// transaction, server and server folder with the row's file name whose file on the server has
// the same size and content as the row's file (whatever day folder it was saved in), or a record
// for the very file this save would write. So one server file has one record, and two New rows
// standing for the same file (two imports of a.dcm) give one record.
//
// File names from the list and relative folders from the database that hold "..", a separator
// (in a folder: other than "\" between components) or an absolute form are refused.
class ServerStorage
{
public:
    // Runs the save on the calling thread, which must own `db`. Never throws: failures are in
    // the outcome.
    static SaveOutcome save(Connection &db, const SaveRequest &request, const SaveObserver &observer = {});

    // Runs the save as a job of the session for the request's transaction, on a database
    // connection of its own opened from `config` (a connection belongs to the thread that opened
    // it). A transaction no longer in tblTransaction (deleted on another workstation) saves
    // nothing and fails with the reason. Folder problems and the failure are shown in message boxes; on success the
    // transaction's rows are reloaded from tblFile (keeping the New rows added while it ran) and
    // "Done." is logged, whether or not the transaction is still open in the editor.
    static void start(const ConnectionConfig &config, const SaveRequest &request);

    // The text that starts every failure of the rows.
    static QString failurePrefix() { return QStringLiteral("Cannot write to server. Check permissions."); }
};

} // namespace orv
