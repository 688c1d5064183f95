#pragma once

#include "DataSet.h"

#include <memory>

class DcmFileFormat;

namespace orv::dicom {

// Reads a DICOM file (a PS3.10 file, or a bare data set) wholly into memory. Throws Error
// naming the file and what is wrong: missing, a folder, unreadable, empty, not DICOM, damaged.
// Needs only the data part of the toolkit (no codecs, network or imaging libraries).
std::shared_ptr<DcmFileFormat> readDicomFile(const QString &path);

// The data set of a file read so, Latin-1 when its Specific Character Set says "ISO_IR 100".
DataSet dataSetOf(const std::shared_ptr<DcmFileFormat> &file, std::shared_ptr<ValueChanges> changes = nullptr);

} // namespace orv::dicom
