#include "cn0/analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cn0/anomalies.hpp"
#include "cn0/quality.hpp"
#include "cn0/samples.hpp"
#include "cn0/skyplot.hpp"
#include "navigation/orbits.hpp"
#include "navigation/receiver.hpp"
#include "rinex/counters.hpp"
#include "rinex/ids.hpp"
#include "visibility/visibility.hpp"

namespace vardoln {

namespace {

// Stable counting sort of sample indices by a small key: O(samples + keys), no comparisons.
template <typename Key>
void group_by(const std::vector<SignalObservation>& samples, std::size_t key_count, Key key,
              std::vector<std::uint32_t>& order, std::vector<std::uint32_t>& offsets) {
    offsets.assign(key_count + 1, 0);
    for (const SignalObservation& sample : samples) ++offsets[key(sample) + 1];
    std::partial_sum(offsets.begin(), offsets.end(), offsets.begin());
    std::vector<std::uint32_t> next(offsets.begin(), offsets.end() - 1);
    order.resize(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) order[next[key(samples[i])]++] = static_cast<std::uint32_t>(i);
}

}  // namespace

SampleGroups group_samples(const SampleSet& set) {
    SampleGroups groups;
    group_by(set.samples, set.satellites.size(), [](const SignalObservation& s) { return s.satellite; },
             groups.by_satellite, groups.satellite_offsets);
    group_by(set.samples, set.timestamps.size(), [](const SignalObservation& s) { return s.time_slot; },
             groups.by_time, groups.time_offsets);
    return groups;
}

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// What a constellation usually shows above a mid-latitude horizon, used when the prediction
// gives no figure.
std::uint64_t typical_satellites_in_view(std::string_view name) noexcept {
    if (name == "GPS") return 12;
    if (name == "GLONASS") return 9;
    if (name == "BeiDou") return 15;
    if (name == "QZSS") return 4;
    if (name == "SBAS") return 3;
    if (name == "IRNSS") return 7;
    return 10;
}

// Each epoch's timestamp text is written once. Texts sort chronologically, and epochs whose
// texts are equal (a file that repeats an epoch) share one slot.
struct EpochSlots {
    std::vector<std::uint32_t> slot_of_epoch;
    std::vector<std::string> texts;  // distinct, ascending
};

EpochSlots make_epoch_slots(std::vector<std::string> epoch_texts) {
    std::vector<std::uint32_t> order(epoch_texts.size());
    std::iota(order.begin(), order.end(), 0u);
    if (!std::is_sorted(epoch_texts.begin(), epoch_texts.end())) {
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return epoch_texts[a] < epoch_texts[b]; });
    }
    EpochSlots slots;
    slots.slot_of_epoch.resize(epoch_texts.size());
    for (const std::uint32_t epoch : order) {
        if (slots.texts.empty() || slots.texts.back() != epoch_texts[epoch]) {
            slots.texts.push_back(std::move(epoch_texts[epoch]));
        }
        slots.slot_of_epoch[epoch] = static_cast<std::uint32_t>(slots.texts.size() - 1);
    }
    return slots;
}

void fill_file_info(FileInfo& info, const RinexObsData& obs, const std::vector<std::string>& epoch_texts) {
    info.marker_name = obs.marker_name;
    info.receiver_type = obs.receiver_type;
    info.antenna_type = obs.antenna_type;
    info.interval = obs.interval;
    if (!obs.epochs.empty()) {
        info.start_time = epoch_texts.front();
        info.end_time = epoch_texts.back();
        info.duration_hours = epoch_difference_seconds(obs.epochs.back().time, obs.epochs.front().time) / 3600.0;
    }
    if (obs.approx_position) {
        const Geodetic geodetic = ecef_to_geodetic(*obs.approx_position);
        info.position_lat = geodetic.latitude_deg;
        info.position_lon = geodetic.longitude_deg;
        info.position_height = geodetic.height_m;
    }
}

// The receiver and the satellite positions, present only when both an orbit source and a
// header position exist.
struct Geometry {
    const PositionTable* positions = nullptr;
    std::optional<TopocentricFrame> receiver;
};

// Per distinct satellite, what extraction needs to know once rather than per epoch.
struct SatelliteFacts {
    bool selected = false;
    bool seen = false;  // appears in some epoch (before any filtering)
};

