// One analysis run: observation record + settings -> result. Never fails.
#pragma once

#include "cn0/result.hpp"
#include "cn0/settings.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

AnalysisResult run_analysis(const RinexObsData& obs, const AnalysisSettings& settings);

// The per-constellation series of run_analysis (timeseries.constellation_timeseries) alone, by
// the same extraction and the same sums, so equal to it value for value: for views that draw
// the series without holding a whole result (a day of samples, its statistics and per-satellite
// series).
TextMap<std::vector<TimeSeriesPoint>> constellation_series(const RinexObsData& obs, const AnalysisSettings& settings);

}  // namespace vardoln
