// C/N0 per signal: statistics per satellite and code and per constellation and code, and the
// C/N0 against elevation profile. A sample is an S-code value above 0 (is_cn0_sample).
#pragma once

#include "arrays/positions.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

struct SignalStatsRow {
    std::string system;     // constellation name
    std::string satellite;  // empty in the per-constellation rows
    std::string code;
    std::uint64_t samples = 0;      // kept samples: above the mask, or without a position
    double mean = 0.0, min = 0.0, max = 0.0, std = 0.0;  // dB-Hz; NaN without samples
    double mean_elevation = 0.0;    // degrees, over the kept samples with a position; NaN if none
    std::uint64_t below_mask = 0;   // samples left out below the elevation mask
    std::uint64_t no_position = 0;  // kept samples without a satellite position
};

struct SignalStats {
    std::vector<SignalStatsRow> by_signal;         // constellation letter, satellite, code
    std::vector<SignalStatsRow> by_constellation;  // constellation letter, code
};

// Samples of the satellites whose letter is in `letters` (every letter when absent). With
// navigation data (and a receiver position, which the caller has checked) a sample below
// `min_elevation` is left out and counted; one without a position is kept and counted.
// `geometry`, when given, is entry_geometry(obs, *nav), computed once for several tables.
SignalStats signal_stats(const RinexObsData& obs, const NavigationData* nav, double min_elevation,
                         const std::optional<std::string>& letters, const EntryGeometry* geometry = nullptr);

struct ProfileRow {
    std::string system;
    std::string code;
    double elevation_low = 0.0;  // degrees, the bin [low, high)
    double elevation_high = 0.0;
    std::uint64_t samples = 0;
    double mean = 0.0, p10 = 0.0, p50 = 0.0, p90 = 0.0;  // dB-Hz; percentiles interpolated linearly
};

// C/N0 per constellation, code and elevation bin of `bin_deg` degrees (positive and finite),
// over the samples with a position; bins start at multiples of bin_deg, and an elevation of
// exactly 90 degrees falls in the bin below. Rows by constellation letter, code, bin.
std::vector<ProfileRow> elevation_profile(const RinexObsData& obs, const NavigationData& nav, double bin_deg);

// The percentile `fraction` (0 to 1) of sorted values, interpolated linearly between the two
// nearest ranks as numpy.percentile does by default.
double percentile_of_sorted(const std::vector<double>& sorted, std::size_t first, std::size_t count,
                            double fraction) noexcept;

}  // namespace vardoln::arrays
