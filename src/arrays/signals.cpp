#include "arrays/signals.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <tuple>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"
#include "rinex/ids.hpp"

namespace vardoln::arrays {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Sample {
    std::uint32_t satellite;  // interned
    std::uint32_t code;       // interned
    double cn0;
    double elevation;  // NaN without a position (or without navigation data)
};

// Every C/N0 sample of the selected satellites, in file order, with its elevation.
std::vector<Sample> cn0_samples(const RinexObsData& obs, const NavigationData* nav,
                                const std::optional<std::string>& letters, const EntryGeometry* known = nullptr) {
    const std::vector<std::uint8_t> strength = signal_strength_codes(obs);
    std::vector<std::uint8_t> selected(obs.satellite_ids.size(), 1);
    if (letters) {
        for (std::size_t s = 0; s < obs.satellite_ids.size(); ++s) {
            selected[s] = letters->find(satellite_letter(obs.satellite_ids[s])) != std::string::npos;
        }
    }
    std::optional<EntryGeometry> computed;
    const EntryGeometry* geometry = known;
    if (nav != nullptr && geometry == nullptr) {
        computed = entry_geometry(obs, *nav);
        if (computed) geometry = &*computed;
    }
    if (nav == nullptr) geometry = nullptr;
    std::vector<Sample> samples;
    for_each_entry(obs, [&](std::size_t, std::size_t entry_index, const SatelliteObservations& entry,
                            std::span<const ObservationValue> values) {
        if (selected[entry.satellite] == 0) return;
        double elevation = kNaN;
        bool looked = false;
        for (const ObservationValue& value : values) {
            if (value.code >= strength.size() || strength[value.code] == 0 || !is_cn0_sample(value.value)) continue;
            if (!looked && geometry != nullptr && entry_index < geometry->elevation_deg.size()) {
                // The analysis's own arithmetic: the elevation of its look angles.
                elevation = geometry->elevation_deg[entry_index];
            }
            looked = true;
            samples.push_back({entry.satellite, value.code, value.value, elevation});
        }
    });
    return samples;
}

// Sample indices grouped (stably) by a dense group id.
std::vector<std::uint32_t> group_members(const std::vector<std::uint32_t>& group_of, std::size_t groups,
                                         std::vector<std::size_t>& starts) {
    starts.assign(groups + 1, 0);
    for (const std::uint32_t group : group_of) ++starts[group + 1];
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::vector<std::size_t> next(starts.begin(), starts.end() - 1);
    std::vector<std::uint32_t> members(group_of.size());
    for (std::size_t i = 0; i < group_of.size(); ++i) members[next[group_of[i]]++] = static_cast<std::uint32_t>(i);
    return members;
}

// The statistics of some samples, summed in the order given (file order).
void fill_statistics(SignalStatsRow& row, const std::vector<Sample>& samples, std::span<const std::uint32_t> members,
                     bool geometry, double min_elevation) {
    double sum = 0.0;
    double elevation_sum = 0.0;
    std::uint64_t with_position = 0;
    row.min = std::numeric_limits<double>::infinity();
    row.max = -std::numeric_limits<double>::infinity();
    for (const std::uint32_t index : members) {
        const Sample& sample = samples[index];
        if (geometry && !std::isnan(sample.elevation) && sample.elevation < min_elevation) {
            ++row.below_mask;
            continue;
        }
        ++row.samples;
        sum += sample.cn0;
        row.min = std::min(row.min, sample.cn0);
        row.max = std::max(row.max, sample.cn0);
        if (std::isnan(sample.elevation)) {
            if (geometry) ++row.no_position;
        } else {
            elevation_sum += sample.elevation;
            ++with_position;
        }
    }
    row.mean_elevation = with_position == 0 ? kNaN : elevation_sum / static_cast<double>(with_position);
    if (row.samples == 0) {
        row.mean = row.min = row.max = row.std = kNaN;
        return;
    }
    const double n = static_cast<double>(row.samples);
    row.mean = sum / n;
    double squares = 0.0;
    for (const std::uint32_t index : members) {
        const Sample& sample = samples[index];
        if (geometry && !std::isnan(sample.elevation) && sample.elevation < min_elevation) continue;
        const double deviation = sample.cn0 - row.mean;
        squares += deviation * deviation;
    }
    row.std = std::sqrt(squares / n);
}

unsigned char letter_of(const RinexObsData& obs, std::uint32_t satellite) {
    return static_cast<unsigned char>(satellite_letter(obs.satellite_ids[satellite]));
}

// Letter byte values as ranks: constellations sort by their letter.
std::vector<std::uint32_t> letter_ranks() {
    std::vector<std::uint32_t> ranks(256);
    std::iota(ranks.begin(), ranks.end(), 0u);
    return ranks;
}

}  // namespace

