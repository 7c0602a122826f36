#include "tle/tle_parser.hpp"
#include "test_real_data.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>

namespace vardoln {
namespace {

// An element line of spaces with each field written from its 0-based column.
std::string element_line(std::size_t width, std::initializer_list<std::pair<std::size_t, std::string_view>> fields) {
    std::string line(width, ' ');
    for (const auto& [column, text] : fields) {
        if (line.size() < column + text.size()) line.resize(column + text.size(), ' ');
        line.replace(column, text.size(), text);
    }
    return line;
}

// GPS BIIR-2 (PRN 13) from the 2021-05-14 catalogue.
const std::string kLine1 = "1 24876U 97035A   21133.50038780  .00000064  00000-0  00000-0 0  9992";
const std::string kLine2 = "2 24876  55.4695 171.2748 0047473  54.2060 306.3138  2.00562805174638";

std::string set_text(std::string_view name, std::string_view line1 = kLine1, std::string_view line2 = kLine2) {
    std::string text(name);
    text += '\n';
    text += line1;
    text += '\n';
    text += line2;
    text += '\n';
    return text;
}

std::string keys_of(const std::vector<TleRecord>& records) {
    std::string keys;
    for (const TleRecord& record : records) {
        if (!keys.empty()) keys += ' ';
        keys += record.satellite;
    }
    return keys;
}

struct KeyCase {
    std::string_view name;
    std::string_view key;  // empty: no key, the set is dropped
};

TEST(TleSatelliteKey, NameRulesInTheirOrder) {
    const KeyCase cases[] = {
        {"GPS BIIR-2  (PRN 13)", "G13"},
        {"NAVSTAR 43 (USA 132)", ""},  // no PRN, and nothing else matches
        {"gps biif-1 (prn 25)", "G25"},
        {"NAVSTAR 81 (PRN 05)", "G05"},
        {"GPS BIII-1 (PRN 4)", "G04"},
        {"GPS PRN QZS-3", "G03"},                  // the digits need not follow PRN directly
        {"GPS BIIR-2 (USA 132) QZS-4", "J02"},     // no PRN: on to the QZSS rule, first digit run
        {"GPS (PRN 4294967296)", ""},              // beyond 32 bits
        {"GSAT0101 (GALILEO-PFM)", "E30"},         // 101 mod 36 = 29, plus one
        {"GSAT0101 (PRN E11)", "E30"},             // "(E" must be followed by digits at once
        {"GALILEO 5 (E11)", "E11"},
        {"GALILEO 12 (E1A)", "E01"},
        {"GSAT0136", "E29"},
        {"GSAT0203 (E24)", "E24"},
        {"GSAT-8 (GAGAN/PRN 127)", ""},
        {"GALILEO-PFM", ""},
        {"GSAT (E)", ""},
        {"QZS-1 (QZSS/PRN 183)", "J01"},
        {"QZS-1R", "J01"},
        {"MICHIBIKI-2", "J02"},
        {"0 QZS-1 (MICHIBIKI)", "J00"},  // the "0 " name prefix is the first digit run
        {"QZS", ""},
        {"COSMOS 2425 (716K)", ""},
        {"GLONASS-M (PRN 05)", ""},
        {"GALILEO COSMOS 2", ""},
        {"GPS COSMOS 2 (PRN 7)", "G07"},  // the GPS rule comes before the exclusions
        {"BEIDOU-3 M1 (C19)", ""},
        {"BEIDOU QZS-1", ""},
        {"  GPS BIIR-2 (PRN 13)\t", "G13"},
        {"", ""},
        // Full Unicode upper case: long s, sharp s, dotless i and the st ligature reach the rules.
        {"gp\u017F biir-2 (prn 13)", "G13"},
        {"GP\u00DF (PRN 7)", "G07"},
        {"mich\u0131b\u0131k\u0131-2", "J02"},
        {"gal\u0131leo 5 (e11)", "E11"},
        {"nav\uFB06ar 1 (prn 9)", "G09"},
        {"gp\u017F pr\u0149 9", ""},  // the apostrophe n is not an ASCII N after "PR"
        {"\u00A0GPS (PRN 31)\u3000", "G31"},
    };
    for (const KeyCase& test : cases) {
        const auto key = tle_satellite_key(test.name);
        EXPECT_EQ(key.value_or(""), test.key) << test.name;
    }
}

TEST(TleNameUpper, FullCaseMappingWhereItGivesAscii) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"gps", "GPS"},
        {"\u017F", "S"},
        {"\uFB01", "FI"},
        {"\uFB03x", "FFIX"},
        {"\u0131", "I"},
        {"\u00DF", "SS"},
        {"\u0149", "\u02BCN"},
        {"\u01F0", "J\u030C"},
        {"\u212A", "\u212A"},  // the Kelvin sign is upper case already
        {"\u00E9", "\u00E9"},  // no ASCII in its upper case, so it is kept
        {"a\xFF" "b", "A\xFF" "B"},
    };
    for (const auto& [name, upper] : cases) EXPECT_EQ(tle_name_upper(name), upper) << name;
}

