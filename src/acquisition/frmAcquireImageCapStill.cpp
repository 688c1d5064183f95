#include "frmAcquireImageCapStill.h"

#include "CaptureSource.h"

#include "core/CoreRoutines.h"
#include "core/WindowHelpers.h"
#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

namespace orv {

namespace {
const QString kGrabber = QStringLiteral("SampleGrabber");

// The stored frame size ("640x480"); empty when there is none or it cannot be read.
QSize loadMediaType(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> parts = f.readLine(64).trimmed().split('x');
    if (parts.size() != 2)
        return {};
    const QSize size(parts.at(0).toInt(), parts.at(1).toInt());
    return size.width() > 0 && size.height() > 0 ? size : QSize();
}
} // namespace

frmAcquireImageCapStill *frmAcquireImageCapStill::instance()
{
    auto &w = windowInstance<frmAcquireImageCapStill>();
    if (!w)
        w = new frmAcquireImageCapStill();
    return w;
}

frmAcquireImageCapStill *frmAcquireImageCapStill::loaded()
{
    return windowInstance<frmAcquireImageCapStill>();
}

QString frmAcquireImageCapStill::mediaTypeFile()
{
#ifdef Q_OS_WIN
    return QStringLiteral("c:/mtsave.mt");
#else
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Orvaline/mtsave.mt"));
#endif
}

frmAcquireImageCapStill::frmAcquireImageCapStill() : StillCaptureWindow("frmAcquireImageCapStill")
{
    setLogsCaptures(true);
    CMD1 = namedControl(this, "CMD1", QStringLiteral("Start Cap"));
    cmd2 = namedControl(this, "cmd2", QStringLiteral("&Format"));
    cmdFormat2 = namedControl(this, "cmdFormat2", QStringLiteral("Format2"));
    cmdCap = namedControl(this, "cmdCap", QStringLiteral("&Capture Frame"));
    cmdNewSeries = namedControl(this, "cmdNewSeries", QStringLiteral("&New Series"));
    cmdCancel = namedControl(this, "cmdCancel", QStringLiteral("Close"));
    lstFilters = namedControl<QListWidget>(this, "lstFilters");
    lstFilters->setMaximumHeight(48);
    auto *buttons = new QGridLayout;
    int i = 0;
    for (QPushButton *b : {CMD1, cmd2, cmdFormat2, cmdCap, cmdNewSeries, cmdCancel}) {
        buttons->addWidget(b, i / 3, i % 3);
        ++i;
    }
    m_layout->addLayout(buttons);
    m_layout->addWidget(lstFilters);

    connect(CMD1, &QPushButton::clicked, this, &frmAcquireImageCapStill::BuildGraph);
    connect(cmd2, &QPushButton::clicked, this, &frmAcquireImageCapStill::formatDialog);
    connect(cmdFormat2, &QPushButton::clicked, this, &frmAcquireImageCapStill::grabberFormat);
    connect(cmdCap, &QPushButton::clicked, this, &StillCaptureWindow::captureStill);
    connect(cmdNewSeries, &QPushButton::clicked, this, &StillCaptureWindow::newSeries);
    connect(cmdCancel, &QPushButton::clicked, this, &QWidget::close);
    RestoreWindow(this);
}

void frmAcquireImageCapStill::showEvent(QShowEvent *event)
{
    StillCaptureWindow::showEvent(event);
    if (!m_built) {
        m_built = true;
        QTimer::singleShot(0, this, &frmAcquireImageCapStill::BuildGraph);
    }
}

int frmAcquireImageCapStill::sourceIndex() const
{
    const QString source = captureSource().name();
    for (int i = 0; i < capWindow->DriverCount(); ++i)
        if (capWindow->DriverName(i) == source)
            return i;
    return -1;
}

void frmAcquireImageCapStill::BuildGraph()
{
    capWindow->DisconnectVideo();
    lstFilters->clear();
    lstFilters->addItem(kGrabber);
    const int index = sourceIndex();
    if (index < 0) {
        showNoPicture(QStringLiteral("The video source \"%1\" is not connected to this workstation. Choose one with "
                                     "\"Select Source\" in the main window.")
                          .arg(captureSource().name()));
        return;
    }
    lstFilters->insertItem(0, capWindow->DriverName(index));
    const QSize stored = loadMediaType(mediaTypeFile());
    // A stored size the device does not offer leaves it at its default, as a refused media type does.
    if (!(stored.isValid() && connectDriver(index, stored)) && !connectDriver(index))
        return;
    storeMediaType();
}

void frmAcquireImageCapStill::storeMediaType()
{
    const QSize size = capWindow->frameSize();
    if (size.isEmpty())
        return;
    const QString path = mediaTypeFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QStringLiteral("%1x%2\n").arg(size.width()).arg(size.height()).toLatin1());
        f.commit();
    }
}

void frmAcquireImageCapStill::formatDialog()
{
    if (!capWindow->VideoConnected())
        return;
    capWindow->ShowFormatDialog();
    fitToPicture();
    storeMediaType();
}

void frmAcquireImageCapStill::grabberFormat()
{
    const QSize size = capWindow->frameSize();
    const QString text = size.isEmpty()
        ? QStringLiteral("The sample grabber has no source connected.")
        : QStringLiteral("The sample grabber takes %1 x %2 frames from the source as 24-bit RGB bitmaps.")
              .arg(size.width())
              .arg(size.height());
    msgBox(this, text, Prompter::Icon::Information, QStringLiteral("Format2"));
}

void frmAcquireImageCapStill::closeEvent(QCloseEvent *event)
{
    // Stills still being written are listed by the session after the window has gone.
    capWindow->DisconnectVideo();
    SaveWindow(this);
    event->accept();
}

} // namespace orv
