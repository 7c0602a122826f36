// A whole analysis and both JSON exports, and the plots' views of the same input, which must be
// the analysis's own fields. The input is an observation file, optionally followed by a line
// "@@NAV@@" and a navigation file used as the orbit source.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "cn0/analysis.hpp"
#include "cn0/json_export.hpp"
#include "cn0/quality.hpp"
#include "cn0/threats.hpp"

namespace {

// Bit for bit, so that NaN equals NaN.
bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!same(a[i], b[i])) return false;
    return true;
}

bool same_views(const vardoln::RunViews& views, const vardoln::AnalysisResult& result) {
    const auto& traces = result.skyplot.traces;
    if (views.skyplot.traces.size() != traces.size()) return false;
    for (std::size_t t = 0; t < traces.size(); ++t) {
        const auto& mine = views.skyplot.traces[t];
        if (mine.satellite != traces[t].satellite || mine.system != traces[t].system ||
            mine.points.size() != traces[t].points.size())
            return false;
        for (std::size_t p = 0; p < mine.points.size(); ++p) {
            const auto& a = mine.points[p];
            const auto& b = traces[t].points[p];
            if (!same(a.azimuth, b.azimuth) || !same(a.elevation, b.elevation) || !same(a.cn0, b.cn0)) return false;
        }
    }
    const auto& grid = result.heatmap;
    if (views.heatmap.count_matrix != grid.count_matrix || views.heatmap.cn0_matrix.size() != grid.cn0_matrix.size())
        return false;
    for (std::size_t row = 0; row < grid.cn0_matrix.size(); ++row)
        if (!same(views.heatmap.cn0_matrix[row], grid.cn0_matrix[row])) return false;
    const auto& series = result.timeseries.constellation_timeseries;
    if (views.constellation_timeseries.size() != series.size()) return false;
    for (const auto& [name, points] : series) {
        const auto found = views.constellation_timeseries.find(name);
        if (found == views.constellation_timeseries.end() || found->second.size() != points.size()) return false;
        for (std::size_t p = 0; p < points.size(); ++p) {
            const auto& a = found->second[p];
            if (a.timestamp != points[p].timestamp || !same(a.cn0, points[p].cn0) ||
                !same(a.elevation, points[p].elevation) || !same(a.azimuth, points[p].azimuth))
                return false;
        }
    }
    return true;
}

}  // namespace

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
    if (!same_views(vardoln::run_views(*obs, settings), result)) __builtin_trap();
    return 0;
}
