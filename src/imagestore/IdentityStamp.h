#pragma once

#include <QString>
#include <QStringList>

namespace orv {

struct TransactionRecord;
namespace dicom {
class Image;
}

// Identity stamping: writes a transaction's study and series identity, a new SOP instance UID,
// the patient, exam, referring doctor and operator, and the numbering into an image object;
// `imageNumber` is its Instance Number (the caller has taken it from the open transaction, so
// that the numbers of a series are consecutive in the order the pictures were stamped). A date
// that is not one is written empty; the toolkit conforms the other values to their VRs and keeps
// a report of what it changed (takeValueChanges). Safe
// on any thread. Throws orv::Error when the toolkit refuses a value.
void stampIdentity(dicom::Image &image, const TransactionRecord &transaction, int imageNumber,
                   const QString &companyName);
// The toolkit's report of the values it changed in `image` so that the object stays valid, one
// line each for the log window; the report is emptied.
QStringList takeValueChanges(dicom::Image &image);
// Stamping with the open transaction of this run, taking its next image number (GUI thread);
// the number is given back when the toolkit refuses a value.
void stampIdentity(dicom::Image &image);

} // namespace orv