TEST(TleExponentField, ImpliedPointAndSignedExponent) {
    struct Case {
        std::string_view text;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"12345-3", 0.12345e-3}, {"-11606-4", -0.11606e-4}, {"+20960-3", 0.20960e-3},
        {"00000-0", 0.0},        {"00000+0", 0.0},          {"5+1", 0.5e1},
        {"12345-10", 0.12345e-10},
        {"12345", std::nullopt}, {"", std::nullopt},        {"-", std::nullopt},
        {"1-", std::nullopt},    {"12a45-3", std::nullopt}, {"12345-3x", std::nullopt},
        {"+-1-1", std::nullopt}, {"-3", std::nullopt},
    };
    for (const Case& test : cases) {
        const auto value = read_tle_exponent_field(test.text);
        ASSERT_EQ(value.has_value(), test.value.has_value()) << test.text;
        if (value) {
            EXPECT_DOUBLE_EQ(*value, *test.value) << test.text;
        }
    }
}

TEST(TleParse, ReadsEveryFieldAtItsColumns) {
    const auto records = parse_tle(set_text("GPS BIIR-2  (PRN 13)    "));
    ASSERT_EQ(records.size(), 1u);
    const TleRecord& record = records[0];
    EXPECT_EQ(record.name, "GPS BIIR-2  (PRN 13)");
    EXPECT_EQ(record.satellite, "G13");
    EXPECT_EQ(record.catalog_number, 24876u);
    EXPECT_EQ(record.epoch_year, 21u);
    EXPECT_DOUBLE_EQ(record.epoch_day, 133.50038780);
    EXPECT_DOUBLE_EQ(record.bstar, 0.0);
    EXPECT_DOUBLE_EQ(record.inclination, 55.4695);
    EXPECT_DOUBLE_EQ(record.raan, 171.2748);
    EXPECT_DOUBLE_EQ(record.eccentricity, 0.0047473);
    EXPECT_DOUBLE_EQ(record.arg_perigee, 54.2060);
    EXPECT_DOUBLE_EQ(record.mean_anomaly, 306.3138);
    EXPECT_DOUBLE_EQ(record.mean_motion, 2.00562805);
}

TEST(TleParse, UnreadableFieldsBecomeZero) {
    const std::string line1 = element_line(69, {{0, "1"}, {2, "x4876"}, {18, "2y"}, {20, "day"}, {53, "-11606-4"}, {68, "7"}});
    const std::string line2 =
        element_line(69, {{0, "2"}, {8, "?"}, {17, "-12.5"}, {26, "00-1234"}, {34, "1e2"}, {52, "2.5"}, {68, "7"}});
    const auto records = parse_tle(set_text("GPS (PRN 1)", line1, line2));
    ASSERT_EQ(records.size(), 1u);
    const TleRecord& record = records[0];
    EXPECT_EQ(record.catalog_number, 0u);
    EXPECT_EQ(record.epoch_year, 0u);
    EXPECT_EQ(record.epoch_day, 0.0);
    EXPECT_DOUBLE_EQ(record.bstar, -0.11606e-4);
    EXPECT_EQ(record.inclination, 0.0);
    EXPECT_EQ(record.raan, -12.5);
    EXPECT_EQ(record.eccentricity, 0.0);
    EXPECT_EQ(record.arg_perigee, 100.0);
    EXPECT_EQ(record.mean_anomaly, 0.0);
    EXPECT_EQ(record.mean_motion, 2.5);
}