struct Extraction {
    SampleSet set;
    std::vector<SatelliteFacts> facts;  // parallel to set.satellites
};

bool selected_letter(std::string_view satellite, const std::vector<char32_t>& letters) noexcept {
    // Identifiers are byte text; a letter outside ASCII can never equal an ASCII first byte.
    const char32_t letter = static_cast<unsigned char>(satellite_letter(satellite));
    return std::find(letters.begin(), letters.end(), letter) != letters.end();
}

Extraction extract_samples(const RinexObsData& obs, const AnalysisSettings& settings, EpochSlots slots,
                           const Geometry& geometry) {
    Extraction run;
    SampleSet& set = run.set;

    // Distinct identifiers in ascending order; the record's interned index maps onto them.
    std::vector<std::uint32_t> by_text(obs.satellite_ids.size());
    std::iota(by_text.begin(), by_text.end(), 0u);
    std::sort(by_text.begin(), by_text.end(),
              [&](std::uint32_t a, std::uint32_t b) { return obs.satellite_ids[a] < obs.satellite_ids[b]; });
    std::vector<std::uint32_t> distinct_of(obs.satellite_ids.size());
    for (const std::uint32_t raw : by_text) {
        if (set.satellites.empty() || set.satellites.back() != obs.satellite_ids[raw]) {
            set.satellites.emplace_back(obs.satellite_ids[raw]);
        }
        distinct_of[raw] = static_cast<std::uint32_t>(set.satellites.size() - 1);
    }

    const std::vector<char32_t> default_letters(std::begin(kDefaultSystemLetters), std::end(kDefaultSystemLetters));
    const std::vector<char32_t>& letters = settings.systems ? *settings.systems : default_letters;
    run.facts.resize(set.satellites.size());
    set.satellite_systems.resize(set.satellites.size());
    for (std::size_t i = 0; i < set.satellites.size(); ++i) {
        const std::string_view satellite = set.satellites[i];
        set.satellite_systems[i] = sample_system(satellite_letter(satellite));
        run.facts[i].selected = selected_letter(satellite, letters);
    }

    set.signals.assign(obs.codes.begin(), obs.codes.end());
    std::vector<std::uint8_t> signal_strength(obs.codes.size());
    for (std::size_t i = 0; i < obs.codes.size(); ++i) {
        signal_strength[i] = is_signal_strength_code(obs.codes[i]);
    }

    // The reader keeps every run inside its table; the runs are still cut to the tables here so
    // that a record put together elsewhere cannot lead the walk out of them.
    const std::size_t entry_total = obs.satellite_entries.size();
    const std::size_t value_total = obs.values.size();
    for (std::size_t e = 0; e < obs.epochs.size(); ++e) {
        const std::uint32_t slot = slots.slot_of_epoch[e];
        const ObservationEpoch& epoch = obs.epochs[e];
        const std::size_t first_entry = std::min<std::size_t>(epoch.first_satellite, entry_total);
        const std::size_t end_entry =
            first_entry + std::min<std::size_t>(epoch.satellite_count, entry_total - first_entry);
        for (std::size_t entry_index = first_entry; entry_index < end_entry; ++entry_index) {
            const SatelliteObservations& entry = obs.satellite_entries[entry_index];
            if (entry.satellite >= distinct_of.size()) continue;
            const std::uint32_t satellite = distinct_of[entry.satellite];
            SatelliteFacts& facts = run.facts[satellite];
            facts.seen = true;
            if (!facts.selected) continue;

            double elevation = 45.0;
            double azimuth = 0.0;
            if (geometry.positions && geometry.receiver) {
                if (const auto& position = geometry.positions->position_of_entry(entry_index)) {
                    const LookAngles angles = geometry.receiver->look_angles(*position);
                    elevation = angles.elevation_deg;
                    azimuth = angles.azimuth_deg;
                }
            }
            if (elevation < settings.min_elevation) continue;

            const std::size_t first_value = std::min<std::size_t>(entry.first_value, value_total);
            const std::size_t end_value =
                first_value + std::min<std::size_t>(entry.value_count, value_total - first_value);
            for (std::size_t v = first_value; v < end_value; ++v) {
                const ObservationValue& value = obs.values[v];
                if (value.code >= signal_strength.size() || !signal_strength[value.code]) continue;
                if (!(value.value >= settings.min_cn0 && value.value <= settings.max_cn0)) continue;
                set.samples.push_back({slot, satellite, value.code, value.value, elevation, azimuth});
            }
        }
    }
    set.timestamps = std::move(slots.texts);
    return run;
}


