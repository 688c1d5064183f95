#include "DicomDir.h"
#include "DicomDirIndex.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcddirif.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cstdio>

namespace orv::dicom {

namespace {

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

} // namespace

DicomDirWriter::DicomDirWriter(const QString &directory, const QString &fileSetId)
    : m_directory(QDir::cleanPath(directory)), m_fileSetId(fileSetIdOf(fileSetId))
{
    initialise();
    if (!QDir().mkpath(m_directory))
        fail(QStringLiteral("Cannot create the directory %1.").arg(directory));
}

void DicomDirWriter::addImage(Image &image, const QString &relativeName)
{
    static const QRegularExpression component(QStringLiteral("^[A-Z0-9_]{1,8}$"));
    QString rel = relativeName;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList parts = rel.split(QLatin1Char('/'));
    if (parts.size() > 8)
        fail(QStringLiteral("\"%1\" has too many folder levels for a DICOMDIR.").arg(relativeName));
    for (const QString &p : parts)
        if (!component.match(p).hasMatch())
            fail(QStringLiteral("\"%1\" is not a valid DICOMDIR file name (upper-case letters, digits, \"_\", at most 8 per part).")
                     .arg(relativeName));
    // A DICOMDIR lists an object once: a second object of the same instance UID would be
    // written but never listed.
    const QString uid = image.instanceUid();
    if (!uid.isEmpty() && m_instances.contains(uid))
        fail(QStringLiteral("\"%1\" is not exported: its SOP Instance UID %2 is that of %3, already exported.")
                 .arg(relativeName, uid, m_instances.value(uid)));
    const QString target = m_directory + QLatin1Char('/') + rel;
    if (!QDir().mkpath(QFileInfo(target).path()))
        fail(QStringLiteral("Cannot create the folder of %1.").arg(target));
    const QString temporary = target + QStringLiteral(".part");
    try {
        image.writeFile(temporary, QLatin1String(kExplicitLittleEndian));
    } catch (const Error &e) {
        QFile::remove(temporary);
        fail(QStringLiteral("Cannot export %1: %2").arg(rel, e.description()), e.code());
    }
    moveIntoPlace(temporary, target);
    m_files << rel;
    if (!uid.isEmpty())
        m_instances.insert(uid, rel);
}

void DicomDirWriter::write()
{
    const QString dicomdir = m_directory + QStringLiteral("/DICOMDIR");
    const QString temporary = dicomdir + QStringLiteral(".part");
    QFile::remove(temporary);
    const QByteArray base = QFile::encodeName(m_directory);
    try {
        DicomDirInterface dir;
        dir.enableInventMode(OFTrue);
        dir.enableInventPatientIDMode(OFTrue);
        const QByteArray path = QFile::encodeName(temporary);
        const QByteArray setId = m_fileSetId.toLatin1();
        check(dir.createNewDicomDir(DicomDirInterface::AP_GeneralPurpose, OFFilename(path.constData()),
                                    OFString(setId.constData())),
              QStringLiteral("Cannot create the DICOMDIR in %1").arg(m_directory));
        for (const QString &rel : QStringList(m_files)) {
            const QByteArray r = QFile::encodeName(rel);
            const OFCondition cond = dir.addDicomFile(OFFilename(r.constData()), OFFilename(base.constData()));
            if (cond.bad()) {
                m_skipped.append({rel, QStringLiteral("the DICOMDIR cannot take it: %1").arg(QString::fromLocal8Bit(cond.text()))});
                QFile::remove(m_directory + QLatin1Char('/') + rel);
                m_files.removeOne(rel);
            }
        }
        check(dir.writeDicomDir(), QStringLiteral("Cannot write %1").arg(dicomdir));
        checkWrittenDicomDir(temporary, int(m_files.size()));
        moveIntoPlace(temporary, dicomdir);
    } catch (const Error &) {
        QFile::remove(temporary);
        for (const QString &rel : m_files)
            QFile::remove(m_directory + QLatin1Char('/') + rel);
        m_files.clear();
        throw;
    }
}

} // namespace orv::dicom
