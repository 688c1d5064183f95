#include "EncapsulatedDocument.h"

#include "DerivedObject.h"
#include "Image.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcvrobow.h>

#include <QFile>

namespace orv::dicom {

namespace {

void put(DcmItem *ds, const DcmTagKey &key, const QString &value)
{
    putText(ds, key, value, QStringLiteral("Cannot set a document attribute"));
}

} // namespace

ValueChanges writeEncapsulatedPdf(Image &image, const PdfDocument &document, const QString &path)
{
    if (!document.pdf.startsWith("%PDF-"))
        fail(QStringLiteral("The report is not a PDF document; %1 is not written.").arg(path));
    DcmDataset *ds = image.fileFormat()->getDataset();

    // What a picture carries but a document has no module for.
    for (const DcmTagKey &k : {DCM_PixelData, DCM_Rows, DCM_Columns, DCM_SamplesPerPixel, DCM_PhotometricInterpretation,
                               DCM_BitsAllocated, DCM_BitsStored, DCM_HighBit, DCM_PixelRepresentation, DCM_PlanarConfiguration,
                               DCM_NumberOfFrames, DCM_PatientOrientation, DCM_Laterality, DCM_OperatorsName,
                               DCM_DateOfSecondaryCapture, DCM_TimeOfSecondaryCapture})
        ds->findAndDeleteElement(k);

    completeDerivedObject(ds, QString::fromLatin1(kEncapsulatedPdfClass), document.made, {}, QStringLiteral("Cannot set a document attribute"));
    put(ds, DCM_Modality, QStringLiteral("DOC"));
    put(ds, DCM_ConversionType, QStringLiteral("WSD"));

    if (!document.readingPhysician.isEmpty())
        image.add(DCM_NameOfPhysiciansReadingStudy, document.readingPhysician);
    image.add(DCM_DocumentTitle, document.title);
    put(ds, DCM_BurnedInAnnotation, QStringLiteral("YES"));
    if (!ds->tagExists(DCM_ConceptNameCodeSequence))
        check(ds->insertEmptyElement(DCM_ConceptNameCodeSequence), QStringLiteral("Cannot set a document attribute"));
    ds->findAndDeleteElement(DCM_SourceInstanceSequence);
    if (!document.replaces.isEmpty()) {
        DcmItem *source = nullptr;
        check(ds->findOrCreateSequenceItem(DCM_SourceInstanceSequence, source, 0), QStringLiteral("Cannot set a document attribute"));
        put(source, DCM_ReferencedSOPClassUID, QString::fromLatin1(kEncapsulatedPdfClass));
        put(source, DCM_ReferencedSOPInstanceUID, document.replaces);
    }
    put(ds, DCM_MIMETypeOfEncapsulatedDocument, QStringLiteral("application/pdf"));
    check(ds->putAndInsertUint32(DCM_EncapsulatedDocumentLength, Uint32(document.pdf.size())),
          QStringLiteral("Cannot set a document attribute"));
    // An OB value has even length: a PDF of odd length is padded with one zero byte.
    QByteArray bytes = document.pdf;
    if (bytes.size() & 1)
        bytes.append('\0');
    try {
        check(ds->putAndInsertUint8Array(DCM_EncapsulatedDocument, reinterpret_cast<const Uint8 *>(bytes.constData()),
                                         Uint32(bytes.size())),
              QStringLiteral("Cannot set the encapsulated document"));

        image.dataSet().conform();
        const QString part = path + QStringLiteral(".part");
        const QByteArray file = QFile::encodeName(part);
        QFile::remove(part);
        check(image.fileFormat()->saveFile(OFFilename(file.constData()), EXS_LittleEndianExplicit, EET_ExplicitLength, EGL_recalcGL),
              QStringLiteral("Cannot write %1").arg(path));
        QFile::remove(path);
        if (!QFile::rename(part, path)) {
            QFile::remove(part);
            fail(QStringLiteral("Cannot write %1.").arg(path));
        }
    } catch (const std::bad_alloc &) {
        fail(QStringLiteral("Not enough memory to write %1.").arg(path));
    }
    return image.valueChanges();
}

} // namespace orv::dicom