// Letters of the satellites in the record, unfiltered, in ascending order; an empty identifier
// belongs to GPS, as everywhere else.
std::vector<char> present_letters(const Extraction& run) {
    bool present[256] = {};
    for (std::size_t i = 0; i < run.set.satellites.size(); ++i) {
        if (run.facts[i].seen) present[static_cast<unsigned char>(satellite_letter(run.set.satellites[i]))] = true;
    }
    std::vector<char> letters;
    for (int letter = 0; letter < 256; ++letter)
        if (present[letter]) letters.push_back(static_cast<char>(letter));
    return letters;
}

void fill_summary(ResultSummary& summary, const RinexObsData& obs, const Extraction& run,
                  const std::vector<char>& letters) {
    const SampleSet& set = run.set;
    for (const char letter : letters) summary.systems_observed.push_back(observed_system_name(letter));
    summary.total_observations = set.samples.size();
    summary.total_satellites = static_cast<std::uint64_t>(
        std::count_if(run.facts.begin(), run.facts.end(), [](const SatelliteFacts& f) { return f.seen; }));
    summary.total_epochs = obs.epochs.size();

    double sum = 0.0;
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    for (const SignalObservation& sample : set.samples) {
        sum += sample.cn0;
        if (sample.cn0 < min) min = sample.cn0;
        if (sample.cn0 > max) max = sample.cn0;
    }
    summary.mean_cn0 = sum / static_cast<double>(set.samples.size());
    summary.min_cn0 = min;
    summary.max_cn0 = max;
}

void fill_satellite_stats(TextMap<SatelliteStats>& stats, const SampleSet& set, const SampleGroups& groups) {
    for (std::size_t satellite = 0; satellite < set.satellites.size(); ++satellite) {
        const auto members = groups.of_satellite(satellite);
        if (members.empty()) continue;
        const Moments m = moments_of(set, members);
        double elevation_sum = 0.0;
        for (const std::uint32_t index : members) elevation_sum += set.samples[index].elevation;
        SatelliteStats entry;
        entry.satellite = set.satellites[satellite];
        entry.system = sample_system_name(set.satellite_systems[satellite]);
        entry.observation_count = m.count;
        entry.mean_cn0 = m.mean;
        entry.min_cn0 = m.min;
        entry.max_cn0 = m.max;
        entry.std_cn0 = m.spread;
        entry.mean_elevation = elevation_sum / static_cast<double>(m.count);
        stats.emplace_hint(stats.end(), entry.satellite, std::move(entry));
    }
}

using PerSystem = std::array<std::uint64_t, kSampleSystemCount>;

// One walk over the timestamp slots in ascending order: the epoch series, the per-constellation
// series, and the data gaps, which need each constellation's own list of timestamps.
void fill_epoch_series(TimeSeriesData& series, PerSystem& data_gaps, const SampleSet& set,
                       const SampleGroups& groups) {
    struct Accumulator {
        double cn0 = 0.0, elevation = 0.0, azimuth = 0.0;
        std::uint32_t count = 0;
    };
    std::array<std::vector<TimeSeriesPoint>, kSampleSystemCount> by_system;
    // Position of the current slot in each constellation's timestamp list.
    std::array<std::uint32_t, kSampleSystemCount> position{};
    std::vector<std::uint32_t> last_position(set.satellites.size(), kNone);
    std::vector<std::uint32_t> slot_mark(set.satellites.size(), 0);

    for (std::size_t slot = 0; slot < set.timestamps.size(); ++slot) {
        const auto members = groups.of_time(slot);
        if (members.empty()) continue;
        const auto mark = static_cast<std::uint32_t>(slot + 1);
        std::array<Accumulator, kSampleSystemCount> acc{};
        double sum = 0.0;
        std::uint64_t satellites = 0;
        for (const std::uint32_t index : members) {
            const SignalObservation& sample = set.samples[index];
            const auto system = static_cast<std::size_t>(set.satellite_systems[sample.satellite]);
            sum += sample.cn0;
            acc[system].cn0 += sample.cn0;
            acc[system].elevation += sample.elevation;
            acc[system].azimuth += sample.azimuth;
            ++acc[system].count;
            if (slot_mark[sample.satellite] == mark) continue;
            slot_mark[sample.satellite] = mark;
            ++satellites;
            // A satellite absent from slots in which its constellation was seen has a gap.
            std::uint32_t& last = last_position[sample.satellite];
            if (last != kNone && position[system] - last > 1) data_gaps[system] += position[system] - last - 1;
            last = position[system];
        }
        const std::string& timestamp = set.timestamps[slot];
        series.timestamps.push_back(timestamp);
        series.mean_cn0.push_back(sum / static_cast<double>(members.size()));
        series.satellite_count.push_back(satellites);
        for (std::size_t system = 0; system < kSampleSystemCount; ++system) {
            const Accumulator& a = acc[system];
            if (a.count == 0) continue;
            const double n = a.count;
            by_system[system].push_back({timestamp, a.cn0 / n, a.elevation / n, a.azimuth / n});
            ++position[system];
        }
    }
    for (std::size_t system = 0; system < kSampleSystemCount; ++system) {
        if (by_system[system].empty()) continue;
        series.constellation_timeseries.emplace(sample_system_name(static_cast<SampleSystem>(system)),
                                                std::move(by_system[system]));
    }
}

