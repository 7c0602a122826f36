#include "qc/qc.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "navigation/orbits.hpp"
#include "qc/signals.hpp"
#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

constexpr double kFiveMinutes_s = 300.0;
constexpr std::size_t kElevationBins = 18;  // 5 degrees each, 0 to 90
constexpr double kElevationBin_deg = 5.0;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr float kUnknownElevation = std::numeric_limits<float>::quiet_NaN();

// A sample stored compactly; a value beyond the float range becomes an infinity rather than
// undefined behaviour.
float narrow(double value) noexcept {
    constexpr double kLargest = std::numeric_limits<float>::max();
    if (value > kLargest) return std::numeric_limits<float>::infinity();
    if (value < -kLargest) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

// The epochs that carry observations (flag 0, or 1 after a power failure); event epochs
// (flags 2 to 5) and cycle-slip records (flag 6) are left out.
struct UsableEpochs {
    std::vector<std::uint32_t> index;     // into RinexObsData::epochs
    std::vector<double> time_s;           // since the first usable epoch
    std::vector<std::uint32_t> power_failures;  // flag-1 epochs up to and including this one

    std::size_t size() const noexcept { return index.size(); }
};

UsableEpochs usable_epochs(const RinexObsData& obs) {
    UsableEpochs usable;
    const EpochTime* first = nullptr;
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const ObservationEpoch& epoch = obs.epochs[e];
        if (epoch.flag > 1) continue;
        const double time_s = first ? epoch_difference_seconds(epoch.time, *first) : 0.0;
        if (!std::isfinite(time_s) || !std::isfinite(epoch.time.second)) continue;
        if (!first) first = &epoch.time;
        usable.index.push_back(static_cast<std::uint32_t>(e));
        usable.time_s.push_back(time_s);
        const std::uint32_t before = usable.power_failures.empty() ? 0 : usable.power_failures.back();
        usable.power_failures.push_back(before + (epoch.flag == 1 ? 1U : 0U));
    }
    return usable;
}

// Each satellite's entries in the usable epochs, in time order: a counting sort by satellite.
struct SatelliteEntries {
    std::vector<std::uint32_t> offsets;  // satellite s owns [offsets[s], offsets[s + 1])
    std::vector<std::uint32_t> entry;    // index into RinexObsData::satellite_entries
    std::vector<std::uint32_t> usable;   // index into UsableEpochs
};

SatelliteEntries group_by_satellite(const RinexObsData& obs, const UsableEpochs& usable) {
    const std::size_t satellites = obs.satellite_ids.size();
    SatelliteEntries groups;
    groups.offsets.assign(satellites + 1, 0);
    const auto each_entry = [&](auto&& visit) {
        for (std::size_t k = 0; k < usable.size(); ++k) {
            const ObservationEpoch& epoch = obs.epochs[usable.index[k]];
            for (std::uint32_t i = 0; i < epoch.satellite_count; ++i) {
                const std::uint32_t entry = epoch.first_satellite + i;
                const std::uint32_t satellite = obs.satellite_entries[entry].satellite;
                if (satellite < satellites) visit(satellite, entry, static_cast<std::uint32_t>(k));
            }
        }
    };
    each_entry([&](std::uint32_t satellite, std::uint32_t, std::uint32_t) { ++groups.offsets[satellite + 1]; });
    std::partial_sum(groups.offsets.begin(), groups.offsets.end(), groups.offsets.begin());
    groups.entry.resize(groups.offsets.back());
    groups.usable.resize(groups.offsets.back());
    std::vector<std::uint32_t> next(groups.offsets.begin(), groups.offsets.end() - 1);
    each_entry([&](std::uint32_t satellite, std::uint32_t entry, std::uint32_t k) {
        groups.entry[next[satellite]] = entry;
        groups.usable[next[satellite]++] = k;
    });
    return groups;
}

// The candidates of every signal rule, as code indices of this record (candidates whose code
// or phase the record never uses are dropped).
struct ResolvedCandidate {
    std::uint32_t code;
    std::uint32_t phase;
};

