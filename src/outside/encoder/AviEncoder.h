#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace orv::encoder {

// One video codec the encoder offers for AVI files, with what its options mean to it.
struct CodecInfo
{
    QString name;          // display name
    QByteArray encoder;    // FFmpeg encoder name
    bool dataRate = false; // honours a data-rate limit
    bool keyFrames = false; // honours a forced key-frame interval
    bool quality = false;  // honours the quality slider
};

// The software video encoders of this machine's FFmpeg that write AVI, in a fixed order (Motion
// JPEG, MPEG-4 Part 2, H.264, then the lossless ones). Hardware encoders are left out: they
// need a device the workstation may not have.
const QList<CodecInfo> &aviCodecs();

// What StartEncoding asks of one encoding.
struct EncodeSettings
{
    int codec = 0;            // index into aviCodecs()
    int frameRate = -1;       // frames per second of the clip; -1 = the source's own
    int quality = 75;         // 0..100
    bool forceKeyFrames = false;
    int keyFrameEvery = 8;
    bool limitDataRate = false;
    int bytesPerSecond = 0;
    bool interleave = false;  // audio written in chunks of `interleaveEvery` video frames
    int interleaveEvery = 1;
};

// The AVI encoder control: encodes a live capture source (identified by its capture handle) or
// an AVI input file into an AVI output file. The encoding itself runs on whatever thread the
// executor gives it (a thread of its own by default); the control's operations and its
// EncodingFinished signal belong to the GUI thread. Frames of a live source arrive on the
// source's thread and wait in a short queue; a frame that finds the queue full is dropped and
// counted. Stopping writes out the frames already queued and closes the file, so everything
// captured before the stop is kept; a write failure (a full disc) ends the encoding with what
// was written so far closed as a playable file where the file system still allows it.
class AVIEncoderX : public QObject
{
    Q_OBJECT
public:
    // Runs `work` off the GUI thread; `cancelled` turns true when whoever runs it must stop
    // (the program ends): the work then closes its file and returns.
    using Work = std::function<void(const std::function<bool()> &cancelled)>;
    using Executor = std::function<void(Work work)>;

    explicit AVIEncoderX(QObject *parent = nullptr);
    ~AVIEncoderX() override;

    void setExecutor(Executor executor) { m_executor = std::move(executor); }

    // Input file: setting it probes the file. InputStatus: -2 the file cannot be opened, -1 its
    // format is not supported (no decodable video), else the number of video frames it holds
    // (0 when it does not say).
    QString InputFileName() const { return m_input; }
    void setInputFileName(const QString &path);
    qint32 InputStatus() const { return m_inputStatus; }

    QString OutputFileName() const { return m_output; }
    void setOutputFileName(const QString &path) { m_output = path; }

    // The capture handle of the live source; 0 = none.
    qint32 SourceHandle() const { return m_sourceHandle; }
    void setSourceHandle(qint32 handle) { m_sourceHandle = handle; }

    // Index of the audio list: 0 keeps the input's audio as it is; the sample formats of the
    // other entries are taken as they come (see README).
    qint32 AudioFormat() const { return m_audioFormat; }
    void setAudioFormat(qint32 format) { m_audioFormat = format; }

    // The ALSA capture device whose sound a live clip records (empty = none). The device is
    // opened on the encoding's thread; when it cannot be, the clip records without sound and
    // AudioUnavailable says why. The sound follows the video's clock: what is captured while
    // paused is left out, and the sound is padded or trimmed to stay level with the pictures.
    QString AudioDevice() const { return m_audioDevice; }
    void setAudioDevice(const QString &device) { m_audioDevice = device; }

    // Of the encoding running, else of the last one: percent of the input encoded (-1 for a
    // live source or before any encoding) and whole seconds of video written (-1 before any).
    qint32 Progress() const;
    qint32 ElapsedSeconds() const;

    // Starts encoding into OutputFileName from the input file (source type 0) or the live source
    // (1). Returns 1 when started; otherwise lastError() says why (no output, no source, a codec
    // that refuses the frame size). Arguments in order: source type, frame rate (-1 = the
    // source's), codec index, quality, force key frames (-1 yes), key-frame interval, limit the
    // data rate (-1 yes), bytes per second, interleave audio (-1 yes), interleave interval.
    qint32 StartEncoding(qint32 &sourceType, qint32 frameRate, qint32 codec, qint32 quality, qint32 forceKeyFrames,
                         qint32 keyFrameEvery, qint32 limitDataRate, qint32 bytesPerSecond, qint32 interleave,
                         qint32 interleaveEvery);
    // Stops (a live source) or aborts (a file) the encoding; EncodingFinished follows. Does
    // nothing when not encoding.
    void StopEncoding();
    bool encoding() const { return bool(m_job); }

    bool Paused() const;
    void Pause();
    void Resume();

    // The codec list (the same for both source types): CodecCount is the highest index.
    qint32 CodecCount(qint32 &sourceType) const;
    QString CodecName(qint32 &sourceType, qint32 index) const;
    qint32 CodecSupportsDataRate(qint32 &sourceType, qint32 index) const;
    qint32 CodecSupportsKeyFrames(qint32 &sourceType, qint32 index) const;
    qint32 CodecSupportsQuality(qint32 &sourceType, qint32 index) const;
    qint32 CodecHasAbout(qint32 &sourceType, qint32 index) const;
    qint32 CodecHasConfigure(qint32 &sourceType, qint32 index) const;
    void ShowCodecAbout(qint32 &sourceType, qint32 index);
    void ShowCodecConfigure(qint32 &sourceType, qint32 index);
    void ShowAbout();

    QString lastError() const { return m_lastError; }
    // Of the encoding running or last finished: frames written, and frames a live source
    // delivered that found the queue full.
    qint64 framesWritten() const;
    qint64 framesDropped() const;
    // Frame periods the clip spans (its last timestamp + 1): its duration in frames.
    qint64 frameSpan() const;

    struct Job; // shared by the control, the source's thread and the encoding thread

signals:
    // The encoding has ended: 0 = success, else lastError() says why (what was written is kept).
    void EncodingFinished(qint32 result);
    // The encoding moved on by a whole second of video or a percent of the input: what
    // ElapsedSeconds() and Progress() now return. Sent while encoding, in place of polling.
    void StatisticsChanged(qint32 elapsedSeconds, qint32 progress);
    // The audio device of a live clip could not be opened: the clip goes on without sound.
    void AudioUnavailable(const QString &why);

private:
    void finished(const std::shared_ptr<Job> &job);

    Executor m_executor;
    QString m_input, m_output, m_lastError, m_audioDevice;
    qint32 m_inputStatus = 0;
    qint32 m_sourceHandle = 0;
    qint32 m_audioFormat = 0;
    std::shared_ptr<Job> m_job, m_last;
};

} // namespace orv::encoder
