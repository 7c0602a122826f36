// The epoch readers of RINEX 3 and RINEX 2 and the record queries, on text built in the tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rinex/epoch_line.hpp"
#include "rinex/obs_data.hpp"
#include "test_rinex_support.hpp"

namespace vardoln {
namespace {

using testing::end_of_header;
using testing::field2;
using testing::field3;
using testing::find_value;
using testing::header_line;
using testing::join_lines;
using testing::Line;
using testing::parse_ok;
using testing::satellites_in;
using testing::value_count;
using testing::version_line;
using Ids = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// RINEX 3

// G carries C1C L1C S1C, E carries C1X S1X; the body follows the header.
RinexObsData parse3(const std::vector<std::string>& body, const std::string& g_types = "G    3 C1C L1C S1C") {
    std::vector<std::string> lines = {version_line("3.04"), header_line(g_types, "SYS / # / OBS TYPES"),
                                      header_line("E    2 C1X S1X", "SYS / # / OBS TYPES"), end_of_header()};
    lines.insert(lines.end(), body.begin(), body.end());
    return parse_ok(join_lines(lines));
}

std::string epoch3(std::string_view count, std::string_view flag = "0", std::string_view minute = "30") {
    return "> 2024 01 15 06 " + std::string(minute) + "  0.0000000  " + std::string(flag) + " " + std::string(count);
}

std::string sat3(std::string_view id, std::initializer_list<std::string> fields) {
    std::string line(id);
    for (const std::string& field : fields) line += field;
    return line;
}

const std::string full_g = field3("20000000.125") + field3("105000000.250") + field3("45.250");

TEST(Rinex3Records, EpochLineFieldsAndSatellites) {
    const RinexObsData data = parse3({
        "> 2024 01 15 06 30  0.0000000  0  2      0.000123456789",
        sat3("G01", {full_g}),
        sat3("E11", {field3("22000000.500"), field3("41.000")}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(data.epochs[0].time, (EpochTime{2024, 1, 15, 6, 30, 0.0}));
    EXPECT_EQ(data.epochs[0].flag, 0);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "E11"}));
    EXPECT_EQ(find_value(data, 0, "G01", "C1C")->value, 20000000.125);
    EXPECT_EQ(find_value(data, 0, "G01", "L1C")->value, 105000000.25);
    EXPECT_EQ(find_value(data, 0, "E11", "S1X")->value, 41.0);
}

TEST(Rinex3Records, WrongAnnouncedCountsEndAtTheNextEpochLine) {
    const RinexObsData data = parse3({
        epoch3("3", "0", "30"),
        sat3("G01", {full_g}),
        sat3("G02", {full_g}),
        epoch3("1", "0", "31"),
        sat3("G03", {full_g}),
        sat3("G04", {full_g}),  // beyond the count: passed over as a line outside a block
        epoch3("2", "0", "32"),
        sat3("G05", {full_g}),
        "",  // an empty line ends a block too
        sat3("G06", {full_g}),
    });
    ASSERT_EQ(data.epochs.size(), 3u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "G02"}));
    EXPECT_EQ(satellites_in(data, 1), (Ids{"G03"}));
    EXPECT_EQ(satellites_in(data, 2), (Ids{"G05"}));
    EXPECT_EQ(data.epochs[1].time.minute, 31u);
}

// The end of the text inside an epoch cuts it short; a count that the next block or an empty
// line ends early is only wrong.
struct CutCase {
    const char* name;
    std::vector<std::string> body;
    std::optional<std::string_view> cut_minute;            // of the epoch the text ends inside
    std::optional<std::string_view> last_complete_minute;  // of the epoch stored before it
    std::size_t epochs;                                    // stored, the cut one with what it holds
};

