#pragma once

#include <QDialog>

class QComboBox;
class QPushButton;

namespace orv {

class frmAcquire;

// The driver picker ("Select Video Capture Device"), shown modally over the capture station:
// it connects the chosen driver of the station's capture control at the chosen size. As soon as
// it is shown it selects at once, so opening it connects the first driver at its default size.
class frmSelectDriver : public QDialog
{
    Q_OBJECT
public:
    explicit frmSelectDriver(frmAcquire *station);

    QComboBox *cmbDevices = nullptr, *cmbResolution = nullptr;
    QPushButton *cmdSelect = nullptr, *cmdCancel = nullptr;

    void cmdSelect_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    frmAcquire *m_station;
    bool m_selected = false;
};

} // namespace orv