void fill_satellite_series(TextMap<SatelliteTimeSeries>& series, const SampleSet& set, const SampleGroups& groups) {
    std::vector<std::uint32_t> ordered;
    for (std::size_t satellite = 0; satellite < set.satellites.size(); ++satellite) {
        const auto members = groups.of_satellite(satellite);
        if (members.empty()) continue;
        ordered.assign(members.begin(), members.end());
        // Files in time order (nearly all) need no sorting; several signals of one epoch keep
        // their extraction order either way.
        const auto by_slot = [&](std::uint32_t a, std::uint32_t b) {
            return set.samples[a].time_slot < set.samples[b].time_slot;
        };
        if (!std::is_sorted(ordered.begin(), ordered.end(), by_slot)) {
            std::stable_sort(ordered.begin(), ordered.end(), by_slot);
        }
        const SignalObservation& first = set.samples[members.front()];
        SatelliteTimeSeries entry;
        entry.satellite = set.satellites[satellite];
        entry.system = sample_system_name(set.satellite_systems[satellite]);
        entry.signal = set.signals[first.signal];
        entry.cn0_series.reserve(ordered.size());
        for (const std::uint32_t index : ordered) {
            const SignalObservation& sample = set.samples[index];
            entry.cn0_series.push_back({set.timestamps[sample.time_slot], sample.cn0, sample.elevation, sample.azimuth});
        }
        series.emplace_hint(series.end(), entry.satellite, std::move(entry));
    }
}

// Adjacent pairs of a satellite's sorted values that lie more than 10 dB-Hz apart. Sorting
// every satellite's values is the costliest part of the statistics, so the values are put in
// 5 dB-Hz buckets instead: two values of one bucket are less than 10 apart, bucketing keeps
// order, and so the only candidates are the largest value of an occupied bucket and the
// smallest of the next occupied one, which are neighbours in sorted order. A range too wide
// for a small bucket table (or not finite) is sorted after all.
class JumpCounter {
public:
    std::uint64_t count(const SampleSet& set, std::span<const std::uint32_t> members) {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (const std::uint32_t index : members) {
            lo = std::min(lo, set.samples[index].cn0);
            hi = std::max(hi, set.samples[index].cn0);
        }
        const double range = hi - lo;
        if (!(range <= kBucketWidth * kMaxBuckets)) return count_sorted(set, members);
        const std::size_t buckets = static_cast<std::size_t>(range / kBucketWidth) + 1;
        lowest_.assign(buckets, std::numeric_limits<double>::infinity());
        highest_.assign(buckets, -std::numeric_limits<double>::infinity());
        for (const std::uint32_t index : members) {
            const double value = set.samples[index].cn0;
            const auto bucket = static_cast<std::size_t>((value - lo) / kBucketWidth);
            lowest_[bucket] = std::min(lowest_[bucket], value);
            highest_[bucket] = std::max(highest_[bucket], value);
        }
        std::uint64_t jumps = 0;
        std::optional<double> previous;
        for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
            if (lowest_[bucket] > highest_[bucket]) continue;  // empty
            if (previous && lowest_[bucket] - *previous > kJump) ++jumps;
            previous = highest_[bucket];
        }
        return jumps;
    }

