// The receiver of a recording as every look angle is taken from it: the header's approximate
// position, with its geodetic latitude, longitude and height.
#pragma once

#include <optional>

#include "navigation/orbits.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

// Nothing when the header has no receiver position.
inline std::optional<TopocentricFrame> receiver_frame(const RinexObsData& obs) {
    if (!obs.approx_position) return std::nullopt;
    return TopocentricFrame(*obs.approx_position, ecef_to_geodetic(*obs.approx_position));
}

}  // namespace vardoln
