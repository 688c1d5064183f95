#pragma once

#include <QString>
#include <QStringList>

namespace orv {

struct TransactionRecord;
namespace dicom {
class Image;
class DataSet;
}

// The exam's patient as every object of the exam carries it, taken from the transaction here
// and nowhere else: Patient ID is the hospital number (the number the worklist and the archive
// know), Issuer of Patient ID the company name; the department's registration number, where it
// differs, goes into Other Patient IDs Sequence; the name in DICOM form ("LAST^FIRST^MIDDLE"),
// birth date and sex. Writes into `dataSet` (an image's data set writes into the image).
void writePatientIdentity(dicom::DataSet dataSet, const TransactionRecord &transaction, const QString &companyName);
// True when `dataSet` already carries the exam's patient as writePatientIdentity() writes it.
bool carriesPatientIdentity(const dicom::DataSet &dataSet, const TransactionRecord &transaction, const QString &companyName);

// The exam's identity every object of the exam carries, written into `dataSet`: the patient
// (writePatientIdentity), Study Instance UID, referring doctor, the exam as requested procedure,
// the transaction number as Accession Number and Study ID, the modality, and the worklist order
// as Request Attributes Sequence when the exam came from the worklist.
void writeExamIdentity(dicom::DataSet dataSet, const TransactionRecord &transaction, const QString &companyName);

// Identity stamping: writes a transaction's study and series identity, a new SOP instance UID,
// the patient (writePatientIdentity), exam, referring doctor and operator (names in DICOM form),
// the exam's date as Study Date, and the numbering into an image object;
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
