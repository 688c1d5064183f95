#include "FileSummary.h"

#include "InputLimits.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>

#include <QFile>

namespace orv::dicom {

namespace {

QString text(DcmItem *item, const DcmTagKey &tag)
{
    OFString v;
    if (item && item->findAndGetOFStringArray(tag, v).good())
        return QString::fromUtf8(v.c_str()).trimmed();
    return {};
}

bool hasPreamble(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(128))
        return false;
    return f.read(4) == "DICM";
}

} // namespace

FileSummary summarizeFile(const QString &path)
{
    initialise();
    FileSummary s;
    if (!hasPreamble(path)) {
        s.reason = QStringLiteral("not a DICOM file (no DICM preamble)");
        return s;
    }
    try {
        requireSaneNesting(path);
    } catch (const Error &e) {
        s.reason = e.description();
        return s;
    }
    DcmFileFormat file;
    const QByteArray p = QFile::encodeName(path);
    const OFCondition cond = file.loadFileUntilTag(OFFilename(p.constData()), EXS_Unknown, EGL_noChange,
                                                   DCM_MaxReadLength, ERM_fileOnly, DCM_PixelData);
    if (cond.bad()) {
        s.reason = QString::fromLatin1(cond.text());
        return s;
    }
    DcmDataset *ds = file.getDataset();
    DcmMetaInfo *meta = file.getMetaInfo();
    s.transferSyntax = text(meta, DCM_TransferSyntaxUID);
    s.sopClassUid = text(ds, DCM_SOPClassUID);
    s.instanceUid = text(ds, DCM_SOPInstanceUID);
    if (s.sopClassUid.isEmpty() || s.instanceUid.isEmpty()) {
        s.reason = QStringLiteral("no SOP class or instance UID");
        return s;
    }
    s.isDicom = true;
    s.patientName = text(ds, DCM_PatientName);
    s.patientId = text(ds, DCM_PatientID);
    s.birthDate = text(ds, DCM_PatientBirthDate);
    s.sex = text(ds, DCM_PatientSex);
    s.studyUid = text(ds, DCM_StudyInstanceUID);
    s.studyDate = text(ds, DCM_StudyDate);
    s.studyDescription = text(ds, DCM_StudyDescription);
    s.accession = text(ds, DCM_AccessionNumber);
    s.seriesUid = text(ds, DCM_SeriesInstanceUID);
    s.seriesNumber = text(ds, DCM_SeriesNumber);
    s.modality = text(ds, DCM_Modality);
    s.instanceNumber = text(ds, DCM_InstanceNumber);
    return s;
}

} // namespace orv::dicom
