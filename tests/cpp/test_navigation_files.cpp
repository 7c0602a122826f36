// Every real navigation file read with plausible counts.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "navigation/nav_data.hpp"
#include "rinex/ids.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

struct Counts {
    std::size_t gps, glonass, galileo, beidou;  // distinct satellites (QZSS within gps)
    std::size_t gps_records, glonass_records, galileo_records, beidou_records;
};

template <typename Map>
std::size_t records(const Map& map) {
    std::size_t count = 0;
    for (const auto& entry : map) count += entry.second.size();
    return count;
}

Counts counts_of(const NavigationData& nav) {
    return {nav.gps.size(),   nav.glonass.size(),  nav.galileo.size(),  nav.beidou.size(),
            records(nav.gps), records(nav.glonass), records(nav.galileo), records(nav.beidou)};
}

// Record counts agree with the data README (QZSS records counted in gps). Version 2 files are
// read by their file type: GLONASS .g files give 4-line state-vector records under R keys;
// every other type is read as GPS orbits, so a Galileo .e file lands under G keys and a QZSS
// .q file whose records start "J nn" has no readable satellite number. RINEX 4 files give
// their LNAV/INAV/FNAV/D1/D2/FDMA records.
struct FileCase {
    const char* name;
    Counts expected;
};

const FileCase kFiles[] = {
    {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx", {34, 23, 24, 29, 272, 510, 1602, 357}},
    {"nav/NYA100NOR_S_20241240000_01D_GN.rnx", {31, 0, 0, 0, 215, 0, 0, 0}},
    {"nav/NYA100NOR_S_20241240000_01D_EN.rnx", {0, 0, 23, 0, 0, 0, 711, 0}},
    {"nav/NYA100NOR_S_20241240000_01D_CN.rnx", {0, 0, 0, 18, 0, 0, 0, 194}},
    {"nav/ELKO00USA_R_20182100000_01D_MN.rnx", {32, 24, 20, 13, 225, 494, 1293, 106}},
    {"nav/CEDA00USA_R_20182100000_01D_MN.rnx", {0, 0, 10, 0, 0, 0, 35, 0}},
    {"nav/ceda2100.18e", {10, 0, 0, 0, 29, 0, 0, 0}},
    {"nav/ab422100.18n", {31, 0, 0, 0, 206, 0, 0, 0}},
    {"nav/p1462100.18g", {0, 16, 0, 0, 0, 154, 0, 0}},
    {"nav/cbw10010.21n", {32, 0, 0, 0, 187, 0, 0, 0}},
    {"nav/dlf10010.21g", {0, 7, 0, 0, 0, 7, 0, 0}},
    {"nav/amel0010.21g", {0, 6, 0, 0, 0, 6, 0, 0}},
    {"nav/AMEL00NLD_R_20210010000_01D_MN.rnx", {0, 2, 2, 2, 0, 2, 2, 2}},
    {"nav/CBW100NLD_R_20210010000_01D_MN.rnx", {2, 0, 2, 2, 2, 0, 2, 2}},
    {"nav/BRDC00GOP_R_20210010000_01D_MN.rnx", {0, 1, 1, 1, 0, 1, 1, 1}},
    {"nav/CORD00ARG_R_20240920000_01D_MN.rnx", {32, 26, 25, 29, 190, 438, 1576, 278}},
    {"nav/SEPT2650.21P", {27, 0, 14, 0, 68, 0, 253, 0}},
    {"nav/SEPT078M.21P", {17, 0, 11, 0, 32, 0, 210, 0}},
    {"nav/30340780.21q", {4, 0, 0, 0, 95, 0, 0, 0}},
    {"nav/16dBatt_no_interference_coldstart.nav", {9, 0, 12, 0, 9, 0, 29, 0}},
    {"nav/reach-m2-01_raw_202306291111.nav", {11, 10, 8, 8, 11, 10, 15, 8}},
    {"nav/arlm200a.15n", {16, 0, 0, 0, 28, 0, 0, 0}},
    {"nav/arlm2000.15n", {31, 0, 0, 0, 168, 0, 0, 0}},
    {"nav/brdc3050.12n", {32, 0, 0, 0, 423, 0, 0, 0}},
    {"nav/brdc3050.12g", {0, 24, 0, 0, 0, 1143, 0, 0}},
    {"nav/brdc3050.12q", {0, 0, 0, 0, 0, 0, 0, 0}},
    {"nav/KMS300DNK_R_20221591000_01H_MN.rnx", {22, 10, 18, 23, 31, 24, 108, 36}},
    {"nav/BRD400DLR_S_20230710000_01D_MN.rnx", {36, 26, 26, 44, 1054, 1240, 5840, 2621}},
    {"edge/SkydelRINEX_S_20238959_4800S_IN.rnx", {0, 0, 0, 0, 0, 0, 0, 0}},
    {"edge/SkydelRINEX_S_20238959_7200S_GN.rnx", {31, 0, 0, 0, 124, 0, 0, 0}},
    {"edge/SkydelRINEX_S_20238959_1800S_RN.rnx", {0, 24, 0, 0, 0, 240, 0, 0}},
    {"edge/SkydelRINEX_S_20238959_600S_EN.rnx", {0, 0, 26, 0, 0, 0, 676, 0}},
    {"edge/SkydelRINEX_S_20238959_3600S_CN.rnx", {0, 0, 0, 44, 0, 0, 0, 264}},
    {"edge/SkydelRINEX_S_20238959_3600S_JN.rnx", {4, 0, 0, 0, 24, 0, 0, 0}},
    {"edge/SkydelRINEX_S_20238959_120S_SN.rnx", {0, 0, 0, 0, 0, 0, 0, 0}},
    {"edge/INS_1581.19N", {4, 0, 0, 0, 5, 0, 0, 0}},
    {"edge/INS_1581.19P", {2, 1, 2, 3, 3, 1, 3, 3}},
    {"edge/BRDM00DLR_S_20230730000_01D_MN.rnx", {4, 2, 2, 2, 12, 7, 6, 6}},
    {"edge/07590920.05n", {28, 0, 0, 0, 162, 0, 0, 0}},
};

TEST(NavFiles, CountsPerFile) {
    // Every file must be there when the whole set is; a clone has the bundled part of it.
    const bool whole_set = test::data_root() != test::kBundledData;
    std::size_t found = 0;
    for (const FileCase& c : kFiles) {
        const auto text = test::real_bytes(c.name);
        if (!text) {
            if (whole_set) ADD_FAILURE() << "missing " << c.name;
            continue;
        }
        ++found;
        const auto result = parse_navigation(*text);
        ASSERT_TRUE(std::holds_alternative<NavigationData>(result)) << c.name;
        const Counts got = counts_of(std::get<NavigationData>(result));
        const Counts& want = c.expected;
        EXPECT_EQ(got.gps, want.gps) << c.name;
        EXPECT_EQ(got.glonass, want.glonass) << c.name;
        EXPECT_EQ(got.galileo, want.galileo) << c.name;
        EXPECT_EQ(got.beidou, want.beidou) << c.name;
        EXPECT_EQ(got.gps_records, want.gps_records) << c.name;
        EXPECT_EQ(got.glonass_records, want.glonass_records) << c.name;
        EXPECT_EQ(got.galileo_records, want.galileo_records) << c.name;
        EXPECT_EQ(got.beidou_records, want.beidou_records) << c.name;
    }
    EXPECT_GT(found, 0u);
}

// Every navigation file present reads, and every stored record sits under its own key.
TEST(NavFiles, EveryNavigationFileReads) {
    std::size_t files = 0;
    for (const std::string& name : test::real_files_in("nav")) {
        const auto text = test::real_bytes(name);
        ASSERT_TRUE(text) << name;
        const auto result = parse_navigation(*text);
        ASSERT_TRUE(std::holds_alternative<NavigationData>(result)) << name;
        const NavigationData& nav = std::get<NavigationData>(result);
        for (const auto& [key, list] : nav.gps) {
            EXPECT_FALSE(list.empty()) << key;
            for (const Ephemeris& eph : list) EXPECT_EQ(key, satellite_key(eph.system, eph.prn)) << name;
        }
        for (const auto& [key, list] : nav.glonass)
            for (const GlonassEphemeris& eph : list) EXPECT_EQ(key, satellite_key('R', eph.prn)) << name;
        for (const auto& [key, channel] : nav.glonass_freq) {
            EXPECT_EQ(nav.glonass.count(key), 1u) << key;
            EXPECT_GE(channel, -7) << key;
            EXPECT_LE(channel, 13) << key;
        }
        ++files;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace vardoln