private:
    static constexpr double kJump = 10.0;  // dB-Hz
    static constexpr double kBucketWidth = 5.0;
    static constexpr double kMaxBuckets = 4096.0;

    std::uint64_t count_sorted(const SampleSet& set, std::span<const std::uint32_t> members) {
        values_.clear();
        for (const std::uint32_t index : members) values_.push_back(set.samples[index].cn0);
        std::sort(values_.begin(), values_.end());
        std::uint64_t jumps = 0;
        for (std::size_t i = 1; i < values_.size(); ++i) {
            if (values_[i] - values_[i - 1] > kJump) ++jumps;
        }
        return jumps;
    }

    std::vector<double> lowest_, highest_, values_;
};

// Mean, extremes and spread of each constellation's sample values, summed in sample order.
std::array<Moments, kSampleSystemCount> system_moments(const SampleSet& set) {
    std::array<Moments, kSampleSystemCount> m{};
    std::array<double, kSampleSystemCount> sums{};
    for (Moments& entry : m) {
        entry.min = std::numeric_limits<double>::infinity();
        entry.max = -std::numeric_limits<double>::infinity();
    }
    for (const SignalObservation& sample : set.samples) {
        const auto system = static_cast<std::size_t>(set.satellite_systems[sample.satellite]);
        Moments& entry = m[system];
        ++entry.count;
        sums[system] += sample.cn0;
        if (sample.cn0 < entry.min) entry.min = sample.cn0;
        if (sample.cn0 > entry.max) entry.max = sample.cn0;
    }
    for (std::size_t system = 0; system < kSampleSystemCount; ++system) {
        if (m[system].count != 0) m[system].mean = sums[system] / static_cast<double>(m[system].count);
    }
    std::array<double, kSampleSystemCount> squares{};
    for (const SignalObservation& sample : set.samples) {
        const auto system = static_cast<std::size_t>(set.satellite_systems[sample.satellite]);
        const double deviation = sample.cn0 - m[system].mean;
        squares[system] += deviation * deviation;
    }
    for (std::size_t system = 0; system < kSampleSystemCount; ++system) {
        if (m[system].count == 0) continue;
        m[system].spread = std::sqrt(squares[system] / static_cast<double>(m[system].count));
    }
    return m;
}

void fill_constellation_stats(AnalysisResult& result, const SampleSet& set, const SampleGroups& groups,
                              const std::vector<char>& letters, const PerSystem& data_gaps) {
    PerSystem satellites{};
    PerSystem cycle_slips{};
    JumpCounter jumps;
    for (std::size_t satellite = 0; satellite < set.satellites.size(); ++satellite) {
        const auto own = groups.of_satellite(satellite);
        if (own.empty()) continue;
        const auto system = static_cast<std::size_t>(set.satellite_systems[satellite]);
        ++satellites[system];
        cycle_slips[system] += jumps.count(set, own);
    }
    const std::array<Moments, kSampleSystemCount> moments = system_moments(set);

    TextMap<ConstellationStats>& stats = result.constellation_stats;
    for (std::size_t system = 0; system < kSampleSystemCount; ++system) {
        const Moments& m = moments[system];
        if (m.count == 0) continue;
        ConstellationStats entry;
        entry.system = sample_system_name(static_cast<SampleSystem>(system));
        entry.satellite_count = satellites[system];
        entry.observation_count = m.count;
        entry.mean_cn0 = m.mean;
        entry.min_cn0 = m.min;
        entry.max_cn0 = m.max;
        entry.std_cn0 = m.spread;
        entry.cycle_slips = cycle_slips[system];
        entry.data_gaps = data_gaps[system];
        stats.emplace(entry.system, std::move(entry));
    }
    // Constellations in the record but without samples (filtered out, or without S codes)
    // still get an entry.
    for (const char letter : letters) {
        std::string name = observed_system_name(letter);
        if (stats.find(name) != stats.end()) continue;
        ConstellationStats entry;
        entry.system = name;
        stats.emplace(std::move(name), std::move(entry));
    }
    for (auto& [name, entry] : stats) {
        std::uint64_t expected = 0;
        if (result.visibility) {
            const auto& by_system = result.visibility->by_system;
            if (const auto it = by_system.find(name); it != by_system.end()) {
                expected = std::max(it->second.predicted_satellites, it->second.observed_satellites);
            }
        }
        if (expected == 0) expected = typical_satellites_in_view(name);
        entry.satellites_expected = expected;
        entry.availability_ratio = static_cast<double>(entry.satellite_count) / static_cast<double>(expected);
    }
}

