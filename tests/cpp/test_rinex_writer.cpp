// The RINEX 3.04 writers: real recordings read, written and read again give the same records;
// hand-built records give text whose columns are known.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <variant>
#include <vector>

#include "navigation/nav_data.hpp"
#include "navigation/nav_writer.hpp"
#include "rinex/ids.hpp"
#include "rinex/obs_data.hpp"
#include "rinex/obs_writer.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

RinexObsData parse_obs(std::string_view text, std::string_view name) {
    auto parsed = parse_observation_file(text, name);
    EXPECT_TRUE(std::holds_alternative<RinexObsData>(parsed)) << name;
    return std::holds_alternative<RinexObsData>(parsed) ? std::get<RinexObsData>(std::move(parsed)) : RinexObsData{};
}

RinexWriteSettings fixed_settings() {
    RinexWriteSettings settings;
    settings.run_by = "tests";
    settings.creation_date = "20240115 063000 UTC";
    return settings;
}

// A satellite's values by written code: (value, LLI, SSI).
using Values = std::map<std::string, std::tuple<double, int, int>>;

Values values_by_code(const RinexObsData& data, const SatelliteObservations& entry) {
    Values values;
    const char letter = satellite_letter(data.satellite_id(entry));
    for (const ObservationValue& value : data.values_of(entry)) {
        values[rinex3_output_code(letter, data.code_of(value), data.version)] = {
            value.value, value.lli ? *value.lli : -1, value.ssi ? *value.ssi : -1};
    }
    return values;
}

// Every epoch, satellite, value and indicator of `original` in `again`, values to the three
// decimals of the text.
void expect_same_records(const RinexObsData& original, const RinexObsData& again, std::size_t first_epoch,
                         std::string_view name) {
    ASSERT_LE(first_epoch + again.epochs.size(), original.epochs.size()) << name;
    for (std::size_t e = 0; e < again.epochs.size(); ++e) {
        const ObservationEpoch& a = original.epochs[first_epoch + e];
        const ObservationEpoch& b = again.epochs[e];
        ASSERT_EQ(a.time, b.time) << name << " epoch " << e;
        ASSERT_EQ(a.flag, b.flag) << name << " epoch " << e;
        ASSERT_EQ(a.satellite_count, b.satellite_count) << name << " epoch " << e;
        for (std::uint32_t s = 0; s < a.satellite_count; ++s) {
            const SatelliteObservations& sa = original.satellite_entries[a.first_satellite + s];
            const SatelliteObservations& sb = again.satellite_entries[b.first_satellite + s];
            ASSERT_EQ(original.satellite_id(sa), again.satellite_id(sb)) << name << " epoch " << e;
            const Values va = values_by_code(original, sa);
            const Values vb = values_by_code(again, sb);
            ASSERT_EQ(va.size(), vb.size()) << name << " " << original.satellite_id(sa) << " epoch " << e;
            for (const auto& [code, value] : va) {
                const auto found = vb.find(code);
                ASSERT_NE(found, vb.end()) << name << " " << code;
                EXPECT_NEAR(std::get<0>(value), std::get<0>(found->second), 5e-4) << name << " " << code;
                EXPECT_EQ(std::get<1>(value), std::get<1>(found->second)) << name << " " << code;
                EXPECT_EQ(std::get<2>(value), std::get<2>(found->second)) << name << " " << code;
            }
        }
    }
}

// RINEX 3, RINEX 2 and compact RINEX recordings among the bundled files.
constexpr const char* kObservationFiles[] = {
    "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx",
    "obs3/pdel0010.21o",
    "obs3/z_tracking.rnx",
    "obs3/sptu0150.16o",
    "obs3/SEPT265G.21O",
    "obs3/16dBatt_no_interference_coldstart.obs",
    "obs2/AJAC3550.21O",
    "obs2/delf0010.21o",
    "obs2/zegv0010.21o",
    "obs2/york0440.15o",
    "crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx",
    "crinex/eijs0010.21d",
    "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx",
    "edge/junk_time_obs3.10o",
    "edge/test_input_rinex2_obs_BadEpochFlag.06o",
    "edge/demo3.10o",
    "edge/KUNZ00CZE.crx",
};