SignalStats signal_stats(const RinexObsData& obs, const NavigationData* nav, double min_elevation,
                         const std::optional<std::string>& letters, const EntryGeometry* known) {
    const std::vector<Sample> samples = cn0_samples(obs, nav, letters, known);
    const bool geometry = nav != nullptr;
    const std::vector<std::uint32_t> satellite_rank = satellite_ranks(obs);
    const std::vector<std::uint32_t> code_rank = code_ranks(obs);
    SignalStats stats;

    PairIndex signals(obs.satellite_ids.size(), obs.codes.size());
    PairIndex constellations(256, obs.codes.size());
    std::vector<std::uint32_t> signal_of(samples.size());
    std::vector<std::uint32_t> constellation_of(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        signal_of[i] = signals.id(samples[i].satellite, samples[i].code);
        constellation_of[i] = constellations.id(letter_of(obs, samples[i].satellite), samples[i].code);
    }

    std::vector<std::size_t> starts;
    std::vector<std::uint32_t> members = group_members(signal_of, signals.size(), starts);
    for (const std::uint32_t group : order_pairs(signals, satellite_rank, code_rank)) {
        const auto [satellite, code] = signals.pair(group);
        SignalStatsRow row;
        row.system = observed_system_name(static_cast<char>(letter_of(obs, satellite)));
        row.satellite = obs.satellite_ids[satellite];
        row.code = obs.codes[code];
        fill_statistics(row, samples, std::span(members).subspan(starts[group], starts[group + 1] - starts[group]),
                        geometry, min_elevation);
        stats.by_signal.push_back(std::move(row));
    }

    members = group_members(constellation_of, constellations.size(), starts);
    for (const std::uint32_t group : order_pairs(constellations, letter_ranks(), code_rank)) {
        const auto [letter, code] = constellations.pair(group);
        SignalStatsRow row;
        row.system = observed_system_name(static_cast<char>(letter));
        row.code = obs.codes[code];
        fill_statistics(row, samples, std::span(members).subspan(starts[group], starts[group + 1] - starts[group]),
                        geometry, min_elevation);
        stats.by_constellation.push_back(std::move(row));
    }
    return stats;
}

double percentile_of_sorted(const std::vector<double>& sorted, std::size_t first, std::size_t count,
                            double fraction) noexcept {
    if (count == 0) return kNaN;
    const double index = fraction * static_cast<double>(count - 1);
    const double below = std::floor(index);
    const auto lower = static_cast<std::size_t>(below);
    const std::size_t upper = std::min(lower + 1, count - 1);
    const double a = sorted[first + lower];
    const double b = sorted[first + upper];
    const double t = index - below;
    // numpy's interpolation: from the nearer end, so that t = 1 gives b exactly.
    const double difference = b - a;
    return t >= 0.5 ? b - difference * (1.0 - t) : a + difference * t;
}

std::vector<ProfileRow> elevation_profile(const RinexObsData& obs, const NavigationData& nav, double bin_deg) {
    const std::vector<Sample> samples = cn0_samples(obs, &nav, std::nullopt);
    const std::vector<std::uint32_t> code_rank = code_ranks(obs);
    // The bin holding 90 degrees ends at or above it; exactly 90 joins that bin from below.
    const double top_bin = std::ceil(90.0 / bin_deg) - 1.0;

    struct Binned {
        unsigned char letter;
        std::uint32_t code_rank;
        double bin;  // index, an integer value
        double cn0;
        std::uint32_t code;
    };
    std::vector<Binned> binned;
    binned.reserve(samples.size());
    for (const Sample& sample : samples) {
        if (std::isnan(sample.elevation)) continue;
        const double bin = std::min(std::floor(sample.elevation / bin_deg), top_bin);
        binned.push_back({letter_of(obs, sample.satellite), code_rank[sample.code], bin, sample.cn0, sample.code});
    }
    std::sort(binned.begin(), binned.end(), [](const Binned& x, const Binned& y) {
        return std::tie(x.letter, x.code_rank, x.bin, x.cn0) < std::tie(y.letter, y.code_rank, y.bin, y.cn0);
    });

    std::vector<ProfileRow> rows;
    std::vector<double> values(binned.size());
    for (std::size_t i = 0; i < binned.size(); ++i) values[i] = binned[i].cn0;
    for (std::size_t first = 0; first < binned.size();) {
        std::size_t end = first + 1;
        while (end < binned.size() && binned[end].letter == binned[first].letter &&
               binned[end].code_rank == binned[first].code_rank && binned[end].bin == binned[first].bin) {
            ++end;
        }
        const std::size_t count = end - first;
        ProfileRow row;
        row.system = observed_system_name(static_cast<char>(binned[first].letter));
        row.code = obs.codes[binned[first].code];
        row.elevation_low = binned[first].bin * bin_deg;
        row.elevation_high = (binned[first].bin + 1.0) * bin_deg;
        row.samples = count;
        // Summed in ascending order: a mean that does not depend on the file's order.
        row.mean = std::accumulate(values.begin() + static_cast<std::ptrdiff_t>(first),
                                   values.begin() + static_cast<std::ptrdiff_t>(end), 0.0) /
                   static_cast<double>(count);
        row.p10 = percentile_of_sorted(values, first, count, 0.1);
        row.p50 = percentile_of_sorted(values, first, count, 0.5);
        row.p90 = percentile_of_sorted(values, first, count, 0.9);
        rows.push_back(std::move(row));
        first = end;
    }
    return rows;
}

}  // namespace vardoln::arrays
