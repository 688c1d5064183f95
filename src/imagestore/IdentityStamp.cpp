#include "IdentityStamp.h"

#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/dicom/DataSet.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QTime>

namespace orv {

namespace {
QString dicomDate(const QDate &d) { return d.isValid() ? d.toString(QStringLiteral("yyyyMMdd")) : QString(); }

// The registration number's issuer: the department's register beside the hospital's numbers.
QString registerIssuer(const QString &companyName) { return (companyName.trimmed() + QStringLiteral(" REGISTER")).trimmed(); }

bool otherIdNeeded(const TransactionRecord &tr)
{
    return !tr.patientId.trimmed().isEmpty() && tr.patientId.trimmed() != tr.hospNum.trimmed();
}

} // namespace

void writePatientIdentity(dicom::DataSet ds, const TransactionRecord &tr, const QString &companyName)
{
    ds.add(DCM_PatientName, tr.patientName());
    ds.add(DCM_PatientID, tr.hospNum.trimmed());
    ds.add(DCM_IssuerOfPatientID, companyName);
    ds.add(DCM_PatientBirthDate, dicomDate(tr.birthDate));
    ds.add(DCM_PatientSex, tr.gender);
    ds.remove(0x0010, 0x1000); // Other Patient IDs: a number elsewhere would be a second identity
    if (otherIdNeeded(tr)) {
        dicom::DataSet other;
        other.setLatin1(ds.text(DCM_SpecificCharacterSet) == QLatin1String("ISO_IR 100"));
        other.add(DCM_PatientID, tr.patientId.trimmed());
        other.add(DCM_IssuerOfPatientID, registerIssuer(companyName));
        other.add(DCM_TypeOfPatientID, QStringLiteral("TEXT"));
        other.remove(0x0008, 0x0005); // the object's own character set holds for its items
        ds.add(DCM_OtherPatientIDsSequence, QVariant::fromValue(QList<dicom::DataSet>{other}));
    } else {
        ds.remove(0x0010, 0x1002);
    }
}

bool carriesPatientIdentity(const dicom::DataSet &ds, const TransactionRecord &tr, const QString &companyName)
{
    const QList<dicom::DataSet> others = ds.attribute(DCM_OtherPatientIDsSequence).items;
    const bool otherMatches = otherIdNeeded(tr)
                                ? others.size() == 1 && others.first().text(DCM_PatientID) == tr.patientId.trimmed()
                                : others.isEmpty();
    return otherMatches && ds.text(DCM_PatientName) == tr.patientName() && ds.text(DCM_PatientID) == tr.hospNum.trimmed()
        && ds.text(DCM_IssuerOfPatientID) == companyName.trimmed() && ds.text(DCM_PatientBirthDate) == dicomDate(tr.birthDate)
        && ds.text(DCM_PatientSex) == tr.gender.trimmed() && ds.text(0x0010, 0x1000).isEmpty();
}

void writeExamIdentity(dicom::DataSet ds, const TransactionRecord &tr, const QString &companyName)
{
    ds.add(DCM_StudyInstanceUID, tr.studyUid);
    ds.add(DCM_ReferringPhysicianName, dicomPersonNameFromShown(tr.docName));
    writePatientIdentity(ds, tr, companyName);
    ds.add(DCM_RequestedProcedureID, tr.examId);
    ds.add(DCM_RequestedProcedureDescription, tr.examName);
    ds.add(DCM_AccessionNumber, tr.transNo);
    ds.add(DCM_StudyID, tr.transNo);
    ds.add(DCM_Modality, tr.examType);
    if (!tr.order.isEmpty()) {
        // The scheduled procedure the exam was taken from, so that the archive and the RIS match
        // the objects to the order.
        dicom::DataSet request;
        request.setLatin1(ds.text(DCM_SpecificCharacterSet) == QLatin1String("ISO_IR 100"));
        request.add(DCM_RequestedProcedureID, tr.order.requestedProcedureId);
        request.add(DCM_AccessionNumber, tr.order.accession);
        if (!tr.order.studyUid.isEmpty())
            request.add(DCM_StudyInstanceUID, tr.order.studyUid);
        request.add(DCM_RequestedProcedureDescription, tr.order.requestedProcedureDescription);
        request.add(DCM_ScheduledProcedureStepID, tr.order.scheduledStepId);
        request.remove(0x0008, 0x0005); // the object's own character set holds for its items
        ds.add(DCM_RequestAttributesSequence, QVariant::fromValue(QList<dicom::DataSet>{request}));
    }
}

void stampIdentity(dicom::Image &image, const TransactionRecord &tr, int imageNumber, const QString &companyName)
{
    // Identity properties of the image object. The toolkit image has no property of its own for
    // the exam name; it is carried by Requested Procedure Description.
    image.setSeriesUid(tr.seriesUid);
    image.setInstanceUid(dicom::newUid());

    writeExamIdentity(image.dataSet(), tr, companyName);
    image.setDescription(tr.patientName());
    image.add(DCM_SOPClassUID, QString::fromLatin1(dicom::kSecondaryCaptureClass));
    image.add(DCM_StudyDate, dicomDate(tr.transDate));
    image.add(DCM_StudyTime, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    image.add(DCM_OperatorsName, dicomPersonNameFromShown(tr.technologist));
    image.add(DCM_InstanceNumber, QString::number(imageNumber));
    image.add(DCM_SeriesNumber, QString::number(tr.seriesNumber));
}

QStringList takeValueChanges(dicom::Image &image)
{
    QStringList lines;
    for (const dicom::ValueChange &c : image.valueChanges())
        lines << c.text();
    image.clearValueChanges();
    return lines;
}

void stampIdentity(dicom::Image &image)
{
    OpenTransaction &open = openTransaction();
    const TransactionRecord record = open.record();
    const int number = open.takeImageNumbers(1);
    try {
        stampIdentity(image, record, number, state().CompanyName);
    } catch (...) {
        open.giveBackImageNumbers(number, 1);
        throw;
    }
}

} // namespace orv
