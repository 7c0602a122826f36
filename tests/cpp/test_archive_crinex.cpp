// Compact RINEX snippets written by hand: arcs, text differences, satellites coming and
// going, clock offsets, event records and damaged input, in both flavours.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "archive/archive.hpp"
#include "rinex/obs_data.hpp"
#include "test_archive_support.hpp"
#include "test_rinex_support.hpp"

namespace vardoln {
namespace {

using testing::header_line;
using testing::join_lines;
using testing::Line;

std::vector<std::string> crinex_start(std::string_view version, std::string_view rinex_version) {
    return {header_line(version, "CRINEX VERS   / TYPE"), header_line("hand written", "CRINEX PROG / DATE"),
            header_line(Line().at(5, rinex_version).at(20, "OBSERVATION DATA").at(40, "M").str(),
                        "RINEX VERSION / TYPE")};
}

std::string expand_ok(const std::string& compact) {
    ArchiveResult result = expand_archive(compact);
    if (auto* error = std::get_if<ArchiveError>(&result)) {
        ADD_FAILURE() << error->message;
        return {};
    }
    return std::get<std::string>(result);
}

std::size_t expanded_size(const std::string& compact) { return expand_ok(compact).size(); }

std::string expand_error(const std::string& compact) {
    ArchiveResult result = expand_archive(compact);
    if (std::holds_alternative<std::string>(result)) return "(no error)";
    return std::get<ArchiveError>(result).message;
}

// RINEX 3: G with two types, R with one.
std::vector<std::string> rinex3_header() {
    std::vector<std::string> lines = crinex_start("3.0", "3.04");
    lines.push_back(header_line("G    2 C1C S1C", "SYS / # / OBS TYPES"));
    lines.push_back(header_line("R    1 S1C", "SYS / # / OBS TYPES"));
    lines.push_back(header_line("", "END OF HEADER"));
    return lines;
}

std::string rinex3_compact() {
    std::vector<std::string> lines = rinex3_header();
    const std::vector<std::string> body = {
        // Fresh epoch: G01 and R02, a clock offset, every arc of order 3 started.
        "> 2024 01 15 06 30  0.0000000  0  2      G01R02",
        "3&123456789012",
        "3&20000000123 3&45250  5 7",
        "3&38000 17",
        // 30 s later R02 has gone and G03 has come; first differences; flags unchanged.
        Line().at(19, "3").at(44, "G03"),
        "1000000",
        "100 -250 ",
        "3&21000000000   4",
        // 06:31:00, no clock; G01 takes a second difference and loses S1C, G03 loses all.
        Line().at(17, "1").at(19, "&"),
        "",
        "50  ",
        "",
        // An event epoch with one header record, then a fresh epoch.
        "> 2024 01 15 06 31 15.0000000  4  1",
        header_line("receiver restarted", "COMMENT"),
        "> 2024 01 15 06 32  0.0000000  0  1      G01",
        "",
        "3&-500 3&44000 &1&2",
    };
    lines.insert(lines.end(), body.begin(), body.end());
    return join_lines(lines);
}

TEST(ArchiveCrinex, Rinex3LayoutOfArcsClockSatellitesAndEvents) {
    std::vector<std::string> expected = rinex3_header();
    expected.erase(expected.begin(), expected.begin() + 2);  // the two CRINEX lines go
    const std::vector<std::string> body = {
        "> 2024 01 15 06 30  0.0000000  0  2       0.123456789012",
        "G01  20000000.123 5        45.250 7",
        "R02        38.00017",
        "> 2024 01 15 06 30 30.0000000  0  2       0.123457789012",
        "G01  20000000.223 5        45.000 7",
        "G03  21000000.000 4",
        "> 2024 01 15 06 31  0.0000000  0  2",
        "G01  20000000.373 5",
        "G03",
        "> 2024 01 15 06 31 15.0000000  4  1",
        header_line("receiver restarted", "COMMENT"),
        "> 2024 01 15 06 32  0.0000000  0  1",
        "G01        -0.500 1        44.000 2",
    };
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(expand_ok(rinex3_compact()), join_lines(expected));
}

// RINEX 2: six types (two lines per satellite), thirteen satellites (a continuation line).
std::string rinex2_compact() {
    std::vector<std::string> lines = crinex_start("1.0", "2.11");
    lines.push_back(header_line("     6    C1    L1    L2    P2    S1", "# / TYPES OF OBSERV"));
    lines.push_back(header_line("          S2", "# / TYPES OF OBSERV"));
    lines.push_back(header_line("", "END OF HEADER"));
    std::string epoch = "&24 01 15 06 30  0.0000000  0 13";
    for (int prn = 1; prn <= 13; ++prn) epoch += (prn < 10 ? "G0" : "G") + std::to_string(prn);
    lines.push_back(epoch);
    lines.push_back("3&123456789");
    for (int prn = 1; prn <= 13; ++prn) lines.push_back("3&20000000000    3&45000 3&30000  1       1 6");
    lines.push_back(Line().at(14, "1"));  // minute 30 -> 31
    lines.push_back("");
    for (int prn = 1; prn <= 13; ++prn) lines.push_back("1000    250 -250");
    return join_lines(lines);
}

TEST(ArchiveCrinex, Rinex2LayoutWithContinuationLinesAndClock) {
    const std::string text = expand_ok(rinex2_compact());
    std::string list_head;
    for (int prn = 1; prn <= 12; ++prn) list_head += (prn < 10 ? "G0" : "G") + std::to_string(prn);
    const std::string first_line = " 24 01 15 06 30  0.0000000  0 13" + list_head + " 0.123456789";
    // C1 in field 0 and S1 in field 4 of the first line (16 columns each), S2 on the second.
    const std::string first_satellite =
        Line().at(0, "  20000000.000 1").at(64, "        45.000 1").str() + "\n        30.000 6\n";
    EXPECT_NE(text.find(first_line + "\n" + std::string(32, ' ') + "G13\n" + first_satellite), std::string::npos);
    EXPECT_NE(text.find(" 24 01 15 06 31  0.0000000  0 13" + list_head + "\n" + std::string(32, ' ') + "G13\n"),
              std::string::npos);
    const RinexObsData data = testing::parse_ok(text, "test.24o");
    ASSERT_EQ(data.epochs.size(), 2u);
    EXPECT_EQ(data.epochs[1].satellite_count, 13u);
    const auto satellites = data.satellites_of(data.epochs[1]);
    EXPECT_EQ(data.satellite_id(satellites[12]), "G13");
    const auto values = data.values_of(satellites[12]);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].value, 20000001.0);
    EXPECT_EQ(values[1].value, 45.25);
    EXPECT_EQ(values[2].value, 29.75);
}

