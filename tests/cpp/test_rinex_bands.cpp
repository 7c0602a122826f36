// The band table: RINEX band digits to carriers and carriers to the four bands.
#include <gtest/gtest.h>

#include <optional>
#include <string_view>

#include "rinex/bands.hpp"

namespace vardoln {
namespace {

struct BandCase {
    char system;
    std::string_view code;
    double version;
    std::optional<Band> band;
};

TEST(Bands, CodesFallInTheirFrequencyBands) {
    const BandCase cases[] = {
        {'G', "S1C", 3.04, Band::L1}, {'G', "S2W", 3.04, Band::L2}, {'G', "S5Q", 3.04, Band::L5},
        {'R', "S1C", 3.04, Band::L1}, {'R', "S2P", 2.11, Band::L2}, {'R', "S3Q", 3.04, Band::L5},
        {'R', "S4A", 3.05, Band::L1}, {'R', "S6B", 3.05, Band::L2},  // GLONASS CDMA G1a, G2a
        {'E', "S1X", 3.04, Band::L1}, {'E', "S5Q", 3.04, Band::L5}, {'E', "S7Q", 3.04, Band::L5},
        {'E', "S8Q", 3.04, Band::L5}, {'E', "S6C", 3.04, Band::E6},
        {'C', "S2I", 3.04, Band::L1}, {'C', "S6I", 3.04, Band::E6}, {'C', "S7I", 3.04, Band::L5},
        {'C', "S5P", 3.04, Band::L5},
        {'C', "S1I", 3.02, Band::L1}, {'C', "S1P", 3.04, Band::L1},  // B1I before 3.03, B1C after
        {'J', "S1C", 3.04, Band::L1}, {'J', "S2L", 3.04, Band::L2}, {'J', "S6L", 3.04, Band::E6},
        {'S', "S1C", 3.04, Band::L1}, {'S', "S5I", 3.04, Band::L5}, {'I', "S5A", 3.04, Band::L5},
        {'I', "S9A", 3.04, std::nullopt},  // NavIC S band lies outside all four
        {'G', "S6X", 3.04, std::nullopt},  // GPS sends nothing on band 6
        {'G', "S", 3.04, std::nullopt},    {'Q', "S1C", 3.04, std::nullopt},
    };
    for (const BandCase& c : cases) {
        EXPECT_EQ(band_of_code(c.system, c.code, c.version), c.band) << c.system << ' ' << c.code << ' ' << c.version;
    }
}

TEST(Bands, BeiDouBandOneMovesWithTheVersion) {
    EXPECT_DOUBLE_EQ(*nominal_carrier_mhz('C', '1', 3.02), 1561.098);
    EXPECT_DOUBLE_EQ(*nominal_carrier_mhz('C', '1', 3.03), 1575.42);
    EXPECT_DOUBLE_EQ(*nominal_carrier_mhz('C', '2', 3.02), 1561.098);
}

TEST(Bands, EdgesBelongToTheHigherBand) {
    EXPECT_EQ(band_of_carrier(1164.0), Band::L5);
    EXPECT_EQ(band_of_carrier(1215.0), Band::L2);
    EXPECT_EQ(band_of_carrier(1256.0), Band::E6);
    EXPECT_EQ(band_of_carrier(1300.0), std::nullopt);
    EXPECT_EQ(band_of_carrier(1559.0), Band::L1);
    EXPECT_EQ(band_of_carrier(1610.0), std::nullopt);
}

}  // namespace
}  // namespace vardoln
