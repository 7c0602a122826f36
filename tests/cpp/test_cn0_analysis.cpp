#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "cn0/analysis.hpp"
#include "navigation/nav_data.hpp"
#include "navigation/orbit_source.hpp"
#include "rinex/obs_data.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

// Observation records written by hand: each epoch lists satellites with (code, value) pairs.
struct Sat {
    std::string id;
    std::vector<std::pair<std::string, double>> values;
};

class Record {
public:
    // Epochs at 2024-01-15 06:mm:00.
    Record& epoch(std::uint32_t minute, const std::vector<Sat>& satellites) {
        ObservationEpoch epoch;
        epoch.time = {2024, 1, 15, 6, minute, 0.0};
        epoch.first_satellite = static_cast<std::uint32_t>(data.satellite_entries.size());
        epoch.satellite_count = static_cast<std::uint32_t>(satellites.size());
        for (const Sat& sat : satellites) {
            SatelliteObservations entry;
            entry.satellite = intern(data.satellite_ids, sat.id);
            entry.first_value = static_cast<std::uint32_t>(data.values.size());
            entry.value_count = static_cast<std::uint32_t>(sat.values.size());
            for (const auto& [code, value] : sat.values) {
                ObservationValue v;
                v.value = value;
                v.code = intern(data.codes, code);
                data.values.push_back(v);
            }
            data.satellite_entries.push_back(entry);
        }
        data.epochs.push_back(epoch);
        return *this;
    }

    RinexObsData data;

private:
    static std::uint32_t intern(std::vector<std::string>& table, const std::string& text) {
        const auto it = std::find(table.begin(), table.end(), text);
        if (it != table.end()) return static_cast<std::uint32_t>(it - table.begin());
        table.push_back(text);
        return static_cast<std::uint32_t>(table.size() - 1);
    }
};

Sat s1c(std::string id, double value) { return {std::move(id), {{"S1C", value}}}; }

AnalysisSettings settings_for(std::vector<char32_t> letters = {U'G', U'R', U'E', U'C'}) {
    AnalysisSettings settings;
    settings.systems = std::move(letters);
    return settings;
}

void expect_no_data(const AnalysisResult& result, const char* name) {
    EXPECT_EQ(result.quality_score.grade, "N/A") << name;
    EXPECT_EQ(result.quality_score.interpretation, "No data") << name;
    EXPECT_EQ(result.summary.total_observations, 0u) << name;
    EXPECT_EQ(result.summary.total_epochs, 0u) << name;  // the summary step is never reached
    EXPECT_TRUE(result.constellation_stats.empty()) << name;
    EXPECT_TRUE(result.timeseries.timestamps.empty()) << name;
    EXPECT_TRUE(result.heatmap.cn0_matrix.empty()) << name;
    EXPECT_EQ(result.skyplot.coverage_percent, 0.0) << name;
    EXPECT_FALSE(result.visibility.has_value()) << name;
    EXPECT_EQ(result.spoofing_unexpected_threshold, 0.40) << name;
}

struct BoundCase {
    const char* name;
    double min_cn0;
    double max_cn0;
    double min_elevation;
    std::uint64_t kept;
};

