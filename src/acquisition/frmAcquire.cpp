#include "frmAcquire.h"

#include "ClipRecording.h"

#include "frmPresets.h"
#include "frmSelectDriver.h"

#include "core/CoreRoutines.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"
#include "outside/encoder/AviEncoder.h"
#include "outside/dicom/Toolkit.h"
#include "session/ExamSession.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace orv {

namespace {

const QString kSection = QStringLiteral("Codec");
const QString kNoDrivers = QStringLiteral("There are no drivers installed!");
const QString kConnectFailed = QStringLiteral("An error occured attempting to connect to the specified device driver!");
const QString kCaptureFailed = QStringLiteral("An error occured while capturing the frame...");
const QString kErrorTitle = QStringLiteral("Error:");
const QString kOpenFailed = QStringLiteral("An error occurred trying to open the specified file!");
const QString kNotSupported = QStringLiteral("The file format is not supported!");
const QString kEncodeFailed = QStringLiteral("The encoding failed to start!");
const QString kCaptureStartFailed = QStringLiteral("Failed to start capture!");
const QString kCounterLimit = QStringLiteral(
    "This window has named 32767 frames and clips, its limit. Close it and open it again to capture more.");

int readSetting(const QString &key)
{
    return SettingsStore::intOf(settings().read(apps::VelmorOrvaline, kSection, key));
}

void writeSetting(const QString &key, int value)
{
    settings().write(apps::VelmorOrvaline, kSection, key, QString::number(value));
}

// The encoding lists of the clip recording, filled when the window opens.
QStringList audioFormats()
{
    QStringList out{QStringLiteral("[Default/No Recompression]")};
    for (const char *rate : {"8", "11.025", "12", "16", "22.050", "24", "32", "44.100", "48"})
        for (const char *kind : {"8 Bit, Mono", "8 Bit, Stereo", "16 Bit, Mono", "16 Bit, Stereo"})
            out << QStringLiteral("%1 KHz, %2").arg(QLatin1String(rate), QLatin1String(kind));
    return out;
}

QComboBox *comboOf(QWidget *parent, const char *name)
{
    auto *c = namedControl<QComboBox>(parent, name);
    c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return c;
}

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption)
{
    auto *g = new QGroupBox(caption.trimmed(), parent);
    if (name)
        g->setObjectName(QLatin1String(name));
    return g;
}

QWidget *row(QWidget *parent, std::initializer_list<QWidget *> widgets, bool stretch = true)
{
    auto *w = new QWidget(parent);
    auto *l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    for (QWidget *x : widgets)
        l->addWidget(x);
    if (stretch)
        l->addStretch();
    return w;
}


} // namespace

frmAcquire *frmAcquire::instance()
{
    auto &w = windowInstance<frmAcquire>();
    if (!w)
        w = new frmAcquire();
    return w;
}

frmAcquire *frmAcquire::loaded()
{
    return windowInstance<frmAcquire>();
}

frmAcquire::frmAcquire()
{
    setObjectName(QStringLiteral("frmAcquire"));
    setWindowTitle(QStringLiteral("Acquire"));
    setAttribute(Qt::WA_DeleteOnClose);
    buildLayout();
    applyDisconnectedState();
    cmdCaptureBMP->setEnabled(false);
    cmdCaptureAVI->setEnabled(false);
    btnFormatDialog->setEnabled(false); // until a driver is connected (ControlsEnabled)
    for (QPushButton *b : {cmdEncode, cmdStopEncoder, cmdPause, cmdResume, cmdAboutCODEC, cmdConfigureCODEC})
        b->setEnabled(false);

    connect(cmdSelect, &QPushButton::clicked, this, &frmAcquire::cmdSelect_Click);
    connect(cmdConnect, &QPushButton::clicked, this, &frmAcquire::cmdConnect_Click);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmAcquire::cmdDisconnect_Click);
    connect(Command1, &QPushButton::clicked, this, &frmAcquire::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmAcquire::Command2_Click);
    connect(cmdCaptureBMP, &QPushButton::clicked, this, &frmAcquire::cmdCaptureBMP_Click);
    connect(cmdSourceDialog, &QPushButton::clicked, actiVideoX1, &capture::CaptureControl::ShowSourceDialog);
    connect(cmdFormatDialog, &QPushButton::clicked, actiVideoX1, &capture::CaptureControl::ShowFormatDialog);
    connect(btnFormatDialog, &QPushButton::clicked, actiVideoX1, &capture::CaptureControl::ShowFormatDialog);
    connect(cmdDisplayDialog, &QPushButton::clicked, actiVideoX1, &capture::CaptureControl::ShowDisplayDialog);
    connect(cmdCompressionDialog, &QPushButton::clicked, actiVideoX1, &capture::CaptureControl::ShowCompressionDialog);
    connect(cmdSavePreset, &QPushButton::clicked, this, [this] { openPresets(true); });
    connect(cmdLoadPreset, &QPushButton::clicked, this, [this] { openPresets(false); });
    connect(chkShowOptions, &QCheckBox::toggled, fraOptions, &QWidget::setVisible);
    connect(cmdCancel, &QPushButton::clicked, this, [this] {
        if (cmdCancel->isEnabled())
            close();
    });
    for (auto [option, mode] : {std::pair{optDsplNone, 0}, std::pair{optDsplOverlay, 1}, std::pair{optDsplPreview, 2}})
        connect(option, &QRadioButton::clicked, this, [this, mode = mode] { actiVideoX1->setDisplayMode(mode); });
    for (auto [check, combo] : {std::pair{chkDatarate, cmbDatarate}, std::pair{chkKeyframes, cmbKeyframes},
                                std::pair{chkInterleave, cmbInterleave}})
        connect(check, &QCheckBox::toggled, combo, &QWidget::setEnabled);
    for (QRadioButton *o : {optSourceFile, optSourceVfW})
        connect(o, &QRadioButton::clicked, this, [this] {
            ReloadCODECs();
            EncodeEnable();
        });
    connect(actiVideoX1, &capture::CaptureControl::captureFinished, this, &frmAcquire::CaptureFinished);
    connect(AVIEncoderX1, &encoder::AVIEncoderX::EncodingFinished, this, &frmAcquire::EncodingFinished);
    connect(cmdEncode, &QPushButton::clicked, this, &frmAcquire::cmdEncode_Click);
    connect(AVIEncoderX1, &encoder::AVIEncoderX::AudioUnavailable, this,
            [this](const QString &why) { AddLog(QStringLiteral("Clip %1: %2").arg(txtOutputFilename->text(), why)); });
    connect(cmdStopEncoder, &QPushButton::clicked, this, &frmAcquire::cmdStopEncoder_Click);
    connect(cmdPause, &QPushButton::clicked, this, &frmAcquire::cmdPause_Click);
    connect(cmdResume, &QPushButton::clicked, this, &frmAcquire::cmdResume_Click);
    connect(cmdOutputFile, &QPushButton::clicked, this, &frmAcquire::cmdOutputFile_Click);
    connect(cmdInputFile, &QPushButton::clicked, this, &frmAcquire::cmdInputFile_Click);
    connect(tmrStats, &QTimer::timeout, this, &frmAcquire::tmrStats_Timer);
    connect(lstCODECs, &QListWidget::currentRowChanged, this, &frmAcquire::SelectCODEC);
    connect(cmdAbout, &QPushButton::clicked, AVIEncoderX1, &encoder::AVIEncoderX::ShowAbout);
    connect(cmdAboutCODEC, &QPushButton::clicked, this, [this] {
        qint32 type = sourceType();
        AVIEncoderX1->ShowCodecAbout(type, lstCODECs->currentRow());
    });
    connect(cmdConfigureCODEC, &QPushButton::clicked, this, [this] {
        qint32 type = sourceType();
        AVIEncoderX1->ShowCodecConfigure(type, lstCODECs->currentRow());
    });
    connect(actiVideoX1, &capture::CaptureControl::videoLost, this, &frmAcquire::videoLost);
    qApp->installEventFilter(this);
}

