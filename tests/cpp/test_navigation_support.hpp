// Shared by the navigation tests: a navigation file of the shared data, parsed.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>

#include "navigation/nav_data.hpp"

namespace vardoln::test {

inline const std::filesystem::path kSharedData = VARDOLN_SHARED_DATA;

// Nothing when the file is missing (a clone without the shared data) or does not parse.
inline std::optional<NavigationData> shared_nav(const char* name) {
    std::ifstream in(kSharedData / name, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto result = parse_navigation(text);
    if (!std::holds_alternative<NavigationData>(result)) return std::nullopt;
    return std::get<NavigationData>(std::move(result));
}

}  // namespace vardoln::test
