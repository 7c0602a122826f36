// Field cutting, the number reading rules and the number-to-text forms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "rinex/ids.hpp"
#include "rinex/numbers.hpp"
#include "rinex/obs_records.hpp"
#include "test_rinex_support.hpp"

namespace vardoln {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

struct FloatCase {
    std::string_view text;
    double expected;
};

TEST(ReadFloat, AcceptsDecimalShapesExponentsAndWords) {
    const FloatCase cases[] = {
        {"+12", 12.0},       {".5", 0.5},   {"5.", 5.0},    {"-.5", -0.5},      {"+5.", 5.0},
        {"1E+05", 1e5},      {"1e-3", 1e-3}, {"-0.25", -0.25}, {"Infinity", inf}, {"-inf", -inf},
        {"INF", inf},        {"1e400", inf}, {"-1e400", -inf}, {"1e-400", 0.0},  {"45.250", 45.25},
    };
    for (const FloatCase& c : cases) {
        const std::optional<double> value = read_float(c.text);
        ASSERT_TRUE(value.has_value()) << c.text;
        EXPECT_EQ(*value, c.expected) << c.text;
    }
    for (std::string_view text : {"+nan", "nan", "NaN", "-NAN"}) {
        const std::optional<double> value = read_float(text);
        ASSERT_TRUE(value.has_value()) << text;
        EXPECT_TRUE(std::isnan(*value)) << text;
    }
}

TEST(ReadFloat, RefusesEverythingElse) {
    for (std::string_view text : {".", "", "1.0D-03", "0x10", " 1", "1 ", "1_0", "1e", "e5", "+", "-", "1.2.3",
                                  "nan(1)", "infinit", "--1", "+-1", "1,5", "?1.0"})
        EXPECT_FALSE(read_float(text).has_value()) << '"' << text << '"';
}

TEST(ReadUnsigned, DigitsWithOptionalPlusWithinTheWidth) {
    EXPECT_EQ(read_u32("+12"), 12u);
    EXPECT_EQ(read_u32("007"), 7u);
    EXPECT_EQ(read_u32("4294967295"), 4294967295u);
    EXPECT_EQ(read_u8("255"), 255);
    EXPECT_EQ(read_u64("18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
    for (std::string_view text : {"-1", "", "+", "1 2", "1.0", "0x1", "++1", "-0"}) {
        EXPECT_FALSE(read_u32(text).has_value()) << '"' << text << '"';
    }
    EXPECT_FALSE(read_u8("256").has_value());
    EXPECT_FALSE(read_u32("4294967296").has_value());
    EXPECT_FALSE(read_u64("18446744073709551616").has_value());
}

TEST(ReadSigned, AddsTheMinusSign) {
    EXPECT_EQ(read_i32("-5"), -5);
    EXPECT_EQ(read_i32("+5"), 5);
    EXPECT_EQ(read_i32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(read_i32("2147483647"), std::numeric_limits<std::int32_t>::max());
    for (std::string_view text : {"2147483648", "-2147483649", "+-5", "-+5", "--5", "-", "", "5-"})
        EXPECT_FALSE(read_i32(text).has_value()) << '"' << text << '"';
}

TEST(ColumnField, InclusiveColumnsCutAtTheLineEndAndTrimmed) {
    struct Case {
        std::string_view line;
        std::size_t first, last;
        std::string_view expected;
    };
    const Case cases[] = {
        {"abcdef", 2, 4, "cde"}, {"abcdef", 4, 9, "ef"}, {"abcdef", 6, 9, ""},
        {"  x  y", 0, 5, "x  y"}, {"\tx\r", 0, 2, "x"},  {"", 0, 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(column_field(c.line, c.first, c.last), c.expected) << c.line;
    EXPECT_EQ(trim(" \t\n\v\f\rA \t\n\v\f\r"), "A");
}

TEST(FormatNumbers, FixedDecimalsRoundTiesToEvenOnTheBinaryValue) {
    EXPECT_EQ(format_fixed(45.25, 1), "45.2");
    EXPECT_EQ(format_fixed(45.35, 1), "45.4");  // 45.35 is stored slightly above
    EXPECT_EQ(format_fixed(0.125, 2), "0.12");
    EXPECT_EQ(format_fixed(3.04, 2), "3.04");
    EXPECT_EQ(format_fixed(2.5, 0), "2");
    EXPECT_EQ(format_plain(12.0), "12");
    EXPECT_EQ(format_plain(1e-7), "0.0000001");
    EXPECT_EQ(format_plain(0.1), "0.1");
    EXPECT_EQ(format_plain(std::nan("")), "NaN");
    EXPECT_EQ(format_plain(-inf), "-inf");
    EXPECT_EQ(saturate_i32(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(saturate_i32(-1e12), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(saturate_i32(std::nan("")), 0);
    EXPECT_EQ(saturate_i32(-7.9), -7);
}

// Observation fields take a fast path for [sign]digits.ddd; any field must read exactly as the
// general float reader reads it.
std::string random_field(std::mt19937_64& random) {
    std::uniform_int_distribution<int> pick(0, 9);
    std::string text;
    const int sign = std::uniform_int_distribution<int>(0, 4)(random);
    if (sign == 0) text += '-';
    if (sign == 1) text += '+';
    const int integer_digits = std::uniform_int_distribution<int>(0, 11)(random);
    for (int i = 0; i < integer_digits; ++i) text += static_cast<char>('0' + pick(random));
    const int shape = std::uniform_int_distribution<int>(0, 9)(random);
    const int decimals = shape < 7 ? 3 : shape - 6;  // mostly three decimals, sometimes 1, 2 or 3
    text += '.';
    for (int i = 0; i < decimals; ++i) text += static_cast<char>('0' + pick(random));
    if (shape == 9) text += "e-2";
    return text;
}

TEST(ObservationValue, FastPathMatchesTheGeneralReader) {
    std::mt19937_64 random(20240315);
    for (int i = 0; i < 200000; ++i) {
        const std::string text = random_field(random);
        const std::optional<double> general = read_float(text);
        const std::optional<double> fast = read_observation_value(text);
        ASSERT_EQ(fast.has_value(), general.has_value()) << text;
        if (general) {
            ASSERT_EQ(std::signbit(*fast), std::signbit(*general)) << text;
            ASSERT_EQ(*fast, *general) << text;
        }
    }
}

// The same property through the RINEX 3 column reader, whose aligned 14-column fields take a
// second fast path: every stored value equals read_float of the trimmed field.
TEST(ObservationValue, AlignedColumnsMatchTheGeneralReader) {
    constexpr int epochs = 300;
    constexpr int satellites = 40;
    constexpr const char* codes[] = {"C1C", "L1C", "D1C", "S1C"};
    std::mt19937_64 random(7);
    std::vector<std::string> lines = {testing::version_line("3.04"),
                                      testing::header_line("G    4 C1C L1C D1C S1C", "SYS / # / OBS TYPES"),
                                      testing::end_of_header()};
    std::vector<std::string> fields;
    for (int e = 0; e < epochs; ++e) {
        // Each epoch gets its own hour and minute so that it can be found again.
        lines.push_back("> 2024 01 15 " + std::to_string(e / 60) + " " + std::to_string(e % 60) + "  0.0000000  0 40");
        for (int s = 0; s < satellites; ++s) {
            std::string line = satellite_key('G', static_cast<unsigned>(10 + s));
            for (int k = 0; k < 4; ++k) {
                std::string text = random_field(random);
                while (text.size() > 14) text = random_field(random);
                // Some values end before column 13, as a writer with other padding might put them.
                const std::size_t right = std::uniform_int_distribution<std::size_t>(0, 14 - text.size())(random) / 4;
                line += std::string(14 - text.size() - right, ' ') + text + std::string(right, ' ') + "  ";
                fields.push_back(text);
            }
            lines.push_back(line);
        }
    }
    const RinexObsData data = testing::parse_ok(testing::join_lines(lines));
    std::vector<int> stored_epoch(epochs, -1);
    for (std::size_t i = 0; i < data.epochs.size(); ++i)
        stored_epoch.at(data.epochs[i].time.hour * 60 + data.epochs[i].time.minute) = static_cast<int>(i);

    std::size_t next = 0;
    std::size_t stored = 0;
    for (int e = 0; e < epochs; ++e) {
        for (int s = 0; s < satellites; ++s) {
            const std::string id = satellite_key('G', static_cast<unsigned>(10 + s));
            for (const char* code : codes) {
                const std::string& text = fields[next++];
                const std::optional<double> general = read_float(text);
                const ObservationValue* value =
                    stored_epoch[e] < 0 ? nullptr : testing::find_value(data, stored_epoch[e], id, code);
                ASSERT_EQ(value != nullptr, general && *general != 0.0) << text;
                if (value == nullptr) continue;
                ASSERT_EQ(value->value, *general) << text;
                ++stored;
            }
        }
    }
    EXPECT_EQ(stored, data.values.size());
}

}  // namespace
}  // namespace vardoln