TEST(Rinex3Records, TheEndOfTheTextInsideAnEpochIsNamed) {
    const std::vector<CutCase> cases = {
        {"complete", {epoch3("1", "0", "30"), sat3("G01", {full_g}), epoch3("2", "0", "31"), sat3("G02", {full_g}),
                      sat3("E11", {field3("1.000"), field3("41.000")})}, std::nullopt, std::nullopt, 2},
        {"cut after one of two", {epoch3("1", "0", "30"), sat3("G01", {full_g}), epoch3("2", "0", "31"),
                                  sat3("G02", {full_g})}, "31", "30", 2},
        {"cut before any satellite", {epoch3("1", "0", "30"), sat3("G01", {full_g}), epoch3("2", "0", "31")}, "31", "30",
         1},
        {"the first epoch cut", {epoch3("3", "0", "30"), sat3("G01", {full_g})}, "30", std::nullopt, 1},
        {"count ended by the next block", {epoch3("2", "0", "30"), sat3("G01", {full_g}), epoch3("1", "0", "31"),
                                           sat3("G02", {full_g})}, std::nullopt, std::nullopt, 2},
        {"count ended by an empty line", {epoch3("2", "0", "30"), sat3("G01", {full_g}), ""}, std::nullopt,
         std::nullopt, 1},
    };
    for (const CutCase& c : cases) {
        const RinexObsData data = parse3(c.body);
        EXPECT_EQ(data.epochs.size(), c.epochs) << c.name;
        ASSERT_EQ(data.cut_epoch.has_value(), c.cut_minute.has_value()) << c.name;
        if (!c.cut_minute) continue;
        EXPECT_EQ(data.cut_epoch->time.minute, std::stoul(std::string(*c.cut_minute))) << c.name;
        ASSERT_EQ(data.cut_epoch->last_complete.has_value(), c.last_complete_minute.has_value()) << c.name;
        if (c.last_complete_minute) {
            EXPECT_EQ(data.cut_epoch->last_complete->minute, std::stoul(std::string(*c.last_complete_minute)))
                << c.name;
        }
    }
}

TEST(Rinex3Records, AHugeAnnouncedCountCostsOnlyTheLinesThere) {
    const RinexObsData data = parse3({epoch3("4294967295"), sat3("G01", {full_g}), sat3("G02", {full_g})});
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "G02"}));
    // One more than fits 32 bits does not read as a count: no satellite lines are taken.
    EXPECT_TRUE(parse3({epoch3("4294967296"), sat3("G01", {full_g})}).epochs.empty());
}

TEST(Rinex3Records, BlankAndZeroFieldsStoreNothing) {
    const RinexObsData data = parse3({
        epoch3("4"),
        sat3("G01", {field3("20000000.125"), field3("105000000.250"), field3("")}),
        sat3("G02", {field3("20000000.125"), field3(""), field3("0.000")}),
        sat3("G03", {field3(""), field3("-0.000"), field3("   .000")}),
        sat3("G04", {field3("0"), field3("0e5"), field3("nonsense")}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "G02"}));
    EXPECT_EQ(find_value(data, 0, "G01", "S1C"), nullptr);
    EXPECT_EQ(value_count(data, 0, "G01"), 2u);
    EXPECT_EQ(value_count(data, 0, "G02"), 1u);

    // An epoch whose values are all blank or zero is not stored.
    EXPECT_TRUE(parse3({epoch3("1"), sat3("G01", {field3(""), field3("0.000"), field3("")})}).epochs.empty());
}

