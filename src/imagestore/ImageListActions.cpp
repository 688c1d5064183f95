#include "ImageListActions.h"

#include "IdentityStamp.h"
#include "ImageReading.h"
#include "ImageSend.h"
#include "PictureImport.h"
#include "ServerStorage.h"

#include "core/Audit.h"
#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/dicom/StoreAssociation.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace orv {

namespace {

// Results are handed to the GUI thread at most this often, so that the windows keep answering
// however fast files are read.
constexpr int kBatchMilliseconds = 40;

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(nativePath(a)) == QDir::cleanPath(nativePath(b));
}

bool busy(const QString &transNo) { return session().jobs().isBusy(transNo); }

// Adds to the viewer's image set only while the transaction is open.
void toViewer(const QString &transNo, const QList<dicom::Image> &images)
{
    if (!session().isOpen(transNo))
        return;
    session().images().add(images);
    for (const audit::Subject &s : imageSubjects(images))
        auditTrail().instancesAccessed('R', s);
}

// Reads `jobs` in order on the job's thread and hands the results to `deliver` on the GUI
// thread in batches; with stopAtFailure the first failing job is the last result.
void readInBatches(JobContext &job, const QList<ReadJob> &jobs, bool stopAtFailure,
                   const std::function<void(const QList<ReadResult> &)> &deliver)
{
    QList<ReadResult> batch;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    for (int i = 0; i < jobs.size() && !job.cancelled(); ++i) {
        batch.append(readJob(jobs[i], i));
        const bool failed = !batch.last().error.isEmpty();
        if (sinceBatch.elapsed() >= kBatchMilliseconds || (failed && stopAtFailure)) {
            job.post([deliver, batch] { deliver(batch); });
            batch.clear();
            sinceBatch.restart();
        }
        if (failed && stopAtFailure)
            return;
    }
    if (!batch.isEmpty())
        job.post([deliver, batch] { deliver(batch); });
}

} // namespace

void ImageListActions::loadImages(const QString &transNo)
{
    if (busy(transNo)) {
        // Reloaded once the transaction's work has ended (the waiter goes with the session).
        auto *waiter = new QObject(&session());
        QObject::connect(&session().jobs(), &JobRunner::busyChanged, waiter, [waiter, transNo](const QString &no, bool nowBusy) {
            if (no != transNo || nowBusy)
                return;
            QObject::disconnect(&session().jobs(), nullptr, waiter, nullptr);
            waiter->deleteLater();
            loadImages(transNo);
        });
        return;
    }
    ImageRowsModel *rows = session().rows(transNo);
    rows->clear();
    try {
        rows->reload(LoadImages(state().db(), transNo));
    } catch (const std::exception &e) {
        msgBox(nullptr, QStringLiteral("Problem loading. ") + describe(e));
        return;
    }
    if (session().isOpen(transNo))
        listWaitingFiles(transNo, openTransaction().value(OpenTransaction::StudyUID));
}

QList<ImageRow> waitingFiles(const QString &tempFolder, const QString &transNo, const QString &studyUid,
                             const QSet<QString> &listed)
{
    // Clips are known by their name (transaction number, time stamp, counter), pictures by the
    // study they were stamped with.
    const QRegularExpression clipName(QStringLiteral("^%1-\\d{4}(_\\d{2}){5}_[AP]M-\\d+\\.avi$").arg(QRegularExpression::escape(transNo)),
                                      QRegularExpression::CaseInsensitiveOption);
    QList<ImageRow> found;
    if (transNo.isEmpty() || studyUid.isEmpty())
        return found;
    const QFileInfoList files = QDir(nativePath(tempFolder)).entryInfoList({QStringLiteral("*.dcm"), QStringLiteral("*.avi")},
                                                                          QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &f : files) {
        if (listed.contains(f.fileName()))
            continue;
        if (f.suffix().compare(QLatin1String("avi"), Qt::CaseInsensitive) == 0) {
            if (clipName.match(f.fileName()).hasMatch())
                found << ImageRow::make(kStatusNew, QStringLiteral("Video"), kLocalTemp, QString(), tempFolder, f.fileName(), QString());
            continue;
        }
        try {
            if (dicom::StoreAssociation::identify(f.filePath()).studyUid == studyUid)
                found << ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), tempFolder, f.fileName(), QString());
        } catch (const std::exception &) {
            // A file being written or not DICOM at all is no picture of this exam.
        }
    }
    return found;
}

