// The inputs of the targets that read a recording with its navigation data: an observation file
// followed by navigation files, each after a line "@@NAV@@", at most four of them.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::fuzzing {

inline constexpr std::string_view kNavSeparator = "\n@@NAV@@\n";
inline constexpr std::size_t kMaxNavFiles = 4;

// The observation part of the input (nothing when it does not parse) and every navigation part
// that parses.
struct RecordingInput {
    std::variant<RinexObsData, ParseError> obs;
    std::vector<NavigationData> navs;
};

inline RecordingInput split_recording(std::string_view input) {
    std::size_t split = input.find(kNavSeparator);
    RecordingInput out{parse_observation_file(input.substr(0, split), "fuzz.obs"), {}};
    if (!std::holds_alternative<RinexObsData>(out.obs)) return out;
    while (split != std::string_view::npos && out.navs.size() < kMaxNavFiles) {
        const std::size_t start = split + kNavSeparator.size();
        split = input.find(kNavSeparator, start);
        auto nav = parse_navigation(
            input.substr(start, split == std::string_view::npos ? std::string_view::npos : split - start));
        if (auto* data = std::get_if<NavigationData>(&nav)) out.navs.push_back(std::move(*data));
    }
    return out;
}

}  // namespace vardoln::fuzzing
