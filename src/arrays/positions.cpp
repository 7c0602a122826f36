#include "arrays/positions.hpp"

#include <limits>

#include <algorithm>
#include <array>

#include "arrays/tables.hpp"
#include "rinex/counters.hpp"
#include "rinex/ids.hpp"

namespace vardoln::arrays {

std::vector<std::optional<Ecef>> entry_positions(const RinexObsData& obs, const NavigationData& nav) {
    count(core_counters().geometry_passes);
    std::vector<std::optional<Ecef>> positions(obs.satellite_entries.size());
    OrbitEvaluator orbits(nav);
    // Handles follow the interned satellite indices; records are found by navigation key.
    for (const std::string& satellite : obs.satellite_ids) orbits.add_satellite(navigation_key(satellite));
    std::size_t last_epoch = obs.epochs.size();
    OrbitEpoch at;
    for_each_entry(obs, [&](std::size_t epoch, std::size_t entry_index, const SatelliteObservations& entry, auto) {
        if (epoch != last_epoch) {
            at = orbit_epoch(obs.epochs[epoch].time);
            last_epoch = epoch;
        }
        positions[entry_index] = orbits.position(entry.satellite, at);
    });
    return positions;
}

std::optional<EntryGeometry> entry_geometry(const RinexObsData& obs, const NavigationData& nav) {
    const std::optional<TopocentricFrame> receiver = receiver_frame(obs);
    if (!receiver) return std::nullopt;
    EntryGeometry geometry{entry_positions(obs, nav), {}};
    geometry.elevation_deg.reserve(geometry.positions.size());
    for (const std::optional<Ecef>& position : geometry.positions) {
        geometry.elevation_deg.push_back(position ? receiver->elevation_deg(*position)
                                                  : std::numeric_limits<double>::quiet_NaN());
    }
    return geometry;
}

std::vector<NavigationSpan> navigation_spans(const NavigationData& nav) {
    std::vector<NavigationSpan> spans;
    NavigationSpan all{0, kNoTime, kNoTime};
    const auto widen = [](NavigationSpan& span, std::int64_t time) {
        if (time == kNoTime) return;
        span.first = span.first == kNoTime ? time : std::min(span.first, time);
        span.last = span.last == kNoTime ? time : std::max(span.last, time);
    };
    const auto add = [&](char letter, const auto& records_by_key) {
        NavigationSpan span{letter, kNoTime, kNoTime};
        for (const auto& [key, records] : records_by_key) {
            // The GPS map also holds QZSS records, under J keys.
            if (key.empty() || key.front() != letter) continue;
            for (const auto& record : records) widen(span, epoch_nanoseconds(record.toc));
        }
        if (span.first == kNoTime) return;
        widen(all, span.first);
        widen(all, span.last);
        spans.push_back(span);
    };
    add('G', nav.gps);
    add('R', nav.glonass);
    add('E', nav.galileo);
    add('C', nav.beidou);
    add('J', nav.gps);
    spans.insert(spans.begin(), all);
    return spans;
}

}  // namespace vardoln::arrays
