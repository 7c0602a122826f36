// The navigation reader on synthetic texts: layouts, columns, and the records it passes over.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>

#include "navigation/nav_data.hpp"
#include "navigation/nav_fields.hpp"
#include "test_navigation_support.hpp"

namespace vardoln {
namespace {

// A line with each text placed at its start column and blanks between.
std::string line_at(std::initializer_list<std::pair<std::size_t, std::string>> fields) {
    std::string line;
    for (const auto& [column, text] : fields) {
        if (line.size() < column) line.resize(column, ' ');
        line.replace(column, text.size(), text);
    }
    return line + "\n";
}

std::string header_line(const std::string& content, const std::string& label) {
    return line_at({{0, content}, {60, label}});
}

std::string header(const std::string& version_field) {
    return header_line(version_field, "RINEX VERSION / TYPE") + header_line("", "END OF HEADER");
}

// A 19-column numeric field as navigation files write it ("-1.234500000000E-03").
std::string field(double value, char exponent = 'E') {
    char text[32];
    std::snprintf(text, sizeof text, "%19.12E", value);
    std::string out(text);
    for (char& c : out)
        if (c == 'E') c = exponent;
    return out;
}

// Orbit lines carry value 10 * line + field (line 1 field 1 is 11) so that a misplaced
// column shows up as a wrong number.
std::string orbit_lines(std::size_t count, std::size_t start) {
    std::string out;
    for (std::size_t line = 1; line <= count; ++line) {
        std::string text;
        for (std::size_t k = 0; k < 4; ++k)
            text += field(static_cast<double>(10 * line + k + 1));
        out += line_at({{start, text}});
    }
    return out;
}

// Version 3 Keplerian record: "G05", "2024 05 03 00 00 00" and the three clock fields.
std::string keplerian_v3(const std::string& id, const std::string& epoch = "2024 05 03 00 00 00") {
    return line_at({{0, id}, {4, epoch}, {23, field(1.5e-4) + field(-2.5e-11) + field(0.0)}}) + orbit_lines(7, 4);
}

// Version 2 record: satellite number in columns 0-1, two-digit year, second in [17,22).
std::string keplerian_v2(const std::string& number, const std::string& epoch = "24  5  3  0  0  0.0") {
    return line_at({{0, number}, {3, epoch}, {22, field(1.5e-4, 'D') + field(-2.5e-11, 'D') + field(0.0, 'D')}}) +
           orbit_lines(7, 3);
}

// GLONASS record with the state in km; `channel` is field 4 of orbit line 2.
std::string glonass_v3(const std::string& id, double channel, const std::string& epoch = "2024 05 03 00 15 00") {
    return line_at({{0, id}, {4, epoch}, {23, field(-1.0e-4) + field(1.0e-12) + field(3.42e5)}}) +
           line_at({{4, field(-23809.8) + field(0.229) + field(-3.7e-9) + field(0.0)}}) +
           line_at({{4, field(-8908.9) + field(0.253) + field(9.3e-10) + field(channel)}}) +
           line_at({{4, field(2209.4) + field(3.556) + field(-1.9e-9) + field(0.0)}});
}

NavigationData parse_ok(const std::string& text) {
    auto result = parse_navigation(text);
    if (auto* error = std::get_if<NavParseError>(&result)) {
        ADD_FAILURE() << "unexpected error: " << error->message;
        return {};
    }
    return std::get<NavigationData>(std::move(result));
}

std::size_t record_count(const NavigationData& nav) {
    std::size_t count = 0;
    for (const auto& entry : nav.gps) count += entry.second.size();
    for (const auto& entry : nav.galileo) count += entry.second.size();
    for (const auto& entry : nav.beidou) count += entry.second.size();
    for (const auto& entry : nav.glonass) count += entry.second.size();
    return count;
}

TEST(NavReaderFields, FortranFloat) {
    struct Case {
        std::string line;
        std::size_t start;
        double expected;
    };
    const Case cases[] = {
        {"    1.0D-03", 4, 0.001},
        {"    1.0d-03", 4, 0.001},
        {"    1.0E-03", 4, 0.001},
        {"    -1.5e+02", 4, -150.0},
        {"                       ", 4, 0.0},            // blank field
        {"    1.0", 40, 0.0},                            // starts past the end of the line
        {"    1.0E-03 2.0E-03", 4, 0.0},                 // inner blank
        {"     1.000000000000E+00-2.000000000000E+00", 4, 1.0},  // neighbours without a gap
        {"     1.000000000000E+00-2.000000000000E+00", 23, -2.0},
        {"    1.0E-", 4, 0.0},                           // dangling exponent
        {"    abc", 4, 0.0},
        {"    1.0\xb5", 4, 0.0},                         // byte above 0x7f
        {"    1.5", 4, 1.5},                             // end-clipped
    };
    for (const Case& c : cases) EXPECT_EQ(parse_fortran_float(c.line, c.start), c.expected) << c.line;
}

TEST(NavReaderHeader, VersionDecidesLayout) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t gps_records;
    };
    // A version 3 record read with the version 2 columns (and the reverse) yields nothing.
    const Case cases[] = {
        {"no version line", header_line("", "END OF HEADER") + keplerian_v3("G05"), 1},
        {"unreadable version", header("  abc") + keplerian_v3("G05"), 1},
        {"version 3.04", header("     3.04") + keplerian_v3("G05"), 1},
        {"version 4.00", header("     4.00") + "> EPH G05 LNAV\n" + keplerian_v3("G05"), 1},
        {"version 2.11", header("     2.11") + keplerian_v2(" 5"), 1},
        {"version 2.11, v3 record", header("     2.11") + keplerian_v3("G05"), 0},
        {"version 3, v2 record", header("     3.02") + keplerian_v2(" 5"), 0},
        // the version field is columns [0,9): a number beyond them is not seen
        {"version past column 9", header("          2.11") + keplerian_v3("G05"), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(record_count(parse_ok(c.text)), c.gps_records) << c.name;
}

TEST(NavReaderHeader, Failures) {
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"empty input", ""},
        {"single line", header_line("     3.04", "RINEX VERSION / TYPE")},
        {"label on a short line", "END OF HEADER\n" + keplerian_v3("G05")},
        {"label in the version field", "     END OF HEADER\n"},
    };
    for (const Case& c : cases) {
        const auto result = parse_navigation(c.text);
        ASSERT_TRUE(std::holds_alternative<NavParseError>(result)) << c.name;
        EXPECT_EQ(std::get<NavParseError>(result).message, "No END OF HEADER found") << c.name;
    }
}

