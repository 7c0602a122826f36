// The legacy observation messages with C/N0: 1002 and 1004 (GPS L1, L1+L2), 1010 and 1012
// (GLONASS L1, L1+L2). One message holds one epoch of one constellation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rinex/ids.hpp"
#include "rtcm/msm.hpp"

namespace vardoln {

// One band of one satellite. Ranges in metres.
struct LegacyBand {
    std::uint8_t code_indicator = 0;  // L1: 0 C/A, 1 P(Y); L2: 0 C/A or L2C, 1 P(Y), 2 and 3 codeless P(Y)
    std::optional<double> pseudorange_m;
    std::optional<double> phase_range_m;
    std::uint8_t lock_time_indicator = 0;
    std::optional<double> cn0_dbhz;  // 0.25 dB-Hz steps; 0 means not computed
};

struct LegacyObservation {
    // GPS 1 to 32 and GLONASS slots 1 to 24; 40 to 58 are SBAS PRN 120 to 138 in both.
    std::uint8_t satellite_id = 0;
    std::optional<std::int8_t> glonass_channel;  // -7 to +6
    LegacyBand l1;
    std::optional<LegacyBand> l2;  // 1004 and 1012
};

struct LegacyMessage {
    GnssSystem system = GnssSystem::Gps;
    std::uint16_t message_type = 0;
    std::uint16_t station = 0;
    // GPS: milliseconds of the week. GLONASS: milliseconds of the day in Moscow time (the
    // legacy messages carry no day of week).
    std::uint32_t epoch_ms = 0;
    bool synchronous = false;  // more observation messages of the same epoch follow
    std::vector<LegacyObservation> observations;
};

bool is_legacy_observation(std::uint16_t message_type) noexcept;

std::variant<LegacyMessage, RtcmError> decode_legacy_observations(std::span<const std::uint8_t> payload);

// "G05", "R12", or "S20" for the SBAS IDs 40 to 58.
std::string legacy_satellite_key(GnssSystem system, std::uint8_t satellite_id);

// The RINEX code ("1C", "2W") of a legacy code indicator: L1 C/A or P(Y); for GPS L2 the
// C/A-or-L2C, P(Y) and the two codeless P(Y) kinds, for GLONASS L2 C/A or P.
std::string_view legacy_rinex_code(GnssSystem system, bool second_band, std::uint8_t indicator) noexcept;

}  // namespace vardoln
