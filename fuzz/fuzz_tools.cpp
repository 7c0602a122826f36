// The companion extension's paths beyond the tables of fuzz_arrays: navigation from several
// files merged into one (stations publish one per constellation), the visibility timeline with
// its epoch times, and the navigation spans. The input is an observation file followed by any
// number of navigation files, each after a line "@@NAV@@". The timeline must keep one count per
// epoch and constellation, and never observe more satellites than it counts.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "navigation/nav_merge.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/obs_data.hpp"
#include "visibility/visibility.hpp"

#include "fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto [parsed, files] = vardoln::fuzzing::split_recording(
        std::string_view(reinterpret_cast<const char*>(data), size));
    auto* obs = std::get_if<vardoln::RinexObsData>(&parsed);
    if (obs == nullptr) return 0;
    for (const auto& epoch : obs->epochs) (void)vardoln::arrays::epoch_nanoseconds(epoch.time);

    if (files.empty()) return 0;
    auto merged = std::make_shared<const vardoln::NavigationData>(vardoln::merge_navigation(std::move(files)));
    (void)vardoln::arrays::navigation_spans(*merged);
    if (!obs->approx_position) return 0;

    const vardoln::OrbitSource source = vardoln::make_orbit_source(merged);
    for (const double mask : {0.0, 10.0}) {
        // Every constellation, and a selection of two (the tools' --systems).
        for (const std::optional<std::string>& letters : {std::optional<std::string>(), std::optional<std::string>("GE")}) {
            const auto counts = vardoln::visibility_counts(source, *obs, mask, letters);
            const std::size_t cells = obs->epochs.size() * counts.letters.size();
            if (counts.predicted.size() != cells || counts.observed.size() != cells || counts.confirmed.size() != cells)
                __builtin_trap();
            for (std::size_t k = 0; k < cells; ++k)
                if (counts.confirmed[k] > counts.observed[k] || counts.confirmed[k] > counts.predicted[k]) __builtin_trap();
            if (letters) {
                for (const char letter : counts.letters)
                    if (letter != 'G' && letter != 'E' && letter != '\0') __builtin_trap();
            }
        }
        const vardoln::VisibilitySummary selected = vardoln::predict_visibility(source, *obs, mask, "GE");
        if (selected.mean_missing > selected.mean_predicted || selected.mean_unexpected > selected.mean_observed)
            __builtin_trap();
    }
    return 0;
}
