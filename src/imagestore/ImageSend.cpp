#include "ImageSend.h"

#include "IdentityStamp.h"

#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/dicom/Image.h"

#include <QFileInfo>
#include <QHostInfo>
#include <QSemaphore>

#include <exception>
#include <memory>
#include <optional>

namespace orv {

namespace {

// The DIMSE status a store layer error carries when the archive accepts no presentation context
// for the image's SOP class ("Refused: SOP class not supported").
constexpr int kSopClassNotSupported = 0x0122;

bool isWarning(int status)
{
    return status == 0x0001 || status == 0x0107 || status == 0x0116 || (status & 0xF000) == 0xB000;
}

// Throws when the archive's address does not resolve (network work: not on the GUI thread).
void requireResolvable(const DicomPeer &peer)
{
    const QHostInfo info = QHostInfo::fromName(peer.host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        throw Error(QStringLiteral("The address of the storage archive, \"%1\", cannot be found (%2). Correct it in DICOM "
                                   "Settings.")
                        .arg(peer.host, info.errorString()));
}

// Runs `f` on the thread of `context` and waits for it; gives up when `stop` is set.
void runOnThreadOf(QObject *context, std::function<void()> f, const std::atomic_bool &stop)
{
    struct Call
    {
        QSemaphore done;
        std::exception_ptr error;
    };
    auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(
        context,
        [call, f = std::move(f)] {
            try {
                f();
            } catch (...) {
                call->error = std::current_exception();
            }
            call->done.release();
        },
        Qt::QueuedConnection);
    while (!call->done.tryAcquire(1, 50))
        if (stop)
            throw Error(QStringLiteral("The send was stopped."));
    if (call->error)
        std::rethrow_exception(call->error);
}

} // namespace

SendRequest SendRequest::fromState(const QList<ImageRow> &rows)
{
    const SharedState &st = state();
    return SendRequest{rows, st.Server_Name, SettingsStore::intOf(st.chkOverrideImgPath) == 1};
}

QString ImageSend::statusLine(const QString &path, int status)
{
    const QString hex = QStringLiteral("0x") + QStringLiteral("%1").arg(status, 4, 16, QLatin1Char('0')).toUpper();
    return isWarning(status) ? QStringLiteral("Store status %1 (warning) for %2").arg(hex, path)
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

    DicomPeer peer;
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
    dicom::Image picture; // one object for every picture of this send
    try {
        for (const ImageRow &row : request.rows) {
            if (hooks.stopped && hooks.stopped())
                throw Error(QStringLiteral("The send was stopped."));
            const QString type = row.type.toUpper();
            const QString path = nativePath(rowFilePath(row, request.configuredServerName, request.overrideServerName));
            std::optional<dicom::Image> image;
            if (type == QLatin1String("IMAGE")) {
                if (QFileInfo(path).isFile()) {
                    image = dicom::Image::fromFile(path);
                } else {
                    log(QStringLiteral("Cant read/access ") + path);
                    ++outcome.unreadable;
                }
            } else if (type == QLatin1String("JPG") || type == QLatin1String("BMP")) {
                picture.importPicture(path, type);
                if (hooks.stamp)
                    hooks.stamp(picture);
                else
                    stampIdentity(picture);
                image = picture;
            }
            if (image) {
                peer = peerNow();
                try {
                    const int status = image->send(peer.host, peer.port, peer.callingAe, peer.calledAe);
                    if (status != 0)
                        log(statusLine(path, status));
                    ++(status == 0 || isWarning(status) ? outcome.sent : outcome.notStored);
                } catch (const Error &e) {
                    if (e.code() != kSopClassNotSupported)
                        throw;
                    log(QStringLiteral("Store refused for %1: %2").arg(path, e.description()));
                    ++outcome.notStored;
                }
            }
            if (hooks.progress)
                hooks.progress(++done, total);
        }
    } catch (const std::exception &e) {
        outcome.failure = QStringLiteral("Cannot Send.") + describe(e);
        log(outcome.failure);
        return outcome;
    }
    log(QStringLiteral("Send Complete."));
    outcome.completed = true;
    return outcome;
}

ImageSendWorker::ImageSendWorker(QObject *parent) : PoolWorker(parent)
{
    qRegisterMetaType<orv::SendOutcome>();
}

ImageSendWorker::~ImageSendWorker()
{
    m_stop = true;
    waitForFinished();
}

bool ImageSendWorker::start(const SendRequest &request)
{
    if (isRunning())
        return false;
    m_stop = false;
    dicomNodes(); // loaded here, not by the worker, when nothing has read the settings yet
    return runInPool([this, request] {
        SendHooks hooks;
        hooks.log = [this](const QString &line) { emit logLine(line); };
        hooks.progress = [this](int done, int total) { emit progress(done, total); };
        hooks.stopped = [this] { return m_stop.load(); };
        hooks.stamp = [this](dicom::Image &image) {
            if (m_stop)
                throw Error(QStringLiteral("The send was stopped."));
            runOnThreadOf(this, [image]() mutable { stampIdentity(image); }, m_stop);
        };
        emit finished(ImageSend::send(request, hooks));
    });
}

} // namespace orv
