// libFuzzer target: any bytes read as a DICOM file (or, by their signature, as a picture) must
// give an image or an orv::Error, never a crash, a leak or undefined behaviour.

#include "outside/dicom/Dump.h"
#include "outside/dicom/Image.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QDir::tempPath() + QStringLiteral("/orv-fuzz-%1.in").arg(getpid());
    static const QString out = QDir::tempPath() + QStringLiteral("/orv-fuzz-%1.out").arg(getpid());
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const QByteArray head(reinterpret_cast<const char *>(data), qMin<qsizetype>(qsizetype(size), 4));
    try {
        if (head.startsWith("BM") || head.startsWith("\xFF\xD8") || head.startsWith("\x89PNG")) {
            orv::dicom::Image img;
            img.importPicture(path, QStringLiteral("BMP"));
            img.writeFile(out, QLatin1String(orv::dicom::kJpegExtended));
        } else {
            orv::dicom::Image img = orv::dicom::Image::fromFile(path);
            QString text;
            orv::dicom::dumpAttributes(text, QString(), img.attributes());
            if (img.frameCount() > 0 && img.width() * img.height() < 4'000'000)
                img.exportPicture(out, QStringLiteral("BMP"));
        }
    } catch (const orv::Error &) {
    }
    return 0;
}
