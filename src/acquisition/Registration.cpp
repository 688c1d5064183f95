#include "Registration.h"

#include "frmVideo.h"

#include "core/SharedState.h"
#include "core/WindowHelpers.h"
#include "imagestore/ctlImageList.h"
#include "outside/capture/CaptureDriver.h"

namespace orv {

void registerAcquisitionWindows(bool demo)
{
    chooseMediaBackend();
    ctlImageList::setClipPlayer([](const QString &path) {
        frmVideo *player = frmVideo::instance();
        player->setFilename(path);
        showInFront(player);
    });
    const bool setting = SettingsStore::intOf(settings().read(apps::Orvaline, QStringLiteral("Capture"),
                                                              QStringLiteral("TestPattern"))) == 1;
    if (demo || setting)
        capture::setTestPatternEnabled(true);
}

} // namespace orv