TEST(RinexWriterRealFiles, ObservationsReadBackToTheSameRecords) {
    std::size_t tested = 0;
    for (const char* name : kObservationFiles) {
        const auto text = test::real_text(name);
        if (!text) continue;
        ++tested;
        const RinexObsData original = parse_obs(*text, name);
        ASSERT_FALSE(original.epochs.empty()) << name;
        const std::string written = write_rinex_observations(original, fixed_settings());
        const RinexObsData again = parse_obs(written, "again");

        EXPECT_EQ(again.version, 3.04) << name;
        EXPECT_EQ(again.epochs.size(), original.epochs.size()) << name;
        EXPECT_EQ(again.satellite_ids, original.satellite_ids) << name;
        EXPECT_EQ(again.marker_name, original.marker_name) << name;
        EXPECT_EQ(again.receiver_type, original.receiver_type) << name;
        EXPECT_EQ(again.antenna_type, original.antenna_type) << name;
        EXPECT_EQ(again.approx_position, original.approx_position) << name;
        EXPECT_NEAR(again.interval, original.interval, 5e-4) << name;
        EXPECT_EQ(again.glonass_slots, original.glonass_slots) << name;
        for (const ObsTypeList& list : original.obs_types) {
            std::vector<std::string> expected;
            for (const std::string& code : list.codes) {
                const std::string written_code = rinex3_output_code(list.system.front(), code, original.version);
                if (std::find(expected.begin(), expected.end(), written_code) == expected.end())
                    expected.push_back(written_code);
            }
            const auto* again_codes = again.obs_types_of(list.system);
            ASSERT_NE(again_codes, nullptr) << name << " " << list.system;
            EXPECT_EQ(*again_codes, expected) << name << " " << list.system;
        }
        expect_same_records(original, again, 0, name);
        // Written once more from what was read back, the text is the same to the byte.
        EXPECT_EQ(write_rinex_observations(again, fixed_settings()), written) << name;
    }
    EXPECT_GE(tested, 10u);
}

TEST(RinexWriterRealFiles, AnEpochRangeWritesThoseEpochsOnly) {
    const auto text = test::real_text("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx");
    if (!text) GTEST_SKIP() << "ACOR00ESP not present";
    const RinexObsData original = parse_obs(*text, "ACOR");
    RinexWriteSettings settings = fixed_settings();
    settings.first_epoch = 2;
    settings.last_epoch = 4;
    const std::string written = write_rinex_observations(original, settings);
    const RinexObsData part = parse_obs(written, "part");
    ASSERT_EQ(part.epochs.size(), 3u);
    expect_same_records(original, part, 2, "ACOR 2..4");
    // epoch 2 is 00:01:00
    EXPECT_NE(written.find("  2021    12    21     0     1    0.0000000     GPS         TIME OF FIRST OBS\n"),
              std::string::npos);

    settings.first_epoch = 1000;  // past the end: a header without epochs
    const RinexObsData none = parse_obs(write_rinex_observations(original, settings), "none");
    EXPECT_TRUE(none.epochs.empty());
    EXPECT_EQ(none.marker_name, original.marker_name);
}

