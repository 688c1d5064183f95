#pragma once

#include "StillCaptureWindow.h"

class QPushButton;

namespace orv {

// The still-capture window of the frame grabber card ("Acquire Image"): shows the first capture
// driver of the machine at its default size and turns single frames into stills of the open
// transaction. One instance; closing it releases the driver.
class frmAcquireImage : public StillCaptureWindow
{
    Q_OBJECT
public:
    static frmAcquireImage *instance();
    static frmAcquireImage *loaded();

    // Connects the first driver and shows its picture ("Start Cap"; also run when the window
    // opens, once it is on screen).
    void StartCapture();

    QPushButton *CMD1 = nullptr, *cmdSource = nullptr, *cmd2 = nullptr, *cmd4 = nullptr, *cmdNewSeries = nullptr,
                *cmd3 = nullptr, *cmdCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    frmAcquireImage();
    bool m_started = false;
};

} // namespace orv
