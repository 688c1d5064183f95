#include "frmAcquireImage.h"

#include "core/WindowHelpers.h"
#include "outside/capture/CaptureControl.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QPushButton>
#include <QTimer>

namespace orv {

frmAcquireImage *frmAcquireImage::instance()
{
    auto &w = windowInstance<frmAcquireImage>();
    if (!w)
        w = new frmAcquireImage();
    return w;
}

frmAcquireImage *frmAcquireImage::loaded()
{
    return windowInstance<frmAcquireImage>();
}

frmAcquireImage::frmAcquireImage() : StillCaptureWindow("frmAcquireImage")
{
    CMD1 = namedControl(this, "CMD1", QStringLiteral("Start Cap"));
    cmdSource = namedControl(this, "cmdSource", QStringLiteral("Source"));
    cmd2 = namedControl(this, "cmd2", QStringLiteral("&Format"));
    cmd4 = namedControl(this, "cmd4", QStringLiteral("&Capture Frame"));
    cmdNewSeries = namedControl(this, "cmdNewSeries", QStringLiteral("&New Series"));
    cmd3 = namedControl(this, "cmd3", QStringLiteral("Close Cap"));
    cmdCancel = namedControl(this, "cmdCancel", QStringLiteral("Close"));
    auto *buttons = new QGridLayout;
    int i = 0;
    for (QPushButton *b : {CMD1, cmdSource, cmd2, cmd4, cmdNewSeries, cmd3, cmdCancel}) {
        buttons->addWidget(b, i / 4, i % 4);
        ++i;
    }
    m_layout->addLayout(buttons);

    connect(CMD1, &QPushButton::clicked, this, &frmAcquireImage::StartCapture);
    connect(cmdSource, &QPushButton::clicked, capWindow, &capture::CaptureControl::ShowSourceDialog);
    connect(cmd2, &QPushButton::clicked, this, [this] {
        capWindow->ShowFormatDialog();
        fitToPicture();
    });
    connect(cmd4, &QPushButton::clicked, this, &StillCaptureWindow::captureStill);
    connect(cmdNewSeries, &QPushButton::clicked, this, &StillCaptureWindow::newSeries);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
}

void frmAcquireImage::showEvent(QShowEvent *event)
{
    StillCaptureWindow::showEvent(event);
    if (!m_started) {
        m_started = true;
        QTimer::singleShot(0, this, &frmAcquireImage::StartCapture);
    }
}

void frmAcquireImage::StartCapture()
{
    if (capWindow->DriverCount() < 1) {
        capWindow->DisconnectVideo();
        showNoPicture(QStringLiteral("There are no drivers installed!"));
        return;
    }
    connectDriver(0);
}

void frmAcquireImage::closeEvent(QCloseEvent *event)
{
    // Stills still being written are listed by the session after the window has gone.
    capWindow->DisconnectVideo();
    event->accept();
}

} // namespace orv