std::vector<std::string> epoch_timestamps(const RinexObsData& obs) {
    std::vector<std::string> texts;
    texts.reserve(obs.epochs.size());
    for (const ObservationEpoch& epoch : obs.epochs) texts.push_back(timestamp_text(epoch.time));
    return texts;
}

// The samples of a run. Satellite positions are computed once per analysis and serve both the
// sample geometry and the visibility prediction (`positions`, left empty without an orbit
// source); without a receiver position the samples sit at the fixed stand-in angles.
Extraction extract_run_samples(const RinexObsData& obs, const AnalysisSettings& settings,
                               std::vector<std::string> epoch_texts, std::optional<PositionTable>& positions,
                               std::span<const std::optional<Ecef>> known_positions) {
    Geometry geometry;
    if (settings.orbit_source) {
        if (known_positions.empty()) {
            positions.emplace(*settings.orbit_source, obs);
        } else {
            positions.emplace(*settings.orbit_source, obs, known_positions);
        }
        if (obs.approx_position) {
            geometry.positions = &*positions;
            geometry.receiver = receiver_frame(obs);
        }
    }
    return extract_samples(obs, settings, make_epoch_slots(std::move(epoch_texts)), geometry);
}

}  // namespace

RunViews run_views(const RinexObsData& obs, const AnalysisSettings& settings) {
    count(core_counters().analyses);
    RunViews views;
    std::optional<PositionTable> positions;
    const Extraction run = extract_run_samples(obs, settings, epoch_timestamps(obs), positions, {});
    if (run.set.samples.empty()) return views;
    const SampleGroups groups = group_samples(run.set);
    TimeSeriesData series;
    PerSystem data_gaps{};
    fill_epoch_series(series, data_gaps, run.set, groups);
    views.constellation_timeseries = std::move(series.constellation_timeseries);
    build_skyplot(run.set, groups, views.skyplot, views.heatmap);
    return views;
}

AnalysisResult run_analysis(const RinexObsData& obs, const AnalysisSettings& settings,
                            std::span<const std::optional<Ecef>> known_positions) {
    count(core_counters().analyses);
    AnalysisResult result;

    std::vector<std::string> epoch_texts = epoch_timestamps(obs);
    fill_file_info(result.file_info, obs, epoch_texts);

    std::optional<PositionTable> positions;
    Extraction run = extract_run_samples(obs, settings, std::move(epoch_texts), positions, known_positions);
    if (run.set.samples.empty()) return result;
    const SampleSet& set = run.set;

    if (settings.orbit_source) {
        result.visibility = predict_visibility(*settings.orbit_source, *positions, obs, settings.min_elevation);
        result.visibility->has_prediction = true;
    }

    const SampleGroups groups = group_samples(set);
    const std::vector<char> letters = present_letters(run);
    fill_summary(result.summary, obs, run, letters);
    fill_satellite_stats(result.satellite_stats, set, groups);
    PerSystem data_gaps{};
    fill_epoch_series(result.timeseries, data_gaps, set, groups);
    fill_satellite_series(result.timeseries.satellite_timeseries, set, groups);
    fill_constellation_stats(result, set, groups, letters, data_gaps);
    build_skyplot(set, groups, result.skyplot, result.heatmap);
    result.anomalies = detect_anomalies(
        set, groups,
        {settings.anomaly_threshold_low, settings.anomaly_threshold_high, settings.anomaly_threshold_critical});
    apply_stored_quality_score(result);
    result.spoofing_unexpected_threshold = settings.spoofing_unexpected_threshold;
    result.spoofing_min_unexpected_count = settings.spoofing_min_unexpected_count;
    return result;
}

std::vector<double> timeseries_hours(const AnalysisResult& result) {
    std::vector<double> hours(result.timeseries.timestamps.size());
    for (std::size_t i = 0; i < hours.size(); ++i) {
        hours[i] = static_cast<double>(i) * result.file_info.interval / 3600.0;
    }
    return hours;
}

}  // namespace vardoln
