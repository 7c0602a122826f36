// The two scorings of a result: the stored one (last step of a run) and the notebook one
// (computed from a stored result whenever it is asked for).
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "cn0/result.hpp"

namespace vardoln {

// Severity counts into the summary, then the stored score, grade and interpretation.
void apply_stored_quality_score(AnalysisResult& result);

// The stored grade: the first band whose lower bound the overall score reaches, else the lowest
// (a NaN score grades lowest).
struct GradeBand {
    double lower;
    std::string_view grade;
    std::string_view sentence;
};
std::span<const GradeBand> stored_grade_bands() noexcept;
const GradeBand& lowest_stored_grade_band() noexcept;

struct NotebookScore {
    double overall = 0.0;
    double cn0_quality = 0.0;
    double availability = 0.0;
    double continuity = 0.0;
    double stability = 0.0;
    double diversity = 0.0;
    bool post_processing_suitable = false;
    std::string rating;  // "A - Excellent" ... "F - Very Poor"
};

NotebookScore notebook_score(const AnalysisResult& result);

// Population standard deviation of the per-epoch mean C/N0 series; 0.0 when it is empty.
// A NaN in the series makes the result NaN.
double cn0_std_dev(const AnalysisResult& result) noexcept;

}  // namespace vardoln