TEST(NavReaderHeader, HeaderAtLastLine) {
    for (const std::string& text : {header("     3.04"), header("     3.04") + "\n\n",
                                   header_line("", "END OF HEADER   \r")}) {
        const NavigationData nav = parse_ok(text);
        EXPECT_FALSE(nav.has_data());
        EXPECT_TRUE(nav.gps.empty() && nav.glonass.empty() && nav.galileo.empty() && nav.beidou.empty());
    }
}

TEST(NavReaderRecords, Version3Columns) {
    const NavigationData nav = parse_ok(header("     3.04") + keplerian_v3("G05", "2024 05 03 01 02 03"));
    ASSERT_EQ(nav.gps.count("G05"), 1u);
    const Ephemeris& eph = nav.gps.at("G05").front();
    EXPECT_EQ(eph.toc, (EpochTime{2024, 5, 3, 1, 2, 3.0}));
    EXPECT_EQ(eph.prn, 5u);
    EXPECT_EQ(eph.system, 'G');
    EXPECT_EQ(eph.af0, 1.5e-4);
    EXPECT_EQ(eph.af1, -2.5e-11);
    EXPECT_EQ(eph.af2, 0.0);
    const double expected[] = {11, 12, 13, 14, 21, 22, 23, 24, 31, 32, 33, 34, 41, 42, 43, 44, 51};
    const double actual[] = {eph.iode, eph.crs, eph.delta_n, eph.m0,     eph.cuc, eph.e,   eph.cus,
                             eph.sqrt_a, eph.toe, eph.cic, eph.omega0, eph.cis, eph.i0,  eph.crc,
                             eph.omega, eph.omega_dot, eph.idot};
    for (std::size_t k = 0; k < std::size(expected); ++k) EXPECT_EQ(actual[k], expected[k]) << "field " << k;
    EXPECT_EQ(eph.week, 53);
}