frmAcquire::~frmAcquire()
{
    qApp->removeEventFilter(this);
    if (actiVideoX1->VideoConnected())
        actiVideoX1->DisconnectVideo();
}

void frmAcquire::buildLayout()
{
    actiVideoX1 = new capture::CaptureControl(this);
    actiVideoX1->setObjectName(QStringLiteral("actiVideoX1"));
    actiVideoX1->setMinimumSize(480, 360);
    actiVideoX1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    AVIEncoderX1 = new encoder::AVIEncoderX(this);
    AVIEncoderX1->setObjectName(QStringLiteral("AVIEncoderX1"));

    // Driver area.
    auto *fraDriver = frame(this, "fraDriver", QStringLiteral("Video Source"));
    cmbDevices = comboOf(fraDriver, "cmbDevices");
    cmbResolution = comboOf(fraDriver, "cmbResolution");
    cmdSelect = namedControl<QPushButton>(fraDriver, "cmdSelect", QStringLiteral("Select/Apply"));
    chkCaptureAudio = namedControl<QCheckBox>(fraDriver, "chkCaptureAudio", QStringLiteral("Capt&ure Audio"));
    chkHitOKToCapture = namedControl<QCheckBox>(fraDriver, "chkHitOKToCapture", QStringLiteral("Hit OK to Capture"));
    cmdConnect = namedControl<QPushButton>(fraDriver, "cmdConnect", QStringLiteral("Connect"));
    cmdDisconnect = namedControl<QPushButton>(fraDriver, "cmdDisconnect", QStringLiteral("Disconnect"));
    Command2 = namedControl<QPushButton>(fraDriver, "Command2", QStringLiteral("&Connect Source"));
    Command1 = namedControl<QPushButton>(fraDriver, "Command1", QStringLiteral("&Disconnect Source"));
    lblVideoConnected = namedControl<QLabel>(this, "lblVideoConnected", QStringLiteral("Video Not Connected"));
    QFont bold = lblVideoConnected->font();
    bold.setBold(true);
    lblVideoConnected->setFont(bold);
    auto *driverGrid = new QGridLayout(fraDriver);
    driverGrid->addWidget(new QLabel(QStringLiteral("Available Drivers:"), fraDriver), 0, 0, 1, 2);
    driverGrid->addWidget(cmbDevices, 1, 0, 1, 2);
    driverGrid->addWidget(new QLabel(QStringLiteral("Requested Resolution:"), fraDriver), 2, 0);
    driverGrid->addWidget(cmbResolution, 2, 1);
    driverGrid->addWidget(cmdSelect, 3, 1);
    driverGrid->addWidget(chkCaptureAudio, 3, 0);
    driverGrid->addWidget(chkHitOKToCapture, 4, 0, 1, 2);
    driverGrid->addWidget(cmdConnect, 5, 0);
    driverGrid->addWidget(cmdDisconnect, 5, 1);
    driverGrid->addWidget(Command2, 6, 0);
    driverGrid->addWidget(Command1, 6, 1);

    // Display mode.
    auto *fraDisplay = frame(this, "fraDisplay", QStringLiteral(" Display mode "));
    optDsplNone = namedControl<QRadioButton>(fraDisplay, "optDsplNone", QStringLiteral("None"));
    optDsplOverlay = namedControl<QRadioButton>(fraDisplay, "optDsplOverlay", QStringLiteral("Overlay"));
    optDsplPreview = namedControl<QRadioButton>(fraDisplay, "optDsplPreview", QStringLiteral("Preview"));
    auto *displayRow = new QHBoxLayout(fraDisplay);
    for (QRadioButton *o : {optDsplNone, optDsplOverlay, optDsplPreview})
        displayRow->addWidget(o);

    // Driver dialogs and presets.
    auto *fraDialogs = frame(this, "fraDialogs", QStringLiteral("Driver"));
    cmdSourceDialog = namedControl<QPushButton>(fraDialogs, "cmdSourceDialog", QStringLiteral("Source Dialog"));
    cmdFormatDialog = namedControl<QPushButton>(fraDialogs, "cmdFormatDialog", QStringLiteral("Format Dialog"));
    cmdDisplayDialog = namedControl<QPushButton>(fraDialogs, "cmdDisplayDialog", QStringLiteral("Display Dialog"));
    cmdCompressionDialog = namedControl<QPushButton>(fraDialogs, "cmdCompressionDialog", QStringLiteral("Compression Dialog"));
    cmdSavePreset = namedControl<QPushButton>(fraDialogs, "cmdSavePreset", QStringLiteral("Save Preset"));
    cmdLoadPreset = namedControl<QPushButton>(fraDialogs, "cmdLoadPreset", QStringLiteral("Load Preset"));
    auto *dialogGrid = new QGridLayout(fraDialogs);
    dialogGrid->addWidget(cmdSourceDialog, 0, 0);
    dialogGrid->addWidget(cmdFormatDialog, 0, 1);
    dialogGrid->addWidget(cmdDisplayDialog, 1, 0);
    dialogGrid->addWidget(cmdCompressionDialog, 1, 1);
    dialogGrid->addWidget(cmdSavePreset, 2, 0);
    dialogGrid->addWidget(cmdLoadPreset, 2, 1);

    // Commands.
    cmdCaptureBMP = namedControl<QPushButton>(this, "cmdCaptureBMP", QStringLiteral("Capture &Frame"));
    cmdEncode = namedControl<QPushButton>(this, "cmdEncode", QStringLiteral("Capture &Video"));
    cmdStopEncoder = namedControl<QPushButton>(this, "cmdStopEncoder", QStringLiteral("&Stop"));
    cmdPause = namedControl<QPushButton>(this, "cmdPause", QStringLiteral("&Pause"));
    cmdResume = namedControl<QPushButton>(this, "cmdResume", QStringLiteral("&Resume"));
    cmdCancel = namedControl<QPushButton>(this, "cmdCancel", QStringLiteral("Close"));
    chkShowOptions = namedControl<QCheckBox>(this, "chkShowOptions", QStringLiteral("Show &Options"));
    cmdCaptureBMP->setDefault(true);
    fraEnc = frame(this, "fraEnc", QString());
    (new QHBoxLayout(fraEnc))->addWidget(new QLabel(QStringLiteral("Please wait... Encoding Video."), fraEnc));
    fraEnc->hide();
    lblInfo = namedControl<QLabel>(this, "lblInfo",
                            QStringLiteral("    F8=Start Encode   F3=Cancel       F9=Stop Encode   F11=Pause   F12=Resume   "));
    tmrStats = new QTimer(this);
    tmrStats->setObjectName(QStringLiteral("tmrStats"));

    // Options: capture parameters, files and the encoder.
    fraOptions = frame(this, "fraOptions", QStringLiteral("Options"));
    auto *fraParams = frame(fraOptions, "fraParams", QStringLiteral(" Capture parameters "));
    chkLimitEnabled = namedControl<QCheckBox>(fraParams, "chkLimitEnabled", QStringLiteral("Time Limit Enabled"));
    chkAbortLeftMouse = namedControl<QCheckBox>(fraParams, "chkAbortLeftMouse", QStringLiteral("Abort Capture w/ Left Mouse Button"));
    chkAbortRightMouse = namedControl<QCheckBox>(fraParams, "chkAbortRightMouse", QStringLiteral("Abort Capture w/ Right Mouse Button"));
    auto *paramsBox = new QVBoxLayout(fraParams);
    for (QCheckBox *c : {chkLimitEnabled, chkAbortLeftMouse, chkAbortRightMouse}) {
        c->setAttribute(Qt::WA_TransparentForMouseEvents); // they display the control's values
        c->setFocusPolicy(Qt::NoFocus);
        paramsBox->addWidget(c);
    }
    auto *fraFiles = frame(fraOptions, "fraFiles", QStringLiteral("Files"));
    txtBMPFile = namedControl<QLineEdit>(fraFiles, "txtBMPFile");
    txtAVIFile = namedControl<QLineEdit>(fraFiles, "txtAVIFile");
    txtBMPFile->setReadOnly(true);
    txtAVIFile->setReadOnly(true);
    cmdCaptureAVI = namedControl<QPushButton>(fraFiles, "cmdCaptureAVI", QStringLiteral("Capture AVI"));
    btnFormatDialog = namedControl<QPushButton>(fraFiles, "btnFormatDialog", QStringLiteral("Format Dialog"));
    auto *filesGrid = new QGridLayout(fraFiles);
    filesGrid->addWidget(new QLabel(QStringLiteral("Enter bitmap filename:"), fraFiles), 0, 0);
    filesGrid->addWidget(txtBMPFile, 0, 1);
    filesGrid->addWidget(new QLabel(QStringLiteral("Enter AVI filename:"), fraFiles), 1, 0);
    filesGrid->addWidget(txtAVIFile, 1, 1);
    filesGrid->addWidget(row(fraFiles, {cmdCaptureAVI, btnFormatDialog}), 2, 1);

    auto *fraInput = frame(fraOptions, "fraInput", QStringLiteral(" Input "));
    optSourceFile = namedControl<QRadioButton>(fraInput, "optSourceFile", QStringLiteral("Encode a file:"));
    optSourceVfW = namedControl<QRadioButton>(fraInput, "optSourceVfW", QStringLiteral("Encode a live source"));
    cmdInputFile = namedControl<QPushButton>(fraInput, "cmdInputFile", QStringLiteral("[...]"));
    optSourceVfW->setChecked(true);
    auto *inputBox = new QVBoxLayout(fraInput);
    inputBox->addWidget(row(fraInput, {optSourceFile, cmdInputFile}));
    inputBox->addWidget(optSourceVfW);

    auto *fraOutput = frame(fraOptions, "fraOutput", QStringLiteral(" Output "));
    txtOutputFilePath = namedControl<QLineEdit>(fraOutput, "txtOutputFilePath");
    txtOutputFilename = namedControl<QLineEdit>(fraOutput, "txtOutputFilename");
    cmdOutputFile = namedControl<QPushButton>(fraOutput, "cmdOutputFile", QStringLiteral("[...]"));
    auto *outputBox = new QVBoxLayout(fraOutput);
    outputBox->addWidget(txtOutputFilePath);
    outputBox->addWidget(row(fraOutput, {txtOutputFilename, cmdOutputFile}, false));

    auto *fraCompression = frame(fraOptions, "fraCompression", QStringLiteral(" Video Compression "));
    lstCODECs = namedControl<QListWidget>(fraCompression, "lstCODECs");
    lstCODECs->setMaximumHeight(90);
    srlQuality = namedControl<QSlider>(fraCompression, "srlQuality");
    srlQuality->setOrientation(Qt::Horizontal);
    srlQuality->setRange(0, 100);
    srlQuality->setValue(75);
    chkDatarate = namedControl<QCheckBox>(fraCompression, "chkDatarate", QStringLiteral("Limit Datarate to:"));
    chkKeyframes = namedControl<QCheckBox>(fraCompression, "chkKeyframes", QStringLiteral("Force keyframe:"));
    chkInterleave = namedControl<QCheckBox>(fraCompression, "chkInterleave", QStringLiteral("Interleave every:"));
    cmbDatarate = comboOf(fraCompression, "cmbDatarate");
    cmbKeyframes = comboOf(fraCompression, "cmbKeyframes");
    cmbInterleave = comboOf(fraCompression, "cmbInterleave");
    cmdAboutCODEC = namedControl<QPushButton>(fraCompression, "cmdAboutCODEC", QStringLiteral("About..."));
    cmdConfigureCODEC = namedControl<QPushButton>(fraCompression, "cmdConfigureCODEC", QStringLiteral("Configure..."));
    auto *compGrid = new QGridLayout(fraCompression);
    compGrid->addWidget(lstCODECs, 0, 0, 1, 3);
    compGrid->addWidget(new QLabel(QStringLiteral("Quality:"), fraCompression), 1, 0);
    compGrid->addWidget(srlQuality, 1, 1, 1, 2);
    compGrid->addWidget(chkDatarate, 2, 0);
    compGrid->addWidget(cmbDatarate, 2, 1);
    compGrid->addWidget(new QLabel(QStringLiteral("KB/s"), fraCompression), 2, 2);
    compGrid->addWidget(chkKeyframes, 3, 0);
    compGrid->addWidget(cmbKeyframes, 3, 1);
    compGrid->addWidget(new QLabel(QStringLiteral("frame"), fraCompression), 3, 2);
    compGrid->addWidget(chkInterleave, 4, 0);
    compGrid->addWidget(cmbInterleave, 4, 1);
    compGrid->addWidget(row(fraCompression, {cmdAboutCODEC, cmdConfigureCODEC}), 5, 0, 1, 3);
    for (QComboBox *c : {cmbDatarate, cmbKeyframes, cmbInterleave})
        c->setEnabled(false);

    auto *fraAudio = frame(fraOptions, "fraAudio", QStringLiteral(" Audio Format "));
    cmbAudioFormat = comboOf(fraAudio, "cmbAudioFormat");
    (new QVBoxLayout(fraAudio))->addWidget(cmbAudioFormat);

    auto *fraStats = frame(fraOptions, "fraStats", QStringLiteral(" Encoding Statistics "));
    lblProgress = namedControl<QLabel>(fraStats, "lblProgress");
    lblTime = namedControl<QLabel>(fraStats, "lblTime");
    cmdAbout = namedControl<QPushButton>(fraStats, "cmdAbout", QStringLiteral("About!"));
    auto *statsGrid = new QGridLayout(fraStats);
    statsGrid->addWidget(new QLabel(QStringLiteral("Encoding progress:"), fraStats), 0, 0);
    statsGrid->addWidget(lblProgress, 0, 1);
    statsGrid->addWidget(new QLabel(QStringLiteral("AVI Length:"), fraStats), 1, 0);
    statsGrid->addWidget(lblTime, 1, 1);
    statsGrid->addWidget(cmdAbout, 2, 1);

    auto *optionsGrid = new QGridLayout(fraOptions);
    optionsGrid->addWidget(fraParams, 0, 0);
    optionsGrid->addWidget(fraFiles, 1, 0);
    optionsGrid->addWidget(fraInput, 2, 0);
    optionsGrid->addWidget(fraOutput, 3, 0);
    optionsGrid->addWidget(fraCompression, 0, 1, 3, 1);
    optionsGrid->addWidget(fraAudio, 3, 1);
    optionsGrid->addWidget(fraStats, 0, 2, 2, 1);
    fraOptions->hide();

    // The window: live picture and commands on the left, the driver on the right, options below.
    auto *left = new QVBoxLayout;
    left->addWidget(actiVideoX1, 1);
    left->addWidget(lblVideoConnected);
    left->addWidget(row(this, {cmdCaptureBMP, cmdEncode, cmdStopEncoder, cmdPause, cmdResume}));
    left->addWidget(fraEnc);
    left->addWidget(lblInfo);
    auto *right = new QVBoxLayout;
    right->addWidget(fraDriver);
    right->addWidget(fraDisplay);
    right->addWidget(fraDialogs);
    right->addStretch();
    right->addWidget(chkShowOptions);
    right->addWidget(cmdCancel);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right);
    auto *main = new QVBoxLayout(this);
    main->addLayout(top, 1);
    main->addWidget(fraOptions);
    resize(900, 560);
}

