#include "CaptureDriver.h"

#include "TestPattern.h"
#include "V4l2Driver.h"

#include <atomic>

namespace orv::capture {

namespace {
std::atomic<bool> g_testPattern{false};
std::atomic<bool> g_deviceScan{true};
} // namespace

void setTestPatternEnabled(bool enabled) { g_testPattern = enabled; }

bool testPatternEnabled()
{
    return g_testPattern || qEnvironmentVariableIntValue("ORVALINE_TEST_PATTERN") == 1;
}

void setDeviceScanEnabled(bool enabled) { g_deviceScan = enabled; }

QList<std::shared_ptr<CaptureDriver>> installedDrivers()
{
    QList<std::shared_ptr<CaptureDriver>> out;
    if (testPatternEnabled())
        out.append(std::make_shared<TestPatternDriver>());
    if (g_deviceScan)
        out.append(V4l2Driver::scan());
    return out;
}

} // namespace orv::capture
