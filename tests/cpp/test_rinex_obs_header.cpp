// Text preparation and the observation header pass.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "rinex/obs_data.hpp"
#include "rinex/text.hpp"
#include "test_rinex_support.hpp"

namespace vardoln {
namespace {

using testing::end_of_header;
using testing::header_line;
using testing::join_lines;
using testing::Line;
using testing::parse_ok;
using testing::version_line;

TEST(TextPreparation, LinesSplitAtLineFeedsWithTheirCarriageReturns) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"\n", {""}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\n\nb", {"a", "", "", "b"}},
        {"a\rb\n", {"a\rb"}},   // a carriage return elsewhere stays
        {"a\r", {"a\r"}},       // ... also at the very end without a line feed
        {"a\r\r\n", {"a\r"}},   // only the one right before the line feed goes
        {"\r\n\r\n", {"", ""}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_lines(c.text), c.lines) << ::testing::PrintToString(c.text);
}

TEST(TextPreparation, HighBytesBecomeQuestionMarks) {
    const std::string bytes = "ab\x80\xff\x7f\x01z";
    EXPECT_TRUE(has_high_bytes(bytes));
    EXPECT_EQ(prepare_text(bytes), "ab??\x7f\x01z");
    EXPECT_FALSE(has_high_bytes("plain ASCII text of more than eight bytes\x7f"));
    EXPECT_TRUE(has_high_bytes("plain ASCII text of more than eight bytes\xc3"));
}

TEST(TextPreparation, HighBytesKeepColumnsAndSpoilOnlyTheirField) {
    // A two-byte UTF-8 character in a comment before the marker name, and one inside a value.
    const std::string text =
        join_lines({version_line("3.04"), header_line("Ma\xc3\xa9lle", "COMMENT"),
                    header_line("SITE\xc3\xa9", "MARKER NAME"),
                    header_line("G    2 C1C S1C", "SYS / # / OBS TYPES"), end_of_header(),
                    "> 2024 01 15 06 30  0.0000000  0  1",
                    "G01" + testing::field3("2000000\xc3\xa9.0") + testing::field3("45.250")});
    const RinexObsData data = parse_ok(text);
    EXPECT_EQ(data.marker_name, "SITE??");
    ASSERT_EQ(data.epochs.size(), 1u);
    EXPECT_EQ(testing::find_value(data, 0, "G01", "C1C"), nullptr);
    ASSERT_NE(testing::find_value(data, 0, "G01", "S1C"), nullptr);
    EXPECT_EQ(testing::find_value(data, 0, "G01", "S1C")->value, 45.25);
}

TEST(Header, VersionSelectsTheReaderAndDefaultsToZero) {
    EXPECT_EQ(parse_ok(join_lines({version_line("3.04"), end_of_header()})).version, 3.04);
    EXPECT_EQ(parse_ok(join_lines({version_line("2.11"), end_of_header()})).version, 2.11);
    EXPECT_EQ(parse_ok(join_lines({end_of_header()})).version, 0.0);
    // An unreadable version leaves the earlier one.
    EXPECT_EQ(parse_ok(join_lines({version_line("3.02"), version_line("3,05"), end_of_header()})).version, 3.02);
}

TEST(Header, MissingEndOfHeaderIsTheOnlyError) {
    const std::string short_label = header_line("", "END OF HEADER").substr(0, 60) + "END";
    for (const std::string& text : {std::string(), join_lines({version_line("3.04")}),
                                    // a label that starts before column 60 is not seen
                                    join_lines({Line().at(40, "END OF HEADER").width(60).str()}),
                                    join_lines({short_label}), std::string("END OF HEADER\n")}) {
        auto result = parse_observation_file(text, "x.rnx");
        ASSERT_TRUE(std::holds_alternative<ParseError>(result)) << text;
        EXPECT_EQ(std::get<ParseError>(result).message, "No END OF HEADER found");
    }
    // The label may sit anywhere after column 60 and share the area with other text.
    EXPECT_NO_FATAL_FAILURE(parse_ok(join_lines({Line().at(65, "xx END OF HEADER yy").str()})));
}

TEST(Header, TextFieldsAndTheMarkerNameFallback) {
    const RinexObsData data = parse_ok(join_lines({
        version_line("3.04"),
        header_line("  ESBC00DNK  ", "MARKER NAME"),
        header_line(Line().at(0, "3047937").at(20, "SEPT POLARX5").at(40, "5.2.0").str(), "REC # / TYPE / VERS"),
        header_line(Line().at(0, "CR5200327016").at(20, "ASH701945E_M    SCIS").str(), "ANT # / TYPE"),
        header_line("    30.000", "INTERVAL"),
        end_of_header(),
    }));
    EXPECT_EQ(data.marker_name, "ESBC00DNK");
    EXPECT_EQ(data.receiver_type, "SEPT POLARX5");
    EXPECT_EQ(data.antenna_type, "ASH701945E_M    SCIS");
    EXPECT_EQ(data.interval, 30.0);

    const std::string blank_marker = join_lines({header_line("", "MARKER NAME"), end_of_header()});
    EXPECT_EQ(parse_ok(blank_marker, "site0010.24o").marker_name, "site0010.24o");
    EXPECT_EQ(parse_ok(join_lines({end_of_header()}), "other.obs").marker_name, "other.obs");
}

TEST(Header, ShortLinesArePassedOver) {
    // 60 characters or fewer: not looked at, whatever they hold.
    const RinexObsData data = parse_ok(join_lines({
        Line().at(0, "SHORT").at(45, "MARKER NAME").str(),
        Line().at(0, "     3.04").width(60).str(),
        end_of_header(),
    }));
    EXPECT_EQ(data.marker_name, "test.rnx");
    EXPECT_EQ(data.version, 0.0);
}

TEST(Header, ApproximatePositionNeedsThreeNumbers) {
    const RinexObsData spaced = parse_ok(join_lines({
        header_line("3582105.2910   532589.7313\t5232754.8054", "APPROX POSITION XYZ"),
        end_of_header(),
    }));
    ASSERT_TRUE(spaced.approx_position.has_value());
    EXPECT_EQ((*spaced.approx_position)[0], 3582105.2910);
    EXPECT_EQ((*spaced.approx_position)[1], 532589.7313);
    EXPECT_EQ((*spaced.approx_position)[2], 5232754.8054);

    const RinexObsData two = parse_ok(join_lines({header_line("  1.0   2.0", "APPROX POSITION XYZ"), end_of_header()}));
    EXPECT_FALSE(two.approx_position.has_value());

    // Unreadable pieces are dropped, and a later line with too few numbers changes nothing.
    const RinexObsData mixed = parse_ok(join_lines({
        header_line("x 1.0 abc 2.0 3.0 4.0", "APPROX POSITION XYZ"),
        header_line("9.0 9.0", "APPROX POSITION XYZ"),
        end_of_header(),
    }));
    ASSERT_TRUE(mixed.approx_position.has_value());
    EXPECT_EQ(*mixed.approx_position, (std::array<double, 3>{1.0, 2.0, 3.0}));
}

TEST(Header, Rinex3TypesContinueTheCurrentSystem) {
    const RinexObsData data = parse_ok(join_lines({
        version_line("3.04"),
        header_line("G   12 C1C L1C D1C S1C C2W L2W D2W S2W", "SYS / # / OBS TYPES"),
        header_line("       C5Q L5Q D5Q S5Q", "SYS / # / OBS TYPES"),
        header_line("E    2 C1X S1X", "SYS / # / OBS TYPES"),
        header_line("X      L1X", "SYS / # / OBS TYPES"),  // not a system letter: continues E
        header_line("E    1 S5X", "SYS / # / OBS TYPES"),  // a second block extends the list
        header_line("R    0", "SYS / # / OBS TYPES"),      // no codes: no list, but R is current
        header_line("       S1C", "SYS / # / OBS TYPES"),
        end_of_header(),
    }));
    ASSERT_NE(data.obs_types_of("G"), nullptr);
    EXPECT_EQ(*data.obs_types_of("G"), (std::vector<std::string>{"C1C", "L1C", "D1C", "S1C", "C2W", "L2W", "D2W",
                                                                 "S2W", "C5Q", "L5Q", "D5Q", "S5Q"}));
    EXPECT_EQ(*data.obs_types_of("E"), (std::vector<std::string>{"C1X", "S1X", "L1X", "S5X"}));
    EXPECT_EQ(*data.obs_types_of("R"), (std::vector<std::string>{"S1C"}));
    EXPECT_EQ(data.obs_types_of("X"), nullptr);
    EXPECT_EQ(data.obs_types_of("C"), nullptr);

    // A continuation before any system line is passed over.
    const RinexObsData orphan = parse_ok(join_lines({header_line("       C1C", "SYS / # / OBS TYPES"), end_of_header()}));
    EXPECT_TRUE(orphan.obs_types.empty());
}

TEST(Header, Rinex2TypesAreTranslatedAndSharedByFourSystems) {
    const RinexObsData data = parse_ok(join_lines({
        version_line("2.11"),
        header_line("    12    C1    P1    L1    S1    C2    P2    L2    S2    D1", "# / TYPES OF OBSERV"),
        header_line("          C5    L5    S5    X     S7", "# / TYPES OF OBSERV"),
        end_of_header(),
    }));
    const std::vector<std::string> expected = {"C1C", "C1P", "L1C", "S1C", "C2C", "C2P", "L2C",
                                               "S2C", "D1",  "C5Q", "L5Q", "S5Q", "S7"};
    std::vector<std::string> letters;
    for (const ObsTypeList& list : data.obs_types) {
        letters.push_back(list.system);
        EXPECT_EQ(list.codes, expected) << list.system;
    }
    EXPECT_EQ(letters, (std::vector<std::string>{"G", "R", "E", "C"}));
}

TEST(Header, GlonassSlotsPairRLettersWithChannels) {
    const RinexObsData data = parse_ok(join_lines({
        header_line(" 24 R01  1 R02 -4 R3 5 R04 x R05 +2 R01  3", "GLONASS SLOT / FRQ #"),
        header_line(" C1C  -71.940 C1P  -71.940 R06 -7", "GLONASS COD/PHS/BIS"),
        end_of_header(),
    }));
    const std::vector<std::pair<std::string, std::int32_t>> expected = {
        {"1", 3}, {"2", -4}, {"5", 2}, {"6", -7}};  // R01 replaced by its later value
    EXPECT_EQ(data.glonass_slots, expected);
}

TEST(Header, FirstMatchingLabelWins) {
    // "MARKER NAME" is tested before "INTERVAL", so this line only sets the marker.
    const RinexObsData data =
        parse_ok(join_lines({header_line("12.5", "MARKER NAME INTERVAL"), end_of_header()}));
    EXPECT_EQ(data.marker_name, "12.5");
    EXPECT_EQ(data.interval, 0.0);
}

}  // namespace
}  // namespace vardoln
