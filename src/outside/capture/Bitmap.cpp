#include "Bitmap.h"

#include "outside/Error.h"

#include <QImageWriter>
#include <QSaveFile>

namespace orv::capture {

void writeBitmap(const QImage &frame, const QString &path)
{
    if (frame.isNull())
        throw Error(QStringLiteral("There is no frame to write."));
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("Cannot create %1: %2").arg(path, file.errorString()));
    QImageWriter writer(&file, "BMP");
    if (!writer.write(frame)) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        file.cancelWriting();
        throw Error(QStringLiteral("Cannot write %1: %2").arg(path, why));
    }
    if (!file.commit())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

} // namespace orv::capture
