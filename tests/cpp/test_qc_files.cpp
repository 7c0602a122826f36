// Quality control of real day files: multipath of geodetic stations lies between 0.1 and
// 1.0 m, and grows toward the horizon.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "test_qc_support.hpp"

namespace vardoln {
namespace {

using namespace qc_testing;

struct Missing {
    char system;
    const char* pair;
    MissingReason reason;
};

struct DayFile {
    const char* obs;
    std::vector<const char*> nav;
    const char* gps_l1_l2_codes;  // what the C/A and L2 rows use
    std::vector<Missing> missing;
};

const DayFile kDayFiles[] = {
    // QZSS reaches Denmark below 9 degrees only.
    {"crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx",
     {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx"},
     "C1C L1C C2W L2W",
     {{'J', "L1/L2", MissingReason::below_mask}}},
    {"crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx",
     {"nav/NYA100NOR_S_20241240000_01D_GN.rnx", "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
      "nav/NYA100NOR_S_20241240000_01D_CN.rnx"},
     "C1C L1C C2W L2W",
     {}},
    // The header lists C5 and L5, but no satellite of 2015 here has them.
    {"crinex/york0440.15d", {}, "C1C L1C C2P L2C", {{'G', "L1/L5", MissingReason::no_signal}}},
};

class QcDayFile : public ::testing::TestWithParam<DayFile> {};

TEST_P(QcDayFile, GpsMultipathIsThatOfAGeodeticStation) {
    const DayFile& file = GetParam();
    const std::optional<RinexObsData> obs = shared_obs(file.obs);
    const std::optional<NavigationData> nav = file.nav.empty() ? std::nullopt : shared_nav(file.nav);
    if (!obs || (!file.nav.empty() && !nav)) GTEST_SKIP() << "shared data not available";

    const QcSettings settings;
    const QcResult result = run_qc(*obs, nav ? &*nav : nullptr, settings);
    EXPECT_EQ(result.epochs, 2880u);
    EXPECT_EQ(result.interval_s, 30.0);
    EXPECT_EQ(result.has_elevations, nav.has_value());

    const std::uint8_t l1_l2 = pair_index('G', "L1/L2");
    const PairSummary* gps = find_summary(result, l1_l2);
    ASSERT_NE(gps, nullptr);
    EXPECT_GE(gps->satellites, 25u);
    EXPECT_EQ(gps->codes_used.front(), file.gps_l1_l2_codes);
    EXPECT_GT(*gps->rms_i_m, 0.1);
    EXPECT_LT(*gps->rms_i_m, 1.0);
    EXPECT_GT(*gps->rms_j_m, 0.1);
    EXPECT_LT(*gps->rms_j_m, 1.0);

    ASSERT_EQ(result.missing.size(), file.missing.size());
    for (std::size_t i = 0; i < file.missing.size(); ++i) {
        EXPECT_EQ(result.missing[i].pair, pair_index(file.missing[i].system, file.missing[i].pair));
        EXPECT_EQ(result.missing[i].reason, file.missing[i].reason);
    }

    // Three views of one pass agree: rows, summaries, and the per-sample arrays.
    std::uint64_t row_samples = 0;
    for (const SatellitePairQc& row : result.rows) {
        row_samples += row.samples;
        EXPECT_LE(row.samples, row.observations);
    }
    std::uint64_t summary_samples = 0;
    for (const PairSummary& summary : result.summaries) summary_samples += summary.samples;
    EXPECT_EQ(result.samples.size(), row_samples);
    EXPECT_EQ(summary_samples, row_samples);

    if (!nav) {
        EXPECT_TRUE(gps->by_elevation.empty());
        return;
    }
    std::uint64_t binned = 0;
    for (const ElevationBin& bin : gps->by_elevation) {
        EXPECT_GE(bin.lower_deg, settings.min_elevation_deg);
        binned += bin.samples;
    }
    EXPECT_GT(binned, gps->samples * 9 / 10);  // nearly every GPS satellite has an ephemeris
    const auto low = rms_in_elevation_range(result, l1_l2, settings.min_elevation_deg,
                                            settings.min_elevation_deg + 10.0);
    const auto high = rms_in_elevation_range(result, l1_l2, 45.0, 90.01);
    ASSERT_TRUE(low && high);
    EXPECT_GT(low->rms_i_m, high->rms_i_m);
    EXPECT_GT(low->rms_j_m, high->rms_j_m);
    // The bins are the same samples, summed while the pass ran.
    const ElevationBin& lowest = gps->by_elevation.front();
    const auto same = rms_in_elevation_range(result, l1_l2, lowest.lower_deg, lowest.lower_deg + 5.0);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->samples, lowest.samples);
    EXPECT_NEAR(same->rms_i_m, lowest.rms_i_m, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(SharedData, QcDayFile, ::testing::ValuesIn(kDayFiles),
                         [](const ::testing::TestParamInfo<DayFile>& param_info) {
                             std::string name = std::filesystem::path(param_info.param.obs).stem().string();
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace vardoln