TEST(AnalysisSamples, InclusiveBoundsTable) {
    Record record;
    record.epoch(0, {{"G01", {{"S1C", 19.999}, {"S2W", 20.0}, {"S5Q", 35.0}, {"S1W", 50.0}, {"S2L", 50.001}}},
                     {"G02", {{"C1C", 40.0}, {"L1C", 40.0}}}});
    const BoundCase cases[] = {
        {"both ends kept", 20.0, 50.0, 5.0, 3},
        {"elevation mask equal to the default geometry", 20.0, 50.0, 45.0, 3},
        {"mask above the default geometry rejects all", 20.0, 50.0, 45.000001, 0},
        {"negative mask", 0.0, 60.0, -10.0, 5},
        {"NaN bound rejects all", std::nan(""), 60.0, 5.0, 0},
    };
    for (const BoundCase& c : cases) {
        AnalysisSettings settings = settings_for();
        settings.min_cn0 = c.min_cn0;
        settings.max_cn0 = c.max_cn0;
        settings.min_elevation = c.min_elevation;
        settings.spoofing_unexpected_threshold = 0.7;
        const AnalysisResult result = run_analysis(record.data, settings);
        if (c.kept == 0) {
            expect_no_data(result, c.name);
            continue;
        }
        EXPECT_EQ(result.summary.total_observations, c.kept) << c.name;
        EXPECT_EQ(result.spoofing_unexpected_threshold, 0.7) << c.name;
    }
    AnalysisSettings bounded = settings_for();
    bounded.min_cn0 = 20.0;
    bounded.max_cn0 = 50.0;
    const AnalysisResult result = run_analysis(record.data, bounded);
    EXPECT_EQ(result.summary.min_cn0, 20.0);
    EXPECT_EQ(result.summary.max_cn0, 50.0);
}

TEST(AnalysisSamples, NothingSelectedGivesTheFileInformationOnly) {
    Record record;
    record.data.marker_name = "ESBC";
    record.data.interval = 30.0;
    record.epoch(0, {s1c("G01", 40.0)}).epoch(2, {s1c("G01", 41.0)});
    const struct {
        const char* name;
        std::vector<char32_t> letters;
    } cases[] = {
        {"explicitly empty systems", {}},
        {"a non-ASCII letter never matches", {U'\u00C7'}},
        {"letters are case-sensitive", {U'g'}},
    };
    for (const auto& c : cases) {
        AnalysisSettings settings = settings_for(c.letters);
        settings.spoofing_unexpected_threshold = 0.7;
        const AnalysisResult result = run_analysis(record.data, settings);
        expect_no_data(result, c.name);
        EXPECT_EQ(result.file_info.marker_name, "ESBC") << c.name;
        EXPECT_EQ(result.file_info.start_time, "2024-01-15T06:00:00.000Z") << c.name;
        EXPECT_EQ(result.file_info.end_time, "2024-01-15T06:02:00.000Z") << c.name;
        // Julian-day differences: exact only to a few microseconds.
        EXPECT_NEAR(result.file_info.duration_hours, 2.0 / 60.0, 1e-8) << c.name;
        EXPECT_EQ(result.file_info.interval, 30.0) << c.name;
    }

    Record no_signal_strength;
    no_signal_strength.epoch(0, {{"G01", {{"C1C", 2.2e7}, {"", 40.0}}}});
    expect_no_data(run_analysis(no_signal_strength.data, settings_for()), "no S codes");
    expect_no_data(run_analysis(RinexObsData{}, settings_for()), "no epochs");
}

