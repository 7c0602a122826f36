// The flat list of usable C/N0 samples that one analysis run extracts, and the two groupings
// (by satellite, by timestamp) from which every statistic, the skyplot and the anomaly search
// are derived. Private to the cn0 module.
//
// Samples carry indices instead of texts: a day of 30 s multi-GNSS data gives well over half a
// million samples, and each text is held once in the set's tables.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rinex/ids.hpp"

namespace vardoln {

// Constellation of a sample, in letter order; named in the sample-system context, which does
// not know IRNSS: an I satellite's samples are "Unknown".
enum class SampleSystem : std::uint8_t { Beidou, Galileo, Gps, Qzss, Glonass, Sbas, Unknown };
inline constexpr std::size_t kSampleSystemCount = 7;
inline constexpr char kSampleSystemLetters[kSampleSystemCount - 1] = {'C', 'E', 'G', 'J', 'R', 'S'};

constexpr SampleSystem sample_system(char letter) noexcept {
    for (std::size_t i = 0; i < std::size(kSampleSystemLetters); ++i) {
        if (kSampleSystemLetters[i] == letter) return static_cast<SampleSystem>(i);
    }
    return SampleSystem::Unknown;
}

constexpr std::string_view sample_system_name(SampleSystem system) noexcept {
    const auto index = static_cast<std::size_t>(system);
    const char letter = index < std::size(kSampleSystemLetters) ? kSampleSystemLetters[index] : '\0';
    return constellation_name(letter, NamingContext::SampleSystem);
}

// The letters above are exactly the ones the sample-system context names.
static_assert([] {
    for (const ConstellationNames& row : kConstellations) {
        const bool named = !row.names[static_cast<std::size_t>(NamingContext::SampleSystem)].empty();
        if (named != (sample_system(row.letter) != SampleSystem::Unknown)) return false;
    }
    return true;
}());

// One usable C/N0 value.
struct SignalObservation {
    std::uint32_t time_slot = 0;  // index into SampleSet::timestamps
    std::uint32_t satellite = 0;  // index into SampleSet::satellites
    std::uint32_t signal = 0;     // index into SampleSet::signals
    double cn0 = 0.0;             // dB-Hz
    double elevation = 45.0;      // degrees
    double azimuth = 0.0;         // degrees
};

// The samples of a run with the tables their indices point into. The views borrow from the
// observation record, which outlives the run.
struct SampleSet {
    std::vector<SignalObservation> samples;        // extraction order
    std::vector<std::string_view> satellites;      // distinct identifiers, ascending
    std::vector<SampleSystem> satellite_systems;   // parallel to satellites
    std::vector<std::string_view> signals;         // observation codes
    // Distinct timestamp texts, ascending. Equal texts of different epochs share one slot, and
    // a slot may hold no sample at all.
    std::vector<std::string> timestamps;
};

// Sample indices grouped by satellite and by timestamp slot; within each group the samples
// keep extraction order.
struct SampleGroups {
    std::vector<std::uint32_t> by_satellite;
    std::vector<std::uint32_t> satellite_offsets;  // satellites + 1 entries
    std::vector<std::uint32_t> by_time;
    std::vector<std::uint32_t> time_offsets;  // timestamps + 1 entries

    std::span<const std::uint32_t> of_satellite(std::size_t satellite) const noexcept {
        return group(by_satellite, satellite_offsets, satellite);
    }
    std::span<const std::uint32_t> of_time(std::size_t slot) const noexcept {
        return group(by_time, time_offsets, slot);
    }

private:
    static std::span<const std::uint32_t> group(const std::vector<std::uint32_t>& order,
                                                const std::vector<std::uint32_t>& offsets, std::size_t i) noexcept {
        return {order.data() + offsets[i], offsets[i + 1] - offsets[i]};
    }
};

// Every sample's satellite and time slot must index the set's tables.
SampleGroups group_samples(const SampleSet& set);

struct Moments {
    std::uint64_t count = 0;
    double mean = 0.0;
    double min = 0.0;
    double max = 0.0;
    double spread = 0.0;  // population standard deviation
};

// Mean, extremes and spread of some samples' values, summed in the order given; NaN values
// are passed over by the extremes.
inline Moments moments_of(const SampleSet& set, std::span<const std::uint32_t> members) {
    Moments m;
    m.count = members.size();
    if (m.count == 0) return m;
    const double n = static_cast<double>(m.count);
    double sum = 0.0;
    m.min = std::numeric_limits<double>::infinity();
    m.max = -std::numeric_limits<double>::infinity();
    for (const std::uint32_t index : members) {
        const double value = set.samples[index].cn0;
        sum += value;
        if (value < m.min) m.min = value;
        if (value > m.max) m.max = value;
    }
    m.mean = sum / n;
    double squares = 0.0;
    for (const std::uint32_t index : members) {
        const double deviation = set.samples[index].cn0 - m.mean;
        squares += deviation * deviation;
    }
    m.spread = std::sqrt(squares / n);
    return m;
}

}  // namespace vardoln
