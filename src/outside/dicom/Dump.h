#pragma once

#include "DataSet.h"

namespace orv::dicom {

// Appends the attribute listing of `attributes` to `text`, each line starting with `prefix`:
// "(GGGG,EEEE) : " + description cut or padded to 30 + ": " + the value; pixel data as
// "Pixel data"; a sequence as "Sequence of n items:" with every item framed by separator lines
// and listed with one ">" more; multiple values on a second line after 14 blanks, joined by
// " : ", or "Array of n elements" from 33 values on. Lines end with "\n".
void dumpAttributes(QString &text, const QString &prefix, const QList<Attribute> &attributes);

// The listing of a DICOM file's data set (as of Image::fromFile(path).attributes()), read with
// the data part of the toolkit only. Throws Error naming the file and what is wrong with it.
QString dumpFile(const QString &path);

} // namespace orv::dicom
