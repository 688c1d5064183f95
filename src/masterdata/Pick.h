#pragma once

#include <functional>
#include <optional>

namespace orv {

// What a picker hands its caller once it closes: the choice, or nothing when it closed without
// one. Pickers are shown modal and return at once; the caller reads nothing of the window.
template<typename Choice>
using PickDone = std::function<void(const std::optional<Choice> &)>;

} // namespace orv
