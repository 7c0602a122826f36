#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "cn0/samples.hpp"
#include "cn0/skyplot.hpp"

namespace vardoln {
namespace {

struct Sky {
    double azimuth;
    double elevation;
    double cn0 = 40.0;
    std::uint32_t satellite = 0;
};

// One timestamp slot; satellites named in the order given.
SampleSet sample_set(const std::vector<Sky>& sky, std::vector<std::string_view> satellites = {"G01"}) {
    SampleSet set;
    set.satellites = std::move(satellites);
    for (const std::string_view s : set.satellites) {
        set.satellite_systems.push_back(sample_system(s.empty() ? 'G' : s[0]));
    }
    set.signals = {"S1C"};
    set.timestamps = {"2024-01-15T06:30:00.000Z"};
    for (const Sky& s : sky) set.samples.push_back({0, s.satellite, 0, s.cn0, s.elevation, s.azimuth});
    return set;
}

struct Pictures {
    SkyplotData skyplot;
    HeatmapGrid heatmap;
};

Pictures build(const SampleSet& set) {
    Pictures p;
    build_skyplot(set, group_samples(set), p.skyplot, p.heatmap);
    return p;
}

struct CellCase {
    const char* name;
    double azimuth;
    double elevation;
    double azimuth_bin;    // sparse list
    double elevation_bin;  // sparse list
    std::size_t row;       // folded grid
    std::size_t column;
};

TEST(SkyCells, OneSampleTable) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const CellCase cases[] = {
        {"default geometry", 0.0, 45.0, 5.0, 47.5, 9, 0},
        {"azimuth 359.9", 359.9, 45.0, 355.0, 47.5, 9, 35},
        {"azimuth 360 leaves the sky in the list only", 360.0, 45.0, 365.0, 47.5, 9, 35},
        {"elevation 90", 10.0, 90.0, 15.0, 92.5, 17, 1},
        {"elevation -3", 10.0, -3.0, 15.0, -2.5, 0, 1},
        {"cell edges belong to the upper cell", 20.0, 10.0, 25.0, 12.5, 2, 2},
        {"NaN angles give key 0", nan, nan, 5.0, 2.5, 0, 0},
        {"huge elevation saturates", 0.0, 1e300, 5.0, 2147483647.0 * 5.0 + 2.5, 17, 0},
        {"huge negative azimuth saturates", -1e300, 45.0, -2147483648.0 * 10.0 + 5.0, 47.5, 9, 0},
    };
    for (const CellCase& c : cases) {
        const Pictures p = build(sample_set({{c.azimuth, c.elevation, 42.0}}));
        ASSERT_EQ(p.skyplot.heatmap_points.size(), 1u) << c.name;
        const HeatmapPoint& point = p.skyplot.heatmap_points[0];
        EXPECT_EQ(point.azimuth_bin, c.azimuth_bin) << c.name;
        EXPECT_EQ(point.elevation_bin, c.elevation_bin) << c.name;
        EXPECT_EQ(point.mean_cn0, 42.0) << c.name;
        EXPECT_EQ(point.count, 1u) << c.name;
        EXPECT_DOUBLE_EQ(p.skyplot.coverage_percent, 100.0 / 648.0) << c.name;

        ASSERT_EQ(p.heatmap.count_matrix.size(), 18u) << c.name;
        for (std::size_t row = 0; row < 18; ++row) {
            ASSERT_EQ(p.heatmap.count_matrix[row].size(), 36u);
            for (std::size_t column = 0; column < 36; ++column) {
                const bool hit = row == c.row && column == c.column;
                EXPECT_EQ(p.heatmap.count_matrix[row][column], hit ? 1u : 0u) << c.name << " " << row << "," << column;
                EXPECT_EQ(p.heatmap.cn0_matrix[row][column], hit ? 42.0 : 0.0) << c.name;
            }
        }
    }
}

TEST(SkyCells, MeansCountsAndUncappedCoverage) {
    // Three samples in one cell, one in another inside the sky, one at the zenith (outside).
    const Pictures p = build(sample_set({{12.0, 31.0, 40.0}, {19.9, 34.9, 44.0}, {10.0, 30.0, 45.0},
                                         {200.0, 60.0, 30.0}, {200.0, 90.0, 50.0}}));
    ASSERT_EQ(p.skyplot.heatmap_points.size(), 3u);
    double total = 0.0;
    for (const HeatmapPoint& point : p.skyplot.heatmap_points) {
        total += static_cast<double>(point.count);
        if (point.azimuth_bin == 15.0) {
            EXPECT_EQ(point.elevation_bin, 32.5);
            EXPECT_EQ(point.count, 3u);
            EXPECT_DOUBLE_EQ(point.mean_cn0, 43.0);
        }
    }
    EXPECT_EQ(total, 5.0);
    EXPECT_DOUBLE_EQ(p.skyplot.coverage_percent, 3.0 / 648.0 * 100.0);
    // In the grid the zenith sample is folded into row 17.
    EXPECT_EQ(p.heatmap.count_matrix[6][1], 3u);
    EXPECT_EQ(p.heatmap.count_matrix[12][20], 1u);
    EXPECT_EQ(p.heatmap.count_matrix[17][20], 1u);
    EXPECT_EQ(p.heatmap.cn0_matrix[17][20], 50.0);

    // Coverage is a share of the 648 cells but counts out-of-sky keys as well.
    std::vector<Sky> everywhere;
    for (int a = 0; a < 37; ++a) {
        for (int e = -1; e < 19; ++e) everywhere.push_back({a * 10.0 + 1.0, e * 5.0 + 1.0});
    }
    EXPECT_GT(build(sample_set(everywhere)).skyplot.coverage_percent, 100.0);
}

TEST(SkyGrid, BinCentres) {
    const Pictures p = build(sample_set({{0.0, 45.0}}));
    ASSERT_EQ(p.heatmap.azimuth_bins.size(), 36u);
    ASSERT_EQ(p.heatmap.elevation_bins.size(), 18u);
    EXPECT_EQ(p.heatmap.azimuth_bins.front(), 5.0);
    EXPECT_EQ(p.heatmap.azimuth_bins.back(), 355.0);
    EXPECT_EQ(p.heatmap.elevation_bins.front(), 2.5);
    EXPECT_EQ(p.heatmap.elevation_bins.back(), 87.5);
}

TEST(SkyTraces, OnePerSatelliteInSampleOrderWithSkyplotNames) {
    const std::vector<std::string_view> satellites = {"", "C11", "E05", "G01", "I02", "J01", "R10", "S20"};
    std::vector<Sky> sky;
    for (std::uint32_t s = 0; s < satellites.size(); ++s) sky.push_back({1.0 * s, 30.0, 40.0, s});
    // Two more samples of E05 (two signals), out of azimuth order to show sample order is kept.
    sky.push_back({300.0, 20.0, 41.0, 2});
    sky.push_back({100.0, 25.0, 42.0, 2});
    const Pictures p = build(sample_set(sky, satellites));

    const std::vector<std::string> names = {"GPS", "BeiDou", "Galileo", "GPS", "Other", "Other", "GLONASS", "Other"};
    ASSERT_EQ(p.skyplot.traces.size(), satellites.size());
    for (std::size_t i = 0; i < satellites.size(); ++i) {
        const SkyplotTrace& trace = p.skyplot.traces[i];
        EXPECT_EQ(trace.satellite, satellites[i]);
        EXPECT_EQ(trace.system, names[i]) << satellites[i];
        for (const SkyplotPoint& point : trace.points) EXPECT_EQ(point.satellite, satellites[i]);
    }
    const SkyplotTrace& galileo = p.skyplot.traces[2];
    ASSERT_EQ(galileo.points.size(), 3u);
    EXPECT_EQ(galileo.points[1].azimuth, 300.0);
    EXPECT_EQ(galileo.points[1].elevation, 20.0);
    EXPECT_EQ(galileo.points[1].cn0, 41.0);
    EXPECT_EQ(galileo.points[2].azimuth, 100.0);
}

TEST(SkyTraces, SatellitesWithoutSamplesGetNoTrace) {
    const Pictures p = build(sample_set({{0.0, 45.0, 40.0, 1}}, {"G01", "G02", "G03"}));
    ASSERT_EQ(p.skyplot.traces.size(), 1u);
    EXPECT_EQ(p.skyplot.traces[0].satellite, "G02");
}

TEST(SkyPictures, NothingWithoutSamples) {
    const Pictures p = build(sample_set({}));
    EXPECT_TRUE(p.skyplot.traces.empty());
    EXPECT_TRUE(p.skyplot.heatmap_points.empty());
    EXPECT_EQ(p.skyplot.coverage_percent, 0.0);
    EXPECT_TRUE(p.heatmap.azimuth_bins.empty());
    EXPECT_TRUE(p.heatmap.elevation_bins.empty());
    EXPECT_TRUE(p.heatmap.cn0_matrix.empty());
    EXPECT_TRUE(p.heatmap.count_matrix.empty());
}

}  // namespace
}  // namespace vardoln
