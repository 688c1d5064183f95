#pragma once

#include "outside/Error.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

namespace orv::capture {

// A picture adjustment a device offers (brightness, contrast, ...), shown in its source dialog.
struct DeviceControl
{
    quint32 id = 0;
    QString name;
    int minimum = 0;
    int maximum = 0;
    int step = 1;
    int defaultValue = 0;
    int value = 0;
};

// A running stream of frames. Frames are produced and decoded on the source's own thread and
// handed to the frame callback there; the lost callback runs (once, on that thread) when the
// device stops delivering. Destroying the source stops its thread before returning.
class FrameSource
{
public:
    using FrameCallback = std::function<void(const QImage &frame)>;
    using LostCallback = std::function<void(const QString &description)>;

    virtual ~FrameSource() = default;
    // The size of the frames delivered (fixed while the source runs).
    virtual QSize size() const = 0;
    // Starts delivering frames (Format_RGB32). Throws Error when the stream cannot start.
    virtual void start(FrameCallback onFrame, LostCallback onLost) = 0;

    // Adjustments of the device; setting one applies it to the running stream.
    virtual QList<DeviceControl> controls() const { return {}; }
    virtual void setControl(quint32 id, int value) { Q_UNUSED(id) Q_UNUSED(value) }
};

// One installed capture driver: a device (or the synthetic test pattern) and what it offers.
class CaptureDriver
{
public:
    virtual ~CaptureDriver() = default;
    virtual QString name() const = 0;
    virtual QString version() const = 0;
    // Frame sizes the device delivers, largest last; empty when it does not say.
    virtual QList<QSize> formats() const = 0;
    // Opens the device at `requested` (an empty size = the device's default). Throws Error when the
    // device is missing or busy, or does not deliver exactly the requested size.
    virtual std::unique_ptr<FrameSource> open(QSize requested) = 0;
    virtual bool hasOverlay() const { return false; }
    virtual bool hasDisplayDialog() const { return false; }
};

// The drivers of this machine, in a stable order: the test pattern first when enabled, then the
// video capture devices (/dev/video*) that deliver pictures, by device number.
QList<std::shared_ptr<CaptureDriver>> installedDrivers();

// The synthetic "Test Pattern" driver is listed when enabled here, or when the environment
// variable ORVALINE_TEST_PATTERN is 1.
void setTestPatternEnabled(bool enabled);
bool testPatternEnabled();
// Whether the machine's devices are scanned (on by default; tests and demonstrations that must
// not depend on the cameras attached turn it off).
void setDeviceScanEnabled(bool enabled);

} // namespace orv::capture
