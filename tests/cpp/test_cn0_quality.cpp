#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cn0/quality.hpp"

namespace vardoln {
namespace {

std::vector<AnomalyEvent> events(std::size_t count, std::string_view severity = "low") {
    AnomalyEvent event;
    event.severity = std::string(severity);
    return std::vector<AnomalyEvent>(count, event);
}

// The inputs of the stored scoring; everything else in the result stays at its default.
struct StoredInputs {
    double mean_cn0 = 45.0;
    double coverage_percent = 100.0;
    std::uint64_t total_epochs = 100;
    std::size_t anomalies = 0;
    std::optional<VisibilitySummary> visibility = std::nullopt;
};

QualityScoreRecord stored_score(const StoredInputs& in) {
    AnalysisResult result;
    result.summary.mean_cn0 = in.mean_cn0;
    result.summary.total_epochs = in.total_epochs;
    result.skyplot.coverage_percent = in.coverage_percent;
    result.anomalies = events(in.anomalies);
    result.visibility = in.visibility;
    apply_stored_quality_score(result);
    return result.quality_score;
}

VisibilitySummary visibility(double confirmation_rate, double mean_predicted, double mean_observed,
                             double mean_unexpected) {
    VisibilitySummary v;
    v.has_prediction = true;
    v.confirmation_rate = confirmation_rate;
    v.mean_predicted = mean_predicted;
    v.mean_observed = mean_observed;
    v.mean_unexpected = mean_unexpected;
    return v;
}

TEST(StoredQuality, Cn0Score) {
    const struct {
        double mean_cn0;
        double score;
    } cases[] = {{37.5, 50.0}, {29.0, 0.0}, {30.0, 0.0}, {45.0, 100.0}, {50.0, 100.0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(stored_score({.mean_cn0 = c.mean_cn0}).cn0_score, c.score) << c.mean_cn0;
}

TEST(StoredQuality, CoverageScoreIsClamped) {
    EXPECT_DOUBLE_EQ(stored_score({.coverage_percent = 12.5}).coverage_score, 12.5);
    EXPECT_DOUBLE_EQ(stored_score({.coverage_percent = 130.0}).coverage_score, 100.0);
    EXPECT_DOUBLE_EQ(stored_score({.coverage_percent = -1.0}).coverage_score, 0.0);
}

TEST(StoredQuality, ConsistencyFromAnomaliesPerEpoch) {
    const struct {
        std::uint64_t epochs;
        std::size_t anomalies;
        double score;
    } cases[] = {
        {10, 1, 0.0},    // 1 - 10 * 0.1 = 0
        {100, 1, 90.0},  //
        {100, 0, 100.0},
        {5, 3, 0.0},  // clamped from below
        {0, 0, 100.0},
        {0, 1, 0.0},  // no epochs divides by 1
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(stored_score({.total_epochs = c.epochs, .anomalies = c.anomalies}).consistency_score, c.score)
            << c.epochs << " epochs, " << c.anomalies << " anomalies";
    }
}

TEST(StoredQuality, VisibilityPenalties) {
    const struct {
        std::string_view name;
        double confirmation_rate;
        double mean_unexpected;
        double score;
    } cases[] = {
        {"penalties 30 and 10", 40.0, 2.0, 60.0},
        {"confirmation penalty is half the shortfall", 90.0, 0.0, 95.0},
        {"unexpected penalty capped at 20", 100.0, 9.0, 80.0},
        {"both capped", 0.0, 100.0, 50.0},
        {"rate above 100 costs nothing", 150.0, 0.0, 100.0},
    };
    for (const auto& c : cases) {
        const StoredInputs in{.visibility = visibility(c.confirmation_rate, 0.0, 0.0, c.mean_unexpected)};
        EXPECT_DOUBLE_EQ(stored_score(in).consistency_score, c.score) << c.name;
    }
}

// An orbit source without a receiver position gives a present but empty summary (rate 0).
TEST(StoredQuality, EmptyVisibilityLosesThirtyWithoutWarning) {
    const QualityScoreRecord q = stored_score({.visibility = VisibilitySummary{}});
    EXPECT_DOUBLE_EQ(q.consistency_score, 70.0);
    EXPECT_DOUBLE_EQ(q.overall, 0.4 * 70.0 + 25.0 + 35.0);
    EXPECT_EQ(q.interpretation, "Good GNSS signal quality");
}

TEST(StoredQuality, Warnings) {
    constexpr std::string_view many = " - WARNING: Many unexpected satellites detected";
    constexpr std::string_view low_rate = " - WARNING: Low satellite confirmation rate";
    const struct {
        std::string_view name;
        VisibilitySummary visibility;
        std::string_view warning;
    } cases[] = {
        {"6 of 10 unexpected", visibility(100.0, 12.0, 10.0, 6.0), many},
        {"5 unexpected is not above 5, rate is fine", visibility(100.0, 12.0, 10.0, 5.0), ""},
        {"5 unexpected, then the low rate decides", visibility(40.0, 12.0, 10.0, 5.0), low_rate},
        {"unexpected wins over low rate", visibility(40.0, 12.0, 10.0, 6.0), many},
        {"ratio 0.3 is not above 0.3", visibility(100.0, 12.0, 20.0, 6.0), ""},
        {"nothing observed", visibility(40.0, 12.0, 0.0, 6.0), low_rate},
        {"10 predicted is not above 10", visibility(40.0, 10.0, 10.0, 0.0), ""},
        {"rate 50 is not below 50", visibility(50.0, 12.0, 10.0, 0.0), ""},
    };
    // The penalties move the grade, so the sentence before the warning is taken from the grade.
    for (const auto& c : cases) {
        const QualityScoreRecord q = stored_score({.visibility = c.visibility});
        const std::string_view sentence = q.grade == "A"   ? "Excellent GNSS signal quality"
                                          : q.grade == "B" ? "Good GNSS signal quality"
                                          : q.grade == "C" ? "Fair GNSS signal quality with some issues"
                                          : q.grade == "D" ? "Poor GNSS signal quality"
                                                           : "Very poor GNSS signal quality - significant interference suspected";
        EXPECT_EQ(q.interpretation, std::string(sentence) + std::string(c.warning)) << c.name;
    }
    EXPECT_EQ(stored_score({}).interpretation, "Excellent GNSS signal quality");
}

TEST(StoredQuality, GradeBands) {
    const struct {
        double mean_cn0;
        double coverage_percent;
        double overall;
        std::string_view grade;
        std::string_view interpretation;
    } cases[] = {
        {45.0, 60.0, 90.0, "A", "Excellent GNSS signal quality"},
        {45.0, 59.996, 89.999, "B", "Good GNSS signal quality"},
        {45.0, 20.0, 80.0, "B", "Good GNSS signal quality"},
        {45.0, 0.0, 75.0, "C", "Fair GNSS signal quality with some issues"},
        {40.0, 0.0, 40.0 + 0.35 * (10.0 / 15.0 * 100.0), "D", "Poor GNSS signal quality"},
        {30.0, 0.0, 40.0, "F", "Very poor GNSS signal quality - significant interference suspected"},
    };
    for (const auto& c : cases) {
        const QualityScoreRecord q = stored_score({.mean_cn0 = c.mean_cn0, .coverage_percent = c.coverage_percent,
                                                   .total_epochs = 1});
        EXPECT_DOUBLE_EQ(q.overall, c.overall) << c.overall;
        EXPECT_EQ(q.grade, c.grade) << c.overall;
        EXPECT_EQ(q.interpretation, c.interpretation) << c.overall;
    }
    // The boundaries themselves, exactly.
    EXPECT_EQ(stored_score({.mean_cn0 = 45.0, .coverage_percent = 60.0, .total_epochs = 1}).overall, 90.0);
    EXPECT_EQ(stored_score({.mean_cn0 = 45.0, .coverage_percent = 20.0, .total_epochs = 1}).overall, 80.0);
}

TEST(StoredQuality, SeverityCountsIntoSummary) {
    AnalysisResult result;
    for (std::string_view severity : {"critical", "high", "high", "low", "Critical", ""})
        result.anomalies.push_back(events(1, severity).front());
    apply_stored_quality_score(result);
    EXPECT_EQ(result.summary.anomaly_count, 6u);
    EXPECT_EQ(result.summary.critical_count, 1u);
    EXPECT_EQ(result.summary.high_count, 2u);
    EXPECT_EQ(result.summary.low_count, 1u);
}

// A constellation entry with only the fields that the notebook scoring reads.
ConstellationStats constellation(std::uint64_t satellites, std::uint64_t expected, std::uint64_t gaps,
                                 double std_cn0) {
    ConstellationStats s;
    s.satellite_count = satellites;
    s.satellites_expected = expected;
    s.data_gaps = gaps;
    s.std_cn0 = std_cn0;
    return s;
}

AnalysisResult notebook_input(std::vector<ConstellationStats> stats, std::uint64_t epochs = 100,
                              double cn0_score = 100.0, std::size_t systems = 4) {
    AnalysisResult result;
    const char* names[] = {"BeiDou", "GLONASS", "GPS", "Galileo", "QZSS", "SBAS"};
    for (std::size_t i = 0; i < stats.size(); ++i) result.constellation_stats[names[i]] = stats[i];
    result.summary.total_epochs = epochs;
    result.quality_score.cn0_score = cn0_score;
    result.summary.systems_observed.assign(systems, "GPS");
    return result;
}

TEST(NotebookScore, EmptyResult) {
    const NotebookScore s = notebook_score(AnalysisResult{});
    EXPECT_DOUBLE_EQ(s.cn0_quality, 0.0);
    EXPECT_DOUBLE_EQ(s.availability, 50.0);
    EXPECT_DOUBLE_EQ(s.continuity, 100.0);
    EXPECT_DOUBLE_EQ(s.stability, 62.5);  // an assumed spread of 5 dB
    EXPECT_DOUBLE_EQ(s.diversity, 0.0);
    EXPECT_DOUBLE_EQ(s.overall, 41.875);
    EXPECT_EQ(s.rating, "F - Very Poor");
    EXPECT_FALSE(s.post_processing_suitable);
}

TEST(NotebookScore, Components) {
    const struct {
        std::string_view name;
        AnalysisResult input;
        double availability, continuity, stability, diversity;
    } cases[] = {
        {"19 of 21 expected, spread 3", notebook_input({constellation(10, 12, 0, 2.0), constellation(9, 9, 0, 4.0)}),
         100.0 * 19.0 / 21.0, 100.0, 87.5, 100.0},
        {"more than expected caps at 100", notebook_input({constellation(12, 10, 0, 2.0)}), 100.0, 100.0, 100.0,
         100.0},
        {"nothing expected", notebook_input({constellation(3, 0, 0, 10.0)}), 50.0, 100.0, 0.0, 100.0},
        {"50 gaps over 2 x 100", notebook_input({constellation(1, 1, 20, 1.0), constellation(1, 1, 30, 12.0)}),
         100.0, 75.0, 43.75, 100.0},
        {"gaps beyond the epochs", notebook_input({constellation(1, 1, 500, 2.0)}), 100.0, 0.0, 100.0, 100.0},
        {"no epochs counts as one", notebook_input({constellation(1, 1, 1, 2.0)}, 0), 100.0, 0.0, 100.0, 100.0},
        {"one constellation observed", notebook_input({constellation(1, 1, 0, 2.0)}, 100, 100.0, 1), 100.0,
         100.0, 100.0, 25.0},
        {"five constellations still 100", notebook_input({constellation(1, 1, 0, 2.0)}, 100, 100.0, 5), 100.0,
         100.0, 100.0, 100.0},
    };
    for (const auto& c : cases) {
        const NotebookScore s = notebook_score(c.input);
        EXPECT_DOUBLE_EQ(s.availability, c.availability) << c.name;
        EXPECT_DOUBLE_EQ(s.continuity, c.continuity) << c.name;
        EXPECT_DOUBLE_EQ(s.stability, c.stability) << c.name;
        EXPECT_DOUBLE_EQ(s.diversity, c.diversity) << c.name;
        EXPECT_DOUBLE_EQ(s.overall, 0.3 * s.cn0_quality + 0.25 * c.availability + 0.2 * c.continuity +
                                        0.15 * c.stability + 0.1 * c.diversity)
            << c.name;
    }
}

// With every other component at 100 the overall is 70 + 0.3 x cn0 score.
TEST(NotebookScore, RatingAndSuitability) {
    const struct {
        double cn0_score;
        std::uint64_t gaps;  // lowers continuity
        std::string_view rating;
        bool suitable;
    } cases[] = {
        {100.0, 0, "A - Excellent", true},
        {50.0, 0, "B - Good", false},  // 85 overall, but the C/N0 score is below 60
        {60.0, 0, "B - Good", true},
        {0.0, 0, "C - Fair", false},
        {0.0, 50, "D - Poor", false},   // 70 - 0.2 x 50
        {0.0, 100, "F - Very Poor", false},
    };
    for (const auto& c : cases) {
        const NotebookScore s = notebook_score(notebook_input({constellation(1, 1, c.gaps, 2.0)}, 100, c.cn0_score));
        EXPECT_EQ(s.rating, c.rating) << c.cn0_score << " / " << c.gaps;
        EXPECT_EQ(s.post_processing_suitable, c.suitable) << c.cn0_score << " / " << c.gaps;
    }
}

TEST(Cn0StdDev, PopulationSpreadOfEpochMeans) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        std::vector<double> series;
        double std_dev;
    } cases[] = {
        {{}, 0.0},
        {{42.0}, 0.0},
        {{44.0, 46.0}, 1.0},
        {{40.0, 42.0, 44.0, 46.0}, std::sqrt(5.0)},
    };
    for (const auto& c : cases) {
        AnalysisResult result;
        result.timeseries.mean_cn0 = c.series;
        EXPECT_DOUBLE_EQ(cn0_std_dev(result), c.std_dev) << c.series.size() << " points";
    }
    AnalysisResult with_nan;
    with_nan.timeseries.mean_cn0 = {40.0, nan};
    EXPECT_TRUE(std::isnan(cn0_std_dev(with_nan)));
}

}  // namespace
}  // namespace vardoln
