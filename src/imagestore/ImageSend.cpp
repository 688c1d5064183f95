#include "ImageSend.h"

#include "IdentityStamp.h"
#include "VideoObjectFile.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "session/ExamSession.h"
#include "sendqueue/QueuedSend.h"
#include "sendqueue/SendQueueRunner.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/PrivateFiles.h"
#include "outside/Prompter.h"
#include "outside/dicom/Image.h"
#include "outside/dicom/Toolkit.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmdata/dcdeftag.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

#include <optional>

namespace orv {

namespace {

bool isPicture(const QString &type)
{
    const QString t = type.toUpper();
    return t == QLatin1String("JPG") || t == QLatin1String("BMP");
}

bool isVideo(const QString &type) { return type.toUpper() == QLatin1String("VIDEO"); }

// Throws when the archive's address does not resolve (network work: not on the GUI thread).
void requireResolvable(const dicom::Peer &peer)
{
    const QHostInfo info = QHostInfo::fromName(peer.host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        throw Error(QStringLiteral("The address of the storage archive, \"%1\", cannot be found (%2). Correct it in DICOM "
                                   "Settings.")
                        .arg(peer.host, info.errorString()));
}

// Where the object a picture or clip row was converted into for this exam is kept: named by
// the row's file (path, size, time) and the exam's identity, so that a changed file or a changed
// patient makes a new object while a send of the same row again reuses the one the archive
// already holds (same instance, series and number) instead of filing a second copy.
QString keptConversionPath(const QString &source, const TransactionRecord &tr, const QString &companyName)
{
    const QFileInfo f(source);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString &part : {f.absoluteFilePath(), QString::number(f.size()), QString::number(f.lastModified().toMSecsSinceEpoch()),
                                tr.transNo, tr.studyUid, tr.hospNum, tr.patientId, tr.patientName(),
                                tr.birthDate.toString(Qt::ISODate), tr.gender, tr.examType, companyName})
        hash.addData((part + QChar(0)).toUtf8());
    return QDir(SendQueue::folder()).filePath(QStringLiteral("converted/") + QString::fromLatin1(hash.result().toHex()) + QStringLiteral(".dcm"));
}

// Keeps a just-converted object (already written at `copy`) at `kept` for later sends; a copy
// that cannot be kept only means the next send converts again. Nothing is kept without a path.
void keepConversion(const QString &copy, const QString &kept)
{
    if (kept.isEmpty())
        return;
    makePrivateFolder(QFileInfo(kept).absolutePath());
    const QString part = kept + QStringLiteral(".part");
    QFile::remove(part);
    if (QFile::copy(copy, part) && QFile::rename(part, kept))
        return;
    QFile::remove(part);
}

// Kept conversions not used for 30 days are dropped (their exams are long sent).
void pruneKeptConversions()
{
    const QDateTime before = QDateTime::currentDateTime().addDays(-30);
    for (const QFileInfo &f : QDir(QDir(SendQueue::folder()).filePath(QStringLiteral("converted"))).entryInfoList(QDir::Files))
        if (f.lastModified() < before)
            QFile::remove(f.absoluteFilePath());
}

// Stages a DICOM file of the exam for sending. A file that already carries the exam's patient is
// staged as it is; any other (a file imported from elsewhere) is staged as a copy with the exam's
// patient written in (its study, series and instance stay its own), and the log says so.
QueueEntry stageWithExamPatient(const QString &path, const SendRequest &request, const std::function<void(const QString &)> &log)
{
    // A send without an exam's patient (no hospital number) has nothing to write in.
    if (request.transaction.hospNum.trimmed().isEmpty())
        return SendQueue::stageCopy(path);
    dicom::Image image = dicom::Image::fromFile(path);
    if (carriesPatientIdentity(image.dataSet(), request.transaction, request.companyName))
        return SendQueue::stageCopy(path);
    const dicom::DataSet ds = image.dataSet();
    log(QStringLiteral("%1 is sent with the exam's patient (it carried \"%2\", ID \"%3\").")
            .arg(QFileInfo(path).fileName(), ds.text(DCM_PatientName), ds.text(DCM_PatientID)));
    writePatientIdentity(image.dataSet(), request.transaction, request.companyName);
    QueueEntry entry = QueuedSend::stage(image);
    entry.sourcePath = path;
    return entry;
}

} // namespace

int SendRequest::pictureRows(const QList<ImageRow> &rows)
{
    return int(std::count_if(rows.begin(), rows.end(), [](const ImageRow &r) { return isPicture(r.type); }));
}

int SendRequest::stampedRows() const
{
    const auto videos = sendVideos ? std::count_if(rows.begin(), rows.end(), [](const ImageRow &r) { return isVideo(r.type); }) : 0;
    return pictureRows(rows) + int(videos);
}

SendRequest SendRequest::fromState(const QList<ImageRow> &rows)
{
    const SharedState &st = state();
    SendRequest r{rows, st.Server_Name, overridesServerName(), openTransaction().record(), 1,
                  st.CompanyName, sendsVideos(), st.db().config()};
    const int stamped = r.stampedRows();
    r.firstImageNumber = stamped > 0 ? openTransaction().takeImageNumbers(stamped) : r.transaction.imageNumber + 1;
    return r;
}

QString ImageSend::statusLine(const QString &path, int status) { return storeStatusLine(path, status); }

SendOutcome ImageSend::send(const SendRequest &request, const SendHooks &hooks)
{
    SendOutcome outcome;
    if (request.rows.isEmpty())
        return outcome;
    const auto log = [&](const QString &line) {
        if (hooks.log)
            hooks.log(line);
    };
    const auto peerNow = [&] { return hooks.peer ? hooks.peer() : dicomNodes().storagePeer(); };

    dicom::Peer peer;
    try {
        peer = peerNow();
        requireResolvable(peer);
    } catch (const std::exception &e) {
        outcome.refused = describe(e);
        return outcome;
    }
    log(QStringLiteral("Sending to: %1 | %2 | %3 | %4").arg(peer.host).arg(peer.port).arg(peer.callingAe, peer.calledAe));

    // Every image is copied (DICOM files) or written stamped (pictures) into the queue folder,
    // then queued in one step and delivered; what the archive does not take now stays queued.
    const int total = int(request.rows.size());
    int done = 0;
    int nextNumber = request.firstImageNumber;
    QueuedSend send(request.transaction.transNo, dicomNodes().storageCommitment());
    QString prepareFailure;
    dicom::Image picture; // one object for every picture of this send
    const auto stopped = [&] { return hooks.stopped && hooks.stopped(); };
    try {
        pruneKeptConversions();
        for (const ImageRow &row : request.rows) {
            if (stopped())
                throw Error(QStringLiteral("The send was stopped."));
            const QString type = row.type.toUpper();
            const QString path = nativePath(rowFilePath(row, request.configuredServerName, request.overrideServerName));
            std::optional<QueueEntry> entry;
            // Where a picture or clip row's converted object is kept (empty for other rows).
            const bool converts = isPicture(type) || (isVideo(type) && request.sendVideos);
            const QString kept = converts && QFileInfo(path).isFile()
                                     ? keptConversionPath(path, request.transaction, request.companyName)
                                     : QString();
            if (type == QLatin1String("IMAGE")) {
                if (QFileInfo(path).isFile()) {
                    entry = stageWithExamPatient(path, request, log);
                } else {
                    log(QStringLiteral("Cant read/access ") + path);
                    ++outcome.unreadable;
                }
            } else if (!kept.isEmpty() && QFileInfo::exists(kept)) {
                QFile(kept).setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime);
                entry = SendQueue::stageCopy(kept);
            } else if (isPicture(type)) {
                picture.importPicture(path, type);
                stampIdentity(picture, request.transaction, nextNumber++, request.companyName);
                entry = QueuedSend::stage(picture);
                for (const QString &line : takeValueChanges(picture))
                    log(line);
                keepConversion(entry->filePath, kept);
            } else if (isVideo(type) && request.sendVideos) {
                if (!QFileInfo(path).isFile()) {
                    log(QStringLiteral("Cant read/access ") + path);
                    ++outcome.unreadable;
                } else {
                    const QString copy = SendQueue::newCopyPath();
                    // The row's share of the progress moves with the clip.
                    const auto clipProgress = [&](double part) {
                        if (hooks.progress)
                            hooks.progress(done * 100 + int(part * 100), total * 100);
                    };
                    try {
                        for (const QString &line :
                             writeVideoObjectFile(path, request.transaction, nextNumber, request.companyName, copy, stopped, clipProgress))
                            log(line);
                        ++nextNumber;
                        keepConversion(copy, kept);
                        entry = SendQueue::entryFor(copy, dicom::StoreAssociation::identify(copy));
                    } catch (const Error &e) {
                        if (stopped())
                            throw Error(QStringLiteral("The send was stopped."));
                        log(e.description());
                        ++outcome.unconverted;
                    }
                }
            }
            if (entry) {
                entry->sourcePath = path;
                send.add(*entry, peerNow());
            }
            if (hooks.progress)
                hooks.progress(++done, total);
        }
    } catch (const std::exception &e) {
        // The images before it are still sent, later rows not attempted.
        prepareFailure = describe(e);
    }
    outcome.numbersUsed = nextNumber - request.firstImageNumber;