TEST(Rinex3Records, IndicatorColumnsPresentOrCutOff) {
    struct Case {
        std::string line;
        std::optional<std::uint8_t> lli, ssi;
    };
    const std::string value = field3("45.250").substr(0, 14);
    const Case cases[] = {
        {"G01" + value + " 7", std::nullopt, 7},
        {"G01" + value + "1", 1, std::nullopt},
        {"G01" + value + "12", 1, 2},
        {"G01" + value, std::nullopt, std::nullopt},
        {"G01" + value + "  ", std::nullopt, std::nullopt},
        {"G01" + value + "x+", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        // The value goes under C1C, the first code.
        const RinexObsData data = parse3({epoch3("1"), c.line});
        ASSERT_EQ(data.epochs.size(), 1u) << c.line;
        const ObservationValue* stored = find_value(data, 0, "G01", "C1C");
        ASSERT_NE(stored, nullptr) << c.line;
        EXPECT_EQ(stored->value, 45.25) << c.line;
        EXPECT_EQ(stored->lli, c.lli) << c.line;
        EXPECT_EQ(stored->ssi, c.ssi) << c.line;
    }
}

TEST(Rinex3Records, ShortLinesAndFieldsCutAtTheLineEnd) {
    const RinexObsData data = parse3({
        epoch3("6"),
        "G05",                                      // identifier only: no satellite
        "G",                                        // shorter than three: counts, ignored
        sat3("G06", {field3("20000000.125"), "    1050"}),  // second field cut short but readable
        sat3("G07", {field3(""), field3(""), field3("45.250"), field3("99.000")}),  // beyond the codes
        sat3("X01", {full_g}),                      // a letter without codes
        sat3("G08", {full_g}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G06", "G07", "G08"}));
    EXPECT_EQ(find_value(data, 0, "G06", "L1C")->value, 1050.0);
    EXPECT_EQ(value_count(data, 0, "G07"), 1u);
}

TEST(Rinex3Records, GeneralNumberShapesInFields) {
    const RinexObsData data = parse3({
        epoch3("1"),
        sat3("G01", {field3("1.5e3"), field3("nan"), field3("1.0D+03")}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(find_value(data, 0, "G01", "C1C")->value, 1500.0);
    EXPECT_TRUE(std::isnan(find_value(data, 0, "G01", "L1C")->value));
    EXPECT_EQ(find_value(data, 0, "G01", "S1C"), nullptr);
}

TEST(Rinex3Records, BlankIdentifierIsStoredEmptyUnderTheGpsCodes) {
    const RinexObsData data = parse3({epoch3("2"), sat3("   ", {full_g}), sat3("G02", {full_g})});
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"", "G02"}));
    EXPECT_EQ(find_value(data, 0, "", "S1C")->value, 45.25);
    EXPECT_EQ(unique_satellites(data), (Ids{"", "G02"}));
    const auto groups = satellites_by_system(data);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].first, "G");
    EXPECT_EQ(groups[0].second, (Ids{"G02"}));
}

TEST(Rinex3Records, EpochLinesThatDoNotReadArePassedOverWithTheirSatellites) {
    const RinexObsData data = parse3({
        "> 2024 01 15 06 30",                         // fewer than six pieces
        sat3("G01", {full_g}),
        "> 2024 01 15 06 3O  0.0000000  0  1",        // letter O in the minute
        sat3("G02", {full_g}),
        " > 2024 01 15 06 30  0.0000000  0  1",       // ">" not in column 0
        sat3("G03", {full_g}),
        "> 2024 01 15 06 31  0.0000000",              // no flag, no count: nothing taken
        sat3("G04", {full_g}),
        ">2024 1 15 6 32 0.5 x 1",                    // unreadable flag reads as 0
        sat3("G05", {full_g}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G05"}));
    EXPECT_EQ(data.epochs[0].time, (EpochTime{2024, 1, 15, 6, 32, 0.5}));
    EXPECT_EQ(data.epochs[0].flag, 0);
}

// The flag is one digit and the count three, so from 100 satellites on the two run together.
TEST(Rinex3Records, FlagAndCountRunTogetherFromAHundredSatellites) {
    struct Case {
        std::string_view flag_piece, count_piece;
        std::uint8_t flag;
        std::uint32_t count;
    };
    const Case cases[] = {
        {"0", "12", 0, 12},
        {"0104", "", 0, 104},
        {"1132", "0.000123456789", 1, 132},  // the piece after it is the clock offset
        {"0100", "7", 0, 100},
        // every other shape reads as before: pieces 6 and 7 on their own
        {"0099", "", 99, 0},
        {"104", "", 104, 0},
        {"01040", "3", 0, 3},
        {"x104", "5", 0, 5},
        {"", "", 0, 0},
    };
    for (const Case& c : cases) {
        const EpochFlagAndCount got = rinex3_epoch_flag_and_count(c.flag_piece, c.count_piece);
        EXPECT_EQ(got.flag, c.flag) << c.flag_piece << " " << c.count_piece;
        EXPECT_EQ(got.satellite_count, c.count) << c.flag_piece << " " << c.count_piece;
    }
    const auto line = read_rinex3_epoch_line("> 2024 01 15 06 30  0.0000000  0132      0.000123456789");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->time, (EpochTime{2024, 1, 15, 6, 30, 0.0}));
    EXPECT_EQ(line->satellite_count, 132u);
    EXPECT_FALSE(read_rinex3_epoch_line(""));
}

TEST(Rinex3Records, EventEpochsAreReadByTheSameRules) {
    const RinexObsData data = parse3({
        epoch3("2", "4", "30"),
        header_line("RECEIVER RESTARTED", "COMMENT"),
        header_line("G    1 S1C", "SYS / # / OBS TYPES"),  // G: a satellite line with a long identifier
        epoch3("1", "6", "31"),
        sat3("G01", {full_g}),
    });
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(data.epochs[0].flag, 6);
    EXPECT_EQ(unique_satellites(data), (Ids{"G01"}));
}

TEST(Rinex3Records, RepeatedSatelliteReplacesItsEarlierEntry) {
    const RinexObsData data = parse3({
        epoch3("5", "0", "30"),
        sat3("G01", {field3("1.000"), field3("2.000"), field3("3.000")}),
        sat3("E05", {field3("7.000")}),
        sat3("G01", {field3(""), field3("20.000")}),   // replaces: only L1C remains
        sat3("E05", {field3("")}),                      // yields nothing: the earlier entry stays
        sat3("G02", {field3("9.000")}),
        epoch3("2", "0", "31"),
        sat3("G02", {field3("1.000")}),
        sat3("G02", {field3("2.000")}),
    });
    ASSERT_EQ(data.epochs.size(), 2u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "E05", "G02"}));
    EXPECT_EQ(value_count(data, 0, "G01"), 1u);
    EXPECT_EQ(find_value(data, 0, "G01", "L1C")->value, 20.0);
    EXPECT_EQ(find_value(data, 0, "E05", "C1X")->value, 7.0);
    EXPECT_EQ(find_value(data, 0, "G02", "C1C")->value, 9.0);
    EXPECT_EQ(satellites_in(data, 1), (Ids{"G02"}));
    EXPECT_EQ(find_value(data, 1, "G02", "C1C")->value, 2.0);
    // Replaced values are gone from the flat value list too.
    EXPECT_EQ(data.values.size(), 4u);
}

TEST(Rinex3Records, RepeatedCodeInTheHeaderKeepsTheLaterValue) {
    const RinexObsData data = parse3(
        {
            epoch3("2"),
            sat3("G01", {field3("41.000"), field3("20000000.000"), field3("42.000")}),
            sat3("G02", {field3("41.000"), field3("20000000.000"), field3("")}),
        },
        "G    3 S1C C1C S1C");
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(value_count(data, 0, "G01"), 2u);
    EXPECT_EQ(find_value(data, 0, "G01", "S1C")->value, 42.0);
    EXPECT_EQ(find_value(data, 0, "G02", "S1C")->value, 41.0);
}

TEST(Rinex3Records, SatelliteIdsListOnlyStoredSatellitesInOrderOfFirstAppearance) {
    const RinexObsData data = parse3({
        epoch3("3", "0", "30"),
        sat3("G09", {field3("")}),  // no values: not a stored satellite
        sat3("E02", {field3("1.000")}),
        sat3("G03", {field3("1.000")}),
        epoch3("1", "0", "31"),
        sat3("G09", {field3("1.000")}),
        epoch3("2", "0", "32"),
        sat3("R01", {full_g}),      // R has no codes in this header
        sat3("E02", {field3("1.000")}),
    });
    EXPECT_EQ(unique_satellites(data), (Ids{"E02", "G03", "G09"}));
    const auto groups = satellites_by_system(data);
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0], (std::pair<std::string, Ids>{"E", {"E02"}}));
    EXPECT_EQ(groups[1], (std::pair<std::string, Ids>{"G", {"G03", "G09"}}));
}

