// Calendar instants as written in RINEX files, their Julian values and timestamp texts.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vardoln {

// No field is checked against calendar limits and no time-scale conversion is applied.
struct EpochTime {
    std::int32_t year = 0;
    std::uint32_t month = 0;
    std::uint32_t day = 0;
    std::uint32_t hour = 0;
    std::uint32_t minute = 0;
    double second = 0.0;

    friend bool operator==(const EpochTime&, const EpochTime&) = default;
};

// RINEX 2 epoch lines carry two-digit years: below 80 is 20xx, anything else 19xx.
constexpr std::int32_t expand_two_digit_year(std::int32_t year) noexcept {
    return year < 80 ? 2000 + year : 1900 + year;
}

// Julian day number plus the fraction of the day; half a day later than the astronomical
// Julian date, which only matters where an absolute value is used (GPS week arithmetic).
double julian_day(const EpochTime& epoch) noexcept;

// Seconds from b to a (positive when a is later).
double epoch_difference_seconds(const EpochTime& a, const EpochTime& b) noexcept;

// 2024-01-15T06:30:00.000Z; the seconds are written with three decimals as they are, so
// 59.9996 gives "60.000" (no carry into the minute). Sorts chronologically as bytes.
std::string timestamp_text(const EpochTime& epoch);
void append_timestamp_text(std::string& out, const EpochTime& epoch);

// The most common step between consecutive epochs given in seconds (file order), to the
// millisecond, the shortest among equally common ones; the header's interval when there is no
// step (0 without a usable one).
double most_common_step_s(std::span<const double> seconds, double header_interval_s);

// The inverse of timestamp_text; no value for text of another shape.
std::optional<EpochTime> parse_timestamp_text(std::string_view text) noexcept;

}  // namespace vardoln