TEST(NavReaderRecords, Version2YearsAndColumns) {
    struct Case {
        std::string number;
        std::string epoch;
        std::string key;
        EpochTime toc;
    };
    const Case cases[] = {
        {" 5", "99 12 31 23 59 44.0", "G05", {1999, 12, 31, 23, 59, 44.0}},
        {"12", "05  4  1  0  0  0.0", "G12", {2005, 4, 1, 0, 0, 0.0}},
        {"+7", "79  1  1  0  0 30.5", "G07", {2079, 1, 1, 0, 0, 30.5}},
        {" 1", "80  1  1  0  0  0.0", "G01", {1980, 1, 1, 0, 0, 0.0}},
    };
    for (const Case& c : cases) {
        const NavigationData nav = parse_ok(header("     2.11") + keplerian_v2(c.number, c.epoch));
        ASSERT_EQ(nav.gps.count(c.key), 1u) << c.key;
        const Ephemeris& eph = nav.gps.at(c.key).front();
        EXPECT_EQ(eph.toc, c.toc) << c.key;
        EXPECT_EQ(eph.system, 'G');
        EXPECT_EQ(eph.af0, 1.5e-4);
        EXPECT_EQ(eph.iode, 11.0);
        EXPECT_EQ(eph.sqrt_a, 24.0);
        EXPECT_EQ(eph.idot, 51.0);
        EXPECT_EQ(eph.week, 53);
    }
}

TEST(NavReaderRecords, SystemsAndKeys) {
    const std::string text = header("     3.04") + keplerian_v3("G05") + keplerian_v3("J01") + keplerian_v3("E11") +
                             keplerian_v3("C 7") + keplerian_v3("G05", "2024 05 03 02 00 00") + glonass_v3("R24", 3.0);
    const NavigationData nav = parse_ok(text);
    EXPECT_EQ(nav.gps.size(), 2u);  // G05 and J01
    ASSERT_EQ(nav.gps.count("G05"), 1u);
    ASSERT_EQ(nav.gps.at("G05").size(), 2u);  // stored twice, in file order
    EXPECT_EQ(nav.gps.at("G05")[0].toc.hour, 0u);
    EXPECT_EQ(nav.gps.at("G05")[1].toc.hour, 2u);
    ASSERT_EQ(nav.gps.count("J01"), 1u);
    EXPECT_EQ(nav.gps.at("J01").front().system, 'J');
    ASSERT_EQ(nav.galileo.count("E11"), 1u);
    EXPECT_EQ(nav.galileo.at("E11").front().system, 'E');
    ASSERT_EQ(nav.beidou.count("C07"), 1u);
    EXPECT_EQ(nav.beidou.at("C07").front().system, 'C');
    EXPECT_EQ(nav.glonass.count("R24"), 1u);
    EXPECT_TRUE(nav.has_data());
}

