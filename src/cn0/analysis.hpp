// One analysis run: observation record + settings -> result. Never fails.
#pragma once

#include "cn0/result.hpp"
#include "cn0/settings.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln {

AnalysisResult run_analysis(const RinexObsData& obs, const AnalysisSettings& settings);

}  // namespace vardoln
