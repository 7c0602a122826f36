// Satellite positions from broadcast records, and receiver geometry.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "navigation/nav_data.hpp"
#include "rinex/epoch_time.hpp"

namespace vardoln {

using Ecef = std::array<double, 3>;  // Earth-centred, Earth-fixed, metres

struct Geodetic {
    double latitude_deg = 0.0;
    double longitude_deg = 0.0;
    double height_m = 0.0;
};

struct LookAngles {
    double azimuth_deg = 0.0;  // [0, 360)
    double elevation_deg = 0.0;
};

// Position of the satellite with this key at the epoch, or nothing (unknown letter, no
// records, no record inside the selection window). Allocates nothing.
std::optional<Ecef> satellite_position(const NavigationData& nav, std::string_view key, const EpochTime& epoch) noexcept;

Geodetic ecef_to_geodetic(const Ecef& position) noexcept;

LookAngles look_angles(const Ecef& receiver, const Geodetic& receiver_geodetic, const Ecef& satellite) noexcept;

}  // namespace vardoln
