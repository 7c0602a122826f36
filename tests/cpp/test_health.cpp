// The health grade from constructed figures: each criterion against its threshold, the letter
// by the grade rules, and a sentence that names what warns or fails.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "health/health.hpp"

namespace vardoln {
namespace {

PairSummary pair_summary(std::uint8_t pair, double rms_i, double rms_j, std::uint64_t observations, std::uint64_t slips) {
    PairSummary summary;
    summary.pair = pair;
    summary.observations = observations;
    summary.slips = slips;
    summary.rms_i_m = rms_i;
    summary.rms_j_m = rms_j;
    if (slips > 0) summary.obs_per_slip = static_cast<double>(observations) / static_cast<double>(slips);
    return summary;
}

struct Case {
    RinexObsData obs;
    QcResult qc;
    arrays::Completeness completeness;
    std::vector<arrays::CoverageRow> coverage;
    DetectorResult detector;

    Health run(bool with_navigation = true) const {
        HealthInputs inputs;
        inputs.obs = &obs;
        inputs.qc = &qc;
        inputs.detector = &detector;
        if (with_navigation) {
            inputs.completeness = &completeness;
            inputs.coverage = &coverage;
        }
        return assess_health(inputs);
    }
};

// GPS L1/L2 (pair 0) with healthy figures, complete GPS data, full coverage, no event.
Case healthy() {
    Case c;
    c.qc.summaries.push_back(pair_summary(0, 0.3, 0.35, 20000, 20));
    arrays::CompletenessRow row;
    row.system = "GPS";
    row.code = "C1C";
    row.predictable = true;
    row.expected = 1000;
    row.observed = 990;
    c.completeness.rows.push_back(row);
    c.coverage.push_back({"GPS", 1000, 1000, {}, true});
    c.coverage.push_back({"all", 1000, 1000, {}, true});
    return c;
}

const Criterion& find(const Health& health, Group group) {
    for (const Criterion& c : health.criteria) {
        if (c.group == group) return c;
    }
    static const Criterion none;
    ADD_FAILURE() << "no criterion of group " << group_name(group);
    return none;
}

TEST(Health, ThresholdsJudgeBothWays) {
    EXPECT_EQ(kCompletenessPercent.judge(90.0), Status::pass);
    EXPECT_EQ(kCompletenessPercent.judge(89.9), Status::warn);
    EXPECT_EQ(kCompletenessPercent.judge(69.9), Status::fail);
    EXPECT_EQ(kMultipathMetres.judge(0.5), Status::pass);
    EXPECT_EQ(kMultipathMetres.judge(1.0), Status::warn);
    EXPECT_EQ(kMultipathMetres.judge(1.01), Status::fail);
    EXPECT_EQ(kObservationsPerSlip.judge(INFINITY), Status::pass);
    EXPECT_EQ(kObservationsPerSlip.judge(NAN), Status::not_assessed);
}

TEST(Health, AHealthyDayIsGradeA) {
    const Health health = healthy().run();
    EXPECT_EQ(health.grade, 'A');
    EXPECT_EQ(health.sentence, "Grade A: Every assessed criterion passes.");
    EXPECT_NEAR(find(health, Group::completeness).figure, 99.0, 1e-9);
    EXPECT_DOUBLE_EQ(find(health, Group::slips).figure, 1000.0);
    EXPECT_EQ(find(health, Group::navigation).subject, "GPS");
    // No elevations: the C/N0 criterion says why it is missing and counts for nothing.
    EXPECT_EQ(find(health, Group::cn0).status, Status::not_assessed);
    EXPECT_EQ(find(health, Group::cn0).reason, "no navigation data: elevations unknown");
}

TEST(Health, WithoutNavigationDataTheRestStillGrades) {
    const Health health = healthy().run(false);
    EXPECT_EQ(health.grade, 'A');
    EXPECT_EQ(find(health, Group::completeness).status, Status::not_assessed);
    EXPECT_EQ(find(health, Group::navigation).status, Status::not_assessed);
}

TEST(Health, LettersFollowTheGradeRules) {
    Case warned = healthy();
    warned.qc.summaries[0].rms_j_m = 0.8;  // MP2 warns
    EXPECT_EQ(warned.run().grade, 'B');
    EXPECT_EQ(warned.run().sentence, "Grade B: Multipath (GPS L1/L2 0.80 m) warns.");

    Case one_group = healthy();
    one_group.completeness.rows[0].observed = 500;  // 50 %: fails
    EXPECT_EQ(one_group.run().grade, 'C');
    EXPECT_EQ(one_group.run().sentence, "Grade C: Completeness (GPS 50.0 %) fails.");

    Case two_groups = one_group;
    two_groups.qc.summaries[0] = pair_summary(0, 1.5, 0.3, 20000, 20);  // MP1 fails too
    EXPECT_EQ(two_groups.run().grade, 'D');
    EXPECT_EQ(two_groups.run().sentence, "Grade D: Completeness (GPS 50.0 %) and multipath (GPS L1/L2 1.50 m) fail.");

    Case interference = healthy();
    DetectorEvent event;
    event.type = EventType::interference;
    event.start = "2024-05-03T10:00:00.000Z";
    event.bands = {Band::L1};
    event.median_drop_db = 9.0;
    interference.detector.events.push_back(event);
    const Health judged = interference.run();
    EXPECT_EQ(judged.grade, 'D');
    EXPECT_EQ(judged.sentence, "Grade D: Interference detected: 1 event, the first at 2024-05-03T10:00:00.000Z in L1, "
                               "9 dB down.");

    Case jamming = interference;
    jamming.detector.events[0].type = EventType::jamming;
    EXPECT_EQ(jamming.run().grade, 'F');
}

TEST(Health, CoverageCountsTheConstellationsTheRecordsHold) {
    Case c = healthy();
    // Galileo observed but the navigation data hold no Galileo record: not a coverage fault.
    c.coverage.insert(c.coverage.begin() + 1, arrays::CoverageRow{"Galileo", 800, 0, {"E01"}, true});
    const Criterion& coverage = find(c.run(), Group::navigation);
    EXPECT_DOUBLE_EQ(coverage.figure, 100.0);
    EXPECT_EQ(coverage.subject, "GPS");
}

TEST(Health, NominalLevelsBySignalType) {
    EXPECT_EQ(nominal_cn0('G', "S1C"), 46.0);
    EXPECT_EQ(nominal_cn0('G', "S2W"), 41.0);
    EXPECT_EQ(nominal_cn0('G', "S2L"), 45.0);
    EXPECT_EQ(nominal_cn0('E', "S6C"), 49.0);
    EXPECT_EQ(nominal_cn0('I', "S5A"), std::nullopt);
}

TEST(Health, SignalLevelsReadThirtyToSixtyDegrees) {
    RinexObsData obs;
    obs.codes = {"S1C", "C1C"};
    obs.satellite_ids = {"G01", "E05"};
    // One epoch, two satellites: G01 at 45 degrees, E05 at 20 (outside the band).
    obs.epochs.push_back({EpochTime{2024, 5, 3, 0, 0, 0.0}, 0, 0, 2});
    obs.satellite_entries = {{0, 0, 2}, {1, 2, 1}};
    obs.values = {{47.0, {}, {}, 0}, {2.2e7, {}, {}, 1}, {40.0, {}, {}, 0}};
    const std::vector<SignalLevel> levels = signal_levels(obs, {45.0, 20.0}, "");
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0].system, 'G');
    EXPECT_EQ(levels[0].code, "S1C");
    EXPECT_EQ(levels[0].samples, 1u);
    EXPECT_DOUBLE_EQ(levels[0].mean_db, 47.0);
}

}  // namespace
}  // namespace vardoln
