// Navigation coverage: of the satellite-epochs with a C/N0 sample, how many the navigation data
// can position. This tells an incomplete or wrong-day navigation file from a real anomaly.
#pragma once

#include "arrays/positions.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::arrays {

struct CoverageRow {
    std::string system;  // constellation name, or "all" for the predictable constellations together
    std::uint64_t observed = 0;  // satellite-epochs with a C/N0 sample
    std::uint64_t covered = 0;   // of those, with a position (0 where not predictable)
    // Observed at some epoch without a position, by navigation key ("G 2" as G02), ascending.
    std::vector<std::string> uncovered_satellites;
    bool predictable = false;
};

// Covered of observed in percent; NaN where nothing was observed or nothing is predictable.
double coverage_percent(const CoverageRow& row) noexcept;

// Below this coverage of the observed satellite-epochs the comparison of predicted and observed
// satellites cannot back a verdict.
inline constexpr double kCompleteCoveragePercent = 95.0;
// A broadcast record serves up to 4 hours from its clock epoch (GLONASS 1 hour): records this
// close to the recording can still position its satellites.
inline constexpr std::int64_t kRecordWindowNs = 4LL * 3600 * 1'000'000'000;

// Whether the navigation records, with the hours each one serves, reach into the recording.
bool spans_overlap(const RinexObsData& obs, const NavigationData& nav);
// Whether coverage can back the visibility verdicts: records reaching into the recording and the
// "all" row covering 95 % or more of the observed satellite-epochs.
bool coverage_complete(const std::vector<CoverageRow>& rows, bool overlap) noexcept;

// One row per constellation letter present in the record, in letter order, then the "all" row.
// SBAS, IRNSS and unknown letters are listed as not predictable: no satellite of theirs counts
// as uncovered.
// `geometry`, when given, is entry_geometry(obs, nav), computed once for several tables.
// `letters`, when given, keeps the constellations of those letters only ("GEC"), in the rows and
// in the "all" row alike.
std::vector<CoverageRow> navigation_coverage(const RinexObsData& obs, const NavigationData& nav,
                                             const EntryGeometry* geometry = nullptr,
                                             const std::optional<std::string>& letters = std::nullopt);

}  // namespace vardoln::arrays
