#pragma once

#include "PoolWorker.h"

#include "outside/dicom/Image.h"

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>

namespace orv {

// One file to be read into an image object off the GUI thread.
struct ReadJob
{
    enum class Kind {
        Dicom,  // a DICOM file, read as it is
        Picture // a picture imported with `format` as the format name; (0004,1500) = `fileName`
    };
    Kind kind = Kind::Dicom;
    QString path;     // the path as the list composes it ("\" allowed)
    QString format;   // Picture: the format name ("JPG", "BMP")
    QString fileName; // Picture: the list's FileName
};

struct ReadResult
{
    int index = 0;       // position of the job (0-based)
    QString path;        // the job's path
    dicom::Image image;  // valid when error is empty
    QString error;       // why the file could not be read; empty on success
    bool missing = false; // the file does not exist (error holds the reason)
};

// The DICOM files of a folder that an import takes: names ending ".dcm" in any case, not in
// sub-folders, in name order. Throws Error when the folder cannot be listed.
QStringList dicomFilesOf(const QString &folder);

// Reads files into image objects on a thread of the global pool, one after the other, and hands
// the results over in order, in batches, to receivers on the thread that owns the reader.
// `finished` comes once, last; a second start while one runs is refused.
class ImageReadWorker : public PoolWorker
{
    Q_OBJECT
public:
    explicit ImageReadWorker(QObject *parent = nullptr);
    ~ImageReadWorker() override;

    // Reads the jobs in order. With stopAtFailure, the first failing job is the last result.
    bool start(const QList<ReadJob> &jobs, bool stopAtFailure);
    // Lists the DICOM files of `folder` (dicomFilesOf), reports their count through `listed`,
    // then reads them as start(..., true) does. A folder that cannot be listed gives one failed
    // result with index -1.
    bool startFolder(const QString &folder);
    // Asks a running read to stop after the current file.
    void cancel() { m_cancel = true; }

signals:
    void listed(const QStringList &paths);
    void batchReady(const QList<orv::ReadResult> &results);
    void finished();

private:
    void run(const QList<ReadJob> &jobs, bool stopAtFailure);

    std::atomic_bool m_cancel{false};
};

// Reads one job on the calling thread; never throws.
ReadResult readJob(const ReadJob &job, int index);

} // namespace orv

Q_DECLARE_METATYPE(orv::ReadResult)
