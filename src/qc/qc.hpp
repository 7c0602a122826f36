// Station quality control from code and carrier: multipath per satellite and signal pair,
// arcs of continuous tracking, and phase slips.
//
// For frequencies f_i and f_j with alpha = (f_i / f_j)^2 and carrier phases in metres
// (Phi = lambda * L), per epoch:
//   MP_i = P_i - (1 + 2/(alpha-1)) Phi_i + (2/(alpha-1)) Phi_j
//   MP_j = P_j - (2 alpha/(alpha-1)) Phi_i + (2 alpha/(alpha-1) - 1) Phi_j
// Both hold the code multipath plus a constant carrier ambiguity per arc, which the arc mean
// removes. Geometry, clocks and the first-order ionosphere cancel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_data.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

struct QcSettings {
    // Epochs in which a satellite is known to stand lower are left out of everything; without
    // navigation data (or a header position) no elevation is known and nothing is left out.
    double min_elevation_deg = 10.0;
};

// Arc and slip rules, from the file's interval (interval_s > 0) or without one.
struct ArcRules {
    double gap_limit_s;  // a longer gap ends an arc: the larger of 3 intervals and 5 minutes
    // A geometry-free phase jump above this many metres between epoch steps of step_s seconds
    // is a slip: 0.05 m of carrier noise and multipath plus 1 mm/s of ionospheric drift
    // (0.051 m at 1 s, 0.08 m at 30 s, 0.35 m at 300 s).
    static double geometry_free_threshold_m(double step_s) noexcept { return 0.05 + 0.001 * step_s; }
    // A Melbourne-Wubbena jump above this many wide-lane cycles between epochs is a slip.
    static constexpr double kWideLaneThresholdCycles = 4.0;
    // Arcs shorter than this give no multipath samples (their mean is no reference).
    static constexpr std::uint32_t kMinArcEpochs = 10;

    static ArcRules for_interval(double interval_s) noexcept;
};

// The signals one row used: code and phase of the first signal, then of the second.
struct CodesUsed {
    std::string code_i, phase_i, code_j, phase_j;
    std::string text() const { return code_i + ' ' + phase_i + ' ' + code_j + ' ' + phase_j; }
};

// One satellite and one signal pair.
struct SatellitePairQc {
    std::string satellite;
    std::uint8_t pair = 0;            // index into signal_pairs()
    CodesUsed codes;
    std::uint32_t observations = 0;   // epochs with both codes and both phases
    std::uint32_t samples = 0;        // of those, in arcs of at least kMinArcEpochs epochs
    std::uint32_t arcs = 0;           // arcs of at least kMinArcEpochs epochs
    std::uint32_t short_arcs = 0;     // shorter arcs, left out of the multipath figures
    // Within continuous tracking (not at a satellite's first epoch or after a gap): phase slips
    // found by the geometry-free or Melbourne-Wubbena jump, and, counted apart, epochs whose
    // loss-of-lock indicator has bit 0 set on either phase. An epoch may count in both.
    std::uint32_t slips = 0;
    std::uint32_t lli_slips = 0;
    std::optional<double> rms_i_m;    // MP_i, arc means removed; nothing without samples
    std::optional<double> rms_j_m;
    std::optional<double> obs_per_slip;  // observations / slips; nothing without slips
};

struct ElevationBin {
    double lower_deg = 0.0;  // the bin holds [lower_deg, lower_deg + 5), 90 in the last one
    std::uint64_t samples = 0;
    double rms_i_m = 0.0;  // a bin exists only with samples
    double rms_j_m = 0.0;
};