void frmAcquire::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
}

void frmAcquire::Form_Load()
{
    WaitCursor wait;
    RestoreWindow(this);
    chkShowOptions->setChecked(readSetting(QStringLiteral("ShowOptions")) != 0);
    fraOptions->setVisible(chkShowOptions->isChecked());

    cmbResolution->addItems({QStringLiteral("Default"), QStringLiteral("80x60"), QStringLiteral("112x84"),
                             QStringLiteral("120x90"), QStringLiteral("160x120"), QStringLiteral("192x144"),
                             QStringLiteral("240x180"), QStringLiteral("320x240"), QStringLiteral("640x480"),
                             QStringLiteral("720x576")});
    cmbResolution->setCurrentIndex(0);
    cmbAudioFormat->addItems(audioFormats());
    cmbAudioFormat->setCurrentIndex(0);
    cmbDatarate->addItems({QStringLiteral("150"), QStringLiteral("300"), QStringLiteral("600"), QStringLiteral("900")});
    cmbDatarate->setCurrentIndex(1);
    cmbInterleave->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("10")});
    cmbInterleave->setCurrentIndex(0);
    cmbKeyframes->addItems({QStringLiteral("1"), QStringLiteral("4"), QStringLiteral("8"), QStringLiteral("16")});
    cmbKeyframes->setCurrentIndex(2);

    const int count = actiVideoX1->DriverCount();
    if (count >= 1) {
        for (int i = 0; i < count; ++i)
            cmbDevices->addItem(QStringLiteral("[%1] Ver. %2").arg(actiVideoX1->DriverName(i), actiVideoX1->DriverVersion(i)));
        cmbDevices->setEnabled(true);
        cmdSelect->setEnabled(true);
        const int device = readSetting(QStringLiteral("Device"));
        if (device >= 0 && device < count)
            cmbDevices->setCurrentIndex(device);
    } else {
        cmbDevices->addItem(kNoDrivers);
        cmbDevices->setCurrentIndex(0);
        cmbDevices->setEnabled(false);
        cmdSelect->setEnabled(false);
    }

    const int audio = readSetting(QStringLiteral("Audio"));
    if (audio >= 0 && audio < cmbAudioFormat->count())
        cmbAudioFormat->setCurrentIndex(audio);
    chkCaptureAudio->setChecked(readSetting(QStringLiteral("CaptureAudio")) != 0);
    chkHitOKToCapture->setChecked(readSetting(QStringLiteral("HitOKToCapture")) != 0);
    const int resolution = readSetting(QStringLiteral("Resolution"));
    if (resolution >= 0 && resolution < cmbResolution->count())
        cmbResolution->setCurrentIndex(resolution);

    cmdSelect_Click();
    cmdConnect_Click();
    ReloadCODECs();
    // A stored codec beyond the list (another machine's FFmpeg) leaves the first one chosen.
    const int type = readSetting(QStringLiteral("Type"));
    lstCODECs->setCurrentRow(type >= 0 && type < lstCODECs->count() ? type : 0);
    actiVideoX1->setCaptureAudioEnabled(chkCaptureAudio->isChecked());
}

