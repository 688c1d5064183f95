#pragma once

#include "StillCaptureWindow.h"

class QListWidget;
class QPushButton;

namespace orv {

// The still-capture window of the chosen source ("Acquire Image"): shows the device named by the
// source picker (CaptureSource), at the frame size last stored in the media type file, and
// turns single frames into stills of the open transaction. One instance; it keeps its
// placement, and closing it releases the device.
class frmAcquireImageCapStill : public StillCaptureWindow
{
    Q_OBJECT
public:
    static frmAcquireImageCapStill *instance();
    static frmAcquireImageCapStill *loaded();

    // Connects the chosen source ("Start Cap"; also run when the window opens): the stored frame
    // size is applied when the device offers it, then the size in use is stored.
    void BuildGraph();

    // The file that keeps the frame size chosen with "&Format" between runs.
    static QString mediaTypeFile();

    QPushButton *CMD1 = nullptr, *cmd2 = nullptr, *cmdFormat2 = nullptr, *cmdCap = nullptr, *cmdNewSeries = nullptr,
                *cmdCancel = nullptr;
    // The parts of the capture chain (no behaviour of its own).
    QListWidget *lstFilters = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    frmAcquireImageCapStill();
    int sourceIndex() const;
    void formatDialog();
    void grabberFormat();
    void storeMediaType();
    bool m_built = false;
};

} // namespace orv
