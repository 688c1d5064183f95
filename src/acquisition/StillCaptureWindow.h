#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace orv {

namespace capture {
class CaptureControl;
}

// What the still-capture windows share: a capture window showing the live picture of one
// source, the capture counter, and the still capture itself. A still is taken from the live
// picture at the click and written as a background job of the open transaction (the frame
// writer of the capture station, stamped with the transaction's identity): the DICOM file in the
// capture temp folder (its bitmap removed once it is written), a New row of that transaction, an
// image of the viewer, which is made visible.
class StillCaptureWindow : public QWidget
{
    Q_OBJECT
public:
    ~StillCaptureWindow() override;

    capture::CaptureControl *capWindow = nullptr;
    // Why the window has no picture (shown under it), empty while the source delivers.
    QLabel *lblStatus = nullptr;

    // Capture attempts of this window (each takes one, failed ones too).
    int captureCounter() const { return m_counter; }

    // The still capture ("&Capture Frame").
    void captureStill();
    // Following stills go to a new series of the open transaction ("&New Series").
    void newSeries();

signals:
    // A still was written, listed and added to the viewer.
    void stillStored(const QString &dcmPath);

protected:
    StillCaptureWindow(const char *name, QWidget *parent = nullptr);

    // Connects driver `index` at `size` (empty: the driver's default), sizes the capture window
    // to the picture, and says why not (lblStatus) when it fails; true when connected.
    bool connectDriver(int index, QSize size = QSize());
    void showNoPicture(const QString &reason);
    // The capture window as large as the picture (within the screen), the window around it.
    void fitToPicture();
    // The capture steps also append the bitmap path and "Capture..." to the log window.
    void setLogsCaptures(bool on) { m_logsCaptures = on; }

    QVBoxLayout *m_layout = nullptr;

private:
    qint16 m_counter = 0;
    bool m_logsCaptures = false;
};

} // namespace orv
