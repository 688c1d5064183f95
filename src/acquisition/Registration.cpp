#include "Registration.h"

#include "frmAcquire.h"
#include "frmAcquireImage.h"
#include "frmAcquireImageCapStill.h"
#include "frmCAPTEST.h"
#include "frmSelectSource.h"
#include "frmVideo.h"

#include "core/SharedState.h"
#include "core/WindowRegistry.h"
#include "outside/capture/CaptureDriver.h"

namespace orv {

void registerAcquisitionWindows(bool demo)
{
    WindowRegistry::registerWindow(QStringLiteral("frmAcquire"), [] { return frmAcquire::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmAcquireImage"), [] { return frmAcquireImage::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmAcquireImageCapStill"),
                                   [] { return frmAcquireImageCapStill::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmCAPTEST"), [] { return frmCAPTEST::instance(); });
    WindowRegistry::registerWindow(QStringLiteral("frmSelectSource"), [] { return frmSelectSource::instance(); });
    chooseMediaBackend();
    WindowRegistry::registerWindow(QStringLiteral("frmVideo"), [] { return frmVideo::instance(); });
    const bool setting = SettingsStore::intOf(settings().read(apps::Orvaline, QStringLiteral("Capture"),
                                                              QStringLiteral("TestPattern"))) == 1;
    if (demo || setting)
        capture::setTestPatternEnabled(true);
}

} // namespace orv
