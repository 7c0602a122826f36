#include "arrays/columns.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

#include "arrays/positions.hpp"
#include "arrays/tables.hpp"

namespace vardoln::arrays {

namespace {

std::vector<std::int64_t> epoch_times(const RinexObsData& obs) {
    std::vector<std::int64_t> times;
    times.reserve(obs.epochs.size());
    for (const ObservationEpoch& epoch : obs.epochs) times.push_back(epoch_nanoseconds(epoch.time));
    return times;
}

}  // namespace

ObservationColumns observation_columns(const RinexObsData& obs) {
    const std::vector<std::uint32_t> satellite_rank = satellite_ranks(obs);
    const std::vector<std::uint32_t> code_rank = code_ranks(obs);
    const std::size_t codes = obs.codes.size();

    // Rows are grouped by (satellite, code). A first walk in file order sizes the groups and
    // each satellite's list of entries; the table is then written one satellite at a time,
    // which keeps the writes within that satellite's rows: scattering every value straight to
    // its row across all signals at once costs more in cache and TLB misses than the parse.
    struct Entry {
        std::uint32_t epoch;
        std::uint32_t entry;
    };
    PairIndex groups(obs.satellite_ids.size(), codes);
    std::vector<std::size_t> group_rows;
    std::vector<std::size_t> entry_starts(obs.satellite_ids.size() + 1, 0);
    for_each_entry(obs, [&](std::size_t, std::size_t, const SatelliteObservations& entry,
                            std::span<const ObservationValue> values) {
        ++entry_starts[satellite_rank[entry.satellite] + 1];
        for (const ObservationValue& value : values) {
            if (value.code >= codes) continue;
            const std::uint32_t group = groups.id(entry.satellite, value.code);
            if (group == group_rows.size()) group_rows.push_back(0);
            ++group_rows[group];
        }
    });
    std::partial_sum(entry_starts.begin(), entry_starts.end(), entry_starts.begin());
    std::vector<Entry> entries(entry_starts.back());
    std::vector<std::size_t> next_entry(entry_starts.begin(), entry_starts.end() - 1);
    for_each_entry(obs, [&](std::size_t epoch, std::size_t entry_index, const SatelliteObservations& entry, auto) {
        entries[next_entry[satellite_rank[entry.satellite]]++] = {static_cast<std::uint32_t>(epoch),
                                                                  static_cast<std::uint32_t>(entry_index)};
    });
    // Each group's first row, and the groups of each satellite (contiguous in this order).
    const std::vector<std::uint32_t> order = order_pairs(groups, satellite_rank, code_rank);
    std::vector<std::size_t> satellite_groups(obs.satellite_ids.size() + 1, 0);
    std::size_t rows = 0;
    for (const std::uint32_t group : order) {
        rows += std::exchange(group_rows[group], rows);
        ++satellite_groups[satellite_rank[groups.pair(group).first] + 1];
    }
    std::partial_sum(satellite_groups.begin(), satellite_groups.end(), satellite_groups.begin());
    ObservationColumns columns;
    columns.time.resize(rows);
    columns.satellite.resize(rows);
    columns.code.resize(rows);
    columns.value.resize(rows);
    columns.lli.resize(rows);
    columns.lli_missing.resize(rows);
    columns.ssi.resize(rows);
    columns.ssi_missing.resize(rows);
    const std::vector<std::int64_t> times = epoch_times(obs);
    const std::size_t value_total = obs.values.size();
    // Next row per interned code, for the satellite being written.
    std::vector<std::size_t> next_row(codes, 0);
    for (std::size_t rank = 0; rank < obs.satellite_ids.size(); ++rank) {
        for (std::size_t g = satellite_groups[rank]; g < satellite_groups[rank + 1]; ++g) {
            next_row[groups.pair(order[g]).second] = group_rows[order[g]];
        }
        for (std::size_t i = entry_starts[rank]; i < entry_starts[rank + 1]; ++i) {
            const SatelliteObservations& entry = obs.satellite_entries[entries[i].entry];
            const std::size_t first = std::min<std::size_t>(entry.first_value, value_total);
            const std::size_t end = first + std::min<std::size_t>(entry.value_count, value_total - first);
            const std::int64_t time = times[entries[i].epoch];
            for (std::size_t v = first; v < end; ++v) {
                const ObservationValue& value = obs.values[v];
                if (value.code >= codes) continue;
                const std::size_t row = next_row[value.code]++;
                columns.time[row] = time;
                columns.satellite[row] = static_cast<std::int32_t>(rank);
                columns.code[row] = static_cast<std::int32_t>(code_rank[value.code]);
                columns.value[row] = value.value;
                columns.lli[row] = value.lli.value_or(0);
                columns.lli_missing[row] = !value.lli.has_value();
                columns.ssi[row] = value.ssi.value_or(0);
                columns.ssi_missing[row] = !value.ssi.has_value();
            }
        }
    }
    for (const std::uint32_t satellite : by_rank(satellite_rank)) columns.satellites.push_back(obs.satellite_ids[satellite]);
    for (const std::uint32_t code : by_rank(code_rank)) columns.codes.push_back(obs.codes[code]);
    return columns;
}

GeometryColumns geometry_columns(const RinexObsData& obs, const NavigationData& nav) {
    GeometryColumns columns;
    const std::optional<TopocentricFrame> receiver = receiver_frame(obs);
    if (!receiver) return columns;
    const std::vector<std::optional<Ecef>> positions = entry_positions(obs, nav);
    const std::vector<std::uint32_t> satellite_rank = satellite_ranks(obs);

    // Rows per satellite rank, then each satellite's rows in file order.
    std::vector<std::size_t> counts(obs.satellite_ids.size(), 0);
    for_each_entry(obs, [&](std::size_t, std::size_t entry_index, const SatelliteObservations& entry, auto) {
        if (positions[entry_index]) ++counts[satellite_rank[entry.satellite]];
    });
    // Only satellites with rows keep an index, so that the satellite table lists no strangers.
    const std::vector<std::uint32_t> ranked = by_rank(satellite_rank);
    std::vector<std::int32_t> index_of_rank(counts.size(), -1);
    std::vector<std::size_t> next(counts.size(), 0);
    std::size_t rows = 0;
    for (std::size_t rank = 0; rank < counts.size(); ++rank) {
        next[rank] = rows;
        rows += counts[rank];
        if (counts[rank] == 0) continue;
        index_of_rank[rank] = static_cast<std::int32_t>(columns.satellites.size());
        columns.satellites.push_back(obs.satellite_ids[ranked[rank]]);
    }

    columns.time.resize(rows);
    columns.satellite.resize(rows);
    columns.azimuth.resize(rows);
    columns.elevation.resize(rows);
    const std::vector<std::int64_t> times = epoch_times(obs);
    for_each_entry(obs, [&](std::size_t epoch, std::size_t entry_index, const SatelliteObservations& entry, auto) {
        const std::optional<Ecef>& position = positions[entry_index];
        if (!position) return;
        const std::uint32_t rank = satellite_rank[entry.satellite];
        const std::size_t row = next[rank]++;
        const LookAngles angles = receiver->look_angles(*position);
        columns.time[row] = times[epoch];
        columns.satellite[row] = index_of_rank[rank];
        columns.azimuth[row] = angles.azimuth_deg;
        columns.elevation[row] = angles.elevation_deg;
    });
    return columns;
}

}  // namespace vardoln::arrays