// Two epochs worked out by hand:
//   06:00  G01 S1C 30, S2W 45   G02 S1C 40   R05 S1C 44
//   06:01  G01 S1C 31           G02 S1C 42
TEST(AnalysisStatistics, SmallRecordByHand) {
    Record record;
    record.epoch(0, {{"G01", {{"S1C", 30.0}, {"S2W", 45.0}}}, s1c("G02", 40.0), s1c("R05", 44.0)})
        .epoch(1, {s1c("G01", 31.0), s1c("G02", 42.0)});
    AnalysisSettings settings = settings_for();
    settings.spoofing_min_unexpected_count = 3.0;
    const AnalysisResult result = run_analysis(record.data, settings);

    const ResultSummary& summary = result.summary;
    EXPECT_EQ(summary.total_observations, 6u);
    EXPECT_EQ(summary.total_satellites, 3u);
    EXPECT_EQ(summary.total_epochs, 2u);
    EXPECT_EQ(summary.systems_observed, (std::vector<std::string>{"GPS", "GLONASS"}));
    EXPECT_DOUBLE_EQ(summary.mean_cn0, 232.0 / 6.0);
    EXPECT_EQ(summary.min_cn0, 30.0);
    EXPECT_EQ(summary.max_cn0, 45.0);

    const SatelliteStats& g01 = result.satellite_stats.at("G01");
    EXPECT_EQ(g01.system, "GPS");
    EXPECT_EQ(g01.observation_count, 3u);
    EXPECT_DOUBLE_EQ(g01.mean_cn0, 106.0 / 3.0);
    EXPECT_NEAR(g01.std_cn0, std::sqrt(422.0 / 9.0), 1e-12);
    EXPECT_EQ(g01.mean_elevation, 45.0);
    EXPECT_EQ(result.satellite_stats.size(), 3u);

    const ConstellationStats& gps = result.constellation_stats.at("GPS");
    EXPECT_EQ(gps.satellite_count, 2u);
    EXPECT_EQ(gps.observation_count, 5u);
    EXPECT_DOUBLE_EQ(gps.mean_cn0, 37.6);
    EXPECT_EQ(gps.cycle_slips, 1u);  // G01 sorted 30, 31, 45: one step above 10
    EXPECT_EQ(gps.data_gaps, 0u);
    EXPECT_EQ(gps.satellites_expected, 12u);
    EXPECT_DOUBLE_EQ(gps.availability_ratio, 2.0 / 12.0);
    const ConstellationStats& glonass = result.constellation_stats.at("GLONASS");
    EXPECT_EQ(glonass.satellites_expected, 9u);
    EXPECT_EQ(glonass.std_cn0, 0.0);

    const TimeSeriesData& series = result.timeseries;
    EXPECT_EQ(series.timestamps,
              (std::vector<std::string>{"2024-01-15T06:00:00.000Z", "2024-01-15T06:01:00.000Z"}));
    EXPECT_EQ(series.mean_cn0, (std::vector<double>{39.75, 36.5}));
    // Two signals of G01 at 06:00: one satellite, two values in the mean.
    EXPECT_EQ(series.satellite_count, (std::vector<std::uint64_t>{3, 2}));
    const SatelliteTimeSeries& g01_series = series.satellite_timeseries.at("G01");
    EXPECT_EQ(g01_series.signal, "S1C");
    ASSERT_EQ(g01_series.cn0_series.size(), 3u);
    EXPECT_EQ(g01_series.cn0_series[1].timestamp, "2024-01-15T06:00:00.000Z");
    EXPECT_EQ(g01_series.cn0_series[1].cn0, 45.0);
    const auto& gps_series = series.constellation_timeseries.at("GPS");
    ASSERT_EQ(gps_series.size(), 2u);
    EXPECT_DOUBLE_EQ(gps_series[0].cn0, 115.0 / 3.0);
    EXPECT_EQ(gps_series[0].elevation, 45.0);
    EXPECT_EQ(gps_series[0].azimuth, 0.0);
    EXPECT_EQ(series.constellation_timeseries.at("GLONASS").size(), 1u);

    // Without an orbit source everything sits in one sky cell.
    ASSERT_EQ(result.skyplot.heatmap_points.size(), 1u);
    EXPECT_EQ(result.skyplot.heatmap_points[0].count, 6u);
    EXPECT_EQ(result.heatmap.count_matrix[9][0], 6u);
    EXPECT_EQ(result.skyplot.traces.size(), 3u);

    EXPECT_TRUE(result.anomalies.empty());
    EXPECT_NE(result.quality_score.grade, "N/A");
    EXPECT_FALSE(result.visibility.has_value());
    EXPECT_EQ(result.spoofing_min_unexpected_count, 3.0);
}

// The rule as written: sort, then count neighbours more than 10 apart.
std::uint64_t sorted_jumps(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::uint64_t jumps = 0;
    for (std::size_t i = 1; i < values.size(); ++i) jumps += values[i] - values[i - 1] > 10.0;
    return jumps;
}

