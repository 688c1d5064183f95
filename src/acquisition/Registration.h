#pragma once

namespace orv {

// Registers the acquisition windows that other folders open by name ("frmAcquire"), and lists
// the synthetic test pattern among the capture drivers when the setting (application
// "Orvaline", section "Capture", key "TestPattern" = 1) or `demo` asks for it.
void registerAcquisitionWindows(bool demo = false);

} // namespace orv
