// The analysis result record. Member order is the order of the JSON export.
//
// Maps are sorted by key: the export and the Python dictionaries get a deterministic order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rinex/text.hpp"
#include "visibility/summary.hpp"

namespace vardoln {

struct FileInfo {
    std::string filename;  // always empty
    std::string marker_name;
    std::string receiver_type;
    std::string antenna_type;
    std::string start_time;
    std::string end_time;
    double duration_hours = 0.0;
    double interval = 0.0;         // seconds
    double position_lat = 0.0;     // degrees
    double position_lon = 0.0;     // degrees
    double position_height = 0.0;  // metres
};

struct QualityScoreRecord {
    double overall = 0.0;
    double cn0_score = 0.0;
    double coverage_score = 0.0;
    double consistency_score = 0.0;
    std::string grade = "N/A";
    std::string interpretation = "No data";
};

struct ResultSummary {
    std::uint64_t total_observations = 0;
    std::uint64_t total_satellites = 0;
    std::uint64_t total_epochs = 0;
    std::vector<std::string> systems_observed;
    double mean_cn0 = 0.0;
    double min_cn0 = 0.0;
    double max_cn0 = 0.0;
    std::uint64_t anomaly_count = 0;
    std::uint64_t critical_count = 0;
    std::uint64_t high_count = 0;
    std::uint64_t low_count = 0;
};

struct ConstellationStats {
    std::string system;
    std::uint64_t satellite_count = 0;
    std::uint64_t observation_count = 0;
    double mean_cn0 = 0.0;
    double min_cn0 = 0.0;
    double max_cn0 = 0.0;
    double std_cn0 = 0.0;
    std::uint64_t satellites_expected = 0;
    double availability_ratio = 0.0;
    std::uint64_t cycle_slips = 0;
    std::uint64_t data_gaps = 0;
};

struct SatelliteStats {
    std::string satellite;
    std::string system;
    std::uint64_t observation_count = 0;
    double mean_cn0 = 0.0;
    double min_cn0 = 0.0;
    double max_cn0 = 0.0;
    double std_cn0 = 0.0;
    double mean_elevation = 0.0;
};

struct TimeSeriesPoint {
    std::string timestamp;
    double cn0 = 0.0;
    double elevation = 0.0;  // degrees
    double azimuth = 0.0;    // degrees
};

struct SatelliteTimeSeries {
    std::string satellite;
    std::string system;
    std::string signal;
    std::vector<TimeSeriesPoint> cn0_series;
};

struct TimeSeriesData {
    std::vector<std::string> timestamps;
    std::vector<double> mean_cn0;
    std::vector<std::uint64_t> satellite_count;
    TextMap<SatelliteTimeSeries> satellite_timeseries;
    TextMap<std::vector<TimeSeriesPoint>> constellation_timeseries;
};

struct SkyplotPoint {
    double azimuth = 0.0;
    double elevation = 0.0;
    double cn0 = 0.0;
    std::string satellite;
};

struct SkyplotTrace {
    std::string satellite;
    std::string system;
    std::vector<SkyplotPoint> points;
};

struct HeatmapPoint {
    double azimuth_bin = 0.0;
    double elevation_bin = 0.0;
    double mean_cn0 = 0.0;
    std::uint64_t count = 0;
};

struct SkyplotData {
    std::vector<SkyplotTrace> traces;
    std::vector<HeatmapPoint> heatmap_points;
    double coverage_percent = 0.0;
};

struct HeatmapGrid {
    std::vector<double> azimuth_bins;                      // 36 centres, or empty
    std::vector<double> elevation_bins;                    // 18 centres, or empty
    std::vector<std::vector<double>> cn0_matrix;           // rows = elevation bins
    std::vector<std::vector<std::uint64_t>> count_matrix;  // rows = elevation bins
};

struct AnomalyEvent {
    std::string timestamp;
    std::string severity;  // "low", "high", "critical"
    std::string event_type;
    std::string description;
    double cn0_drop = 0.0;
    std::vector<std::string> affected_satellites;
    std::vector<std::string> affected_systems;
};

struct AnalysisResult {
    FileInfo file_info;
    QualityScoreRecord quality_score;
    ResultSummary summary;
    TextMap<ConstellationStats> constellation_stats;
    TextMap<SatelliteStats> satellite_stats;
    TimeSeriesData timeseries;
    SkyplotData skyplot;
    HeatmapGrid heatmap;
    std::vector<AnomalyEvent> anomalies;
    std::optional<VisibilitySummary> visibility;
    double spoofing_unexpected_threshold = 0.40;
    double spoofing_min_unexpected_count = 8.0;
};

}  // namespace vardoln