struct ParseCase {
    std::string_view what;
    std::string text;
    std::string_view keys;  // accepted keys in order
};

TEST(TleParse, SetDetectionAndAcceptance) {
    const std::string gps13 = set_text("GPS BIIR-2  (PRN 13)");
    const std::string line2_blank_motion = kLine2.substr(0, 52) + "           " + kLine2.substr(63);
    const ParseCase cases[] = {
        {"empty text", "", ""},
        {"no set at all", "hello\nworld\n", ""},
        {"leading blank lines and text", "\n\n# catalogue\nsome words\n" + gps13, "G13"},
        {"no final line feed", gps13.substr(0, gps13.size() - 1), "G13"},
        {"carriage returns", "GPS (PRN 7)\r\n" + kLine1 + "\r\n" + kLine2 + "\r\n", "G07"},
        {"sets without keys are passed over",
         set_text("COSMOS 2425 (716K)") + set_text("BEIDOU-3 M1 (C19)") + set_text("NAVSTAR 43 (USA 132)") + gps13,
         "G13"},
        {"blank mean motion", set_text("GPS (PRN 2)", kLine1, line2_blank_motion) + gps13, "G13"},
        {"zero mean motion", set_text("GPS (PRN 2)", kLine1, kLine2.substr(0, 52) + " 0.00000000" + kLine2.substr(63)),
         ""},
        {"negative mean motion",
         set_text("GPS (PRN 2)", kLine1, kLine2.substr(0, 52) + "-2.00562805" + kLine2.substr(63)), ""},
        {"element lines indented", set_text("GPS (PRN 3)", "  " + kLine1, "\t" + kLine2 + "  "), "G03"},
        {"wide spaces around element lines",
         set_text("GPS (PRN 3)", "\u00A0" + kLine1, "\u2003" + kLine2 + "\u3000"), "G03"},
        {"line 1 must start the next line", "GPS (PRN 4)\n\n" + kLine1 + "\n" + kLine2 + "\n", ""},
        {"the search moves one line at a time", "junk\nGPS (PRN 5)\n" + kLine1 + "\n" + kLine2 + "\n", "G05"},
        {"after a set the search starts past it", gps13 + gps13, "G13 G13"},
        // The second set's name would be the first set's line 2 if the search resumed inside it.
        {"a set's lines are never a name", set_text("GPS (PRN 1)", kLine1, kLine2 + " GPS PRN 8") + kLine1 + "\n" + kLine2,
         "G01"},
        {"name line may look like an element line", kLine1 + "\n" + gps13.substr(gps13.find('\n') + 1), ""},
    };
    for (const ParseCase& test : cases) EXPECT_EQ(keys_of(parse_tle(test.text)), test.keys) << test.what;
}

TEST(TleParse, ShortElementLinesDropTheSetAndParsingGoesOn) {
    const std::string gps13 = set_text("GPS BIIR-2  (PRN 13)");
    const ParseCase cases[] = {
        {"line 1 of 60 columns", set_text("GPS (PRN 1)", kLine1.substr(0, 60)) + gps13, "G13"},
        {"line 1 of 61 columns", set_text("GPS (PRN 1)", kLine1.substr(0, 61)) + gps13, "G01 G13"},
        {"line 2 of 62 columns", set_text("GPS (PRN 1)", kLine1, kLine2.substr(0, 62)) + gps13, "G13"},
        {"line 2 of 63 columns", set_text("GPS (PRN 1)", kLine1, kLine2.substr(0, 63)) + gps13, "G01 G13"},
        {"bare line numbers", set_text("GPS (PRN 1)", "1", "2") + gps13, "G13"},
        {"the last set cut short", gps13 + "GPS (PRN 9)\n1 2\n2", "G13"},
    };
    for (const ParseCase& test : cases) EXPECT_EQ(keys_of(parse_tle(test.text)), test.keys) << test.what;
}

