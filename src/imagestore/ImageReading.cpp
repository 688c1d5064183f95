#include "ImageReading.h"

#include "ImageRow.h"

#include "outside/Error.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace orv {

namespace {
// Results are handed over at most this often, so that the receiving window stays responsive
// however fast the files are read.
constexpr int kBatchMilliseconds = 40;
} // namespace

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
            image.add(0x0004, 0x1500, job.fileName);
            r.image = image;
        }
    } catch (const std::exception &e) {
        r.error = describe(e);
    }
    return r;
}

ImageReadWorker::ImageReadWorker(QObject *parent) : PoolWorker(parent)
{
    qRegisterMetaType<orv::ReadResult>();
    qRegisterMetaType<QList<orv::ReadResult>>();
}

ImageReadWorker::~ImageReadWorker()
{
    cancel();
    waitForFinished();
}

bool ImageReadWorker::start(const QList<ReadJob> &jobs, bool stopAtFailure)
{
    if (isRunning())
        return false;
    m_cancel = false;
    return runInPool([this, jobs, stopAtFailure] { run(jobs, stopAtFailure); });
}

bool ImageReadWorker::startFolder(const QString &folder)
{
    if (isRunning())
        return false;
    m_cancel = false;
    return runInPool([this, folder] {
        QStringList paths;
        try {
            paths = dicomFilesOf(folder);
        } catch (const std::exception &e) {
            ReadResult r;
            r.index = -1;
            r.path = folder;
            r.error = describe(e);
            emit batchReady({r});
            emit finished();
            return;
        }
        emit listed(paths);
        QList<ReadJob> jobs;
        jobs.reserve(paths.size());
        for (const QString &p : paths)
            jobs.append({ReadJob::Kind::Dicom, p, {}, {}});
        run(jobs, true);
    });
}

void ImageReadWorker::run(const QList<ReadJob> &jobs, bool stopAtFailure)
{
    QList<ReadResult> batch;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    for (int i = 0; i < jobs.size() && !m_cancel; ++i) {
        batch.append(readJob(jobs[i], i));
        const bool failed = !batch.last().error.isEmpty();
        if (sinceBatch.elapsed() >= kBatchMilliseconds || (failed && stopAtFailure)) {
            emit batchReady(batch);
            batch.clear();
            sinceBatch.restart();
        }
        if (failed && stopAtFailure)
            break;
    }
    if (!batch.isEmpty())
        emit batchReady(batch);
    emit finished();
}

} // namespace orv
