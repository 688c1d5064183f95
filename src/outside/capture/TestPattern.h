#pragma once

#include "CaptureDriver.h"

namespace orv::capture {

// The synthetic "Test Pattern" driver: moving colour bars with the frame number, the time and the
// frame size, 25 frames a second, at any size of its format list (640x480 by default). It stands
// in for a camera in tests and demonstrations.
class TestPatternDriver : public CaptureDriver
{
public:
    QString name() const override { return QStringLiteral("Test Pattern"); }
    QString version() const override { return QStringLiteral("1.0"); }
    QList<QSize> formats() const override;
    std::unique_ptr<FrameSource> open(QSize requested) override;
};

// Makes every running test pattern stream fail as a device does when it is unplugged.
void unplugTestPattern();

} // namespace orv::capture