TEST(AnalysisStatistics, CycleSlipsMatchTheSortedRule) {
    std::mt19937 random(20240115);
    const struct {
        const char* name;
        double lowest;
        double highest;
        double step;  // values on a grid of this step, as receivers write them
    } shapes[] = {
        {"C/N0 range, whole dB", 20.0, 60.0, 1.0},
        {"C/N0 range, exact tens", 0.0, 60.0, 10.0},
        {"C/N0 range, millidecibels", 15.0, 58.0, 0.001},
        {"range too wide for buckets", -1e6, 1e6, 0.25},
        {"tiny range", 40.0, 40.5, 0.125},
    };
    for (const auto& shape : shapes) {
        for (int trial = 0; trial < 40; ++trial) {
            Record record;
            std::vector<double> values;
            const int count = 1 + trial % 9;
            const auto steps = static_cast<std::uint32_t>((shape.highest - shape.lowest) / shape.step);
            std::uniform_int_distribution<std::uint32_t> pick(0, steps);
            for (int i = 0; i < count; ++i) {
                values.push_back(shape.lowest + shape.step * pick(random));
                record.epoch(static_cast<std::uint32_t>(i), {s1c("G01", values.back())});
            }
            AnalysisSettings settings = settings_for();
            settings.min_cn0 = -1e300;
            settings.max_cn0 = 1e300;
            settings.min_elevation = -90.0;
            const AnalysisResult result = run_analysis(record.data, settings);
            EXPECT_EQ(result.constellation_stats.at("GPS").cycle_slips, sorted_jumps(values)) << shape.name;
        }
    }
}

TEST(AnalysisStatistics, DataGapsCountAgainstTheConstellationsOwnTimestamps) {
    // G01 at G positions 0, 1, 4 of five GPS timestamps: 2 gaps. Then a second record where
    // minutes with only GLONASS samples are not GPS timestamps: G01 at minutes 0, 1, 5 sits at
    // GPS positions 0, 1, 3 (minutes 3 and 4 are GLONASS only): 1 gap.
    Record five;
    five.epoch(0, {s1c("G01", 40), s1c("G02", 40)})
        .epoch(1, {s1c("G01", 40), s1c("G02", 40)})
        .epoch(2, {s1c("G02", 40)})
        .epoch(3, {s1c("G02", 40)})
        .epoch(4, {s1c("G01", 40), s1c("G02", 40)});
    EXPECT_EQ(run_analysis(five.data, settings_for()).constellation_stats.at("GPS").data_gaps, 2u);

    Record mixed;
    mixed.epoch(0, {s1c("G01", 40), s1c("G02", 40)})
        .epoch(1, {s1c("G01", 40), s1c("G02", 40)})
        .epoch(2, {s1c("G02", 40), {"G01", {{"C1C", 2e7}}}})
        .epoch(3, {s1c("R01", 40)})
        .epoch(4, {s1c("R01", 40)})
        .epoch(5, {s1c("G01", 40), s1c("G02", 40)});
    const AnalysisResult result = run_analysis(mixed.data, settings_for());
    EXPECT_EQ(result.constellation_stats.at("GPS").data_gaps, 1u);
    EXPECT_EQ(result.constellation_stats.at("GLONASS").data_gaps, 0u);
}

