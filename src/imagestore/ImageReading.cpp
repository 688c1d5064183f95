#include "ImageReading.h"

#include "session/ImageRow.h"

#include "outside/Error.h"

#include <dcmtk/dcmdata/dcdeftag.h>

#include <QDir>
#include <QFileInfo>

namespace orv {


QStringList dicomFilesOf(const QString &folder)
{
    const QDir dir(nativePath(folder));
    if (!dir.exists())
        throw Error(QStringLiteral("Path not found: %1").arg(folder));
    if (!QFileInfo(dir.path()).isReadable())
        throw Error(QStringLiteral("Permission denied: %1").arg(folder));
    const QStringList names = dir.entryList({QStringLiteral("*.dcm")}, QDir::Files | QDir::Hidden,
                                            QDir::Name | QDir::IgnoreCase);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &n : names)
        paths << dir.filePath(n);
    return paths;
}

ReadResult readJob(const ReadJob &job, int index)
{
    ReadResult r;
    r.index = index;
    r.path = job.path;
    const QString path = nativePath(job.path);
    if (!QFileInfo::exists(path)) {
        r.missing = true;
        r.error = QStringLiteral("File not found: %1").arg(job.path);
        return r;
    }
    try {
        if (job.kind == ReadJob::Kind::Dicom) {
            r.image = dicom::Image::fromFile(path);
        } else {
            dicom::Image image;
            image.importPicture(path, job.format);
            image.setListFileName(job.fileName);
            r.image = image;
        }
    } catch (const std::exception &e) {
        r.error = describe(e);
    }
    return r;
}

} // namespace orv
