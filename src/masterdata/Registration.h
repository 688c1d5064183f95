#pragma once

namespace orv {

// Registers the patient, staff and exam windows that other folders open by name.
void registerMasterDataWindows();

} // namespace orv
