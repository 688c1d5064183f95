#include "DicomDir.h"

#include "Image.h"
#include "Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcddirif.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

namespace orv::dicom {

namespace {

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

// The file ID of `relativeName` with "/" between its components; throws Error when it is none.
QString fileIdOf(const QString &relativeName)
{
    static const QRegularExpression component(QStringLiteral("^[A-Z0-9_]{1,8}$"));
    QString id = relativeName;
    id.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = id.split(QLatin1Char('/'));
    if (parts.size() > 8)
        fail(QStringLiteral("\"%1\" has too many folder levels for a DICOMDIR.").arg(relativeName));
    for (const QString &p : parts)
        if (!component.match(p).hasMatch())
            fail(QStringLiteral("\"%1\" is not a valid DICOMDIR file name (upper-case letters, digits, \"_\", at most 8 per part).")
                     .arg(relativeName));
    return id;
}

// Replaces `target` by `temporary` (atomically where the file system allows).
void moveIntoPlace(const QString &temporary, const QString &target)
{
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0)
        return;
    QFile::remove(target);
    if (!QFile::rename(temporary, target)) {
        QFile::remove(temporary);
        fail(QStringLiteral("Cannot move %1 into place as %2.").arg(temporary, target));
    }
}

// Reads back the DICOMDIR written at `path` and throws Error unless it is whole and references
// `files` files.
void checkWritten(const QString &path, const QString &name, int files)
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
                 .arg(name)
                 .arg(referenced)
                 .arg(files)
                 .arg(read.bad() ? QStringLiteral(", ") + QString::fromLocal8Bit(read.text()) : QString()));
}

} // namespace

DicomDirWriter::DicomDirWriter(const QString &directory, const QString &fileSetId)
    : m_directory(QDir::cleanPath(directory)), m_fileSetId(fileSetIdOf(fileSetId))
{
    initialise();
    if (!QDir().mkpath(m_directory))
        fail(QStringLiteral("Cannot create the directory %1.").arg(directory));
}

QStringList DicomDirWriter::files() const
{
    QStringList ids;
    for (const File &f : m_files)
        ids << f.id;
    return ids;
}

QString DicomDirWriter::record(const QString &relativeName, const QString &instanceUid)
{
    const QString id = fileIdOf(relativeName);
    // A DICOMDIR lists an object once: a second object of the same instance UID would be
    // written but never listed.
    if (!instanceUid.isEmpty() && m_instances.contains(instanceUid))
        fail(QStringLiteral("\"%1\" is not exported: its SOP Instance UID %2 is that of %3, already exported.")
                 .arg(relativeName, instanceUid, m_instances.value(instanceUid)));
    return id;
}

void DicomDirWriter::addImage(Image &image, const QString &relativeName)
{
    const QString uid = image.instanceUid();
    const QString id = record(relativeName, uid);
    const QString target = m_directory + QLatin1Char('/') + id;
    if (!QDir().mkpath(QFileInfo(target).path()))
        fail(QStringLiteral("Cannot create the folder of %1.").arg(target));
    const QString temporary = target + QStringLiteral(".part");
    try {
        image.writeFile(temporary, QLatin1String(kExplicitLittleEndian));
    } catch (const Error &e) {
        QFile::remove(temporary);
        fail(QStringLiteral("Cannot export %1: %2").arg(id, e.description()), e.code());
    }
    moveIntoPlace(temporary, target);
    m_files.append({id, QLatin1String(kExplicitLittleEndian), true});
    if (!uid.isEmpty())
        m_instances.insert(uid, id);
}

void DicomDirWriter::addFile(const QString &relativeName, const QString &instanceUid, const QString &transferSyntax)
{
    const QString id = record(relativeName, instanceUid);
    m_files.append({id, transferSyntax, false});
    if (!instanceUid.isEmpty())
        m_instances.insert(instanceUid, id);
}

void DicomDirWriter::removeWrittenFiles()
{
    for (const File &f : std::as_const(m_files))
        if (f.writtenHere)
            QFile::remove(m_directory + QLatin1Char('/') + f.id);
}

void DicomDirWriter::write()
{
    const QString dicomdir = m_directory + QStringLiteral("/DICOMDIR");
    const QString temporary = dicomdir + QStringLiteral(".part");
    QFile::remove(temporary);
    const QByteArray base = QFile::encodeName(m_directory);
    const bool allExplicit = std::all_of(m_files.cbegin(), m_files.cend(), [](const File &f) {
        return f.transferSyntax == QLatin1String(UID_LittleEndianExplicitTransferSyntax);
    });
    try {
        DicomDirInterface dir;
        dir.enableInventMode(OFTrue);
        dir.enableInventPatientIDMode(OFTrue);
        dir.disableTransferSyntaxCheck(OFFalse);
        dir.disableBackupMode(OFFalse);
        const QByteArray path = QFile::encodeName(temporary);
        const QByteArray setId = m_fileSetId.toLatin1();
        check(dir.createNewDicomDir(allExplicit ? DicomDirInterface::AP_GeneralPurpose : DicomDirInterface::AP_GeneralPurposeDVDJPEG,
                                    OFFilename(path.constData()), OFString(setId.constData())),
              QStringLiteral("Cannot create the DICOMDIR in %1").arg(m_directory));
        for (qsizetype i = 0; i < m_files.size();) {
            const File &f = m_files.at(i);
            const QByteArray r = QFile::encodeName(f.id);
            const OFCondition cond = dir.addDicomFile(OFFilename(r.constData()), OFFilename(base.constData()));
            if (cond.good()) {
                ++i;
                continue;
            }
            if (!f.writtenHere)
                check(cond, QStringLiteral("Cannot add %1 to the DICOMDIR").arg(f.id));
            m_skipped.append({f.id, QStringLiteral("the DICOMDIR cannot take it: %1").arg(QString::fromLocal8Bit(cond.text()))});
            QFile::remove(m_directory + QLatin1Char('/') + f.id);
            m_files.removeAt(i);
        }
        check(dir.writeDicomDir(), QStringLiteral("Cannot write %1").arg(dicomdir));
        checkWritten(temporary, dicomdir, int(m_files.size()));
        moveIntoPlace(temporary, dicomdir);
    } catch (const Error &) {
        QFile::remove(temporary);
        removeWrittenFiles();
        m_files.clear();
        throw;
    }
}

} // namespace orv::dicom
