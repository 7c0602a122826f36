// An observation record written as an RTCM 3 stream: one MSM4 to MSM7 message per constellation
// and epoch (more when the cells do not fit one), with the station messages 1005 and 1033 at the
// start and every 30 s of stream time. The mirror of read_rtcm: reading the stream back gives
// the record's epochs, satellites and signals, with values in the message's own steps.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rinex/ids.hpp"
#include "rinex/obs_data.hpp"
#include "rtcm/message_error.hpp"
#include "rtcm/station.hpp"

namespace vardoln {

struct RtcmEncodeSettings {
    std::uint8_t msm_level = 7;  // 4 to 7
    std::uint16_t station = 0;   // reference station ID, 0 to 4095
    // GLONASS frequency channels (-7 to +6) by slot, keyed "R05" or "5"; they take precedence
    // over the record's glonass_slots. A slot with neither has no phase and no Doppler.
    std::vector<std::pair<std::string, std::int32_t>> glonass_channels;
    double station_interval_s = 30.0;  // stream time between repeats of 1005 and 1033
};

// The framed stream of every epoch of the record. Errors only for settings out of range.
std::variant<std::vector<std::uint8_t>, RtcmError> encode_rtcm(const RinexObsData& obs,
                                                                const RtcmEncodeSettings& settings);

// The framed 1005 (when the header has an approximate position) and 1033 (receiver and antenna
// types) of the record's header.
std::vector<std::uint8_t> encode_station_messages(const RinexObsData& obs, std::uint16_t station);

// The payloads (unframed) of 1005 and 1033; texts longer than 31 characters are cut there.
std::vector<std::uint8_t> encode_antenna_reference_point(const AntennaReferencePoint& point);
std::vector<std::uint8_t> encode_receiver_descriptors(const ReceiverDescriptors& descriptors);

// The MSM signal ID (1 to 32) of an observation code of a constellation: a RINEX 3 code ("C1C",
// "L2W"), or a RINEX 2 one ("P2", "L1", "D1") through its RINEX 3 spelling; nothing for a code
// the messages have no signal for. A file older than 3.03 calls BeiDou B1I band 1.
std::optional<std::uint8_t> msm_signal_id(GnssSystem system, std::string_view code, double rinex_version) noexcept;

// The MSM satellite ID (1 to 64) of a satellite key ("G05", "S20", "J01"); nothing for another
// key or a number the messages cannot carry.
struct MsmSatelliteRef {
    GnssSystem system;
    std::uint8_t id;
};
std::optional<MsmSatelliteRef> msm_satellite_of(std::string_view key) noexcept;

// The lock time indicator of a lock time in milliseconds: 4 bits for MSM4/5, 10 bits for MSM6/7.
std::uint16_t msm_lock_time_indicator(std::int64_t lock_ms, std::uint8_t level) noexcept;
// The lock time an indicator stands for: at least `low_ms`, below `high_ms` (none: no bound).
struct LockTimeRange {
    std::int64_t low_ms = 0;
    std::optional<std::int64_t> high_ms;
};
LockTimeRange msm_lock_time_range(std::uint16_t indicator, std::uint8_t level) noexcept;

// The carrier wavelength of a band digit of a constellation in metres; GLONASS G1 and G2 by the
// FDMA channel, nothing for them without one.
std::optional<double> carrier_wavelength_m(GnssSystem system, char band_digit,
                                           std::optional<std::int32_t> glonass_channel) noexcept;

}  // namespace vardoln
