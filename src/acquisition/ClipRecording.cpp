#include "ClipRecording.h"

#include "session/ExamSession.h"

#include <QDir>
#include <QFileInfo>

namespace orv {

void listClip(const QString &transNo, const QString &folder, const QString &fileName)
{
    session().addImageRow(transNo, ImageRow::make(kStatusNew, QStringLiteral("Video"), kLocalTemp, QString(), folder,
                                             fileName, QString()));
}

encoder::AVIEncoderX::Executor clipExecutor(const QString &transNo, const QString &folder, const QString &fileName)
{
    return [transNo, folder, fileName](encoder::AVIEncoderX::Work work) {
        JobOptions options;
        options.exclusive = false;
        options.lane = QStringLiteral("clips");
        auto created = std::make_shared<bool>(false);
        session().jobs().start(
            transNo, QStringLiteral("clip"),
            [work = std::move(work), created, path = QDir(folder).filePath(fileName)](JobContext &context) {
                work([&context] { return context.cancelled(); });
                *created = QFileInfo::exists(path);
            },
            [transNo, folder, fileName, created] {
                if (*created)
                    listClip(transNo, folder, fileName);
            },
            options);
    };
}

} // namespace orv
