#include "cn0/anomalies.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

// A satellite needs this many samples before its own level means anything.
constexpr std::size_t kMinBaselineSamples = 10;
// Drops must exceed this absolute depth, and the spread used in the relative test never goes
// below the floor: a very steady satellite must not turn ordinary fades into events.
constexpr double kMinDrop = 10.0;
constexpr double kSpreadFloor = 5.0;

struct Baseline {
    bool present = false;
    double mean = 0.0;
    double spread = 0.0;  // after the floor
};

std::vector<Baseline> satellite_baselines(const SampleSet& set, const SampleGroups& groups) {
    std::vector<Baseline> baselines(set.satellites.size());
    for (std::size_t satellite = 0; satellite < baselines.size(); ++satellite) {
        const auto members = groups.of_satellite(satellite);
        if (members.size() < kMinBaselineSamples) continue;
        const Moments moments = moments_of(set, members);
        const double spread = std::isnan(moments.spread) ? kSpreadFloor : std::max(moments.spread, kSpreadFloor);
        baselines[satellite] = {true, moments.mean, spread};
    }
    return baselines;
}

std::string severity_of(double drop, const AnomalyThresholds& thresholds) {
    if (drop >= thresholds.critical) return "critical";
    if (drop >= thresholds.high) return "high";
    return "low";
}

}  // namespace

std::vector<AnomalyEvent> detect_anomalies(const SampleSet& set, const SampleGroups& groups,
                                           const AnomalyThresholds& thresholds) {
    const std::vector<Baseline> baselines = satellite_baselines(set, groups);
    std::vector<AnomalyEvent> events;
    // Membership of the current slot's affected lists, marked with slot + 1 so nothing needs
    // clearing between slots.
    std::vector<std::uint32_t> satellite_mark(set.satellites.size(), 0);
    std::uint32_t system_mark[kSampleSystemCount] = {};
    std::vector<std::uint32_t> affected;
    std::vector<SampleSystem> systems;
    for (std::size_t slot = 0; slot < set.timestamps.size(); ++slot) {
        const auto mark = static_cast<std::uint32_t>(slot + 1);
        affected.clear();
        systems.clear();
        double largest_drop = 0.0;
        for (const std::uint32_t index : groups.of_time(slot)) {
            const SignalObservation& sample = set.samples[index];
            const Baseline& baseline = baselines[sample.satellite];
            if (!baseline.present) continue;
            const double drop = baseline.mean - sample.cn0;
            if (!(drop > kMinDrop && drop > baseline.spread * thresholds.low)) continue;
            if (satellite_mark[sample.satellite] != mark) {
                satellite_mark[sample.satellite] = mark;
                affected.push_back(sample.satellite);
            }
            const SampleSystem system = set.satellite_systems[sample.satellite];
            if (system_mark[static_cast<std::size_t>(system)] != mark) {
                system_mark[static_cast<std::size_t>(system)] = mark;
                systems.push_back(system);
            }
            largest_drop = std::max(largest_drop, drop);
        }
        // A lone satellite's fade is obstruction or multipath, not interference.
        if (affected.size() < 2) continue;

        AnomalyEvent& event = events.emplace_back();
        event.timestamp = set.timestamps[slot];
        event.severity = severity_of(largest_drop, thresholds);
        event.event_type = affected.size() >= 4 || systems.size() >= 2 ? "Multi-system CN0 drop"
                                                                          : "Multi-satellite CN0 drop";
        event.description = format_fixed(largest_drop, 1);
        event.description += " dB-Hz drop affecting ";
        event.description += std::to_string(affected.size());
        event.description += " satellite(s)";
        event.cn0_drop = largest_drop;
        event.affected_satellites.reserve(affected.size());
        for (const std::uint32_t satellite : affected) {
            event.affected_satellites.emplace_back(set.satellites[satellite]);
        }
        event.affected_systems.reserve(systems.size());
        for (const SampleSystem system : systems) event.affected_systems.emplace_back(sample_system_name(system));
    }
    return events;
}

}  // namespace vardoln
