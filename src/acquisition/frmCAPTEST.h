#pragma once

#include <QMainWindow>

class QAction;
class QLabel;

namespace orv {

namespace capture {
class CaptureControl;
}

// The capture test bench: shows the first capture driver of the machine and exercises it from
// its menus (streaming without a file, the driver's dialogs, the preview). Writes nothing. One
// instance; closing it releases the driver.
class frmCAPTEST : public QMainWindow
{
    Q_OBJECT
public:
    static frmCAPTEST *instance();
    static frmCAPTEST *loaded();

    capture::CaptureControl *capWindow = nullptr;
    QAction *mnuExit = nullptr, *mnuStart = nullptr, *mnuDisplay = nullptr, *mnuFormat = nullptr,
            *mnuSource = nullptr, *mnuCompression = nullptr, *mnuPreview = nullptr;

    // Frames received by the running (or last) streaming capture.
    qint64 streamedFrames() const { return m_streamed; }
    bool streaming() const { return m_streaming; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    frmCAPTEST();
    void startSequence();
    void toggleStreaming();
    void frameDelivered();
    void fitToPicture();
    void showStreamState();

    bool m_started = false;
    bool m_streaming = false;
    qint64 m_streamed = 0;
};

} // namespace orv