// ---------------------------------------------------------------------------------------------
// RINEX 2

// " yy mm dd hh mi ss.sssssss  f  n" then the satellite fields from column 32.
std::string epoch2(int minute, int flag, std::string_view count, std::string_view satellites) {
    char text[40];
    std::snprintf(text, sizeof text, " 21  1  1  0%3d%11.7f%3d", minute, 0.0, flag);
    std::string line(text);
    line += Line().at(3 - std::min<std::size_t>(count.size(), 3), count).width(3).str();
    return line + std::string(satellites);
}

RinexObsData parse2(const std::vector<std::string>& body, std::string_view types) {
    std::vector<std::string> lines = {version_line("2.11"), header_line(types, "# / TYPES OF OBSERV"), end_of_header()};
    lines.insert(lines.end(), body.begin(), body.end());
    return parse_ok(join_lines(lines));
}

// The observation lines of one satellite: 5 fields per line.
std::vector<std::string> obs2_lines(const std::vector<std::string>& values) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % 5 == 0) lines.emplace_back();
        lines.back() += field2(values[i]);
    }
    return lines;
}

void append(std::vector<std::string>& body, const std::vector<std::string>& lines) {
    body.insert(body.end(), lines.begin(), lines.end());
}

TEST(Rinex2Records, FourteenSatellitesOverTwoListLinesAndElevenTypes) {
    const std::string types = "    11    C1    L1    L2    P2    S1    S2    C5    L5    S5";
    const std::string more = "          D1    D2";
    std::vector<std::string> body = {
        epoch2(0, 0, "14", "G01G02G03G04G05G06G07G08G09G10G11G12"),
        Line().at(32, "G13 14").str(),  // two more from column 32; a blank and 14 is G14
    };
    for (int s = 1; s <= 14; ++s) {
        std::vector<std::string> values;
        for (int k = 0; k < 11; ++k) values.push_back(std::to_string(s) + "." + std::to_string(100 + k));
        append(body, obs2_lines(values));
    }
    body.push_back(epoch2(1, 0, "1", "R05"));
    append(body, obs2_lines({"1.000", "", "", "", "44.000"}));

    std::vector<std::string> lines = {version_line("2.11"), header_line(types, "# / TYPES OF OBSERV"),
                                      header_line(more, "# / TYPES OF OBSERV"), end_of_header()};
    append(lines, body);
    const RinexObsData data = parse_ok(join_lines(lines));
    ASSERT_EQ(data.obs_types_of("G")->size(), 11u);
    ASSERT_EQ(data.epochs.size(), 2u);
    const Ids ids = satellites_in(data, 0);
    ASSERT_EQ(ids.size(), 14u);
    EXPECT_EQ(ids[12], "G13");
    EXPECT_EQ(ids[13], "G14");
    EXPECT_EQ(find_value(data, 0, "G14", "C1C")->value, 14.100);
    EXPECT_EQ(find_value(data, 0, "G14", "S5Q")->value, 14.108);
    EXPECT_EQ(find_value(data, 0, "G14", "D2")->value, 14.110);
    EXPECT_EQ(find_value(data, 0, "G01", "S1C")->value, 1.104);
    EXPECT_EQ(find_value(data, 0, "G07", "D1")->value, 7.109);
    EXPECT_EQ(data.epochs[1].time, (EpochTime{2021, 1, 1, 0, 1, 0.0}));
    EXPECT_EQ(satellites_in(data, 1), (Ids{"R05"}));
    EXPECT_EQ(find_value(data, 1, "R05", "S1C")->value, 44.0);
    EXPECT_FALSE(find_value(data, 1, "R05", "S1C")->ssi.has_value());
}

