#include "DicomDirIndex.h"

#include "InputLimits.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcddirif.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QFile>
#include <QRegularExpression>

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

QString fileSetIdOf(const QString &t)
{
    QString id;
    for (const QChar c : t.toUpper()) {
        if (id.size() == 16)
            break;
        if ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
            c == QLatin1Char('_') || c == QLatin1Char(' '))
            id += c;
        else
            id += QLatin1Char('_');
    }
    return id.trimmed().isEmpty() ? QStringLiteral("ORVALINE") : id;
}

void writeDicomDirFor(const QString &directory, const QStringList &fileIds, const QString &fileSetId,
                      const QStringList &transferSyntaxes)
{
    initialise();
    static const QRegularExpression component(QStringLiteral("^[A-Z0-9_]{1,8}$"));
    bool allExplicit = true;
    for (int i = 0; i < fileIds.size(); ++i) {
        const QString &id = fileIds.at(i);
        const QStringList parts = id.split(QLatin1Char('/'));
        if (parts.size() > 8)
            fail(QStringLiteral("\"%1\" has too many folder levels for a DICOMDIR.").arg(id));
        for (const QString &part : parts)
            if (!component.match(part).hasMatch())
                fail(QStringLiteral("\"%1\" is not a valid DICOM file ID.").arg(id));
        QString ts;
        if (transferSyntaxes.size() == fileIds.size()) {
            ts = transferSyntaxes.at(i);
        } else {
            const FileSummary s = summarizeFile(directory + QLatin1Char('/') + id);
            if (!s.isDicom)
                fail(QStringLiteral("%1 cannot be referenced: %2").arg(id, s.reason));
            ts = s.transferSyntax;
        }
        if (ts != QLatin1String(UID_LittleEndianExplicitTransferSyntax))
            allExplicit = false;
    }
    const QString dicomdir = directory + QStringLiteral("/DICOMDIR");
    QFile::remove(dicomdir);
    DicomDirInterface dir;
    dir.enableInventMode(OFTrue);
    dir.enableInventPatientIDMode(OFTrue);
    dir.disableTransferSyntaxCheck(OFFalse);
    dir.disableBackupMode(OFFalse);
    const QByteArray path = QFile::encodeName(dicomdir);
    const QByteArray setId = fileSetIdOf(fileSetId).toLatin1();
    check(dir.createNewDicomDir(allExplicit ? DicomDirInterface::AP_GeneralPurpose : DicomDirInterface::AP_GeneralPurposeDVDJPEG,
                                OFFilename(path.constData()), OFString(setId.constData())),
          QStringLiteral("Cannot create the DICOMDIR in %1").arg(directory));
    const QByteArray base = QFile::encodeName(directory);
    for (const QString &id : fileIds) {
        const QByteArray r = QFile::encodeName(id);
        check(dir.addDicomFile(OFFilename(r.constData()), OFFilename(base.constData())),
              QStringLiteral("Cannot add %1 to the DICOMDIR").arg(id));
    }
    try {
        check(dir.writeDicomDir(), QStringLiteral("Cannot write %1").arg(dicomdir));
        checkWrittenDicomDir(dicomdir, int(fileIds.size()));
    } catch (const Error &) {
        QFile::remove(dicomdir);
        throw;
    }
}

void checkWrittenDicomDir(const QString &path, int files)
{
    DcmFileFormat written;
    const QByteArray p = QFile::encodeName(path);
    const OFCondition read = written.loadFile(OFFilename(p.constData()));
    int referenced = 0;
    DcmSequenceOfItems *records = nullptr;
    if (read.good() && written.getDataset()->findAndGetSequence(DCM_DirectoryRecordSequence, records).good() && records)
        for (unsigned long i = 0; i < records->card(); ++i)
            if (records->getItem(i)->tagExistsWithValue(DCM_ReferencedFileID))
                ++referenced;
    if (read.bad() || referenced != files)
        fail(QStringLiteral("Cannot write %1: the file written is incomplete (%2 of %3 files listed%4).")
                 .arg(path)
                 .arg(referenced)
                 .arg(files)
                 .arg(read.bad() ? QStringLiteral(", ") + QString::fromLocal8Bit(read.text()) : QString()));
}

} // namespace orv::dicom