TEST(AnalysisStatistics, ConstellationNamesTables) {
    Record record;
    record.epoch(0, {s1c("G01", 40), s1c("I05", 41), s1c("J01", 42), s1c("S20", 43), s1c("X01", 44)});
    const AnalysisResult plain = run_analysis(record.data, settings_for());
    // Only G is analysed, yet every constellation of the record is counted and named.
    EXPECT_EQ(plain.summary.total_observations, 1u);
    EXPECT_EQ(plain.summary.total_satellites, 5u);
    EXPECT_EQ(plain.summary.systems_observed, (std::vector<std::string>{"GPS", "IRNSS", "QZSS", "SBAS", "X"}));
    const struct {
        const char* name;
        std::uint64_t satellites;
        std::uint64_t expected;
    } entries[] = {{"GPS", 1, 12}, {"IRNSS", 0, 7}, {"QZSS", 0, 4}, {"SBAS", 0, 3}, {"X", 0, 10}};
    ASSERT_EQ(plain.constellation_stats.size(), std::size(entries));
    for (const auto& e : entries) {
        const ConstellationStats& stats = plain.constellation_stats.at(e.name);
        EXPECT_EQ(stats.system, e.name);
        EXPECT_EQ(stats.satellite_count, e.satellites) << e.name;
        EXPECT_EQ(stats.satellites_expected, e.expected) << e.name;
        if (e.satellites == 0) {
            EXPECT_EQ(stats.mean_cn0, 0.0) << e.name;
            EXPECT_EQ(stats.availability_ratio, 0.0) << e.name;
        }
    }

    // Samples name I and unknown letters "Unknown"; the record's letters keep their own names.
    const AnalysisResult selected = run_analysis(record.data, settings_for({U'I', U'X', U'J'}));
    EXPECT_EQ(selected.satellite_stats.at("I05").system, "Unknown");
    EXPECT_EQ(selected.satellite_stats.at("J01").system, "QZSS");
    const ConstellationStats& unknown = selected.constellation_stats.at("Unknown");
    EXPECT_EQ(unknown.satellite_count, 2u);
    EXPECT_EQ(unknown.observation_count, 2u);
    EXPECT_EQ(unknown.satellites_expected, 10u);
    EXPECT_EQ(selected.constellation_stats.at("IRNSS").observation_count, 0u);
    EXPECT_EQ(selected.constellation_stats.at("X").observation_count, 0u);
    EXPECT_EQ(selected.constellation_stats.at("GPS").observation_count, 0u);
    EXPECT_TRUE(selected.timeseries.constellation_timeseries.contains("Unknown"));
    EXPECT_EQ(selected.skyplot.traces.size(), 3u);
}

TEST(AnalysisTimeSeries, EqualTextsMergeAndSeriesAreSortedByTimestamp) {
    // Epochs out of order, the third repeating the first's time.
    Record record;
    record.epoch(1, {s1c("G01", 40), s1c("E01", 30)})
        .epoch(0, {s1c("G01", 41)})
        .epoch(1, {s1c("G01", 42), s1c("G02", 50)});
    const AnalysisResult result = run_analysis(record.data, settings_for());
    const TimeSeriesData& series = result.timeseries;
    EXPECT_EQ(series.timestamps,
              (std::vector<std::string>{"2024-01-15T06:00:00.000Z", "2024-01-15T06:01:00.000Z"}));
    EXPECT_EQ(series.satellite_count, (std::vector<std::uint64_t>{1, 3}));
    EXPECT_EQ(series.mean_cn0, (std::vector<double>{41.0, 40.5}));
    std::vector<double> g01;
    for (const TimeSeriesPoint& point : series.satellite_timeseries.at("G01").cn0_series) g01.push_back(point.cn0);
    EXPECT_EQ(g01, (std::vector<double>{41.0, 40.0, 42.0}));
    const auto& gps = series.constellation_timeseries.at("GPS");
    ASSERT_EQ(gps.size(), 2u);
    EXPECT_EQ(gps[1].cn0, 44.0);  // 40, 42, 50 at 06:01
    EXPECT_EQ(result.constellation_stats.at("GPS").data_gaps, 0u);
    // Skyplot points keep sample order.
    ASSERT_EQ(result.skyplot.traces.size(), 3u);
    std::vector<double> trace;
    for (const SkyplotPoint& point : result.skyplot.traces[1].points) trace.push_back(point.cn0);
    EXPECT_EQ(trace, (std::vector<double>{40.0, 41.0, 42.0}));
    // File times are those of the first and last epoch as written.
    EXPECT_EQ(result.file_info.start_time, "2024-01-15T06:01:00.000Z");
    EXPECT_EQ(result.file_info.end_time, "2024-01-15T06:01:00.000Z");
    EXPECT_EQ(result.file_info.duration_hours, 0.0);
}

TEST(AnalysisTimeSeries, EmptyIdentifierCountsAsGps) {
    Record record;
    record.epoch(0, {s1c("", 40), s1c("R01", 44)});
    const AnalysisResult gps_only = run_analysis(record.data, settings_for({U'G'}));
    EXPECT_EQ(gps_only.summary.total_observations, 1u);
    EXPECT_EQ(gps_only.summary.total_satellites, 2u);
    // An empty identifier belongs to GPS in the constellations observed, too.
    EXPECT_EQ(gps_only.summary.systems_observed, (std::vector<std::string>{"GPS", "GLONASS"}));
    EXPECT_EQ(gps_only.satellite_stats.at("").system, "GPS");
    EXPECT_EQ(gps_only.skyplot.traces.at(0).system, "GPS");
}

