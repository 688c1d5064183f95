#include "frmAcquire.h"

#include "CaptureStation.h"

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
#include <QVBoxLayout>

namespace orv {

namespace {

const QString kSection = QStringLiteral("Codec");
const QString kNoDrivers = QStringLiteral("There are no drivers installed!");
const QString kErrorTitle = QStringLiteral("Error:");

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
    connect(cmdEncode, &QPushButton::clicked, this, &frmAcquire::cmdEncode_Click);
    connect(cmdStopEncoder, &QPushButton::clicked, this, &frmAcquire::cmdStopEncoder_Click);
    connect(cmdPause, &QPushButton::clicked, m_station, &CaptureStation::pauseClip);
    connect(cmdResume, &QPushButton::clicked, m_station, &CaptureStation::resumeClip);
    connect(cmdOutputFile, &QPushButton::clicked, this, &frmAcquire::cmdOutputFile_Click);
    connect(cmdInputFile, &QPushButton::clicked, this, &frmAcquire::cmdInputFile_Click);
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

    // What the station reports.
    connect(m_station, &CaptureStation::failed, this,
            [this](const QString &text, Prompter::Icon icon, const QString &title) { msgBox(this, text, icon, title); });
    connect(m_station, &CaptureStation::traceStep, this, [this](const QString &text) { msgBox(this, text); });
    connect(m_station, &CaptureStation::frameStored, this, &frmAcquire::frameStored);
    connect(m_station, &CaptureStation::frameTimed, this, &frmAcquire::frameTimed);
    connect(m_station, &CaptureStation::statisticsChanged, this, &frmAcquire::showStatistics);
    connect(m_station, &CaptureStation::clipStateChanged, this, &frmAcquire::showClipState);
    connect(m_station, &CaptureStation::clipFinished, this, [this](qint32 result) {
        EncodeEnable();
        emit clipFinished(result);
    });
    connect(m_station, &CaptureStation::videoLost, this, &frmAcquire::videoLost);
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
    m_station = new CaptureStation(actiVideoX1, this);
    AVIEncoderX1 = m_station->encoder();

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
    // The controls and the label follow the driver's connection, whatever connected it: a live
    // picture is never shown, nor a frame captured, under "Video Not Connected".
    if (m_station->selectDriver(cmbDevices->currentIndex(),
                                requestedSize(cmbResolution->currentIndex(), cmbResolution->currentText()))) {
        const bool encoderAttached = m_station->encoderAttached();
        ControlsEnabled();
        cmdConnect->setEnabled(!encoderAttached);
        cmdDisconnect->setEnabled(encoderAttached);
    } else {
        applyDisconnectedState();
    }
    followSource();
}

// An attached encoder follows the capture control to its new connection, or loses its source.
void frmAcquire::followSource()
{
    if (!m_station->encoderAttached())
        return;
    m_station->followSource();
    EncodeEnable();
}

void frmAcquire::cmdConnect_Click()
{
    if (!m_station->attachEncoder())
        return;
    cmdConnect->setEnabled(false);
    cmdDisconnect->setEnabled(true);
    EncodeEnable();
}

void frmAcquire::cmdDisconnect_Click()
{
    m_station->detachEncoder();
    EncodeEnable();
    cmdConnect->setEnabled(true);
    cmdDisconnect->setEnabled(false);
}

void frmAcquire::Command1_Click()
{
    if (m_station->disconnectSource()) {
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

int frmAcquire::frameCounter() const
{
    return m_station->counter();
}

int frmAcquire::sourceType() const
{
    return optSourceFile->isChecked() ? 0 : 1;
}

void frmAcquire::EncodeEnable()
{
    const bool ready = m_station->encoderReady(sourceType());
    const bool recording = m_station->recording();
    cmdEncode->setEnabled(ready && !recording);
    // A frame needs the live picture whatever the encoder's source.
    cmdCaptureBMP->setEnabled(ready && actiVideoX1->VideoConnected() && !recording);
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

// The output named by the station (empty when the transaction number could not name it).
void frmAcquire::showClipName()
{
    txtOutputFilename->setText(m_station->clipFileName());
    if (!m_station->clipFileName().isEmpty())
        txtOutputFilePath->setText(m_station->clipFolder());
}

void frmAcquire::cmdOutputFile_Click()
{
    m_station->nameClip();
    showClipName();
    EncodeEnable();
}

void frmAcquire::cmdInputFile_Click()
{
    const QString path = OpenFileDialog(this, QStringLiteral("AVI files (*.avi)|*.avi"),
                                        QStringLiteral("Select Input Filename:"), QString());
    if (path.isEmpty())
        return;
    if (m_station->setInputFile(path))
        showClipName();
    EncodeEnable();
}

void frmAcquire::cmdEncode_Click()
{
    if (m_station->recording())
        return;
    ClipSettings s;
    s.sourceType = sourceType();
    s.codec = lstCODECs->currentRow();
    s.quality = srlQuality->value();
    s.forceKeyFrames = chkKeyframes->isChecked();
    s.keyFrameEvery = cmbKeyframes->currentText().toInt();
    s.limitDataRate = chkDatarate->isChecked();
    s.kilobytesPerSecond = cmbDatarate->currentText().toInt();
    s.interleave = chkInterleave->isChecked();
    s.interleaveEvery = cmbInterleave->currentText().toInt();
    s.audioFormat = cmbAudioFormat->currentIndex();
    s.captureAudio = chkCaptureAudio->isChecked();
    s.confirmCapture = chkHitOKToCapture->isChecked();
    const bool started = m_station->startClip(s);
    showClipName();
    if (!started)
        EncodeEnable();
}

void frmAcquire::showStatistics(qint32 elapsedSeconds, qint32 progress)
{
    lblTime->setText(elapsedSeconds < 0 ? QStringLiteral("N/A") : QStringLiteral("%1 sec.").arg(elapsedSeconds));
    lblProgress->setText(progress < 0 ? QStringLiteral("N/A") : QStringLiteral("%1%").arg(progress));
}

void frmAcquire::cmdStopEncoder_Click()
{
    cmdStopEncoder->setEnabled(false);
    cmdPause->setEnabled(false);
    fraEnc->show();
    m_station->stopClip();
}

void frmAcquire::showClipState(CaptureStation::ClipState state)
{
    using State = CaptureStation::ClipState;
    const bool busy = state != State::Idle;
    cmdPause->setEnabled(state == State::Recording);
    cmdResume->setEnabled(state == State::Paused);
    cmdStopEncoder->setEnabled(state == State::Recording || state == State::Paused);
    fraEnc->setVisible(state == State::Stopping);
    // The hourglass shows from the stop asked for until the clip is closed.
    if (state == State::Stopping && !m_stopping) {
        m_stopping = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (state != State::Stopping && m_stopping) {
        m_stopping = false;
        QApplication::restoreOverrideCursor();
    }
    cmdCancel->setEnabled(!busy);
    if (busy) {
        cmdEncode->setEnabled(false);
        cmdCaptureBMP->setEnabled(false);
    } else {
        EncodeEnable();
    }
}

void frmAcquire::cmdCaptureBMP_Click()
{
    m_station->captureFrame(state().MaintenanceMode);
}

void frmAcquire::videoLost(const QString &description)
{
    EncodeEnable();
    applyDisconnectedState();
    UpdatePropertiesDisplay();
    msgBox(this, QStringLiteral("The video source stopped delivering frames and was disconnected:\n%1").arg(description),
           Prompter::Icon::Critical, QStringLiteral("Error:"));
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
    m_station->shutDown();
    if (m_stopping) {
        m_stopping = false;
        QApplication::restoreOverrideCursor();
    }
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
