#include "ImageSend.h"

#include "IdentityStamp.h"
#include "VideoObjectFile.h"

#include "core/CoreRoutines.h"
#include "core/DicomNodes.h"
#include "core/ExamSession.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/Prompter.h"
#include "outside/dicom/Image.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/dimse.h>

#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QTemporaryDir>

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
                  st.CompanyName, sendsVideos()};
    const int stamped = r.stampedRows();
    r.firstImageNumber = stamped > 0 ? openTransaction().takeImageNumbers(stamped) : r.transaction.imageNumber + 1;
    return r;
}

QString ImageSend::statusLine(const QString &path, int status)
{
    const QString hex = QStringLiteral("0x") + QStringLiteral("%1").arg(status, 4, 16, QLatin1Char('0')).toUpper();
    return DICOM_WARNING_STATUS(status) ? QStringLiteral("Store status %1 (warning) for %2").arg(hex, path)
                                        : QStringLiteral("Store status %1 for %2").arg(hex, path);
}

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

    const int total = int(request.rows.size());
    int done = 0;
    int nextNumber = request.firstImageNumber;
    dicom::Image picture; // one object for every picture of this send
    std::optional<QTemporaryDir> videoFolder; // the video objects of this send, removed after it
    const auto stopped = [&] { return hooks.stopped && hooks.stopped(); };
    try {
        for (const ImageRow &row : request.rows) {
            if (stopped())
                throw Error(QStringLiteral("The send was stopped."));
            const QString type = row.type.toUpper();
            const QString path = nativePath(rowFilePath(row, request.configuredServerName, request.overrideServerName));
            std::optional<dicom::Image> image;
            QString videoFile; // removed once sent
            if (type == QLatin1String("IMAGE")) {
                if (QFileInfo(path).isFile()) {
                    image = dicom::Image::fromFile(path);
                } else {
                    log(QStringLiteral("Cant read/access ") + path);
                    ++outcome.unreadable;
                }
            } else if (isPicture(type)) {
                picture.importPicture(path, type);
                stampIdentity(picture, request.transaction, nextNumber++, request.companyName);
                for (const QString &line : takeValueChanges(picture))
                    log(line);
                image = picture;
            } else if (isVideo(type) && request.sendVideos) {
                if (!QFileInfo(path).isFile()) {
                    log(QStringLiteral("Cant read/access ") + path);
                    ++outcome.unreadable;
                } else {
                    if (!videoFolder)
                        videoFolder.emplace();
                    const QString target = videoFolder->filePath(QStringLiteral("video%1.dcm").arg(nextNumber));
                    // The row's share of the progress moves with the clip.
                    const auto clipProgress = [&](double part) {
                        if (hooks.progress)
                            hooks.progress(done * 100 + int(part * 100), total * 100);
                    };
                    try {
                        for (const QString &line : writeVideoObjectFile(path, request.transaction, nextNumber, request.companyName,
                                                                        target, stopped, clipProgress))
                            log(line);
                        ++nextNumber;
                        videoFile = target;
                        image = dicom::Image::fromFile(target);
                    } catch (const Error &e) {
                        if (stopped())
                            throw Error(QStringLiteral("The send was stopped."));
                        log(e.description());
                        ++outcome.unconverted;
                    }
                }
            }
            if (image) {
                peer = peerNow();
                try {
                    const int status = dicom::StoreScu(peer).send(*image);
                    if (status != STATUS_Success)
                        log(statusLine(path, status));
                    ++(status == STATUS_Success || DICOM_WARNING_STATUS(status) ? outcome.sent : outcome.notStored);
                } catch (const Error &e) {
                    if (e.code() != STATUS_STORE_Refused_SOPClassNotSupported)
                        throw;
                    log(QStringLiteral("Store refused for %1: %2").arg(path, e.description()));
                    ++outcome.notStored;
                }
            }
            if (!videoFile.isEmpty())
                QFile::remove(videoFile);
            if (hooks.progress)
                hooks.progress(++done, total);
        }
    } catch (const std::exception &e) {
        outcome.numbersUsed = nextNumber - request.firstImageNumber;
        outcome.failure = QStringLiteral("Cannot Send.") + describe(e);
        log(outcome.failure);
        return outcome;
    }
    outcome.numbersUsed = nextNumber - request.firstImageNumber;
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
        },
        options);
}

} // namespace orv