    QString failure;
    try {
        int answered = 0;
        const int staged = send.count();
        DeliveryHooks delivery;
        delivery.log = log;
        delivery.answered = [&](const QueueEntry &, int) {
            if (hooks.progress)
                hooks.progress(++answered, staged);
        };
        delivery.stopped = hooks.stopped;
        const QueuedSend::Outcome d = send.deliver(request.database, delivery);
        outcome.sent = d.delivery.sent;
        outcome.notStored = d.delivery.notStored;
        outcome.queued = d.left();
        failure = d.delivery.failure;
    } catch (const std::exception &e) {
        failure = describe(e);
    }
    if (failure.isEmpty())
        failure = prepareFailure;
    if (!failure.isEmpty()) {
        outcome.failure = QStringLiteral("Cannot Send.") + failure;
        log(outcome.failure);
        return outcome;
    }
    log(QStringLiteral("Send Complete."));
    outcome.completed = true;
    return outcome;
}

void ImageSend::start(const SendRequest &request)
{
    dicomNodes(); // loaded here, not by the worker, when nothing has read the settings yet
    const QString transNo = request.transaction.transNo;
    const int stamped = request.stampedRows();
    auto outcome = std::make_shared<SendOutcome>();
    JobOptions options;
    options.total = int(request.rows.size());
    session().jobs().start(
        transNo, QStringLiteral("send"),
        [request, outcome](JobContext &job) {
            SendHooks hooks;
            hooks.log = [&job](const QString &line) { job.post([line] { AddLog(line); }); };
            hooks.progress = [&job](int done, int total) { job.progress(done, total); };
            hooks.stopped = [&job] { return job.cancelled(); };
            *outcome = ImageSend::send(request, hooks);
        },
        [outcome, transNo, first = request.firstImageNumber, stamped] {
            // Numbers never stamped (a refused send, clips that could not be converted) leave no
            // gap when nothing was taken since.
            const int used = outcome->refused.isEmpty() ? outcome->numbersUsed : 0;
            if (used < stamped && session().isOpen(transNo))
                openTransaction().giveBackImageNumbers(first + used, stamped - used);
            if (!outcome->refused.isEmpty())
                msgBox(nullptr, outcome->refused, Prompter::Icon::Critical);
            SendQueueRunner::instance().kick();
        },
        options);
}

} // namespace orv