void ImageListActions::listWaitingFiles(const QString &transNo, const QString &studyUid)
{
    QSet<QString> listed;
    for (const ImageRow &row : session().rows(transNo)->rows())
        listed.insert(row.fileName);
    const QString tempFolder = state().TempFolder;
    JobOptions options;
    options.exclusive = false;
    options.lane = QStringLiteral("waiting files"); // a thread of its own: long sends do not hold it back
    session().jobs().start(transNo, QStringLiteral("waiting files"), [=](JobContext &job) {
        const QList<ImageRow> found = waitingFiles(tempFolder, transNo, studyUid, listed);
        if (found.isEmpty())
            return;
        job.post([transNo, found] {
            // Rows listed meanwhile (a frame written since) are not listed twice.
            ImageRowsModel *rows = session().rows(transNo);
            QSet<QString> now;
            for (const ImageRow &row : rows->rows())
                now.insert(row.fileName);
            for (const ImageRow &row : found)
                if (!now.contains(row.fileName))
                    rows->append(row);
        });
    }, {}, options);
}

bool ImageListActions::importPicture(const QString &path, std::function<void()> shown)
{
    return importPictures({path}, std::move(shown));
}

bool ImageListActions::importPictures(const QStringList &paths, std::function<void()> shown)
{
    OpenTransaction &open = openTransaction();
    const QString transNo = open.value(OpenTransaction::TransNo);
    if (paths.isEmpty() || busy(transNo))
        return false;
    const TransactionRecord record = open.record();
    const int count = int(paths.size());
    const int first = open.takeImageNumbers(count);
    const QString company = state().CompanyName;
    const QString tempFolder = state().TempFolder;
    JobOptions options;
    options.total = count;
    session().jobs().start(transNo, QStringLiteral("import"), [=](JobContext &job) {
        // Numbers go to the pictures imported, in order; those of pictures that fail are given
        // back at the end (when nothing was taken since), so the numbers leave no gap.
        int imported = 0;
        QStringList failures;
        for (int i = 0; i < count && !job.cancelled(); ++i) {
            dicom::Image image;
            ImageRow row;
            QString error;
            try {
                stampIdentity(image, record, first + imported, company);
                row = writeStampedPicture(image, paths[i], tempFolder);
                ++imported;
            } catch (const std::exception &e) {
                error = describe(e);
            }
            const QStringList changes = takeValueChanges(image);
            if (!error.isEmpty())
                failures << (count == 1 ? error : QStringLiteral("%1: %2").arg(paths[i], error));
            job.post([=] {
                for (const QString &line : changes)
                    AddLog(line);
                if (!error.isEmpty())
                    return;
                session().rows(transNo)->append(row);
                if (session().isOpen(transNo))
                    toViewer(transNo, {image});
            });
            job.progress(i + 1, count);
        }
        job.post([=] {
            if (imported < count && session().isOpen(transNo))
                openTransaction().giveBackImageNumbers(first + imported, count - imported);
            if (!failures.isEmpty())
                msgBox(nullptr, failures.join(QLatin1Char('\n')));
            if (imported > 0 && shown && session().isOpen(transNo))
                shown();
        });
    }, {}, options);
    return true;
}

bool ImageListActions::importDicomFile(const QString &path)
{
    const QString transNo = session().openTransNo();
    if (busy(transNo))
        return false;
    const PicturePathParts parts = splitPicturePath(path);
    const QString folder = path.left(path.size() - parts.fileName.size());
    session().jobs().start(transNo, QStringLiteral("import"), [=](JobContext &job) {
        const ReadResult r = readJob({ReadJob::Kind::Dicom, path, {}, {}}, 0);
        job.post([=] {
            if (!r.error.isEmpty()) {
                msgBox(nullptr, r.error);
                return;
            }
            session().rows(transNo)->append(
                ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), folder, parts.fileName, QString()));
            toViewer(transNo, {r.image});
        });
    });
    return true;
}

