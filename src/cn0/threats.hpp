// Jamming, interference and spoofing verdicts, computed from a stored result.
#pragma once

#include "cn0/result.hpp"

namespace vardoln {

bool jamming_detected(const AnalysisResult& result) noexcept;
bool interference_detected(const AnalysisResult& result) noexcept;
bool spoofing_detected(const AnalysisResult& result) noexcept;
// The spoofing rule on a visibility summary with the analysis's two spoofing thresholds.
bool spoofing_detected(const VisibilitySummary& visibility, double unexpected_threshold,
                       double min_unexpected_count) noexcept;

}  // namespace vardoln