TEST(NavReaderRecords, Glonass) {
    const NavigationData nav = parse_ok(header("     3.04") + glonass_v3("R01", 0.0) + glonass_v3("R07", -7.0) +
                                        glonass_v3("R09", 2.0) + glonass_v3("R09", 4.0, "2024 05 03 00 45 00"));
    EXPECT_EQ(nav.glonass_freq.count("R01"), 0u);
    EXPECT_EQ(nav.glonass_freq.at("R07"), -7);
    EXPECT_EQ(nav.glonass_freq.at("R09"), 4);  // the later record overwrites
    ASSERT_EQ(nav.glonass.at("R09").size(), 2u);
    const GlonassEphemeris& eph = nav.glonass.at("R01").front();
    EXPECT_EQ(eph.toc, (EpochTime{2024, 5, 3, 0, 15, 0.0}));
    EXPECT_EQ(eph.prn, 1u);
    EXPECT_EQ(eph.freq_num, 0);
    EXPECT_EQ(eph.tau_n, -1.0e-4);
    EXPECT_EQ(eph.gamma_n, 1.0e-12);
    EXPECT_EQ(eph.tk, 3.42e5);
    EXPECT_EQ(eph.x, -23809.8 * 1000.0);
    EXPECT_EQ(eph.vx, 0.229 * 1000.0);
    EXPECT_EQ(eph.ax, -3.7e-9 * 1000.0);
    EXPECT_EQ(eph.y, -8908.9 * 1000.0);
    EXPECT_EQ(eph.vy, 0.253 * 1000.0);
    EXPECT_EQ(eph.z, 2209.4 * 1000.0);
    EXPECT_EQ(eph.vz, 3.556 * 1000.0);
    EXPECT_EQ(eph.az, -1.9e-9 * 1000.0);
}

TEST(NavReaderRecords, WeekAndChannelConversion) {
    struct Case {
        double written;
        std::int32_t expected;
    };
    const Case cases[] = {
        {2300.0, 2300}, {2300.9, 2300}, {-7.9, -7}, {1.0e12, std::numeric_limits<std::int32_t>::max()},
        {-1.0e12, std::numeric_limits<std::int32_t>::min()},
    };
    for (const Case& c : cases) {
        std::string text = header("     3.04") + line_at({{0, "G05"}, {4, "2024 05 03 00 00 00"}});
        text += orbit_lines(4, 4) + line_at({{4, field(0.0) + field(0.0) + field(c.written)}}) + orbit_lines(2, 4);
        text += glonass_v3("R02", c.written);
        const NavigationData nav = parse_ok(text);
        EXPECT_EQ(nav.gps.at("G05").front().week, c.expected) << c.written;
        EXPECT_EQ(nav.glonass.at("R02").front().freq_num, c.expected) << c.written;
    }
}

// Records that contribute nothing must not disturb the ones around them.
TEST(NavReaderRecords, PassedOverRecords) {
    const std::string sbas = line_at({{0, "S20"}, {4, "2024 05 03 00 00 00"}, {23, field(1.0)}}) +
                             line_at({{4, field(4.0e4)}}) + line_at({{4, field(1.0)}}) +
                             line_at({{4, field(2.0)}});
    const std::string irnss = line_at({{0, "I05"}, {4, "2024 05 03 00 00 00"}, {23, field(1.0)}}) +
                              orbit_lines(7, 4);
    struct Case {
        const char* name;
        std::string data;
        std::size_t records;
    };
    const Case cases[] = {
        {"SBAS and IRNSS between", keplerian_v3("G01") + sbas + irnss + keplerian_v3("E02") + sbas +
                                       glonass_v3("R03", 1.0) + irnss + keplerian_v3("C04"),
         4},
        {"blank lines between", keplerian_v3("G01") + "\n   \n\r\n" + keplerian_v3("G02"), 2},
        {"CRLF line ends", [] {
             std::string crlf;
             for (char c : keplerian_v3("G01") + glonass_v3("R02", -3.0)) {
                 if (c == '\n') crlf += '\r';
                 crlf += c;
             }
             return crlf;
         }(),
         2},
        // unreadable epoch: the record's 8 lines are consumed, the next record is read
        {"bad month", keplerian_v3("G01", "2024 0x 03 00 00 00") + keplerian_v3("G02"), 1},
        {"negative hour", keplerian_v3("G01", "2024 05 03 -1 00 00") + keplerian_v3("G02"), 1},
        {"bad second", keplerian_v3("G01", "2024 05 03 00 00 x0") + keplerian_v3("G02"), 1},
        {"negative year reads", keplerian_v3("G01", "-024 05 03 00 00 00"), 1},
        {"short first line", "G01 2024 05 03\n" + orbit_lines(7, 4) + keplerian_v3("G02"), 1},
        {"one-letter first line", "G\n" + orbit_lines(7, 4) + glonass_v3("R02", 1.0), 1},
        {"short GLONASS first line", "R05 2024\n" + orbit_lines(3, 4) + keplerian_v3("G02"), 1},
        // too close to the end: the first line alone is passed over and the walk goes on
        {"Keplerian cut off before GLONASS", keplerian_v3("G01").substr(0, 81) + glonass_v3("R02", 1.0), 1},
        {"Keplerian cut off at the end", keplerian_v3("G01") + keplerian_v3("G02").substr(0, 300), 1},
        {"GLONASS cut off at the end", glonass_v3("R01", 1.0) + glonass_v3("R02", 1.0).substr(0, 160), 1},
        {"continuation line alone", orbit_lines(1, 4) + keplerian_v3("G02"), 1},
    };
    for (const Case& c : cases) {
        const NavigationData nav = parse_ok(header("     3.04") + c.data);
        EXPECT_EQ(record_count(nav), c.records) << c.name;
    }
}