void frmAcquire::cmdSelect_Click()
{
    const QSize size = requestedSize(cmbResolution->currentIndex(), cmbResolution->currentText());
    actiVideoX1->setRequestedHeight(qint16(size.height()));
    actiVideoX1->setRequestedWidth(qint16(size.width()));
    if (actiVideoX1->VideoConnected())
        actiVideoX1->DisconnectVideo();
    // The controls and the label follow the driver's connection, whatever connected it: a live
    // picture is never shown, nor a frame captured, under "Video Not Connected".
    if (actiVideoX1->ConnectVideo(qint16(cmbDevices->currentIndex()))) {
        const bool encoderAttached = AVIEncoderX1->SourceHandle() != 0;
        ControlsEnabled();
        cmdConnect->setEnabled(!encoderAttached);
        cmdDisconnect->setEnabled(encoderAttached);
    } else {
        applyDisconnectedState();
        msgBox(this, kConnectFailed, Prompter::Icon::Critical, kErrorTitle);
    }
    followSource();
}

// An attached encoder follows the capture control to its new connection, or loses its source.
void frmAcquire::followSource()
{
    if (AVIEncoderX1->SourceHandle() == 0)
        return;
    AVIEncoderX1->setSourceHandle(actiVideoX1->CaptureHandle());
    EncodeEnable();
}