std::vector<std::vector<ResolvedCandidate>> resolve_candidates(const RinexObsData& obs) {
    std::unordered_map<std::string_view, std::uint32_t> code_index;
    for (std::size_t i = 0; i < obs.codes.size(); ++i) code_index.emplace(obs.codes[i], static_cast<std::uint32_t>(i));
    std::vector<std::vector<ResolvedCandidate>> resolved;
    for (const SignalRule& rule : signal_rules()) {
        auto& list = resolved.emplace_back();
        for (const CodePhase& candidate : signal_candidates(rule, obs.version)) {
            const auto code = code_index.find(candidate.code);
            const auto phase = code_index.find(candidate.phase);
            if (code != code_index.end() && phase != code_index.end()) list.push_back({code->second, phase->second});
        }
    }
    return resolved;
}

// The values of one satellite entry by code index, found through a stamp per code so that
// nothing is cleared between entries.
class EntryValues {
public:
    explicit EntryValues(std::size_t codes) : stamp_(codes, 0), value_(codes, nullptr) {}

    void load(const RinexObsData& obs, std::uint32_t entry) {
        ++current_;
        for (const ObservationValue& value : obs.values_of(obs.satellite_entries[entry])) {
            if (value.code < stamp_.size() && std::isfinite(value.value)) {
                stamp_[value.code] = current_;
                value_[value.code] = &value;
            }
        }
    }
    const ObservationValue* find(std::uint32_t code) const noexcept {
        return stamp_[code] == current_ ? value_[code] : nullptr;
    }
    bool has(const ResolvedCandidate& candidate) const noexcept {
        return stamp_[candidate.code] == current_ && stamp_[candidate.phase] == current_;
    }

private:
    std::uint64_t current_ = 0;
    std::vector<std::uint64_t> stamp_;
    std::vector<const ObservationValue*> value_;
};

// The linear combinations of one pair at one satellite's frequencies.
struct Combination {
    double lambda_i, lambda_j;        // m
    double mp_i_phase_i, mp_i_phase_j;  // MP_i = P_i - mp_i_phase_i Phi_i + mp_i_phase_j Phi_j
    double mp_j_phase_i, mp_j_phase_j;  // MP_j = P_j - mp_j_phase_i Phi_i + mp_j_phase_j Phi_j
    double wide_phase_i, wide_phase_j;  // wide-lane phase (f_i Phi_i - f_j Phi_j) / (f_i - f_j)
    double narrow_code_i, narrow_code_j;  // narrow-lane code (f_i P_i + f_j P_j) / (f_i + f_j)
    double lambda_wide;               // c / (f_i - f_j)

    static Combination of(double f_i, double f_j) noexcept {
        const double alpha = (f_i / f_j) * (f_i / f_j);
        const double beta = 2.0 / (alpha - 1.0);
        return {kSpeedOfLight / f_i,  kSpeedOfLight / f_j,        1.0 + beta,           beta,
                alpha * beta,         alpha * beta - 1.0,         f_i / (f_i - f_j),    f_j / (f_i - f_j),
                f_i / (f_i + f_j),    f_j / (f_i + f_j),          kSpeedOfLight / std::fabs(f_i - f_j)};
    }
};

struct SeriesPoint {
    std::uint32_t epoch;  // index into RinexObsData::epochs
    double time_s;
    double geometry_free_m;
    double wide_lane_cycles;
    double mp_i_m;  // ambiguity still in
    double mp_j_m;
    float elevation_deg;
    bool lost_lock;
    std::uint32_t power_failures;  // a change between two points is a power failure between them
};

struct Accumulator {
    std::uint64_t samples = 0;
    double squares_i = 0.0;
    double squares_j = 0.0;

    void add(double mp_i, double mp_j) noexcept {
        ++samples;
        squares_i += mp_i * mp_i;
        squares_j += mp_j * mp_j;
    }
    void add(const Accumulator& other) noexcept {
        samples += other.samples;
        squares_i += other.squares_i;
        squares_j += other.squares_j;
    }
    double rms_i() const noexcept { return std::sqrt(squares_i / static_cast<double>(samples)); }
    double rms_j() const noexcept { return std::sqrt(squares_j / static_cast<double>(samples)); }
};

