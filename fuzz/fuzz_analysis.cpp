// A whole analysis and both JSON exports. The input is an observation file, optionally
// followed by a line "@@NAV@@" and a navigation file used as the orbit source.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "cn0/analysis.hpp"
#include "cn0/json_export.hpp"
#include "cn0/quality.hpp"
#include "cn0/threats.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view separator = "\n@@NAV@@\n";
    const std::size_t split = input.find(separator);
    const std::string_view obs_bytes = input.substr(0, split);

    auto parsed = vardoln::parse_observation_file(obs_bytes, "fuzz.obs");
    auto* obs = std::get_if<vardoln::RinexObsData>(&parsed);
    if (obs == nullptr) return 0;

    auto settings = vardoln::quick_analysis_settings(5.0, std::nullopt);
    if (split != std::string_view::npos) {
        auto nav = vardoln::parse_navigation(input.substr(split + separator.size()));
        if (auto* nav_data = std::get_if<vardoln::NavigationData>(&nav))
            settings.orbit_source = vardoln::make_orbit_source(
                std::make_shared<const vardoln::NavigationData>(std::move(*nav_data)));
    }
    const auto result = vardoln::run_analysis(*obs, settings);
    (void)vardoln::result_to_json(result, false);
    (void)vardoln::result_to_json(result, true);
    (void)vardoln::notebook_score(result);
    (void)vardoln::jamming_detected(result);
    (void)vardoln::interference_detected(result);
    (void)vardoln::spoofing_detected(result);
    return 0;
}
