#include "VideoObjectFile.h"

#include "IdentityStamp.h"

#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/VideoObject.h"

#include <QFile>

namespace orv {

bool sendsVideos()
{
    return SettingsStore::intOf(settings().read(apps::VelmorOrvaline, QStringLiteral("DICOM"), QStringLiteral("SendVideos"),
                                                QStringLiteral("0")))
           == 1;
}

QStringList writeVideoObjectFile(const QString &clipPath, const TransactionRecord &transaction, int imageNumber,
                                 const QString &companyName, const QString &target, const std::function<bool()> &stopped,
                                 const std::function<void(double done)> &progress)
{
    const dicom::H264Clip clip = dicom::transcodeToH264(clipPath, stopped, progress);
    dicom::Image image;
    stampIdentity(image, transaction, imageNumber, companyName);
    const bool endoscopic = transaction.examType.trimmed().compare(QLatin1String("ES"), Qt::CaseInsensitive) == 0;
    try {
        dicom::writeVideoObject(image, clip, QLatin1String(endoscopic ? dicom::kVideoEndoscopicClass : dicom::kVideoPhotographicClass),
                                target);
    } catch (...) {
        QFile::remove(target);
        throw;
    }
    return takeValueChanges(image);
}

} // namespace orv
