#pragma once

#include <QString>

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

// Reads the file at `path` up to its pixel data.
FileSummary summarizeFile(const QString &path);

} // namespace orv::dicom