std::string rinex2_event_compact() {
    std::vector<std::string> lines = crinex_start("1.0", "2.11");
    lines.push_back(header_line("     1    S1", "# / TYPES OF OBSERV"));
    lines.push_back(header_line("", "END OF HEADER"));
    lines.insert(lines.end(), {"&24 01 15 06 30  0.0000000  0  1G05", "", "3&41000",
                               "&24 01 15 06 30 10.0000000  4  2", header_line("one", "COMMENT"),
                               header_line("two", "COMMENT"), "&24 01 15 06 30 30.0000000  0  1G05", "", "3&42000"});
    return join_lines(lines);
}

TEST(ArchiveCrinex, Rinex2EventRecordsAreCopied) {
    const std::string text = expand_ok(rinex2_event_compact());
    EXPECT_NE(text.find(" 24 01 15 06 30 10.0000000  4  2\n" + header_line("one", "COMMENT") + "\n" +
                        header_line("two", "COMMENT") + "\n"),
              std::string::npos);
    const RinexObsData data = testing::parse_ok(text, "test.24o");
    ASSERT_EQ(data.epochs.size(), 2u);
    EXPECT_EQ(data.values[1].value, 42.0);
}

// Odd cases of the text path in one file: values too wide for F14.3 (asterisks) on both signs
// and at the widest that fits, a zero, a repeated satellite, a system without types, an epoch
// line whose count the reader reads differently, and an event whose record reads as a
// satellite line.
std::string rinex3_odd_compact() {
    std::vector<std::string> lines = rinex3_header();
    const std::vector<std::string> body = {
        "> 2024 01 15 06 30  0.0000000  0  4      G01G01X05R02",
        "",
        "3&99999999999999 3&9999999999999 12",
        "3&-1000000000000 3&-999999999999  7",
        "3&5 3&6",
        "3&0",
        "> 2024 01 15 06 31  0 0000000  0  1      G01",
        "",
        "3&1 3&2",
        "> 2024 01 15 06 31 15.0000000  4  1",
        "G01  12345.678",
        "> 2024 01 15 06 32  0.0000000  0  2      R02G01",
        "3&77",
        "3&4400",
        "3&8 3&9 &&5",
    };
    lines.insert(lines.end(), body.begin(), body.end());
    return join_lines(lines);
}