TEST(NavReaderRecords, Version2PassesNothingOver) {
    // Every non-empty line starts a record, so an unreadable record still takes its 8 lines.
    const std::string text = header("     2.11") + keplerian_v2(" 1", "24 13 40 25 61 99.0") +
                             keplerian_v2(" 2", "2x  5  3  0  0  0.0") + keplerian_v2(" 3") + "\n" +
                             keplerian_v2("4");
    const NavigationData nav = parse_ok(text);
    EXPECT_EQ(nav.gps.size(), 3u);
    // calendar values are stored as written
    EXPECT_EQ(nav.gps.at("G01").front().toc, (EpochTime{2024, 13, 40, 25, 61, 99.0}));
    EXPECT_EQ(nav.gps.count("G02"), 0u);
    EXPECT_EQ(nav.gps.count("G04"), 1u);
}

}  // namespace
}  // namespace vardoln

namespace vardoln {
namespace {

// A RINEX 2 GLONASS record: slot in columns 0-1, two-digit year, fields from column 22 on
// the first line and from column 3 on the orbit lines.
std::string glonass_v2(const std::string& slot, double channel) {
    return line_at({{0, slot}, {3, "24  5  3  0 15  0.0"}, {22, field(-1.0e-4, 'D') + field(1.0e-12, 'D') + field(3.42e5, 'D')}}) +
           line_at({{3, field(-23809.8, 'D') + field(0.229, 'D') + field(-3.7e-9, 'D') + field(0.0, 'D')}}) +
           line_at({{3, field(-8908.9, 'D') + field(0.253, 'D') + field(9.3e-10, 'D') + field(channel, 'D')}}) +
           line_at({{3, field(2209.4, 'D') + field(3.556, 'D') + field(-1.9e-9, 'D') + field(0.0, 'D')}});
}

std::string header_of_type(const std::string& version_and_type) {
    return header_line(version_and_type, "RINEX VERSION / TYPE") + header_line("", "END OF HEADER");
}

TEST(NavReaderRecords, Version2FileTypeSelectsTheSystem) {
    // A GLONASS navigation file holds 4-line state vectors, never GPS orbits.
    const NavigationData glonass =
        parse_ok(header_of_type("     2.11           G: GLONASS NAV DATA") + glonass_v2(" 3", -7.0) + glonass_v2("14", 0.0));
    EXPECT_TRUE(glonass.gps.empty());
    ASSERT_EQ(glonass.glonass.size(), 2u);
    const GlonassEphemeris& r03 = glonass.glonass.at("R03").front();
    EXPECT_EQ(r03.toc, (EpochTime{2024, 5, 3, 0, 15, 0.0}));
    EXPECT_EQ(r03.x, -23809.8 * 1000.0);
    EXPECT_EQ(r03.vy, 0.253 * 1000.0);
    EXPECT_EQ(r03.tk, 3.42e5);
    EXPECT_EQ(glonass.glonass_freq.at("R03"), -7);
    EXPECT_EQ(glonass.glonass_freq.count("R14"), 0u);

    // SBAS files give nothing; GPS files and files without a type letter are GPS orbits.
    EXPECT_FALSE(parse_ok(header_of_type("     2.11           H: GEO NAV MSG DATA") + keplerian_v2(" 1")).has_data());
    EXPECT_EQ(parse_ok(header_of_type("     2.11           N: GPS NAV DATA") + keplerian_v2(" 1")).gps.size(), 1u);
    EXPECT_EQ(parse_ok(header("     2.11") + keplerian_v2(" 1")).gps.size(), 1u);
}

}  // namespace
}  // namespace vardoln