TEST(Rinex2Records, SevenTypesTakeTwoLinesAndExtraFieldsAreNotRead) {
    const std::string types = "     7    C1    L1    L2    P2    S1    S2    D1";
    const RinexObsData data = parse2(
        {
            epoch2(0, 0, "2", "G01G02"),
            field2("1.000") + field2("2.000") + field2("3.000") + field2("4.000") + field2("45.000"),
            field2("46.000") + field2("7.000") + field2("8.000") + field2("9.000"),
            field2("11.000"),  // G02: its second line is missing the fields, first line short
            field2("") + field2("") + field2("0.000"),
        },
        types);
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(value_count(data, 0, "G01"), 7u);
    EXPECT_EQ(find_value(data, 0, "G01", "D1")->value, 7.0);
    EXPECT_EQ(value_count(data, 0, "G02"), 1u);
}

TEST(Rinex2Records, IndicatorsAreReadAsInRinex3) {
    // Loss of lock and signal strength follow the value in the same two columns as in RINEX 3;
    // a blank or cut-off column reads as absent.
    const RinexObsData data = parse2({epoch2(0, 0, "1", " 5"),
                                      field2("45.250").substr(0, 14) + "17" + field2("21.5").substr(0, 14) + " 4" +
                                          field2("1.0").substr(0, 14)},
                                     "     3    S1    S2    L1");
    ASSERT_EQ(data.epochs.size(), 1u);
    struct Expected {
        const char* code;
        double value;
        std::optional<std::uint8_t> lli, ssi;
    };
    for (const Expected& e : {Expected{"S1C", 45.25, 1, 7}, Expected{"S2C", 21.5, std::nullopt, 4},
                              Expected{"L1C", 1.0, std::nullopt, std::nullopt}}) {
        const ObservationValue* value = find_value(data, 0, "G05", e.code);
        ASSERT_NE(value, nullptr) << e.code;
        EXPECT_EQ(value->value, e.value) << e.code;
        EXPECT_EQ(value->lli, e.lli) << e.code;
        EXPECT_EQ(value->ssi, e.ssi) << e.code;
    }
}

