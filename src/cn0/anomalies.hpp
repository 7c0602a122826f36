// C/N0-drop events: epochs at which at least two satellites fall far below their own usual
// level at once, the signature of wide-band interference or jamming.
#pragma once

#include <vector>

#include "cn0/result.hpp"
#include "cn0/samples.hpp"

namespace vardoln {

struct AnomalyThresholds {
    double low = 3.0;        // multiplier of a satellite's C/N0 spread
    double high = 6.0;       // dB
    double critical = 10.0;  // dB
};

// Events in timestamp order, at most one per timestamp.
std::vector<AnomalyEvent> detect_anomalies(const SampleSet& set, const SampleGroups& groups,
                                           const AnomalyThresholds& thresholds);

}  // namespace vardoln
