// The verdicts' core: the band detector with and without elevations, and the health grade over the
// QC figures, completeness and coverage of the same recording. The input is an observation file
// followed by navigation files, each after a line "@@NAV@@" (fuzz_input.hpp). Events must lie in
// the record, in order, with shares between 0 and 1; the grade must be a letter of its rules.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "arrays/positions.hpp"
#include "detector/detector.hpp"
#include "health/health.hpp"
#include "navigation/nav_merge.hpp"
#include "qc/qc.hpp"
#include "rinex/obs_data.hpp"

#include "fuzz_input.hpp"

namespace {

void check(const vardoln::DetectorResult& result, const vardoln::RinexObsData& obs) {
    std::uint32_t previous = 0;
    for (const vardoln::DetectorEvent& event : result.events) {
        if (event.first_epoch > event.last_epoch || event.last_epoch >= obs.epochs.size()) __builtin_trap();
        if (event.first_epoch < previous || !(event.share >= 0.0 && event.share <= 1.0)) __builtin_trap();
        if (event.bands.empty() && event.type != vardoln::EventType::spoofing) __builtin_trap();
        previous = event.first_epoch;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto [parsed, files] = vardoln::fuzzing::split_recording(
        std::string_view(reinterpret_cast<const char*>(data), size));
    auto* obs = std::get_if<vardoln::RinexObsData>(&parsed);
    if (obs == nullptr) return 0;
    std::optional<vardoln::NavigationData> nav;
    if (!files.empty()) nav = vardoln::merge_navigation(std::move(files));

    vardoln::DetectorSettings settings;
    const vardoln::DetectorResult blind = vardoln::detect_events(*obs, nullptr, settings);
    check(blind, *obs);
    settings.systems = "GE";
    settings.event_satellites = 2;
    check(vardoln::detect_events(*obs, nullptr, settings), *obs);

    std::optional<vardoln::arrays::EntryGeometry> geometry;
    if (nav && obs->approx_position) geometry = vardoln::arrays::entry_geometry(*obs, *nav);
    const std::vector<double>* elevations = geometry ? &geometry->elevation_deg : nullptr;
    const vardoln::DetectorResult seen = vardoln::detect_events(*obs, elevations, vardoln::DetectorSettings{});
    check(seen, *obs);

    const vardoln::QcResult qc = vardoln::run_qc(*obs, nav ? &*nav : nullptr, vardoln::QcSettings{5.0}, elevations);
    vardoln::HealthInputs inputs;
    inputs.obs = obs;
    inputs.qc = &qc;
    inputs.detector = &seen;
    inputs.entry_elevations_deg = elevations;
    std::vector<vardoln::arrays::CoverageRow> coverage;
    std::variant<vardoln::arrays::Completeness, std::string> completeness = std::string();
    if (nav) {
        coverage = vardoln::arrays::navigation_coverage(*obs, *nav, geometry ? &*geometry : nullptr);
        inputs.coverage = &coverage;
        completeness = vardoln::arrays::completeness(*obs, *nav, 5.0, geometry ? &*geometry : nullptr);
        if (auto* grid = std::get_if<vardoln::arrays::Completeness>(&completeness)) inputs.completeness = grid;
    }
    const vardoln::Health health = vardoln::assess_health(inputs);
    if (std::string_view("ABCDF").find(health.grade) == std::string_view::npos || health.sentence.empty())
        __builtin_trap();
    if (health.warned + health.failed > health.criteria.size()) __builtin_trap();
    return 0;
}