void frmAcquire::cmdConnect_Click()
{
    if (!actiVideoX1->VideoConnected())
        return;
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    AVIEncoderX1->setSourceHandle(actiVideoX1->CaptureHandle());
    EncodeEnable();
}

void frmAcquire::cmdDisconnect_Click()
{
    AVIEncoderX1->setSourceHandle(0);
    EncodeEnable();
    cmdConnect->setEnabled(true);
    cmdDisconnect->setEnabled(false);
}

void frmAcquire::Command1_Click()
{
    if (actiVideoX1->DisconnectVideo()) {
        AVIEncoderX1->setSourceHandle(0);
        EncodeEnable();
        applyDisconnectedState();
        UpdatePropertiesDisplay();
    }
}

void frmAcquire::Command2_Click()
{
    frmSelectDriver picker(this);
    picker.exec();
    followSource();
}

void frmAcquire::openPresets(bool save)
{
    frmPresets picker(actiVideoX1, this);
    picker.lblFormat->setText(save ? QStringLiteral("Select Preset format to save:")
                                   : QStringLiteral("Select Preset format to load:"));
    picker.setSaveFlag(save);
    picker.exec();
    followSource(); // loading a preset may reconnect at another frame size
    UpdatePropertiesDisplay();
}

void frmAcquire::applyDisconnectedState()
{
    cmdConnect->setEnabled(true);
    for (QWidget *w : std::initializer_list<QWidget *>{cmdDisconnect, optDsplNone, optDsplOverlay, optDsplPreview,
                                                       cmdSourceDialog, cmdFormatDialog, cmdDisplayDialog,
                                                       cmdCompressionDialog, cmdSavePreset, cmdLoadPreset, cmdCaptureBMP,
                                                       cmdCaptureAVI})
        w->setEnabled(false);
    lblVideoConnected->setText(QStringLiteral("Video Not Connected"));
    lblVideoConnected->setStyleSheet(QStringLiteral("color: rgb(0, 0, 0);"));
}

