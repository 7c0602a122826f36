// Navigation files as they arrive: plain text, or text behind the archive layers.
#pragma once

#include <string_view>
#include <variant>

#include "navigation/nav_data.hpp"

namespace vardoln {

// Plain text is read in place; archived bytes are expanded first. An archive that cannot be
// expanded fails with the layer's message.
std::variant<NavigationData, NavParseError> read_navigation_bytes(std::string_view bytes);

}  // namespace vardoln
