// Sky pictures of a run: per-satellite tracks, and mean C/N0 over 10 x 5 degree sky cells, once
// as a sparse list of occupied cells with a coverage figure and once as a full 18 x 36 grid.
#pragma once

#include <string_view>

#include "cn0/result.hpp"
#include "cn0/samples.hpp"

namespace vardoln {

// Without samples nothing is built: no traces, no cells, coverage 0 and no grid at all.
void build_skyplot(const SampleSet& set, const SampleGroups& groups, SkyplotData& skyplot, HeatmapGrid& heatmap);

}  // namespace vardoln
