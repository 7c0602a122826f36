// Jamming, interference and spoofing verdicts, computed from a stored result.
#pragma once

#include "cn0/result.hpp"

namespace vardoln {

bool jamming_detected(const AnalysisResult& result) noexcept;
bool interference_detected(const AnalysisResult& result) noexcept;
bool spoofing_detected(const AnalysisResult& result) noexcept;

}  // namespace vardoln
