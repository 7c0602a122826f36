// The quality-control pass over arbitrary observation text, with and without an elevation
// mask, and the agreement of its three views (rows, summaries, per-sample arrays). The input
// is an observation file, optionally followed by a line "@@NAV@@" and a navigation file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "navigation/nav_data.hpp"
#include "qc/qc.hpp"
#include "qc/signals.hpp"
#include "rinex/obs_data.hpp"

namespace {

void check(const vardoln::RinexObsData& obs, const vardoln::QcResult& result) {
    const vardoln::MultipathSamples& samples = result.samples;
    const std::size_t n = samples.size();
    if (samples.satellite.size() != n || samples.pair.size() != n || samples.mp_i_m.size() != n ||
        samples.mp_j_m.size() != n || samples.elevation_deg.size() != n)
        __builtin_trap();
    std::uint64_t row_samples = 0;
    for (const vardoln::SatellitePairQc& row : result.rows) {
        if (row.samples > row.observations || row.pair >= vardoln::signal_pairs().size()) __builtin_trap();
        row_samples += row.samples;
    }
    std::uint64_t summary_samples = 0;
    for (const vardoln::PairSummary& summary : result.summaries) summary_samples += summary.samples;
    if (row_samples != n || summary_samples != n) __builtin_trap();
    for (std::size_t k = 0; k < n; ++k) {
        if (samples.epoch[k] >= obs.epochs.size() || samples.satellite[k] >= result.satellites.size() ||
            samples.pair[k] >= vardoln::signal_pairs().size())
            __builtin_trap();
    }
    for (const vardoln::PhaseSlipEvent& slip : result.slip_events) {
        if (slip.epoch >= obs.epochs.size() || slip.satellite >= result.satellites.size()) __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    constexpr std::string_view separator = "\n@@NAV@@\n";
    const std::size_t split = input.find(separator);

    auto parsed = vardoln::parse_observation_file(input.substr(0, split), "fuzz.obs");
    auto* obs = std::get_if<vardoln::RinexObsData>(&parsed);
    if (obs == nullptr) return 0;
    std::optional<vardoln::NavigationData> nav;
    if (split != std::string_view::npos) {
        auto nav_parsed = vardoln::parse_navigation(input.substr(split + separator.size()));
        if (auto* nav_data = std::get_if<vardoln::NavigationData>(&nav_parsed)) nav = std::move(*nav_data);
    }

    vardoln::QcSettings settings;
    check(*obs, vardoln::run_qc(*obs, nav ? &*nav : nullptr, settings));
    settings.min_elevation_deg = -90.0;
    check(*obs, vardoln::run_qc(*obs, nav ? &*nav : nullptr, settings));
    return 0;
}
