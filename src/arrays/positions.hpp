// Satellite positions at the observation epochs, by the record choice and orbit arithmetic of
// the analysis (OrbitEvaluator), and look angles from the header's receiver position through
// the same TopocentricFrame: these tables and the analysis never disagree about a satellite.
#pragma once

#include <optional>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/orbits.hpp"
#include "navigation/receiver.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

// One position per satellite entry of the record (RinexObsData::satellite_entries), nothing
// where the navigation data give none.
using EntryPositions = std::vector<std::optional<Ecef>>;
EntryPositions entry_positions(const RinexObsData& obs, const NavigationData& nav);

// The positions of every entry and their elevations from the header's receiver position (NaN
// where there is no position), computed once for several tables of one recording.
struct EntryGeometry {
    EntryPositions positions;
    std::vector<double> elevation_deg;
};
// Nothing when the header has no receiver position.
std::optional<EntryGeometry> entry_geometry(const RinexObsData& obs, const NavigationData& nav);

// The receiver at the header's approximate position (nothing when the header has none).
using vardoln::receiver_frame;

// The message of the tables that need look angles from a file without a receiver position.
inline constexpr const char* kNoReceiverPosition =
    "the observation header has no APPROX POSITION XYZ, so elevations cannot be computed";

// Time span of the navigation records' clock epochs, as datetime64 nanoseconds, per
// constellation letter (G, R, E, C, J) and over all; kNoTime ends when there are none.
struct NavigationSpan {
    char letter = 0;  // 0 for the span over every record
    std::int64_t first = 0;
    std::int64_t last = 0;
};
std::vector<NavigationSpan> navigation_spans(const NavigationData& nav);

}  // namespace vardoln::arrays