std::shared_ptr<const NavigationData> empty_navigation() { return std::make_shared<const NavigationData>(); }

TEST(AnalysisVisibility, OrbitSourceWithoutReceiverPosition) {
    Record record;
    record.epoch(0, {s1c("G01", 40), s1c("G02", 41)});
    AnalysisSettings settings = settings_for();
    settings.orbit_source = make_orbit_source(empty_navigation());
    const AnalysisResult result = run_analysis(record.data, settings);
    ASSERT_TRUE(result.visibility.has_value());
    EXPECT_TRUE(result.visibility->has_prediction);
    EXPECT_EQ(result.visibility->prediction_source, "");
    EXPECT_TRUE(result.visibility->by_system.empty());
    EXPECT_EQ(result.constellation_stats.at("GPS").satellites_expected, 12u);
    EXPECT_EQ(result.satellite_stats.at("G01").mean_elevation, 45.0);

    // No prediction is made when there is nothing to analyse.
    settings.systems = std::vector<char32_t>{};
    EXPECT_FALSE(run_analysis(record.data, settings).visibility.has_value());
}

TEST(AnalysisVisibility, PredictionFiguresFeedTheExpectedCounts) {
    // A receiver position but no ephemerides: nothing is predicted and both GPS satellites are
    // unexpected, so the prediction's observed count (2) replaces the typical 12.
    Record record;
    record.data.approx_position = std::array<double, 3>{3512889.0, 778324.0, 5248217.0};
    record.epoch(0, {s1c("G01", 40), s1c("G02", 41), s1c("J01", 41)});
    AnalysisSettings settings = settings_for();
    settings.orbit_source = make_orbit_source(empty_navigation());
    const AnalysisResult result = run_analysis(record.data, settings);
    ASSERT_TRUE(result.visibility.has_value());
    EXPECT_EQ(result.visibility->prediction_source, "BRDC Navigation (0 satellites)");
    const ConstellationStats& gps = result.constellation_stats.at("GPS");
    EXPECT_EQ(gps.satellites_expected, 2u);
    EXPECT_EQ(gps.availability_ratio, 1.0);
    // QZSS has no prediction entry: the typical count stays.
    EXPECT_EQ(result.constellation_stats.at("QZSS").satellites_expected, 4u);
    EXPECT_NEAR(result.file_info.position_lat, 55.7455, 0.0001);
    EXPECT_NEAR(result.file_info.position_lon, 12.4928, 0.0001);
}

// ---------------------------------------------------------------------------------------------
// Real recordings.

std::optional<RinexObsData> observation_file(const char* name) {
    const auto text = test::real_text(name);
    if (!text) return std::nullopt;
    auto parsed = parse_observation_file(*text, std::filesystem::path(name).filename().string());
    if (!std::holds_alternative<RinexObsData>(parsed)) return std::nullopt;
    return std::get<RinexObsData>(std::move(parsed));
}

std::shared_ptr<const NavigationData> navigation_file(const char* name) {
    const auto text = test::real_text(name);
    if (!text) return nullptr;
    auto parsed = parse_navigation(*text);
    if (!std::holds_alternative<NavigationData>(parsed)) return nullptr;
    return std::make_shared<const NavigationData>(std::get<NavigationData>(std::move(parsed)));
}

