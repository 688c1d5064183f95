#pragma once

#include "CaptureDriver.h"

namespace orv::capture {

// A video capture device of the machine (/dev/videoN), opened through FFmpeg's libavdevice and
// decoded (raw or Motion JPEG) on the stream's own thread.
class V4l2Driver : public CaptureDriver
{
public:
    V4l2Driver(QString devicePath, QString card, QString version);
    QString name() const override { return m_card; }
    QString version() const override { return m_version; }
    QString devicePath() const { return m_path; }
    QList<QSize> formats() const override;
    std::unique_ptr<FrameSource> open(QSize requested) override;

    // The devices of `folder` (video0, video1, ...) that deliver pictures, by device number;
    // nodes that are not capture devices are skipped.
    static QList<std::shared_ptr<CaptureDriver>> scan(const QString &folder = QStringLiteral("/dev"));

private:
    QString m_path, m_card, m_version;
};

} // namespace orv::capture
