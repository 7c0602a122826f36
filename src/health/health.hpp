// One health grade of a recording from named criteria, each with its figure and a pass, warn or
// fail against a documented threshold:
//   completeness       per constellation, expected observations above the mask that are present
//   multipath          per constellation and signal pair, the RMS of both signals' code multipath
//   slips              per constellation and signal pair, observations per phase slip
//   cn0                per signal, the mean C/N0 at 30 to 60 degrees against the signal type's
//                      nominal value, and the median shortfall over all signals
//   events             the detector's jamming, interference, spoofing and lasting-drop events
//   navigation         coverage of the observed satellite-epochs by the navigation records, over
//                      the constellations those records hold
// A criterion that cannot be computed is not assessed, with the reason, and counts for nothing.
// The letter (kGradeRules) follows from the groups that warn or fail and from the events.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arrays/completeness.hpp"
#include "arrays/coverage.hpp"
#include "detector/detector.hpp"
#include "qc/qc.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

enum class Status : std::uint8_t { pass, warn, fail, not_assessed };
std::string_view status_name(Status status) noexcept;  // "pass", "warn", "fail", "not assessed"

enum class Group : std::uint8_t { completeness, multipath, slips, cn0, events, navigation };
inline constexpr std::size_t kGroupCount = 6;
std::string_view group_name(Group group) noexcept;  // "completeness", ..., "navigation"

// Thresholds. A figure passes at `pass` or better and warns at `warn` or better; `higher_is_better`
// says which way better lies.
struct Threshold {
    double pass;
    double warn;
    bool higher_is_better;
    Status judge(double figure) const noexcept;
};

inline constexpr Threshold kCompletenessPercent{90.0, 70.0, true};
inline constexpr Threshold kMultipathMetres{0.5, 1.0, false};
inline constexpr Threshold kObservationsPerSlip{50.0, 10.0, true};
inline constexpr Threshold kCn0ShortfallDb{6.0, 16.0, false};        // one signal below its nominal value
inline constexpr Threshold kCn0MedianShortfallDb{3.0, 6.0, false};   // the median over all signals
inline constexpr Threshold kNavigationCoveragePercent{95.0, 80.0, true};
inline constexpr double kCn0BandLowDeg = 30.0;  // the C/N0 criterion reads [30, 60) degrees
inline constexpr double kCn0BandHighDeg = 60.0;

// Nominal mean C/N0 at 30 to 60 degrees per signal type (constellation letter, band digit and,
// where it matters, the tracking mode), dB-Hz; nothing for a type without one.
std::optional<double> nominal_cn0(char system, std::string_view code) noexcept;

// The table behind nominal_cn0, first match wins; `modes` empty: every tracking mode.
struct NominalLevel {
    char system;
    char band;
    std::string_view modes;
    double db_hz;
};
std::span<const NominalLevel> nominal_levels() noexcept;

struct Criterion {
    Group group = Group::completeness;
    std::string subject;             // "GPS", "GPS L1/L2", "GPS S1C", "all signals"; empty when the group has one
    double figure = 0.0;             // NaN when not assessed
    double second_figure = 0.0;      // multipath: the second signal's RMS; C/N0: the nominal value; else NaN
    Status status = Status::not_assessed;
    std::string reason;              // why it is not assessed
};

struct HealthInputs {
    const RinexObsData* obs = nullptr;
    const QcResult* qc = nullptr;  // at the analysis's elevation mask
    // Completeness and coverage need navigation data: nullptr without; `completeness_refusal`
    // says why the grid was refused when it was.
    const arrays::Completeness* completeness = nullptr;
    std::string completeness_refusal;
    const std::vector<arrays::CoverageRow>* coverage = nullptr;
    // Elevation of the satellite of every entry of the record (NaN where unknown); nullptr
    // without navigation data or receiver position.
    const std::vector<double>* entry_elevations_deg = nullptr;
    const DetectorResult* detector = nullptr;
    // The visibility check's spoofing rule found unexpected satellites, with navigation data that
    // can back it.
    bool visibility_spoofing = false;
    std::string systems;  // letters judged; empty: every one
    std::string no_navigation_reason = "no navigation data";
};

struct Health {
    char grade = 'A';
    std::string sentence;
    std::vector<Criterion> criteria;  // by group, then subject
    std::uint32_t warned = 0;         // criteria that warn
    std::uint32_t failed = 0;         // criteria that fail
    std::array<Status, kGroupCount> groups{};  // the worst status of each group's criteria
};

// The rule behind the letter, first match wins; the documentation prints this table.
struct GradeRule {
    char grade;
    std::string_view rule;
};
inline constexpr std::array<GradeRule, 5> kGradeRules{{
    {'F', "a jamming, spoofing or lasting-drop event, or spoofing by the visibility check"},
    {'D', "an interference event, or failing criteria in two or more groups"},
    {'C', "failing criteria in one group"},
    {'B', "warnings, and no criterion fails"},
    {'A', "every assessed criterion passes"},
}};

Health assess_health(const HealthInputs& inputs);

// Mean C/N0 per constellation letter and S code over the samples at [30, 60) degrees, for the
// C/N0 criterion; exposed for its tests.
struct SignalLevel {
    char system = 0;
    std::string code;
    std::uint64_t samples = 0;
    double mean_db = 0.0;
};
std::vector<SignalLevel> signal_levels(const RinexObsData& obs, const std::vector<double>& entry_elevations_deg,
                                       const std::string& systems);

}  // namespace vardoln
