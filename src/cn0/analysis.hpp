// One analysis run: observation record + settings -> result. Never fails.
#pragma once

#include "cn0/result.hpp"
#include "cn0/settings.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

AnalysisResult run_analysis(const RinexObsData& obs, const AnalysisSettings& settings);

// What the plots of a run draw, made by run_analysis's own steps and so equal to its fields
// value for value: the skyplot, the heatmap and the per-constellation series. Skips the
// statistics, the anomaly search, the visibility summary and the per-satellite series, which
// for a day of samples cost more than the parts kept.
struct RunViews {
    SkyplotData skyplot;
    HeatmapGrid heatmap;
    TextMap<std::vector<TimeSeriesPoint>> constellation_timeseries;
};

RunViews run_views(const RinexObsData& obs, const AnalysisSettings& settings);

// Hours of each time-series point: its index times the nominal interval, whatever the epoch
// times actually were.
std::vector<double> timeseries_hours(const AnalysisResult& result);

}  // namespace vardoln
