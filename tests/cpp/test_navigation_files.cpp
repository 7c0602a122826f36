// Every real navigation file read with plausible counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "navigation/nav_bytes.hpp"
#include "navigation/nav_data.hpp"
#include "rinex/ids.hpp"
#include "test_archive_support.hpp"
#include "test_navigation_support.hpp"
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
// read by their file type: GLONASS .g files give 4-line state-vector records under R keys,
// Galileo .e files Galileo records under E keys, and the QZSS .q file, whose records start
// "J nn", QZSS records under J keys. RINEX 4 files give their LNAV/INAV/FNAV/D1/D2/FDMA
// records only.
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
    {"nav/ceda2100.18e", {0, 0, 10, 0, 0, 0, 29, 0}},
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
    {"nav/brdc3050.12q", {1, 0, 0, 0, 96, 0, 0, 0}},
    {"nav/KMS300DNK_R_20221591000_01H_MN.rnx", {22, 10, 18, 23, 31, 24, 108, 36}},
    {"nav/BRD400DLR_S_20230710000_01D_MN.rnx", {36, 26, 26, 44, 524, 1240, 5840, 1061}},
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

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool is_label(const std::string& line, const char* label) {
    return line.size() > 60 && line.find(label, 60) != std::string::npos;
}

NavigationData parsed(const std::string& text) {
    auto result = parse_navigation(text);
    if (auto* nav = std::get_if<NavigationData>(&result)) return std::move(*nav);
    ADD_FAILURE() << std::get<NavParseError>(result).message;
    return {};
}

// A RINEX 4 file's legacy records written as a version 3 file: the header with version 3.05,
// then every EPH record of the message types laid out as in version 3, without its marker
// (GLONASS FDMA: its first four lines). Counts every EPH record by "letter message".
struct Version3Twin {
    std::string text;
    std::map<std::string, std::size_t> records;
};

Version3Twin version3_from_rinex4(const std::string& rinex4) {
    const std::map<std::string, std::size_t> kept_lines = {{"G LNAV", 8}, {"J LNAV", 8}, {"E INAV", 8},
                                                           {"E FNAV", 8}, {"C D1", 8},   {"C D2", 8},
                                                           {"R FDMA", 4}};
    Version3Twin twin;
    bool in_header = true;
    std::size_t keep = 0;
    for (const std::string& line : lines_of(rinex4)) {
        if (in_header) {
            twin.text += is_label(line, "RINEX VERSION") ? "     3.05" + line.substr(9) : line;
            twin.text += '\n';
            in_header = !is_label(line, "END OF HEADER");
        } else if (!line.empty() && line[0] == '>') {
            std::istringstream marker(line.substr(1));
            std::string kind, satellite, message;
            marker >> kind >> satellite >> message;
            keep = 0;
            if (kind != "EPH") continue;
            const std::string type = satellite.substr(0, 1) + " " + message;
            ++twin.records[type];
            if (const auto found = kept_lines.find(type); found != kept_lines.end()) keep = found->second;
        } else if (keep > 0) {
            twin.text += line + '\n';
            --keep;
        }
    }
    return twin;
}

// RINEX 4 files put a marker before every record and hold message types laid out otherwise
// (CNAV, CNV1-3, SBAS, NavIC, STO, EOP, ION). Read as version 3 records, a CNAV record takes
// its t_op for toe and, where it is the record nearest the epoch, moves the satellite along its
// orbit: only a bit-for-bit comparison of positions sees that.
TEST(NavFiles, Rinex4GivesExactlyItsLegacyRecordsAsAVersion3FileWould) {
    struct Case {
        const char* name;
        EpochTime day;
    };
    const Case cases[] = {
        {"nav/BRD400DLR_S_20230710000_01D_MN.rnx", {2023, 3, 12, 0, 0, 0.0}},
        {"nav/KMS300DNK_R_20221591000_01H_MN.rnx", {2022, 6, 8, 0, 0, 0.0}},
        {"edge/INS_1581.19N", {2019, 6, 7, 0, 0, 0.0}},
        {"edge/INS_1581.19P", {2019, 6, 7, 0, 0, 0.0}},
    };
    std::size_t found = 0;
    for (const Case& c : cases) {
        const auto text = test::real_bytes(c.name);
        if (!text) continue;
        ++found;
        const Version3Twin twin = version3_from_rinex4(*text);
        const NavigationData rinex4 = parsed(*text);
        const NavigationData version3 = parsed(twin.text);
        auto count = [&](const char* type) { return twin.records.count(type) ? twin.records.at(type) : 0; };
        EXPECT_EQ(records(rinex4.gps), count("G LNAV") + count("J LNAV")) << c.name;
        EXPECT_EQ(records(rinex4.galileo), count("E INAV") + count("E FNAV")) << c.name;
        EXPECT_EQ(records(rinex4.beidou), count("C D1") + count("C D2")) << c.name;
        EXPECT_EQ(records(rinex4.glonass), count("R FDMA")) << c.name;
        const auto comparison = test::compare_quarter_hours(rinex4, version3, c.day);
        EXPECT_EQ(comparison.differences, 0u) << c.name << ": first at " << comparison.first_difference;
        EXPECT_GT(comparison.positions, 0u) << c.name;
    }
    if (found == 0) GTEST_SKIP() << "none of the files present";
}

