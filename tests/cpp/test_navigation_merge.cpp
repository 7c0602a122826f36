// Several navigation files merged as one: every satellite is positioned exactly as by the file
// that holds it, and a file given twice changes nothing.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "navigation/nav_merge.hpp"
#include "navigation/orbits.hpp"
#include "test_navigation_support.hpp"

namespace vardoln {
namespace {

bool same_bits(const std::optional<Ecef>& a, const std::optional<Ecef>& b) {
    if (a.has_value() != b.has_value()) return false;
    for (std::size_t axis = 0; a && axis < 3; ++axis) {
        if (std::bit_cast<std::uint64_t>((*a)[axis]) != std::bit_cast<std::uint64_t>((*b)[axis])) return false;
    }
    return true;
}

// The satellite keys of every ephemeris map.
std::vector<std::string> keys_of(const NavigationData& nav) {
    std::vector<std::string> keys;
    for (const auto& [key, records] : nav.gps) keys.push_back(key);
    for (const auto& [key, records] : nav.galileo) keys.push_back(key);
    for (const auto& [key, records] : nav.beidou) keys.push_back(key);
    for (const auto& [key, records] : nav.glonass) keys.push_back(key);
    return keys;
}

void expect_same_positions(const NavigationData& single, const NavigationData& merged, EpochTime day) {
    for (const std::string& key : keys_of(single)) {
        for (std::uint32_t quarter = 0; quarter < 96; ++quarter) {
            day.hour = quarter / 4;
            day.minute = quarter % 4 * 15;
            ASSERT_TRUE(same_bits(satellite_position(single, key, day), satellite_position(merged, key, day)))
                << key << " at " << day.hour << ":" << day.minute;
        }
    }
}

TEST(NavigationMerge, PerSystemFilesPositionAsTheirOwnFile) {
    const char* names[] = {"nav/NYA100NOR_S_20241240000_01D_GN.rnx", "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
                           "nav/NYA100NOR_S_20241240000_01D_CN.rnx"};
    std::vector<NavigationData> files;
    for (const char* name : names) {
        auto nav = test::shared_nav(name);
        if (!nav) GTEST_SKIP() << name << " not present";
        files.push_back(std::move(*nav));
    }
    const std::vector<NavigationData> singles = files;
    const NavigationData merged = merge_navigation(std::move(files));
    std::size_t keys = 0;
    for (const NavigationData& single : singles) {
        keys += keys_of(single).size();
        expect_same_positions(single, merged, EpochTime{2024, 5, 3, 0, 0, 0.0});
    }
    EXPECT_EQ(keys_of(merged).size(), keys);  // the files hold disjoint constellations
}

TEST(NavigationMerge, AFileGivenTwicePositionsAsOnce) {
    auto nav = test::shared_nav("nav/ESBC00DNK_R_20201770000_01D_MN.rnx");
    if (!nav) GTEST_SKIP() << "ESBC navigation file not present";
    NavigationData twice = merge_navigation({*nav, *nav});
    EXPECT_EQ(twice.gps.at("G01").size(), 2 * nav->gps.at("G01").size());
    EXPECT_EQ(twice.glonass_freq, nav->glonass_freq);
    expect_same_positions(*nav, twice, EpochTime{2020, 6, 25, 0, 0, 0.0});
}

TEST(NavigationMerge, FirstFileKeepsItsGlonassChannelAndNoFilesGiveNothing) {
    NavigationData first;
    NavigationData second;
    first.glonass_freq["R01"] = 1;
    second.glonass_freq["R01"] = -4;
    second.glonass_freq["R02"] = -4;
    const NavigationData merged = merge_navigation({first, second});
    EXPECT_EQ(merged.glonass_freq.at("R01"), 1);
    EXPECT_EQ(merged.glonass_freq.at("R02"), -4);
    EXPECT_FALSE(merge_navigation({}).has_data());
}

}  // namespace
}  // namespace vardoln
