// Carrier frequencies, tracking-mode choice, GLONASS channels and the BeiDou band rule,
// checked through the frequencies themselves and through recordings made at them.
#include <gtest/gtest.h>

#include "test_qc_support.hpp"

namespace vardoln {
namespace {

using namespace qc_testing;

TEST(QcSignals, GlonassChannelsSetTheWavelengths) {
    for (std::int32_t k = kGlonassLowestChannel; k <= 6; ++k) {
        SCOPED_TRACE(k);
        const double g1 = 1602.0e6 + k * 562.5e3;
        const double g2 = 1246.0e6 + k * 437.5e3;
        EXPECT_DOUBLE_EQ(*carrier_frequency_hz('R', '1', 3.04, k), g1);
        EXPECT_DOUBLE_EQ(*carrier_frequency_hz('R', '2', 2.11, k), g2);
        // The ratio, and so alpha, is 9/7 on every channel; the wavelengths are not.
        EXPECT_DOUBLE_EQ(g1 / g2, 9.0 / 7.0);
        EXPECT_DOUBLE_EQ(kSpeedOfLight / *carrier_frequency_hz('R', '1', 3.04, k), kSpeedOfLight / g1);
    }
    EXPECT_FALSE(carrier_frequency_hz('R', '1', 3.04, std::nullopt));
    EXPECT_FALSE(carrier_frequency_hz('R', '1', 3.04, -8));
    EXPECT_FALSE(carrier_frequency_hz('R', '2', 3.04, 14));
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('R', '3', 3.04, std::nullopt), 1202.025e6);  // CDMA: no channel
}

// R05 on channel +5, multipath 0.3 m on G1 C/A.
SyntheticRecording glonass_recording(std::string slots) {
    SyntheticRecording recording;
    recording.glonass_slots = std::move(slots);
    recording.satellites = {{"R05",
                             {{"C1C", "L1C", 1602.0e6 + 5 * 562.5e3, 0.3}, {"C2P", "L2P", 1246.0e6 + 5 * 437.5e3, 0.0}},
                             5}};
    return recording;
}

TEST(QcSignals, GlonassChannelComesFromTheHeaderOrElseTheNavigationRecords) {
    const std::uint8_t pair = pair_index('R', "G1/G2");
    QcSettings keep_all;
    keep_all.min_elevation_deg = -91.0;  // the made-up ephemeris below gives no real elevation
    NavigationData nav;
    nav.glonass["R05"].push_back(GlonassEphemeris{});
    nav.glonass_freq["R05"] = 5;
    NavigationData channel_zero_nav;
    channel_zero_nav.glonass["R05"].push_back(GlonassEphemeris{});  // no non-zero channel kept: channel 0

    const struct {
        const char* name;
        std::string slots;
        const NavigationData* nav;
        std::optional<double> mp1_rms_m;  // nothing: no rows
    } cases[] = {
        {"header", "  1 R05  5", nullptr, 0.3},
        {"header before navigation", "  1 R05  5", &channel_zero_nav, 0.3},
        {"navigation", "", &nav, 0.3},
        {"neither", "", nullptr, std::nullopt},
        {"channel out of range", "  1 R05 15", nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RinexObsData obs = synthetic(glonass_recording(c.slots));
        const QcResult result = run_qc(obs, c.nav, keep_all);
        const SatellitePairQc* row = find_row(result, "R05", pair);
        if (!c.mp1_rms_m) {
            EXPECT_EQ(row, nullptr);
            ASSERT_EQ(result.missing.size(), 1u);
            EXPECT_EQ(result.missing[0].reason, MissingReason::no_glonass_channel);
            continue;
        }
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->codes.text(), "C1C L1C C2P L2P");
        EXPECT_NEAR(*row->rms_i_m, *c.mp1_rms_m, 0.006);
    }

    // The wavelengths matter: read as channel 0, the carriers of channel +5 are 0.18 % off, and
    // the Melbourne-Wubbena combination drifts by some 25 wide-lane cycles an epoch.
    const QcResult wrong = run_qc(synthetic(glonass_recording("  1 R05  0")), nullptr, keep_all);
    const SatellitePairQc* row = find_row(wrong, "R05", pair);
    ASSERT_NE(row, nullptr);
    EXPECT_GT(row->slips, 500u);
    EXPECT_TRUE(!row->rms_i_m || *row->rms_i_m > 1.0);

    EXPECT_EQ(glonass_channel(synthetic(glonass_recording("")), &channel_zero_nav, "R05"), 0);
    EXPECT_EQ(glonass_channel(synthetic(glonass_recording("")), &channel_zero_nav, "R06"), std::nullopt);
}

TEST(QcSignals, BeidouB1iMovesFromBandOneToBandTwoIn303) {
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('C', '1', 3.02, std::nullopt), 1561.098e6);  // B1I
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('C', '1', 3.03, std::nullopt), 1575.42e6);   // B1C
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('C', '1', 3.05, std::nullopt), 1575.42e6);
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('C', '2', 3.04, std::nullopt), 1561.098e6);
    EXPECT_DOUBLE_EQ(*carrier_frequency_hz('C', '2', 3.01, std::nullopt), 1561.098e6);

    // The same B1I, B2I and B3I signals written under each version's band numbers.
    const struct {
        double version;
        const char* b1i_code;
        const char* b1i_phase;
        const char* b2i_codes;
    } cases[] = {{3.02, "C1I", "L1I", "C1I L1I C7I L7I"}, {3.04, "C2I", "L2I", "C2I L2I C7I L7I"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        SyntheticRecording recording;
        recording.version = c.version;
        recording.satellites = {{"C12",
                                 {{c.b1i_code, c.b1i_phase, 1561.098e6, 0.3},
                                  {"C7I", "L7I", 1207.14e6, 0.0},
                                  {"C6I", "L6I", 1268.52e6, 0.0}},
                                 12}};
        const QcResult result = run_qc(synthetic(recording), nullptr, QcSettings{});
        const SatellitePairQc* b2i = find_row(result, "C12", pair_index('C', "B1I/B2I"));
        const SatellitePairQc* b3i = find_row(result, "C12", pair_index('C', "B1I/B3I"));
        ASSERT_TRUE(b2i && b3i);
        EXPECT_EQ(b2i->codes.text(), c.b2i_codes);
        EXPECT_NEAR(*b2i->rms_i_m, 0.3, 0.006);
        EXPECT_NEAR(*b3i->rms_i_m, 0.3, 0.006);
        EXPECT_LT(*b3i->rms_j_m, 0.002);
    }

    // In a 3.04 file band 1 is B1C: no B1I pair, and the record says so.
    SyntheticRecording b1c;
    b1c.satellites = {{"C30", {{"C1P", "L1P", 1575.42e6, 0.0}, {"C6I", "L6I", 1268.52e6, 0.0}}, 30}};
    const QcResult result = run_qc(synthetic(b1c), nullptr, QcSettings{});
    EXPECT_TRUE(result.rows.empty());
    ASSERT_EQ(result.missing.size(), 2u);
    EXPECT_EQ(result.missing[0].text, "no B1I code with a phase of the same tracking mode");
}