// A version 2 file's records written as version 3 records: "E05 2018 07 29 02 50 00" for the
// two-digit epoch, the clock and orbit fields moved to the version 3 columns. `shift` is 1 for
// RINEX 2.12 QZSS files, whose records already start with the letter ("J 1 12 10 31 ...").
std::string version3_from_version2(const std::string& text, char letter, std::size_t shift) {
    std::string out = std::string("     3.04           N: GNSS NAV DATA    M") + std::string(19, ' ') +
                      "RINEX VERSION / TYPE\n" + std::string(60, ' ') + "END OF HEADER\n";
    bool in_header = true;
    std::size_t line_in_record = 0;
    for (const std::string& line : lines_of(text)) {
        if (in_header) {
            in_header = !is_label(line, "END OF HEADER");
            continue;
        }
        if (line.find_first_not_of(' ') == std::string::npos) continue;
        if (line_in_record++ % 8 != 0) {
            out += std::string(1 - shift, ' ') + line + '\n';
            continue;
        }
        auto number = [&](std::size_t column, std::size_t width) { return std::stoi(line.substr(column + shift, width)); };
        const int year = number(3, 2) < 80 ? 2000 + number(3, 2) : 1900 + number(3, 2);
        char epoch[32];
        std::snprintf(epoch, sizeof epoch, "%c%02d %04d %02d %02d %02d %02d %02d", letter, number(0, 2), year,
                      number(6, 2), number(9, 2), number(12, 2), number(15, 2),
                      static_cast<int>(std::stod(line.substr(17 + shift, 5))));
        out += epoch + line.substr(22 + shift) + '\n';
    }
    return out;
}

// A Galileo file of RINEX 2.12 tools gives Galileo orbits under E keys, and the QZSS file QZSS
// orbits under J keys: the positions of the version 3 text of the same records, at Galileo
// (29,600 km) and QZSS (42,164 km, eccentric) orbit radii.
TEST(NavFiles, Version2GalileoAndQzssFilesGiveTheirOwnSystem) {
    struct Case {
        const char* name;
        char letter;
        std::size_t shift;
        EpochTime day;
    };
    const Case cases[] = {
        {"nav/ceda2100.18e", 'E', 0, {2018, 7, 29, 0, 0, 0.0}},
        {"nav/brdc3050.12q", 'J', 1, {2012, 10, 31, 0, 0, 0.0}},
    };
    std::size_t found = 0;
    for (const Case& c : cases) {
        const auto text = test::real_bytes(c.name);
        if (!text) continue;
        ++found;
        const NavigationData nav = parsed(*text);
        const NavigationData version3 = parsed(version3_from_version2(*text, c.letter, c.shift));
        const auto& own = c.letter == 'E' ? nav.galileo : nav.gps;
        ASSERT_FALSE(own.empty()) << c.name;
        for (const auto& [key, list] : own) EXPECT_EQ(key.front(), c.letter) << c.name;
        EXPECT_EQ(nav.gps.size() + nav.galileo.size() + nav.beidou.size() + nav.glonass.size(), own.size());
        const auto comparison = test::compare_quarter_hours(nav, version3, c.day);
        EXPECT_EQ(comparison.differences, 0u) << c.name << ": first at " << comparison.first_difference;
        EXPECT_GT(comparison.positions, 0u) << c.name;
        EXPECT_GT(comparison.min_radius_m, 2.0e7) << c.name;
        EXPECT_LT(comparison.max_radius_m, 5.0e7) << c.name;
    }
    if (found == 0) GTEST_SKIP() << "none of the files present";
}

TEST(NavigationFiles, GzippedNavigationReadsLikeThePlainFile) {
    for (const char* name : {"nav/ESBC00DNK_R_20201770000_01D_MN.rnx", "nav/cbw10010.21n", "nav/dlf10010.21g"}) {
        SCOPED_TRACE(name);
        auto plain = test::real_bytes(name);
        if (!plain) GTEST_SKIP() << name << " not present";
        auto from_archive = read_navigation_bytes(archive_testing::gzip_member(*plain));
        auto from_plain = parse_navigation(*plain);
        ASSERT_TRUE(std::holds_alternative<NavigationData>(from_archive));
        const NavigationData& a = std::get<NavigationData>(from_archive);
        const NavigationData& b = std::get<NavigationData>(from_plain);
        EXPECT_EQ(a.gps.size(), b.gps.size());
        EXPECT_EQ(a.glonass.size(), b.glonass.size());
        EXPECT_EQ(a.galileo.size(), b.galileo.size());
        EXPECT_EQ(a.beidou.size(), b.beidou.size());
        EXPECT_EQ(a.glonass_freq, b.glonass_freq);
    }
}

}  // namespace
}  // namespace vardoln
