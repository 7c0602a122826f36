// One analysis run: observation record + settings -> result. Never fails.
#pragma once

#include <optional>
#include <span>

#include "cn0/result.hpp"
#include "cn0/settings.hpp"
#include "navigation/orbits.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

// `known_positions`, when not empty, are the positions of every satellite entry of the record
// (one per RinexObsData::satellite_entries) computed already from the settings' orbit source by
// the same orbit arithmetic, as a loaded recording keeps them: the run takes them instead of
// computing them again, with the same result.
AnalysisResult run_analysis(const RinexObsData& obs, const AnalysisSettings& settings,
                            std::span<const std::optional<Ecef>> known_positions = {});

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
