// Shared by the navigation tests: a real navigation file, parsed.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "navigation/nav_data.hpp"
#include "test_real_data.hpp"

namespace vardoln::test {

// Nothing when the file is missing or does not parse.
inline std::optional<NavigationData> shared_nav(const char* name) {
    const auto text = real_bytes(name);
    if (!text) return std::nullopt;
    auto result = parse_navigation(*text);
    if (!std::holds_alternative<NavigationData>(result)) return std::nullopt;
    return std::get<NavigationData>(std::move(result));
}

}  // namespace vardoln::test
