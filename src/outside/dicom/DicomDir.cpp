#include "DicomDir.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcddirif.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace orv::dicom {

DicomDirWriter::DicomDirWriter(const QString &directory) : m_directory(QDir::cleanPath(directory))
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
    const QString target = m_directory + QLatin1Char('/') + rel;
    if (!QDir().mkpath(QFileInfo(target).path()))
        fail(QStringLiteral("Cannot create the folder of %1.").arg(target));
    image.writeFile(target, QLatin1String(kExplicitLittleEndian));
    m_files << rel;
}

void DicomDirWriter::write()
{
    const QString dicomdir = m_directory + QStringLiteral("/DICOMDIR");
    QFile::remove(dicomdir);
    DicomDirInterface dir;
    dir.enableInventMode(OFTrue);
    dir.enableInventPatientIDMode(OFTrue);
    const QByteArray path = QFile::encodeName(dicomdir);
    check(dir.createNewDicomDir(DicomDirInterface::AP_GeneralPurpose, OFFilename(path.constData())),
          QStringLiteral("Cannot create the DICOMDIR in %1").arg(m_directory));
    const QByteArray base = QFile::encodeName(m_directory);
    for (const QString &rel : m_files) {
        const QByteArray r = QFile::encodeName(rel);
        check(dir.addDicomFile(OFFilename(r.constData()), OFFilename(base.constData())),
              QStringLiteral("Cannot add %1 to the DICOMDIR").arg(rel));
    }
    check(dir.writeDicomDir(), QStringLiteral("Cannot write %1").arg(dicomdir));
}

} // namespace orv::dicom