std::optional<double> per_slip(std::uint64_t observations, std::uint64_t slips) noexcept {
    if (slips == 0) return std::nullopt;
    return static_cast<double>(observations) / static_cast<double>(slips);
}

// Per pair, what its satellites showed, for the summaries and the reasons for missing rows.
struct PairTally {
    PairSummary summary;
    Accumulator total;
    std::array<Accumulator, kElevationBins> bins{};
    bool first_seen = false;  // some satellite had the first signal's code and phase (above the mask)
    bool second_seen = false;
    bool first_below_mask = false;  // ... or had them below the mask only
    bool second_below_mask = false;
    bool unknown_channel = false;
};

// Arcs, slips and multipath of one satellite and pair; fills the row, the tally and the samples.
void walk_series(const std::vector<SeriesPoint>& series, const ArcRules& rules, std::uint32_t satellite,
                 SatellitePairQc& row, PairTally& tally, QcResult& result) {
    MultipathSamples& out = result.samples;
    Accumulator row_total;
    std::size_t arc_start = 0;
    const auto close_arc = [&](std::size_t end) {
        const std::size_t length = end - arc_start;
        if (length == 0) return;
        if (length < ArcRules::kMinArcEpochs) {
            ++row.short_arcs;
            return;
        }
        ++row.arcs;
        // Means taken relative to the first point keep the ambiguity's magnitude out of the sum.
        const double base_i = series[arc_start].mp_i_m;
        const double base_j = series[arc_start].mp_j_m;
        double sum_i = 0.0;
        double sum_j = 0.0;
        for (std::size_t k = arc_start; k < end; ++k) {
            sum_i += series[k].mp_i_m - base_i;
            sum_j += series[k].mp_j_m - base_j;
        }
        const double mean_i = base_i + sum_i / static_cast<double>(length);
        const double mean_j = base_j + sum_j / static_cast<double>(length);
        for (std::size_t k = arc_start; k < end; ++k) {
            const SeriesPoint& point = series[k];
            const double mp_i = point.mp_i_m - mean_i;
            const double mp_j = point.mp_j_m - mean_j;
            row_total.add(mp_i, mp_j);
            if (point.elevation_deg >= 0.0f) {
                const auto bin = std::min(static_cast<std::size_t>(point.elevation_deg / kElevationBin_deg),
                                          kElevationBins - 1);
                tally.bins[bin].add(mp_i, mp_j);
            }
            out.epoch.push_back(point.epoch);
            out.satellite.push_back(satellite);
            out.pair.push_back(row.pair);
            out.mp_i_m.push_back(narrow(mp_i));
            out.mp_j_m.push_back(narrow(mp_j));
            out.elevation_deg.push_back(point.elevation_deg);
        }
    };

    for (std::size_t k = 1; k < series.size(); ++k) {
        const SeriesPoint& previous = series[k - 1];
        const SeriesPoint& point = series[k];
        const double step_s = point.time_s - previous.time_s;
        // Continuity: time moves forward by no more than the gap limit, without a power failure.
        if (!(step_s > 0.0) || step_s > rules.gap_limit_s || point.power_failures != previous.power_failures) {
            close_arc(k);
            arc_start = k;
            continue;
        }
        const bool geometry_free = std::fabs(point.geometry_free_m - previous.geometry_free_m) >
                                   ArcRules::geometry_free_threshold_m(step_s);
        const bool wide_lane =
            std::fabs(point.wide_lane_cycles - previous.wide_lane_cycles) > ArcRules::kWideLaneThresholdCycles;
        if (!geometry_free && !wide_lane && !point.lost_lock) continue;
        row.slips += geometry_free || wide_lane;
        row.lli_slips += point.lost_lock;
        result.slip_events.push_back({point.epoch, satellite, row.pair, geometry_free, wide_lane, point.lost_lock});
        close_arc(k);
        arc_start = k;
    }
    close_arc(series.size());

    row.samples = static_cast<std::uint32_t>(row_total.samples);
    if (row_total.samples > 0) {
        row.rms_i_m = row_total.rms_i();
        row.rms_j_m = row_total.rms_j();
    }
    row.obs_per_slip = per_slip(row.observations, row.slips);
    tally.total.add(row_total);
}

