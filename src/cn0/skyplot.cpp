#include "cn0/skyplot.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <utility>

#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"

namespace vardoln {

namespace {

constexpr std::size_t kAzimuthCells = 36;    // 10 degrees each
constexpr std::size_t kElevationCells = 18;  // 5 degrees each
constexpr double kSkyCells = static_cast<double>(kAzimuthCells * kElevationCells);

struct CellSum {
    double sum = 0.0;
    std::uint64_t count = 0;
};

// A grid index: negative and NaN fold to 0, anything past the last cell to the last cell.
std::size_t folded_index(double cell, std::size_t last) noexcept {
    if (!(cell > 0.0)) return 0;
    if (cell >= static_cast<double>(last)) return last;
    return static_cast<std::size_t>(cell);
}

void build_traces(const SampleSet& set, const SampleGroups& groups, std::vector<SkyplotTrace>& traces) {
    for (std::size_t satellite = 0; satellite < set.satellites.size(); ++satellite) {
        const auto members = groups.of_satellite(satellite);
        if (members.empty()) continue;
        SkyplotTrace& trace = traces.emplace_back();
        trace.satellite = set.satellites[satellite];
        trace.system = constellation_name(satellite_letter(trace.satellite), NamingContext::Skyplot);
        trace.points.reserve(members.size());
        for (const std::uint32_t index : members) {
            const SignalObservation& sample = set.samples[index];
            trace.points.push_back({sample.azimuth, sample.elevation, sample.cn0, trace.satellite});
        }
    }
}

// Occupied cells keep their keys even outside the sky (elevation 90 gives key 18, a negative
// elevation a negative key); coverage counts those too, so it is not capped.
void build_cells(const SampleSet& set, SkyplotData& skyplot) {
    // Nearly every sample lands inside the sky, so those cells are summed in a flat table and
    // only stray keys go to the ordered map.
    std::array<CellSum, kAzimuthCells * kElevationCells> inside{};
    std::map<std::pair<std::int32_t, std::int32_t>, CellSum> cells;
    for (const SignalObservation& sample : set.samples) {
        const std::int32_t azimuth_key = saturate_i32(std::floor(sample.azimuth / 10.0));
        const std::int32_t elevation_key = saturate_i32(std::floor(sample.elevation / 5.0));
        CellSum* cell;
        if (azimuth_key >= 0 && azimuth_key < static_cast<std::int32_t>(kAzimuthCells) && elevation_key >= 0 &&
            elevation_key < static_cast<std::int32_t>(kElevationCells)) {
            cell = &inside[static_cast<std::size_t>(azimuth_key) * kElevationCells +
                           static_cast<std::size_t>(elevation_key)];
        } else {
            cell = &cells[{azimuth_key, elevation_key}];
        }
        cell->sum += sample.cn0;
        ++cell->count;
    }
    for (std::size_t i = 0; i < inside.size(); ++i) {
        if (inside[i].count == 0) continue;
        const auto azimuth_key = static_cast<std::int32_t>(i / kElevationCells);
        const auto elevation_key = static_cast<std::int32_t>(i % kElevationCells);
        cells.emplace(std::pair{azimuth_key, elevation_key}, inside[i]);
    }
    skyplot.heatmap_points.reserve(cells.size());
    for (const auto& [key, cell] : cells) {
        skyplot.heatmap_points.push_back({static_cast<double>(key.first) * 10.0 + 5.0,
                                          static_cast<double>(key.second) * 5.0 + 2.5,
                                          cell.sum / static_cast<double>(cell.count), cell.count});
    }
    skyplot.coverage_percent = static_cast<double>(cells.size()) / kSkyCells * 100.0;
}

// The full grid folds out-of-sky samples into its border cells instead.
void build_grid(const SampleSet& set, HeatmapGrid& heatmap) {
    heatmap.azimuth_bins.resize(kAzimuthCells);
    for (std::size_t column = 0; column < kAzimuthCells; ++column) {
        heatmap.azimuth_bins[column] = static_cast<double>(column) * 10.0 + 5.0;
    }
    heatmap.elevation_bins.resize(kElevationCells);
    for (std::size_t row = 0; row < kElevationCells; ++row) {
        heatmap.elevation_bins[row] = static_cast<double>(row) * 5.0 + 2.5;
    }
    heatmap.cn0_matrix.assign(kElevationCells, std::vector<double>(kAzimuthCells, 0.0));
    heatmap.count_matrix.assign(kElevationCells, std::vector<std::uint64_t>(kAzimuthCells, 0));
    for (const SignalObservation& sample : set.samples) {
        const std::size_t column = folded_index(std::floor(sample.azimuth / 10.0), kAzimuthCells - 1);
        const std::size_t row = folded_index(std::floor(sample.elevation / 5.0), kElevationCells - 1);
        heatmap.cn0_matrix[row][column] += sample.cn0;
        ++heatmap.count_matrix[row][column];
    }
    for (std::size_t row = 0; row < kElevationCells; ++row) {
        for (std::size_t column = 0; column < kAzimuthCells; ++column) {
            const std::uint64_t count = heatmap.count_matrix[row][column];
            if (count != 0) heatmap.cn0_matrix[row][column] /= static_cast<double>(count);
        }
    }
}

}  // namespace

void build_skyplot(const SampleSet& set, const SampleGroups& groups, SkyplotData& skyplot, HeatmapGrid& heatmap) {
    if (set.samples.empty()) return;
    build_traces(set, groups, skyplot.traces);
    build_cells(set, skyplot);
    build_grid(set, heatmap);
}

}  // namespace vardoln