void frmAcquire::ControlsEnabled()
{
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    optDsplNone->setEnabled(true);
    optDsplPreview->setEnabled(true);
    optDsplOverlay->setEnabled(actiVideoX1->HasOverlay());
    cmdSourceDialog->setEnabled(actiVideoX1->HasSourceDialog());
    cmdFormatDialog->setEnabled(actiVideoX1->HasFormatDialog());
    btnFormatDialog->setEnabled(actiVideoX1->HasFormatDialog());
    cmdDisplayDialog->setEnabled(actiVideoX1->HasDisplayDialog());
    for (QPushButton *b : {cmdCompressionDialog, cmdSavePreset, cmdLoadPreset, cmdCaptureBMP, cmdCaptureAVI})
        b->setEnabled(true);
    lblVideoConnected->setText(QStringLiteral("Video Connected"));
    lblVideoConnected->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
}

void frmAcquire::UpdatePropertiesDisplay()
{
    txtBMPFile->setText(actiVideoX1->FrameFileName());
    txtAVIFile->setText(actiVideoX1->AVIFileName());
    chkHitOKToCapture->setChecked(actiVideoX1->ConfirmCapture());
    chkCaptureAudio->setChecked(actiVideoX1->CaptureAudioEnabled());
    chkLimitEnabled->setChecked(actiVideoX1->LimitEnabled());
    chkAbortLeftMouse->setChecked(actiVideoX1->AbortLeftMouse());
    chkAbortRightMouse->setChecked(actiVideoX1->AbortRightMouse());
    if (actiVideoX1->VideoConnected()) {
        QRadioButton *options[] = {optDsplNone, optDsplOverlay, optDsplPreview};
        const int mode = actiVideoX1->DisplayMode();
        if (mode >= 0 && mode <= 2) {
            options[mode]->setChecked(true);
        } else {
            for (QRadioButton *o : options) {
                o->setAutoExclusive(false);
                o->setChecked(false);
                o->setAutoExclusive(true);
            }
        }
    }
}

void frmAcquire::CaptureFinished()
{
    AVIEncoderX1->StopEncoding();
}

int frmAcquire::sourceType() const
{
    return optSourceFile->isChecked() ? 0 : 1;
}

void frmAcquire::EncodeEnable()
{
    const bool ready = sourceType() == 1
                           ? AVIEncoderX1->SourceHandle() != 0
                           : !AVIEncoderX1->OutputFileName().isEmpty() && !AVIEncoderX1->InputFileName().isEmpty();
    cmdEncode->setEnabled(ready && !AVIEncoderX1->encoding());
    // A frame needs the live picture whatever the encoder's source.
    cmdCaptureBMP->setEnabled(ready && actiVideoX1->VideoConnected() && !AVIEncoderX1->encoding());
}

void frmAcquire::ReloadCODECs()
{
    lstCODECs->clear();
    qint32 type = sourceType();
    const int last = AVIEncoderX1->CodecCount(type);
    for (int i = 0; i <= last; ++i)
        lstCODECs->addItem(AVIEncoderX1->CodecName(type, i));
}

void frmAcquire::SelectCODEC()
{
    const int c = lstCODECs->currentRow();
    qint32 type = sourceType();
    cmdAboutCODEC->setEnabled(c >= 0 && AVIEncoderX1->CodecHasAbout(type, c) != 0);
    cmdConfigureCODEC->setEnabled(c >= 0 && AVIEncoderX1->CodecHasConfigure(type, c) != 0);
    const bool rate = c >= 0 && AVIEncoderX1->CodecSupportsDataRate(type, c) != 0;
    chkDatarate->setEnabled(rate);
    cmbDatarate->setEnabled(rate && chkDatarate->isChecked());
    const bool keys = c >= 0 && AVIEncoderX1->CodecSupportsKeyFrames(type, c) != 0;
    chkKeyframes->setEnabled(keys);
    cmbKeyframes->setEnabled(keys && chkKeyframes->isChecked());
    srlQuality->setEnabled(c >= 0 && AVIEncoderX1->CodecSupportsQuality(type, c) != 0);
}

// Frames and clips share the window's counter; false (and the operator told) at its limit.
bool frmAcquire::nextCounter()
{
    if (m_counter == std::numeric_limits<qint16>::max()) {
        msgBox(this, kCounterLimit, Prompter::Icon::Warning, kErrorTitle);
        return false;
    }
    ++m_counter;
    return true;
}

void frmAcquire::cmdOutputFile_Click()
{
    const QString refusal = nameComponentRefusal(openTransaction().value(OpenTransaction::TransNo), QStringLiteral("transaction number"));
    if (!refusal.isEmpty()) {
        txtOutputFilename->clear();
        AVIEncoderX1->setOutputFileName(QString());
        msgBox(this, refusal, Prompter::Icon::Critical, kErrorTitle);
        EncodeEnable();
        return;
    }
    if (!nextCounter())
        return;
    // One look into the local temporary folder: a clip never takes an earlier clip's name.
    txtOutputFilename->setText(freeCaptureName(state().TempFolder,
                                               captureBaseName(openTransaction().value(OpenTransaction::TransNo), TimeStamp(), m_counter),
                                               {QStringLiteral(".avi")})
                               + QStringLiteral(".avi"));
    txtOutputFilePath->setText(state().TempFolder);
    AVIEncoderX1->setOutputFileName(QDir(txtOutputFilePath->text()).filePath(txtOutputFilename->text()));
    EncodeEnable();
}