TEST(QcSignals, TrackingModesAreTriedInTheFixedOrder) {
    const auto rules = signal_rules();
    const auto first_candidate = [&](std::size_t rule, double version) {
        const auto candidates = signal_candidates(rules[rule], version);
        return candidates.empty() ? std::string() : candidates.front().code + " " + candidates.front().phase;
    };
    const struct {
        char system;
        const char* name;
        const char* rinex3;
        const char* rinex2;
    } cases[] = {
        {'G', "L1", "C1C L1C", "C1C L1C"}, {'G', "L2", "C2W L2W", "C2P L2C"}, {'G', "L5", "C5Q L5Q", "C5Q L5Q"},
        {'R', "G1", "C1C L1C", "C1C L1C"}, {'R', "G2", "C2P L2P", "C2P L2C"}, {'E', "E1", "C1C L1C", "C1C L1C"},
        {'E', "E5a", "C5Q L5Q", "C5Q L5Q"}, {'E', "E5b", "C7Q L7Q", "C7 L7"},  {'C', "B1I", "C2I L2I", "C2C L2C"},
        {'C', "B3I", "C6I L6I", "C6 L6"},  {'C', "B2I", "C7I L7I", "C7 L7"},  {'J', "L1", "C1C L1C", "C1C L1C"},
        {'J', "L2", "C2L L2L", "C2C L2C"},
    };
    ASSERT_EQ(rules.size(), std::size(cases));
    for (std::size_t r = 0; r < rules.size(); ++r) {
        SCOPED_TRACE(cases[r].name);
        EXPECT_EQ(rules[r].system, cases[r].system);
        EXPECT_EQ(rules[r].name, cases[r].name);
        EXPECT_EQ(first_candidate(r, 3.05), cases[r].rinex3);
        EXPECT_EQ(first_candidate(r, 2.11), cases[r].rinex2);
    }
    // GPS L2 falls back from W to L to X; the record's choice follows the satellite's data.
    SyntheticRecording recording;
    recording.satellites = {{"G04", {{"C1C", "L1C", 1575.42e6, 0.0}, {"C2X", "L2X", 1227.60e6, 0.0},
                                     {"C2L", "L2L", 1227.60e6, 0.0}}, 4}};
    const QcResult result = run_qc(synthetic(recording), nullptr, QcSettings{});
    ASSERT_EQ(result.rows.size(), 1u);
    EXPECT_EQ(result.rows[0].codes.text(), "C1C L1C C2L L2L");
}

}  // namespace
}  // namespace vardoln
