// Classification, means, frequent satellites, per-constellation figures and anomaly runs,
// fed with per-epoch predicted and observed sets (no orbit computation involved).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "visibility/visibility_tally.hpp"

namespace vardoln {
namespace {

using visibility_detail::VisibilityTally;
using Keys = std::vector<std::string>;

struct EpochSets {
    Keys predicted;
    Keys observed;
};

// G01..G<count> style key lists.
Keys numbered(char letter, int from, int to) {
    Keys keys;
    for (int n = from; n <= to; ++n) {
        keys.push_back(std::string(1, letter) + (n < 10 ? "0" : "") + std::to_string(n));
    }
    return keys;
}

Keys join(std::initializer_list<Keys> parts) {
    Keys out;
    for (const Keys& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An epoch where `predicted` are expected and all but `missing` are seen, plus `unexpected`.
EpochSets epoch_missing(const Keys& predicted, const Keys& missing, const Keys& unexpected = {}) {
    EpochSets sets{predicted, {}};
    for (const std::string& key : predicted) {
        if (std::find(missing.begin(), missing.end(), key) == missing.end()) sets.observed.push_back(key);
    }
    sets.observed.insert(sets.observed.end(), unexpected.begin(), unexpected.end());
    return sets;
}

EpochTime epoch_at(double seconds_after_start) {
    EpochTime time{2024, 1, 15, 6, 30, 0.0};
    const auto whole = static_cast<std::uint32_t>(seconds_after_start);
    time.minute += whole / 60;
    time.second = seconds_after_start - static_cast<double>(whole - whole % 60);
    return time;
}

// Runs the epochs through a tally, `spacing_s` seconds apart from 2024-01-15 06:30:00.
VisibilitySummary run(const std::vector<EpochSets>& epochs, double spacing_s = 30.0) {
    Keys universe;
    for (const EpochSets& e : epochs) {
        for (const Keys* list : {&e.predicted, &e.observed}) {
            for (const std::string& key : *list) {
                if (std::find(universe.begin(), universe.end(), key) == universe.end()) universe.push_back(key);
            }
        }
    }
    const auto index_of = [&universe](const Keys& keys) {
        std::vector<std::uint32_t> out;
        for (const std::string& key : keys) {
            const auto at = std::find(universe.begin(), universe.end(), key);
            out.push_back(static_cast<std::uint32_t>(at - universe.begin()));
        }
        return out;
    };
    VisibilityTally tally(std::vector<std::string_view>(universe.begin(), universe.end()));
    for (std::size_t i = 0; i < epochs.size(); ++i) {
        tally.add_epoch(epoch_at(static_cast<double>(i) * spacing_s), index_of(epochs[i].predicted),
                        index_of(epochs[i].observed));
    }
    return tally.finish("BRDC Navigation (3 satellites)");
}

Keys sorted(Keys keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST(VisibilityTally, NoEpochsGiveTheEmptySummary) {
    const VisibilitySummary summary = run({});
    EXPECT_EQ(summary.prediction_source, "");
    EXPECT_TRUE(summary.by_system.empty());
    EXPECT_EQ(summary.confirmation_rate, 0.0);
}

TEST(VisibilityTally, MeansCountEveryEpochAndRateIsConfirmedOverPredicted) {
    // Epoch 1: 4 predicted, 3 confirmed, 1 missing, 1 unexpected. Epoch 2: nothing predicted,
    // 2 unexpected. Repeated keys in a set count once.
    const VisibilitySummary summary = run({
        {{"G01", "G02", "R03", "E04", "G01"}, {"G01", "G02", "R03", "S20", "S20"}},
        {{}, {"G01", "C05"}},
    });
    EXPECT_EQ(summary.prediction_source, "BRDC Navigation (3 satellites)");
    EXPECT_DOUBLE_EQ(summary.mean_predicted, 2.0);
    EXPECT_DOUBLE_EQ(summary.mean_observed, 3.0);
    EXPECT_DOUBLE_EQ(summary.mean_missing, 0.5);
    EXPECT_DOUBLE_EQ(summary.mean_unexpected, 1.5);
    EXPECT_DOUBLE_EQ(summary.confirmation_rate, 75.0);
    EXPECT_FALSE(summary.has_prediction);
}

TEST(VisibilityTally, NothingPredictedGivesRateZeroAndEverythingUnexpected) {
    const VisibilitySummary summary = run({{{}, {"G01", "S20"}}, {{}, {"G01", "S20"}}});
    EXPECT_EQ(summary.confirmation_rate, 0.0);
    EXPECT_DOUBLE_EQ(summary.mean_unexpected, 2.0);
    EXPECT_EQ(summary.frequently_unexpected, (Keys{"G01", "S20"}));
    EXPECT_EQ(summary.by_system.at("GPS").observed_satellites, 1u);
    EXPECT_EQ(summary.by_system.at("GPS").confirmation_rate, 0.0);
}

TEST(VisibilityTally, FrequentLimitIsAQuarterOfTheEpochsStrictlyExceeded) {
    // 8 epochs, limit 2: G01 missing 3 times, G02 missing twice; R05 unexpected 3 times, E07 twice.
    std::vector<EpochSets> epochs(8, EpochSets{{"G01", "G02", "G03"}, {"G01", "G02", "G03"}});
    for (int i : {0, 1, 2}) epochs[i] = epoch_missing({"G01", "G02", "G03"}, {"G01"}, {"R05"});
    for (int i : {5, 6}) epochs[i] = epoch_missing({"G01", "G02", "G03"}, {"G02"}, {"E07"});
    const VisibilitySummary summary = run(epochs);
    EXPECT_EQ(summary.frequently_missing, (Keys{"G01"}));
    EXPECT_EQ(summary.frequently_unexpected, (Keys{"R05"}));
    EXPECT_EQ(summary.by_system.at("GPS").missing_satellites, (Keys{"G01"}));
    EXPECT_EQ(summary.by_system.at("GLONASS").unexpected_satellites, (Keys{"R05"}));
    EXPECT_TRUE(summary.by_system.at("Galileo").unexpected_satellites.empty());
}

TEST(VisibilityTally, PerConstellationEntries) {
    // GPS predicted 3 then 4 (mean 3.5 -> 4); 5 distinct GPS keys seen -> rate capped at 100.
    // Galileo predicted 1 at one of two epochs (mean 0.5 -> 1), seen never -> rate 0.
    // QZSS and SBAS get no entry; BeiDou and GLONASS entries exist with zeros.
    const VisibilitySummary summary = run({
        {{"G01", "G02", "G03", "E11", "J02"}, {"G01", "G02", "G03", "G04", "J02", "S20"}},
        {{"G01", "G02", "G03", "G05"}, {"G01", "G02", "G03", "G05"}},
    });
    ASSERT_EQ(summary.by_system.size(), 4u);
    struct Expected {
        const char* name;
        std::uint64_t predicted;
        std::uint64_t observed;
        double rate;
    };
    for (const Expected& e : {Expected{"GPS", 4, 5, 100.0}, Expected{"Galileo", 1, 0, 0.0},
                              Expected{"GLONASS", 0, 0, 0.0}, Expected{"BeiDou", 0, 0, 0.0}}) {
        SCOPED_TRACE(e.name);
        const SystemVisibility& system = summary.by_system.at(e.name);
        EXPECT_EQ(system.system, e.name);
        EXPECT_EQ(system.predicted_satellites, e.predicted);
        EXPECT_EQ(system.observed_satellites, e.observed);
        EXPECT_DOUBLE_EQ(system.confirmation_rate, e.rate);
    }
}

TEST(VisibilityTally, PartialConstellationRate) {
    // 4 GLONASS predicted every epoch, 3 distinct ever seen: 75 %.
    const Keys r = numbered('R', 1, 4);
    const VisibilitySummary summary = run({epoch_missing(r, {"R04"}), epoch_missing(r, {"R04"})});
    EXPECT_DOUBLE_EQ(summary.by_system.at("GLONASS").confirmation_rate, 75.0);
}

// Missing runs: twenty predicted GPS satellites, the first m of them missing per epoch.
struct MissingRunCase {
    const char* name;
    std::vector<int> missing_of_ten;  // missing per epoch out of 10 predicted
    std::size_t anomalies;
    std::size_t first_epoch = 0;
    std::size_t last_epoch = 0;
    std::size_t affected = 0;
};

TEST(VisibilityTally, MissingRunsOpenAboveThirtyPercentAndCloseAtTenPercent) {
    // Epoch i misses G<10*i+1>.. so each epoch's satellites are told apart.
    const MissingRunCase cases[] = {
        // 0.35-like, 0.2, 0.2, then 0.0-0.1: run over epochs 0-2; the closing epoch's one
        // missing satellite is included.
        {"open_keep_close", {4, 2, 2, 1}, 1, 0, 2, 9},
        {"still_open_at_end", {4, 2, 2}, 0},
        {"exactly_thirty_percent_does_not_open", {3, 3, 0}, 0},
        {"exactly_ten_percent_closes", {4, 1, 0}, 1, 0, 0, 5},
        {"two_runs", {5, 0, 0, 9, 2, 0}, 2, 0, 0, 5},
        {"single_epoch", {10}, 0},
    };
    for (const MissingRunCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<EpochSets> epochs;
        for (std::size_t i = 0; i < c.missing_of_ten.size(); ++i) {
            const Keys predicted = numbered('G', static_cast<int>(10 * i + 1), static_cast<int>(10 * i + 10));
            const Keys missing(predicted.begin(), predicted.begin() + c.missing_of_ten[i]);
            epochs.push_back(epoch_missing(predicted, missing));
        }
        const VisibilitySummary summary = run(epochs);
        ASSERT_EQ(summary.anomalies.size(), c.anomalies);
        if (c.anomalies == 0) continue;
        const VisibilityAnomaly& a = summary.anomalies.front();
        EXPECT_EQ(a.anomaly_type, "missing_satellites");
        EXPECT_EQ(a.start_time, timestamp_text(epoch_at(30.0 * static_cast<double>(c.first_epoch))));
        EXPECT_EQ(a.end_time, timestamp_text(epoch_at(30.0 * static_cast<double>(c.last_epoch))));
        EXPECT_EQ(a.affected_satellites.size(), c.affected);
    }
}

TEST(VisibilityTally, MissingRunAffectedSatellitesInFirstAppearanceOrder) {
    // Ratios 0.35, 0.2, 0.2, 0.05 over twenty predicted: G20 missing only at the closing epoch.
    const Keys g = numbered('G', 1, 20);
    const VisibilitySummary summary = run({
        epoch_missing(g, numbered('G', 1, 7)),
        epoch_missing(g, {"G08", "G01", "G09", "G10"}),
        epoch_missing(g, {"G11", "G12", "G13", "G02"}),
        epoch_missing(g, {"G20"}),
    });
    ASSERT_EQ(summary.anomalies.size(), 1u);
    const VisibilityAnomaly& a = summary.anomalies[0];
    EXPECT_EQ(a.affected_satellites, join({numbered('G', 1, 13), {"G20"}}));
    EXPECT_EQ(a.affected_systems, (Keys{"GPS"}));
    EXPECT_EQ(a.severity, "critical");  // 14 satellites
    EXPECT_EQ(a.start_time, "2024-01-15T06:30:00.000Z");
    EXPECT_EQ(a.end_time, "2024-01-15T06:31:00.000Z");
    EXPECT_NEAR(a.duration_seconds, 60.0, 1e-3);  // Julian values carry microseconds of rounding
    EXPECT_EQ(a.description, "14 satellites missing for 60s - possible jamming or obstruction");
}

TEST(VisibilityTally, NothingPredictedInsideARunClosesIt) {
    const VisibilitySummary summary = run({epoch_missing({"G01", "G02"}, {"G01"}), {{}, {}}});
    ASSERT_EQ(summary.anomalies.size(), 1u);
    EXPECT_EQ(summary.anomalies[0].end_time, summary.anomalies[0].start_time);
    EXPECT_EQ(summary.anomalies[0].description, "1 satellites missing for 0s - possible jamming or obstruction");
}

TEST(VisibilityTally, MissingRunSeverities) {
    struct Case {
        const char* name;
        Keys missing;  // all predicted, all missing at the first epoch; the second closes
        const char* severity;
        Keys systems;
    };
    const Case cases[] = {
        {"4_from_3_constellations", {"G01", "R01", "E01", "E02"}, "critical", {"GLONASS", "GPS", "Galileo"}},
        {"7_from_2", join({numbered('G', 1, 4), numbered('E', 1, 3)}), "high", {"GPS", "Galileo"}},
        {"5_from_1", numbered('C', 1, 5), "low", {"BeiDou"}},
        {"6_from_1", numbered('G', 1, 6), "high", {"GPS"}},
        {"10_from_2", join({numbered('G', 1, 5), numbered('J', 1, 5)}), "high", {"GPS", "QZSS"}},
        {"11_from_1", numbered('G', 1, 11), "critical", {"GPS"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const VisibilitySummary summary = run({epoch_missing(c.missing, c.missing), {c.missing, c.missing}});
        ASSERT_EQ(summary.anomalies.size(), 1u);
        EXPECT_EQ(summary.anomalies[0].severity, c.severity);
        EXPECT_EQ(summary.anomalies[0].affected_systems, c.systems);
        EXPECT_EQ(sorted(summary.anomalies[0].affected_satellites), sorted(c.missing));
    }
}

TEST(VisibilityTally, UnexpectedRuns) {
    struct Case {
        const char* name;
        std::vector<int> unexpected;  // unpredicted satellites per epoch, fresh keys each epoch
        std::size_t anomalies;
        std::size_t affected = 0;
        const char* severity = "";
        std::size_t last_epoch = 0;
    };
    const Case cases[] = {
        {"three_is_high", {3, 0}, 1, 3, "high", 0},
        {"five_then_one_is_critical", {5, 1}, 1, 6, "critical", 0},  // the closing epoch's one counts
        {"four_is_high", {4, 0}, 1, 4, "high", 0},
        {"six_is_critical", {6, 0}, 1, 6, "critical", 0},
        {"kept_by_two", {3, 2, 2, 1}, 1, 8, "critical", 2},
        {"two_does_not_open", {2, 2, 0}, 0},
        {"still_open_at_end", {3, 2}, 0},
        {"single_epoch", {8}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<EpochSets> epochs;
        int next = 1;
        for (int count : c.unexpected) {
            epochs.push_back({{}, numbered('E', next, next + count - 1)});
            next += count;
        }
        const VisibilitySummary summary = run(epochs);
        ASSERT_EQ(summary.anomalies.size(), c.anomalies);
        if (c.anomalies == 0) continue;
        const VisibilityAnomaly& a = summary.anomalies[0];
        EXPECT_EQ(a.anomaly_type, "unexpected_satellites");
        EXPECT_EQ(a.affected_satellites.size(), c.affected);
        EXPECT_EQ(a.severity, c.severity);
        EXPECT_EQ(a.end_time, timestamp_text(epoch_at(30.0 * static_cast<double>(c.last_epoch))));
        EXPECT_EQ(a.affected_systems, (Keys{"Galileo"}));
    }
}

TEST(VisibilityTally, MissingAnomaliesComeBeforeUnexpectedOnes) {
    // The unexpected run closes first in time, the missing run later; order is by pass.
    const Keys g = numbered('G', 1, 4);
    const VisibilitySummary summary = run({
        {g, numbered('S', 20, 23)},  // everything missing, 4 unexpected
        {g, {}},
        {g, g},
    });
    ASSERT_EQ(summary.anomalies.size(), 2u);
    EXPECT_EQ(summary.anomalies[0].anomaly_type, "missing_satellites");
    EXPECT_EQ(summary.anomalies[1].anomaly_type, "unexpected_satellites");
    EXPECT_EQ(summary.anomalies[1].affected_systems, (Keys{"SBAS"}));
    EXPECT_EQ(summary.anomalies[1].description, "4 unexpected satellites for 0s - possible spoofing or multipath");
    EXPECT_EQ(summary.anomalies[0].description, "4 satellites missing for 30s - possible jamming or obstruction");
}

TEST(VisibilityTally, DurationsAreRoundedToWholeSeconds) {
    // Durations come from Julian values, which carry tens of microseconds of rounding, so
    // exact halves are avoided here.
    struct Case {
        double spacing_s;
        const char* text;  // run over epochs 0-1
    };
    for (const Case& c : {Case{1.25, "1"}, Case{1.75, "2"}, Case{3.4, "3"}, Case{90.0, "90"}, Case{0.2, "0"}}) {
        SCOPED_TRACE(c.spacing_s);
        const Keys g = numbered('G', 1, 4);
        const VisibilitySummary summary = run({epoch_missing(g, g), epoch_missing(g, g), {g, g}}, c.spacing_s);
        ASSERT_EQ(summary.anomalies.size(), 1u);
        EXPECT_NEAR(summary.anomalies[0].duration_seconds, c.spacing_s, 1e-3);
        EXPECT_EQ(summary.anomalies[0].description,
                  std::string("4 satellites missing for ") + c.text + "s - possible jamming or obstruction");
    }
}

}  // namespace
}  // namespace vardoln
