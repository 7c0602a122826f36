#include "cn0/quality.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace vardoln {

namespace {

// Written as min(max(x, 0), 100) on purpose: a NaN input stays NaN (and grades as "F").
double clamp_score(double x) noexcept { return std::min(std::max(x, 0.0), 100.0); }

constexpr GradeBand grade_bands[] = {
    {90.0, "A", "Excellent GNSS signal quality"},
    {80.0, "B", "Good GNSS signal quality"},
    {70.0, "C", "Fair GNSS signal quality with some issues"},
    {60.0, "D", "Poor GNSS signal quality"},
};
constexpr GradeBand lowest_band = {0.0, "F", "Very poor GNSS signal quality - significant interference suspected"};

const GradeBand& band_of(double overall) noexcept {
    for (const GradeBand& band : grade_bands)
        if (overall >= band.lower) return band;
    return lowest_band;
}

}  // namespace

std::span<const GradeBand> stored_grade_bands() noexcept {
    return grade_bands;
}

const GradeBand& lowest_stored_grade_band() noexcept {
    return lowest_band;
}

namespace {

std::string_view rating_of(double overall) noexcept {
    if (overall >= 90.0) return "A - Excellent";
    if (overall >= 80.0) return "B - Good";
    if (overall >= 70.0) return "C - Fair";
    if (overall >= 60.0) return "D - Poor";
    return "F - Very Poor";
}

std::string_view visibility_warning(const VisibilitySummary& v) noexcept {
    if (v.mean_observed > 0.0 && v.mean_unexpected > 5.0 && v.mean_unexpected / v.mean_observed > 0.3)
        return " - WARNING: Many unexpected satellites detected";
    if (v.mean_predicted > 10.0 && v.confirmation_rate < 50.0) return " - WARNING: Low satellite confirmation rate";
    return {};
}

void count_severities(AnalysisResult& result) noexcept {
    ResultSummary& summary = result.summary;
    summary.anomaly_count = result.anomalies.size();
    summary.critical_count = summary.high_count = summary.low_count = 0;
    for (const AnomalyEvent& event : result.anomalies) {
        if (event.severity == "critical") {
            ++summary.critical_count;
        } else if (event.severity == "high") {
            ++summary.high_count;
        } else if (event.severity == "low") {
            ++summary.low_count;
        }
    }
}

double consistency_score(const AnalysisResult& result) noexcept {
    const std::uint64_t epochs = result.summary.total_epochs == 0 ? 1 : result.summary.total_epochs;
    double score = clamp_score(
        (1.0 - 10.0 * static_cast<double>(result.summary.anomaly_count) / static_cast<double>(epochs)) * 100.0);
    if (result.visibility) {
        // Unconfirmed predictions cost up to 30 points, satellites nobody predicted up to 20.
        const double penalty_confirmation =
            std::min(std::max(0.0, (100.0 - result.visibility->confirmation_rate) * 0.5), 30.0);
        const double penalty_unexpected = std::min(std::max(0.0, result.visibility->mean_unexpected * 5.0), 20.0);
        score = clamp_score(score - penalty_confirmation - penalty_unexpected);
    }
    return score;
}

}  // namespace

void apply_stored_quality_score(AnalysisResult& result) {
    count_severities(result);

    QualityScoreRecord& q = result.quality_score;
    q.cn0_score = clamp_score((result.summary.mean_cn0 - 30.0) / 15.0 * 100.0);
    q.coverage_score = clamp_score(result.skyplot.coverage_percent);
    q.consistency_score = consistency_score(result);
    q.overall = 0.4 * q.consistency_score + 0.25 * q.coverage_score + 0.35 * q.cn0_score;

    const GradeBand& band = band_of(q.overall);
    q.grade = band.grade;
    q.interpretation = band.sentence;
    if (result.visibility) q.interpretation += visibility_warning(*result.visibility);
}

NotebookScore notebook_score(const AnalysisResult& result) {
    const auto& stats = result.constellation_stats;
    // Sums in double: counts are far below 2^53, and a sum of counts cannot wrap.
    double satellites = 0.0;
    double expected = 0.0;
    double gaps = 0.0;
    double spread_sum = 0.0;
    for (const auto& [name, entry] : stats) {
        satellites += static_cast<double>(entry.satellite_count);
        expected += static_cast<double>(entry.satellites_expected);
        gaps += static_cast<double>(entry.data_gaps);
        spread_sum += entry.std_cn0;
    }
    const double k = stats.empty() ? 1.0 : static_cast<double>(stats.size());
    const double epochs = result.summary.total_epochs == 0 ? 1.0 : static_cast<double>(result.summary.total_epochs);

    NotebookScore score;
    score.cn0_quality = result.quality_score.cn0_score;
    score.availability = expected == 0.0 ? 50.0 : std::min(100.0 * satellites / expected, 100.0);
    score.continuity = clamp_score((1.0 - std::min(gaps / (k * epochs), 1.0)) * 100.0);
    // A mean spread of 2 dB scores 100, 10 dB scores 0; without constellations assume 5 dB.
    const double spread = stats.empty() ? 5.0 : spread_sum / k;
    score.stability = clamp_score((10.0 - spread) * 0.125 * 100.0);
    score.diversity = std::min(25.0 * static_cast<double>(result.summary.systems_observed.size()), 100.0);
    score.overall = 0.3 * score.cn0_quality + 0.25 * score.availability + 0.2 * score.continuity +
                    0.15 * score.stability + 0.1 * score.diversity;
    score.rating = rating_of(score.overall);
    score.post_processing_suitable = score.overall >= 65.0 && score.cn0_quality >= 60.0;
    return score;
}

double cn0_std_dev(const AnalysisResult& result) noexcept {
    const std::vector<double>& values = result.timeseries.mean_cn0;
    if (values.empty()) return 0.0;
    const double n = static_cast<double>(values.size());
    double sum = 0.0;
    for (double x : values) sum += x;
    const double mean = sum / n;
    double squares = 0.0;
    for (double x : values) squares += (x - mean) * (x - mean);
    return std::sqrt(squares / n);
}

}  // namespace vardoln