std::optional<std::string> read_shared(std::string_view name) {
    return test::real_bytes("tle/" + std::string(name));
}

struct CatalogueCase {
    std::string_view file;
    std::size_t accepted;
    std::size_t gps;
    std::size_t galileo;
    std::size_t qzss;
    std::string_view first_key;
    std::string_view last_key;
};

TEST(TleCatalogueFiles, AcceptedCounts) {
    const CatalogueCase cases[] = {
        {"celestrak_gnss_20210514.txt", 60, 30, 26, 4, "G13", "G23"},
        {"celestrak_gnss_20220115.txt", 65, 32, 28, 5, "G13", "J01"},
        // Short names (Gnn, Rnn, ...) match none of the catalogue name rules.
        {"TLE_GNSS_20121101.txt", 0, 0, 0, 0, "", ""},
        // 20348 objects with "0 " before each name: GPS names carry no PRN and Galileo names no
        // number, and each QZS name's first digit run is that "0".
        {"TLE_20201201txt.txt", 4, 0, 0, 4, "J00", "J00"},
    };
    std::size_t found = 0;
    for (const CatalogueCase& test : cases) {
        const auto text = read_shared(test.file);
        if (!text) continue;  // only part of the set is bundled
        ++found;
        const auto records = parse_tle(*text);
        std::size_t by_letter[3] = {};
        for (const TleRecord& record : records) {
            by_letter[0] += record.satellite.front() == 'G';
            by_letter[1] += record.satellite.front() == 'E';
            by_letter[2] += record.satellite.front() == 'J';
        }
        EXPECT_EQ(records.size(), test.accepted) << test.file;
        EXPECT_EQ(by_letter[0], test.gps) << test.file;
        EXPECT_EQ(by_letter[1], test.galileo) << test.file;
        EXPECT_EQ(by_letter[2], test.qzss) << test.file;
        if (!records.empty()) {
            EXPECT_EQ(records.front().satellite, test.first_key) << test.file;
            EXPECT_EQ(records.back().satellite, test.last_key) << test.file;
        }
    }
    EXPECT_GT(found, 0u);
}

TEST(TleCatalogueFiles, CelestrakRecordsByName) {
    const auto text = read_shared("celestrak_gnss_20220115.txt");
    if (!text) GTEST_SKIP() << "shared data missing";
    const auto records = parse_tle(*text);
    const auto find = [&](std::string_view name) -> const TleRecord* {
        for (const TleRecord& record : records)
            if (record.name == name) return &record;
        return nullptr;
    };
    const std::pair<std::string_view, std::string_view> named[] = {
        {"GPS BIIR-2  (PRN 13)", "G13"},
        {"GSAT0101 (PRN E11)", "E30"},
        {"GSAT0224 (PRN E10)", "E09"},
        {"QZS-1 (QZSS/PRN 183)", "J01"},
        {"QZS-1R", "J01"},
    };
    for (const auto& [name, key] : named) {
        const TleRecord* record = find(name);
        ASSERT_NE(record, nullptr) << name;
        EXPECT_EQ(record->satellite, key) << name;
        EXPECT_EQ(record->epoch_year, 22u) << name;
        EXPECT_GT(record->mean_motion, 0.9) << name;  // GNSS orbits: one or two turns a day
        EXPECT_LT(record->mean_motion, 2.1) << name;
    }
    EXPECT_EQ(find("GSAT-8 (GAGAN/PRN 127)"), nullptr);
}

}  // namespace
}  // namespace vardoln