namespace vardoln {
namespace {

// The GPS LNAV record of G01 at 00:00 and the CNAV record of G01 at 01:30, which is nearer to
// requests from 00:45 on: read with the LNAV layout, it would give G01 a toe of 542700 s (its
// t_op) there. Real records of BRD400DLR.
const char* const kLnav =
    "> EPH G01 LNAV\n"
    "G01 2023 03 12 00 00 00 2.037500962615e-04-3.865352482535e-12 0.000000000000e+00\n"
    "     5.900000000000e+01-6.681250000000e+01 3.651580674421e-09 2.337063183399e+00\n"
    "    -3.580003976822e-06 1.249682181515e-02 1.121312379837e-05 5.153656053543e+03\n"
    "     0.000000000000e+00-2.980232238770e-08-2.635778779840e+00-2.421438694000e-07\n"
    "     9.898042779154e-01 1.769375000000e+02 9.395220485102e-01-7.465310960167e-09\n"
    "    -2.000083311498e-11 1.000000000000e+00 2.253000000000e+03 0.000000000000e+00\n"
    "     2.000000000000e+00 0.000000000000e+00 4.656612873077e-09 5.900000000000e+01\n"
    "    -7.182000000000e+03 4.000000000000e+00\n"
    ;

const char* const kCnav =
    "> EPH G01 CNAV\n"
    "G01 2023 03 12 01 30 00 2.037292579189e-04-3.829825345747e-12 0.000000000000e+00\n"
    "     1.004886627197e-02-7.072656250000e+01 3.657473777035e-09 3.125034792323e+00\n"
    "    -3.700144588947e-06 1.249689736869e-02 1.198053359985e-05 5.153655571344e+03\n"
    "     5.427000000000e+05 3.539025783539e-08-2.635818870379e+00-1.955777406693e-07\n"
    "     9.898042815727e-01 1.578281250000e+02 9.391968103684e-01-7.430610178219e-09\n"
    "    -1.892935991239e-11-1.056170179553e-13-6.000000000000e+00 2.000000000000e+00\n"
    "    -1.000000000000e+00 1.000000000000e+00 4.656612873077e-09 7.000000000000e+00\n"
    "    -3.492459654808e-10-2.532033249736e-09 7.188646122813e-09 7.275957614183e-09\n"
    "     6.000000000000e+00 2.252000000000e+03\n"
    ;

std::string marked(const std::string& marker, const std::string& body) { return "> " + marker + "\n" + body; }

TEST(NavReaderRinex4, RecordsPassedOverLeaveTheGeometryUnchanged) {
    const std::string fdma = marked("EPH R01 FDMA", glonass_v3("R01", 1.0, "2023 03 12 01 15 00") +
                                                        line_at({{4, field(179.0) + field(8.4e-9) + field(2.0)}}));
    const std::string legacy = std::string(kLnav) + fdma;
    // Every kind of record the reader passes over, most of them with a first line that a
    // version 3 walk would take for a record of its own.
    const std::string skipped[] = {
        kCnav,
        marked("EPH J02 CNV2", keplerian_v3("J02", "2023 03 12 01 30 00") + orbit_lines(2, 4)),
        marked("EPH C19 CNV1", keplerian_v3("C19", "2023 03 12 01 30 00") + orbit_lines(2, 4)),
        marked("EPH C19 CNV2", keplerian_v3("C19", "2023 03 12 01 30 00") + orbit_lines(2, 4)),
        marked("EPH C19 CNV3", keplerian_v3("C19", "2023 03 12 01 30 00") + orbit_lines(1, 4)),
        marked("EPH S22 SBAS", line_at({{0, "S22"}, {4, "2023 03 12 01 30 16"}, {23, field(0.0)}}) + orbit_lines(3, 4)),
        marked("EPH I02 LNAV", keplerian_v3("I02", "2023 03 12 01 30 00")),
        marked("STO G23 LNAV", line_at({{4, "2023 03 12 01 30 00 GPUT"}, {62, "UTC(USNO)"}}) + orbit_lines(1, 4)),
        marked("EOP G27 CNVX", line_at({{4, "2023 03 12 01 30 00"}, {23, field(-0.04)}}) + orbit_lines(2, 4)),
        marked("ION E02 IFNV", line_at({{4, "2023 03 12 01 30 00"}, {23, field(160.75)}}) + orbit_lines(1, 4)),
        // unknown record kind and message type, a body of another system, a record cut short
        marked("XYZ G07 ABCD", keplerian_v3("G07", "2023 03 12 01 30 00")),
        marked("EPH E05 XNAV", keplerian_v3("E05", "2023 03 12 01 30 00")),
        marked("EPH G01 LNAV", keplerian_v3("E01", "2023 03 12 01 30 00")),
        marked("EPH G01 LNAV", keplerian_v3("G01", "2023 03 12 01 30 00").substr(0, 81 * 6)),
        marked("EPH R02 FDMA", glonass_v3("R02", 1.0, "2023 03 12 01 30 00").substr(0, 81 * 3)),
    };
    std::string everything = std::string(kLnav);
    for (const std::string& record : skipped) everything += record;
    everything += fdma;

    const NavigationData only_legacy = parse_ok(header("     4.00") + legacy);
    const NavigationData with_skipped = parse_ok(header("     4.00") + everything);
    ASSERT_EQ(record_count(only_legacy), 2u);
    EXPECT_EQ(record_count(with_skipped), 2u);
    EXPECT_EQ(with_skipped.gps.size(), 1u);
    EXPECT_EQ(with_skipped.gps.at("G01").front().toe, 0.0);
    EXPECT_EQ(with_skipped.glonass.at("R01").front().freq_num, 1);
    const auto comparison = test::compare_quarter_hours(with_skipped, only_legacy, {2023, 3, 12, 0, 0, 0.0});
    EXPECT_EQ(comparison.differences, 0u) << "first at " << comparison.first_difference;
    EXPECT_GT(comparison.positions, 0u);

    // The marker decides, not the version alone: a version 4 file without markers is read with
    // the version 3 layout, and in a file with markers the lines before the first belong to no
    // record.
    EXPECT_EQ(record_count(parse_ok(header("     4.00") + keplerian_v3("G05") + glonass_v3("R01", 1.0))), 2u);
    EXPECT_EQ(record_count(parse_ok(header("     4.00") + keplerian_v3("G05") + kLnav)), 1u);
    // A version 3 file takes its lines as always, markers or not.
    EXPECT_EQ(record_count(parse_ok(header("     3.05") + keplerian_v3("G05") + kCnav)), 2u);
}

}  // namespace
}  // namespace vardoln
