#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace orv::dicom {

// What a disc index shows of one file, read without its pixel data.
struct FileSummary
{
    bool isDicom = false;   // a PS3.10 file (preamble, "DICM", meta information) the toolkit reads
    QString reason;         // why it is not, when it is not
    QString patientName, patientId, birthDate, sex;
    QString studyUid, studyDate, studyDescription, accession;
    QString seriesUid, seriesNumber, modality;
    QString instanceUid, instanceNumber, sopClassUid, transferSyntax;
};

FileSummary summarizeFile(const QString &path);

// A File-set ID as a DICOMDIR takes it: upper-case letters, digits, blanks and "_", at most 16.
QString fileSetIdOf(const QString &text);

// Writes `directory`/DICOMDIR referencing files that already lie in `directory` under their
// DICOM file IDs (relative, "/" between at most eight components of at most eight upper-case
// letters, digits or "_"); no referenced file is rewritten, so a disc can carry one copy of
// each. The profile is the general-purpose CD profile (STD-GEN-CD) when every file is in explicit
// VR little endian, else the general-purpose DVD JPEG profile (STD-GEN-DVD-JPEG); a file in
// another transfer syntax is still referenced. Throws Error when a file cannot be referenced.
// `transferSyntaxes`, when given, are those of the files in the order of `fileIds` (as
// summarizeFile read them), so that the files are not read an extra time to choose the profile.
// A DICOMDIR that cannot be written whole is removed.
void writeDicomDirFor(const QString &directory, const QStringList &fileIds, const QString &fileSetId,
                      const QStringList &transferSyntaxes = {});

// Reads back a DICOMDIR just written and throws Error unless it is whole and references `files`
// files: the toolkit does not notice every failed write (a full disc leaves a short file).
void checkWrittenDicomDir(const QString &path, int files);

} // namespace orv::dicom
