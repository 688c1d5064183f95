#pragma once

#include "CaptureStation.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;

namespace orv {

namespace capture {
class CaptureControl;
}
namespace encoder {
class AVIEncoderX;
}

// The window of the video capture station ("Acquire"): its controls, settings and messages over
// a CaptureStation, which connects the driver, captures frames and records clips of the open
// transaction and signals what happens; the window shows it and polls nothing. One instance; it
// unloads (and disconnects the driver) when closed. Frames still being written when it closes
// are listed by the session afterwards.
class frmAcquire : public QWidget
{
    Q_OBJECT
public:
    static frmAcquire *instance();
    // The instance if loaded, else nullptr.
    static frmAcquire *loaded();
    ~frmAcquire() override;

    // The connected state of the controls (applied by the driver picker).
    void ControlsEnabled();
    // Copies the capture control's properties into the option controls.
    void UpdatePropertiesDisplay();
    // Enables "Capture Video" (and frame capture) when the chosen source is ready.
    void EncodeEnable();
    // Refills the codec list for the source type; enables the options the selected codec takes.
    void ReloadCODECs();
    void SelectCODEC();

    // Frames and clips named so far by this window.
    int frameCounter() const;
    // The widget-free station this window shows.
    CaptureStation *station() const { return m_station; }

    capture::CaptureControl *actiVideoX1 = nullptr;
    encoder::AVIEncoderX *AVIEncoderX1 = nullptr;
    QComboBox *cmbDevices = nullptr, *cmbResolution = nullptr, *cmbAudioFormat = nullptr, *cmbDatarate = nullptr,
              *cmbKeyframes = nullptr, *cmbInterleave = nullptr;
    QPushButton *cmdSelect = nullptr, *cmdConnect = nullptr, *cmdDisconnect = nullptr, *Command2 = nullptr,
                *Command1 = nullptr, *cmdSourceDialog = nullptr, *cmdFormatDialog = nullptr, *btnFormatDialog = nullptr,
                *cmdDisplayDialog = nullptr, *cmdCompressionDialog = nullptr, *cmdSavePreset = nullptr,
                *cmdLoadPreset = nullptr, *cmdInputFile = nullptr, *cmdOutputFile = nullptr, *cmdAboutCODEC = nullptr,
                *cmdConfigureCODEC = nullptr, *cmdAbout = nullptr, *cmdCaptureBMP = nullptr, *cmdCaptureAVI = nullptr,
                *cmdEncode = nullptr, *cmdStopEncoder = nullptr, *cmdPause = nullptr, *cmdResume = nullptr,
                *cmdCancel = nullptr;
    QCheckBox *chkCaptureAudio = nullptr, *chkHitOKToCapture = nullptr, *chkLimitEnabled = nullptr,
              *chkAbortLeftMouse = nullptr, *chkAbortRightMouse = nullptr, *chkShowOptions = nullptr,
              *chkDatarate = nullptr, *chkKeyframes = nullptr, *chkInterleave = nullptr;
    QRadioButton *optDsplNone = nullptr, *optDsplOverlay = nullptr, *optDsplPreview = nullptr,
                 *optSourceFile = nullptr, *optSourceVfW = nullptr;
    QLabel *lblVideoConnected = nullptr, *lblProgress = nullptr, *lblTime = nullptr, *lblInfo = nullptr;
    QLineEdit *txtBMPFile = nullptr, *txtAVIFile = nullptr, *txtOutputFilePath = nullptr, *txtOutputFilename = nullptr;
    QListWidget *lstCODECs = nullptr;
    QSlider *srlQuality = nullptr;
    QGroupBox *fraOptions = nullptr, *fraEnc = nullptr;

signals:
    // A captured frame was written, added to the viewer and listed as a New row.
    void frameStored(const QString &dcmPath);
    // How long the writer took for it (milliseconds: building the object with its JPEG, writing
    // the file, and the processor time of both).
    void frameTimed(double objectMs, double writeMs, double cpuMs);
    // A clip recording has ended (the station is idle again); its row follows from the session.
    void clipFinished(qint32 result);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmAcquire();
    void buildLayout();
    void Form_Load();
    void cmdSelect_Click();
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void Command1_Click();
    void Command2_Click();
    void cmdCaptureBMP_Click();
    void openPresets(bool save);
    void applyDisconnectedState();
    void videoLost(const QString &description);
    void followSource();
    int sourceType() const;
    void showClipName();
    void showStatistics(qint32 elapsedSeconds, qint32 progress);
    void showClipState(CaptureStation::ClipState state);
    void cmdOutputFile_Click();
    void cmdInputFile_Click();
    void cmdEncode_Click();
    void cmdStopEncoder_Click();

    CaptureStation *m_station = nullptr;
    bool m_stopping = false; // a stop was asked for; the hourglass shows until the clip is closed
    bool m_loaded = false;
};

} // namespace orv