TEST(Rinex2Records, LinesThatAreNotEpochLines) {
    const std::string types = "     2    C1    S1";
    const std::string obs = field2("20000000.000") + field2("45.000");
    const RinexObsData data = parse2(
        {
            epoch2(0, 0, "", "G01"),  // blank count: passed over, and so are its lines
            obs,
            epoch2(1, 0, "0", "G01"),  // count 0
            obs,
            epoch2(2, 0, "1", "G01").substr(0, 31),  // 26 to 31 characters: no count columns
            obs,
            Line().at(1, "21  1  1  0  3").at(20, "x.0000000  0  1G01").str(),  // seconds do not read
            obs,
            epoch2(4, 0, "1", "G01"),
            obs,
        },
        types);
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(data.epochs[0].time.minute, 4u);
    EXPECT_EQ(find_value(data, 0, "G01", "S1C")->value, 45.0);
}

TEST(Rinex2Records, EventRecordsDoNotSwallowTheFollowingLines) {
    const std::string types = "     2    C1    S1";
    const std::string obs = field2("20000000.000") + field2("45.000");
    const RinexObsData data = parse2(
        {
            epoch2(0, 0, "2", "G01G02"),
            obs,
            obs,
            // flag 4: two header lines follow; the satellite fields are blank
            Line().at(0, epoch2(1, 4, "2", "").substr(0, 32)).str(),
            header_line("ANTENNA MOVED", "COMMENT"),
            header_line(" 21  1  1  0  1  0.0000000", "COMMENT"),
            epoch2(2, 0, "1", "G02"),
            obs,
        },
        types);
    ASSERT_EQ(data.epochs.size(), 2u);
    EXPECT_EQ(data.epochs[1].time.minute, 2u);
    EXPECT_EQ(satellites_in(data, 1), (Ids{"G02"}));
}

