#include "CaptureStation.h"

#include "ClipRecording.h"

#include "core/CoreRoutines.h"
#include "core/SharedState.h"
#include "outside/Error.h"
#include "outside/capture/Bitmap.h"
#include "outside/capture/CaptureControl.h"
#include "outside/encoder/AviEncoder.h"
#include "outside/dicom/Toolkit.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"

#include <QApplication>
#include <QDir>
#include <QFile>

#include <limits>

namespace orv {

namespace {
const QString kErrorTitle = QStringLiteral("Error:");
const QString kConnectFailed = QStringLiteral("An error occured attempting to connect to the specified device driver!");
const QString kCaptureFailed = QStringLiteral("An error occured while capturing the frame...");
const QString kOpenFailed = QStringLiteral("An error occurred trying to open the specified file!");
const QString kNotSupported = QStringLiteral("The file format is not supported!");
const QString kEncodeFailed = QStringLiteral("The encoding failed to start!");
const QString kCaptureStartFailed = QStringLiteral("Failed to start capture!");
const QString kCounterLimit = QStringLiteral(
    "This window has named 32767 frames and clips, its limit. Close it and open it again to capture more.");

// Empty when the open transaction's number can name a file, else why not.
QString transNoRefusal()
{
    return nameComponentRefusal(openTransaction().value(OpenTransaction::TransNo), QStringLiteral("transaction number"));
}
} // namespace

CaptureStation::CaptureStation(capture::CaptureControl *control, QObject *parent)
    : QObject(parent), m_control(control), m_encoder(new encoder::AVIEncoderX(this))
{
    m_encoder->setObjectName(QStringLiteral("AVIEncoderX1"));
    connect(m_control, &capture::CaptureControl::captureFinished, m_encoder, &encoder::AVIEncoderX::StopEncoding);
    connect(m_encoder, &encoder::AVIEncoderX::EncodingFinished, this, &CaptureStation::encodingFinished);
    connect(m_encoder, &encoder::AVIEncoderX::StatisticsChanged, this, &CaptureStation::statisticsChanged);
    connect(m_encoder, &encoder::AVIEncoderX::AudioUnavailable, this,
            [this](const QString &why) { AddLog(QStringLiteral("Clip %1: %2").arg(m_clipFileName, why)); });
    connect(m_control, &capture::CaptureControl::videoLost, this, [this](const QString &description) {
        m_encoder->setSourceHandle(0);
        emit videoLost(description);
    });
}

CaptureStation::~CaptureStation()
{
    if (m_control && m_control->VideoConnected())
        m_control->DisconnectVideo();
}

bool CaptureStation::nextCounter()
{
    if (m_counter == std::numeric_limits<qint16>::max()) {
        emit failed(kCounterLimit, Prompter::Icon::Warning, kErrorTitle);
        return false;
    }
    ++m_counter;
    return true;
}

bool CaptureStation::selectDriver(int device, QSize requested)
{
    m_control->setRequestedHeight(qint16(requested.height()));
    m_control->setRequestedWidth(qint16(requested.width()));
    if (m_control->VideoConnected())
        m_control->DisconnectVideo();
    const bool connected = m_control->ConnectVideo(qint16(device));
    if (!connected)
        emit failed(kConnectFailed, Prompter::Icon::Critical, kErrorTitle);
    followSource();
    return connected;
}

bool CaptureStation::attachEncoder()
{
    if (!m_control->VideoConnected())
        return false;
    m_encoder->setSourceHandle(m_control->CaptureHandle());
    return true;
}

void CaptureStation::detachEncoder()
{
    m_encoder->setSourceHandle(0);
}

bool CaptureStation::encoderAttached() const
{
    return m_encoder->SourceHandle() != 0;
}

bool CaptureStation::disconnectSource()
{
    if (!m_control->DisconnectVideo())
        return false;
    m_encoder->setSourceHandle(0);
    return true;
}

void CaptureStation::followSource()
{
    if (m_encoder->SourceHandle() != 0)
        m_encoder->setSourceHandle(m_control->CaptureHandle());
}

bool CaptureStation::encoderReady(int sourceType) const
{
    return sourceType == 1 ? m_encoder->SourceHandle() != 0
                           : !m_encoder->OutputFileName().isEmpty() && !m_encoder->InputFileName().isEmpty();
}

bool CaptureStation::recording() const
{
    return m_encoder->encoding();
}

void CaptureStation::captureFrame(bool traced)
{
    if (m_counter == std::numeric_limits<qint16>::max()) {
        nextCounter();
        return;
    }
    if (traced)
        emit traceStep(QStringLiteral("1"));
    OpenTransaction &tr = openTransaction();
    if (const QString refusal = transNoRefusal(); !refusal.isEmpty()) {
        emit failed(refusal, Prompter::Icon::Critical, kErrorTitle);
        return;
    }
    ++m_counter;
    FrameJob job = captureJob(FrameJob::Kind::StationFrame, m_counter);
    if (traced) {
        try {
            job.claimName(); // the traced steps run here, on the GUI thread, one by one
        } catch (const std::exception &e) {
            emit failed(describe(e), Prompter::Icon::Critical, kErrorTitle);
            return;
        }
        job.imageNumber = tr.takeImageNumbers(1);
        captureTraced(job);
        return;
    }
    job.frame = m_control->grabFrame();
    if (job.frame.isNull()) {
        emit failed(kCaptureFailed, Prompter::Icon::Warning, kErrorTitle);
        return;
    }
    job.imageNumber = tr.takeImageNumbers(1);
    submitFrame(job, [station = QPointer<CaptureStation>(this)](const FrameJob &written, bool claimed, const QString &failure) {
        if (!failure.isEmpty()) {
            frameFailed(station, written, claimed, failure);
            return;
        }
        QApplication::beep();
        if (station) {
            station->m_control->setFrameFileName(written.bmpPath());
            emit station->frameTimed(written.objectMs, written.writeMs, written.cpuMs);
            emit station->frameStored(written.dcmPath());
        }
    });
}

void CaptureStation::captureTraced(FrameJob job)
{
    emit traceStep(QStringLiteral("2"));
    job.frame = m_control->grabFrame();
    try {
        if (job.frame.isNull())
            throw Error(m_control->VideoConnected() ? QStringLiteral("The video source has not delivered a frame yet.")
                                                    : QStringLiteral("No video source is connected."));
        capture::writeBitmap(job.frame, job.bmpPath());
    } catch (const std::exception &) {
        openTransaction().giveBackImageNumbers(job.imageNumber, 1);
        QFile::remove(job.dcmPath());
        emit failed(kCaptureFailed, Prompter::Icon::Warning, kErrorTitle);
        return;
    }
    m_control->setFrameFileName(job.bmpPath());
    emit traceStep(job.bmpPath());
    try {
        dicom::Image image = frameImage(job.transaction, job.imageNumber, job.companyName, job.at);
        image.importFrame(job.frame, 100);
        emit traceStep(QStringLiteral("3"));
        emit traceStep(QStringLiteral("3.5"));
        emit traceStep(job.baseName);
        emit traceStep(QString::fromLatin1(dicom::kJpegExtended));
        writeFrameObject(image, job.dcmPath());
        image.setListFileName(job.baseName + QStringLiteral(".dcm"));
        emit traceStep(QStringLiteral("4"));
        listFrame(job, image);
        QApplication::beep();
        emit traceStep(QStringLiteral("5"));
        emit traceStep(QStringLiteral("6"));
        emit frameStored(job.dcmPath());
    } catch (const std::exception &e) {
        frameFailed(this, job, true, describe(e));
    }
}

void CaptureStation::frameFailed(QPointer<CaptureStation> station, const FrameJob &job, bool claimed,
                                 const QString &description)
{
    // Nothing was listed: the number the frame took is given back.
    if (session().isOpen(job.transaction.transNo))
        openTransaction().giveBackImageNumbers(job.imageNumber, 1);
    const QString text = claimed ? QStringLiteral("The captured frame could not be stored as a DICOM file:\n%1").arg(description)
                                 : kCaptureFailed;
    if (station)
        emit station->failed(text, Prompter::Icon::Warning, kErrorTitle);
    else
        msgBox(nullptr, text, Prompter::Icon::Warning, kErrorTitle);
}

QString CaptureStation::nameClip()
{
    if (const QString refusal = transNoRefusal(); !refusal.isEmpty()) {
        m_clipFileName.clear();
        m_encoder->setOutputFileName(QString());
        emit failed(refusal, Prompter::Icon::Critical, kErrorTitle);
        return QString();
    }
    if (!nextCounter())
        return QString();
    // One look into the local temporary folder: a clip never takes an earlier clip's name.
    m_clipFolder = state().TempFolder;
    m_clipFileName = freeCaptureName(m_clipFolder,
                                     captureBaseName(openTransaction().value(OpenTransaction::TransNo), TimeStamp(), m_counter),
                                     {QStringLiteral(".avi")})
                     + QStringLiteral(".avi");
    m_encoder->setOutputFileName(QDir(m_clipFolder).filePath(m_clipFileName));
    return m_clipFileName;
}

bool CaptureStation::setInputFile(const QString &path)
{
    m_encoder->setInputFileName(path);
    const qint32 status = m_encoder->InputStatus();
    if (status == -2 || status == -1) {
        m_encoder->setInputFileName(QString());
        emit failed(status == -2 ? kOpenFailed : kNotSupported, Prompter::Icon::Critical, kErrorTitle);
        return false;
    }
    if (m_encoder->OutputFileName().isEmpty())
        nameClip(); // a file to encode into, so that choosing the input makes the station ready
    return true;
}

bool CaptureStation::startClip(const ClipSettings &s)
{
    if (m_encoder->encoding())
        return false;
    if (nameClip().isEmpty())
        return false;
    const QString transNo = openTransaction().value(OpenTransaction::TransNo);
    m_encoder->setExecutor(clipExecutor(transNo, m_clipFolder, m_clipFileName));
    m_encoder->setAudioFormat(s.audioFormat);
    // A live clip records sound when asked to, from the capture device the store names.
    m_encoder->setAudioDevice(s.sourceType == 1 && s.captureAudio
                                  ? settings().read(apps::VelmorOrvaline, QStringLiteral("Capture"),
                                                    QStringLiteral("AudioDevice"), QStringLiteral("default"))
                                  : QString());
    m_control->setConfirmCapture(s.confirmCapture);
    qint32 type = s.sourceType;
    const qint32 r = m_encoder->StartEncoding(type, -1, s.codec, s.quality, s.forceKeyFrames ? -1 : 0, s.keyFrameEvery,
                                              s.limitDataRate ? -1 : 0, s.kilobytesPerSecond * 1024,
                                              s.interleave ? -1 : 0, s.interleaveEvery);
    if (r != 1) {
        AddLog(QStringLiteral("Clip %1: %2").arg(m_clipFileName, m_encoder->lastError()));
        emit failed(kEncodeFailed, Prompter::Icon::Critical, QString());
        return false;
    }
    if (type == 1) {
        m_control->setCaptureToEncoder(1);
        if (!m_control->StartCapture()) {
            emit failed(kCaptureStartFailed, Prompter::Icon::Critical, QString());
            m_encoder->StopEncoding();
            return false;
        }
    }
    setClipState(ClipState::Recording);
    return true;
}

void CaptureStation::stopClip()
{
    if (!m_encoder->encoding())
        return;
    if (m_control->capturing())
        m_control->StopCapture(); // its capture-finished event stops the encoder
    else
        m_encoder->StopEncoding();
    if (m_encoder->encoding())
        setClipState(ClipState::Stopping);
}

void CaptureStation::pauseClip()
{
    if (m_clipState != ClipState::Recording || m_encoder->Paused())
        return;
    m_encoder->Pause();
    setClipState(ClipState::Paused);
}

void CaptureStation::resumeClip()
{
    if (m_clipState != ClipState::Paused || !m_encoder->Paused())
        return;
    m_encoder->Resume();
    setClipState(ClipState::Recording);
}

void CaptureStation::shutDown()
{
    // A clip still recording is stopped here and closed and listed by its job.
    if (m_encoder->encoding()) {
        m_control->StopCapture();
        m_encoder->StopEncoding();
    }
    if (m_control->VideoConnected())
        m_control->DisconnectVideo();
}

void CaptureStation::setClipState(ClipState state)
{
    if (m_clipState == state)
        return;
    m_clipState = state;
    emit clipStateChanged(state);
}

void CaptureStation::encodingFinished(qint32 result)
{
    if (m_control->capturing())
        m_control->StopCapture(); // the encoder ended on its own (a write failure)
    emit statisticsChanged(m_encoder->ElapsedSeconds(), m_encoder->Progress());
    setClipState(ClipState::Idle);
    QApplication::beep();
    if (result != 0)
        emit failed(QStringLiteral("The clip %1 could not be completed:\n%2\nWhat was recorded up to then is kept.")
                        .arg(m_clipFileName, m_encoder->lastError()),
                    Prompter::Icon::Critical, kErrorTitle);
    emit clipFinished(result);
}

} // namespace orv