bool usable_receiver(const std::optional<Ecef>& position) noexcept {
    if (!position) return false;
    const auto [x, y, z] = *position;
    const double radius = std::sqrt(x * x + y * y + z * z);
    // Loggers without a fix write zeros; a point within 1000 km of the Earth's centre is none.
    return std::isfinite(radius) && radius > 1e6;
}

std::string signal_names_missing(const SignalPair& pair, bool first_seen, bool second_seen) {
    const auto rules = signal_rules();
    std::string names;
    if (!first_seen) names += rules[pair.first].name;
    if (!second_seen) {
        if (!names.empty()) names += " or ";
        names += rules[pair.second].name;
    }
    return "no " + names + " code with a phase of the same tracking mode";
}

constexpr std::string_view kNoChannelText =
    "GLONASS frequency channel unknown (no GLONASS SLOT / FRQ # entry and no navigation record)";

class QcPass {
public:
    QcPass(const RinexObsData& obs, const NavigationData* nav, const QcSettings& settings,
           const std::vector<double>* entry_elevations_deg)
        : obs_(obs), nav_(nav), settings_(settings), usable_(usable_epochs(obs)),
          groups_(group_by_satellite(obs, usable_)), candidates_(resolve_candidates(obs)), values_(obs.codes.size()) {
        result_.epochs = static_cast<std::uint32_t>(usable_.size());
        result_.interval_s = most_common_step_s(usable_.time_s, obs.interval);
        result_.rules = ArcRules::for_interval(result_.interval_s);
        if (nav_ && nav_->has_data() && usable_receiver(obs.approx_position)) {
            const Ecef& receiver = *obs.approx_position;
            frame_.emplace(receiver, ecef_to_geodetic(receiver));
            result_.has_elevations = true;
            if (entry_elevations_deg != nullptr && entry_elevations_deg->size() == obs.satellite_entries.size()) {
                entry_elevations_ = entry_elevations_deg;
            } else {
                orbits_.emplace(*nav_);
                orbit_epochs_.reserve(usable_.size());
                for (const std::uint32_t e : usable_.index) orbit_epochs_.push_back(orbit_epoch(obs.epochs[e].time));
            }
        }
        tallies_.resize(signal_pairs().size());
        for (std::size_t p = 0; p < tallies_.size(); ++p) tallies_[p].summary.pair = static_cast<std::uint8_t>(p);
    }

    QcResult run() {
        std::vector<std::uint32_t> order(obs_.satellite_ids.size());
        std::iota(order.begin(), order.end(), 0U);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return obs_.satellite_ids[a] < obs_.satellite_ids[b]; });
        for (const std::uint32_t satellite : order) {
            if (groups_.offsets[satellite] == groups_.offsets[satellite + 1]) continue;
            process_satellite(satellite);
        }
        finish();
        return std::move(result_);
    }

