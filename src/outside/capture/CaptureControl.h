#pragma once

#include "CaptureDriver.h"

#include <QImage>
#include <QMutex>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

namespace orv::capture {

// The video capture control: lists the installed drivers, connects one at a requested frame size,
// shows its live picture and writes the current frame as a bitmap. Frames are produced and decoded
// on the stream's thread and scaled there for display; the GUI thread only blits them.
// Operations report failure by their result; lastError() then says why.
class CaptureControl : public QWidget
{
    Q_OBJECT
public:
    explicit CaptureControl(QWidget *parent = nullptr);
    ~CaptureControl() override;

    // Drivers, read when the control is created.
    int DriverCount() const { return int(m_drivers.size()); }
    QString DriverName(int index) const;
    QString DriverVersion(int index) const;

    // Frame size asked of the driver at the next connection; 0 = the driver's default.
    void setRequestedWidth(qint16 width) { m_requested.setWidth(width); }
    void setRequestedHeight(qint16 height) { m_requested.setHeight(height); }
    qint16 RequestedWidth() const { return qint16(m_requested.width()); }
    qint16 RequestedHeight() const { return qint16(m_requested.height()); }

    // Connects driver `index` (disconnecting the current one first); true when it delivers.
    bool ConnectVideo(qint16 index);
    bool VideoConnected() const { return m_source != nullptr; }
    bool DisconnectVideo();
    // The connected driver's index, -1 when none.
    int connectedDriver() const { return m_connected; }
    // Size of the frames of the connected stream.
    QSize frameSize() const;

    // The driver's dialogs: its picture adjustments (source), its frame sizes (format).
    bool HasSourceDialog() const;
    bool HasFormatDialog() const;
    bool HasDisplayDialog() const;
    bool HasOverlay() const;
    void ShowSourceDialog();
    void ShowFormatDialog();
    void ShowDisplayDialog();
    void ShowCompressionDialog();

    // 0 none, 1 overlay, 2 preview (the live picture is shown in preview and overlay).
    int DisplayMode() const { return m_displayMode; }
    void setDisplayMode(int mode);

    QString FrameFileName() const { return m_frameFileName; }
    void setFrameFileName(const QString &path) { m_frameFileName = path; }
    QString AVIFileName() const { return m_aviFileName; }
    void setAVIFileName(const QString &path) { m_aviFileName = path; }

    // Writes the current frame as a bitmap to FrameFileName. The arguments are kept for callers
    // written against the control's original signature and do not change the result.
    bool CaptureFrame(qint32 &quality, qint16 &flags);
    // The most recent frame (a shared copy; null when none has arrived).
    QImage grabFrame() const;

    bool CaptureAudioEnabled() const { return m_captureAudio; }
    void setCaptureAudioEnabled(bool on) { m_captureAudio = on; }
    bool ConfirmCapture() const { return m_confirm; }
    void setConfirmCapture(bool on) { m_confirm = on; }
    bool LimitEnabled() const { return m_limit; }
    void setLimitEnabled(bool on) { m_limit = on; }
    bool AbortLeftMouse() const { return m_abortLeft; }
    void setAbortLeftMouse(bool on) { m_abortLeft = on; }
    bool AbortRightMouse() const { return m_abortRight; }
    void setAbortRightMouse(bool on) { m_abortRight = on; }

    // Non-zero while connected: identifies the connected source to the encoder (see fromHandle).
    qint32 CaptureHandle() const { return m_handle; }
    static CaptureControl *fromHandle(qint32 handle);

    // The live capture into the encoder. The encoder attaches its receiver, called on the
    // stream's thread with each frame and the steady-clock microsecond it arrived; StartCapture
    // (with CaptureToEncoder set) starts handing frames over, StopCapture ends it and raises
    // captureFinished, as does the loss of the device during a capture.
    using EncoderSink = std::function<void(const QImage &frame, qint64 arrivedUs)>;
    void setEncoderSink(EncoderSink sink);
    void setCaptureToEncoder(qint32 on) { m_toEncoder = on != 0; }
    bool StartCapture();
    void StopCapture();
    bool capturing() const { return m_capturing.load(); }

    // Presets: the frame size, display mode, capture options and picture adjustments of the
    // connected driver, kept per name and slot (0..9) as files in the user's data folder.
    bool SavePreset(const QString &name, int slot);
    bool LoadPreset(const QString &name, int slot);
    static QString presetFolder();

    // The connected device's picture adjustments (what the source dialog shows).
    QList<DeviceControl> deviceControls() const;
    void setDeviceControl(const QString &name, int value);

    QString lastError() const { return m_lastError; }
    // Frames painted so far (the live picture's progress; benchmarks watch it).
    qint64 framesShown() const { return m_framesShown; }

signals:
    // The live capture into the encoder has ended.
    void captureFinished();
    // The connected device stopped delivering; the control is disconnected.
    void videoLost(const QString &description);
    void frameShown();
    // A frame arrived from the device (emitted on the stream's thread; receivers on the GUI
    // thread get it queued).
    void frameDelivered();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void onFrame(const QImage &frame);
    void onLost(const QString &description);
    bool fail(const QString &description);
    QString presetPath(const QString &name, int slot) const;

    QList<std::shared_ptr<CaptureDriver>> m_drivers;
    std::unique_ptr<FrameSource> m_source;
    int m_connected = -1;
    qint32 m_handle = 0;
    QSize m_requested;
    int m_displayMode = 2;
    QString m_frameFileName, m_aviFileName, m_lastError;
    bool m_captureAudio = false, m_confirm = false, m_limit = false, m_abortLeft = false, m_abortRight = false;

    bool m_toEncoder = false;
    std::atomic<bool> m_capturing{false};
    QMutex m_sinkMutex; // guards the sink (called by the stream's thread)
    EncoderSink m_sink;

    mutable QMutex m_frameMutex; // guards the two frames below (written by the stream's thread)
    QImage m_latest, m_display;
    std::atomic<int> m_displayWidth{0}, m_displayHeight{0};
    std::atomic<bool> m_updatePending{false};
    qint64 m_framesShown = 0;
};

} // namespace orv::capture
