// Trends of a station's daily figures judged against the station's own past: the band of the
// days before a day, and the days where the level of a figure changed.
//
// A series is one figure per UTC day (completeness %, multipath RMS in metres, observations per
// slip, mean C/N0 in dB-Hz, events per day, a grade as a number). Days are whole numbers (days
// since 1970, say) and must rise strictly: a series with a day out of order or twice is refused
// with an error text rather than sorted, since two values for one day mean the history that
// built it is wrong, and picking one of them would hide that. A value that is not finite (NaN,
// an infinity) is a day without data: it takes no part in any mean, sigma or rank. An infinity
// would otherwise swamp every figure around it, and a station history writes one only where a
// ratio had nothing below it (observations per slip on a day without slips).
//
// The band. For a day, the mean and sample standard deviation of the values of the last
// `window_days` days with data before it (counted over the days that have data, not calendar
// days: a station down for a month still meets its usual 45 days). The day is flagged when its
// value lies more than kBandSigmas sigma from that mean, and only when at least kMinBandDays
// days went into the band and sigma is above zero: fewer days give a sigma too rough to judge
// by, and a sigma of zero (a figure that never moved, such as a grade that stayed A) would flag
// any change at all, which the change points report instead. Cost: days times the window.
//
// Change points. A cumulative sum over ranks (a level shift moves the ranks of a whole stretch
// and no single wild day moves a rank sum far): within a stretch of n days with data, rank the
// values (ties take the mean of their ranks), S_0 = 0 and S_i = S_(i-1) + rank_i - (n + 1) / 2.
// Its strength is S_diff = max S - min S, and the confidence the fraction of `resamples` random
// orders of the same ranks whose S_diff is smaller than the stretch's own; a change point stands
// at `confidence` or more; the random orders of a stretch stop once too many of them reach its
// S_diff for that confidence to be met, so a steady figure costs a few hundred orders, not all of
// them. It falls after the day i with the largest S_i^2 / (i (n - i)) among
// those that leave at least `min_segment_days` days with data on each side (the best split of
// the ranks into two levels; the largest |S_i| alone leans towards the middle of the stretch, and
// a side shorter than that is a spike or an edge, not a level). Each side is then searched again
// the same way (binary segmentation); a stretch shorter than twice min_segment_days is not
// searched. The means of a change point are those of the levels it separates, between the change
// points found on either side of it (or the ends of the series). So at most (days with data) /
// min_segment_days change points come out, and min_segment_days is taken as at least 2. The
// random orders come from one std::mt19937_64 seeded with `seed`, drawn with our own shuffle, so
// a series gives the same change points on every machine and standard library.
#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace vardoln::history {

inline constexpr double kNoData = std::numeric_limits<double>::quiet_NaN();

struct DailyValue {
    std::int64_t day = 0;  // days since 1970 or any other whole-day count
    double value = 0.0;    // not finite: no data that day
};

inline constexpr std::uint32_t kBandWindowDays = 45;
inline constexpr std::uint32_t kMinBandDays = 10;  // fewer days with data: no flag
inline constexpr double kBandSigmas = 2.0;         // flagged beyond this many sigma from the mean

struct Band {
    std::int64_t day = 0;
    double value = kNoData;         // the day's own value; NaN without data (never flagged)
    double mean = kNoData;          // of the days_used days with data before it; NaN with none
    double sigma = kNoData;         // sample standard deviation (n - 1); NaN with fewer than 2 days
    std::uint32_t days_used = 0;
    bool flagged = false;
};

// The band of the series' last day; an error text for a series whose days do not rise strictly.
// An empty series has no last day: also an error text.
std::variant<Band, std::string> last_day_band(std::span<const DailyValue> series,
                                              std::uint32_t window_days = kBandWindowDays);

// The band of every day of the series, each against the window before it, in the series' order.
std::variant<std::vector<Band>, std::string> bands(std::span<const DailyValue> series,
                                                   std::uint32_t window_days = kBandWindowDays);

struct ChangePoint {
    std::int64_t day = 0;      // the first day with data of the new level
    double confidence = 0.0;   // fraction of the random orders with a smaller S_diff, 0 to 1
    double mean_before = 0.0;  // of the days with data from the previous change point (or the start)
    double mean_after = 0.0;   // to the next change point (or the end)
};

struct ChangePointSettings {
    std::uint32_t resamples = 1000;
    double confidence = 0.95;
    std::uint32_t min_segment_days = 10;  // days with data on each side of a change point
    std::uint64_t seed = 20261209;
};

// The change points of the series, by day; none for a series too short or too flat to tell.
// An error text for a series whose days do not rise strictly.
std::variant<std::vector<ChangePoint>, std::string> change_points(std::span<const DailyValue> series,
                                                                  const ChangePointSettings& settings = {});

}  // namespace vardoln::history
