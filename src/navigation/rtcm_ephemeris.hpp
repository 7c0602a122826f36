// Broadcast ephemerides carried in RTCM 3 streams (1019 GPS, 1020 GLONASS, 1042 BeiDou, 1044
// QZSS, 1045 and 1046 Galileo F/NAV and I/NAV), read into the navigation records exactly as the
// RINEX reader would hold the same broadcast, and written back out of them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rtcm/message_error.hpp"

namespace vardoln {

// 1019, 1020, 1042, 1044, 1045 or 1046.
bool is_rtcm_ephemeris(std::uint16_t message_type) noexcept;

// One ephemeris payload (the frame's payload, message type first) as a record in RINEX units and
// conventions: angles in radians, GLONASS state in metres, tau_n as -TauN, toc as calendar time
// in the constellation's own scale (GLONASS in UTC), weeks numbered as RINEX 3 numbers them
// (GPS, QZSS and Galileo in GPS weeks, BeiDou in BDT weeks). The messages' truncated weeks take
// the full week nearest the reference time; a toe within a day of a week's edge takes the week
// that puts it nearest the reference (receivers send the week of broadcast, RINEX keeps the
// week of toe); the GLONASS day (the message holds only the quarter-hour of the Moscow day) is
// the one that puts toc nearest it. `near_gps_ms` counts GPS milliseconds from the GPS epoch
// (1980-01-06 00:00:00); it should lie within hours of the broadcast, or be the middle of its
// week when only the week is known (GLONASS days then come out wrong).
std::variant<Ephemeris, GlonassEphemeris, RtcmError> decode_rtcm_ephemeris(std::span<const std::uint8_t> payload,
                                                                           std::int64_t near_gps_ms);

// One payload decoded into `into`: appended to its satellite's list, unless the same record is
// among the last eight there (streams repeat each ephemeris every few seconds, Galileo in turns
// of F/NAV and I/NAV); GLONASS records that differ only in their frame time tk, which advances
// every 30 s while the ephemeris stays, are the same. A GLONASS record with a non-zero channel
// also sets glonass_freq. The error names the message for a payload that does not decode;
// `into` is then untouched.
std::optional<RtcmError> add_rtcm_ephemeris(std::span<const std::uint8_t> payload, std::int64_t near_gps_ms,
                                            NavigationData& into);

struct RtcmNavigation {
    NavigationData data;
    // The newest toe among the GPS, Galileo, BeiDou and QZSS records, as GPS milliseconds from
    // the GPS epoch, and its full GPS week: what dates a stream whose own messages carry only a
    // time of week. The newest toe can lie up to a few hours ahead of the stream.
    std::optional<std::int64_t> newest_toe_gps_ms;
    std::optional<std::int32_t> gps_week;
    std::uint64_t ephemerides = 0;  // ephemeris messages decoded, repeats of a stored record included
    std::uint64_t undecodable = 0;  // ephemeris messages that did not decode
};

// Every ephemeris message of a whole stream; other messages are passed over.
RtcmNavigation read_rtcm_navigation(std::span<const std::uint8_t> bytes, std::int64_t near_gps_ms);

// The full GPS week of the stream's newest toe, reading the truncated weeks nearest `near_week`;
// nothing for a stream without GPS, Galileo, BeiDou or QZSS ephemerides.
std::optional<std::int32_t> rtcm_stream_gps_week(std::span<const std::uint8_t> bytes, std::int32_t near_week);

struct RtcmEphemerisFrames {
    std::vector<std::uint8_t> bytes;  // whole frames, one per record
    std::uint64_t written = 0;
    std::uint64_t skipped = 0;  // records with a value the message cannot hold (out of range, not finite)
};

// Every record of `nav` as a framed message: 1019, 1020, 1042, 1044, and 1046 for Galileo (the
// records do not say which navigation message they came from), by satellite key then in list
// order. Fields the records do not keep (health, accuracy, group delays, IODC) are written as 0,
// except the GPS and QZSS IODC, which takes the IODE as the broadcast does, and the Galileo
// SISA, written 255 (no accuracy prediction available).
RtcmEphemerisFrames encode_rtcm_ephemerides(const NavigationData& nav);

}  // namespace vardoln
