#pragma once

#include "ValueChange.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace orv::dicom {

class Image;

inline constexpr const char *kEncapsulatedPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";

// A PDF document as an Encapsulated PDF object holds it.
struct PdfDocument
{
    QByteArray pdf;           // the whole file, starting "%PDF-"
    QString title;            // Document Title
    QString readingPhysician; // Name of Physician(s) Reading Study, in DICOM form; "" when unknown
    // The SOP Instance UID of the Encapsulated PDF object this one replaces (a former version of
    // the same document), named in Source Instance Sequence; "" for a first version.
    QString replaces;
    QDateTime made; // Content Date and Time; the current time when invalid
};

// Turns `image`, which holds the identity its caller stamped (patient, study, series, instance
// number), into an Encapsulated PDF object holding `document`, and writes it as a PS3.10 file in
// explicit VR little endian; the file appears under its name only once whole. Sets the class and
// what the object's modules require and nobody set (Modality "DOC", Conversion Type "WSD",
// Burned In Annotation "YES": a report names its patient; an empty Concept Name Code Sequence,
// the MIME type and the document's length), drops what a picture carries but a document has no
// module for (pixel description, Secondary Capture and series attributes of images), and conforms
// every value. Returns the value changes. Throws Error when the bytes are not a PDF or the file
// cannot be written.
ValueChanges writeEncapsulatedPdf(Image &image, const PdfDocument &document, const QString &path);

} // namespace orv::dicom
