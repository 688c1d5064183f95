#pragma once

#include "session/ImageRow.h"
#include "outside/burn/Burner.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace orv {

// Disc burning without windows: the staging folders, the staging job of "CD Write",
// the files of a staging folder as an ISO track and the portable-disc files (IHE PDI) added to it.
namespace DiscBurning {

// The staging root: "C:\burntemp" on Windows, <per-user data folder>/burntemp elsewhere.
QString stagingRoot();
// The staging folder of a transaction with a trailing separator; "" (and `why` set) when the
// transaction number cannot name a folder (empty, "..", a separator, a drive).
QString stagingFolder(const QString &transNo, QString *why = nullptr);

// Deletes the staging root with everything in it (nothing happens when it does not exist). The
// root is renamed at once, so that the next staging starts afresh, and deleted on a thread of the
// pool; what a run left half-deleted goes too.
void removeStagingRoot();

// What "CD Write" hands the burning window.
struct Staged
{
    QString folder;   // valDirPath
    QString studyId;  // valStudyID: the transaction number
};

// "CD Write" (BurnCD2): copies the file of every row of the transaction into its staging folder
// (overwriting, creating the folders) as a job of the session; then runs `then` with what was
// staged on the GUI thread. A copy that fails stops the staging with a message and `then` does
// not run. Files are never written outside the staging folder: a row's file name holding a
// separator, ".." or a drive is refused with a message. On Windows the video codec installer
// "Xvid.exe" beside the program is copied too when it is there; elsewhere there is none.
// False when work of the transaction runs.
bool stage(const QString &transNo, const QList<ImageRow> &rows, std::function<void(const Staged &)> then);

// The files of a staging folder (files only, no sub-folders), in name order.
QStringList filesOf(const QString &folder);

// The ISO track of a staging folder as the burning window builds it: one file entry per file of
// the folder at the root under its own name, the volume named after `studyId`, the application
// "VelMor_PACS", options 9. With `portable` the burn first adds the portable-disc files.
burn::IsoTrack trackFor(const QString &folder, const QString &studyId, bool portable);

// The setting that adds the portable-disc files (application VelmorOrvaline, section Burn, key
// PortableDisc, default 1).
bool portableDiscEnabled();

// Adds to `track` what makes the disc readable by any DICOM viewer (IHE Portable Data for
// Imaging): a DICOMDIR referencing every DICOM file of the root under a file ID IMAGES/IMGnnnnn
// (the same bytes as the root file, stored once), README.TXT and INDEX.HTM (patient, study,
// images). The generated files are written into a new folder of the staging root. Returns false
// only when nothing can be written there; a DICOMDIR that cannot be made leaves the disc without
// the portable files, with log lines saying why.
bool addPortableFiles(burn::IsoTrack &track, const QString &workRoot, const std::function<void(const QString &)> &log);

} // namespace DiscBurning

} // namespace orv