private:
    void process_satellite(std::uint32_t satellite) {
        const std::string& id = obs_.satellite_ids[satellite];
        if (id.empty()) return;
        const char letter = id.front();
        const auto pairs = signal_pairs();
        if (std::none_of(pairs.begin(), pairs.end(), [&](const SignalPair& pair) { return pair.system == letter; }))
            return;
        if (present_letters_.find(letter) == std::string::npos) present_letters_ += letter;

        const std::uint32_t begin = groups_.offsets[satellite];
        const std::uint32_t end = groups_.offsets[satellite + 1];
        compute_elevations(id, begin, end);
        choose_candidates(letter, begin, end);

        std::optional<std::int32_t> channel;
        if (letter == 'R') channel = glonass_channel(obs_, nav_, id);
        std::optional<std::uint32_t> result_index;
        for (std::size_t p = 0; p < pairs.size(); ++p) {
            const SignalPair& pair = pairs[p];
            if (pair.system != letter) continue;
            PairTally& tally = tallies_[p];
            const std::uint32_t first = chosen_[pair.first];
            const std::uint32_t second = chosen_[pair.second];
            tally.first_seen |= first != kNone;
            tally.second_seen |= second != kNone;
            tally.first_below_mask |= below_mask_[pair.first] != 0;
            tally.second_below_mask |= below_mask_[pair.second] != 0;
            if (first == kNone || second == kNone) continue;
            const ResolvedCandidate& ci = candidates_[pair.first][first];
            const ResolvedCandidate& cj = candidates_[pair.second][second];
            const auto f_i = carrier_frequency_hz(letter, obs_.codes[ci.phase][1], obs_.version, channel);
            const auto f_j = carrier_frequency_hz(letter, obs_.codes[cj.phase][1], obs_.version, channel);
            if (!f_i || !f_j) {
                if (letter == 'R') {
                    tally.unknown_channel = true;
                    missing_satellites_.push_back({static_cast<std::uint8_t>(p), id, MissingReason::no_glonass_channel,
                                                   std::string(kNoChannelText)});
                }
                continue;
            }
            extract_series(begin, end, ci, cj, Combination::of(*f_i, *f_j));
            if (series_.empty()) continue;

            if (!result_index) {
                result_index = static_cast<std::uint32_t>(result_.satellites.size());
                result_.satellites.push_back(id);
            }
            SatellitePairQc& row = result_.rows.emplace_back();
            row.satellite = id;
            row.pair = static_cast<std::uint8_t>(p);
            row.codes = {obs_.codes[ci.code], obs_.codes[ci.phase], obs_.codes[cj.code], obs_.codes[cj.phase]};
            row.observations = static_cast<std::uint32_t>(series_.size());
            walk_series(series_, result_.rules, *result_index, row, tally, result_);
        }
    }

    // Elevation of the satellite at each of its entries, NaN where unknown.
    void compute_elevations(const std::string& id, std::uint32_t begin, std::uint32_t end) {
        elevations_.assign(end - begin, kUnknownElevation);
        if (!frame_) return;
        if (entry_elevations_ != nullptr) {
            for (std::uint32_t k = begin; k < end; ++k) {
                const double elevation = (*entry_elevations_)[groups_.entry[k]];
                if (std::isfinite(elevation)) elevations_[k - begin] = static_cast<float>(elevation);
            }
            return;
        }
        const std::size_t handle = orbits_->add_satellite(navigation_key(id));
        for (std::uint32_t k = begin; k < end; ++k) {
            const std::optional<Ecef> position = orbits_->position(handle, orbit_epochs_[groups_.usable[k]]);
            if (!position) continue;
            const double elevation = frame_->elevation_deg(*position);
            if (std::isfinite(elevation)) elevations_[k - begin] = static_cast<float>(elevation);
        }
    }

    bool masked(std::uint32_t offset) const noexcept {
        // NaN (unknown) compares false and is kept.
        return elevations_[offset] < settings_.min_elevation_deg;
    }

    // Per signal rule, the highest-priority candidate seen with code and phase in one epoch
    // above the mask, and whether some candidate was seen below it.
    void choose_candidates(char letter, std::uint32_t begin, std::uint32_t end) {
        const auto rules = signal_rules();
        chosen_.assign(rules.size(), kNone);
        below_mask_.assign(rules.size(), 0);
        for (std::uint32_t k = begin; k < end; ++k) {
            const bool below = masked(k - begin);
            values_.load(obs_, groups_.entry[k]);
            for (std::size_t r = 0; r < rules.size(); ++r) {
                if (rules[r].system != letter) continue;
                const auto& list = candidates_[r];
                if (below) {
                    if (below_mask_[r] == 0)
                        below_mask_[r] = std::any_of(list.begin(), list.end(), [&](const ResolvedCandidate& c) {
                            return values_.has(c);
                        });
                    continue;
                }
                // Only candidates ahead of the current choice can change it.
                const std::size_t limit = std::min<std::size_t>(chosen_[r], list.size());
                for (std::size_t c = 0; c < limit; ++c) {
                    if (values_.has(list[c])) {
                        chosen_[r] = static_cast<std::uint32_t>(c);
                        break;
                    }
                }
            }
        }
    }

    void extract_series(std::uint32_t begin, std::uint32_t end, const ResolvedCandidate& ci,
                        const ResolvedCandidate& cj, const Combination& combination) {
        series_.clear();
        for (std::uint32_t k = begin; k < end; ++k) {
            if (masked(k - begin)) continue;
            values_.load(obs_, groups_.entry[k]);
            const ObservationValue* code_i = values_.find(ci.code);
            const ObservationValue* phase_i = values_.find(ci.phase);
            const ObservationValue* code_j = values_.find(cj.code);
            const ObservationValue* phase_j = values_.find(cj.phase);
            if (!code_i || !phase_i || !code_j || !phase_j) continue;
            const double p_i = code_i->value;
            const double p_j = code_j->value;
            const double phi_i = combination.lambda_i * phase_i->value;
            const double phi_j = combination.lambda_j * phase_j->value;
            const double wide_lane_m = combination.wide_phase_i * phi_i - combination.wide_phase_j * phi_j -
                                       (combination.narrow_code_i * p_i + combination.narrow_code_j * p_j);
            const double geometry_free_m = phi_i - phi_j;
            const double wide_lane_cycles = wide_lane_m / combination.lambda_wide;
            const double mp_i_m = p_i - combination.mp_i_phase_i * phi_i + combination.mp_i_phase_j * phi_j;
            const double mp_j_m = p_j - combination.mp_j_phase_i * phi_i + combination.mp_j_phase_j * phi_j;
            // Values near the limits of a double overflow the combinations; such an epoch holds
            // no observation.
            if (!std::isfinite(geometry_free_m) || !std::isfinite(wide_lane_cycles) || !std::isfinite(mp_i_m) ||
                !std::isfinite(mp_j_m))
                continue;
            const std::uint32_t u = groups_.usable[k];
            // Bit 0 of the loss-of-lock indicator is a loss of lock; bits 1 and 2 are not (some
            // RINEX 2 receivers set bit 2 on every phase).
            const bool lost_lock = (phase_i->lli.value_or(0) & 1U) != 0 || (phase_j->lli.value_or(0) & 1U) != 0;
            series_.push_back({usable_.index[u], usable_.time_s[u], geometry_free_m, wide_lane_cycles, mp_i_m, mp_j_m,
                               elevations_[k - begin], lost_lock, usable_.power_failures[u]});
        }
    }

    void finish() {
        const auto pairs = signal_pairs();
        for (std::size_t p = 0; p < pairs.size(); ++p) {
            PairTally& tally = tallies_[p];
            PairSummary& summary = tally.summary;
            for (const SatellitePairQc& row : result_.rows) {
                if (row.pair != p) continue;
                ++summary.satellites;
                summary.observations += row.observations;
                summary.arcs += row.arcs;
                summary.short_arcs += row.short_arcs;
                summary.slips += row.slips;
                summary.lli_slips += row.lli_slips;
                std::string text = row.codes.text();
                if (std::find(summary.codes_used.begin(), summary.codes_used.end(), text) == summary.codes_used.end())
                    summary.codes_used.push_back(std::move(text));
            }
            if (summary.satellites > 0) {
                summary.samples = tally.total.samples;
                if (tally.total.samples > 0) {
                    summary.rms_i_m = tally.total.rms_i();
                    summary.rms_j_m = tally.total.rms_j();
                }
                summary.obs_per_slip = per_slip(summary.observations, summary.slips);
                for (std::size_t b = 0; b < kElevationBins; ++b) {
                    const Accumulator& bin = tally.bins[b];
                    if (bin.samples == 0) continue;
                    summary.by_elevation.push_back(
                        {static_cast<double>(b) * kElevationBin_deg, bin.samples, bin.rms_i(), bin.rms_j()});
                }
                result_.summaries.push_back(std::move(summary));
                continue;
            }
            // No rows: say why, for constellations that the record has.
            const SignalPair& pair = pairs[p];
            if (present_letters_.find(pair.system) == std::string::npos) continue;
            const auto u8 = static_cast<std::uint8_t>(p);
            const bool first_found = tally.first_seen || tally.first_below_mask;
            const bool second_found = tally.second_seen || tally.second_below_mask;
            if (!first_found || !second_found) {
                result_.missing.push_back(
                    {u8, "", MissingReason::no_signal, signal_names_missing(pair, first_found, second_found)});
            } else if (!tally.first_seen || !tally.second_seen) {
                result_.missing.push_back({u8, "", MissingReason::below_mask,
                                           "observed only below the elevation mask of " +
                                               format_plain(settings_.min_elevation_deg) + " degrees"});
            } else if (tally.unknown_channel) {
                result_.missing.push_back({u8, "", MissingReason::no_glonass_channel,
                                           "GLONASS frequency channel unknown for every satellite (no GLONASS "
                                           "SLOT / FRQ # entry and no navigation record)"});
            } else {
                const auto rules = signal_rules();
                result_.missing.push_back({u8, "", MissingReason::never_together,
                                           "no satellite has " + std::string(rules[pair.first].name) + " and " +
                                               std::string(rules[pair.second].name) +
                                               " codes and phases in one epoch"});
            }
        }
        // Satellites without rows where their constellation has some follow the constellation-wide entries.
        for (MissingPair& entry : missing_satellites_) {
            const bool constellation_wide = std::any_of(result_.missing.begin(), result_.missing.end(),
                                                        [&](const MissingPair& m) { return m.pair == entry.pair; });
            if (!constellation_wide) result_.missing.push_back(std::move(entry));
        }
        std::stable_sort(result_.missing.begin(), result_.missing.end(),
                         [](const MissingPair& a, const MissingPair& b) { return a.pair < b.pair; });
    }

    const RinexObsData& obs_;
    const NavigationData* nav_;
    const QcSettings& settings_;
    UsableEpochs usable_;
    SatelliteEntries groups_;
    std::vector<std::vector<ResolvedCandidate>> candidates_;
    EntryValues values_;
    std::optional<TopocentricFrame> frame_;
    std::optional<OrbitEvaluator> orbits_;
    const std::vector<double>* entry_elevations_ = nullptr;  // instead of orbits_ when given
    std::vector<OrbitEpoch> orbit_epochs_;

    // Scratch, reused per satellite and pair.
    std::vector<float> elevations_;
    std::vector<std::uint32_t> chosen_;
    std::vector<std::uint8_t> below_mask_;
    std::vector<SeriesPoint> series_;

    std::string present_letters_;  // constellations with pairs that the record has
    std::vector<PairTally> tallies_;
    std::vector<MissingPair> missing_satellites_;
    QcResult result_;
};

}  // namespace

ArcRules ArcRules::for_interval(double interval_s) noexcept {
    const double three_intervals = std::isfinite(interval_s) && interval_s > 0.0 ? 3.0 * interval_s : 0.0;
    return {std::max(three_intervals, kFiveMinutes_s)};
}

QcResult run_qc(const RinexObsData& obs, const NavigationData* nav, const QcSettings& settings,
                const std::vector<double>* entry_elevations_deg) {
    return QcPass(obs, nav, settings, entry_elevations_deg).run();
}

std::optional<ElevationRangeRms> rms_in_elevation_range(const QcResult& result, std::uint8_t pair, double low_deg,
                                                        double high_deg) noexcept {
    Accumulator total;
    const MultipathSamples& samples = result.samples;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const double elevation = samples.elevation_deg[k];
        if (samples.pair[k] != pair || !(elevation >= low_deg && elevation < high_deg)) continue;
        total.add(samples.mp_i_m[k], samples.mp_j_m[k]);
    }
    if (total.samples == 0) return std::nullopt;
    return ElevationRangeRms{total.samples, total.rms_i(), total.rms_j()};
}

}  // namespace vardoln
