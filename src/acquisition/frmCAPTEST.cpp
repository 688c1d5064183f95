#include "frmCAPTEST.h"

#include "core/WindowHelpers.h"
#include "outside/capture/CaptureControl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

namespace orv {

frmCAPTEST *frmCAPTEST::instance()
{
    auto &w = windowInstance<frmCAPTEST>();
    if (!w)
        w = new frmCAPTEST();
    return w;
}

frmCAPTEST *frmCAPTEST::loaded()
{
    return windowInstance<frmCAPTEST>();
}

frmCAPTEST::frmCAPTEST()
{
    setObjectName(QStringLiteral("frmCAPTEST"));
    setWindowTitle(QStringLiteral("Capture Test"));
    setAttribute(Qt::WA_DeleteOnClose);
    capWindow = new capture::CaptureControl(this);
    capWindow->setObjectName(QStringLiteral("capWindow"));
    capWindow->setFixedSize(160, 120);
    setCentralWidget(capWindow);

    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = item(file, "mnuExit", QStringLiteral("E&xit"));
    QMenu *control = menuBar()->addMenu(QStringLiteral("&Control"));
    control->setObjectName(QStringLiteral("mnuControl"));
    mnuStart = item(control, "mnuStart", QStringLiteral("&Start"));
    mnuDisplay = item(control, "mnuDisplay", QStringLiteral("&Display"));
    mnuFormat = item(control, "mnuFormat", QStringLiteral("&Format"));
    mnuSource = item(control, "mnuSource", QStringLiteral("S&ource"));
    mnuCompression = item(control, "mnuCompression", QStringLiteral("Co&mpression"));
    control->addSeparator();
    mnuPreview = item(control, "mnuPreview", QStringLiteral("&Preview"));
    mnuPreview->setCheckable(true);
    mnuPreview->setChecked(true);

    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    connect(mnuStart, &QAction::triggered, this, &frmCAPTEST::toggleStreaming);
    connect(mnuDisplay, &QAction::triggered, capWindow, &capture::CaptureControl::ShowDisplayDialog);
    connect(mnuSource, &QAction::triggered, capWindow, &capture::CaptureControl::ShowSourceDialog);
    connect(mnuCompression, &QAction::triggered, capWindow, &capture::CaptureControl::ShowCompressionDialog);
    connect(mnuFormat, &QAction::triggered, this, [this] {
        capWindow->ShowFormatDialog();
        fitToPicture();
    });
    connect(mnuPreview, &QAction::toggled, this, [this](bool on) { capWindow->setDisplayMode(on ? 2 : 0); });
    connect(capWindow, &capture::CaptureControl::frameDelivered, this, &frmCAPTEST::frameDelivered);
    connect(capWindow, &capture::CaptureControl::videoLost, this, [this](const QString &why) {
        m_streaming = false;
        statusBar()->showMessage(why);
    });
}

void frmCAPTEST::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_started) {
        m_started = true;
        QTimer::singleShot(0, this, &frmCAPTEST::startSequence);
    }
}

void frmCAPTEST::startSequence()
{
    const bool connected = capWindow->DriverCount() >= 1 && capWindow->ConnectVideo(0);
    mnuSource->setEnabled(connected && capWindow->HasSourceDialog());
    mnuFormat->setEnabled(connected && capWindow->HasFormatDialog());
    mnuDisplay->setEnabled(connected && capWindow->HasDisplayDialog());
    mnuStart->setEnabled(connected);
    if (!connected) {
        statusBar()->showMessage(capWindow->DriverCount() < 1 ? QStringLiteral("There are no drivers installed!")
                                                              : capWindow->lastError());
        return;
    }
    statusBar()->showMessage(QStringLiteral("%1 (%2 x %3)")
                                 .arg(capWindow->DriverName(0))
                                 .arg(capWindow->frameSize().width())
                                 .arg(capWindow->frameSize().height()));
    fitToPicture();
}

void frmCAPTEST::fitToPicture()
{
    QSize picture = capWindow->frameSize();
    if (picture.isEmpty())
        return;
    if (const QScreen *s = screen()) {
        const QSize room = s->availableSize();
        if (picture.width() > room.width() || picture.height() > room.height())
            picture = picture.scaled(room, Qt::KeepAspectRatio);
    }
    capWindow->setFixedSize(picture);
    adjustSize();
}

// "&Start" streams the source into the frame callback without a file, one beep a frame, until
// it is chosen again.
void frmCAPTEST::toggleStreaming()
{
    m_streaming = !m_streaming && capWindow->VideoConnected();
    if (m_streaming)
        m_streamed = 0;
    showStreamState();
}

void frmCAPTEST::frameDelivered()
{
    if (!m_streaming)
        return;
    ++m_streamed;
    QApplication::beep();
    if (m_streamed % 25 == 0)
        showStreamState();
}

void frmCAPTEST::showStreamState()
{
    statusBar()->showMessage(m_streaming ? QStringLiteral("Streaming capture (no file): %1 frames").arg(m_streamed)
                                         : QStringLiteral("Streaming capture stopped after %1 frames").arg(m_streamed));
}

void frmCAPTEST::closeEvent(QCloseEvent *event)
{
    capWindow->DisconnectVideo();
    event->accept();
}

} // namespace orv