// Counts that every result must agree on, however the samples were grouped.
void expect_consistent(const AnalysisResult& result) {
    const std::uint64_t total = result.summary.total_observations;
    std::uint64_t by_satellite = 0;
    for (const auto& [id, stats] : result.satellite_stats) by_satellite += stats.observation_count;
    std::uint64_t by_constellation = 0;
    for (const auto& [name, stats] : result.constellation_stats) by_constellation += stats.observation_count;
    std::uint64_t in_cells = 0;
    for (const HeatmapPoint& point : result.skyplot.heatmap_points) in_cells += point.count;
    std::uint64_t in_grid = 0;
    for (const auto& row : result.heatmap.count_matrix) {
        for (const std::uint64_t count : row) in_grid += count;
    }
    std::uint64_t in_traces = 0;
    for (const SkyplotTrace& trace : result.skyplot.traces) in_traces += trace.points.size();
    EXPECT_EQ(by_satellite, total);
    EXPECT_EQ(by_constellation, total);
    EXPECT_EQ(in_cells, total);
    EXPECT_EQ(in_grid, total);
    EXPECT_EQ(in_traces, total);
    EXPECT_EQ(result.timeseries.mean_cn0.size(), result.timeseries.timestamps.size());
    EXPECT_TRUE(std::is_sorted(result.timeseries.timestamps.begin(), result.timeseries.timestamps.end()));
    EXPECT_TRUE(std::adjacent_find(result.timeseries.timestamps.begin(), result.timeseries.timestamps.end()) ==
                result.timeseries.timestamps.end());
}

TEST(AnalysisFiles, ACOR00ESP_R_20213550000_01D_30S_MO) {
    const auto obs = observation_file("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx");
    if (!obs) GTEST_SKIP() << "shared data not available";
    const AnalysisResult result = run_analysis(*obs, settings_for());
    EXPECT_EQ(result.summary.total_epochs, 25u);
    EXPECT_EQ(result.timeseries.timestamps.size(), 25u);
    EXPECT_EQ(result.file_info.start_time, "2021-12-21T00:00:00.000Z");
    EXPECT_EQ(result.file_info.end_time, "2021-12-21T00:12:00.000Z");
    EXPECT_NEAR(result.file_info.duration_hours, 0.2, 1e-8);
    for (const char* name : {"GPS", "GLONASS", "Galileo", "BeiDou"}) {
        EXPECT_GT(result.constellation_stats.at(name).observation_count, 0u) << name;
    }
    expect_consistent(result);
    // Everything at the default geometry: one cell.
    EXPECT_EQ(result.skyplot.heatmap_points.size(), 1u);
}

TEST(AnalysisFiles, pdel0010_21o_with_cbw10010_21n) {
    const auto obs = observation_file("obs3/pdel0010.21o");
    const auto nav = navigation_file("nav/cbw10010.21n");
    if (!obs || !nav) GTEST_SKIP() << "shared data not available";
    AnalysisSettings settings = settings_for();
    const AnalysisResult without = run_analysis(*obs, settings);
    settings.orbit_source = make_orbit_source(nav);
    const AnalysisResult with = run_analysis(*obs, settings);
    expect_consistent(without);
    expect_consistent(with);

    ASSERT_TRUE(with.visibility.has_value());
    EXPECT_TRUE(with.visibility->has_prediction);
    EXPECT_EQ(with.visibility->prediction_source.rfind("BRDC Navigation (", 0), 0u);
    // GPS satellites get real geometry above the mask; GLONASS has no ephemerides here and
    // keeps the default geometry.
    bool moved = false;
    for (const SkyplotTrace& trace : with.skyplot.traces) {
        for (const SkyplotPoint& point : trace.points) {
            EXPECT_GE(point.elevation, settings.min_elevation);
            EXPECT_GE(point.azimuth, 0.0);
            EXPECT_LT(point.azimuth, 360.0);
            if (trace.system == "GLONASS") {
                EXPECT_EQ(point.elevation, 45.0);
            } else if (point.elevation != 45.0) {
                moved = true;
            }
        }
    }
    EXPECT_TRUE(moved);
    EXPECT_GT(with.skyplot.heatmap_points.size(), 1u);
    EXPECT_LE(with.summary.total_observations, without.summary.total_observations);
    EXPECT_EQ(with.constellation_stats.at("GLONASS").observation_count,
              without.constellation_stats.at("GLONASS").observation_count);
}

}  // namespace
}  // namespace vardoln