void frmAcquire::cmdInputFile_Click()
{
    const QString path = OpenFileDialog(this, QStringLiteral("AVI files (*.avi)|*.avi"),
                                        QStringLiteral("Select Input Filename:"), QString());
    if (path.isEmpty())
        return;
    AVIEncoderX1->setInputFileName(path);
    const qint32 status = AVIEncoderX1->InputStatus();
    if (status == -2 || status == -1) {
        msgBox(this, status == -2 ? kOpenFailed : kNotSupported, Prompter::Icon::Critical, kErrorTitle);
        AVIEncoderX1->setInputFileName(QString());
        EncodeEnable();
        return;
    }
    if (AVIEncoderX1->OutputFileName().isEmpty())
        cmdOutputFile_Click(); // a file to encode into, so that choosing the input makes the station ready
    EncodeEnable();
}

void frmAcquire::cmdEncode_Click()
{
    if (AVIEncoderX1->encoding())
        return;
    cmdOutputFile_Click();
    if (AVIEncoderX1->OutputFileName().isEmpty())
        return;
    const QString transNo = openTransaction().value(OpenTransaction::TransNo);
    AVIEncoderX1->setExecutor(clipExecutor(transNo, txtOutputFilePath->text(), txtOutputFilename->text()));
    AVIEncoderX1->setAudioFormat(cmbAudioFormat->currentIndex());
    // A live clip records sound when asked to, from the capture device the store names.
    AVIEncoderX1->setAudioDevice(sourceType() == 1 && chkCaptureAudio->isChecked()
                                     ? settings().read(apps::VelmorOrvaline, QStringLiteral("Capture"),
                                                       QStringLiteral("AudioDevice"), QStringLiteral("default"))
                                     : QString());
    actiVideoX1->setConfirmCapture(chkHitOKToCapture->isChecked());
    qint32 type = sourceType();
    const qint32 r = AVIEncoderX1->StartEncoding(
        type, -1, lstCODECs->currentRow(), srlQuality->value(), chkKeyframes->isChecked() ? -1 : 0,
        cmbKeyframes->currentText().toInt(), chkDatarate->isChecked() ? -1 : 0, cmbDatarate->currentText().toInt() * 1024,
        chkInterleave->isChecked() ? -1 : 0, cmbInterleave->currentText().toInt());
    cmdResume->setEnabled(false);
    if (r != 1) {
        AddLog(QStringLiteral("Clip %1: %2").arg(txtOutputFilename->text(), AVIEncoderX1->lastError()));
        msgBox(this, kEncodeFailed, Prompter::Icon::Critical);
        return;
    }
    if (type == 1) {
        actiVideoX1->setCaptureToEncoder(1);
        if (!actiVideoX1->StartCapture()) {
            msgBox(this, kCaptureStartFailed, Prompter::Icon::Critical);
            AVIEncoderX1->StopEncoding();
            return;
        }
    }
    cmdPause->setEnabled(true);
    for (QPushButton *b : {cmdResume, cmdEncode, cmdCaptureBMP, cmdCancel})
        b->setEnabled(false);
    cmdStopEncoder->setEnabled(true);
    tmrStats->start(500);
}

void frmAcquire::tmrStats_Timer()
{
    const qint32 elapsed = AVIEncoderX1->ElapsedSeconds();
    lblTime->setText(elapsed < 0 ? QStringLiteral("N/A") : QStringLiteral("%1 sec.").arg(elapsed));
    const qint32 progress = AVIEncoderX1->Progress();
    lblProgress->setText(progress < 0 ? QStringLiteral("N/A") : QStringLiteral("%1%").arg(progress));
}

void frmAcquire::cmdPause_Click()
{
    if (AVIEncoderX1->Paused())
        return;
    AVIEncoderX1->Pause();
    cmdPause->setEnabled(false);
    cmdResume->setEnabled(true);
}

void frmAcquire::cmdResume_Click()
{
    if (!AVIEncoderX1->Paused())
        return;
    AVIEncoderX1->Resume();
    cmdPause->setEnabled(true);
    cmdResume->setEnabled(false);
}

