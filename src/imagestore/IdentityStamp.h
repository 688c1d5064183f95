#pragma once

#include <QString>

namespace orv {

class OpenTransaction;
namespace dicom {
class Image;
}

// Identity stamping: writes the open transaction's study and series identity, a new SOP
// instance UID, the patient, exam, referring doctor and operator, and the numbering into an
// image object, and advances the transaction's image number by one (its numeric value + 1, as
// text); the image's Instance Number is the advanced number. Values are read at the moment of
// the call. A date or sex that its attribute cannot hold is written empty, so that the object
// stays valid. Throws orv::Error when the toolkit refuses a value; the image number is then
// left as it was.
void stampIdentity(dicom::Image &image, OpenTransaction &transaction, const QString &companyName);
// The same with the open transaction and the company name of this run.
void stampIdentity(dicom::Image &image);

// The numeric value of a text as the editor counts it: its leading digits (after blanks), 0
// when there are none.
int numericValue(const QString &text);

} // namespace orv
