// The shared pieces of the tools' tables: epoch times as datetime64 nanoseconds, dense pair ids
// whichever storage serves them, numpy's percentile rule, and the bound on the completeness grid.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "arrays/completeness.hpp"
#include "arrays/signals.hpp"
#include "arrays/tables.hpp"
#include "test_rinex_support.hpp"

namespace vardoln::arrays {
namespace {

TEST(ArraysTables, EpochNanosecondsAsWrittenOrNaT) {
    struct Case {
        EpochTime epoch;
        std::int64_t expected;
    };
    const Case cases[] = {
        {{1970, 1, 1, 0, 0, 0.0}, 0},
        {{2020, 6, 25, 23, 59, 30.0}, 1593129570'000'000'000},
        {{2024, 2, 29, 12, 0, 0.5}, 1709208000'500'000'000},     // leap day
        {{2016, 12, 31, 23, 59, 60.0}, 1483228800'000'000'000},  // a leap second reads as the next minute
        {{2023, 2, 29, 0, 0, 0.0}, kNoTime},
        {{2021, 13, 1, 0, 0, 0.0}, kNoTime},
        {{2021, 4, 31, 0, 0, 0.0}, kNoTime},
        {{2021, 1, 1, 24, 0, 0.0}, kNoTime},
        {{2021, 1, 1, 0, 0, std::nan("")}, kNoTime},
        {{2300, 1, 1, 0, 0, 0.0}, kNoTime},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(epoch_nanoseconds(c.epoch), c.expected) << c.epoch.year << "-" << c.epoch.month << "-" << c.epoch.day;
    }
}

TEST(ArraysTables, PairIdsAreTheSameInATableAndInAHashMap) {
    PairIndex dense(10, 10);
    PairIndex sparse(std::size_t{1} << 20, 10);  // too many pairs to count in a table
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs = {{3, 4}, {0, 0}, {3, 4}, {9, 9}, {0, 0}, {2, 7}};
    for (const auto& [first, second] : pairs) EXPECT_EQ(dense.id(first, second), sparse.id(first, second));
    ASSERT_EQ(dense.size(), 4u);
    EXPECT_EQ(dense.pair(3), (std::pair<std::uint32_t, std::uint32_t>{2, 7}));
}

TEST(ArraysTables, PercentilesInterpolateAsNumpy) {
    const std::vector<double> values = {10.0, 20.0, 30.0, 40.0, 50.0};
    EXPECT_EQ(percentile_of_sorted(values, 0, 5, 0.5), 30.0);
    EXPECT_EQ(percentile_of_sorted(values, 0, 5, 0.1), 14.0);  // index 0.4
    EXPECT_EQ(percentile_of_sorted(values, 0, 5, 0.9), 46.0);  // index 3.6, taken from the upper end
    EXPECT_EQ(percentile_of_sorted(values, 1, 1, 0.9), 20.0);
    EXPECT_TRUE(std::isnan(percentile_of_sorted(values, 0, 0, 0.5)));
}

TEST(ArraysTables, CompletenessRefusesAGridTheDataDoNotJustify) {
    using vardoln::testing::header_line;
    // Two epochs a day apart with an INTERVAL of a millisecond: 86,400,001 grid epochs.
    std::string text = header_line("     3.04           OBSERVATION DATA    G", "RINEX VERSION / TYPE") + "\n" +
                       header_line("  3582105.2910   532589.7313  5232754.8054", "APPROX POSITION XYZ") + "\n" +
                       header_line("G    1 S1C", "SYS / # / OBS TYPES") + "\n" +
                       header_line("     0.001", "INTERVAL") + "\n" + header_line("", "END OF HEADER") + "\n";
    for (const char* day : {"25", "26"}) {
        text += std::string("> 2020 06 ") + day + " 00 00  0.0000000  0  1\nG01        45.000\n";
    }
    auto parsed = parse_observation_file(text, "grid.rnx");
    ASSERT_TRUE(std::holds_alternative<RinexObsData>(parsed));
    const auto result = completeness(std::get<RinexObsData>(parsed), NavigationData{}, 10.0);
    ASSERT_TRUE(std::holds_alternative<std::string>(result));
    EXPECT_NE(std::get<std::string>(result).find("more than 100 times the file's 2"), std::string::npos);
}

}  // namespace
}  // namespace vardoln::arrays
