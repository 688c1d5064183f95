#pragma once

namespace orv {

// Registers the image store's windows that other folders open by name ("neroFiddlesCOMForm").
void registerImageStoreWindows();

} // namespace orv
