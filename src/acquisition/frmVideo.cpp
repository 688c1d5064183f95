#include "frmVideo.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace orv {

namespace {
constexpr qreal kTwipsPerInch = 1440.0;

QString clock(qint64 ms)
{
    return QStringLiteral("%1:%2").arg(ms / 60000).arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

void chooseMediaBackend()
{
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
}

frmVideo *frmVideo::instance()
{
    auto &w = windowInstance<frmVideo>();
    if (!w)
        w = new frmVideo();
    return w;
}

frmVideo *frmVideo::loaded()
{
    return windowInstance<frmVideo>();
}

frmVideo::frmVideo()
{
    setObjectName(QStringLiteral("frmVideo"));
    setWindowTitle(QStringLiteral("Video"));
    setAttribute(Qt::WA_DeleteOnClose);

    Video = new QWidget(this);
    Video->setObjectName(QStringLiteral("Video"));
    picture = new QVideoWidget(Video);
    picture->setObjectName(QStringLiteral("picture"));
    cmdPlay = new QPushButton(Video);
    cmdPlay->setObjectName(QStringLiteral("cmdPlay"));
    sldPosition = new QSlider(Qt::Horizontal, Video);
    sldPosition->setObjectName(QStringLiteral("sldPosition"));
    lblStatus = new QLabel(Video);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(90);
    auto *bar = new QHBoxLayout;
    bar->addWidget(cmdPlay);
    bar->addWidget(sldPosition, 1);
    bar->addWidget(lblStatus);
    auto *box = new QVBoxLayout(Video);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(picture, 1);
    box->addLayout(bar);
    picture->setStyleSheet(QStringLiteral("background: black;"));

    player = new QMediaPlayer(this);
    // The FFmpeg backend of Qt 6.4 writes a clip's sound to a null device (and crashes) when the
    // machine has no audio output: the sound is only played where there is somewhere to play it.
    if (!QMediaDevices::audioOutputs().isEmpty())
        player->setAudioOutput(new QAudioOutput(this));
    player->setVideoOutput(picture);

    connect(cmdPlay, &QPushButton::clicked, this, [this] {
        if (player->playbackState() == QMediaPlayer::PlayingState)
            player->pause();
        else
            player->play();
    });
    connect(sldPosition, &QSlider::sliderMoved, player, &QMediaPlayer::setPosition);
    connect(player, &QMediaPlayer::durationChanged, this, [this](qint64 d) { sldPosition->setRange(0, int(d)); });
    connect(player, &QMediaPlayer::positionChanged, this, [this](qint64 p) {
        if (!sldPosition->isSliderDown())
            sldPosition->setValue(int(p));
        showState();
    });
    connect(player, &QMediaPlayer::playbackStateChanged, this, &frmVideo::showState);
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &frmVideo::showState);
    connect(player, &QMediaPlayer::errorOccurred, this, &frmVideo::showState);
    showState();
    resize(640, 540);
}

frmVideo::~frmVideo() = default;

void frmVideo::setFilename(const QString &path)
{
    m_filename = path;
    player->stop();
    player->setSource(path.isEmpty() ? QUrl() : QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    setWindowTitle(path.isEmpty() ? QStringLiteral("Video") : QStringLiteral("Video - %1").arg(QFileInfo(path).fileName()));
    if (!path.isEmpty())
        player->play();
}

void frmVideo::showState()
{
    const bool playing = player->playbackState() == QMediaPlayer::PlayingState;
    cmdPlay->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    if (player->error() != QMediaPlayer::NoError) {
        lblStatus->setText(QStringLiteral("Cannot play"));
        lblStatus->setToolTip(player->errorString());
        return;
    }
    lblStatus->setToolTip(QString());
    lblStatus->setText(QStringLiteral("%1 / %2").arg(clock(player->position()), clock(player->duration())));
}

QSize frmVideo::playerSize(QSize inner, qreal dpiX, qreal dpiY)
{
    const int w = inner.width() - qRound(200 * dpiX / kTwipsPerInch);
    const int h = inner.height() - qRound(500 * dpiY / kTwipsPerInch);
    return QSize(qMax(0, w), qMax(0, h));
}

void frmVideo::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const qreal dpiX = logicalDpiX(), dpiY = logicalDpiY();
    // The player keeps a margin of 100 twips left and right and sits 100 twips from the top.
    const int left = qRound(100 * dpiX / kTwipsPerInch), top = qRound(100 * dpiY / kTwipsPerInch);
    Video->setGeometry(QRect(QPoint(left, top), playerSize(size(), dpiX, dpiY)));
}

void frmVideo::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_restored) {
        m_restored = true;
        RestoreWindow(this);
    }
}

void frmVideo::closeEvent(QCloseEvent *event)
{
    player->stop();
    SaveWindow(this);
    event->accept();
}

} // namespace orv
