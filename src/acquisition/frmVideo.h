#pragma once

#include <QMediaPlayer>
#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;
class QVideoWidget;

namespace orv {

// The clip playback window: a resizable window holding the player `Video` (picture, play/pause,
// position and the player's state). Setting `filename` loads that clip and plays it. One
// instance, opened by the image list for a Video row; it keeps its place between runs.
class frmVideo : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString filename READ filename WRITE setFilename)
public:
    static frmVideo *instance();
    static frmVideo *loaded();
    ~frmVideo() override;

    QString filename() const { return m_filename; }
    void setFilename(const QString &path);

    // The player's size for an inner window size: 200 twips narrower and 500 twips lower.
    static QSize playerSize(QSize inner, qreal dpiX, qreal dpiY);

    QWidget *Video = nullptr; // the player (picture and its controls)
    QVideoWidget *picture = nullptr;
    QMediaPlayer *player = nullptr;
    QPushButton *cmdPlay = nullptr;
    QSlider *sldPosition = nullptr;
    QLabel *lblStatus = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    frmVideo();
    void showState();

    QString m_filename;
    bool m_restored = false;
};

// Picks the media backend that plays the station's AVI clips (FFmpeg) unless the environment
// names one. Must run before the first media object is created.
void chooseMediaBackend();

} // namespace orv
