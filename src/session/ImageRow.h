#pragma once

#include "core/SafeNames.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace orv {

class Connection;

// One row of a transaction's image list: a file stored on the image server ("Saved", listed
// from tblFile) or a file added since the list was loaded ("New", server "localtemp").
struct ImageRow
{
    QString status;       // "New" or "Saved"
    QString type;         // "Image", "Video" or a stored file's extension
    QString fileName;     // name with extension, no folder
    QString server;       // server_name of the record; "localtemp" for a New row
    QString serverFolder; // server_folder of the record; empty for a New row
    QString fileId;       // file_id of the record; empty for a New row
    QString fileDir;      // relative folder of the record; the local folder of a New row

    // The seven cells in grid column order: status, type, file name, server, folder server,
    // file id, file dir.
    QStringList cells() const { return {status, type, fileName, server, serverFolder, fileId, fileDir}; }

    // A row built from the argument order of the list's add-row operation.
    static ImageRow make(const QString &status, const QString &type, const QString &serverName,
                         const QString &serverFolder, const QString &fileDir, const QString &fileName,
                         const QString &fileId);

    bool operator==(const ImageRow &) const = default;
};

inline const QString kStatusNew = QStringLiteral("New");
inline const QString kStatusSaved = QStringLiteral("Saved");
inline const QString kLocalTemp = QStringLiteral("localtemp");

// The full path of the file a row stands for, with "\" as the separator, as the list builds it:
// a New row's FileDir\FileName; a Saved row's Server\Folder Server\FileDir\FileName, with the
// configured server name in place of the recorded one when `overrideServerName` is set; "" for
// any other status. No separator is removed.
QString rowFilePath(const ImageRow &row, const QString &configuredServerName, bool overrideServerName);

// This run's switch that reads Saved rows from the configured server name instead of the one
// recorded (the setting chkOverrideImgPath is 1).
bool overridesServerName();
// The full path of a row's file as the workstation reaches it now: rowFilePath with this run's
// server name and switch, in the form of this platform.
QString rowPathNow(const ImageRow &row);

// A path named with "\" (as stored and composed by the workstation) in the form the file system
// of this platform takes: on Linux every "\" becomes "/".
QString nativePath(const QString &path);

// The Type of a stored file name: everything after its first "."; "Image" for exactly "dcm",
// "Video" for exactly "avi" (case-sensitive).
QString storedFileType(const QString &fileName);


// The rows of a transaction's stored files, in the database's order, as Saved rows.
QList<ImageRow> LoadImages(Connection &db, const QString &transNo);

} // namespace orv
