// Multipath, arcs and phase slips on synthetic recordings whose answers are known by
// construction: a code multipath sine of exact RMS over whole periods, clean carriers.
#include <gtest/gtest.h>

#include <cmath>

#include "test_qc_support.hpp"

namespace vardoln {
namespace {

using namespace qc_testing;

const std::uint8_t kGpsL1L2 = pair_index('G', "L1/L2");

QcResult qc_of(const SyntheticRecording& recording) { return run_qc(synthetic(recording), nullptr, QcSettings{}); }

TEST(QcMultipath, KnownCodeMultipathComesBackOnItsOwnCode) {
    SyntheticRecording recording;
    recording.satellites = {gps_satellite("G03"), gps_satellite("G11", 0.5), gps_satellite("G20", 0.0)};
    recording.satellites[1].first_epoch = 100;  // whole periods of the sine in every arc
    const QcResult result = qc_of(recording);

    EXPECT_EQ(result.interval_s, 30.0);
    EXPECT_FALSE(result.has_elevations);
    ASSERT_EQ(result.rows.size(), 3u);
    const struct {
        const char* satellite;
        double mp1_rms_m;
    } expected[] = {{"G03", 0.3}, {"G11", 0.5}, {"G20", 0.0}};
    for (const auto& want : expected) {
        SCOPED_TRACE(want.satellite);
        const SatellitePairQc* row = find_row(result, want.satellite, kGpsL1L2);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->codes.text(), "C1C L1C C2W L2W");
        EXPECT_EQ(row->observations, 600u);
        EXPECT_EQ(row->samples, 600u);
        EXPECT_EQ(row->arcs, 1u);
        EXPECT_EQ(row->slips + row->lli_slips, 0u);
        EXPECT_FALSE(row->obs_per_slip.has_value());
        // Within 2 % (1 mm for the clean codes: the file's millimetre and milli-cycle rounding).
        EXPECT_NEAR(*row->rms_i_m, want.mp1_rms_m, std::max(0.02 * want.mp1_rms_m, 0.001));
        EXPECT_LT(*row->rms_j_m, 0.002);
    }
    const PairSummary* summary = find_summary(result, kGpsL1L2);
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->samples, 1800u);
    EXPECT_NEAR(*summary->rms_i_m, std::sqrt((0.09 + 0.25 + 0.0) / 3.0), 0.002);
    EXPECT_TRUE(summary->by_elevation.empty());
    EXPECT_EQ(result.samples.size(), 1800u);
    EXPECT_TRUE(std::isnan(result.samples.elevation_deg.front()));
}

TEST(QcMultipath, FiveCycleJumpOnL1IsOneSlipThatSplitsTheArc) {
    SyntheticRecording clean;
    clean.satellites = {gps_satellite("G07")};
    SyntheticRecording slipped = clean;
    slipped.satellites[0].slip_epoch = 300;
    const QcResult before = qc_of(clean);
    const QcResult after = qc_of(slipped);

    const SatellitePairQc* row = find_row(after, "G07", kGpsL1L2);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->slips, 1u);
    EXPECT_EQ(row->lli_slips, 0u);
    EXPECT_EQ(row->arcs, 2u);
    EXPECT_EQ(row->samples, 600u);
    EXPECT_EQ(*row->obs_per_slip, 600.0);
    ASSERT_EQ(after.slip_events.size(), 1u);
    const PhaseSlipEvent& slip = after.slip_events[0];
    EXPECT_EQ(slip.epoch, 300u);  // one epoch per record line here, so the index is k
    EXPECT_TRUE(slip.geometry_free);  // 5 L1 cycles: 0.95 m
    EXPECT_TRUE(slip.wide_lane);      // 5 wide-lane cycles
    EXPECT_FALSE(slip.lost_lock);
    // Each arc removes its own mean, so the jump leaves the multipath untouched.
    const SatellitePairQc* reference = find_row(before, "G07", kGpsL1L2);
    EXPECT_NEAR(*row->rms_i_m, *reference->rms_i_m, 1e-6);
    EXPECT_NEAR(*row->rms_j_m, *reference->rms_j_m, 1e-6);

    // Without the cut the jump would have entered the multipath: 5 L1 wavelengths times the
    // MP1 phase coefficient of about 4.09 (3.9 m), far from 0.3 m.
    EXPECT_LT(*row->rms_i_m, 0.31);
}

TEST(QcMultipath, OnlyBitZeroOfTheLossOfLockIndicatorBreaksAnArc) {
    SyntheticRecording recording;
    recording.satellites = {gps_satellite("G01"), gps_satellite("G02")};
    recording.satellites[0].phase_lli = 4;  // bit 2 on every phase: not a loss of lock
    recording.satellites[1].phase_lli = 4;
    recording.satellites[1].lost_lock_epoch = 200;
    const QcResult result = qc_of(recording);

    const SatellitePairQc* steady = find_row(result, "G01", kGpsL1L2);
    const SatellitePairQc* flagged = find_row(result, "G02", kGpsL1L2);
    ASSERT_TRUE(steady && flagged);
    EXPECT_EQ(steady->arcs, 1u);
    EXPECT_EQ(steady->lli_slips, 0u);
    EXPECT_EQ(flagged->arcs, 2u);
    EXPECT_EQ(flagged->lli_slips, 1u);
    EXPECT_EQ(flagged->slips, 0u);
    ASSERT_EQ(result.slip_events.size(), 1u);
    EXPECT_TRUE(result.slip_events[0].lost_lock);
    EXPECT_EQ(result.slip_events[0].epoch, 200u);
}