TEST(Rinex2Records, BlankAndMissingListFieldsCountWithoutNamingASatellite) {
    const std::string types = "     1    S1";
    const RinexObsData data = parse2(
        {
            // n = 4: G01, a blank field, G03; the fourth field lies beyond the line end
            epoch2(0, 0, "4", "G01   G03"),
            field2("41.000"),
            field2("43.000"),
            epoch2(1, 0, "999", "G04"),  // an overstated count: only G04 owns a line
            field2("44.000"),
            epoch2(2, 0, "1", "G05"),
            field2("45.000"),
        },
        types);
    // The count 999 takes every following line as a list continuation (G05's epoch line among
    // them), so G04 gets no observation line and its epoch holds nothing.
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(satellites_in(data, 0), (Ids{"G01", "G03"}));
    EXPECT_EQ(find_value(data, 0, "G03", "S1C")->value, 43.0);
    EXPECT_EQ(unique_satellites(data), (Ids{"G01", "G03"}));
}

TEST(Rinex2Records, EpochFieldsAndTheEndOfTheFileInsideAnEpoch) {
    const std::string types = "     6    C1    L1    L2    P2    S1    S2";
    const RinexObsData data = parse2(
        {
            Line().at(0, " 99 12 31 23 59 59.5000000  1  1G31").str(),
            field2("1.000") + field2("2.000") + field2("3.000") + field2("4.000") + field2("45.000"),
            field2("46.000"),
            Line().at(0, " 79  1  1  0  0  0.0000000  0  2G01G02").str(),
            field2("1.000"),
            // G01's second line and all of G02 are missing
        },
        types);
    ASSERT_EQ(data.epochs.size(), 2u);
    EXPECT_EQ(data.epochs[0].time, (EpochTime{1999, 12, 31, 23, 59, 59.5}));
    EXPECT_EQ(data.epochs[0].flag, 1);
    EXPECT_EQ(data.epochs[1].time.year, 2079);
    EXPECT_EQ(satellites_in(data, 1), (Ids{"G01"}));
    ASSERT_TRUE(data.cut_epoch.has_value());
    EXPECT_EQ(data.cut_epoch->time, data.epochs[1].time);
    EXPECT_EQ(data.cut_epoch->last_complete, data.epochs[0].time);
}

TEST(Rinex2Records, TheEndOfTheTextInsideTheSatelliteListOrLinesIsNamed) {
    const std::string types = "     6    C1    L1    L2    P2    S1    S2";
    const std::vector<std::string> g01 = obs2_lines({"1.000", "2.000", "3.000", "4.000", "45.000", "46.000"});
    const auto body = [&](std::vector<std::string> tail) {
        std::vector<std::string> lines = {epoch2(0, 0, "1", "G01")};
        append(lines, g01);
        append(lines, tail);
        return lines;
    };
    // Fourteen satellites announced, the list line of the last two missing.
    const RinexObsData in_list = parse2(body({epoch2(1, 0, "14", "G01G02G03G04G05G06G07G08G09G10G11G12")}), types);
    ASSERT_TRUE(in_list.cut_epoch.has_value());
    EXPECT_EQ(in_list.cut_epoch->time.minute, 1u);
    EXPECT_EQ(in_list.cut_epoch->last_complete, in_list.epochs[0].time);
    // Every line there: nothing cut; nor when the last satellite lacks only its last line, which
    // writers drop at the end of a file when it is blank.
    std::vector<std::string> whole = {epoch2(1, 0, "1", "G01")};
    append(whole, g01);
    EXPECT_FALSE(parse2(body(whole), types).cut_epoch.has_value());
    whole.pop_back();
    EXPECT_FALSE(parse2(body(whole), types).cut_epoch.has_value());
}

TEST(Rinex2Records, NoTypesMeansNoEpochs) {
    const RinexObsData data =
        parse_ok(join_lines({version_line("2.11"), end_of_header(), epoch2(0, 0, "1", "G01"), field2("45.000")}));
    EXPECT_TRUE(data.epochs.empty());
    EXPECT_TRUE(unique_satellites(data).empty());
    EXPECT_TRUE(satellites_by_system(data).empty());
}

}  // namespace
}  // namespace vardoln
