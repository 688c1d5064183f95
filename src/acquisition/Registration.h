#pragma once

namespace orv {

// Offers the clip player to the image list (its "&Open" on a Video row), chooses the media
// backend, and lists the synthetic test pattern among the capture drivers when the setting
// (application "Orvaline", section "Capture", key "TestPattern" = 1) or `demo` asks for it.
void registerAcquisitionWindows(bool demo = false);

} // namespace orv
