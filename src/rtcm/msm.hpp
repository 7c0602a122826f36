// Multiple Signal Messages 4 to 7 of every constellation: the observations of one epoch of one
// constellation, as a satellite mask, a signal mask and the cells where the two meet.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "rinex/ids.hpp"
#include "rtcm/message_error.hpp"

namespace vardoln {

inline constexpr double kSpeedOfLight_m_s = 299'792'458.0;
inline constexpr std::uint32_t kMillisecondsPerWeek = 604'800'000;

// The constellation and MSM level (4 to 7) a message type stands for: 1074-1077 GPS, 1084-1087
// GLONASS, 1094-1097 Galileo, 1104-1107 SBAS, 1114-1117 QZSS, 1124-1127 BeiDou, 1134-1137 NavIC.
struct MsmKind {
    GnssSystem system;
    std::uint8_t level;
};
std::optional<MsmKind> msm_kind(std::uint16_t message_type) noexcept;

// The RINEX observation code (band and attribute, "1C") of an MSM signal ID (1 to 32) of a
// constellation; empty for an ID the constellation does not assign.
std::string_view msm_signal_code(GnssSystem system, std::uint8_t signal_id) noexcept;

// The satellite key ("G05", "J02", "S23") of an MSM satellite ID (1 to 64); SBAS IDs count from
// PRN 120 and QZSS IDs from PRN 193, as the RINEX keys do.
std::string msm_satellite_key(GnssSystem system, std::uint8_t satellite_id);

struct MsmSatellite {
    std::uint8_t id = 0;                              // 1 to 64, from the satellite mask
    std::optional<double> rough_range_ms;             // whole and 1/1024 ms; none when marked invalid
    std::optional<std::uint8_t> extended_info;        // MSM5/7; GLONASS: frequency channel + 7
    std::optional<double> rough_phase_range_rate_m_s;  // MSM5/7

    friend bool operator==(const MsmSatellite&, const MsmSatellite&) = default;
};

// One signal of one satellite. Ranges are in metres (the light-time of the message times c).
struct MsmCell {
    std::uint8_t satellite_id = 0;
    std::uint8_t signal_id = 0;  // 1 to 32, from the signal mask
    std::optional<double> pseudorange_m;
    std::optional<double> phase_range_m;
    std::uint16_t lock_time_indicator = 0;  // 4 bits in MSM4/5, 10 bits in MSM6/7, as sent
    bool half_cycle_ambiguity = false;
    std::optional<double> cn0_dbhz;  // 1 dB-Hz steps in MSM4/5, 1/16 in MSM6/7; 0 means not computed
    std::optional<double> phase_range_rate_m_s;  // MSM5/7

    friend bool operator==(const MsmCell&, const MsmCell&) = default;
};

struct MsmMessage {
    GnssSystem system = GnssSystem::Gps;
    std::uint16_t message_type = 0;
    std::uint8_t level = 0;  // 4 to 7
    std::uint16_t station = 0;
    // The 30-bit epoch field. GLONASS: day of week (0 Sunday, 7 unknown) and milliseconds of the
    // day in Moscow time; every other constellation: milliseconds of its own week.
    std::uint32_t epoch_ms = 0;
    std::optional<std::uint8_t> glonass_day_of_week;
    bool multiple_message = false;  // more messages of the same epoch follow
    std::uint8_t issue_of_data_station = 0;
    std::vector<MsmSatellite> satellites;  // mask order
    std::vector<std::uint8_t> signals;     // mask order
    std::vector<MsmCell> cells;            // satellite by satellite, signals in mask order

    friend bool operator==(const MsmMessage&, const MsmMessage&) = default;
};

// The signal mask of an MSM payload (signal ID 1 in the most significant bit), read without
// decoding the rest; nothing for a payload shorter than its header.
std::optional<std::uint32_t> msm_signal_mask(std::span<const std::uint8_t> payload) noexcept;

// A whole payload of an MSM4 to MSM7 message (the frame without its header and CRC).
std::variant<MsmMessage, RtcmError> decode_msm(std::span<const std::uint8_t> payload);

// The epoch as milliseconds of the GPS week. BeiDou time runs 14 s behind GPS time; GLONASS time
// is UTC + 3 h, so it needs the GPS-UTC leap seconds (18 from 2017) and the day. The day is taken
// from near_gps_ms when given (a GPS time of week within half a day, such as the last GPS epoch
// of the stream), else from the message; there is no value when neither gives it. Some receivers
// send 7 ("unknown") for the Sunday that ends a GPS week, so a stream is best read with a reference.
// An epoch field of a week or more counts as negative (30-bit two's complement).
std::optional<std::uint32_t> msm_gps_time_of_week_ms(const MsmMessage& message, int leap_seconds,
                                                     std::optional<std::uint32_t> near_gps_ms = {}) noexcept;

}  // namespace vardoln
