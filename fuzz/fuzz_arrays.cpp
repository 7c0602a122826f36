// Every table of the tools: observation columns, geometry, coverage, per-signal statistics,
// the elevation profile and completeness. The input is an observation file, optionally
// followed by a line "@@NAV@@" and a navigation file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "arrays/columns.hpp"
#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/signals.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view separator = "\n@@NAV@@\n";
    const std::size_t split = input.find(separator);

    auto parsed = vardoln::parse_observation_file(input.substr(0, split), "fuzz.obs");
    auto* obs = std::get_if<vardoln::RinexObsData>(&parsed);
    if (obs == nullptr) return 0;
    (void)vardoln::arrays::observation_columns(*obs);
    (void)vardoln::arrays::signal_stats(*obs, nullptr, 5.0, std::nullopt);
    if (split == std::string_view::npos) return 0;

    auto nav = vardoln::parse_navigation(input.substr(split + separator.size()));
    auto* nav_data = std::get_if<vardoln::NavigationData>(&nav);
    if (nav_data == nullptr) return 0;
    (void)vardoln::arrays::navigation_coverage(*obs, *nav_data);
    if (!obs->approx_position) return 0;
    (void)vardoln::arrays::geometry_columns(*obs, *nav_data);
    (void)vardoln::arrays::signal_stats(*obs, nav_data, 10.0, "GE");
    (void)vardoln::arrays::elevation_profile(*obs, *nav_data, 5.0);
    (void)vardoln::arrays::completeness(*obs, *nav_data, 10.0);
    return 0;
}
