// Observation epochs assembled from an RTCM 3 stream into an observation record, as if a RINEX
// 3.04 file had been read: MSM4 to MSM7 of every constellation and the legacy 1002, 1004, 1010
// and 1012 messages, with the station messages for the header.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <variant>

#include "rinex/epoch_time.hpp"
#include "rinex/obs_data.hpp"
#include "rtcm/frames.hpp"
#include "rtcm/legacy.hpp"
#include "rtcm/msm.hpp"
#include "rtcm/message_error.hpp"

namespace vardoln {

// The GPS time of a stream's observation messages, which carry only a time of week (GLONASS: the
// Moscow day and time of day; its legacy messages the time of day alone, the day coming from the
// messages before). It starts in the given week and counts on whenever the time of week falls
// back by more than half a week. Shared by the stream reader and the live monitor.
class RtcmClock {
public:
    explicit RtcmClock(std::int32_t first_week) noexcept : first_week_(first_week) {}

    // Milliseconds from the GPS epoch of a message, and the clock moves to it; nothing for a
    // message that cannot be dated (a GLONASS message before any day is known).
    std::optional<std::int64_t> time_of(const MsmMessage& message) noexcept;
    std::optional<std::int64_t> time_of(const LegacyMessage& message) noexcept;
    // The last dated message's time.
    std::optional<std::int64_t> last_ms() const noexcept { return last_ms_; }

private:
    std::optional<std::int64_t> advance(std::optional<std::uint32_t> time_of_week) noexcept;
    std::optional<std::uint32_t> last_time_of_week() const noexcept;
    int leap_seconds() const noexcept;

    std::int32_t first_week_;
    std::optional<std::int64_t> last_ms_;
};

struct RtcmStream {
    // Per constellation letter the codes seen, in order of first sight: for each signal its
    // pseudorange "C<band><attribute>", its carrier phase "L..." in cycles when the signal has
    // one, then its C/N0 "S<band><attribute>". A GLONASS G1 or G2 phase needs the slot's channel
    // (from MSM5/7 or 1010/1012, kept in glonass_slots by slot number) and is left out without
    // it. A phase's LLI has bit 0 when the lock time shows a new lock or the cell was missing
    // from the epoch before, bit 1 for a half-cycle ambiguity (MSM only).
    // C/N0 values keep the message's own steps (1 dB-Hz MSM4/5, 1/16 MSM6/7, 1/4 legacy).
    RinexObsData record;
    RtcmTally tally;                         // frames, bad frames, skipped bytes, message types
    std::uint64_t epochs = 0;                // observation epochs stored
    std::uint64_t undecodable_messages = 0;  // good frames of a known type that did not decode
    std::uint64_t untimed_messages = 0;      // GLONASS messages before any epoch gave the day
};

// The whole stream. An epoch closes when a message arrives with its "more messages follow" bit
// clear, or one with another epoch time (GPS time of week). The caller's GPS week is the week of
// the first epoch; the week counts on whenever the time of week falls back by more than half a
// week. Without a week there is no calendar time, which is the only error.
std::variant<RtcmStream, RtcmError> read_rtcm(std::string_view bytes, std::optional<int> gps_week);

// The calendar instant (GPS time, no leap seconds) of a GPS week and millisecond of that week.
EpochTime gps_calendar_time(std::int64_t gps_week, std::int64_t ms_of_week) noexcept;

// The inverse: milliseconds from the GPS epoch of a calendar instant in GPS time, rounded.
std::int64_t gps_milliseconds(const EpochTime& time) noexcept;

// GPS - UTC in whole seconds at a GPS week (from 1981 to the 2017 step, 18 s after it).
int gps_leap_seconds(std::int64_t gps_week, std::int64_t ms_of_week) noexcept;

}  // namespace vardoln