bool ImageListActions::importFolder(const QString &typed)
{
    const QString transNo = session().openTransNo();
    if (busy(transNo))
        return false;
    const QString folder = typed.endsWith(QLatin1Char('\\')) ? typed : typed + QLatin1Char('\\');
    session().appendImportLog(transNo, QStringLiteral("\r\nstarting"));
    session().jobs().start(transNo, QStringLiteral("import"), [=](JobContext &job) {
        QStringList paths;
        try {
            paths = dicomFilesOf(folder);
        } catch (const std::exception &e) {
            job.post([why = describe(e)] { msgBox(nullptr, why); });
            return;
        }
        job.progress(0, int(paths.size()));
        QList<ReadJob> jobs;
        for (const QString &p : std::as_const(paths))
            jobs.append({ReadJob::Kind::Dicom, p, {}, {}});
        auto failed = std::make_shared<bool>(false);
        readInBatches(job, jobs, true, [=](const QList<ReadResult> &results) {
            QString lines;
            QList<dicom::Image> images;
            QList<ImageRow> listed;
            QString failure;
            for (const ReadResult &r : results) {
                lines += QStringLiteral("\r\n") + QDir::toNativeSeparators(nativePath(r.path));
                if (!r.error.isEmpty()) {
                    failure = r.error;
                    break;
                }
                listed << ImageRow::make(kStatusNew, QStringLiteral("Image"), kLocalTemp, QString(), folder,
                                         QFileInfo(r.path).fileName(), QString());
                images << r.image;
                lines += QStringLiteral("\r\n.");
            }
            session().rows(transNo)->append(listed);
            session().appendImportLog(transNo, lines);
            toViewer(transNo, images);
            if (!failure.isEmpty()) {
                *failed = true;
                msgBox(nullptr, failure);
                return;
            }
            emit session().jobs().progress(transNo, results.last().index + 1, int(jobs.size()));
        });
        job.post([=] {
            if (!*failed && !job.cancelled())
                session().appendImportLog(transNo, QStringLiteral("\r\ndone"));
        });
    });
    return true;
}

bool ImageListActions::fillViewer(std::function<void()> then)
{
    const QString transNo = session().openTransNo();
    if (busy(transNo))
        return false;
    QList<ReadJob> jobs;
    for (const ImageRow &r : session().rows(transNo)->rows()) {
        const QString type = r.type.toUpper();
        const QString path = rowPathNow(r);
        if (type == QLatin1String("IMAGE"))
            jobs.append({ReadJob::Kind::Dicom, path, {}, {}});
        else if (type == QLatin1String("JPG") || type == QLatin1String("BMP"))
            jobs.append({ReadJob::Kind::Picture, path, type, r.fileName});
    }
    // The fill reads every row, so what the set held (frames added as they were captured while
    // the viewer was hidden) is replaced rather than shown twice.
    session().images().clear();
    JobOptions options;
    options.total = int(jobs.size());
    session().jobs().start(
        transNo, QStringLiteral("fill"),
        [=](JobContext &job) {
            job.progress(0, int(jobs.size()));
            readInBatches(job, jobs, false, [=](const QList<ReadResult> &results) {
                QList<dicom::Image> images;
                for (const ReadResult &r : results) {
                    if (r.missing || !r.error.isEmpty()) {
                        toViewer(transNo, std::exchange(images, {}));
                        msgBox(nullptr, r.missing ? QStringLiteral("Cant read/access ") + nativePath(r.path) : r.error);
                    } else {
                        images << r.image;
                    }
                }
                toViewer(transNo, images);
                emit session().jobs().progress(transNo, results.last().index + 1, int(jobs.size()));
            });
        },
        [transNo, then] {
            if (then && session().isOpen(transNo))
                then();
        },
        options);
    return true;
}

bool ImageListActions::deleteRow(int index)
{
    const QString transNo = session().openTransNo();
    ImageRowsModel *rows = session().rows(transNo);
    if (busy(transNo) || index < 0 || index >= rows->count())
        return false;
    const ImageRow r = rows->row(index);
    const QString path = rowPathNow(r);
    // A New row outside the temporary folder stands for the operator's own file, imported where
    // it lies: the row goes, the file stays.
    const bool ownFile = r.status == kStatusSaved || (r.status == kStatusNew && sameFolder(r.fileDir, state().TempFolder));
    if (ownFile) {
        QFile file(path);
        if (!QFileInfo::exists(path))
            msgBox(nullptr, QStringLiteral("File not found: %1").arg(path));
        else if (!file.remove())
            msgBox(nullptr, QStringLiteral("Cannot delete %1: %2").arg(path, file.errorString()));
    }
    if (r.status == kStatusSaved) {
        try {
            state().db().execute(QStringLiteral("delete from pacs..tblFile WHERE file_id=?"), {r.fileId});
        } catch (const std::exception &e) {
            msgBox(nullptr, describe(e));
        }
    }
    if (const int at = session().images().indexOfListFile(r.fileName))
        session().images().removeAt(at);
    rows->removeAt(index);
    return true;
}

bool ImageListActions::save()
{
    const QString transNo = session().openTransNo();
    if (busy(transNo))
        return false;
    ImageRowsModel *rows = session().rows(transNo);
    SaveRequest request = SaveRequest::fromState(rows->rows());
    request.rowsMark = rows->mark();
    ServerStorage::start(state().db().config(), request);
    return true;
}

bool ImageListActions::send()
{
    const QString transNo = session().openTransNo();
    const QList<ImageRow> list = session().rows(transNo)->rows();
    if (busy(transNo) || list.isEmpty())
        return false;
    ImageSend::start(SendRequest::fromState(list));
    return true;
}

} // namespace orv