// The direct path against the text path on hand-written files and on every cut and every
// one-byte change of them: wherever it covers the input, its record is the text path's.
TEST(ArchiveCrinex, DirectPathGivesTheTextPathRecord) {
    const std::string files[] = {rinex3_compact(), rinex3_odd_compact(), rinex2_compact(), rinex2_event_compact()};
    std::size_t variants = 0;
    std::size_t covered_variants = 0;
    const auto check = [&](std::string_view compact, std::size_t cap, const std::string& what) {
        bool covered = false;
        EXPECT_EQ(archive_testing::direct_path_difference(compact, cap, covered), "") << what;
        ++variants;
        covered_variants += covered ? 1 : 0;
    };
    for (const std::string& file : files) {
        bool covered = false;
        EXPECT_EQ(archive_testing::direct_path_difference(file, 1u << 20, covered), "");
        EXPECT_TRUE(covered) << file;
        for (std::size_t size = 0; size < file.size(); ++size) {
            check(std::string_view(file).substr(0, size), 1u << 20, "cut at " + std::to_string(size));
        }
        for (std::size_t i = 0; i < file.size(); ++i) {
            for (const char c : std::string_view(" &>-9\r\nx")) {
                std::string changed = file;
                changed[i] = c;
                check(changed, 1u << 20, "byte " + std::to_string(i) + " made " + std::string(1, c));
            }
        }
        // Caps around the size of the text: the direct path must leave the limit to the text path.
        const std::size_t text_size = expanded_size(file);
        for (std::size_t cap = text_size - 2; cap <= text_size + 2; ++cap) check(file, cap, "cap " + std::to_string(cap));
    }
    // Most variants stay within what the direct path covers.
    EXPECT_GT(covered_variants * 2, variants);
}

struct DamageCase {
    const char* name;
    std::vector<std::string> body;  // after the RINEX 3 header (six lines)
    const char* message;
};

TEST(ArchiveCrinex, DamagedInputNamesTheLine) {
    const std::vector<DamageCase> cases = {
        {"first epoch differenced", {Line().at(19, "3")}, "CRINEX: line 7 references a missing previous epoch"},
        {"arc never started",
         {"> 2024 01 15 06 30  0.0000000  0  1      G01", "", "100 200"},
         "CRINEX: line 9 references a missing previous epoch"},
        {"satellite new in this epoch",
         {"> 2024 01 15 06 30  0.0000000  0  1      G01", "", "3&1 3&2", Line().at(19, "3").at(41, "G02"), "",
          "5 5"},
         "CRINEX: line 12 references a missing previous epoch"},
        {"unreadable value", {"> 2024 01 15 06 30  0.0000000  0  1      G01", "", "3&12x"},
         "CRINEX: line 9 has an unreadable value"},
        {"difference order of two digits", {"> 2024 01 15 06 30  0.0000000  0  1      G01", "", "12&5"},
         "CRINEX: line 9 has an unsupported difference order"},
        {"count beyond the list", {"> 2024 01 15 06 30  0.0000000  0  3      G01G02", "", "", ""},
         "CRINEX: line 7 lists fewer satellites than its count"},
        {"unreadable count", {"> 2024 01 15 06 30  0.0000000  0  x      G01"},
         "CRINEX: line 7 has an unreadable satellite count"},
    };
    for (const DamageCase& c : cases) {
        std::vector<std::string> lines = rinex3_header();
        lines.insert(lines.end(), c.body.begin(), c.body.end());
        EXPECT_EQ(expand_error(join_lines(lines)), c.message) << c.name;
    }
    std::vector<std::string> lines = crinex_start("2.0", "3.04");
    EXPECT_EQ(expand_error(join_lines(lines)), "CRINEX: unsupported version 2.0");
}

TEST(ArchiveCrinex, EveryTruncationExpandsOrFails) {
    for (const std::string& compact : {rinex3_compact(), rinex2_compact()}) {
        for (std::size_t size = 0; size < compact.size(); ++size) {
            ArchiveResult result = expand_crinex(std::string_view(compact).substr(0, size), 1u << 20);
            if (auto* text = std::get_if<std::string>(&result)) {
                EXPECT_LE(text->size(), 1u << 20);
            }
        }
    }
}

TEST(ArchiveCrinex, ExpansionStopsAtTheCap) {
    const std::string compact = rinex2_compact();
    EXPECT_EQ(expand_error(compact).rfind("(no error)", 0), 0u);
    const std::size_t cap = compact.size() / 2;
    ArchiveResult result = expand_crinex(compact, cap);
    ASSERT_TRUE(std::holds_alternative<ArchiveError>(result));
    EXPECT_EQ(std::get<ArchiveError>(result).message,
              "CRINEX: expands beyond the limit of " + std::to_string(cap) + " bytes");
    ArchiveResult capped = expand_archive(compact, ArchiveLimits{1, 1u << 30});
    ASSERT_TRUE(std::holds_alternative<ArchiveError>(capped));
}

}  // namespace
}  // namespace vardoln
