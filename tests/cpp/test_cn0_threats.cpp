#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cn0/threats.hpp"

namespace vardoln {
namespace {

// A finished result as the verdicts see it: n time-series points, anomaly events with their
// severity and number of affected constellations, and the summary counts that go with them.
struct ThreatInputs {
    std::size_t points = 100;
    std::size_t critical_events = 0;
    std::size_t other_events = 0;
    std::size_t systems_per_event = 2;
    double mean_cn0 = 45.0;
};

AnalysisResult threat_result(const ThreatInputs& in) {
    AnalysisResult result;
    result.timeseries.timestamps.assign(in.points, "2024-01-15T06:30:00.000Z");
    AnomalyEvent event;
    event.affected_systems.assign(in.systems_per_event, "GPS");
    event.severity = "critical";
    result.anomalies.assign(in.critical_events, event);
    event.severity = "high";
    result.anomalies.insert(result.anomalies.end(), in.other_events, event);
    result.summary.anomaly_count = result.anomalies.size();
    result.summary.critical_count = in.critical_events;
    result.summary.mean_cn0 = in.mean_cn0;
    return result;
}

TEST(Threats, Jamming) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::string_view name;
        ThreatInputs in;
        bool jamming;
    } cases[] = {
        {"6 critical of 100, two systems each", {.critical_events = 6}, true},
        {"5 of 100 is not above 0.05", {.critical_events = 5}, false},
        {"6 critical on one system, good mean", {.critical_events = 6, .systems_per_event = 1}, false},
        {"6 critical on one system, mean below 35", {.critical_events = 6, .systems_per_event = 1, .mean_cn0 = 34.9},
         true},
        {"mean exactly 35 is not below", {.critical_events = 6, .systems_per_event = 1, .mean_cn0 = 35.0}, false},
        {"NaN mean is not below 35", {.critical_events = 6, .systems_per_event = 1, .mean_cn0 = nan}, false},
        {"high events do not count", {.other_events = 20, .mean_cn0 = 20.0}, false},
        {"no anomalies, low mean", {.mean_cn0 = 20.0}, false},
        {"no points divides by one", {.points = 0, .critical_events = 1}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(jamming_detected(threat_result(c.in)), c.jamming) << c.name;
}

TEST(Threats, Interference) {
    const struct {
        std::string_view name;
        ThreatInputs in;
        bool interference;
    } cases[] = {
        {"2 of 100: fewer than 3", {.other_events = 2}, false},
        {"3 of 100", {.other_events = 3}, true},
        {"3 of 300 is not above 0.01", {.points = 300, .other_events = 3}, false},
        {"4 of 300", {.points = 300, .other_events = 4}, true},
        {"critical events count too", {.critical_events = 1, .other_events = 2}, true},
        {"no points divides by one", {.points = 0, .other_events = 3}, true},
        {"no anomalies", {.mean_cn0 = 10.0}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(interference_detected(threat_result(c.in)), c.interference) << c.name;
}

struct SpoofingInputs {
    double mean_observed = 20.0;
    double mean_unexpected = 10.0;
    std::string_view anomaly_type = "";  // no visibility anomaly when empty
    double duration_seconds = 0.0;
    double threshold = 0.40;
    double min_unexpected = 8.0;
};

AnalysisResult spoofing_result(const SpoofingInputs& in) {
    AnalysisResult result;
    result.spoofing_unexpected_threshold = in.threshold;
    result.spoofing_min_unexpected_count = in.min_unexpected;
    VisibilitySummary& v = result.visibility.emplace();
    v.has_prediction = true;
    v.mean_observed = in.mean_observed;
    v.mean_unexpected = in.mean_unexpected;
    if (!in.anomaly_type.empty()) {
        VisibilityAnomaly anomaly;
        anomaly.anomaly_type = std::string(in.anomaly_type);
        anomaly.duration_seconds = in.duration_seconds;
        v.anomalies.push_back(anomaly);
    }
    return result;
}

TEST(Threats, Spoofing) {
    const struct {
        std::string_view name;
        SpoofingInputs in;
        bool spoofing;
    } cases[] = {
        {"ratio 0.5 without a long unexpected run", {}, false},
        {"ratio 0.5 with 301 s of unexpected satellites",
         {.anomaly_type = "unexpected_satellites", .duration_seconds = 301.0}, true},
        {"300 s is not above 300", {.anomaly_type = "unexpected_satellites", .duration_seconds = 300.0}, false},
        {"a long missing run does not count", {.anomaly_type = "missing_satellites", .duration_seconds = 900.0},
         false},
        {"ratio above 0.6", {.mean_observed = 10.0, .mean_unexpected = 9.0}, true},
        {"8 unexpected is not above 8", {.mean_observed = 10.0, .mean_unexpected = 8.0}, false},
        {"nothing observed", {.mean_observed = 0.0, .mean_unexpected = 9.0}, false},
        {"ratio not above a raised threshold", {.mean_observed = 10.0, .mean_unexpected = 9.0, .threshold = 0.95},
         false},
        {"lowered count threshold", {.mean_observed = 10.0, .mean_unexpected = 7.0, .min_unexpected = 6.0}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(spoofing_detected(spoofing_result(c.in)), c.spoofing) << c.name;
}

TEST(Threats, NoVisibilityNeverSpoofs) {
    AnalysisResult result = spoofing_result({.mean_observed = 10.0, .mean_unexpected = 9.0});
    result.visibility.reset();
    EXPECT_FALSE(spoofing_detected(result));
}

TEST(Threats, EmptyResultReportsNothing) {
    const AnalysisResult empty;
    EXPECT_FALSE(jamming_detected(empty));
    EXPECT_FALSE(interference_detected(empty));
    EXPECT_FALSE(spoofing_detected(empty));
}

}  // namespace
}  // namespace vardoln
