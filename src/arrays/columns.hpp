// Long-form columns of an observation record and of the satellite geometry at its epochs, one
// row per value (or per satellite-epoch), sorted by constellation, satellite, code and then
// the epochs in file order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

struct ObservationColumns {
    std::vector<std::int64_t> time;       // datetime64 nanoseconds of the epoch as written
    std::vector<std::int32_t> satellite;  // index into satellites
    std::vector<std::int32_t> code;       // index into codes
    std::vector<double> value;
    std::vector<std::uint8_t> lli;  // loss-of-lock indicator, 0 where lli_missing
    std::vector<std::uint8_t> lli_missing;
    std::vector<std::uint8_t> ssi;  // signal-strength indicator, 0 where ssi_missing
    std::vector<std::uint8_t> ssi_missing;
    std::vector<std::string> satellites;  // table order: constellation letter, then identifier
    std::vector<std::string> codes;       // by text
};

// Every value the record keeps.
ObservationColumns observation_columns(const RinexObsData& obs);

struct GeometryColumns {
    std::vector<std::int64_t> time;
    std::vector<std::int32_t> satellite;  // index into satellites
    std::vector<double> azimuth;          // degrees, [0, 360)
    std::vector<double> elevation;        // degrees
    std::vector<std::string> satellites;  // those with at least one row, in table order
};

// Look angles of every satellite entry whose satellite the navigation data position at that
// epoch, seen from the header's receiver position (which the caller has checked is present).
GeometryColumns geometry_columns(const RinexObsData& obs, const NavigationData& nav);

}  // namespace vardoln::arrays
