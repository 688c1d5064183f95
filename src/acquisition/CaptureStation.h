#pragma once

#include "FrameCapture.h"

#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"

#include <QObject>
#include <QPointer>
#include <QSize>

namespace orv {

namespace encoder {
class AVIEncoderX;
}

// What one clip recording asks of the encoder (the options of the station's window).
struct ClipSettings
{
    int sourceType = 1; // 0 encode the input file, 1 the live source
    int codec = 0;
    int quality = 75;
    bool forceKeyFrames = false;
    int keyFrameEvery = 8;
    bool limitDataRate = false;
    int kilobytesPerSecond = 300;
    bool interleave = false;
    int interleaveEvery = 1;
    int audioFormat = 0;
    bool captureAudio = false;
    bool confirmCapture = false;
};

// The capture station beneath the "Acquire" window: drives the capture control (the window's
// live picture), owns the AVI encoder, numbers frames and clips with one counter, and writes
// captured frames and clips of the open transaction. Widget-free; the window shows what it
// signals and asks nothing by polling. GUI thread only.
class CaptureStation : public QObject
{
    Q_OBJECT
public:
    enum class ClipState { Idle, Recording, Paused, Stopping };
    Q_ENUM(ClipState)

    // `control` stays the caller's (it is the window's live picture); it must outlive the station.
    explicit CaptureStation(capture::CaptureControl *control, QObject *parent = nullptr);
    // Disconnects the driver when still connected.
    ~CaptureStation() override;

    capture::CaptureControl *control() const { return m_control; }
    encoder::AVIEncoderX *encoder() const { return m_encoder; }

    // Frames and clips named so far.
    int counter() const { return m_counter; }
    // Takes the next counter value; at the limit (32767) it refuses and signals failed().
    bool nextCounter();

    // Select/Apply: asks for `requested` (0 x 0 = the driver's default), disconnects and connects
    // driver `device`; an attached encoder follows the new connection. False (and failed()
    // signalled) when the driver does not connect.
    bool selectDriver(int device, QSize requested);
    // The encoder attached to the live source (the Connect step) or detached (Disconnect).
    bool attachEncoder();
    void detachEncoder();
    bool encoderAttached() const;
    // Disconnects the driver and detaches the encoder; false when the driver refuses.
    bool disconnectSource();
    // After the driver changed connection by other means (driver picker, presets).
    void followSource();

    // True when the chosen encoder source is ready: the live source attached (type 1), or an
    // input and an output file chosen (type 0).
    bool encoderReady(int sourceType) const;
    bool recording() const;
    ClipState clipState() const { return m_clipState; }

    // Captures the current frame of the open transaction and writes it in the background;
    // frameStored() follows, or failed(). With `traced`, the steps run here one by one and
    // traceStep() is signalled between them (maintenance mode); the frame's bitmap is then
    // written too, for the trace names it.
    void captureFrame(bool traced);

    // Names the next clip in the capture temp folder and gives it to the encoder as its output;
    // empty (and failed() signalled) when the transaction number cannot name a file.
    QString nameClip();
    // The file to encode when the source is a file; false (failed() signalled) when unreadable.
    bool setInputFile(const QString &path);
    // Starts recording into a newly named clip; false (failed() signalled) when it cannot start.
    bool startClip(const ClipSettings &settings);
    // Stops the recording: the clip is closed and listed by its job; clipFinished() follows.
    void stopClip();
    void pauseClip();
    void resumeClip();
    // The window goes: a running clip is stopped (its job still lists it), the driver disconnected.
    void shutDown();

    QString clipFolder() const { return m_clipFolder; }
    QString clipFileName() const { return m_clipFileName; }

signals:
    // A captured frame was written, added to the viewer and listed as a New row.
    void frameStored(const QString &dcmPath);
    // How long the writer took for it (milliseconds: building the object with its JPEG, writing
    // the file, and the processor time of both).
    void frameTimed(double objectMs, double writeMs, double cpuMs);
    // A message for the operator (a failed capture, connection or clip).
    void failed(const QString &text, orv::Prompter::Icon icon, const QString &title);
    // A step of a traced frame capture.
    void traceStep(const QString &text);
    void clipStateChanged(orv::CaptureStation::ClipState state);
    // The recording's statistics: whole seconds of video written and percent of the input
    // encoded (-1 when unknown, as for a live source).
    void statisticsChanged(qint32 elapsedSeconds, qint32 progress);
    // A clip recording has ended (the station is idle again); its row follows from the session.
    void clipFinished(qint32 result);
    // The live source stopped delivering and was disconnected.
    void videoLost(const QString &description);

private:
    void setClipState(ClipState state);
    void encodingFinished(qint32 result);
    void captureTraced(FrameJob job);
    static void frameFailed(QPointer<CaptureStation> station, const FrameJob &job, bool claimed,
                            const QString &description);

    QPointer<capture::CaptureControl> m_control; // the window's; it may go first when the window is deleted
    encoder::AVIEncoderX *m_encoder;
    qint16 m_counter = 0;
    ClipState m_clipState = ClipState::Idle;
    QString m_clipFolder, m_clipFileName;
};

} // namespace orv
