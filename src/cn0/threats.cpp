#include "cn0/threats.hpp"

#include <algorithm>

namespace vardoln {

namespace {

// Counts are taken per time-series point; an empty series divides by 1.
double per_point(std::uint64_t count, const AnalysisResult& result) noexcept {
    const std::size_t points = result.timeseries.timestamps.size();
    return static_cast<double>(count) / static_cast<double>(points == 0 ? 1 : points);
}

// Jamming hits many satellites at once: one critical drop across constellations suffices.
bool has_multi_system_critical(const AnalysisResult& result) noexcept {
    return std::any_of(result.anomalies.begin(), result.anomalies.end(), [](const AnomalyEvent& event) {
        return event.severity == "critical" && event.affected_systems.size() > 1;
    });
}

bool has_long_unexpected_run(const VisibilitySummary& visibility) noexcept {
    return std::any_of(visibility.anomalies.begin(), visibility.anomalies.end(), [](const VisibilityAnomaly& a) {
        return a.anomaly_type == "unexpected_satellites" && a.duration_seconds > 300.0;
    });
}

}  // namespace

bool jamming_detected(const AnalysisResult& result) noexcept {
    if (!(per_point(result.summary.critical_count, result) > 0.05)) return false;
    // A NaN mean is not below 35.
    return has_multi_system_critical(result) || result.summary.mean_cn0 < 35.0;
}

bool interference_detected(const AnalysisResult& result) noexcept {
    return per_point(result.summary.anomaly_count, result) > 0.01 && result.summary.anomaly_count >= 3;
}

bool spoofing_detected(const AnalysisResult& result) noexcept {
    if (!result.visibility) return false;
    return spoofing_detected(*result.visibility, result.spoofing_unexpected_threshold,
                             result.spoofing_min_unexpected_count);
}

bool spoofing_detected(const VisibilitySummary& v, double unexpected_threshold, double min_unexpected_count) noexcept {
    if (!(v.mean_observed > 0.0)) return false;
    const double ratio = v.mean_unexpected / v.mean_observed;
    // Many satellites that no ephemeris predicts, and either for long or in a clear majority.
    return ratio > unexpected_threshold && v.mean_unexpected > min_unexpected_count &&
           (has_long_unexpected_run(v) || ratio > 0.6);
}

}  // namespace vardoln