// One constellation and signal pair over all its satellites.
struct PairSummary {
    std::uint8_t pair = 0;  // index into signal_pairs()
    std::uint32_t satellites = 0;
    std::uint64_t observations = 0;
    std::uint64_t samples = 0;
    std::uint64_t arcs = 0;
    std::uint64_t short_arcs = 0;
    std::uint64_t slips = 0;
    std::uint64_t lli_slips = 0;
    std::optional<double> rms_i_m;
    std::optional<double> rms_j_m;
    std::optional<double> obs_per_slip;
    std::vector<std::string> codes_used;  // distinct CodesUsed::text() values, in row order
    std::vector<ElevationBin> by_elevation;  // ascending, only bins with samples; empty without positions
};

enum class MissingReason : std::uint8_t {
    no_signal,           // a signal has no code with a phase of the same tracking mode
    never_together,      // both signals exist, never for one satellite in one epoch
    no_glonass_channel,  // GLONASS frequency channel unknown (header and navigation)
    below_mask,          // a signal exists only in epochs below the elevation mask
};

// Why a constellation present in the file (satellite empty) or one satellite has no rows for a pair.
struct MissingPair {
    std::uint8_t pair = 0;  // index into signal_pairs()
    std::string satellite;
    MissingReason reason = MissingReason::no_signal;
    std::string text;  // "no L5 code with a phase of the same tracking mode"
};

// Every multipath sample, as parallel arrays (one entry per sample), in row order and time
// order within a row.
struct MultipathSamples {
    std::vector<std::uint32_t> epoch;      // index into RinexObsData::epochs
    std::vector<std::uint32_t> satellite;  // index into QcResult::satellites
    std::vector<std::uint8_t> pair;        // index into signal_pairs()
    std::vector<float> mp_i_m;             // arc mean removed
    std::vector<float> mp_j_m;
    std::vector<float> elevation_deg;      // NaN where unknown

    std::size_t size() const noexcept { return epoch.size(); }
};

// One epoch at which a satellite's pair lost continuity through a slip.
struct PhaseSlipEvent {
    std::uint32_t epoch = 0;      // index into RinexObsData::epochs
    std::uint32_t satellite = 0;  // index into QcResult::satellites
    std::uint8_t pair = 0;        // index into signal_pairs()
    bool geometry_free = false;   // found by the geometry-free jump
    bool wide_lane = false;       // found by the Melbourne-Wubbena jump
    bool lost_lock = false;       // flagged by the loss-of-lock indicator
};

struct QcResult {
    std::uint32_t epochs = 0;  // epochs used: flag 0 or 1 with a readable time
    double interval_s = 0.0;   // the most common step between them; the header's when there is none
    ArcRules rules{};
    bool has_elevations = false;  // navigation data and a receiver position were given
    std::vector<std::string> satellites;   // with rows, ascending
    std::vector<SatellitePairQc> rows;     // by satellite, then pair
    std::vector<PairSummary> summaries;    // pairs with rows, in signal_pairs() order
    std::vector<MissingPair> missing;      // by pair, constellation-wide first
    std::vector<PhaseSlipEvent> slip_events;  // in row order, time order within a row
    MultipathSamples samples;
};

// One QC pass over a record; `nav` may be null. Never fails: a record without usable pairs
// gives a result without rows whose `missing` says why. `entry_elevations_deg`, when given, holds
// the elevation of the satellite of every entry of the record (RinexObsData::satellite_entries,
// NaN where unknown) from the same navigation data and the header's receiver position, as the
// tables compute them; the pass then evaluates no orbit itself.
QcResult run_qc(const RinexObsData& obs, const NavigationData* nav, const QcSettings& settings,
                const std::vector<double>* entry_elevations_deg = nullptr);

// RMS of MP_i and MP_j over the samples of one pair whose elevation lies in [low_deg, high_deg);
// nothing without such samples.
struct ElevationRangeRms {
    std::uint64_t samples = 0;
    double rms_i_m = 0.0;
    double rms_j_m = 0.0;
};
std::optional<ElevationRangeRms> rms_in_elevation_range(const QcResult& result, std::uint8_t pair, double low_deg,
                                                        double high_deg) noexcept;

}  // namespace vardoln
