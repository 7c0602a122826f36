// Constellation letters, satellite identifiers, epochs, Julian values and timestamp texts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>

#include "rinex/epoch_time.hpp"
#include "rinex/ids.hpp"

namespace vardoln {
namespace {

TEST(SatelliteIds, Rinex2FieldsOfThreeCharactersStayVerbatim) {
    struct Case {
        std::string_view trimmed_field;
        std::string_view expected;
    };
    const Case cases[] = {
        {"7", "G07"}, {"G07", "G07"}, {"G 1", "G 1"}, {"x1", "G00"},
        {"12", "G12"}, {"R24", "R24"}, {"+5", "G05"}, {"123", "123"},
    };
    for (const Case& c : cases) EXPECT_EQ(rinex2_satellite_id(c.trimmed_field), c.expected) << c.trimmed_field;
}

TEST(SatelliteIds, NavigationKeyPadsBlankWrittenNumbersWithZero) {
    struct Case {
        std::string_view identifier;
        std::string_view key;
    };
    const Case cases[] = {
        // A letter, blanks and one or two digits: the letter and two digits.
        {"G 2", "G02"}, {"G  7", "G07"}, {"R 5", "R05"}, {"E 1", "E01"}, {"C 9", "C09"}, {"J 3", "J03"},
        {"G 0", "G00"}, {"G 12", "G12"}, {"G 02", "G02"}, {"S    4", "S04"},
        // Already padded, or no blank-written number: unchanged.
        {"G02", "G02"}, {"R24", "R24"}, {"C123", "C123"}, {"G 123", "G 123"}, {"G1 2", "G1 2"},
        {"G 2 ", "G 2 "}, {"G  ", "G  "}, {"G 2x", "G 2x"}, {"G +5", "G +5"}, {"g 2", "g 2"},
        {"1 2", "1 2"}, {" G2", " G2"}, {"G\t2", "G\t2"}, {"G", "G"}, {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(navigation_key(c.identifier), c.key) << '"' << c.identifier << '"';
}

TEST(SatelliteIds, SevenUpperCaseLettersAreRecognised) {
    for (char letter : std::string_view("GREJCIS")) EXPECT_TRUE(system_from_letter(letter).has_value()) << letter;
    for (char letter : std::string_view("grejcisXQ ")) EXPECT_FALSE(system_from_letter(letter).has_value()) << letter;
    EXPECT_EQ(system_display_name(GnssSystem::Beidou), "BeiDou");
    EXPECT_EQ(system_display_name(GnssSystem::Glonass), "GLONASS");
    EXPECT_EQ(satellite_letter(""), 'G');
    EXPECT_EQ(satellite_letter("E11"), 'E');
    EXPECT_EQ(satellite_key('R', 3), "R03");
    EXPECT_EQ(satellite_key('C', 123), "C123");
}

TEST(EpochTime, TwoDigitYearsPivotAtEighty) {
    EXPECT_EQ(expand_two_digit_year(79), 2079);
    EXPECT_EQ(expand_two_digit_year(80), 1980);
    EXPECT_EQ(expand_two_digit_year(99), 1999);
    EXPECT_EQ(expand_two_digit_year(0), 2000);
    EXPECT_EQ(expand_two_digit_year(21), 2021);
}

TEST(EpochTime, JulianValueIsHalfADayAfterTheAstronomicalDate) {
    // J2000.0 (2000-01-01 12:00) is astronomical Julian date 2451545.0.
    EXPECT_DOUBLE_EQ(julian_day(EpochTime{2000, 1, 1, 12, 0, 0.0}), 2451545.5);
    EXPECT_DOUBLE_EQ(julian_day(EpochTime{2024, 3, 1, 0, 0, 0.0}) - julian_day(EpochTime{2024, 2, 28, 0, 0, 0.0}),
                     2.0);  // leap day
}

TEST(EpochTime, DifferencesAcrossAMonthEnd) {
    const EpochTime before{2024, 1, 31, 23, 59, 30.0};
    const EpochTime after{2024, 2, 1, 0, 0, 30.0};
    EXPECT_NEAR(epoch_difference_seconds(after, before), 60.0, 1e-3);
    EXPECT_NEAR(epoch_difference_seconds(before, after), -60.0, 1e-3);
    EXPECT_NEAR(epoch_difference_seconds(EpochTime{2021, 1, 1, 0, 0, 0.0}, EpochTime{2020, 12, 31, 23, 59, 30.0}),
                30.0, 1e-3);
}

TEST(EpochTime, TimestampTextHasThreeDecimalSecondsPaddedToSix) {
    struct Case {
        EpochTime epoch;
        std::string_view expected;
    };
    const Case cases[] = {
        {{2024, 3, 5, 1, 2, 3.4567}, "2024-03-05T01:02:03.457Z"},
        {{2024, 1, 15, 6, 30, 0.0}, "2024-01-15T06:30:00.000Z"},
        {{2024, 1, 15, 6, 30, 7.5}, "2024-01-15T06:30:07.500Z"},
        {{2024, 1, 15, 6, 30, 59.9996}, "2024-01-15T06:30:60.000Z"},  // no carry into the minute
        {{999, 12, 31, 23, 59, 1.0}, "0999-12-31T23:59:01.000Z"},
        {{2024, 13, 0, 25, 61, 0.0}, "2024-13-00T25:61:00.000Z"},  // not checked against the calendar
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timestamp_text(c.epoch), c.expected);
        const auto back = parse_timestamp_text(c.expected);
        ASSERT_TRUE(back.has_value()) << c.expected;
        EXPECT_EQ(timestamp_text(*back), c.expected);
    }
    EXPECT_FALSE(parse_timestamp_text("2024-01-15 06:30:00.000").has_value());
    EXPECT_FALSE(parse_timestamp_text("").has_value());
}

}  // namespace
}  // namespace vardoln
