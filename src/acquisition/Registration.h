#pragma once

namespace orv {

// Registers the acquisition windows that other folders open by name ("frmAcquire", the still
// windows, the capture test bench and the source picker), and lists
// the synthetic test pattern among the capture drivers when the setting (application
// "Orvaline", section "Capture", key "TestPattern" = 1) or `demo` asks for it.
void registerAcquisitionWindows(bool demo = false);

} // namespace orv