// Records drawn at random (fixed seeds): any value of three decimals that F14.3 holds, any
// indicators, any codes missing, read back as they were.
RinexObsData random_record(std::uint32_t seed) {
    std::mt19937 random(seed);
    RinexObsData data;
    data.version = 3.04;
    data.marker_name = "RANDOM";
    data.obs_types = {{"G", {"C1C", "L1C", "S1C", "S2W"}}, {"R", {"C1C", "S1C"}}, {"E", {"S1X", "S5X", "S7X"}}};
    for (const ObsTypeList& list : data.obs_types)
        for (const std::string& code : list.codes)
            if (std::find(data.codes.begin(), data.codes.end(), code) == data.codes.end()) data.codes.push_back(code);
    const auto code_index = [&](const std::string& code) {
        return static_cast<std::uint32_t>(std::find(data.codes.begin(), data.codes.end(), code) - data.codes.begin());
    };
    std::uniform_int_distribution<std::int64_t> thousandths(-999'999'999'999, 9'999'999'999'999);
    std::uniform_int_distribution<int> digit(-1, 9);  // -1: blank
    std::uniform_int_distribution<int> coin(0, 1);
    const std::vector<std::string> candidates = {"G01", "G12", "R07", "E30", "G32", "R24", "E02"};
    for (std::uint32_t e = 0; e < 6; ++e) {
        ObservationEpoch epoch{EpochTime{2024, 1, 15, 6, e, 30.0 * coin(random)}, 0,
                               static_cast<std::uint32_t>(data.satellite_entries.size()), 0};
        for (const std::string& id : candidates) {
            if (coin(random) == 0) continue;
            const auto first_value = static_cast<std::uint32_t>(data.values.size());
            for (const std::string& code : *data.obs_types_of(std::string_view(id).substr(0, 1))) {
                if (coin(random) == 0) continue;
                std::int64_t n = thousandths(random);
                if (code.front() == 'S') n %= 100'000;  // dB-Hz values stay small
                if (n == 0) n = 1;
                const int lli = digit(random);
                const int ssi = digit(random);
                data.values.push_back(ObservationValue{
                    static_cast<double>(n) / 1000.0,
                    lli < 0 ? std::nullopt : std::optional<std::uint8_t>(static_cast<std::uint8_t>(lli)),
                    ssi < 0 ? std::nullopt : std::optional<std::uint8_t>(static_cast<std::uint8_t>(ssi)),
                    code_index(code)});
            }
            const auto count = static_cast<std::uint32_t>(data.values.size() - first_value);
            if (count == 0) continue;
            auto found = std::find(data.satellite_ids.begin(), data.satellite_ids.end(), id);
            if (found == data.satellite_ids.end()) found = data.satellite_ids.insert(found, id);
            data.satellite_entries.push_back(
                {static_cast<std::uint32_t>(found - data.satellite_ids.begin()), first_value, count});
            ++epoch.satellite_count;
        }
        if (epoch.satellite_count > 0) data.epochs.push_back(epoch);
    }
    return data;
}

TEST(RinexWriterProperty, RandomRecordsReadBackExactly) {
    for (std::uint32_t seed = 1; seed <= 50; ++seed) {
        const RinexObsData original = random_record(seed);
        const std::string written = write_rinex_observations(original, fixed_settings());
        const RinexObsData again = parse_obs(written, "random");
        ASSERT_EQ(again.epochs.size(), original.epochs.size()) << "seed " << seed;
        EXPECT_EQ(again.satellite_ids, original.satellite_ids) << "seed " << seed;
        expect_same_records(original, again, 0, "seed " + std::to_string(seed));
        // Three decimals in, three decimals out: the values are the same doubles.
        for (std::size_t i = 0; i < original.values.size() && i < again.values.size(); ++i)
            ASSERT_EQ(original.values[i].value, again.values[i].value) << "seed " << seed << " value " << i;
    }
}

// A record built by hand, its text known column by column.
RinexObsData hand_built_rinex2_record() {
    RinexObsData data;
    data.version = 2.11;
    data.marker_name = "HAND";
    data.interval = 30.0;
    data.obs_types = {{"G", {"C1", "S1", "S7"}}, {"C", {"C1", "S1"}}};
    data.codes = {"C1", "S1", "S7"};
    data.satellite_ids = {"G05", "X01", "C12"};
    data.glonass_slots = {{"1", 1}, {"2", -4}};
    data.epochs.push_back(ObservationEpoch{EpochTime{2021, 1, 2, 3, 4, 5.5}, 0, 0, 3});
    data.satellite_entries = {{0, 0, 3}, {1, 3, 1}, {2, 4, 2}};
    data.values = {
        {23456789.123, 1, 7, 0},  // C1 with both indicators
        {0.0001, std::nullopt, std::nullopt, 2},  // S7, below the three decimals; S1 missing
        {1.5e12, std::nullopt, 4, 1},  // S1 too wide for F14.3, even without decimals
        {45.25, std::nullopt, std::nullopt, 0},  // X01: no constellation letter, not written
        {21000000.5, std::nullopt, std::nullopt, 0},  // C12 C1: BeiDou B1I of RINEX 2
        {38.0, std::nullopt, 5, 1},
    };
    return data;
}

TEST(RinexWriterColumns, FieldsSitInTheirColumns) {
    const RinexObsData data = hand_built_rinex2_record();
    const std::string text = write_rinex_observations(data, fixed_settings());
    EXPECT_NE(text.find("     3.04           OBSERVATION DATA    M                   RINEX VERSION / TYPE\n"),
              std::string::npos);
    EXPECT_NE(text.find("vardoln-cn0         tests               20240115 063000 UTC PGM / RUN BY / DATE\n"),
              std::string::npos);
    EXPECT_NE(text.find("G    3 C1C S1C S7Q                                          SYS / # / OBS TYPES\n"),
              std::string::npos);
    EXPECT_NE(text.find("C    2 C2I S2I                                              SYS / # / OBS TYPES\n"),
              std::string::npos);
    EXPECT_NE(text.find("    30.000                                                  INTERVAL\n"), std::string::npos);
    EXPECT_NE(text.find("  2 R01  1 R02 -4                                           GLONASS SLOT / FRQ #\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("> 2021 01 02 03 04  5.5000000  0  2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("G05  23456789.12317 1.5000000e+12 4 1.0000000e-04\n"), std::string::npos) << text;
    EXPECT_NE(text.find("C12  21000000.500          38.000 5\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("X01"), std::string::npos);
    EXPECT_NE(text.find("  2021     1     2     3     4    5.5000000     GPS         TIME OF FIRST OBS\n"),
              std::string::npos);
    // The record does not know its time system: the caller may say it; one constellation alone
    // gives its own.
    RinexWriteSettings glonass_time = fixed_settings();
    glonass_time.time_system = "GLO";
    EXPECT_NE(write_rinex_observations(data, glonass_time).find("5.5000000     GLO         TIME OF FIRST OBS\n"),
              std::string::npos);
    RinexObsData beidou_only = data;
    beidou_only.satellite_entries[0].satellite = 2;  // G05's values under C12: only BeiDou is written
    EXPECT_NE(write_rinex_observations(beidou_only, fixed_settings()).find("     BDT         TIME OF FIRST OBS\n"),
              std::string::npos);

    const RinexObsData again = parse_obs(text, "hand");
    ASSERT_EQ(again.epochs.size(), 1u);
    EXPECT_EQ(again.satellite_ids, (std::vector<std::string>{"G05", "C12"}));
    const Values g05 = values_by_code(again, again.satellite_entries[0]);
    EXPECT_EQ(g05.at("C1C"), std::make_tuple(23456789.123, 1, 7));
    EXPECT_EQ(g05.at("S1C"), std::make_tuple(1.5e12, -1, 4));
    EXPECT_EQ(g05.at("S7Q"), std::make_tuple(0.0001, -1, -1));
    const Values c12 = values_by_code(again, again.satellite_entries[1]);
    // A value one digit too wide for F14.3 gives up decimals, not digits.
    RinexObsData wide = data;
    wide.values[0].value = -7065523342.399;
    const std::string wide_text = write_rinex_observations(wide, fixed_settings());
    EXPECT_NE(wide_text.find("G05 -7065523342.417"), std::string::npos) << wide_text;
    EXPECT_EQ(c12.at("C2I"), std::make_tuple(21000000.5, -1, -1));
    EXPECT_EQ(c12.at("S2I"), std::make_tuple(38.0, -1, 5));
}

// Values no file would hold still give lines with their labels at column 60 and fields where
// the reader looks for them.
TEST(RinexWriterColumns, ExtremeValuesKeepTheLayout) {
    RinexObsData data = hand_built_rinex2_record();
    data.marker_name = "TWO\nLINES\r";
    data.approx_position = std::array<double, 3>{1e20, -1e300, 0.5};
    data.interval = 1e-9;
    data.glonass_slots = {{"999", -1000}, {"x", 1}};
    data.values[0].value = std::numeric_limits<double>::quiet_NaN();
    data.values[1].value = -std::numeric_limits<double>::infinity();
    data.values[2].value = -1e300;
    const std::string text = write_rinex_observations(data, fixed_settings());
    const std::string_view header(text.data(), text.find("END OF HEADER\n"));
    std::size_t lines = 0;
    for (std::size_t begin = 0; begin < header.size(); ++lines) {
        const std::size_t end = header.find('\n', begin);
        if (end == std::string_view::npos) break;
        EXPECT_LE(end - begin, 80u) << header.substr(begin, end - begin);
        EXPECT_NE(header[begin + 60], ' ') << header.substr(begin, end - begin);  // a label starts there
        begin = end + 1;
    }
    EXPECT_GE(lines, 10u);
    const RinexObsData again = parse_obs(text, "extreme");
    EXPECT_EQ(again.marker_name, "TWO LINES");
    ASSERT_EQ(again.epochs.size(), 1u);
    const Values g05 = values_by_code(again, again.satellite_entries[0]);
    EXPECT_TRUE(std::isnan(std::get<0>(g05.at("C1C"))));
    EXPECT_EQ(std::get<0>(g05.at("S7Q")), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(std::get<0>(g05.at("S1C")), -1e300);
}

TEST(RinexWriterColumns, CodesTakeTheirThreeLetterNames) {
    struct Case {
        char letter;
        std::string_view code;
        double version;
        std::string_view written;
    };
    for (const Case& c : std::initializer_list<Case>{
             {'G', "P2", 2.11, "C2P"}, {'G', "D1", 2.11, "D1C"}, {'E', "S7", 2.11, "S7Q"}, {'G', "S1C", 3.04, "S1C"},
             {'C', "S1I", 3.02, "S2I"}, {'C', "C1X", 3.02, "C2X"}, {'C', "S1P", 3.04, "S1P"}, {'C', "C1", 2.11, "C2I"},
             {'G', "S", 3.04, ""}, {'G', "S1CX", 3.04, ""}}) {
        EXPECT_EQ(rinex3_output_code(c.letter, c.code, c.version), c.written) << c.code << " " << c.version;
    }
}

// --- navigation

NavigationData parse_nav(std::string_view text, std::string_view name) {
    auto parsed = parse_navigation(text);
    EXPECT_TRUE(std::holds_alternative<NavigationData>(parsed)) << name;
    return std::holds_alternative<NavigationData>(parsed) ? std::get<NavigationData>(std::move(parsed))
                                                          : NavigationData{};
}

void expect_close(double a, double b, std::string_view what) {
    EXPECT_LE(std::abs(a - b), 1e-12 * std::abs(a)) << what << ": " << a << " vs " << b;
}

void expect_same_time(const EpochTime& a, const EpochTime& b, std::string_view what) {
    EXPECT_EQ(a, b) << what;
}

template <typename Record, typename Compare>
void expect_same_map(const std::map<std::string, std::vector<Record>, std::less<>>& a,
                     const std::map<std::string, std::vector<Record>, std::less<>>& b, Compare&& compare,
                     std::string_view name) {
    ASSERT_EQ(a.size(), b.size()) << name;
    for (const auto& [key, records] : a) {
        const auto found = b.find(key);
        ASSERT_NE(found, b.end()) << name << " " << key;
        ASSERT_EQ(records.size(), found->second.size()) << name << " " << key;
        for (std::size_t i = 0; i < records.size(); ++i)
            compare(records[i], found->second[i], std::string(name) + " " + key);
    }
}

void compare_keplerian(const Ephemeris& a, const Ephemeris& b, const std::string& what) {
    expect_same_time(a.toc, b.toc, what);
    EXPECT_EQ(a.prn, b.prn) << what;
    EXPECT_EQ(a.week, b.week) << what;
    EXPECT_EQ(a.system, b.system) << what;
    const double fa[] = {a.af0, a.af1, a.af2, a.iode, a.crs, a.delta_n, a.m0, a.cuc, a.e, a.cus, a.sqrt_a,
                         a.toe, a.cic, a.omega0, a.cis, a.i0, a.crc, a.omega, a.omega_dot, a.idot};
    const double fb[] = {b.af0, b.af1, b.af2, b.iode, b.crs, b.delta_n, b.m0, b.cuc, b.e, b.cus, b.sqrt_a,
                         b.toe, b.cic, b.omega0, b.cis, b.i0, b.crc, b.omega, b.omega_dot, b.idot};
    for (std::size_t i = 0; i < std::size(fa); ++i) expect_close(fa[i], fb[i], what + " field " + std::to_string(i));
}

void compare_glonass(const GlonassEphemeris& a, const GlonassEphemeris& b, const std::string& what) {
    expect_same_time(a.toc, b.toc, what);
    EXPECT_EQ(a.prn, b.prn) << what;
    EXPECT_EQ(a.freq_num, b.freq_num) << what;
    const double fa[] = {a.tau_n, a.gamma_n, a.tk, a.x, a.vx, a.ax, a.y, a.vy, a.ay, a.z, a.vz, a.az};
    const double fb[] = {b.tau_n, b.gamma_n, b.tk, b.x, b.vx, b.ax, b.y, b.vy, b.ay, b.z, b.vz, b.az};
    for (std::size_t i = 0; i < std::size(fa); ++i) expect_close(fa[i], fb[i], what + " field " + std::to_string(i));
}

constexpr const char* kNavigationFiles[] = {
    "nav/arlm2000.15n",  // RINEX 2 GPS
    "nav/cbw10010.21n",
    "nav/amel0010.21g",  // RINEX 2 GLONASS
    "nav/dlf10010.21g",
    "nav/ceda2100.18e",  // RINEX 2.12 Galileo
    "nav/30340780.21q",  // QZSS
    "nav/BRDC00GOP_R_20210010000_01D_MN.rnx",
    "nav/KMS300DNK_R_20221591000_01H_MN.rnx",
    "nav/NYA100NOR_S_20241240000_01D_CN.rnx",
    "nav/ESBC00DNK_R_20201770000_01D_MN.rnx",
    "nav/SEPT078M.21P",
    "nav/BRD400DLR_S_20230710000_01D_MN.rnx",  // RINEX 4
};

TEST(RinexWriterRealFiles, NavigationReadsBackToTheSameRecords) {
    std::size_t tested = 0;
    for (const char* name : kNavigationFiles) {
        const auto text = test::real_bytes(name);
        if (!text) continue;
        ++tested;
        const NavigationData original = parse_nav(*text, name);
        ASSERT_TRUE(original.has_data()) << name;
        const std::string written = write_rinex_navigation(original, fixed_settings());
        const NavigationData again = parse_nav(written, "again");
        expect_same_map(original.gps, again.gps, compare_keplerian, name);
        expect_same_map(original.galileo, again.galileo, compare_keplerian, name);
        expect_same_map(original.beidou, again.beidou, compare_keplerian, name);
        expect_same_map(original.glonass, again.glonass, compare_glonass, name);
        EXPECT_EQ(original.glonass_freq, again.glonass_freq) << name;
        EXPECT_EQ(write_rinex_navigation(again, fixed_settings()), written) << name;
    }
    EXPECT_GE(tested, 8u);
}

TEST(RinexWriterColumns, NavigationFieldsAreNineteenColumns) {
    struct Case {
        double value;
        std::string_view text;
    };
    for (const Case& c : std::initializer_list<Case>{{1234.5, " 1.234500000000E+03"},
                                                     {-1.0e-9, "-1.000000000000E-09"},
                                                     {0.0, " 0.000000000000E+00"},
                                                     {-2.5e-300, "-2.50000000000E-300"}}) {
        std::string out;
        append_nav_field(out, c.value);
        EXPECT_EQ(out, c.text);
    }
    NavigationData nav;
    GlonassEphemeris glo;
    glo.toc = EpochTime{2021, 1, 1, 0, 15, 0.0};
    glo.prn = 3;
    glo.x = 1234567.0;  // metres in memory, km in the text
    glo.freq_num = -4;
    nav.glonass["R03"].push_back(glo);
    const std::string text = write_rinex_navigation(nav, fixed_settings());
    EXPECT_NE(text.find("R03 2021 01 01 00 15 00 0.000000000000E+00 0.000000000000E+00 0.000000000000E+00\n"
                        "     1.234567000000E+03 0.000000000000E+00 0.000000000000E+00 0.000000000000E+00\n"
                        "     0.000000000000E+00 0.000000000000E+00 0.000000000000E+00-4.000000000000E+00\n"),
              std::string::npos)
        << text;
}

}  // namespace
}  // namespace vardoln
