#include "PictureImport.h"

#include "IdentityStamp.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/dicom/Image.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orv {

namespace {
// Puts `from` in the place of `to` in one step where the platform allows it.
bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_UNIX
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#else
    QFile::remove(to);
    return QFile::rename(from, to);
#endif
}
} // namespace

PicturePathParts splitPicturePath(const QString &path)
{
    PicturePathParts p;
    const qsizetype sep = qMax(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    p.folder = sep < 0 ? QString() : path.left(sep);
    p.fileName = path.mid(sep + 1);
    const qsizetype dot = p.fileName.indexOf(QLatin1Char('.'));
    p.baseName = dot < 0 ? p.fileName : p.fileName.left(dot);
    p.extension = dot < 0 ? QString() : p.fileName.mid(dot + 1);
    return p;
}

ImageRow importNonDicom(const QString &picturePath, const QString &tempFolder, dicom::Image *imageOut)
{
    OpenTransaction &tr = openTransaction();
    const TransactionRecord record = tr.record();
    const int number = tr.takeImageNumbers(1);
    dicom::Image image;
    ImageRow row;
    try {
        stampIdentity(image, record, number, state().CompanyName);
        row = writeStampedPicture(image, picturePath, tempFolder);
    } catch (...) {
        tr.giveBackImageNumbers(number, 1);
        throw;
    }
    if (imageOut)
        *imageOut = image;
    return row;
}

ImageRow writeStampedPicture(dicom::Image &image, const QString &picturePath, const QString &tempFolder)
{
    const PicturePathParts parts = splitPicturePath(picturePath);
    if (parts.baseName.isEmpty())
        throw Error(QStringLiteral("Cannot import %1: the file name has no name before its first \".\".").arg(picturePath));
    if (!QFileInfo(picturePath).isFile())
        throw Error(QStringLiteral("Cannot import %1: the file does not exist.").arg(picturePath));
    if (!QFileInfo(nativePath(tempFolder)).isDir())
        throw Error(QStringLiteral("Cannot import %1: the temporary folder %2 does not exist.").arg(picturePath, tempFolder));
    const QString fileName = parts.baseName + QStringLiteral(".dcm");
    const QString target = QDir(nativePath(tempFolder)).filePath(fileName);
    // Written under a name of its own first, so that a failure never leaves a half-written file
    // or replaces an existing one.
    const QString partial = QDir(nativePath(tempFolder))
                                .filePath(QStringLiteral(".%1.%2.part").arg(fileName, QUuid::createUuid().toString(QUuid::Id128)));
    try {
        image.importPicture(picturePath, parts.extension);
        image.writeFile(partial);
        if (!replaceFile(partial, target))
            throw Error(QStringLiteral("Cannot write %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
    return ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), tempFolder, fileName, QString());
}

} // namespace orv
