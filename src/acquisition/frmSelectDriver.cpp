#include "frmSelectDriver.h"

#include "frmAcquire.h"
#include "outside/Prompter.h"
#include "outside/capture/CaptureControl.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace orv {

frmSelectDriver::frmSelectDriver(frmAcquire *station) : QDialog(station), m_station(station)
{
    setObjectName(QStringLiteral("frmSelectDriver"));
    setWindowTitle(QStringLiteral("Select Video Capture Device"));
    cmbDevices = new QComboBox(this);
    cmbDevices->setObjectName(QStringLiteral("cmbDevices"));
    cmbResolution = new QComboBox(this);
    cmbResolution->setObjectName(QStringLiteral("cmbResolution"));
    cmdSelect = new QPushButton(QStringLiteral("&Select"), this);
    cmdSelect->setObjectName(QStringLiteral("cmdSelect"));
    cmdCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto *grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Available Drivers:"), this), 0, 0);
    grid->addWidget(cmbDevices, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Requested Resolution:"), this), 1, 0);
    grid->addWidget(cmbResolution, 1, 1, 1, 2);
    grid->addWidget(cmdSelect, 2, 1);
    grid->addWidget(cmdCancel, 2, 2);
    setMinimumWidth(380);

    capture::CaptureControl *control = m_station->actiVideoX1;
    const int count = control->DriverCount();
    if (count >= 1) {
        for (int i = 0; i < count; ++i)
            cmbDevices->addItem(QStringLiteral("[%1] Ver. %2").arg(control->DriverName(i), control->DriverVersion(i)));
        cmbDevices->setEnabled(true);
        cmbDevices->setCurrentIndex(0);
        cmdSelect->setEnabled(true);
    } else {
        cmbDevices->addItem(QStringLiteral("There are no drivers installed!"));
        cmbDevices->setEnabled(false);
        cmdSelect->setEnabled(false);
    }
    cmbResolution->addItems({QStringLiteral("Default"), QStringLiteral("80x60"), QStringLiteral("112x84"),
                             QStringLiteral("120x90"), QStringLiteral("160x120"), QStringLiteral("192x144"),
                             QStringLiteral("240x180"), QStringLiteral("320x240"), QStringLiteral("640x480")});
    cmbResolution->setCurrentIndex(0);
    connect(cmdSelect, &QPushButton::clicked, this, &frmSelectDriver::cmdSelect_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmSelectDriver::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_selected) {
        m_selected = true;
        // Select runs at once, once the picker is on screen.
        QTimer::singleShot(0, this, &frmSelectDriver::cmdSelect_Click);
    }
}

void frmSelectDriver::cmdSelect_Click()
{
    capture::CaptureControl *control = m_station->actiVideoX1;
    const QSize size = requestedSize(cmbResolution->currentIndex(), cmbResolution->currentText());
    control->setRequestedHeight(qint16(size.height()));
    control->setRequestedWidth(qint16(size.width()));
    if (control->ConnectVideo(qint16(cmbDevices->currentIndex()))) {
        m_station->ControlsEnabled();
        m_station->UpdatePropertiesDisplay();
    } else {
        msgBox(this, QStringLiteral("An error occured attempting to connect to the specified device driver!"),
               Prompter::Icon::Critical, QStringLiteral("Error:"));
    }
    accept();
}

} // namespace orv