void frmAcquire::cmdStopEncoder_Click()
{
    cmdStopEncoder->setEnabled(false);
    cmdPause->setEnabled(false);
    fraEnc->show();
    if (sourceType() == 1 && actiVideoX1->capturing())
        actiVideoX1->StopCapture(); // its capture-finished event stops the encoder
    else
        AVIEncoderX1->StopEncoding();
    if (!m_stopping && AVIEncoderX1->encoding()) {
        m_stopping = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
}

void frmAcquire::EncodingFinished(qint32 result)
{
    tmrStats->stop();
    tmrStats_Timer();
    if (actiVideoX1->capturing())
        actiVideoX1->StopCapture(); // the encoder ended on its own (a write failure)
    for (QPushButton *b : {cmdPause, cmdResume, cmdStopEncoder})
        b->setEnabled(false);
    if (m_stopping) {
        m_stopping = false;
        QApplication::restoreOverrideCursor();
    }
    fraEnc->hide();
    EncodeEnable();
    QApplication::beep();
    cmdCancel->setEnabled(true);
    if (result != 0)
        msgBox(this,
               QStringLiteral("The clip %1 could not be completed:\n%2\nWhat was recorded up to then is kept.")
                   .arg(txtOutputFilename->text(), AVIEncoderX1->lastError()),
               Prompter::Icon::Critical, kErrorTitle);
    emit clipFinished(result);
}

void frmAcquire::trace(const QString &text)
{
    msgBox(this, text);
}

void frmAcquire::cmdCaptureBMP_Click()
{
    const bool tracing = state().MaintenanceMode;
    if (m_counter == std::numeric_limits<qint16>::max()) {
        nextCounter();
        return;
    }
    if (tracing)
        trace(QStringLiteral("1"));
    OpenTransaction &tr = openTransaction();
    if (const QString refusal = nameComponentRefusal(tr.value(OpenTransaction::TransNo), QStringLiteral("transaction number"));
        !refusal.isEmpty()) {
        msgBox(this, refusal, Prompter::Icon::Critical, kErrorTitle);
        return;
    }
    ++m_counter;
    const QString folder = state().TempFolder;
    FrameJob job;
    job.folder = folder;
    job.baseName = captureBaseName(tr.value(OpenTransaction::TransNo), TimeStamp(), m_counter);
    job.bmpPath = QDir(folder).filePath(job.baseName + QStringLiteral(".bmp"));
    job.dcmPath = QDir(folder).filePath(job.baseName + QStringLiteral(".dcm"));
    job.transaction = tr.record();
    job.companyName = state().CompanyName;
    job.at = QDateTime::currentDateTime();
    if (tracing) {
        try {
            job.claimName(); // the traced steps run here, on the GUI thread, one by one
        } catch (const std::exception &e) {
            msgBox(this, describe(e), Prompter::Icon::Critical, kErrorTitle);
            return;
        }
        actiVideoX1->setFrameFileName(job.bmpPath);
        job.imageNumber = tr.takeImageNumbers(1);
        captureTraced(job);
        return;
    }
    job.frame = actiVideoX1->grabFrame();
    if (job.frame.isNull()) {
        msgBox(this, kCaptureFailed, Prompter::Icon::Warning, kErrorTitle);
        return;
    }
    job.imageNumber = tr.takeImageNumbers(1);
    submitFrame(job, [window = QPointer<frmAcquire>(this)](const FrameJob &written, bool bitmapWritten, const QString &failure) {
        if (!failure.isEmpty()) {
            frameFailed(window, written, bitmapWritten, failure);
            return;
        }
        QApplication::beep();
        if (window) {
            window->actiVideoX1->setFrameFileName(written.bmpPath);
            emit window->frameTimed(written.bitmapMs, written.objectMs, written.cpuMs);
            emit window->frameStored(written.dcmPath);
        }
    });
}

// The same steps on the GUI thread, one by one, with the maintenance trace between them.
void frmAcquire::captureTraced(FrameJob job)
{
    trace(QStringLiteral("2"));
    qint32 quality = 100;
    qint16 flags = 0;
    if (!actiVideoX1->CaptureFrame(quality, flags)) {
        openTransaction().giveBackImageNumbers(job.imageNumber, 1);
        msgBox(this, kCaptureFailed, Prompter::Icon::Warning, kErrorTitle);
        return;
    }
    job.bmpPath = actiVideoX1->FrameFileName();
    trace(job.bmpPath);
    try {
        dicom::Image image = frameImage(job.transaction, job.imageNumber, job.companyName, job.at);
        image.importPicture(job.bmpPath, QStringLiteral("BMP"));
        trace(QStringLiteral("3"));
        trace(QStringLiteral("3.5"));
        trace(job.baseName);
        trace(QString::fromLatin1(dicom::kJpegExtended));
        writeFrameObject(image, job.dcmPath);
        const dicom::Image shown = viewerImage(job);
        trace(QStringLiteral("4"));
        listFrame(job, shown);
        QApplication::beep();
        trace(QStringLiteral("5"));
        trace(QStringLiteral("6"));
        emit frameStored(job.dcmPath);
    } catch (const std::exception &e) {
        frameFailed(this, job, true, describe(e));
    }
}

void frmAcquire::frameFailed(QWidget *parent, const FrameJob &job, bool bitmapWritten, const QString &description)
{
    // Nothing was listed: the number the frame took is given back.
    if (session().isOpen(job.transaction.transNo))
        openTransaction().giveBackImageNumbers(job.imageNumber, 1);
    if (!bitmapWritten)
        msgBox(parent, kCaptureFailed, Prompter::Icon::Warning, kErrorTitle);
    else
        msgBox(parent, QStringLiteral("The captured frame could not be stored as a DICOM file:\n%1").arg(description),
               Prompter::Icon::Warning, kErrorTitle);
}

void frmAcquire::videoLost(const QString &description)
{
    AVIEncoderX1->setSourceHandle(0);
    EncodeEnable();
    applyDisconnectedState();
    UpdatePropertiesDisplay();
    msgBox(this, QStringLiteral("The video source stopped delivering frames and was disconnected:\n%1").arg(description),
           Prompter::Icon::Critical, kErrorTitle);
}

bool frmAcquire::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto *w = static_cast<QWidget *>(watched);
    if (w->window() != this)
        return false;
    QPushButton *target = nullptr;
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_F3: target = cmdCancel; break;
    case Qt::Key_F8: target = cmdEncode; break;
    case Qt::Key_F9: target = cmdStopEncoder; break;
    case Qt::Key_F11: target = cmdPause; break;
    case Qt::Key_F12: target = cmdResume; break;
    default: return false;
    }
    if (target->isEnabled())
        target->click();
    return true;
}

void frmAcquire::closeEvent(QCloseEvent *event)
{
    // Frames still being written are listed by the session after the window has gone; so is a
    // clip still recording: it is stopped here and closed and listed by its job.
    if (AVIEncoderX1->encoding()) {
        actiVideoX1->StopCapture();
        AVIEncoderX1->StopEncoding();
        if (m_stopping) {
            m_stopping = false;
            QApplication::restoreOverrideCursor();
        }
    }
    if (actiVideoX1->VideoConnected())
        actiVideoX1->DisconnectVideo();
    SettingsStore::Batch batch(settings());
    writeSetting(QStringLiteral("Type"), lstCODECs->currentRow());
    writeSetting(QStringLiteral("Audio"), cmbAudioFormat->currentIndex());
    writeSetting(QStringLiteral("CaptureAudio"), chkCaptureAudio->isChecked() ? 1 : 0);
    writeSetting(QStringLiteral("Device"), cmbDevices->currentIndex());
    writeSetting(QStringLiteral("ShowOptions"), chkShowOptions->isChecked() ? 1 : 0);
    writeSetting(QStringLiteral("HitOKToCapture"), chkHitOKToCapture->isChecked() ? 1 : 0);
    writeSetting(QStringLiteral("Resolution"), cmbResolution->currentIndex());
    SaveWindow(this);
    event->accept();
}

} // namespace orv
