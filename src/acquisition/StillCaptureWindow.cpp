#include "StillCaptureWindow.h"

#include "FrameCapture.h"

#include "core/CoreRoutines.h"
#include "session/ExamSession.h"
#include "session/OpenTransaction.h"
#include "core/SharedState.h"
#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"
#include "viewer/frmImageViewer.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

#include <limits>

namespace orv {

StillCaptureWindow::StillCaptureWindow(const char *name, QWidget *parent) : QWidget(parent)
{
    setObjectName(QLatin1String(name));
    setWindowTitle(QStringLiteral("Acquire Image"));
    setAttribute(Qt::WA_DeleteOnClose);
    capWindow = new capture::CaptureControl(this);
    capWindow->setObjectName(QStringLiteral("capWindow"));
    capWindow->setFixedSize(160, 120);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    lblStatus->hide();
    m_layout = new QVBoxLayout(this);
    m_layout->addWidget(capWindow, 0, Qt::AlignLeft | Qt::AlignTop);
    m_layout->addWidget(lblStatus);
    connect(capWindow, &capture::CaptureControl::videoLost, this, [this](const QString &why) {
        showNoPicture(why);
        msgBox(this, why);
    });
}

StillCaptureWindow::~StillCaptureWindow() = default;

bool StillCaptureWindow::connectDriver(int index, QSize size)
{
    capWindow->setRequestedWidth(qint16(size.width()));
    capWindow->setRequestedHeight(qint16(size.height()));
    if (!capWindow->ConnectVideo(qint16(index))) {
        showNoPicture(capWindow->lastError());
        return false;
    }
    lblStatus->clear();
    lblStatus->hide();
    fitToPicture();
    return true;
}

void StillCaptureWindow::showNoPicture(const QString &reason)
{
    lblStatus->setText(reason);
    lblStatus->show();
}

void StillCaptureWindow::fitToPicture()
{
    QSize picture = capWindow->frameSize();
    if (picture.isEmpty())
        return;
    if (const QScreen *screen = this->screen()) {
        const QSize room = screen->availableSize();
        if (picture.width() > room.width() || picture.height() > room.height())
            picture = picture.scaled(room, Qt::KeepAspectRatio);
    }
    capWindow->setFixedSize(picture);
    adjustSize();
}

void StillCaptureWindow::newSeries()
{
    openTransaction().NewSeries();
}

void StillCaptureWindow::captureStill()
{
    if (m_counter == std::numeric_limits<qint16>::max()) {
        msgBox(this, QStringLiteral("This window has taken 32767 captures, its limit. Close it and open it again to capture more."));
        return;
    }
    OpenTransaction &tr = openTransaction();
    if (const QString refusal = nameComponentRefusal(tr.value(OpenTransaction::TransNo), QStringLiteral("transaction number"));
        !refusal.isEmpty()) {
        msgBox(this, refusal, Prompter::Icon::Critical);
        return;
    }
    ++m_counter;
    FrameJob job = captureJob(FrameJob::Kind::Still, m_counter);
    const bool logs = m_logsCaptures;
    if (logs) {
        AddLog(job.bmpPath());
        AddLog(QStringLiteral("Capture..."));
    }
    job.frame = capWindow->grabFrame();
    if (job.frame.isNull()) {
        QString why = lblStatus->text();
        if (why.isEmpty())
            why = capWindow->VideoConnected() ? QStringLiteral("The video source has not delivered a picture yet.")
                                              : QStringLiteral("No video source is connected.");
        msgBox(this, why);
        return;
    }
    job.imageNumber = tr.takeImageNumbers(1);
    submitFrame(job, [window = QPointer<StillCaptureWindow>(this), logs](const FrameJob &written, bool bitmapWritten,
                                                                         const QString &failure) {
        if (logs && bitmapWritten)
            AddLog(QStringLiteral("Capture...done."));
        const bool open = session().isOpen(written.transaction.transNo);
        if (!failure.isEmpty()) {
            // Nothing was listed: the number the still took is given back.
            if (open)
                openTransaction().giveBackImageNumbers(written.imageNumber, 1);
            msgBox(window, failure);
            return;
        }
        QApplication::beep();
        if (open) {
            frmImageViewer *viewer = frmImageViewer::instance();
            if (!viewer->isVisible()) {
                viewer->show();
                if (window)
                    window->activateWindow(); // the operator goes on capturing
            }
        }
        if (window)
            emit window->stillStored(written.dcmPath());
    });
}

} // namespace orv