TEST(QcMultipath, GapsLongerThanFiveMinutesAndPowerFailuresEndArcs) {
    // One satellite in three windows: 400 epochs, a 270 s gap (kept), 200 epochs, a 330 s gap
    // (ends the arc), then 5 epochs, too short for a mean.
    SyntheticRecording recording;
    SyntheticSatellite first = gps_satellite("G09");
    first.epochs = 400;
    SyntheticSatellite second = first;
    second.first_epoch = 409;
    second.epochs = 200;
    SyntheticSatellite third = first;
    third.first_epoch = 620;
    third.epochs = 5;
    recording.satellites = {first, second, third};
    const QcResult result = qc_of(recording);

    const SatellitePairQc* row = find_row(result, "G09", kGpsL1L2);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(result.rules.gap_limit_s, 300.0);
    EXPECT_EQ(row->observations, 605u);
    EXPECT_EQ(row->arcs, 1u);
    EXPECT_EQ(row->short_arcs, 1u);
    EXPECT_EQ(row->samples, 600u);
    EXPECT_EQ(row->slips + row->lli_slips, 0u);
    EXPECT_NEAR(*row->rms_i_m, 0.3, 0.006);

    // A power failure (epoch flag 1) between two of a satellite's epochs ends its arc, even
    // when the flagged epoch holds other satellites only.
    SyntheticRecording power;
    SyntheticSatellite before = gps_satellite("G09");
    before.epochs = 300;
    SyntheticSatellite after = before;
    after.first_epoch = 301;
    SyntheticSatellite witness = gps_satellite("G10");
    witness.first_epoch = 300;
    witness.epochs = 1;
    power.satellites = {before, after, witness};
    power.power_failure_epoch = 300;
    const SatellitePairQc* cut = find_row(qc_of(power), "G09", kGpsL1L2);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->arcs, 2u);
    EXPECT_EQ(cut->slips + cut->lli_slips, 0u);
}

TEST(QcMultipath, PairsTheFileCannotGiveAreExplainedNotZeroed) {
    SyntheticRecording recording;
    SyntheticSatellite l5_only{"G01", {{"C5Q", "L5Q", 1176.45e6, 0.0}}, 1};
    SyntheticSatellite e1_only{"E11", {{"C1C", "L1C", 1575.42e6, 0.0}}, 2};
    recording.satellites = {gps_satellite("G02"), l5_only, e1_only};
    const QcResult result = qc_of(recording);

    EXPECT_EQ(result.rows.size(), 1u);  // G02 L1/L2 only
    ASSERT_EQ(result.summaries.size(), 1u);
    const struct {
        std::uint8_t pair;
        MissingReason reason;
        const char* text;
    } expected[] = {
        {pair_index('G', "L1/L5"), MissingReason::never_together,
         "no satellite has L1 and L5 codes and phases in one epoch"},
        {pair_index('E', "E1/E5a"), MissingReason::no_signal, "no E5a code with a phase of the same tracking mode"},
        {pair_index('E', "E1/E5b"), MissingReason::no_signal, "no E5b code with a phase of the same tracking mode"},
    };
    ASSERT_EQ(result.missing.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(result.missing[i].pair, expected[i].pair);
        EXPECT_EQ(result.missing[i].satellite, "");
        EXPECT_EQ(result.missing[i].reason, expected[i].reason);
        EXPECT_EQ(result.missing[i].text, expected[i].text);
        EXPECT_EQ(find_summary(result, expected[i].pair), nullptr);
    }
}

TEST(QcMultipath, Rinex2CodesPairC1WithL1AndP2WithL2) {
    SyntheticRecording recording;
    recording.version = 2.11;
    SyntheticSatellite satellite{"G05", {{"C1", "L1", 1575.42e6, 0.3}, {"P2", "L2", 1227.60e6, 0.0}}, 5};
    satellite.phase_lli = 4;
    recording.satellites = {satellite};
    const QcResult result = qc_of(recording);

    const SatellitePairQc* row = find_row(result, "G05", kGpsL1L2);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->codes.text(), "C1C L1C C2P L2C");  // the reader's names for C1 L1 P2 L2
    EXPECT_EQ(row->arcs, 1u);
    EXPECT_NEAR(*row->rms_i_m, 0.3, 0.006);
}

TEST(QcMultipath, ArbitraryRecordsGiveConsistentResults) {
    // Samples, rows and summaries are three views of one pass and must agree, whatever the
    // record: mixed windows, slips and loss-of-lock flags over several satellites.
    SyntheticRecording recording;
    for (int n = 1; n <= 6; ++n) {
        SyntheticSatellite sat = gps_satellite("G0" + std::to_string(n), 0.1 * n);
        sat.first_epoch = static_cast<std::size_t>(37 * n);
        sat.epochs = static_cast<std::size_t>(90 * n);
        if (n % 2 == 0) sat.slip_epoch = sat.first_epoch + 45;
        if (n % 3 == 0) sat.lost_lock_epoch = sat.first_epoch + 20;
        recording.satellites.push_back(sat);
    }
    const QcResult result = qc_of(recording);
    std::uint64_t samples = 0;
    for (const SatellitePairQc& row : result.rows) samples += row.samples;
    const PairSummary* summary = find_summary(result, kGpsL1L2);
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->samples, samples);
    EXPECT_EQ(result.samples.size(), samples);
    EXPECT_EQ(summary->slips, 3u);
    EXPECT_EQ(summary->lli_slips, 2u);
    double squares = 0.0;
    for (const float mp : result.samples.mp_i_m) squares += double{mp} * mp;
    EXPECT_NEAR(std::sqrt(squares / static_cast<double>(samples)), *summary->rms_i_m, 1e-6);
}

}  // namespace
}  // namespace vardoln
