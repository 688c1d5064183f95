#include "DerivedObject.h"

#include "Toolkit.h"

#include <dcmtk/dcmdata/dcdeftag.h>

namespace orv::dicom {

void putText(DcmItem *ds, const DcmTagKey &key, const QString &value, const QString &what)
{
    check(ds->putAndInsertString(key, value.toUtf8().constData()), what);
}

void completeDerivedObject(DcmItem *ds, const QString &sopClass, const QDateTime &made, const QList<DcmTagKey> &more,
                           const QString &what)
{
    putText(ds, DCM_SOPClassUID, sopClass, what);
    for (const DcmTagKey &k : {DCM_SOPInstanceUID, DCM_StudyInstanceUID, DCM_SeriesInstanceUID}) {
        OFString v;
        if (ds->findAndGetOFStringArray(k, v).bad() || v.empty())
            putText(ds, k, newUid(), what);
    }
    QList<DcmTagKey> present{DCM_PatientName, DCM_PatientID, DCM_PatientBirthDate, DCM_PatientSex, DCM_StudyDate,
                             DCM_StudyTime, DCM_ReferringPhysicianName, DCM_StudyID, DCM_AccessionNumber, DCM_SeriesNumber,
                             DCM_InstanceNumber, DCM_Manufacturer};
    present << more;
    for (const DcmTagKey &k : std::as_const(present))
        if (!ds->tagExists(k))
            putText(ds, k, QString(), what);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime at = made.isValid() ? made : now;
    putText(ds, DCM_InstanceCreationDate, now.toString(QStringLiteral("yyyyMMdd")), what);
    putText(ds, DCM_InstanceCreationTime, now.toString(QStringLiteral("HHmmss")), what);
    putText(ds, DCM_ContentDate, at.toString(QStringLiteral("yyyyMMdd")), what);
    putText(ds, DCM_ContentTime, at.toString(QStringLiteral("HHmmss")), what);
    putText(ds, DCM_AcquisitionDateTime, at.toString(QStringLiteral("yyyyMMddHHmmss")), what);
}

} // namespace orv::dicom
